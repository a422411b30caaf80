#include "gitlabserver.h"

#include "catalogue.h"
#include "httpworker.h"
#include "traffic.h"

#include <QMutex>
#include <QThread>

namespace LocalGitLab {

static Fault faultOf(Fault::Kind kind)
{
    Fault fault;
    fault.kind = kind;
    return fault;
}

Fault Fault::delay(int ms)
{
    return faultOf(None).after(ms);
}

Fault Fault::httpStatus(int status, int retryAfterSeconds)
{
    Fault fault = faultOf(Status);
    fault.status = status;
    fault.retryAfterSeconds = retryAfterSeconds;
    return fault;
}

Fault Fault::hangBeforeHeaders() { return faultOf(HangBeforeHeaders); }
Fault Fault::hangMidBody() { return faultOf(HangMidBody); }
Fault Fault::reset() { return faultOf(Reset); }
Fault Fault::truncate() { return faultOf(Truncate); }
Fault Fault::corrupt() { return faultOf(Corrupt); }
Fault Fault::invalidJson() { return faultOf(InvalidJson); }
Fault Fault::html() { return faultOf(Html); }
Fault Fault::redirectLoop() { return faultOf(RedirectLoop); }

Fault Fault::redirect(const QUrl &location)
{
    Fault fault = faultOf(Redirect);
    fault.location = location;
    return fault;
}

Fault Fault::slowBody(int bytesPerSecond)
{
    Fault fault = faultOf(SlowBody);
    fault.bytesPerSecond = std::max(bytesPerSecond, 1);
    return fault;
}

Fault Fault::after(int ms) const
{
    Fault fault = *this;
    fault.delayMs = std::max(ms, 0);
    return fault;
}

class Server::Private
{
public:
    Catalogue catalogue;
    Traffic traffic;
    mutable QMutex lifecycle; // start() and stop() against each other and baseUrl()
    QThread *thread = nullptr;
    HttpWorker *worker = nullptr;
    QUrl base;
};

Server::Server()
    : d(std::make_unique<Private>())
{}

Server::~Server()
{
    stop();
}

QUrl Server::start(quint16 port, const QHostAddress &host)
{
    QMutexLocker lock(&d->lifecycle);
    if (d->thread)
        return d->base;
    d->thread = new QThread;
    d->thread->setObjectName(QStringLiteral("LocalGitLab"));
    d->worker = new HttpWorker(&d->catalogue, &d->traffic);
    d->worker->moveToThread(d->thread);
    // The worker dies on its own thread once that thread's loop has ended.
    QObject::connect(d->thread, &QThread::finished, d->worker, &QObject::deleteLater);
    d->thread->start();

    quint16 bound = 0;
    HttpWorker *worker = d->worker;
    QMetaObject::invokeMethod(worker, [&] { bound = worker->listen(host, port); },
                              Qt::BlockingQueuedConnection);
    if (bound == 0) {
        lock.unlock();
        stop();
        return {};
    }
    QUrl base;
    base.setScheme(QStringLiteral("http"));
    base.setHost(host.toString());
    base.setPort(bound);
    d->base = base;
    return base;
}

void Server::stop()
{
    QMutexLocker lock(&d->lifecycle);
    if (!d->thread)
        return;
    HttpWorker *worker = d->worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->shutdown(); }, Qt::BlockingQueuedConnection);
    d->thread->quit();
    d->thread->wait();
    delete d->thread;
    d->thread = nullptr;
    d->worker = nullptr;
    d->base.clear();
}

QUrl Server::baseUrl() const
{
    QMutexLocker lock(&d->lifecycle);
    return d->base;
}

bool Server::isRunning() const
{
    QMutexLocker lock(&d->lifecycle);
    return d->thread != nullptr;
}

bool Server::loadCatalogue(const QString &rootDir, QString *errorMessage)
{
    return d->catalogue.loadFolder(rootDir, errorMessage);
}

qint64 Server::addGroup(const QString &fullPath, const QString &name, qint64 id, const QString &description)
{
    return d->catalogue.addGroup(fullPath, name, id, description);
}

qint64 Server::addProject(qint64 groupId, const ProjectData &project)
{
    return d->catalogue.addProject(groupId, project);
}

bool Server::removeProject(qint64 projectId)
{
    return d->catalogue.removeProject(projectId);
}

void Server::setProjectFiles(qint64 projectId, const QMap<QString, QByteArray> &files,
                             const QDateTime &lastActivity, const QMap<QString, QDateTime> &fileTimes)
{
    d->catalogue.setProjectFiles(projectId, files, lastActivity, fileTimes);
}

void Server::setLastActivity(qint64 projectId, const QDateTime &lastActivity)
{
    d->catalogue.setLastActivity(projectId, lastActivity);
}

void Server::setTopics(qint64 projectId, const QStringList &topics)
{
    d->catalogue.setTopics(projectId, topics);
}

void Server::setDescription(qint64 projectId, const QString &description)
{
    d->catalogue.setDescription(projectId, description);
}

void Server::setAvatar(qint64 projectId, const QByteArray &bytes, const QString &fileName)
{
    d->catalogue.setAvatar(projectId, bytes, fileName);
}

void Server::setProjectField(qint64 projectId, const QString &key, const QJsonValue &value)
{
    d->catalogue.setProjectField(projectId, key, value);
}

void Server::setProjectJson(qint64 projectId, const QJsonValue &raw)
{
    d->catalogue.setProjectJson(projectId, raw);
}

void Server::setGroupField(qint64 groupId, const QString &key, const QJsonValue &value)
{
    d->catalogue.setGroupField(groupId, key, value);
}

void Server::setArchiveOverride(qint64 projectId, const QByteArray &bytes)
{
    d->catalogue.setArchiveOverride(projectId, bytes);
}

QList<qint64> Server::groupIds() const
{
    return d->catalogue.groupIds();
}

QList<qint64> Server::projectIds(qint64 groupId) const
{
    return d->catalogue.projectIds(groupId);
}

qint64 Server::groupId(const QString &fullPath) const
{
    return d->catalogue.groupId(fullPath);
}

qint64 Server::projectId(const QString &pathWithNamespace) const
{
    return d->catalogue.projectId(pathWithNamespace);
}

QString Server::commitSha(qint64 projectId) const
{
    return d->catalogue.commitSha(projectId);
}

QString Server::archiveFolderName(qint64 projectId, const QString &ref) const
{
    return d->catalogue.archiveFolderName(projectId, ref);
}

QUrl Server::avatarUrl(qint64 projectId) const
{
    return d->catalogue.avatarUrl(projectId, baseUrl());
}

int Server::archiveBuildCount() const
{
    return d->catalogue.archiveBuildCount();
}

int Server::addFault(Route route, const Fault &fault, int times)
{
    return d->traffic.addFault(route, std::nullopt, fault, times);
}

int Server::addFault(const QRegularExpression &pattern, const Fault &fault, int times)
{
    return d->traffic.addFault(std::nullopt, pattern, fault, times);
}

void Server::removeFault(int faultId)
{
    d->traffic.removeFault(faultId);
}

void Server::clearFaults()
{
    d->traffic.clearFaults();
}

QStringList Server::requestLog() const
{
    return d->traffic.log();
}

int Server::requestCount(Route route) const
{
    return d->traffic.count(route);
}

void Server::clearRequestLog()
{
    d->traffic.clearLog();
}

int Server::openConnections() const
{
    return d->traffic.openConnections();
}

} // namespace LocalGitLab
