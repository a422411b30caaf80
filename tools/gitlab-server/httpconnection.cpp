#include "httpconnection.h"

#include <QTcpSocket>

namespace LocalGitLab {

static constexpr qsizetype maxHeaderSize = 64 * 1024;

HttpConnection::HttpConnection(QTcpSocket *socket, Handler handler, QObject *parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler))
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readRequests);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        emit closed();
        deleteLater();
    });
}

void HttpConnection::responseDone()
{
    m_busy = false;
    if (m_closeAfterResponse) {
        m_socket->disconnectFromHost();
        return;
    }
    // An answer given from within the handler lets the reading loop go on by itself.
    if (!m_dispatching)
        readRequests();
}

void HttpConnection::abort()
{
    m_socket->abort();
}

void HttpConnection::fail(const QByteArray &statusLine)
{
    m_socket->write("HTTP/1.1 " + statusLine + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    m_socket->disconnectFromHost();
    m_busy = true; // read nothing more
}

void HttpConnection::readRequests()
{
    m_buffer += m_socket->readAll();
    while (!m_busy) {
        if (m_bodyToSkip > 0) {
            const qsizetype skipped = std::min<qsizetype>(m_bodyToSkip, m_buffer.size());
            m_buffer.remove(0, skipped);
            m_bodyToSkip -= skipped;
            if (m_bodyToSkip > 0)
                return;
        }
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > maxHeaderSize)
                fail("431 Request Header Fields Too Large");
            return;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);

        HttpRequest request;
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")
            || !requestLine.at(1).startsWith('/')) {
            fail("400 Bad Request");
            return;
        }
        request.method = requestLine.at(0);
        request.target = requestLine.at(1);
        request.version = requestLine.at(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &line = lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                fail("400 Bad Request");
                return;
            }
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const QByteArray connection = request.headers.value("connection").toLower();
        m_closeAfterResponse = connection == "close" || (request.version == "HTTP/1.0" && connection != "keep-alive");
        m_bodyToSkip = request.headers.value("content-length").toLongLong();
        if (request.headers.value("transfer-encoding").toLower().contains("chunked")) {
            fail("411 Length Required"); // nobody sends GET bodies in chunks; don't parse them
            return;
        }
        m_busy = true;
        m_dispatching = true;
        m_handler(this, request);
        m_dispatching = false;
        if (!m_busy && m_closeAfterResponse)
            return;
    }
}

} // namespace LocalGitLab
