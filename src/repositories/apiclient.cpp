#include "apiclient.h"

#include "archivedownload.h"

#include "plugin/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QSslSocket>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace Tidepool::Internal {

using ExamplePtr = Repository::ExamplePtr;

// Every request ends, even when the server stops sending: Qt aborts a transfer after this long
// without any data arriving. 30 s is generous for a JSON answer or an avatar of a few kilobytes;
// an archive gets 60 s, because a large project may pause while the server packs it. Both can be
// set for tests, and TIDEPOOL_TRANSFER_TIMEOUT_MS overrides both defaults.
static constexpr int defaultRequestTimeoutMs = 30 * 1000;
static constexpr int defaultArchiveTimeoutMs = 60 * 1000;
// A server that trickles a byte now and then never trips the inactivity timeout: a whole transfer
// is bounded as well, 5 minutes for a JSON answer or an avatar, 30 minutes for an archive.
static constexpr int defaultRequestDeadlineMs = 5 * 60 * 1000;
static constexpr int defaultArchiveDeadlineMs = 30 * 60 * 1000;

// JSON answers and images are read whole into memory; no sane page of a group listing or avatar
// comes near 32 MiB. Archives go to disk as they arrive, and are bounded too (1 GiB by default).
static constexpr qint64 jsonSizeLimit = 32 * 1024 * 1024;
static constexpr qint64 defaultArchiveSizeLimit = qint64(1024) * 1024 * 1024;
// What an archive's reply may hold in memory before the network waits for it to be written.
static constexpr qint64 archiveReadBufferSize = 1024 * 1024;
// A group listing is read 100 projects a page; one of more than 1 000 pages does not end.
static constexpr int projectsPerPage = 100;
static constexpr int maximumPages = 1000;

static int timeoutFromEnvironment(int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("TIDEPOOL_TRANSFER_TIMEOUT_MS", &ok);
    return ok && value > 0 ? value : fallback;
}

static std::atomic<int> s_requestTimeoutMs{timeoutFromEnvironment(defaultRequestTimeoutMs)};
static std::atomic<int> s_archiveTimeoutMs{timeoutFromEnvironment(defaultArchiveTimeoutMs)};
static std::atomic<qint64> s_archiveSizeLimit{defaultArchiveSizeLimit};
static std::atomic<int> s_requestDeadlineMs{defaultRequestDeadlineMs};
static std::atomic<int> s_archiveDeadlineMs{defaultArchiveDeadlineMs};

void ApiClient::setTransferDeadlines(int requestMs, int archiveMs)
{
    s_requestDeadlineMs = requestMs > 0 ? requestMs : defaultRequestDeadlineMs;
    s_archiveDeadlineMs = archiveMs > 0 ? archiveMs : defaultArchiveDeadlineMs;
}

void ApiClient::setTransferTimeouts(int requestMs, int archiveMs)
{
    s_requestTimeoutMs = requestMs > 0 ? requestMs
                                       : timeoutFromEnvironment(defaultRequestTimeoutMs);
    s_archiveTimeoutMs = archiveMs > 0 ? archiveMs
                                       : timeoutFromEnvironment(defaultArchiveTimeoutMs);
}

int ApiClient::requestTransferTimeout()
{
    return s_requestTimeoutMs;
}

int ApiClient::archiveTransferTimeout()
{
    return s_archiveTimeoutMs;
}

void ApiClient::setArchiveSizeLimit(qint64 bytes)
{
    s_archiveSizeLimit = bytes > 0 ? bytes : defaultArchiveSizeLimit;
}

qint64 ApiClient::archiveSizeLimit()
{
    return s_archiveSizeLimit;
}

// One example's download chain. Its pool thread waits in `loop` until a handler, the client's
// destruction or the application's end ends the chain; once ended, nothing touches the loop.
struct ApiClient::Chain
{
    QMutex mutex;
    QEventLoop *loop = nullptr;
    bool ended = false;

    bool isEnded()
    {
        QMutexLocker locker(&mutex);
        return ended;
    }

    void end()
    {
        QMutexLocker locker(&mutex);
        if (ended)
            return;
        ended = true;
        // The loop belongs to the pool thread: have it quit there.
        if (loop)
            QMetaObject::invokeMethod(loop, "quit", Qt::QueuedConnection);
    }

    // Runs work on the chain's own pool thread, unless the chain has ended.
    void post(std::function<void()> work)
    {
        QMutexLocker locker(&mutex);
        if (!ended && loop)
            QMetaObject::invokeMethod(loop, std::move(work), Qt::QueuedConnection);
    }
};

// Shared between the client and its download chains. `client` is null once the client is being
// destroyed; pool threads use the client only while holding `mutex` and seeing it non-null.
struct ApiClient::Shared
{
    QMutex mutex;
    ApiClient *client = nullptr;
    bool quitting = false;
    QList<std::shared_ptr<Chain>> chains;

    // Runs work(client) on the client's thread; dropped if the client goes before it runs.
    template<typename Work>
    void postToClient(Work work)
    {
        QMutexLocker locker(&mutex);
        if (ApiClient *target = client) {
            QMetaObject::invokeMethod(
                target, [target, work = std::move(work)] { work(target); }, Qt::QueuedConnection);
        }
    }
};

// The outcome of one request, taken from the reply on the reply's own thread.
struct ApiClient::Reply
{
    bool ok = false;
    QString errorText;
    // The error lies on this side (the disk, or an archive refused), not with the network.
    bool localError = false;
    QByteArray body;
    // The next page of a paginated answer, as the server's headers name it.
    QUrl nextPage;
    // An archive, on disk; its file is deleted unless taken.
    std::shared_ptr<ArchiveDownload> archive;
};

// Why a request was cut short, when it was this side that cut it.
struct ApiClient::Abort
{
    QString reason;
    bool local = false;
};

// The next page of a paginated answer: the "next" link of its Link header, or else the page its
// X-Next-Page header names, on the same address. Only a page on the same server is followed.
static QUrl nextPageOf(const QNetworkReply *reply)
{
    const QUrl current = reply->url();
    QUrl next;
    static const QRegularExpression nextLink(
        QStringLiteral("<([^>]*)>\\s*;[^,]*\\brel=\"?next\"?"));
    const QRegularExpressionMatch match =
        nextLink.match(QString::fromLatin1(reply->rawHeader("Link")));
    if (match.hasMatch()) {
        next = current.resolved(QUrl(match.captured(1), QUrl::TolerantMode));
    } else {
        bool ok = false;
        const int page = reply->rawHeader("X-Next-Page").trimmed().toInt(&ok);
        if (!ok || page < 1)
            return {};
        QUrlQuery query(current);
        query.removeAllQueryItems(QStringLiteral("page"));
        query.addQueryItem(QStringLiteral("page"), QString::number(page));
        next = current;
        next.setQuery(query);
    }
    if (next.scheme() != current.scheme() || next.host() != current.host()
        || next.port() != current.port()) {
        qCDebug(apiLog) << "Not following a next page on another server:" << next.toString();
        return QUrl(QStringLiteral("about:blank"));
    }
    return next;
}

ApiClient::ApiClient(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    static const bool typesRegistered = [] {
        qRegisterMetaType<ExamplePtr>("Repository::ExamplePtr");
        qRegisterMetaType<Repository::Examples>("Repository::Examples");
        qRegisterMetaType<ExamplePtr>("Tidepool::Internal::Repository::ExamplePtr");
        qRegisterMetaType<Repository::Examples>("Tidepool::Internal::Repository::Examples");
        return true;
    }();
    Q_UNUSED(typesRegistered)

    m_shared->client = this;
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ApiClient::onAboutToQuit);

    // Query and fragment would end up in front of every endpoint: only scheme, user info, host
    // and port make the API base URL.
    m_apiUrl = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    m_apiUrl.setPath(QStringLiteral("/api/v4"), QUrl::DecodedMode);
    // Only the web schemes speak the API; "localhost:8080/group" parses with the scheme
    // "localhost".
    const QString scheme = m_apiUrl.scheme().toLower();
    if (!m_apiUrl.isValid() || m_apiUrl.isLocalFile() || m_apiUrl.isRelative()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qCDebug(apiLog) << "Provided repository url is not valid:" << url.toString();
        QMetaObject::invokeMethod(this, &ApiClient::checkFailed, Qt::QueuedConnection);
        return;
    }

    m_group = url.path(QUrl::FullyDecoded);
    if (m_group.startsWith(QLatin1Char('/')))
        m_group.remove(0, 1);
    if (m_group.endsWith(QLatin1Char('/')))
        m_group.chop(1);
    if (m_group.isEmpty()) {
        qCDebug(apiLog) << "Provided repository url has no group:" << url.toString();
        QMetaObject::invokeMethod(this, &ApiClient::checkFailed, Qt::QueuedConnection);
        return;
    }

    if (!QSslSocket::supportsSsl()) {
        qCDebug(apiLog) << "Platform SSL support is not detected - connection to the "
                           "repositories most likely will not be established!";
    }

    // Searched from the event loop, after the owner has connected its signals.
    QMetaObject::invokeMethod(this, &ApiClient::findGroup, Qt::QueuedConnection);
}

ApiClient::~ApiClient()
{
    QList<std::shared_ptr<Chain>> chains;
    {
        QMutexLocker locker(&m_shared->mutex);
        m_shared->client = nullptr;
        chains = m_shared->chains;
    }
    // Their handlers die with this client: release the waiting pool threads.
    for (const std::shared_ptr<Chain> &chain : std::as_const(chains))
        chain->end();

    // Requests made on this thread belong to this client; drop them before anything can report.
    const auto managers = findChildren<QNetworkAccessManager *>(Qt::FindDirectChildrenOnly);
    for (QNetworkAccessManager *manager : managers) {
        manager->disconnect();
        delete manager;
    }
}

void ApiClient::onAboutToQuit()
{
    QList<std::shared_ptr<Chain>> chains;
    {
        QMutexLocker locker(&m_shared->mutex);
        m_shared->quitting = true;
        chains = m_shared->chains;
    }
    for (const std::shared_ptr<Chain> &chain : std::as_const(chains))
        chain->end();
}

void ApiClient::setDownloadFolder(const QString &folder)
{
    QMutexLocker locker(&m_shared->mutex);
    m_downloadFolder = folder;
}

void ApiClient::setStatus(const QString &text)
{
    if (!text.isEmpty())
        qCDebug(apiLog) << "Status:" << text;
    emit statusChanged(text);
}

QNetworkAccessManager *ApiClient::request(const QUrl &url, const QByteArray &contentType,
                                          Kind kind, const FinishedHandler &onFinished,
                                          const ErrorHandler &onError,
                                          const std::shared_ptr<Chain> &chain,
                                          const std::shared_ptr<ArchiveDownload> &archiveFile)
{
    qCDebug(apiLog) << "Requesting:" << url.toString();

    const bool archive = kind == Kind::Archive;
    const int timeoutMs = archive ? archiveTransferTimeout() : requestTransferTimeout();
    const qint64 sizeLimit = archive ? archiveSizeLimit() : jsonSizeLimit;

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(timeoutMs);

    // A manager made on this client's thread is its child, so it goes with the client. One made
    // on a pool thread is owned by that thread's download chain, which deletes it (and its reply)
    // before it returns; its outcome reaches the client as a copied value.
    const bool onClientThread = QThread::currentThread() == thread();
    auto manager = new QNetworkAccessManager(onClientThread ? this : nullptr);
    QNetworkReply *reply = manager->get(request);
    if (archiveFile)
        reply->setReadBufferSize(archiveReadBufferSize);

    // Stop as soon as the announced or the received size passes the limit. A body that arrives
    // in one piece is only seen once the reply has finished: takeReply checks that one.
    const QString tooLarge = tr("The reply exceeds the size limit of %1 bytes").arg(sizeLimit);
    auto abort = std::make_shared<Abort>();
    const auto checkSize = [reply, sizeLimit, abort, tooLarge](qint64 received, qint64 total) {
        if (!abort->reason.isEmpty() || reply->isFinished()
            || (received <= sizeLimit && total <= sizeLimit)) {
            return;
        }
        abort->reason = tooLarge;
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, checkSize] {
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader)
                                  .toLongLong(&known);
        if (known)
            checkSize(0, length);
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, checkSize);

    // An archive goes to its file piece by piece, on the thread of its download chain.
    if (archiveFile) {
        connect(reply, &QNetworkReply::readyRead, reply, [reply, abort, archiveFile] {
            // An error page is no part of the archive.
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QByteArray bytes = reply->readAll();
            if (status < 200 || status > 299 || !abort->reason.isEmpty()
                || archiveFile->write(bytes)) {
                return;
            }
            abort->reason = archiveFile->error();
            abort->local = true;
            reply->abort();
        });
    }

    // Data that keeps trickling in resets the inactivity timeout; the whole transfer is bounded
    // too, checked whenever data arrives.
    const int deadlineMs = archive ? s_archiveDeadlineMs.load() : s_requestDeadlineMs.load();
    QElapsedTimer started;
    started.start();
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, abort, deadlineMs, started] {
        if (!abort->reason.isEmpty() || reply->isFinished() || started.elapsed() <= deadlineMs)
            return;
        abort->reason = tr("The transfer took longer than %1 ms").arg(deadlineMs);
        reply->abort();
    });

    const auto takeReply = [abort, timeoutMs, sizeLimit, tooLarge,
                            archiveFile](QNetworkReply *finished) {
        Reply result;
        const int status = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool answered = finished->error() == QNetworkReply::NoError && status >= 200
                              && status <= 299;
        if (answered && archiveFile) {
            // What is left of the body, then the file is complete.
            if (archiveFile->write(finished->readAll()) && archiveFile->finish()) {
                result.ok = archiveFile->size() <= sizeLimit;
                result.errorText = result.ok ? QString() : tooLarge;
                result.archive = archiveFile;
            } else {
                result.errorText = archiveFile->error();
                result.localError = true;
            }
        } else if (answered && finished->bytesAvailable() <= sizeLimit) {
            result.ok = true;
            result.body = finished->readAll();
            result.nextPage = nextPageOf(finished);
        } else if (answered) {
            result.errorText = tooLarge;
        } else if (!abort->reason.isEmpty()) {
            result.errorText = abort->reason;
            result.localError = abort->local;
        } else if (finished->error() == QNetworkReply::OperationCanceledError) {
            // Nothing but the transfer timeout cancels a reply that is still connected.
            result.errorText = tr("No data received for %1 ms").arg(timeoutMs);
        } else {
            result.errorText = finished->errorString();
        }
        finished->close();
        return result;
    };

    if (onClientThread) {
        connect(manager, &QNetworkAccessManager::finished, manager,
                [this, manager, takeReply, onFinished, onError, chain](QNetworkReply *finished) {
                    const Reply result = takeReply(finished);
                    finished->deleteLater();
                    manager->deleteLater();
                    handleReply(result, onFinished, onError, chain);
                });
    } else {
        const std::shared_ptr<Shared> shared = m_shared;
        connect(manager, &QNetworkAccessManager::finished, manager,
                [shared, takeReply, onFinished, onError, chain](QNetworkReply *finished) {
                    const Reply result = takeReply(finished);
                    shared->postToClient([result, onFinished, onError, chain](ApiClient *client) {
                        client->handleReply(result, onFinished, onError, chain);
                    });
                });
    }
    return manager;
}

void ApiClient::handleReply(const Reply &reply, const FinishedHandler &onFinished,
                            const ErrorHandler &onError, const std::shared_ptr<Chain> &chain)
{
    // A download chain that has ended is abandoned: its remaining replies report nothing.
    if (chain && chain->isEnded())
        return;
    if (reply.ok) {
        onFinished(reply);
    } else {
        setStatus(reply.localError ? reply.errorText : tr("Network error: %1").arg(reply.errorText));
        onError();
    }
}

QJsonDocument ApiClient::parseReply(const QByteArray &body)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::IllegalUTF8String) {
        // One record with a name in another encoding must not cost the whole listing: bytes that
        // are not UTF-8 become replacement characters.
        qCDebug(apiLog) << "Json response is not UTF-8 at offset:" << error.offset;
        document = QJsonDocument::fromJson(QString::fromUtf8(body).toUtf8(), &error);
    }
    if (error.error != QJsonParseError::NoError) {
        qCDebug(apiLog) << "Json response:" << body;
        qCDebug(apiLog) << "Json parse error: " << error.errorString();
    }
    return document;
}

void ApiClient::findGroup()
{
    setStatus(tr("Searching examples"));
    // The group path is decoded: encode it again, so that a "#", "&" or "+" in it stays part of
    // the search term.
    const QString term = QString::fromLatin1(QUrl::toPercentEncoding(m_group, "/"));
    const QUrl url(m_apiUrl.toString() + QStringLiteral("/groups?search=\"%1\"").arg(term),
                   QUrl::TolerantMode);
    request(
        url, "application/json", Kind::Json,
        [this](const Reply &reply) { processSearchResult(parseReply(reply.body)); },
        [this] { emit checkFailed(); });
}

void ApiClient::processSearchResult(const QJsonDocument &document)
{
    setStatus(QString());
    if (document.isNull()) {
        setStatus(tr("Search error: request return null object"));
        emit checkFailed();
        return;
    }

    QJsonObject group;
    if (document.isArray()) {
        const QJsonArray results = document.array();
        if (!results.isEmpty())
            group = results.first().toObject();
        if (results.size() > 1) {
            // The search matches substrings of paths and names, so the first hit may be another
            // group ("demo" finds "demo-archive"): prefer the group with exactly this path.
            const auto match = std::find_if(results.begin(), results.end(),
                                            [this](const QJsonValue &result) {
                return result.toObject().value(QLatin1String("full_path")).toString()
                           .compare(m_group, Qt::CaseInsensitive) == 0;
            });
            if (match != results.end()) {
                group = (*match).toObject();
                qCDebug(apiLog) << "Search request return more than 1 object - taking the one "
                                   "with full_path:" << m_group;
            } else {
                qCDebug(apiLog) << "Search request return more than 1 object - taking first";
            }
        }
    } else {
        group = document.object();
    }

    if (!group.contains(QLatin1String("id"))) {
        setStatus(tr("Search error: request return wrong data - no id field"));
        emit checkFailed();
        return;
    }

    m_groupId = quint64(qint64(group.value(QLatin1String("id")).toInt()));
    if (m_groupId == 0) {
        setStatus(tr("Search error: request return wrong data - no id field"));
        emit checkFailed();
        return;
    }
    setStatus(tr("API client is ready"));
    emit ready();
}

void ApiClient::fetch()
{
    if (m_groupId == 0) {
        setStatus(tr("Repository error: group id not found - unable to fetch examples"));
        emit checkFailed();
        return;
    }

    setStatus(tr("Fetch examples"));
    // The group's own "projects" holds at most 100 of them and does not say that there are more:
    // the projects are read page by page, as the server links them.
    m_listing.clear();
    m_listedIds.clear();
    m_pages = 0;
    QUrl url(m_apiUrl.toString() + QStringLiteral("/groups/%1/projects").arg(m_groupId),
             QUrl::TolerantMode);
    // Oldest first: a project created while the pages are read comes last, and moves nothing.
    url.setQuery(QStringLiteral("order_by=id&sort=asc&per_page=%1").arg(projectsPerPage));
    requestPage(url);
}

void ApiClient::requestPage(const QUrl &url)
{
    ++m_pages;
    request(
        url, "application/json", Kind::Json,
        [this](const Reply &reply) { processPage(parseReply(reply.body), reply.nextPage); },
        [this] {
            // A partial list would make examples look removed: the last whole one stays.
            m_listing.clear();
            m_listedIds.clear();
            emit checkFailed();
        });
}

void ApiClient::processPage(const QJsonDocument &document, const QUrl &nextPage)
{
    setStatus(QString());
    const auto failed = [this](const QString &status) {
        m_listing.clear();
        m_listedIds.clear();
        setStatus(status);
        emit checkFailed();
    };
    if (document.isNull()) {
        failed(tr("Fetch error: request return null object"));
        return;
    }
    if (!document.isArray()) {
        failed(tr("Fetch error: request return wrong data - no projects field"));
        return;
    }

    const QJsonArray projects = document.array();
    for (const QJsonValue &project : projects) {
        const auto example = ExamplePtr::create(project.toObject());
        // A project that moves between pages while they are read comes twice.
        const QString id = QString::number(example->json().value(QLatin1String("id")).toDouble(), 'g', 17);
        if (example->isValid() && !m_listedIds.contains(id)) {
            m_listedIds.insert(id);
            m_listing.append(example);
        }
    }

    if (nextPage.isValid()) {
        if (nextPage.scheme() == QLatin1String("about")) {
            failed(tr("Fetch error: the next page is not on this server"));
            return;
        }
        if (m_pages >= maximumPages) {
            failed(tr("Fetch error: the listing has more than %1 pages").arg(maximumPages));
            return;
        }
        requestPage(nextPage);
        return;
    }
    m_listedIds.clear();
    emit fetched(std::exchange(m_listing, {}));
}

QThreadPool *ApiClient::threadPool()
{
    // A chain blocks its thread while it waits for the GUI thread to hand back each reply. Qt
    // itself scales and converts images on the global pool and waits for that work on the GUI
    // thread, so chains on the global pool could freeze the IDE until their transfers time out:
    // they get a pool of their own. They mostly wait, so more of them than cores may run.
    static QThreadPool *pool = [] {
        auto pool = new QThreadPool;
        pool->setMaxThreadCount(qMax(4, QThread::idealThreadCount()));
        // Ends with the application, after the chains have ended on aboutToQuit.
        if (QCoreApplication *app = QCoreApplication::instance()) {
            pool->setParent(app);
        }
        return pool;
    }();
    return pool;
}

void ApiClient::download(const Repository::Examples &examples)
{
    const std::shared_ptr<Shared> shared = m_shared;
    const std::function<ExamplePtr(const ExamplePtr &)> chain =
        [shared](const ExamplePtr &example) { return downloadExample(shared, example); };
    // Nobody waits for the batch: each example announces itself through downloaded().
    QFuture<ExamplePtr> future = QtConcurrent::mapped(threadPool(), examples,
                                                      chain);
    Q_UNUSED(future)
}

// The archive is named by the project id, a JSON number: truncated, and kept within range.
static qint64 projectId(const ExamplePtr &example)
{
    const double id = example->json().value(QLatin1String("id")).toDouble();
    if (std::isnan(id))
        return 0;
    constexpr double high = 9.2e18; // just below the largest qint64
    return qint64(std::clamp(id, -high, high));
}

ExamplePtr ApiClient::downloadExample(const std::shared_ptr<Shared> &shared,
                                      const ExamplePtr &example)
{
    QEventLoop loop;
    const auto chain = std::make_shared<Chain>();
    QNetworkAccessManager *manager = nullptr;
    {
        QMutexLocker locker(&shared->mutex);
        ApiClient *client = shared->client;
        if (!client || shared->quitting)
            return example;
        {
            QMutexLocker chainLocker(&chain->mutex);
            chain->loop = &loop;
        }
        shared->chains.append(chain);

        client->setStatus(tr("Downloading example: %1").arg(example->name()));
        const QUrl url(client->m_apiUrl.toString()
                           + QStringLiteral("/projects/%1/repository/archive%2")
                                 .arg(projectId(example))
                                 .arg(QLatin1String(".tar.gz")),
                       QUrl::TolerantMode);
        const auto failed = [client, example, chain] {
            emit client->downloadFailed(example);
            chain->end();
        };
        const QString folder = client->m_downloadFolder.isEmpty() ? QDir::tempPath()
                                                                  : client->m_downloadFolder;
        const auto archiveFile = std::make_shared<ArchiveDownload>(
            folder, example->json().value(QLatin1String("path")).toString());
        if (!archiveFile->open()) {
            // Told from the client's thread, as every other outcome of a chain.
            shared->postToClient([failed, error = archiveFile->error()](ApiClient *target) {
                target->setStatus(error);
                failed();
            });
        } else {
            manager = client->request(
                url, "application/zip", Kind::Archive,
                [client, example, chain](const Reply &reply) {
                    example->addArchiveFile(reply.archive->takeFile());
                    client->requestImage(example, chain);
                },
                failed, chain, archiveFile);
        }
    }

    {
        QMutexLocker locker(&chain->mutex);
        if (chain->ended)
            chain->loop = nullptr;
    }
    if (!chain->isEnded())
        loop.exec();

    {
        QMutexLocker locker(&chain->mutex);
        chain->ended = true;
        chain->loop = nullptr;
    }
    {
        QMutexLocker locker(&shared->mutex);
        shared->chains.removeOne(chain);
    }

    // The manager and its reply live on this thread, whose loop is over: delete them here, and
    // whatever they left for deferred deletion too.
    if (manager) {
        manager->disconnect();
        delete manager;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return example;
}

void ApiClient::requestImage(const ExamplePtr &example, const std::shared_ptr<Chain> &chain)
{
    const QString avatarUrl = example->json().value(QLatin1String("avatar_url")).toString();
    const auto imageError = [this, example, chain, avatarUrl] {
        emit downloaded(example);
        setStatus(tr("Unable to download image: %1").arg(avatarUrl));
        chain->end();
    };

    // The server chooses this address: follow it only over the network.
    const QUrl url(avatarUrl, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        setStatus(tr("Network error: %1")
                      .arg(tr("Protocol \"%1\" is not supported for images").arg(url.scheme())));
        imageError();
        return;
    }

    request(
        url, "image/png", Kind::Image,
        [this, example, chain](const Reply &reply) {
            const QByteArray body = reply.body;
            // Decoding and scaling an avatar is no work for the GUI thread: the chain's own
            // thread does it, and the chain ends back here.
            const std::shared_ptr<Shared> shared = m_shared;
            chain->post([shared, example, chain, body] {
                example->setImage(body);
                shared->postToClient([example, chain](ApiClient *client) {
                    if (chain->isEnded())
                        return;
                    emit client->downloaded(example);
                    client->setStatus(QString());
                    chain->end();
                });
            });
        },
        imageError, chain);
}

} // namespace Tidepool::Internal
