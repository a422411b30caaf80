#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <functional>

QT_BEGIN_NAMESPACE
class QTcpSocket;
QT_END_NAMESPACE

namespace LocalGitLab {

struct HttpRequest
{
    QByteArray method;
    QByteArray target;                   // path and query exactly as sent
    QByteArray version;                  // "HTTP/1.1"
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

// One client connection speaking just enough HTTP/1.1 for GET requests: keep-alive, one request
// at a time (the next one is read once the current answer is done), request bodies skipped.
// Answers are written straight to socket() by whoever handles the request, which is what lets
// faults stop, cut or slow them anywhere.
class HttpConnection final : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(HttpConnection *, const HttpRequest &)>;

    HttpConnection(QTcpSocket *socket, Handler handler, QObject *parent);

    QTcpSocket *socket() const { return m_socket; }
    // The answer to the current request is complete.
    void responseDone();
    void abort();

signals:
    void closed();

private:
    void readRequests();
    void fail(const QByteArray &statusLine);

    QTcpSocket *m_socket;
    Handler m_handler;
    QByteArray m_buffer;
    qint64 m_bodyToSkip = 0;
    bool m_busy = false;
    bool m_dispatching = false;
    bool m_closeAfterResponse = false;
};

} // namespace LocalGitLab
