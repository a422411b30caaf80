#pragma once

#include "catalogue.h"
#include "traffic.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUrlQuery>

#include <functional>

QT_BEGIN_NAMESPACE
class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
QT_END_NAMESPACE

namespace LocalGitLab {

// The part of the server that lives on the server's thread: QHttpServer parses and routes, the
// answers are written straight to the sockets so that faults can cut them wherever they like.
class HttpWorker final : public QObject
{
    Q_OBJECT

public:
    HttpWorker(Catalogue *catalogue, Traffic *traffic);
    ~HttpWorker() override;

    // Both run on the worker's thread.
    quint16 listen(const QHostAddress &address, quint16 port);
    void shutdown();

    struct Response
    {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool chunked = false; // streamed without a length, as archives are
    };

private:
    struct Request
    {
        Route route = Route::Other;
        QStringList args;
        QUrl url;       // absolute, as the client addressed it
        QUrl base;      // scheme, host and port of url
        QUrlQuery query;
        QString target; // path and query as received
        bool isGet = false;
    };
    using Reply = std::function<void(const Response &)>;

    void handle(Route route, const QStringList &args, const QHttpServerRequest &raw,
                QHttpServerResponder &&responder);
    void act(const Request &request, const Fault &fault, const QPointer<QTcpSocket> &socket);
    void produce(const Request &request, const Reply &reply);
    void produceArchive(const Request &request, const Reply &reply);
    void finishBuild(const QByteArray &cacheKey, const QByteArray &bytes, const QString &error);

    static void send(const QPointer<QTcpSocket> &socket, Response response, const Fault &fault);
    static void resetConnection(QTcpSocket *socket);

    Catalogue *m_catalogue;
    Traffic *m_traffic;
    QHttpServer *m_server = nullptr;
    QThreadPool m_builders;
    struct Waiting
    {
        Reply reply;
        QString fileName;
    };
    QHash<QByteArray, QList<Waiting>> m_waiting;
};

} // namespace LocalGitLab
