#pragma once

// Gzip-compressed tar archives written with libarchive at run time, so that no archive file
// lives in the repository.

#include <QByteArray>
#include <QList>

#include <archive.h>
#include <archive_entry.h>

#include <functional>

namespace TestArchive {

// One entry of a generated tar archive. For files, `size` bytes of `fill` are written when `data`
// is empty and size > 0, so that large files need not be held in memory.
struct TarEntry
{
    enum Type { File, Symlink };
    Type type = File;
    QByteArray path;
    QByteArray data; // file content, or a link's target
    qint64 size = -1;
    char fill = 0;

    static TarEntry file(const QByteArray &path, const QByteArray &data)
    { return {File, path, data, -1, 0}; }
    static TarEntry zeros(const QByteArray &path, qint64 size) { return {File, path, {}, size, 0}; }
    static TarEntry symlink(const QByteArray &path, const QByteArray &target)
    { return {Symlink, path, target, -1, 0}; }
};

// size bytes that do not compress (xorshift), the same for the same seed.
inline QByteArray noise(qsizetype size, quint32 seed = 2463534242u)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        c = char(seed);
    }
    return bytes;
}

// Writes a gzip-compressed tar, streaming into memory; entries are produced one at a time by
// `next` (return false when done), so that archives of 100 000 entries cost no list of them.
inline QByteArray tarGz(const std::function<bool(TarEntry &)> &next, bool rawNames = false)
{
    QByteArray out;
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    // ustar keeps names as raw bytes (names that are not UTF-8 survive), but limits them to
    // 255 bytes; pax stores any length.
    if (rawNames)
        archive_write_set_format_ustar(writer);
    else
        archive_write_set_format_pax_restricted(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open(
        writer, &out, nullptr,
        [](archive *, void *client, const void *buffer, size_t length) -> la_ssize_t {
            static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer),
                                                      qsizetype(length));
            return la_ssize_t(length);
        },
        nullptr);

    static const QByteArray chunk(1 << 20, '\0');
    TarEntry item;
    while (next(item)) {
        archive_entry *entry = archive_entry_new();
        archive_entry_copy_pathname(entry, item.path.constData());
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_mtime(entry, 1700000000, 0);
        qint64 size = 0;
        switch (item.type) {
        case TarEntry::File:
            size = item.data.isEmpty() && item.size > 0 ? item.size : item.data.size();
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, size);
            break;
        case TarEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, item.data.constData());
            break;
        }
        archive_write_header(writer, entry);
        if (item.type == TarEntry::File) {
            if (!item.data.isEmpty()) {
                archive_write_data(writer, item.data.constData(), size_t(item.data.size()));
            } else {
                for (qint64 written = 0; written < size;) {
                    const qint64 n = qMin<qint64>(chunk.size(), size - written);
                    archive_write_data(writer, chunk.constData(), size_t(n));
                    written += n;
                }
            }
        }
        archive_entry_free(entry);
        item = TarEntry();
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

inline QByteArray tarGz(const QList<TarEntry> &entries, bool rawNames = false)
{
    qsizetype index = 0;
    return tarGz(
        [&](TarEntry &entry) {
            if (index >= entries.size())
                return false;
            entry = entries.at(index++);
            return true;
        },
        rawNames);
}

} // namespace TestArchive
