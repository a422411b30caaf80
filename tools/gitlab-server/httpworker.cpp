#include "httpworker.h"

#include "archivebuilder.h"
#include "entities.h"
#include "httpconnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace LocalGitLab {

namespace {

using Headers = QList<std::pair<QByteArray, QByteArray>>;

HttpWorker::Response jsonResponse(const QByteArray &body, int status = 200)
{
    static std::atomic_uint requestNumber = 0;
    HttpWorker::Response response;
    response.status = status;
    response.body = body;
    response.headers = {
        {"Content-Type", "application/json"},
        {"Cache-Control", "max-age=0, private, must-revalidate"},
        {"Vary", "Origin"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "SAMEORIGIN"},
        {"X-Request-Id", QByteArray::number(0x5eed0000u + ++requestNumber, 16)},
    };
    return response;
}

HttpWorker::Response jsonResponse(const QJsonDocument &document, int status = 200)
{
    return jsonResponse(document.toJson(QJsonDocument::Compact), status);
}

HttpWorker::Response htmlResponse(const QByteArray &page, int status)
{
    HttpWorker::Response response;
    response.status = status;
    response.body = page;
    response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "no-cache"},
                        {"X-Frame-Options", "DENY"}};
    return response;
}

HttpWorker::Response redirectResponse(const QString &location)
{
    HttpWorker::Response response = htmlResponse(
        QStringLiteral("<html><body>You are being <a href=\"%1\">redirected</a>.</body></html>")
            .arg(location.toHtmlEscaped()).toUtf8(),
        302);
    response.headers.append({"Location", location.toUtf8()});
    // Qt 6.4's network layer, following a redirect on a connection it may keep, now and then sends
    // the original request once more on it. Closing keeps the requests a test sees deterministic.
    response.close = true;
    return response;
}

int intParameter(const QUrlQuery &query, const QString &key, int fallback)
{
    bool ok = false;
    const int value = query.queryItemValue(key).toInt(&ok);
    return ok ? value : fallback;
}

// Offset pagination with GitLab's headers. Links keep every other parameter of the request.
HttpWorker::Response paginated(const QJsonArray &all, const QUrl &url, const QUrlQuery &query)
{
    int perPage = intParameter(query, QStringLiteral("per_page"), 20);
    if (perPage < 1)
        perPage = 20;
    perPage = std::min(perPage, 100);
    const int page = std::max(intParameter(query, QStringLiteral("page"), 1), 1);
    const int total = int(all.size());
    const int totalPages = std::max((total + perPage - 1) / perPage, 1);

    QJsonArray slice;
    for (qsizetype i = qsizetype(page - 1) * perPage; i < std::min<qsizetype>(total, qsizetype(page) * perPage); ++i)
        slice.append(all.at(i));
    HttpWorker::Response response = jsonResponse(QJsonDocument(slice));

    const auto link = [&](int target, const char *rel) {
        QUrlQuery linkQuery = query;
        linkQuery.removeAllQueryItems(QStringLiteral("page"));
        linkQuery.removeAllQueryItems(QStringLiteral("per_page"));
        linkQuery.addQueryItem(QStringLiteral("page"), QString::number(target));
        linkQuery.addQueryItem(QStringLiteral("per_page"), QString::number(perPage));
        QUrl linkUrl = url;
        linkUrl.setQuery(linkQuery);
        return "<" + linkUrl.toEncoded() + ">; rel=\"" + rel + "\"";
    };
    QByteArrayList links;
    if (page > 1)
        links.append(link(std::min(page - 1, totalPages), "prev"));
    if (page < totalPages)
        links.append(link(page + 1, "next"));
    links.append(link(1, "first"));
    links.append(link(totalPages, "last"));

    response.headers.append({"Link", links.join(", ")});
    response.headers.append({"X-Next-Page", page < totalPages ? QByteArray::number(page + 1) : QByteArray()});
    response.headers.append({"X-Page", QByteArray::number(page)});
    response.headers.append({"X-Per-Page", QByteArray::number(perPage)});
    response.headers.append({"X-Prev-Page", page > 1 ? QByteArray::number(std::min(page - 1, totalPages)) : QByteArray()});
    response.headers.append({"X-Total", QByteArray::number(total)});
    response.headers.append({"X-Total-Pages", QByteArray::number(totalPages)});
    return response;
}

HttpWorker::Response archiveResponse(const QByteArray &bytes, const QString &fileName)
{
    HttpWorker::Response response;
    response.body = bytes;
    response.chunked = true;
    response.headers = {
        {"Content-Type", fileName.endsWith(QLatin1String(".zip")) ? "application/zip" : "application/octet-stream"},
        {"Content-Disposition", "attachment; filename=\"" + fileName.toUtf8() + "\""},
        {"Content-Transfer-Encoding", "binary"},
        {"Cache-Control", "private"},
    };
    return response;
}

HttpWorker::Response notFoundPage()
{
    return htmlResponse(Entities::htmlPage(QStringLiteral("Not Found"),
                                           QStringLiteral("<h1>404</h1>\n<h3>Page Not Found</h3>\n"
                                                          "<p>Make sure the address is correct and the page hasn't moved.</p>")),
                        404);
}

QString decoded(const QString &argument)
{
    return QUrl::fromPercentEncoding(argument.toUtf8());
}

// A query parameter as Rack reads it: '+' is a blank, then percent-decoding.
QString parameter(const QUrlQuery &query, const QString &key)
{
    QString value = query.queryItemValue(key, QUrl::FullyEncoded);
    value.replace(QLatin1Char('+'), QLatin1Char(' '));
    return decoded(value);
}

} // namespace

HttpWorker::HttpWorker(Catalogue *catalogue, Traffic *traffic)
    : m_catalogue(catalogue), m_traffic(traffic)
{
    m_builders.setMaxThreadCount(2);
}

HttpWorker::~HttpWorker()
{
    m_builders.waitForDone();
}

quint16 HttpWorker::listen(const QHostAddress &address, quint16 port)
{
    m_tcp = new QTcpServer(this);
    if (!m_tcp->listen(address, port)) {
        delete m_tcp;
        m_tcp = nullptr;
        return 0;
    }
    connect(m_tcp, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
            auto connection = new HttpConnection(socket, [this](HttpConnection *c, const HttpRequest &r) {
                handle(c, r);
            }, this);
            m_traffic->connectionOpened();
            m_connections.append(connection);
            // Counted once, whether the peer closes first or the connection is torn down.
            auto counted = std::make_shared<bool>(true);
            const auto onGone = [this, connection, counted] {
                if (!std::exchange(*counted, false))
                    return;
                m_traffic->connectionClosed();
                m_connections.removeAll(connection);
            };
            connect(connection, &HttpConnection::closed, this, onGone);
            connect(connection, &QObject::destroyed, this, onGone);
        }
    });
    return m_tcp->serverPort();
}

void HttpWorker::shutdown()
{
    if (m_tcp)
        m_tcp->close();
    // Builds still running post their results to this object; let them land before it goes.
    m_builders.waitForDone();
    m_waiting.clear();
    const QList<HttpConnection *> connections = m_connections;
    for (HttpConnection *connection : connections)
        connection->abort();
    qDeleteAll(m_connections);
    m_connections.clear();
    delete m_tcp;
    m_tcp = nullptr;
}

// Routes are matched on the path as sent: GitLab takes URL-encoded full paths ("group%2Fproject")
// as ids, so decoding comes after splitting.
static std::pair<Route, QStringList> routeOf(const QString &path)
{
    static const QList<std::pair<QRegularExpression, Route>> routes = {
        {QRegularExpression(QStringLiteral("^/api/v4/groups/?$")), Route::Search},
        {QRegularExpression(QStringLiteral("^/api/v4/groups/([^/]+)/?$")), Route::Group},
        {QRegularExpression(QStringLiteral("^/api/v4/groups/([^/]+)/projects/?$")), Route::Projects},
        {QRegularExpression(QStringLiteral("^/api/v4/projects/([^/]+)/?$")), Route::Projects},
        {QRegularExpression(QStringLiteral("^/api/v4/projects/([^/]+)/repository/(archive[^/]*)$")), Route::Archive},
        {QRegularExpression(QStringLiteral("^/uploads/-/system/project/avatar/([^/]+)/([^/]+)$")), Route::Avatar},
    };
    for (const auto &[pattern, route] : routes) {
        const QRegularExpressionMatch match = pattern.match(path);
        if (!match.hasMatch())
            continue;
        QStringList args;
        for (int i = 1; i <= match.lastCapturedIndex(); ++i)
            args.append(decoded(match.captured(i)));
        return {route, args};
    }
    return {Route::Other, {}};
}

void HttpWorker::handle(HttpConnection *connection, const HttpRequest &raw)
{
    Request request;
    request.target = QString::fromLatin1(raw.target);
    const QString path = request.target.section(QLatin1Char('?'), 0, 0);
    std::tie(request.route, request.args) = routeOf(path);
    QByteArray host = raw.headers.value("host");
    if (host.isEmpty()) {
        const QTcpSocket *socket = connection->socket();
        host = QUrl(QStringLiteral("http://%1:%2").arg(socket->localAddress().toString()).arg(socket->localPort()))
                   .authority().toLatin1();
    }
    request.url = QUrl::fromEncoded("http://" + host + raw.target);
    request.base = request.url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    request.query = QUrlQuery(request.url);
    request.isGet = raw.method == "GET";

    const Fault fault = m_traffic->record(raw.method, request.target, request.route);
    const QPointer<HttpConnection> target = connection;
    if (fault.delayMs > 0) {
        QTimer::singleShot(fault.delayMs, connection, [this, request, fault, target] {
            act(request, fault, target);
        });
        return;
    }
    act(request, fault, target);
}

void HttpWorker::act(const Request &request, const Fault &fault, const QPointer<HttpConnection> &connection)
{
    if (!connection)
        return;
    const bool archive = request.route == Route::Archive;
    switch (fault.kind) {
    case Fault::HangBeforeHeaders:
        return;
    case Fault::Reset:
        resetConnection(connection->socket());
        return;
    case Fault::Status: {
        Response response;
        if (fault.body.isEmpty()) {
            response = jsonResponse(Entities::errorBodyForStatus(fault.status, archive), fault.status);
        } else {
            response = jsonResponse(fault.body, fault.status);
            if (!fault.contentType.isEmpty())
                response.headers[0].second = fault.contentType;
        }
        const int retryAfter = fault.retryAfterSeconds >= 0 ? fault.retryAfterSeconds
                                                            : (fault.status == 429 ? 60 : -1);
        if (retryAfter >= 0)
            response.headers.append({"Retry-After", QByteArray::number(retryAfter)});
        send(connection, response, {});
        return;
    }
    case Fault::InvalidJson:
        send(connection, jsonResponse(QByteArray(R"([{"id": 1, "name": "broken", "projects": [{"id": )")), {});
        return;
    case Fault::Html: {
        const QByteArray page = Entities::htmlPage(
            QStringLiteral("Sign in"),
            QStringLiteral("<div class=\"login-page\"><h1>GitLab Community Edition</h1>\n"
                           "<form action=\"/users/sign_in\" method=\"post\"><input type=\"text\" name=\"user[login]\">"
                           "<input type=\"password\" name=\"user[password]\"></form></div>"));
        send(connection, htmlResponse(page, 200), {});
        return;
    }
    case Fault::Redirect:
        send(connection, redirectResponse(request.url.resolved(fault.location).toString(QUrl::FullyEncoded)), {});
        return;
    case Fault::RedirectLoop:
        send(connection, redirectResponse(request.url.toString(QUrl::FullyEncoded)), {});
        return;
    case Fault::None:
    case Fault::HangMidBody:
    case Fault::Truncate:
    case Fault::Corrupt:
    case Fault::SlowBody:
        break;
    }
    produce(request, [connection, fault](const Response &response) { send(connection, response, fault); });
}

void HttpWorker::produce(const Request &request, const Reply &reply)
{
    if (!request.isGet) {
        reply(request.route == Route::Other && !request.url.path().startsWith(QLatin1String("/api/"))
                  ? notFoundPage()
                  : jsonResponse(Entities::unknownRouteBody(), 404));
        return;
    }
    const QUrl &base = request.base;
    switch (request.route) {
    case Route::Search:
        reply(paginated(m_catalogue->searchGroups(parameter(request.query, QStringLiteral("search")), base),
                        request.url, request.query));
        return;
    case Route::Group: {
        const bool withProjects = request.query.queryItemValue(QStringLiteral("with_projects")) != QLatin1String("false");
        const auto group = m_catalogue->groupDetail(request.args.value(0), base, withProjects);
        reply(group ? jsonResponse(QJsonDocument(*group))
                    : jsonResponse(Entities::messageBody(QStringLiteral("404 Group Not Found")), 404));
        return;
    }
    case Route::Projects:
        if (request.url.path().startsWith(QLatin1String("/api/v4/groups/"))) {
            const QString orderBy = request.query.queryItemValue(QStringLiteral("order_by"));
            const bool ascending = request.query.queryItemValue(QStringLiteral("sort")) == QLatin1String("asc");
            const auto projects = m_catalogue->groupProjects(request.args.value(0), base, orderBy, ascending);
            reply(projects ? paginated(*projects, request.url, request.query)
                           : jsonResponse(Entities::messageBody(QStringLiteral("404 Group Not Found")), 404));
        } else {
            const auto project = m_catalogue->project(request.args.value(0), base);
            reply(project ? jsonResponse(project->isObject() ? QJsonDocument(project->toObject())
                                                             : QJsonDocument(QJsonArray{*project}))
                          : jsonResponse(Entities::messageBody(QStringLiteral("404 Project Not Found")), 404));
        }
        return;
    case Route::Archive:
        produceArchive(request, reply);
        return;
    case Route::Avatar: {
        bool ok = false;
        const qint64 projectId = request.args.value(0).toLongLong(&ok);
        const auto avatar = ok ? m_catalogue->avatar(projectId, request.args.value(1)) : std::nullopt;
        if (!avatar) {
            reply(notFoundPage());
            return;
        }
        Response response;
        response.body = avatar->first;
        response.headers = {
            {"Content-Type", avatar->second},
            {"Content-Disposition", "inline; filename=\"" + request.args.value(1).toUtf8() + "\""},
            {"Cache-Control", "max-age=300, private, must-revalidate"},
            {"X-Content-Type-Options", "nosniff"},
        };
        reply(response);
        return;
    }
    case Route::Any:
    case Route::Other:
        break;
    }
    reply(request.url.path().startsWith(QLatin1String("/api/"))
              ? jsonResponse(Entities::unknownRouteBody(), 404)
              : notFoundPage());
}

void HttpWorker::produceArchive(const Request &request, const Reply &reply)
{
    static const QList<std::pair<QString, Catalogue::Format>> formats = {
        {QStringLiteral("archive"), Catalogue::Format::TarGz},
        {QStringLiteral("archive.tar.gz"), Catalogue::Format::TarGz},
        {QStringLiteral("archive.tgz"), Catalogue::Format::TarGz},
        {QStringLiteral("archive.gz"), Catalogue::Format::TarGz},
        {QStringLiteral("archive.tar"), Catalogue::Format::Tar},
        {QStringLiteral("archive.zip"), Catalogue::Format::Zip},
    };
    const auto format = std::find_if(formats.cbegin(), formats.cend(), [&](const auto &entry) {
        return entry.first == request.args.value(1);
    });
    if (format == formats.cend()) {
        reply(jsonResponse(Entities::unknownRouteBody(), 404));
        return;
    }
    const QString ref = parameter(request.query, QStringLiteral("sha"));
    ArchiveRequest archive = m_catalogue->archive(request.args.value(0), ref, format->second);
    switch (archive.outcome) {
    case ArchiveRequest::ProjectNotFound:
        reply(jsonResponse(Entities::messageBody(QStringLiteral("404 Project Not Found")), 404));
        return;
    case ArchiveRequest::FileNotFound:
        reply(jsonResponse(Entities::messageBody(QStringLiteral("404 File Not Found")), 404));
        return;
    case ArchiveRequest::Override:
    case ArchiveRequest::Cached:
        reply(archiveResponse(archive.bytes, archive.fileName));
        return;
    case ArchiveRequest::Build:
        break;
    }
    // Built once per project version on a builder thread, however many clients wait for it.
    QList<Waiting> &waiting = m_waiting[archive.cacheKey];
    waiting.append({reply, archive.fileName});
    if (waiting.size() > 1)
        return;
    m_catalogue->countArchiveBuild();
    const Catalogue::Format chosen = format->second;
    m_builders.start([this, key = archive.cacheKey, input = std::move(archive.input), chosen] {
        QString error;
        const QByteArray bytes = buildArchive(input, chosen, &error);
        QMetaObject::invokeMethod(this, [this, key, bytes, error] { finishBuild(key, bytes, error); },
                                  Qt::QueuedConnection);
    });
}

void HttpWorker::finishBuild(const QByteArray &cacheKey, const QByteArray &bytes, const QString &error)
{
    const QList<Waiting> waiting = m_waiting.take(cacheKey);
    if (bytes.isEmpty()) {
        for (const Waiting &w : waiting)
            w.reply(jsonResponse(Entities::messageBody(QStringLiteral("500 Internal Server Error: ") + error), 500));
        return;
    }
    m_catalogue->storeArchive(cacheKey, bytes);
    for (const Waiting &w : waiting)
        w.reply(archiveResponse(bytes, w.fileName));
}

void HttpWorker::resetConnection(QTcpSocket *socket)
{
    // A zero linger time makes close() send RST instead of an orderly FIN.
    const struct linger hard{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

void HttpWorker::send(const QPointer<HttpConnection> &connection, Response response, const Fault &fault)
{
    if (!connection || connection->socket()->state() != QAbstractSocket::ConnectedState)
        return;
    QTcpSocket *socket = connection->socket();
    if (fault.kind == Fault::Corrupt) {
        // Flipping the high bit breaks UTF-8 text, gzip streams and image checksums alike.
        QByteArray &body = response.body;
        const qsizetype size = body.size();
        for (qsizetype i : {size / 4, size / 2, size * 3 / 4}) {
            if (i < size)
                body[i] = char(body[i] ^ 0x80);
        }
        for (qsizetype i = size / 4 + 4096; i < size; i += 4096)
            body[i] = char(body[i] ^ 0x80);
    }
    const bool chunked = response.chunked && fault.kind == Fault::None;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                      + Entities::reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : std::as_const(response.headers))
        head += name + ": " + value + "\r\n";
    head += chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                    : "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (response.close)
        head += "Connection: close\r\n";
    head += "\r\n";
    socket->write(head);

    const QByteArray &body = response.body;
    switch (fault.kind) {
    case Fault::HangMidBody:
        socket->write(body.left(body.size() / 2));
        return;
    case Fault::Truncate:
        socket->write(body.left(body.size() / 2));
        socket->disconnectFromHost();
        return;
    case Fault::SlowBody: {
        const qsizetype step = std::max(fault.bytesPerSecond / 10, 1);
        auto timer = new QTimer(connection.data());
        auto offset = std::make_shared<qsizetype>(0);
        QObject::connect(timer, &QTimer::timeout, connection.data(), [timer, connection, body, offset, step] {
            if (*offset < body.size())
                connection->socket()->write(body.mid(*offset, step));
            *offset += step;
            if (*offset >= body.size()) {
                timer->deleteLater();
                connection->responseDone();
            }
        });
        timer->start(100);
        return;
    }
    default:
        break;
    }
    if (chunked) {
        constexpr qsizetype chunkSize = 1 << 20;
        for (qsizetype offset = 0; offset < body.size(); offset += chunkSize) {
            const QByteArray chunk = body.mid(offset, chunkSize);
            socket->write(QByteArray::number(chunk.size(), 16) + "\r\n");
            socket->write(chunk);
            socket->write("\r\n");
        }
        socket->write("0\r\n\r\n");
    } else {
        socket->write(body);
    }
    if (response.close)
        socket->disconnectFromHost();
    else
        connection->responseDone();
}

} // namespace LocalGitLab
