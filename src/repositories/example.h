#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>

namespace Tidepool::Internal {

// One example offered by an online repository: the GitLab project object as received, plus the
// archive files and avatar image downloaded for it. Shared between the GUI thread and the
// download threads; the archive files and the image are each guarded by their own mutex.
class Example
{
public:
    explicit Example(const QJsonObject &json);
    ~Example();
    Example(const Example &) = delete;
    Example &operator=(const Example &) = delete;

    const QJsonObject &json() const { return m_json; }
    QString name() const;
    bool isValid() const;
    QDateTime lastActivity() const;
    QStringList tags() const;

    // Downloaded archives waiting to be unpacked, oldest first. Each is taken once, by whoever
    // unpacks it, and is then theirs to delete; those never taken go with the record.
    void addArchiveFile(const QString &path);
    QString takeArchiveFile();

    QImage image() const;
    // The image as the bytes of a PNG file, encoded by setImage(): a download chain sets the image
    // on its own thread, and encoding takes longer than anything else the GUI thread does for an
    // installation.
    QByteArray imageFile() const;
    void setImage(const QByteArray &bytes);

private:
    const QJsonObject m_json;
    QStringList m_archiveFiles;
    mutable QMutex m_dataMutex;
    QImage m_image;
    QByteArray m_imageFile;
    mutable QMutex m_imageMutex;
};

} // namespace Tidepool::Internal
