#include "installationfolders.h"

#include "downloadservice.h"
#include "folderremoval.h"
#include "localchanges.h"
#include "manifestwriter.h"

#include "plugin/logging.h"
#include "plugin/settings.h"

#include <coreplugin/icore.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

namespace Tidepool::Internal::Installation {

QString examplePath(const QString &repositoryName, const QString &folderName)
{
    // Both placeholders in one pass, so that a "%2" inside a repository name stays text.
    return examplePathTemplate.arg(repositoryName, folderName);
}

QString pathOf(const Repository::ExamplePtr &example)
{
    return example->json().value(QLatin1String("path")).toString();
}

QString nameOf(const Repository::ExamplePtr &example)
{
    return example->json().value(QLatin1String("name")).toString();
}

QString classNameOf(const QObject *object)
{
    return object ? QString::fromLatin1(object->metaObject()->className())
                  : QStringLiteral("(no sender)");
}

// The examples of a repository whose installation was asked for and has not ended yet, one path
// a line, in a hidden file of the repository folder. It outlives a crash of the IDE: the next
// start picks the installations up again, although the day's check is already recorded.
constexpr char pendingFileName[] = ".tidepool-pending";

// Where a downloaded archive waits to be unpacked, and where it is unpacked to before the copy
// goes into place: a hidden folder of the repository folder that only the service writes to, so
// that nothing of the user's is ever taken for a leftover (and no scan lists what lies in it).
// An archive is "<path>-XXXXXX.tar.gz", the folder it unpacks to "<path>-XXXXXX".
constexpr char workFolderName[] = ".tidepool-work";
const QString temporaryArchiveSuffix = QStringLiteral(".tar.gz");

QString workFolder(const QString &repositoryName)
{
    return examplePath(repositoryName, QLatin1String(workFolderName));
}

// Gone once the last job has cleaned up after itself; a job still running keeps it.
void removeWorkFolderIfEmpty(const QString &repositoryName)
{
    QDir().rmdir(workFolder(repositoryName));
}

// A downloaded archive that is done with, and its folder if it was the last one there.
void removeArchive(const QString &file)
{
    if (file.isEmpty())
        return;
    QFile::remove(file);
    const QFileInfo info(file);
    if (info.dir().dirName() == QLatin1String(workFolderName))
        QDir().rmdir(info.path());
}

QString pendingFile(const QString &repositoryName)
{
    return examplePath(repositoryName, QLatin1String(pendingFileName));
}

QSet<QString> readPending(const QString &repositoryName)
{
    QFile file(pendingFile(repositoryName));
    QSet<QString> paths;
    if (!file.open(QIODevice::ReadOnly))
        return paths;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString path = QString::fromUtf8(line);
        if (isSafeFolderName(path))
            paths.insert(path);
    }
    return paths;
}

void writePending(const QString &repositoryName, const QSet<QString> &paths)
{
    if (paths.isEmpty()) {
        QFile::remove(pendingFile(repositoryName));
        return;
    }
    QDir().mkpath(examplePath(repositoryName, QString()));
    QStringList lines(paths.cbegin(), paths.cend());
    lines.sort();
    replaceFile(pendingFile(repositoryName), lines.join(QLatin1Char('\n')).toUtf8() + '\n');
}

void addPending(const QString &repositoryName, const QSet<QString> &paths)
{
    const QSet<QString> pending = readPending(repositoryName);
    if (!(paths - pending).isEmpty())
        writePending(repositoryName, pending | paths);
}

bool hasManifest(const QString &folder)
{
    return QFileInfo::exists(folder + QDir::separator() + QLatin1String(manifestFileName));
}

QString repositoryFolder(const QString &repositoryName)
{
    return QDir::cleanPath(examplePath(repositoryName, QString()));
}

// An installed copy that holds the user's work waits under this name while its successor is
// registered; unlike ".<path>.previous" it is never deleted, only moved on to its kept folder.
QString keptAsideName(const QString &path)
{
    return QStringLiteral(".%1.kept").arg(path);
}

// Moves the installed copy set aside at aside to a kept folder of its own; that folder, or empty
// when it could not be moved (it then stays where it is, and the next start tries again).
QString moveToKeptFolder(const QString &repositoryName, const QString &path, const QString &aside)
{
    const QString kept =
        keptChangesFolder(repositoryFolder(repositoryName), path, QDateTime::currentDateTime());
    if (!QDir().mkpath(QFileInfo(kept).path()) || !QDir().rename(aside, kept)) {
        qCDebug(serviceLog) << "Unable to move" << aside << "to" << kept;
        return {};
    }
    qCDebug(serviceLog) << "Kept the user's copy of" << path << "in" << kept;
    return kept;
}

// What an installation cut short by a crash left in the repository folder: an installed copy
// moved aside is put back unless its successor was registered, and the downloads and unpacked
// copies of pending examples go.
void recoverInterruptedInstallations(const QString &repositoryName)
{
    const QDir folder(examplePath(repositoryName, QString()));
    const QStringList hidden = folder.entryList({QStringLiteral(".*.previous")},
                                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &previous : hidden) {
        const QString path = previous.mid(1, previous.size() - int(sizeof(".previous")));
        const QString current = examplePath(repositoryName, path);
        if (!isSafeFolderName(path) || hasManifest(current)) {
            removeFolder(examplePath(repositoryName, previous));
            continue;
        }
        removeFolder(current);
        QDir().rename(examplePath(repositoryName, previous), current);
    }

    // A copy with the user's work goes on to its kept folder once its successor is registered,
    // and back into place otherwise; it is never deleted.
    const QStringList kept = folder.entryList({QStringLiteral(".*.kept")},
                                              QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &aside : kept) {
        const QString path = aside.mid(1, aside.size() - int(sizeof(".kept")));
        const QString current = examplePath(repositoryName, path);
        if (!isSafeFolderName(path))
            continue;
        if (hasManifest(current)) {
            moveToKeptFolder(repositoryName, path, examplePath(repositoryName, aside));
            continue;
        }
        removeFolder(current);
        QDir().rename(examplePath(repositoryName, aside), current);
    }

    // Records of examples that are gone (removed on the options page, or never installed).
    const QDir records(installationRecordFolder(repositoryFolder(repositoryName)));
    const QStringList recordFiles = records.entryList({QStringLiteral("*.json")}, QDir::Files);
    for (const QString &record : recordFiles) {
        const QString path = record.chopped(int(sizeof(".json")) - 1);
        if (!QFileInfo(examplePath(repositoryName, path)).isDir())
            QFile::remove(records.filePath(record));
    }
    records.rmdir(records.path());

    const QSet<QString> pending = readPending(repositoryName);
    const QDir work(workFolder(repositoryName));
    const QStringList leftovers =
        work.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &path : pending) {
        // Only those of pending examples: another IDE sharing the data folder may be installing
        // something else right now.
        const QRegularExpression leftover(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(path) + QStringLiteral("-.{6}(")
            + QRegularExpression::escape(temporaryArchiveSuffix) + QStringLiteral(")?")));
        for (const QString &entry : leftovers) {
            if (leftover.match(entry).hasMatch()) {
                qCDebug(serviceLog) << "Removing interrupted installation:" << work.filePath(entry);
                removeFolder(work.filePath(entry));
            }
        }
    }
    removeWorkFolderIfEmpty(repositoryName);
}

// Deletes an example's folder that is done with, in the background: first it moves into the
// service's own folder under a name of its own ("<path>-XXXXXX", which the recovery of a pending
// example deletes), so that no next installation takes it for what it was. Deleting a whole
// example can keep the disk busy for a good part of a second.
void discardFolder(const QString &repositoryName, const QString &path, const QString &folder)
{
    const QString work = workFolder(repositoryName);
    QDir().mkpath(work);
    QString trash;
    {
        const QTemporaryDir reserved(work + QDir::separator() + path + QStringLiteral("-XXXXXX"));
        if (reserved.isValid())
            trash = reserved.path();
    }
    if (trash.isEmpty() || !QDir().rename(folder, trash)) {
        removeFolder(folder);
        removeWorkFolderIfEmpty(repositoryName);
        return;
    }
    removeInBackground({trash}, work);
}

// The examples of the repository at url that the user removed, as stored now: the options page
// may have saved removals since the service loaded its settings.
QSet<QString> storedRemovedExamples(const QUrl &url)
{
    Settings stored;
    stored.load(Core::ICore::settings());
    for (const RepositorySettings &settings : std::as_const(stored.repositories)) {
        if (settings.url == url)
            return settings.removedExamples;
    }
    return {};
}

} // namespace Tidepool::Internal::Installation
