#pragma once

#include "archivegauge.h"

#include <QByteArray>
#include <QString>

#include <memory>

QT_BEGIN_NAMESPACE
class QFile;
QT_END_NAMESPACE

namespace Tidepool::Internal {

// One archive on its way to disk: each piece goes to a file of the download folder as it
// arrives, and through an ArchiveGauge, so that memory stays the same whatever the archive's
// size. Used on the thread of the download chain; the file is deleted with the object unless it
// was taken.
class ArchiveDownload
{
public:
    // The file is "<folder>/<baseName>-XXXXXX.tar.gz".
    ArchiveDownload(const QString &folder, const QString &baseName);
    ~ArchiveDownload();
    ArchiveDownload(const ArchiveDownload &) = delete;
    ArchiveDownload &operator=(const ArchiveDownload &) = delete;

    bool open();
    // False once the piece cannot be written or the gauge refuses the archive; error() says why.
    bool write(const QByteArray &bytes);
    // The whole archive has arrived: the file is complete and closed, and the gauge found one
    // whole archive.
    bool finish();
    QString error() const { return m_error; }
    qint64 size() const { return m_gauge.compressedBytes(); }

    // The finished file, now the caller's to delete; empty before finish() succeeded.
    QString takeFile();
    // The download failed: its file goes now, before anyone hears of the failure.
    void discard();

private:
    QString m_folder;
    QString m_baseName;
    QString m_fileName;
    std::unique_ptr<QFile> m_file;
    ArchiveGauge m_gauge;
    bool m_finished = false;
    QString m_error;
};

} // namespace Tidepool::Internal
