#include "example.h"

#include "plugin/settings.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QMutexLocker>

namespace Tidepool::Internal {

Example::Example(const QJsonObject &json)
    : m_json(json)
{}

QString Example::name() const
{
    return m_json.value(QLatin1String("name")).toString();
}

bool Example::isValid() const
{
    if (m_json.value(QLatin1String("id")).toDouble() == 0)
        return false;
    if (name().isEmpty())
        return false;
    if (m_json.value(QLatin1String("web_url")).toString().isEmpty())
        return false;
    // The path names the example's folder on disk, which is later replaced and removed
    // recursively: it has to be one plain folder name inside the repository folder.
    return isSafeFolderName(m_json.value(QLatin1String("path")).toString());
}

QDateTime Example::lastActivity() const
{
    return QDateTime::fromString(m_json.value(QLatin1String("last_activity_at")).toString(),
                                 Qt::ISODate);
}

QStringList Example::tags() const
{
    QStringList result;
    const QJsonArray tagList = m_json.value(QLatin1String("tag_list")).toArray();
    for (const QJsonValue &tag : tagList)
        result.append(tag.toString());
    if (result.isEmpty())
        result = {QStringLiteral("Qt"), QCoreApplication::translate("QObject", "example")};
    return result;
}

Example::~Example()
{
    // Archives that nobody took: their download ended after the service stopped listening.
    for (const QString &file : std::as_const(m_archiveFiles))
        QFile::remove(file);
}

void Example::addArchiveFile(const QString &path)
{
    QMutexLocker locker(&m_dataMutex);
    m_archiveFiles.append(path);
}

QString Example::takeArchiveFile()
{
    QMutexLocker locker(&m_dataMutex);
    return m_archiveFiles.isEmpty() ? QString() : m_archiveFiles.takeFirst();
}

QImage Example::image() const
{
    QMutexLocker locker(&m_imageMutex);
    return m_image;
}

void Example::setImage(const QByteArray &bytes)
{
    // Decode and scale before locking, so that readers never wait for the decoder.
    QImage image = QImage::fromData(bytes);
    if (!image.isNull()) {
        image = image.scaled(128, 128, Qt::KeepAspectRatio, Qt::FastTransformation);
        // The record is no QObject: its texts use the generic context.
        image.setText(QCoreApplication::translate("QObject", "Description"),
                      QCoreApplication::translate(
                          "QObject",
                          "This file is used by SDK to show image for example inside "
                          "Welcome screen.\nIt is not the part of the example."));
    }
    QByteArray file;
    if (!image.isNull()) {
        QBuffer buffer(&file);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
            file.clear();
    }
    QMutexLocker locker(&m_imageMutex);
    m_image = image;
    m_imageFile = file;
}

QByteArray Example::imageFile() const
{
    QMutexLocker locker(&m_imageMutex);
    return m_imageFile;
}

} // namespace Tidepool::Internal
