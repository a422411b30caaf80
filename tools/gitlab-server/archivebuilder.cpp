#include "archivebuilder.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace LocalGitLab {

namespace {

struct ArchiveDeleter
{
    void operator()(struct archive *a) const { archive_write_free(a); }
};
struct EntryDeleter
{
    void operator()(struct archive_entry *e) const { archive_entry_free(e); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveDeleter>;
using EntryPtr = std::unique_ptr<struct archive_entry, EntryDeleter>;

la_ssize_t appendToByteArray(struct archive *, void *client, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

bool ok(int result)
{
    return result == ARCHIVE_OK || result == ARCHIVE_WARN;
}

void writeOctal(char *field, int width, quint64 value)
{
    // width - 1 digits and a terminating NUL, as ustar wants them.
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    memcpy(field, digits.constData(), size_t(width - 1));
    field[width - 1] = '\0';
}

// git writes the commit id as a pax global header named "pax_global_header" (typeflag 'g'). The
// usual writers have no notion of a global header, so this one block pair is made by hand.
QByteArray paxGlobalHeader(const QString &sha, qint64 mtime)
{
    const QByteArray record = " comment=" + sha.toLatin1() + '\n';
    QByteArray recordWithLength;
    for (int length = int(record.size()) + 1;; ++length) {
        recordWithLength = QByteArray::number(length) + record;
        if (recordWithLength.size() == length)
            break;
    }

    QByteArray header(512, '\0');
    char *h = header.data();
    memcpy(h, "pax_global_header", 17);
    writeOctal(h + 100, 8, 0666);
    writeOctal(h + 108, 8, 0);
    writeOctal(h + 116, 8, 0);
    writeOctal(h + 124, 12, quint64(recordWithLength.size()));
    writeOctal(h + 136, 12, quint64(std::max<qint64>(mtime, 0)));
    h[156] = 'g';
    memcpy(h + 257, "ustar", 6);
    memcpy(h + 263, "00", 2);
    memcpy(h + 265, "root", 4);
    memcpy(h + 297, "root", 4);
    memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : std::as_const(header))
        sum += quint8(c);
    const QByteArray checksum = QByteArray::number(sum, 8).rightJustified(6, '0');
    memcpy(h + 148, checksum.constData(), 6);
    h[154] = '\0';
    h[155] = ' ';

    QByteArray data = recordWithLength;
    data.append(QByteArray((512 - data.size() % 512) % 512, '\0'));
    return header + data;
}

struct Item
{
    enum Kind { Dir, File, Link } kind;
    QString path; // relative to the top folder, directories end in '/'
};

QList<Item> itemsOf(const ArchiveInput &input)
{
    QMap<QString, Item::Kind> items;
    const auto addParents = [&](const QString &path) {
        for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash >= 0;
             slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
            items.insert(path.left(slash + 1), Item::Dir);
        }
    };
    for (auto it = input.files.cbegin(); it != input.files.cend(); ++it) {
        addParents(it.key());
        items.insert(it.key(), Item::File);
    }
    for (auto it = input.symlinks.cbegin(); it != input.symlinks.cend(); ++it) {
        addParents(it.key());
        items.insert(it.key(), Item::Link);
    }
    // Sorted as strings, "dir/" precedes "dir/file" and follows "dir.txt": git's tree order.
    QList<Item> result{{Item::Dir, QString()}};
    for (auto it = items.cbegin(); it != items.cend(); ++it)
        result.append({it.value(), it.key()});
    return result;
}

QByteArray writeEntries(const ArchiveInput &input, Catalogue::Format format, QString *errorMessage)
{
    QByteArray out;
    ArchivePtr a(archive_write_new());
    const bool zip = format == Catalogue::Format::Zip;
    if (!ok(zip ? archive_write_set_format_zip(a.get()) : archive_write_set_format_pax_restricted(a.get()))
        || !ok(archive_write_set_bytes_in_last_block(a.get(), 1))
        || !ok(archive_write_open2(a.get(), &out, nullptr, appendToByteArray, nullptr, nullptr))) {
        *errorMessage = QString::fromUtf8(archive_error_string(a.get()));
        return {};
    }
    const qint64 commitTime = input.commitTime.toSecsSinceEpoch();
    const QList<Item> items = itemsOf(input);
    for (const Item &item : items) {
        EntryPtr entry(archive_entry_new());
        archive_entry_set_pathname_utf8(entry.get(), (input.prefix + QLatin1Char('/') + item.path).toUtf8().constData());
        archive_entry_set_uname(entry.get(), "root");
        archive_entry_set_gname(entry.get(), "root");
        const QDateTime time = input.fileTimes.value(item.path, input.commitTime);
        archive_entry_set_mtime(entry.get(), item.kind == Item::Dir ? commitTime : time.toSecsSinceEpoch(), 0);
        QByteArray content;
        switch (item.kind) {
        case Item::Dir:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_perm(entry.get(), 0775);
            break;
        case Item::File:
            content = input.files.value(item.path);
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), input.executables.contains(item.path) ? 0775 : 0664);
            archive_entry_set_size(entry.get(), content.size());
            break;
        case Item::Link:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_perm(entry.get(), 0777);
            archive_entry_set_symlink_utf8(entry.get(), input.symlinks.value(item.path).toUtf8().constData());
            break;
        }
        if (!ok(archive_write_header(a.get(), entry.get()))
            || (!content.isEmpty()
                && archive_write_data(a.get(), content.constData(), size_t(content.size())) != content.size())) {
            *errorMessage = QString::fromUtf8(archive_error_string(a.get()));
            return {};
        }
    }
    if (!ok(archive_write_close(a.get()))) {
        *errorMessage = QString::fromUtf8(archive_error_string(a.get()));
        return {};
    }
    return out;
}

QByteArray gzip(const QByteArray &data, QString *errorMessage)
{
    QByteArray out;
    ArchivePtr a(archive_write_new());
    EntryPtr entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), "data");
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_size(entry.get(), data.size());
    if (!ok(archive_write_set_format_raw(a.get())) || !ok(archive_write_add_filter_gzip(a.get()))
        || !ok(archive_write_set_bytes_in_last_block(a.get(), 1))
        || !ok(archive_write_open2(a.get(), &out, nullptr, appendToByteArray, nullptr, nullptr))
        || !ok(archive_write_header(a.get(), entry.get()))
        || archive_write_data(a.get(), data.constData(), size_t(data.size())) != data.size()
        || !ok(archive_write_close(a.get()))) {
        *errorMessage = QString::fromUtf8(archive_error_string(a.get()));
        return {};
    }
    return out;
}

} // namespace

QByteArray buildArchive(const ArchiveInput &input, Catalogue::Format format, QString *errorMessage)
{
    const QByteArray entries = writeEntries(input, format, errorMessage);
    if (entries.isEmpty() || format == Catalogue::Format::Zip)
        return entries;
    const QByteArray tar = paxGlobalHeader(input.sha, input.commitTime.toSecsSinceEpoch()) + entries;
    return format == Catalogue::Format::Tar ? tar : gzip(tar, errorMessage);
}

} // namespace LocalGitLab
