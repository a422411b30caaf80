#include "archivegauge.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace Tidepool::Internal {

namespace {

QMutex limitsMutex;
ArchiveGauge::Limits currentLimits;

constexpr int blockSize = 512;
// pax headers name a few keys each; one larger than this is no header of a real archive.
constexpr qint64 extendedHeaderLimit = 1024 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("Tidepool::Internal::ArchiveGauge", text);
}

// A numeric field of a tar header: octal digits, or big-endian binary when the first byte has its
// high bit set (for sizes of 8 GiB and more). -1 when it is neither.
qint64 numericField(const unsigned char *field, int length)
{
    if (field[0] & 0x80) {
        qint64 value = field[0] & 0x3f;
        for (int i = 1; i < length; ++i) {
            if (value > (std::numeric_limits<qint64>::max() >> 8))
                return -1;
            value = (value << 8) | field[i];
        }
        return (field[0] & 0x40) ? -1 : value;
    }
    qint64 value = 0;
    int i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value > (std::numeric_limits<qint64>::max() >> 3))
            return -1;
        value = value * 8 + (field[i] - '0');
    }
    for (; i < length; ++i) {
        if (field[i] != ' ' && field[i] != 0)
            return -1;
    }
    return value;
}

bool checksumMatches(const unsigned char *block)
{
    const qint64 stored = numericField(block + 148, 8);
    qint64 sum = 0;
    for (int i = 0; i < blockSize; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : block[i];
    return stored == sum;
}

} // namespace

struct ArchiveGauge::Inflater
{
    z_stream stream{};
    bool initialised = false;
    bool trailing = false; // what follows the last gzip member is no member: ignored, as gzip does
    QByteArray extendedHeader;
};

ArchiveGauge::ArchiveGauge()
    : m_inflater(std::make_unique<Inflater>())
    , m_limits(limits())
{
    // 16 + MAX_WBITS: gzip framing, not zlib's.
    m_inflater->initialised = inflateInit2(&m_inflater->stream, 16 + MAX_WBITS) == Z_OK;
}

ArchiveGauge::~ArchiveGauge()
{
    if (m_inflater->initialised)
        inflateEnd(&m_inflater->stream);
}

void ArchiveGauge::setLimits(const Limits &limits)
{
    QMutexLocker locker(&limitsMutex);
    currentLimits = limits;
}

ArchiveGauge::Limits ArchiveGauge::limits()
{
    QMutexLocker locker(&limitsMutex);
    return currentLimits;
}

bool ArchiveGauge::fail(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool ArchiveGauge::feed(const char *data, qint64 size)
{
    if (!m_error.isEmpty())
        return false;
    if (!m_inflater->initialised)
        return fail(tr("The archive cannot be inspected"));
    m_compressed += size;
    if (m_inflater->trailing)
        return true;

    z_stream &z = m_inflater->stream;
    unsigned char out[64 * 1024];
    while (size > 0) {
        // zlib counts in 32 bits.
        const uInt piece = uInt(std::min<qint64>(size, 1 << 30));
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        z.avail_in = piece;
        data += piece;
        size -= piece;
        bool more = true;
        while (more) {
            if (m_streamEnded) {
                if (z.avail_in == 0)
                    break;
                if (*z.next_in != 0x1f) {
                    m_inflater->trailing = true;
                    return true;
                }
                if (inflateReset(&z) != Z_OK)
                    return fail(tr("The archive cannot be inspected"));
                m_streamEnded = false;
            }
            z.next_out = out;
            z.avail_out = sizeof out;
            const int result = inflate(&z, Z_NO_FLUSH);
            const qint64 produced = qint64(sizeof out) - z.avail_out;
            if (produced > 0 && !inspect(reinterpret_cast<const char *>(out), produced))
                return false;
            if (result == Z_STREAM_END) {
                m_streamEnded = true;
                continue;
            }
            if (result == Z_BUF_ERROR)
                break;
            if (result != Z_OK)
                return fail(tr("Downloaded file is not an archive"));
            more = z.avail_in > 0 || z.avail_out == 0;
        }
    }
    return true;
}

bool ArchiveGauge::finish()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_streamEnded && !m_inflater->trailing)
        return fail(tr("Downloaded file is not an archive"));
    return true;
}

bool ArchiveGauge::inspect(const char *data, qint64 size)
{
    m_unpacked += size;
    if (m_unpacked > m_limits.absolute) {
        return fail(tr("The archive unpacks to more than %1 MiB")
                        .arg(m_limits.absolute / (1024 * 1024)));
    }
    // Divided rather than multiplied, so that no limit can overflow.
    if (m_unpacked > m_limits.floor && m_limits.ratio > 0
        && m_unpacked / m_limits.ratio > m_compressed) {
        return fail(tr("The archive unpacks to more than %1 times its size")
                        .arg(m_limits.ratio));
    }
    while (size > 0 && !m_endSeen) {
        if (m_dataLeft > 0) {
            const qint64 skipped = std::min(size, m_dataLeft);
            if (m_extendedHeader)
                m_inflater->extendedHeader.append(data, skipped);
            m_dataLeft -= skipped;
            data += skipped;
            size -= skipped;
            continue;
        }
        const int taken = int(std::min<qint64>(size, blockSize - m_blockFill));
        std::memcpy(m_block + m_blockFill, data, size_t(taken));
        m_blockFill += taken;
        data += taken;
        size -= taken;
        if (m_blockFill < blockSize)
            break;
        m_blockFill = 0;
        if (!inspectHeader(m_block))
            return false;
    }
    return true;
}

bool ArchiveGauge::inspectHeader(const unsigned char *block)
{
    // A pax header seen before this one speaks of this entry.
    QByteArray extended;
    extended.swap(m_inflater->extendedHeader);
    m_extendedHeader = false;

    if (std::all_of(block, block + blockSize, [](unsigned char c) { return c == 0; })) {
        m_endSeen = true;
        return true;
    }
    if (!checksumMatches(block))
        return fail(tr("Downloaded file is not an archive"));

    const char type = char(block[156]);
    const qint64 size = numericField(block + 124, 12);
    if (size < 0)
        return fail(tr("Downloaded file is not an archive"));
    // Sparse files take more room on disk than the stream shows.
    if (type == 'S' || extended.contains("GNU.sparse"))
        return fail(tr("The archive holds sparse files"));

    switch (type) {
    case 'x':
    case 'g':
    case 'L':
    case 'K':
        // Names and attributes of the next entry, not an entry of its own.
        if (size > extendedHeaderLimit)
            return fail(tr("Downloaded file is not an archive"));
        m_extendedHeader = true;
        break;
    default:
        if (++m_entries > m_limits.entries)
            return fail(tr("The archive holds more than %1 entries").arg(m_limits.entries));
        break;
    }
    if (size > m_limits.absolute)
        return fail(tr("The archive unpacks to more than %1 MiB").arg(m_limits.absolute / (1024 * 1024)));

    // Links, devices, folders and FIFOs carry no data, whatever their size field says.
    const bool hasData = !(type == '1' || type == '2' || type == '3' || type == '4' || type == '5'
                           || type == '6');
    m_dataLeft = hasData ? (size + blockSize - 1) / blockSize * blockSize : 0;
    return true;
}

} // namespace Tidepool::Internal
