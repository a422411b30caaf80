#pragma once

#include "catalogue.h"
#include "traffic.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUrlQuery>

#include <functional>

#include "httpconnection.h"

QT_BEGIN_NAMESPACE
class QTcpServer;
class QTcpSocket;
QT_END_NAMESPACE

namespace LocalGitLab {

// The part of the server that lives on the server's thread: it accepts connections, routes their
// requests and writes the answers, which faults may delay, cut, slow down or replace.
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
        bool close = false;   // the connection ends with this answer
    };

private:
    struct Request
    {
        Route route = Route::Other;
        QStringList args;
        QUrl url;       // absolute, as the client addressed it
        QUrl base;      // scheme, host and port of url
        QUrlQuery query;
        QString target; // path and query as sent
        bool isGet = false;
    };
    using Reply = std::function<void(const Response &)>;

    void handle(HttpConnection *connection, const HttpRequest &raw);
    void act(const Request &request, const Fault &fault, const QPointer<HttpConnection> &connection);
    void produce(const Request &request, const Reply &reply);
    void produceArchive(const Request &request, const Reply &reply);
    void finishBuild(const QByteArray &cacheKey, const QByteArray &bytes, const QString &error);

    static void send(const QPointer<HttpConnection> &connection, Response response, const Fault &fault);
    static void resetConnection(QTcpSocket *socket);

    Catalogue *m_catalogue;
    Traffic *m_traffic;
    QTcpServer *m_tcp = nullptr;
    QList<HttpConnection *> m_connections;
    QThreadPool m_builders;
    struct Waiting
    {
        Reply reply;
        QString fileName;
    };
    QHash<QByteArray, QList<Waiting>> m_waiting;
};

} // namespace LocalGitLab
