#include "entities.h"

#include "catalogue.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace LocalGitLab::Entities {

QString timestamp(const QDateTime &time)
{
    if (!time.isValid())
        return {};
    // Servers configured with a time zone answer with an offset; keep the one a record was given.
    const QDateTime shown = time.timeSpec() == Qt::LocalTime ? time.toUTC() : time;
    return shown.toString(Qt::ISODateWithMs);
}

QString joinUrl(const QUrl &base, const QString &path)
{
    QString text = base.toString(QUrl::FullyEncoded);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text + QLatin1Char('/') + path;
}

QJsonObject group(const GroupView &view, const QUrl &base)
{
    const GroupRecord &g = *view.group;
    const QString path = g.fullPath.section(QLatin1Char('/'), -1);
    QJsonObject o{
        {"id", g.id},
        {"web_url", joinUrl(base, QStringLiteral("groups/") + g.fullPath)},
        {"name", g.name},
        {"path", path},
        {"description", g.description},
        {"visibility", "public"},
        {"share_with_group_lock", false},
        {"require_two_factor_authentication", false},
        {"two_factor_grace_period", 48},
        {"project_creation_level", "developer"},
        {"auto_devops_enabled", QJsonValue::Null},
        {"subgroup_creation_level", "maintainer"},
        {"emails_disabled", false},
        {"emails_enabled", true},
        {"mentions_disabled", QJsonValue::Null},
        {"lfs_enabled", true},
        {"default_branch", QJsonValue::Null},
        {"default_branch_protection", 2},
        {"avatar_url", QJsonValue::Null},
        {"request_access_enabled", true},
        {"repository_storage", "default"},
        {"full_name", view.fullName},
        {"full_path", g.fullPath},
        {"file_template_project_id", QJsonValue::Null},
        {"parent_id", view.parentId},
        {"created_at", timestamp(g.createdAt)},
        {"ip_restriction_ranges", QJsonValue::Null},
    };
    for (auto it = g.overrides.cbegin(); it != g.overrides.cend(); ++it) {
        if (it.value().isUndefined())
            o.remove(it.key());
        else
            o.insert(it.key(), it.value());
    }
    return o;
}

QJsonObject project(const ProjectRecord &p, const GroupView &ns, const QUrl &base,
                    const QString &avatarUrl)
{
    const GroupRecord &g = *ns.group;
    const QString pathWithNamespace = g.fullPath + QLatin1Char('/') + p.path;
    const QString webUrl = joinUrl(base, pathWithNamespace);
    QStringList topics = p.topics;
    topics.sort();
    const QJsonArray topicArray = QJsonArray::fromStringList(topics);
    const QString readme = [&] {
        for (const QString &name : {QStringLiteral("README.md"), QStringLiteral("README")}) {
            if (p.files.contains(name))
                return webUrl + QStringLiteral("/-/blob/") + p.defaultBranch + QLatin1Char('/') + name;
        }
        return QString();
    }();

    QJsonObject o{
        {"id", p.id},
        {"description", p.description},
        {"name", p.name},
        {"name_with_namespace", ns.fullName + QStringLiteral(" / ") + p.name},
        {"path", p.path},
        {"path_with_namespace", pathWithNamespace},
        {"created_at", timestamp(p.createdAt)},
        {"default_branch", p.defaultBranch},
        {"tag_list", topicArray},
        {"topics", topicArray},
        {"ssh_url_to_repo", QStringLiteral("git@%1:%2.git").arg(base.host(), pathWithNamespace)},
        {"http_url_to_repo", webUrl + QStringLiteral(".git")},
        {"web_url", webUrl},
        {"readme_url", readme.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(readme)},
        {"forks_count", 0},
        {"avatar_url", avatarUrl.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(avatarUrl)},
        {"star_count", 0},
        {"last_activity_at", timestamp(p.lastActivity)},
        {"namespace", QJsonObject{
            {"id", g.id},
            {"name", g.name},
            {"path", g.fullPath.section(QLatin1Char('/'), -1)},
            {"kind", "group"},
            {"full_path", g.fullPath},
            {"parent_id", ns.parentId},
            {"avatar_url", QJsonValue::Null},
            {"web_url", joinUrl(base, QStringLiteral("groups/") + g.fullPath)},
        }},
        {"repository_storage", "default"},
        {"container_registry_image_prefix", QStringLiteral("registry.%1/%2").arg(base.host(), pathWithNamespace)},
        {"_links", QJsonObject{
            {"self", joinUrl(base, QStringLiteral("api/v4/projects/%1").arg(p.id))},
            {"issues", joinUrl(base, QStringLiteral("api/v4/projects/%1/issues").arg(p.id))},
            {"repo_branches", joinUrl(base, QStringLiteral("api/v4/projects/%1/repository/branches").arg(p.id))},
            {"labels", joinUrl(base, QStringLiteral("api/v4/projects/%1/labels").arg(p.id))},
            {"events", joinUrl(base, QStringLiteral("api/v4/projects/%1/events").arg(p.id))},
            {"members", joinUrl(base, QStringLiteral("api/v4/projects/%1/members").arg(p.id))},
        }},
        {"packages_enabled", true},
        {"empty_repo", p.files.isEmpty() && p.symlinks.isEmpty()},
        {"archived", false},
        {"visibility", "public"},
        {"resolve_outdated_diff_discussions", false},
        {"container_registry_enabled", true},
        {"issues_enabled", true},
        {"merge_requests_enabled", true},
        {"wiki_enabled", true},
        {"jobs_enabled", true},
        {"snippets_enabled", true},
        {"service_desk_enabled", false},
        {"can_create_merge_request_in", false},
        {"issues_access_level", "enabled"},
        {"repository_access_level", "enabled"},
        {"merge_requests_access_level", "enabled"},
        {"wiki_access_level", "enabled"},
        {"lfs_enabled", true},
        {"shared_runners_enabled", true},
        {"creator_id", 1},
        {"import_status", "none"},
        {"open_issues_count", 0},
        {"updated_at", timestamp(p.lastActivity)},
        {"public_jobs", true},
        {"shared_with_groups", QJsonArray()},
        {"only_allow_merge_if_pipeline_succeeds", false},
        {"request_access_enabled", true},
        {"merge_method", "merge"},
        {"squash_option", "default_off"},
        {"autoclose_referenced_issues", true},
        {"enforce_auth_checks_on_uploads", true},
    };
    for (auto it = p.overrides.cbegin(); it != p.overrides.cend(); ++it) {
        if (it.value().isUndefined())
            o.remove(it.key());
        else
            o.insert(it.key(), it.value());
    }
    return o;
}

QByteArray messageBody(const QString &message)
{
    return QJsonDocument(QJsonObject{{"message", message}}).toJson(QJsonDocument::Compact);
}

QByteArray unknownRouteBody()
{
    return QJsonDocument(QJsonObject{{"error", "404 Not Found"}}).toJson(QJsonDocument::Compact);
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Unknown";
    }
}

QByteArray errorBodyForStatus(int status, bool archive)
{
    if (status == 429) {
        const char *text = archive
            ? "This archive has been requested too many times. Try again later."
            : "This endpoint has been requested too many times. Try again later.";
        return QJsonDocument(QJsonObject{{"message", QJsonObject{{"error", text}}}})
            .toJson(QJsonDocument::Compact);
    }
    if (status == 404)
        return archive ? messageBody(QStringLiteral("404 File Not Found")) : unknownRouteBody();
    return messageBody(QStringLiteral("%1 %2").arg(status).arg(QString::fromLatin1(reasonPhrase(status))));
}

QByteArray htmlPage(const QString &title, const QString &bodyHtml)
{
    return QStringLiteral("<!DOCTYPE html>\n<html class=\"\" lang=\"en\">\n<head>\n"
                          "<meta charset=\"utf-8\">\n<title>%1 · GitLab</title>\n</head>\n"
                          "<body class=\"ui-indigo\">\n%2\n</body>\n</html>\n")
        .arg(title.toHtmlEscaped(), bodyHtml)
        .toUtf8();
}

} // namespace LocalGitLab::Entities
