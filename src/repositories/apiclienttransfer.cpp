// The API client's transfer machinery: every request with its limits, timeouts and deadlines,
// archives streamed to disk as they arrive, and the threads the download chains wait on.

#include "apiclient.h"
#include "apiclient_p.h"

#include "archivedownload.h"

#include "plugin/logging.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>
#include <QThreadPool>
#include <QUrlQuery>

#include <atomic>

namespace Tidepool::Internal {

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
            // What is left once the reply has finished is the finished handler's to take.
            if (reply->isFinished())
                return;
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
        if (archiveFile && !result.ok)
            archiveFile->discard();
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

} // namespace Tidepool::Internal
