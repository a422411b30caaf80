#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

namespace Tidepool::Internal {

// Measures what a .tar.gz archive unpacks to while its bytes go by, without unpacking it: the gzip
// data is inflated and thrown away, and the tar headers are counted. The IDE's unarchiver bounds
// nothing (it runs the system's tar), so an archive is refused here before it gets there when it
// unpacks to far more than any real example does:
// - more than `ratio` times the compressed bytes seen so far, once past `floor` bytes: gzip packs
//   source code 4 to 10 times and media hardly at all, while a bomb of zeros packs 1 000 times;
//   the floor keeps small archives of text from being judged by a few blocks;
// - more than `absolute` bytes, whatever the ratio;
// - more than `entries` files, folders and links;
// - entries whose size on disk the stream does not show (sparse files).
class ArchiveGauge
{
public:
    struct Limits
    {
        qint64 ratio = 200;
        qint64 floor = qint64(64) * 1024 * 1024;
        qint64 absolute = qint64(16) * 1024 * 1024 * 1024;
        qint64 entries = 200000;
    };

    ArchiveGauge();
    ~ArchiveGauge();
    ArchiveGauge(const ArchiveGauge &) = delete;
    ArchiveGauge &operator=(const ArchiveGauge &) = delete;

    // Takes the next compressed bytes; false once the archive is refused or is no gzip data,
    // with the reason in error().
    bool feed(const char *data, qint64 size);
    // Whether the data seen is one whole archive: every gzip member ended and the tar stream
    // reached its end blocks or the end of the data.
    bool finish();

    qint64 compressedBytes() const { return m_compressed; }
    qint64 unpackedBytes() const { return m_unpacked; }
    qint64 entries() const { return m_entries; }
    QString error() const { return m_error; }

    // For all gauges made from now on; the defaults above when never set.
    static void setLimits(const Limits &limits);
    static Limits limits();

private:
    bool inspect(const char *data, qint64 size);
    bool inspectHeader(const unsigned char *block);
    bool fail(const QString &reason);

    struct Inflater;
    std::unique_ptr<Inflater> m_inflater;
    Limits m_limits;
    qint64 m_compressed = 0;
    qint64 m_unpacked = 0;
    qint64 m_entries = 0;
    // Where the tar stream stands: the bytes of the current 512-byte block, and how many bytes
    // of entry data are still to come before the next header.
    unsigned char m_block[512];
    int m_blockFill = 0;
    qint64 m_dataLeft = 0;
    bool m_extendedHeader = false; // the entry's data is a pax or GNU header of the next one
    bool m_endSeen = false;
    bool m_streamEnded = false;
    QString m_error;
};

} // namespace Tidepool::Internal
