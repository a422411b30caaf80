#include "projectinspection.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace Tidepool::Internal {

QString findProjectFile(const QString &folder)
{
    const QStringList projectFiles =
        QDir(folder).entryList({QStringLiteral("*.pro"), QStringLiteral("CMakeLists.txt")},
                               QDir::Files | QDir::Readable, QDir::Time);
    return projectFiles.value(0);
}

QString findFileContaining(const QString &root, const QString &nameFilter, const QString &text)
{
    const QByteArray needle = text.toLatin1();
    QDirIterator it(root, {nameFilter}, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        // Examples carry sources, not data: a large file is an asset, and reading it whole
        // would stall the GUI thread for nothing.
        if (info.size() > maxContentSearchFileSize)
            continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        if (!file.readAll().contains(needle))
            continue;
        const QString path = info.absoluteFilePath();
        // Strip the root as a prefix only: its text may well occur again further down.
        return path.startsWith(root) ? path.mid(root.size()) : path;
    }
    return {};
}

QString findFileToOpen(const QString &folder)
{
    const QString root = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QString result =
        findFileContaining(root, QStringLiteral("*.qml"), QStringLiteral("ApplicationWindow"));
    if (result.isNull())
        result = findFileContaining(root, QStringLiteral("*"), QStringLiteral(" main("));
    if (result.isNull())
        result = findProjectFile(root);
    return result;
}

QString findIcon(const QString &folder)
{
    const QString sizeFolder = QStringLiteral("%1x%1").arg(128);
    QDirIterator it(folder, {QStringLiteral("icons")}, QDir::Dirs | QDir::Readable,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString candidate = it.next() + QDir::separator() + sizeFolder;
        const QFileInfoList images =
            QDir(candidate).entryInfoList({QStringLiteral("*.png"), QStringLiteral("*.jpeg"),
                                           QStringLiteral("*.jpg"), QStringLiteral("*.bmp")},
                                          QDir::Files | QDir::Readable, QDir::Size);
        if (!images.isEmpty())
            return images.first().canonicalFilePath();
    }
    return QStringLiteral("dummy.png");
}

} // namespace Tidepool::Internal
