#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>

namespace Tidepool::Internal {

// One example offered by an online repository: the GitLab project object as received, plus the
// archive and avatar image downloaded for it. Shared between the GUI thread and the download
// threads; the archive bytes and the image are each guarded by their own mutex.
class Example
{
public:
    explicit Example(const QJsonObject &json);

    const QJsonObject &json() const { return m_json; }
    QString name() const;
    bool isValid() const;
    QDateTime lastActivity() const;
    QStringList tags() const;

    QByteArray data() const;
    void setData(const QByteArray &bytes);

    QImage image() const;
    // The image as the bytes of a PNG file, encoded by setImage(): a download chain sets the image
    // on its own thread, and encoding takes longer than anything else the GUI thread does for an
    // installation.
    QByteArray imageFile() const;
    void setImage(const QByteArray &bytes);

private:
    const QJsonObject m_json;
    QByteArray m_data;
    mutable QMutex m_dataMutex;
    QImage m_image;
    QByteArray m_imageFile;
    mutable QMutex m_imageMutex;
};

} // namespace Tidepool::Internal
