#include "examplecatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>

namespace Shell {

static QString tr(const char *text)
{
    return QCoreApplication::translate("Shell::ExampleCatalog", text);
}

QList<ExampleSet> ExampleCatalog::parseSets(const QStringList &entries)
{
    QList<ExampleSet> sets;
    QSet<QString> seen;
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('|'));
        if (parts.size() < 3)
            continue;
        const QFileInfo manifestDir(parts.at(1));
        if (!manifestDir.isDir() || !manifestDir.isReadable())
            continue;
        const QString key = QDir::cleanPath(parts.at(1)) + QLatin1Char('\n')
                            + QDir::cleanPath(parts.at(2));
        if (seen.contains(key))
            continue;
        seen.insert(key);
        sets.append({parts.at(0), parts.at(1), parts.at(2)});
    }
    return sets;
}

static QStringList splitList(const QString &text)
{
    QStringList result;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = part.trimmed();
        if (!trimmed.isEmpty())
            result.append(trimmed);
    }
    return result;
}

static QString withoutInlineTags(QString text)
{
    for (const char *tag : {"<i>", "</i>", "<tt>", "</tt>"})
        text.remove(QLatin1String(tag));
    return text;
}

QString ExampleCatalog::resolvePath(const QString &path, const QString &manifestDir,
                                    const QString &examplesPath)
{
    if (path.isEmpty())
        return {};
    if (QDir::isAbsolutePath(path)) {
        // Generated manifests write the file to open as a path below the example folder with a
        // leading separator; prefer that reading when such a file exists.
        const QString below = QDir::cleanPath(manifestDir + path);
        if (QFileInfo::exists(below))
            return below;
        return QDir::cleanPath(path);
    }
    const QString inManifestDir = QDir(manifestDir).absoluteFilePath(path);
    if (QFileInfo::exists(inManifestDir))
        return QDir::cleanPath(inManifestDir);
    return QDir::cleanPath(QDir(examplesPath).absoluteFilePath(path));
}

QString ExampleCatalog::brokenReason(const ExampleItem &item)
{
    if (item.projectPath.isEmpty())
        return tr("No project file.");
    if (!QFileInfo::exists(item.projectPath))
        return tr("The project file does not exist.");
    if (item.imageUrl.isEmpty())
        return tr("No image.");
    if (!QUrl(item.imageUrl).isValid() || item.imageUrl.startsWith(QLatin1String("qthelp:////")))
        return tr("The image address is not valid.");
    if (!item.docUrl.isEmpty() && !QUrl(item.docUrl).isValid())
        return tr("The documentation address is not valid.");
    return {};
}

static void readItem(QXmlStreamReader &reader, ExampleItem &item, const QString &manifestDir,
                     const QString &examplesPath)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    item.name = attributes.value(QLatin1String("name")).toString();
    item.projectPath = ExampleCatalog::resolvePath(
        attributes.value(QLatin1String("projectPath")).toString(), manifestDir, examplesPath);
    item.imageUrl = attributes.value(QLatin1String("imageUrl")).toString();
    item.docUrl = attributes.value(QLatin1String("docUrl")).toString();
    item.isHighlighted = attributes.value(QLatin1String("isHighlighted")) == QLatin1String("true");

    QStringList mainFiles;
    while (reader.readNextStartElement()) {
        const auto child = reader.name();
        if (child == QLatin1String("description")) {
            item.description = withoutInlineTags(
                reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
        } else if (child == QLatin1String("tags")) {
            item.tags = splitList(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (child == QLatin1String("platforms")) {
            item.platforms = splitList(reader.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (child == QLatin1String("fileToOpen")) {
            const bool isMain = reader.attributes().value(QLatin1String("mainFile"))
                                == QLatin1String("true");
            const QString file = ExampleCatalog::resolvePath(
                reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed(),
                manifestDir, examplesPath);
            if (!file.isEmpty())
                (isMain ? mainFiles : item.filesToOpen).append(file);
        } else {
            reader.skipCurrentElement();
        }
    }
    item.filesToOpen.append(mainFiles);
}

QList<ExampleItem> ExampleCatalog::parseManifest(const QString &manifestFile,
                                                 const QString &examplesPath, QString *error)
{
    QFile file(manifestFile);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("Cannot open %1.").arg(QDir::toNativeSeparators(manifestFile));
        return {};
    }
    const QString manifestDir = QFileInfo(manifestFile).absolutePath();
    const bool demos = QFileInfo(manifestFile).fileName() == QLatin1String("demos-manifest.xml");

    QList<ExampleItem> items;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const bool isExample = reader.name() == QLatin1String("example");
        const bool isDemo = reader.name() == QLatin1String("demo");
        if (!isExample && !isDemo)
            continue;
        ExampleItem item;
        item.manifestFile = QFileInfo(manifestFile).absoluteFilePath();
        item.isDemo = isDemo || demos;
        readItem(reader, item, manifestDir, examplesPath);
        item.brokenReason = brokenReason(item);
        items.append(item);
    }
    if (reader.hasError()) {
        if (error) {
            *error = tr("%1:%2: %3")
                         .arg(QDir::toNativeSeparators(manifestFile))
                         .arg(reader.lineNumber())
                         .arg(reader.errorString());
        }
        return {};
    }
    return items;
}

QList<ExampleItem> ExampleCatalog::scan(const ExampleSet &set, QStringList *errors)
{
    QList<ExampleItem> items;
    const QDir root(set.manifestPath);
    const QStringList subFolders = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : subFolders) {
        for (const char *name : {"examples-manifest.xml", "demos-manifest.xml"}) {
            const QString manifest = root.filePath(folder + QLatin1Char('/') + QLatin1String(name));
            if (!QFileInfo::exists(manifest))
                continue;
            QString error;
            const QList<ExampleItem> found = parseManifest(manifest, set.examplesPath, &error);
            if (!error.isEmpty() && errors)
                errors->append(error);
            items.append(found);
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const ExampleItem &a, const ExampleItem &b) {
        if (a.isHighlighted != b.isHighlighted)
            return a.isHighlighted;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return items;
}

} // namespace Shell
