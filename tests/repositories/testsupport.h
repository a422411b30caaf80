#pragma once

// Helpers shared by the suites that talk to the local GitLab server.

#include "repositories/apiclient.h"
#include "testarchive.h"
#include "testimage.h"

#include <gitlabserver.h>

#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

namespace TestSupport {

using namespace Tidepool::Internal;
using LocalGitLab::Fault;
using LocalGitLab::Route;

inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString pathOf(const Repository::ExamplePtr &example)
{
    return example->json().value("path").toString();
}

// A client's statuses ("status:<text>") and deliveries ("downloaded:<path>", from another thread
// "off-thread:<path>") in order. Of "Error transferring <url> - server replied: <reason>" only the
// reason is kept: the URL holds the server's random port.
class ClientEvents : public QObject
{
public:
    explicit ClientEvents(ApiClient *client)
    {
        connect(client, &ApiClient::statusChanged, this, [this](QString status) {
            static const QRegularExpression httpError(
                "^Network error: Error transferring \\S+ - server replied: ");
            events.append("status:" + status.replace(httpError, "Network error: HTTP "));
        });
        connect(client, &ApiClient::downloaded, this, [this](const Repository::ExamplePtr &e) {
            events.append((QThread::currentThread() == thread() ? "downloaded:" : "off-thread:")
                          + pathOf(e));
        }, Qt::DirectConnection);
    }

    QStringList events;
};

// A running local server with the group "examples"; tests add projects and faults.
struct ServerFixture
{
    LocalGitLab::Server server;
    QUrl baseUrl = server.start();
    qint64 groupId = server.addGroup(QStringLiteral("examples"));

    QUrl repositoryUrl() const { return QUrl(baseUrl.toString() + QStringLiteral("/examples")); }

    qint64 addProject(const QString &path, const QString &name = {}, bool avatar = true,
                      const QColor &color = Qt::darkCyan, QSize avatarSize = {16, 16})
    {
        LocalGitLab::ProjectData data;
        data.path = path;
        data.name = name.isEmpty() ? path : name;
        if (avatar) {
            data.avatar = TestImage::png(avatarSize.width(), avatarSize.height(), color);
            data.avatarFileName = QStringLiteral("logo.png");
        }
        return server.addProject(groupId, data);
    }

    QHash<QString, Repository::ExamplePtr> listed(ApiClient &client)
    {
        QSignalSpy fetched(&client, &ApiClient::fetched);
        QObject::connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);
        fetched.wait(5000);
        QHash<QString, Repository::ExamplePtr> result;
        for (const auto &example : fetched.value(0).value(0).value<Repository::Examples>())
            result.insert(pathOf(example), example);
        return result;
    }
};

} // namespace TestSupport

Q_DECLARE_METATYPE(LocalGitLab::Fault)
Q_DECLARE_METATYPE(LocalGitLab::Route)
