#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace Tidepool::Internal {

// What one file of an installed example was: its size and a hash of its content. A link is
// recorded by its target, not followed.
struct FileFingerprint
{
    qint64 size = 0;
    QByteArray hash;

    bool operator==(const FileFingerprint &other) const = default;
};

// Every file of an example folder by its path relative to the folder ('/' separated), less what
// the IDE or the plugin writes there (see isGenerated()).
using Fingerprint = QMap<QString, FileFingerprint>;

// The user's work in an installed example: what differs from the record of its installation.
struct LocalChanges
{
    QStringList changed;
    QStringList added;
    QStringList deleted;
    // The IDE's per-user project files in the folder, which an update carries over.
    QStringList userProjectFiles;

    bool isEmpty() const { return changed.isEmpty() && added.isEmpty() && deleted.isEmpty(); }
    // Every path that an update would lose, sorted.
    QStringList all() const;
};

// The IDE's per-user project file: "*.user", or "*.user.*" after a project file's name
// ("CMakeLists.txt.user", "hello.pro.user.4.8-pre1"; not "models.user.cpp").
bool isUserProjectFile(const QString &fileName);

// A build folder: one that holds a "CMakeCache.txt" (CMake) or a ".qmake.stash" (qmake), wherever
// it lies in the example. The IDE makes and fills it again on demand, so it and everything below
// it are not the user's work.
bool isBuildFolder(const QString &folder);

// The fingerprint of folder's files, without following links, per-user project files, build
// folders, or the manifest and icon that the plugin writes at the top. Stops early (with an
// incomplete result) once canceled is set.
Fingerprint fingerprint(const QString &folder, const std::atomic_bool *canceled = nullptr);

QByteArray serializeFingerprint(const Fingerprint &fingerprint);
std::optional<Fingerprint> parseFingerprint(const QByteArray &bytes);

// How far a comparison looks: Contents hashes every file whose size agrees with its record, so
// that an edit that kept size and time is found; Metadata reads no file and takes a file of the
// recorded size for unchanged unless it was modified after the installation, which costs no more
// than listing the folder.
enum class CompareDepth { Contents, Metadata };

// What differs in folder from recorded, installed at installedAt.
LocalChanges compareWithRecord(const Fingerprint &recorded, const QString &folder,
                               const QDateTime &installedAt, CompareDepth depth,
                               const std::atomic_bool *canceled = nullptr);

// The user's work in the installed example at folder, compared with the record in recordFile.
// Without a record (an example installed before records were kept) a file is the user's when it
// was modified after the example's manifest was written, which finds edits and additions but not
// deletions; a folder without a manifest holds nothing installed to compare with.
LocalChanges findLocalChanges(const QString &folder, const QString &recordFile,
                              const std::atomic_bool *canceled = nullptr,
                              CompareDepth depth = CompareDepth::Contents);

// Where the record of the example installed at path lies: a hidden folder of the repository
// folder, which neither the Welcome screen nor the options page looks into.
QString installationRecordFile(const QString &repositoryFolder, const QString &path);
QString installationRecordFolder(const QString &repositoryFolder);

// Where the user's copy of the example at path goes when an update replaces it at time: a folder
// beside (not inside) the repository folder, so that no scan takes it for an installed example,
// "Kept changes - <repository>/<yyyy-MM-dd hh.mm.ss> <path>", with " (2)", " (3)"... should that
// name be taken.
QString keptChangesFolder(const QString &repositoryFolder, const QString &path,
                          const QDateTime &time);

// What an update needs to know before it replaces an installed example, found off the GUI
// thread: the user's work in the installed copy, and the record of the new copy (empty when the
// unpacked folder does not hold one folder).
struct InstallationCheck
{
    LocalChanges changes;
    QByteArray record;
};

InstallationCheck checkInstallation(const QString &installedFolder, const QString &recordFile,
                                    const QString &unpackFolder,
                                    const std::atomic_bool *canceled = nullptr);

// Copies the per-user project files (paths relative to from) into the same places below to,
// where to holds no such file already.
void carryUserProjectFiles(const QString &from, const QString &to, const QStringList &files);

} // namespace Tidepool::Internal
