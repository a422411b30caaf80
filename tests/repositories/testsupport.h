#pragma once

// Helpers shared by the suites that talk to the local GitLab server.

#include "repositories/apiclient.h"

#include <gitlabserver.h>

#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace TestSupport {

using Tidepool::Internal::ApiClient;
using Tidepool::Internal::Repository;

inline QByteArray png(int width, int height, const QColor &color = Qt::darkCyan)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Qt words an HTTP error answer as "Error transferring <url> - server replied: <reason>"; the
// URL holds the server's random port, so tests compare only the reason.
inline QString normalized(const QString &status)
{
    static const QRegularExpression httpError(
        QStringLiteral("^Network error: Error transferring \\S+ - server replied: (.*)$"));
    const QRegularExpressionMatch match = httpError.match(status);
    return match.hasMatch() ? QStringLiteral("Network error: HTTP ") + match.captured(1) : status;
}

// Collects the client's messages (category "zel.tidepool.plugin.api", switched on for the
// capture's life) from every thread.
class LogCapture
{
public:
    LogCapture()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("zel.tidepool.plugin.api.debug=true"));
        s_instance = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }

    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_instance = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }

    QStringList lines() const
    {
        QMutexLocker locker(&m_mutex);
        return m_lines;
    }

    bool contains(const QString &line) const { return lines().contains(line); }

    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    void clear()
    {
        QMutexLocker locker(&m_mutex);
        m_lines.clear();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        LogCapture *self = s_instance;
        if (self && qstrcmp(context.category, "zel.tidepool.plugin.api") == 0) {
            QMutexLocker locker(&self->m_mutex);
            self->m_lines.append(text);
            return;
        }
        if (self && self->m_previous)
            self->m_previous(type, context, text);
    }

    static inline LogCapture *s_instance = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// Records, on the test's thread and in arrival order, the statuses ("status:<text>", HTTP errors
// normalized) and deliveries ("downloaded:<path>") of one client; also notes on which thread
// every delivery was emitted.
class ClientEvents : public QObject
{
public:
    explicit ClientEvents(ApiClient *client)
    {
        connect(client, &ApiClient::statusChanged, this, [this](const QString &status) {
            m_events.append(QStringLiteral("status:") + normalized(status));
        });
        connect(client, &ApiClient::downloaded, this, [this](const Repository::ExamplePtr &e) {
            m_events.append(QStringLiteral("downloaded:") + e->json().value("path").toString());
            m_delivered.append(e);
        });
        connect(
            client, &ApiClient::downloaded, client,
            [this](const Repository::ExamplePtr &) {
                QMutexLocker locker(&m_mutex);
                if (QThread::currentThread() != thread())
                    ++m_offThreadDeliveries;
            },
            Qt::DirectConnection);
    }

    QStringList events() const { return m_events; }
    QStringList statuses() const
    {
        QStringList result;
        for (const QString &event : m_events) {
            if (event.startsWith(QLatin1String("status:")))
                result.append(event.mid(7));
        }
        return result;
    }
    Repository::Examples delivered() const { return m_delivered; }
    int offThreadDeliveries() const
    {
        QMutexLocker locker(&m_mutex);
        return m_offThreadDeliveries;
    }
    void clear() { m_events.clear(); m_delivered.clear(); }

private:
    QStringList m_events;
    Repository::Examples m_delivered;
    mutable QMutex m_mutex;
    int m_offThreadDeliveries = 0;
};

// A running local server with one group; tests add projects and faults.
struct ServerFixture
{
    LocalGitLab::Server server;
    QUrl baseUrl;
    qint64 groupId = 0;

    explicit ServerFixture(const QString &groupPath = QStringLiteral("examples"))
    {
        baseUrl = server.start();
        groupId = server.addGroup(groupPath);
    }

    QUrl repositoryUrl(const QString &path = QStringLiteral("/examples")) const
    {
        QUrl url = baseUrl;
        url.setPath(path);
        return url;
    }

    qint64 addProject(const QString &path, const QString &name = {}, bool avatar = true,
                      const QColor &color = Qt::darkCyan, int avatarSize = 16)
    {
        LocalGitLab::ProjectData spec;
        spec.path = path;
        spec.name = name.isEmpty() ? path : name;
        spec.description = QStringLiteral("The %1 example").arg(path);
        spec.files.insert(path + QStringLiteral(".pro"), "TEMPLATE = app\n");
        spec.files.insert(QStringLiteral("main.cpp"), "int main() { return 0; }\n" + path.toUtf8());
        if (avatar) {
            spec.avatar = png(avatarSize, avatarSize, color);
            spec.avatarFileName = QStringLiteral("logo.png");
        }
        return server.addProject(groupId, spec);
    }
};

} // namespace TestSupport
