#pragma once

// What the API client's GitLab calls and its transfer machinery share: the state of a download
// chain, what the chains share with the client, and the outcome of one request.

#include "apiclient.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#include <functional>
#include <memory>

namespace Tidepool::Internal {

class ArchiveDownload;

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

} // namespace Tidepool::Internal
