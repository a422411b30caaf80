#include "archivemaker.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>

namespace {

bool writeEntries(archive *a, const QList<ArchiveEntry> &entries)
{
    for (const ArchiveEntry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.constData());
        archive_entry_set_perm(entry, mode_t(e.mode));
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (e.type) {
        case ArchiveEntry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
            break;
        case ArchiveEntry::Dir:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ArchiveEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.data.constData());
            break;
        case ArchiveEntry::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.data.constData());
            break;
        case ArchiveEntry::CharDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_rdevmajor(entry, 1);
            archive_entry_set_rdevminor(entry, 3);
            break;
        case ArchiveEntry::BlockDevice:
            archive_entry_set_filetype(entry, AE_IFBLK);
            archive_entry_set_rdevmajor(entry, 7);
            archive_entry_set_rdevminor(entry, 0);
            break;
        case ArchiveEntry::Fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
            break;
        }
        bool ok = archive_write_header(a, entry) == ARCHIVE_OK;
        if (ok && e.type == ArchiveEntry::File && !e.data.isEmpty())
            ok = archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size();
        archive_entry_free(entry);
        if (!ok)
            return false;
    }
    return true;
}

// One 512-byte ustar header block, as git archive writes for its global header.
QByteArray globalHeader(qsizetype contentSize)
{
    QByteArray block(512, '\0');
    const auto put = [&block](int offset, const QByteArray &value) {
        std::memcpy(block.data() + offset, value.constData(), size_t(value.size()));
    };
    put(0, "pax_global_header");
    put(100, "0000666");
    put(108, "0000000");
    put(116, "0000000");
    put(124, QByteArray::number(contentSize, 8).rightJustified(11, '0'));
    put(136, QByteArray::number(1700000000, 8).rightJustified(11, '0'));
    put(148, "        ");
    block[156] = 'g';
    put(257, QByteArray("ustar\0" "00", 8));
    put(265, "root");
    put(297, "root");
    unsigned sum = 0;
    for (char c : std::as_const(block))
        sum += quint8(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return block;
}

bool writeRawGZip(const QString &fileName, const QByteArray &data)
{
    archive *a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_raw(a);
    bool ok = archive_write_open_filename(a, fileName.toLocal8Bit().constData()) == ARCHIVE_OK;
    if (ok) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, "data");
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, data.size());
        ok = archive_write_header(a, entry) == ARCHIVE_OK
             && archive_write_data(a, data.constData(), size_t(data.size())) == data.size();
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

} // namespace

QByteArray makeTar(const QList<ArchiveEntry> &entries)
{
    QByteArray buffer(qsizetype(16) * 1024 * 1024, '\0');
    size_t used = 0;
    archive *a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_set_bytes_in_last_block(a, 1);
    bool ok = archive_write_open_memory(a, buffer.data(), size_t(buffer.size()), &used) == ARCHIVE_OK;
    ok = ok && writeEntries(a, entries);
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    if (!ok)
        return {};
    buffer.truncate(qsizetype(used));
    return buffer;
}

bool writeArchive(const QString &fileName, const QList<ArchiveEntry> &entries, ArchiveFormat format)
{
    archive *a = archive_write_new();
    switch (format) {
    case ArchiveFormat::TarGz:
        archive_write_add_filter_gzip(a);
        archive_write_set_format_pax_restricted(a);
        break;
    case ArchiveFormat::Tar:
        archive_write_set_format_pax_restricted(a);
        break;
    case ArchiveFormat::TarXz:
        archive_write_add_filter_xz(a);
        archive_write_set_format_pax_restricted(a);
        break;
    case ArchiveFormat::Zip:
        archive_write_set_format_zip(a);
        break;
    case ArchiveFormat::Ustar:
        archive_write_set_format_ustar(a);
        break;
    }
    bool ok = archive_write_open_filename(a, fileName.toLocal8Bit().constData()) == ARCHIVE_OK;
    ok = ok && writeEntries(a, entries);
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

bool writeGitLabArchive(const QString &fileName, const QList<ArchiveEntry> &entries,
                        const QByteArray &commitId)
{
    const QByteArray tar = makeTar(entries);
    if (tar.isEmpty())
        return false;
    // A pax record is "<length> <key>=<value>\n", the length counting itself.
    const QByteArray record = " comment=" + commitId + '\n';
    QByteArray content = QByteArray::number(record.size() + 2) + record;
    if (content.size() != record.size() + 2)
        content = QByteArray::number(record.size() + 3) + record;
    QByteArray data = globalHeader(content.size()) + content;
    data.append(QByteArray(512 - content.size() % 512, '\0'));
    data.append(tar);
    return writeRawGZip(fileName, data);
}

bool writeGZipFile(const QString &fileName, const QByteArray &data)
{
    return writeRawGZip(fileName, data);
}
