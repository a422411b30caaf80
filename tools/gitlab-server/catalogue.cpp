#include "catalogue.h"

#include "cataloguefolder.h"
#include "entities.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <algorithm>

namespace LocalGitLab {

// GitLab's group search: double-quoted chunks are single terms, the rest splits on blanks, terms
// shorter than three characters are dropped, every remaining term must occur (case-insensitively)
// in the full path or every one in the full name. Without any usable term the whole query must
// equal the path or name; a short quoted query therefore keeps its quotes and finds nothing.
static bool searchMatches(const QString &query, const QString &fullPath, const QString &fullName)
{
    const QString squished = query.simplified();
    if (squished.isEmpty())
        return true;
    static const QRegularExpression quotedTerm(QStringLiteral("(?<=\\A| )\"[^\"]+\"(?= |\\z)"));
    QStringList quoted;
    QString rest = squished;
    for (auto it = quotedTerm.globalMatch(squished); it.hasNext();)
        quoted.append(it.next().captured());
    for (const QString &term : std::as_const(quoted))
        rest.replace(term, QString());
    QStringList terms = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &term : std::as_const(quoted))
        terms.append(term.mid(1, term.size() - 2));
    terms.removeIf([](const QString &term) { return term.size() < 3; });

    const auto columnMatches = [&](const QString &column) {
        if (terms.isEmpty())
            return column.compare(squished, Qt::CaseInsensitive) == 0;
        return std::all_of(terms.cbegin(), terms.cend(), [&](const QString &term) {
            return column.contains(term, Qt::CaseInsensitive);
        });
    };
    return columnMatches(fullPath) || columnMatches(fullName);
}

static QByteArray mimeTypeForImage(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("gif"))
        return "image/gif";
    if (suffix == QLatin1String("bmp"))
        return "image/bmp";
    if (suffix == QLatin1String("ico"))
        return "image/vnd.microsoft.icon";
    if (suffix == QLatin1String("webp"))
        return "image/webp";
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return "image/tiff";
    return "application/octet-stream";
}

static QDateTime newestTime(const QMap<QString, QDateTime> &times)
{
    QDateTime newest;
    for (const QDateTime &time : times) {
        if (!newest.isValid() || time > newest)
            newest = time;
    }
    return newest;
}

static QDateTime now()
{
    return QDateTime::currentDateTimeUtc();
}

void Catalogue::clear()
{
    QMutexLocker lock(&m_mutex);
    m_groups.clear();
    m_projects.clear();
    m_archiveCache.clear();
}

bool Catalogue::loadFolder(const QString &rootDir, QString *errorMessage)
{
    QList<FolderGroup> groups;
    if (!readCatalogueFolder(rootDir, &groups, errorMessage))
        return false;
    for (const FolderGroup &group : std::as_const(groups)) {
        const qint64 groupId = addGroup(group.path, group.name, group.id, group.description);
        if (groupId == 0) {
            if (errorMessage)
                *errorMessage = QStringLiteral("Group \"%1\": its id %2 is taken").arg(group.path).arg(group.id);
            return false;
        }
        for (const ProjectData &project : group.projects) {
            if (addProject(groupId, project) == 0) {
                if (errorMessage) {
                    *errorMessage = QStringLiteral("Project \"%1/%2\": its id %3 is taken")
                                        .arg(group.path, project.path).arg(project.id);
                }
                return false;
            }
        }
    }
    return true;
}

qint64 Catalogue::freeGroupIdLocked(qint64 wanted) const
{
    if (wanted != 0)
        return m_groups.contains(wanted) ? 0 : wanted;
    return m_groups.isEmpty() ? 1 : std::max<qint64>(m_groups.lastKey() + 1, 1);
}

qint64 Catalogue::freeProjectIdLocked(qint64 wanted) const
{
    if (wanted != 0)
        return m_projects.contains(wanted) ? 0 : wanted;
    return m_projects.isEmpty() ? 1 : std::max<qint64>(m_projects.lastKey() + 1, 1);
}

qint64 Catalogue::addGroup(const QString &fullPath, const QString &name, qint64 id,
                           const QString &description)
{
    QMutexLocker lock(&m_mutex);
    if (fullPath.isEmpty() || findGroupLocked(fullPath))
        return 0;
    GroupRecord group;
    group.id = freeGroupIdLocked(id);
    if (group.id == 0)
        return 0;
    group.fullPath = fullPath;
    group.name = name.isEmpty() ? fullPath.section(QLatin1Char('/'), -1) : name;
    group.description = description;
    group.createdAt = now();
    m_groups.insert(group.id, group);
    return group.id;
}

void Catalogue::refreshVersion(ProjectRecord &project)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (auto it = project.files.cbegin(); it != project.files.cend(); ++it) {
        hash.addData(it.key().toUtf8());
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(project.executables.contains(it.key()) ? "100755 " : "100644 ");
        hash.addData(QByteArray::number(it.value().size()));
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(it.value());
    }
    for (auto it = project.symlinks.cbegin(); it != project.symlinks.cend(); ++it) {
        hash.addData(it.key().toUtf8());
        hash.addData(QByteArrayView("\0", 1));
        hash.addData("120000 ");
        hash.addData(it.value().toUtf8());
    }
    ++project.version;
    project.sha = QString::fromLatin1(hash.result().toHex());
}

qint64 Catalogue::addProject(qint64 groupId, const ProjectData &data)
{
    QMutexLocker lock(&m_mutex);
    if (!m_groups.contains(groupId) || data.path.isEmpty())
        return 0;
    for (const ProjectRecord &other : std::as_const(m_projects)) {
        if (other.groupId == groupId && other.path.compare(data.path, Qt::CaseInsensitive) == 0)
            return 0;
    }
    ProjectRecord p;
    p.id = freeProjectIdLocked(data.id);
    if (p.id == 0)
        return 0;
    p.groupId = groupId;
    p.path = data.path;
    p.name = data.name.isEmpty() ? data.path : data.name;
    p.description = data.description;
    p.topics = data.topics;
    p.createdAt = now();
    p.defaultBranch = data.defaultBranch.isEmpty() ? QStringLiteral("main") : data.defaultBranch;
    p.files = data.files;
    p.fileTimes = data.fileTimes;
    p.executables = data.executables;
    p.symlinks = data.symlinks;
    p.avatar = data.avatar;
    p.avatarFileName = data.avatarFileName;
    p.lastActivity = data.lastActivity.isValid() ? data.lastActivity : newestTime(data.fileTimes);
    if (!p.lastActivity.isValid())
        p.lastActivity = p.createdAt;
    refreshVersion(p);
    m_projects.insert(p.id, p);
    return p.id;
}

bool Catalogue::removeProject(qint64 projectId)
{
    QMutexLocker lock(&m_mutex);
    return m_projects.remove(projectId) > 0;
}

void Catalogue::setProjectFiles(qint64 projectId, const QMap<QString, QByteArray> &files,
                                const QDateTime &lastActivity, const QMap<QString, QDateTime> &fileTimes)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_projects.find(projectId);
    if (it == m_projects.end())
        return;
    it->files = files;
    it->fileTimes = fileTimes;
    it->executables.intersect(QSet<QString>(files.keyBegin(), files.keyEnd()));
    it->symlinks.clear();
    it->lastActivity = lastActivity.isValid() ? lastActivity : newestTime(fileTimes);
    if (!it->lastActivity.isValid())
        it->lastActivity = now();
    refreshVersion(*it);
}

void Catalogue::setLastActivity(qint64 projectId, const QDateTime &lastActivity)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end())
        it->lastActivity = lastActivity;
}

void Catalogue::setTopics(qint64 projectId, const QStringList &topics)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end())
        it->topics = topics;
}

void Catalogue::setDescription(qint64 projectId, const QString &description)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end())
        it->description = description;
}

void Catalogue::setAvatar(qint64 projectId, const QByteArray &bytes, const QString &fileName)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end()) {
        it->avatar = bytes;
        it->avatarFileName = bytes.isEmpty() ? QString() : QFileInfo(fileName).fileName();
    }
}

void Catalogue::setProjectField(qint64 projectId, const QString &key, const QJsonValue &value)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end())
        it->overrides.insert(key, value);
}

void Catalogue::setProjectJson(qint64 projectId, const QJsonValue &raw)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end()) {
        if (raw.isUndefined())
            it->raw.reset();
        else
            it->raw = raw;
    }
}

void Catalogue::setGroupField(qint64 groupId, const QString &key, const QJsonValue &value)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_groups.find(groupId); it != m_groups.end())
        it->overrides.insert(key, value);
}

void Catalogue::setArchiveOverride(qint64 projectId, const QByteArray &bytes)
{
    QMutexLocker lock(&m_mutex);
    if (auto it = m_projects.find(projectId); it != m_projects.end())
        it->archiveOverride = bytes;
}

QList<qint64> Catalogue::groupIds() const
{
    QMutexLocker lock(&m_mutex);
    return m_groups.keys();
}

QList<qint64> Catalogue::projectIds(qint64 groupId) const
{
    QMutexLocker lock(&m_mutex);
    QList<qint64> ids;
    for (const ProjectRecord &p : m_projects) {
        if (p.groupId == groupId)
            ids.append(p.id);
    }
    return ids;
}

qint64 Catalogue::groupId(const QString &fullPath) const
{
    QMutexLocker lock(&m_mutex);
    const GroupRecord *group = findGroupLocked(fullPath);
    return group ? group->id : 0;
}

qint64 Catalogue::projectId(const QString &pathWithNamespace) const
{
    QMutexLocker lock(&m_mutex);
    const ProjectRecord *project = findProjectLocked(pathWithNamespace);
    return project ? project->id : 0;
}

QString Catalogue::commitSha(qint64 projectId) const
{
    QMutexLocker lock(&m_mutex);
    return m_projects.value(projectId).sha;
}

QString Catalogue::archivePrefixLocked(const ProjectRecord &project, const QString &ref) const
{
    QString shownRef = ref.isEmpty() ? project.defaultBranch : ref;
    shownRef.replace(QLatin1Char('/'), QLatin1Char('-'));
    return project.path + QLatin1Char('-') + shownRef + QLatin1Char('-') + project.sha;
}

QString Catalogue::archiveFolderName(qint64 projectId, const QString &ref) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_projects.constFind(projectId);
    return it == m_projects.cend() ? QString() : archivePrefixLocked(*it, ref);
}

QUrl Catalogue::avatarUrl(qint64 projectId, const QUrl &base) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_projects.constFind(projectId);
    if (it == m_projects.cend() || it->avatar.isEmpty())
        return {};
    return QUrl(Entities::joinUrl(base, QStringLiteral("uploads/-/system/project/avatar/%1/%2")
                                            .arg(it->id).arg(it->avatarFileName)));
}

// A route's :id is a number or the URL-encoded full path; paths compare case-insensitively.
const GroupRecord *Catalogue::findGroupLocked(const QString &idOrPath) const
{
    bool isNumber = false;
    const qint64 id = idOrPath.toLongLong(&isNumber);
    if (isNumber) {
        const auto it = m_groups.constFind(id);
        return it == m_groups.cend() ? nullptr : &*it;
    }
    for (const GroupRecord &group : m_groups) {
        if (group.fullPath.compare(idOrPath, Qt::CaseInsensitive) == 0)
            return &group;
    }
    return nullptr;
}

const ProjectRecord *Catalogue::findProjectLocked(const QString &idOrPath) const
{
    bool isNumber = false;
    const qint64 id = idOrPath.toLongLong(&isNumber);
    if (isNumber) {
        const auto it = m_projects.constFind(id);
        return it == m_projects.cend() ? nullptr : &*it;
    }
    const QString groupPath = idOrPath.section(QLatin1Char('/'), 0, -2);
    const QString projectPath = idOrPath.section(QLatin1Char('/'), -1);
    const GroupRecord *group = findGroupLocked(groupPath);
    if (!group)
        return nullptr;
    for (const ProjectRecord &project : m_projects) {
        if (project.groupId == group->id && project.path.compare(projectPath, Qt::CaseInsensitive) == 0)
            return &project;
    }
    return nullptr;
}

QJsonObject Catalogue::groupJsonLocked(const GroupRecord &group, const QUrl &base) const
{
    GroupView view{&group, group.name, QJsonValue(QJsonValue::Null)};
    const QString parentPath = group.fullPath.section(QLatin1Char('/'), 0, -2);
    if (!parentPath.isEmpty()) {
        if (const GroupRecord *parent = findGroupLocked(parentPath)) {
            view.parentId = parent->id;
            view.fullName = groupJsonLocked(*parent, base).value("full_name").toString()
                            + QStringLiteral(" / ") + group.name;
        }
    }
    return Entities::group(view, base);
}

QJsonValue Catalogue::projectJsonLocked(const ProjectRecord &project, const QUrl &base) const
{
    if (project.raw)
        return *project.raw;
    const GroupRecord group = m_groups.value(project.groupId);
    const QJsonObject groupJson = groupJsonLocked(group, base);
    const GroupView view{&group, groupJson.value("full_name").toString(), groupJson.value("parent_id")};
    const QString avatar = project.avatar.isEmpty()
        ? QString()
        : Entities::joinUrl(base, QStringLiteral("uploads/-/system/project/avatar/%1/%2")
                                      .arg(project.id).arg(project.avatarFileName));
    return Entities::project(project, view, base, avatar);
}

QJsonArray Catalogue::searchGroups(const QString &search, const QUrl &base) const
{
    QMutexLocker lock(&m_mutex);
    QList<QJsonObject> hits;
    for (const GroupRecord &group : m_groups) {
        QJsonObject json = groupJsonLocked(group, base);
        if (searchMatches(search, group.fullPath, json.value("full_name").toString()))
            hits.append(json);
    }
    // GitLab orders groups by name, then by id.
    std::stable_sort(hits.begin(), hits.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value("name").toString().compare(b.value("name").toString(), Qt::CaseInsensitive) < 0;
    });
    QJsonArray result;
    for (const QJsonObject &hit : std::as_const(hits))
        result.append(hit);
    return result;
}

std::optional<QJsonObject> Catalogue::groupDetail(const QString &idOrPath, const QUrl &base,
                                                  bool withProjects) const
{
    QMutexLocker lock(&m_mutex);
    const GroupRecord *group = findGroupLocked(idOrPath);
    if (!group)
        return std::nullopt;
    QJsonObject json = groupJsonLocked(*group, base);
    json.insert("shared_with_groups", QJsonArray());
    json.insert("prevent_sharing_groups_outside_hierarchy", false);
    if (withProjects) {
        // The deprecated "projects" array holds at most 100 projects and says nothing about the rest.
        QJsonArray projects;
        for (const ProjectRecord &project : m_projects) {
            if (project.groupId != group->id)
                continue;
            if (projects.size() == 100)
                break;
            projects.append(projectJsonLocked(project, base));
        }
        json.insert("projects", projects);
        json.insert("shared_projects", QJsonArray());
    }
    return json;
}

std::optional<QJsonArray> Catalogue::groupProjects(const QString &idOrPath, const QUrl &base,
                                                   const QString &orderBy, bool ascending) const
{
    QMutexLocker lock(&m_mutex);
    const GroupRecord *group = findGroupLocked(idOrPath);
    if (!group)
        return std::nullopt;
    QList<const ProjectRecord *> projects;
    for (const ProjectRecord &project : m_projects) {
        if (project.groupId == group->id)
            projects.append(&project);
    }
    // Ties (and the default, created_at) fall back to the id, which grows with creation.
    const auto less = [&](const ProjectRecord *a, const ProjectRecord *b) {
        int order = 0;
        if (orderBy == QLatin1String("name"))
            order = a->name.compare(b->name, Qt::CaseInsensitive);
        else if (orderBy == QLatin1String("path"))
            order = a->path.compare(b->path, Qt::CaseInsensitive);
        else if (orderBy == QLatin1String("last_activity_at") || orderBy == QLatin1String("updated_at"))
            order = a->lastActivity < b->lastActivity ? -1 : (b->lastActivity < a->lastActivity ? 1 : 0);
        if (order == 0)
            order = a->id < b->id ? -1 : (a->id > b->id ? 1 : 0);
        return ascending ? order < 0 : order > 0;
    };
    std::sort(projects.begin(), projects.end(), less);
    QJsonArray result;
    for (const ProjectRecord *project : std::as_const(projects))
        result.append(projectJsonLocked(*project, base));
    return result;
}

std::optional<QJsonValue> Catalogue::project(const QString &idOrPath, const QUrl &base) const
{
    QMutexLocker lock(&m_mutex);
    const ProjectRecord *project = findProjectLocked(idOrPath);
    if (!project)
        return std::nullopt;
    return projectJsonLocked(*project, base);
}

QString Catalogue::extension(Format format)
{
    switch (format) {
    case Format::Tar: return QStringLiteral("tar");
    case Format::Zip: return QStringLiteral("zip");
    case Format::TarGz: break;
    }
    return QStringLiteral("tar.gz");
}

ArchiveRequest Catalogue::archive(const QString &idOrPath, const QString &ref, Format format) const
{
    QMutexLocker lock(&m_mutex);
    ArchiveRequest request;
    const ProjectRecord *project = findProjectLocked(idOrPath);
    if (!project)
        return request;
    // Only the default branch exists, reachable by its name, HEAD or the commit id.
    if (!ref.isEmpty() && ref != project->defaultBranch && ref != QLatin1String("HEAD") && ref != project->sha) {
        request.outcome = ArchiveRequest::FileNotFound;
        return request;
    }
    const QString shownRef = ref == QLatin1String("HEAD") ? QString() : ref;
    const QString prefix = archivePrefixLocked(*project, shownRef);
    request.fileName = prefix + QLatin1Char('.') + extension(format);
    if (!project->archiveOverride.isEmpty()) {
        request.outcome = ArchiveRequest::Override;
        request.bytes = project->archiveOverride;
        return request;
    }
    if (project->files.isEmpty() && project->symlinks.isEmpty()) {
        request.outcome = ArchiveRequest::FileNotFound; // an empty repository has nothing to archive
        return request;
    }
    request.cacheKey = QStringLiteral("%1:%2:%3:%4")
                           .arg(project->id).arg(project->version).arg(int(format)).arg(prefix).toUtf8();
    const auto cached = m_archiveCache.constFind(request.cacheKey);
    if (cached != m_archiveCache.cend()) {
        request.outcome = ArchiveRequest::Cached;
        request.bytes = *cached;
        return request;
    }
    request.outcome = ArchiveRequest::Build;
    request.input.prefix = prefix;
    request.input.sha = project->sha;
    request.input.commitTime = project->lastActivity;
    request.input.files = project->files;
    request.input.fileTimes = project->fileTimes;
    request.input.executables = project->executables;
    request.input.symlinks = project->symlinks;
    return request;
}

void Catalogue::storeArchive(const QByteArray &cacheKey, const QByteArray &bytes)
{
    QMutexLocker lock(&m_mutex);
    // Keep only the current version of each project: drop what older versions left behind.
    const QByteArray projectPart = cacheKey.left(cacheKey.indexOf(':') + 1);
    const QByteArray versionPart = cacheKey.left(cacheKey.indexOf(':', projectPart.size()) + 1);
    m_archiveCache.removeIf([&](const auto &entry) {
        return entry.key().startsWith(projectPart) && !entry.key().startsWith(versionPart);
    });
    m_archiveCache.insert(cacheKey, bytes);
}

std::optional<std::pair<QByteArray, QByteArray>> Catalogue::avatar(qint64 projectId,
                                                                   const QString &fileName) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_projects.constFind(projectId);
    if (it == m_projects.cend() || it->avatar.isEmpty() || it->avatarFileName != fileName)
        return std::nullopt;
    return std::make_pair(it->avatar, mimeTypeForImage(it->avatarFileName));
}

int Catalogue::archiveBuildCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_archiveBuilds;
}

void Catalogue::countArchiveBuild()
{
    QMutexLocker lock(&m_mutex);
    ++m_archiveBuilds;
}

} // namespace LocalGitLab
