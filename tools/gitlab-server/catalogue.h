#pragma once

#include "gitlabserver.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>

#include <optional>

namespace LocalGitLab {

struct GroupRecord
{
    qint64 id = 0;
    QString fullPath;
    QString name;
    QString description;
    QDateTime createdAt;
    QHash<QString, QJsonValue> overrides;
};

struct ProjectRecord
{
    qint64 id = 0;
    qint64 groupId = 0;
    QString path;
    QString name;
    QString description;
    QStringList topics;
    QDateTime lastActivity;
    QDateTime createdAt;
    QString defaultBranch;
    QMap<QString, QByteArray> files;
    QMap<QString, QDateTime> fileTimes;
    QSet<QString> executables;
    QMap<QString, QString> symlinks;
    QByteArray avatar;
    QString avatarFileName;
    QHash<QString, QJsonValue> overrides;
    std::optional<QJsonValue> raw;
    QByteArray archiveOverride;
    quint64 version = 0;
    QString sha;
};

// What it takes to build one archive, copied out of the catalogue so that the build runs
// without the lock.
struct ArchiveInput
{
    QString prefix;    // the single top-level folder
    QString sha;
    QDateTime commitTime;
    QMap<QString, QByteArray> files;
    QMap<QString, QDateTime> fileTimes;
    QSet<QString> executables;
    QMap<QString, QString> symlinks;
};

struct ArchiveRequest
{
    enum Outcome { ProjectNotFound, FileNotFound, Override, Cached, Build } outcome = ProjectNotFound;
    QByteArray bytes;      // Override or Cached
    QString fileName;      // for Content-Disposition
    QByteArray cacheKey;   // Build
    ArchiveInput input;    // Build
};

// The groups and projects the server knows; every member is thread-safe.
class Catalogue
{
public:
    enum class Format { TarGz, Tar, Zip };

    void clear();
    bool loadFolder(const QString &rootDir, QString *errorMessage);

    qint64 addGroup(const QString &fullPath, const QString &name, qint64 id, const QString &description);
    qint64 addProject(qint64 groupId, const ProjectData &data);
    bool removeProject(qint64 projectId);
    void setProjectFiles(qint64 projectId, const QMap<QString, QByteArray> &files,
                         const QDateTime &lastActivity, const QMap<QString, QDateTime> &fileTimes);
    void setLastActivity(qint64 projectId, const QDateTime &lastActivity);
    void setTopics(qint64 projectId, const QStringList &topics);
    void setDescription(qint64 projectId, const QString &description);
    void setAvatar(qint64 projectId, const QByteArray &bytes, const QString &fileName);
    void setProjectField(qint64 projectId, const QString &key, const QJsonValue &value);
    void setProjectJson(qint64 projectId, const QJsonValue &raw);
    void setGroupField(qint64 groupId, const QString &key, const QJsonValue &value);
    void setArchiveOverride(qint64 projectId, const QByteArray &bytes);

    QList<qint64> groupIds() const;
    QList<qint64> projectIds(qint64 groupId) const;
    qint64 groupId(const QString &fullPath) const;
    qint64 projectId(const QString &pathWithNamespace) const;
    QString commitSha(qint64 projectId) const;
    QString archiveFolderName(qint64 projectId, const QString &ref) const;
    QUrl avatarUrl(qint64 projectId, const QUrl &base) const;

    // Request side. "idOrPath" is the :id of a route: a number or a URL-encoded full path.
    QJsonArray searchGroups(const QString &search, const QUrl &base) const;
    std::optional<QJsonObject> groupDetail(const QString &idOrPath, const QUrl &base,
                                           bool withProjects) const;
    // nullopt: no such group.
    std::optional<QJsonArray> groupProjects(const QString &idOrPath, const QUrl &base,
                                            const QString &orderBy, bool ascending) const;
    std::optional<QJsonValue> project(const QString &idOrPath, const QUrl &base) const;
    ArchiveRequest archive(const QString &idOrPath, const QString &ref, Format format) const;
    void storeArchive(const QByteArray &cacheKey, const QByteArray &bytes);
    // The avatar bytes and their content type; nullopt when there is no such file.
    std::optional<std::pair<QByteArray, QByteArray>> avatar(qint64 projectId, const QString &fileName) const;

    int archiveBuildCount() const;
    void countArchiveBuild();

    static QString extension(Format format);

private:
    const GroupRecord *findGroupLocked(const QString &idOrPath) const;
    const ProjectRecord *findProjectLocked(const QString &idOrPath) const;
    QJsonObject groupJsonLocked(const GroupRecord &group, const QUrl &base) const;
    QJsonValue projectJsonLocked(const ProjectRecord &project, const QUrl &base) const;
    QString archivePrefixLocked(const ProjectRecord &project, const QString &ref) const;
    qint64 freeGroupIdLocked(qint64 wanted) const;
    qint64 freeProjectIdLocked(qint64 wanted) const;
    static void refreshVersion(ProjectRecord &project);

    mutable QMutex m_mutex;
    QMap<qint64, GroupRecord> m_groups;
    QMap<qint64, ProjectRecord> m_projects;
    QHash<QByteArray, QByteArray> m_archiveCache;
    int m_archiveBuilds = 0;
};

} // namespace LocalGitLab
