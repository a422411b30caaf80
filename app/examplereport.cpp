#include "examplereport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Shell {

static QString relativeTo(const QString &folder, const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return path;
    const QString relative = QDir(folder).relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? QDir::toNativeSeparators(path)
                                                    : QDir::toNativeSeparators(relative);
}

QList<ExampleReport::Row> ExampleReport::collect(const QList<ExampleSet> &sets,
                                                 const QDateTime &runStart, int *hiddenCount,
                                                 QStringList *errors)
{
    QList<Row> rows;
    int hidden = 0;
    for (const ExampleSet &set : sets) {
        for (const ExampleItem &item : ExampleCatalog::scan(set, errors)) {
            if (!item.isVisible()) {
                ++hidden;
                continue;
            }
            Row row;
            row.set = set.displayName;
            row.name = item.name;
            row.projectFile = relativeTo(set.examplesPath, item.projectPath);
            row.image = relativeTo(set.examplesPath, item.imageUrl);
            row.tags = item.tags.join(QLatin1Char(','));
            row.updated = runStart.isValid()
                          && QFileInfo(item.manifestFile).lastModified() >= runStart;
            rows.append(row);
        }
    }
    if (hiddenCount)
        *hiddenCount = hidden;
    return rows;
}

QString ExampleReport::table(const QList<Row> &rows)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("Shell::ExampleReport", text);
    };
    QList<QStringList> lines{{tr("SET"), tr("NAME"), tr("PROJECT FILE"), tr("IMAGE"), tr("TAGS"),
                              tr("STATE")}};
    for (const Row &row : rows) {
        lines.append({row.set, row.name, row.projectFile, row.image,
                      row.tags.isEmpty() ? QStringLiteral("-") : row.tags,
                      row.updated ? tr("updated") : tr("unchanged")});
    }
    QList<qsizetype> widths(lines.first().size(), 0);
    for (const QStringList &line : std::as_const(lines)) {
        for (qsizetype column = 0; column < line.size(); ++column)
            widths[column] = qMax(widths[column], line.at(column).size());
    }
    QString text;
    for (const QStringList &line : std::as_const(lines)) {
        QString out;
        for (qsizetype column = 0; column < line.size(); ++column) {
            if (column + 1 == line.size())
                out += line.at(column);
            else
                out += line.at(column).leftJustified(widths.at(column) + 2);
        }
        text += out + QLatin1Char('\n');
    }
    return text;
}

} // namespace Shell
