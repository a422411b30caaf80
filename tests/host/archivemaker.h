#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes archives for the tests with libarchive, so that no archive file lives in the repository.
struct ArchiveEntry
{
    enum Type { File, Dir, Symlink, Hardlink, CharDevice, BlockDevice, Fifo };

    Type type = File;
    QByteArray path;
    QByteArray data;   // file content, or the target of a link
    int mode = 0644;

    static ArchiveEntry file(const QByteArray &path, const QByteArray &data, int mode = 0644)
    { return {File, path, data, mode}; }
    static ArchiveEntry dir(const QByteArray &path) { return {Dir, path, {}, 0755}; }
    static ArchiveEntry symlink(const QByteArray &path, const QByteArray &target)
    { return {Symlink, path, target, 0777}; }
    static ArchiveEntry hardlink(const QByteArray &path, const QByteArray &target)
    { return {Hardlink, path, target, 0644}; }
    static ArchiveEntry special(Type type, const QByteArray &path) { return {type, path, {}, 0644}; }
};

// Ustar stores names as raw bytes; the pax formats want them convertible to UTF-8.
enum class ArchiveFormat { TarGz, Tar, TarXz, Zip, Ustar };

// An uncompressed pax tar of the entries.
QByteArray makeTar(const QList<ArchiveEntry> &entries);

// The entries in the given format. Returns false if libarchive refused to write them.
bool writeArchive(const QString &fileName, const QList<ArchiveEntry> &entries,
                  ArchiveFormat format = ArchiveFormat::TarGz);

// A tar.gz shaped like the ones GitLab serves: a pax global header carrying the commit id first,
// then the entries.
bool writeGitLabArchive(const QString &fileName, const QList<ArchiveEntry> &entries,
                        const QByteArray &commitId);

// The bytes gzip-compressed, as one file.
bool writeGZipFile(const QString &fileName, const QByteArray &data);
