#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUrl>

namespace LocalGitLab {

struct GroupRecord;
struct ProjectRecord;

// How a group appears in answers: its own record plus what the hierarchy adds.
struct GroupView
{
    const GroupRecord *group = nullptr;
    QString fullName;       // "Parent / Child"
    QJsonValue parentId;    // null for a top-level group
};

// JSON entities in the shapes GitLab's REST API v4 uses.
namespace Entities {

QString timestamp(const QDateTime &time);
QString joinUrl(const QUrl &base, const QString &path);

QJsonObject group(const GroupView &view, const QUrl &base);
QJsonObject project(const ProjectRecord &project, const GroupView &namespaceView, const QUrl &base,
                    const QString &avatarUrl);

// Error bodies: {"message": "..."} for API errors, {"error": "..."} for unknown routes.
QByteArray messageBody(const QString &message);
QByteArray unknownRouteBody();
QByteArray errorBodyForStatus(int status, bool archive);
QByteArray reasonPhrase(int status);

QByteArray htmlPage(const QString &title, const QString &bodyHtml);

} // namespace Entities
} // namespace LocalGitLab
