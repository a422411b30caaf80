#pragma once

#include <QString>

#include <atomic>
#include <functional>

namespace Utils::Internal {

// How a source file is unpacked: as an archive of entries, or as one gzip-compressed file.
enum class ArchiveKind { Archive, GZipFile };

struct ArchiveProbe
{
    bool ok = false;
    ArchiveKind kind = ArchiveKind::Archive;
    int format = 0; // libarchive format code
    int filter = 0; // libarchive filter code of the outermost filter
};

// Reads the first header of the file; ok only for a file libarchive can read as an archive.
ArchiveProbe probeArchive(const QString &sourceFile);

struct ExtractionRequest
{
    QString sourceFile;
    QString destDir;
    QString gzipFileDestName;
    ArchiveKind kind = ArchiveKind::Archive;
    qint64 maxTotalBytes = 0;
    qint64 maxEntries = 0;
};

// Unpacks one archive into a folder, refusing every entry that would land outside it. Blocking;
// meant for a worker thread. Reports one line per entry, and a line saying why when it stops.
class ArchiveExtractor
{
public:
    using Output = std::function<void(const QString &)>;

    ArchiveExtractor(const ExtractionRequest &request, const std::atomic_bool &canceled,
                     const Output &output);

    bool run();

private:
    bool extractArchive();
    bool extractGZipFile();
    bool fail(const QString &message);

    ExtractionRequest m_request;
    const std::atomic_bool &m_canceled;
    Output m_output;
};

} // namespace Utils::Internal
