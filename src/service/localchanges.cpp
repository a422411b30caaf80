#include "localchanges.h"

#include "manifestwriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <functional>

namespace Tidepool::Internal {

namespace {

// The plugin writes these at the top of every example it installs; they are not the example's
// files, and rewriting them is no change of the user's.
const QString topLevelManifest = QLatin1String(manifestFileName);
const QString topLevelIcon = QStringLiteral("example-icon.png");

constexpr char installationRecordFolderName[] = ".tidepool-installed";
constexpr int recordFormat = 1;

bool isCanceled(const std::atomic_bool *canceled)
{
    return canceled && canceled->load(std::memory_order_relaxed);
}

// Calls visit for each file or link below folder that may belong to the example, with its path
// relative to folder.
void walk(const QString &folder, const QString &relative, const std::atomic_bool *canceled,
          const std::function<void(const QString &, const QFileInfo &)> &visit)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isCanceled(canceled))
            return;
        const QString name = entry.fileName();
        const QString path = relative.isEmpty() ? name : relative + u'/' + name;
        if (relative.isEmpty() && (name == topLevelManifest || name == topLevelIcon))
            continue;
        if (entry.isDir() && !entry.isSymLink()) {
            if (!isBuildFolder(entry.filePath()))
                walk(entry.filePath(), path, canceled, visit);
            continue;
        }
        if (isUserProjectFile(name))
            continue;
        visit(path, entry);
    }
}

FileFingerprint fingerprintOf(const QFileInfo &entry)
{
    if (entry.isSymLink())
        return {0, "link:" + QFile::encodeName(entry.symLinkTarget())};
    FileFingerprint result;
    result.size = entry.size();
    QFile file(entry.filePath());
    QCryptographicHash hash(QCryptographicHash::Sha1);
    // An unreadable file reads as empty both when it is recorded and when it is compared.
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
        result.hash = hash.result().toHex();
    return result;
}

} // namespace

QStringList LocalChanges::all() const
{
    QStringList result = changed + added + deleted;
    result.sort();
    return result;
}

bool isUserProjectFile(const QString &fileName)
{
    if (fileName.endsWith(QLatin1String(".user")))
        return true;
    // The IDE's copies of older per-user files ("CMakeLists.txt.user.4.8-pre1"): only after a
    // project file's name, so that a source file such as "models.user.cpp" stays the user's.
    const qsizetype at = fileName.indexOf(QLatin1String(".user."));
    if (at <= 0)
        return false;
    const QString project = fileName.left(at);
    static const QStringList projectSuffixes{".pro", ".qbs", ".pyproject", ".qmlproject",
                                             ".creator"};
    return project.endsWith(QLatin1String("CMakeLists.txt"))
           || std::any_of(projectSuffixes.cbegin(), projectSuffixes.cend(),
                          [&project](const QString &suffix) { return project.endsWith(suffix); });
}

bool isBuildFolder(const QString &folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(QStringLiteral("CMakeCache.txt"))).isFile()
           || QFileInfo(dir.filePath(QStringLiteral(".qmake.stash"))).isFile();
}

Fingerprint fingerprint(const QString &folder, const std::atomic_bool *canceled)
{
    Fingerprint result;
    walk(folder, {}, canceled, [&result](const QString &path, const QFileInfo &entry) {
        result.insert(path, fingerprintOf(entry));
    });
    return result;
}

QByteArray serializeFingerprint(const Fingerprint &fingerprint)
{
    QJsonObject files;
    for (auto it = fingerprint.cbegin(); it != fingerprint.cend(); ++it)
        files.insert(it.key(), QJsonArray{it->size, QString::fromLatin1(it->hash)});
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), recordFormat},
                                     {QStringLiteral("files"), files}})
        .toJson(QJsonDocument::Compact);
}

std::optional<Fingerprint> parseFingerprint(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || root.value(QLatin1String("format")) != recordFormat)
        return std::nullopt;
    Fingerprint result;
    const QJsonObject files = root.value(QLatin1String("files")).toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        const QJsonArray entry = it.value().toArray();
        if (entry.size() != 2 || !entry.at(0).isDouble() || !entry.at(1).isString())
            return std::nullopt;
        result.insert(it.key(), {qint64(entry.at(0).toDouble()), entry.at(1).toString().toLatin1()});
    }
    return result;
}

LocalChanges compareWithRecord(const Fingerprint &recorded, const QString &folder,
                               const QDateTime &installedAt, CompareDepth depth,
                               const std::atomic_bool *canceled)
{
    LocalChanges changes;
    QSet<QString> seen;
    walk(folder, {}, canceled, [&](const QString &path, const QFileInfo &entry) {
        seen.insert(path);
        const auto it = recorded.constFind(path);
        if (it == recorded.cend()) {
            changes.added.append(path);
            return;
        }
        // Only where the size agrees is the content read: an edit that keeps size and time is
        // still found.
        const bool sameSize = entry.isSymLink() || entry.size() == it->size;
        const bool same = depth == CompareDepth::Contents
                              ? sameSize && fingerprintOf(entry) == *it
                              : sameSize && !(entry.lastModified() > installedAt);
        if (!same)
            changes.changed.append(path);
    });
    for (auto it = recorded.cbegin(); it != recorded.cend(); ++it) {
        if (!seen.contains(it.key()))
            changes.deleted.append(it.key());
    }
    return changes;
}

static QStringList userProjectFilesIn(const QString &folder, const QString &relative = {})
{
    QStringList result;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = relative.isEmpty() ? entry.fileName()
                                                : relative + u'/' + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            if (!isBuildFolder(entry.filePath()))
                result += userProjectFilesIn(entry.filePath(), path);
        } else if (entry.isFile() && !entry.isSymLink() && isUserProjectFile(entry.fileName())) {
            result.append(path);
        }
    }
    return result;
}

LocalChanges findLocalChanges(const QString &folder, const QString &recordFile,
                              const std::atomic_bool *canceled, CompareDepth depth)
{
    LocalChanges changes;
    const QFileInfo manifest(folder + u'/' + topLevelManifest);
    if (!manifest.isFile())
        return changes;

    QFile record(recordFile);
    std::optional<Fingerprint> recorded;
    if (record.open(QIODevice::ReadOnly))
        recorded = parseFingerprint(record.readAll());
    const QDateTime installed = manifest.lastModified();
    if (recorded) {
        changes = compareWithRecord(*recorded, folder, installed, depth, canceled);
    } else {
        walk(folder, {}, canceled, [&](const QString &path, const QFileInfo &entry) {
            if (entry.lastModified() > installed)
                changes.changed.append(path);
        });
    }
    if (!isCanceled(canceled))
        changes.userProjectFiles = userProjectFilesIn(folder);
    return changes;
}

QString installationRecordFolder(const QString &repositoryFolder)
{
    return repositoryFolder + QDir::separator() + QLatin1String(installationRecordFolderName);
}

QString installationRecordFile(const QString &repositoryFolder, const QString &path)
{
    return installationRecordFolder(repositoryFolder) + QDir::separator() + path
           + QStringLiteral(".json");
}

QString keptChangesFolder(const QString &repositoryFolder, const QString &path,
                          const QDateTime &time)
{
    const QFileInfo repository(QDir::cleanPath(repositoryFolder));
    // Not translated: a folder's name must not change with the IDE's language.
    // Its name begins with neither the repository folder's nor an example's: nothing that looks
    // for what lies in those by the beginning of a path takes it for theirs.
    const QString container = repository.path() + QStringLiteral("/Kept changes - ")
                              + repository.fileName();
    // Begins with the time, never with an example's name; no character that Windows refuses.
    const QString base = container + u'/' + time.toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"))
                         + u' ' + path;
    QString candidate = base;
    for (int i = 2; QFileInfo::exists(candidate); ++i)
        candidate = base + QStringLiteral(" (%1)").arg(i);
    return QDir::toNativeSeparators(candidate);
}

InstallationCheck checkInstallation(const QString &installedFolder, const QString &recordFile,
                                    const QString &unpackFolder, const std::atomic_bool *canceled)
{
    InstallationCheck check;
    if (QFileInfo(installedFolder).isDir())
        check.changes = findLocalChanges(installedFolder, recordFile, canceled);
    const QFileInfoList top = QDir(unpackFolder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (top.size() == 1 && top.first().isDir() && !top.first().isSymLink())
        check.record = serializeFingerprint(fingerprint(top.first().filePath(), canceled));
    return check;
}

void carryUserProjectFiles(const QString &from, const QString &to, const QStringList &files)
{
    for (const QString &file : files) {
        const QString target = to + u'/' + file;
        if (QFileInfo::exists(target))
            continue;
        QDir().mkpath(QFileInfo(target).path());
        QFile::copy(from + u'/' + file, target);
    }
}

} // namespace Tidepool::Internal
