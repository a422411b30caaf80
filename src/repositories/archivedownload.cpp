#include "archivedownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

namespace Tidepool::Internal {

static QString tr(const char *text)
{
    return QCoreApplication::translate("Tidepool::Internal::ArchiveDownload", text);
}

ArchiveDownload::ArchiveDownload(const QString &folder, const QString &baseName)
    : m_folder(folder)
    , m_baseName(baseName)
{}

ArchiveDownload::~ArchiveDownload()
{
    m_file.reset();
    if (!m_fileName.isEmpty())
        QFile::remove(m_fileName);
}

bool ArchiveDownload::open()
{
    // A file with a name from the start: an unnamed temporary file (as QTemporaryFile makes on
    // Linux) does not keep its folder from being removed as empty before it gets its name.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString lastError;
    for (int attempt = 0; attempt < 8 && !m_file; ++attempt) {
        // The folder goes when the last job in it has ended, which may be just now.
        QDir().mkpath(m_folder);
        QString suffix;
        for (int i = 0; i < 6; ++i)
            suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        auto file = std::make_unique<QFile>(m_folder + QDir::separator() + m_baseName
                                            + QLatin1Char('-') + suffix
                                            + QStringLiteral(".tar.gz"));
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_fileName = file->fileName();
            m_file = std::move(file);
        } else {
            lastError = file->errorString();
        }
    }
    if (!m_file) {
        m_error = tr("Unable to save the download in %1: %2")
                      .arg(QDir::toNativeSeparators(m_folder), lastError);
    }
    return bool(m_file);
}

bool ArchiveDownload::write(const QByteArray &bytes)
{
    if (!m_error.isEmpty() || !m_file)
        return false;
    if (bytes.isEmpty())
        return true;
    if (m_file->write(bytes) != bytes.size()) {
        m_error = tr("Unable to save the download in %1: %2")
                      .arg(QDir::toNativeSeparators(m_folder), m_file->errorString());
        return false;
    }
    if (!m_gauge.feed(bytes.constData(), bytes.size())) {
        m_error = m_gauge.error();
        return false;
    }
    return true;
}

bool ArchiveDownload::finish()
{
    if (!m_error.isEmpty() || !m_file)
        return false;
    // Written out now, so that a full disk shows here and not as a damaged archive later.
    if (!m_file->flush()) {
        m_error = tr("Unable to save the download in %1: %2")
                      .arg(QDir::toNativeSeparators(m_folder), m_file->errorString());
        return false;
    }
    m_file->close();
    m_file.reset();
    if (!m_gauge.finish()) {
        m_error = m_gauge.error();
        return false;
    }
    m_finished = true;
    return true;
}

void ArchiveDownload::discard()
{
    m_file.reset();
    m_finished = false;
    if (!m_fileName.isEmpty())
        QFile::remove(std::exchange(m_fileName, QString()));
}

QString ArchiveDownload::takeFile()
{
    if (!m_finished)
        return {};
    m_finished = false;
    return std::exchange(m_fileName, QString());
}

} // namespace Tidepool::Internal
