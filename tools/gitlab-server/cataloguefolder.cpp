#include "cataloguefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace LocalGitLab {

qint64 stableId(const QString &key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | quint8(digest.at(i));
    value &= 0x7fffffffu;
    return value == 0 ? 1 : qint64(value);
}

static bool fail(QString *errorMessage, const QString &text)
{
    if (errorMessage)
        *errorMessage = text;
    return false;
}

static bool readJsonObject(const QString &fileName, QJsonObject *object, QString *errorMessage)
{
    QFile file(fileName);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return fail(errorMessage, QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return fail(errorMessage, QStringLiteral("%1 is not a JSON object: %2")
                                      .arg(fileName, error.errorString()));
    }
    *object = document.object();
    return true;
}

static QString readLinkTarget(const QString &fileName)
{
    QByteArray buffer(4096, '\0');
    const ssize_t length = ::readlink(QFile::encodeName(fileName).constData(), buffer.data(),
                                      size_t(buffer.size()));
    return length < 0 ? QString() : QFile::decodeName(buffer.left(length));
}

static bool readProjectTree(const QString &dir, ProjectData *project, QString *errorMessage)
{
    QStringList pending{dir};
    const QDir root(dir);
    while (!pending.isEmpty()) {
        const QString current = pending.takeFirst();
        const QFileInfoList entries = QDir(current).entryInfoList(
            QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &info : entries) {
            const QString relative = root.relativeFilePath(info.absoluteFilePath());
            if (info.isSymLink()) {
                project->symlinks.insert(relative, readLinkTarget(info.absoluteFilePath()));
                continue;
            }
            if (info.isDir()) {
                if (info.fileName() != QLatin1String(".git"))
                    pending.append(info.absoluteFilePath());
                continue;
            }
            if (!info.isFile())
                continue;
            QFile file(info.absoluteFilePath());
            if (!file.open(QIODevice::ReadOnly)) {
                return fail(errorMessage, QStringLiteral("Cannot read %1: %2")
                                              .arg(info.absoluteFilePath(), file.errorString()));
            }
            project->files.insert(relative, file.readAll());
            project->fileTimes.insert(relative, info.lastModified().toUTC());
            if (info.isExecutable())
                project->executables.insert(relative);
        }
    }
    return true;
}

static bool readProject(const QDir &groupDir, const QString &groupPath, const QString &projectPath,
                        ProjectData *project, QString *errorMessage)
{
    project->path = projectPath;
    project->name = projectPath;
    if (!readProjectTree(groupDir.filePath(projectPath), project, errorMessage))
        return false;

    QJsonObject meta;
    if (!readJsonObject(groupDir.filePath(projectPath + QStringLiteral(".json")), &meta, errorMessage))
        return false;
    project->id = meta.value("id").toInteger(stableId(groupPath + QLatin1Char('/') + projectPath));
    project->name = meta.value("name").toString(projectPath);
    project->description = meta.value("description").toString();
    const QJsonValue topics = meta.contains("topics") ? meta.value("topics") : meta.value("tag_list");
    for (const QJsonValue &topic : topics.toArray())
        project->topics.append(topic.toString());
    project->defaultBranch = meta.value("default_branch").toString(QStringLiteral("main"));
    if (meta.contains("last_activity_at")) {
        project->lastActivity = QDateTime::fromString(meta.value("last_activity_at").toString(),
                                                      Qt::ISODateWithMs);
        if (!project->lastActivity.isValid()) {
            return fail(errorMessage, QStringLiteral("%1.json: last_activity_at is not an ISO 8601 time")
                                          .arg(groupDir.filePath(projectPath)));
        }
    }
    const QString avatar = meta.value("avatar").toString();
    if (!avatar.isEmpty()) {
        QFile file(groupDir.filePath(avatar));
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(errorMessage, QStringLiteral("Cannot read the avatar %1: %2")
                                          .arg(file.fileName(), file.errorString()));
        }
        project->avatar = file.readAll();
        project->avatarFileName = QFileInfo(avatar).fileName();
    }
    return true;
}

bool readCatalogueFolder(const QString &rootDir, QList<FolderGroup> *groups, QString *errorMessage)
{
    const QDir root(rootDir);
    if (rootDir.isEmpty() || !root.exists())
        return fail(errorMessage, QStringLiteral("No catalogue folder at \"%1\"").arg(rootDir));

    const QStringList groupPaths = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &groupPath : groupPaths) {
        const QDir groupDir(root.filePath(groupPath));
        QJsonObject meta;
        if (!readJsonObject(groupDir.filePath(QStringLiteral("group.json")), &meta, errorMessage))
            return false;
        FolderGroup group;
        group.path = groupPath;
        group.id = meta.value("id").toInteger(stableId(groupPath));
        group.name = meta.value("name").toString(groupPath);
        group.description = meta.value("description").toString();

        const QStringList projectPaths = groupDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &projectPath : projectPaths) {
            ProjectData project;
            if (!readProject(groupDir, groupPath, projectPath, &project, errorMessage))
                return false;
            group.projects.append(project);
        }
        groups->append(group);
    }
    return true;
}

} // namespace LocalGitLab
