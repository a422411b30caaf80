#pragma once

#include <QByteArray>
#include <QList>

#include <archive.h>
#include <archive_entry.h>

// Readers that show a tar stream as written, pax headers included: ordinary extractors hide
// the global header, and what lies in front of the first file is the point of some tests.

inline QByteArray gunzip(const QByteArray &compressed)
{
    struct archive *a = archive_read_new();
    archive_read_support_filter_gzip(a);
    archive_read_support_format_raw(a);
    QByteArray out;
    struct archive_entry *entry = nullptr;
    if (archive_read_open_memory(a, compressed.constData(), size_t(compressed.size())) == ARCHIVE_OK
        && archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        char buffer[65536];
        la_ssize_t n = 0;
        while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0)
            out.append(buffer, qsizetype(n));
        if (n < 0)
            out.clear();
    }
    archive_read_free(a);
    return out;
}

struct TarEntry
{
    QByteArray name;
    char type = '0';
    int mode = 0;
    QByteArray data;
    QByteArray linkTarget;
};

inline quint64 tarNumber(const QByteArray &block, int offset, int width)
{
    return block.mid(offset, width).trimmed().replace('\0', "").toULongLong(nullptr, 8);
}

inline QByteArray tarText(const QByteArray &block, int offset, int width)
{
    const QByteArray field = block.mid(offset, width);
    const qsizetype nul = field.indexOf('\0');
    return nul < 0 ? field : field.left(nul);
}

// Entries in stream order; a pax 'x' header renames the entry after it and is not listed itself.
// An empty list means the stream is not a well-formed tar.
inline QList<TarEntry> tarEntries(const QByteArray &tar)
{
    QList<TarEntry> entries;
    QByteArray nextName;
    qsizetype offset = 0;
    while (offset + 512 <= tar.size()) {
        const QByteArray block = tar.mid(offset, 512);
        if (block.count('\0') == 512)
            return entries;
        if (tarText(block, 257, 5) != "ustar")
            return {};
        TarEntry entry;
        entry.name = tarText(block, 0, 100);
        const QByteArray prefix = tarText(block, 345, 155);
        if (!prefix.isEmpty())
            entry.name = prefix + '/' + entry.name;
        entry.type = block.at(156);
        entry.mode = int(tarNumber(block, 100, 8));
        entry.linkTarget = tarText(block, 157, 100);
        const qsizetype size = qsizetype(tarNumber(block, 124, 12));
        entry.data = tar.mid(offset + 512, size);
        offset += 512 + (size + 511) / 512 * 512;
        if (entry.type == 'x') {
            for (const QByteArray &record : entry.data.split('\n')) {
                const qsizetype at = record.indexOf(" path=");
                if (at >= 0)
                    nextName = record.mid(at + 6);
            }
            continue;
        }
        if (!nextName.isEmpty())
            entry.name = std::exchange(nextName, {});
        entries.append(entry);
    }
    return {};
}
