#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <memory>
#include <vector>

// One GET on a fresh network access manager (so no connection is shared between requests),
// waited for in a local event loop.
struct Fetched
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QUrl url;                              // after redirects
    qint64 elapsedMs = 0;

    bool hasHeader(const QByteArray &name) const { return headers.contains(name.toLower()); }
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    QJsonDocument json() const
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        return error.error == QJsonParseError::NoError ? document : QJsonDocument();
    }
};

inline Fetched collect(QNetworkReply *reply, const QElapsedTimer &timer)
{
    Fetched result;
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        result.body = reply->readAll();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        result.headers.insert(name.toLower(), value);
    result.url = reply->url();
    result.elapsedMs = timer.elapsed();
    return result;
}

inline Fetched fetch(const QUrl &url, int timeoutMs = 20000)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return collect(reply.get(), timer);
}

// Several GETs at once, each on its own connection; results in request order.
inline QList<Fetched> fetchAll(const QList<QUrl> &urls, int timeoutMs = 60000)
{
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    QList<QNetworkReply *> replies;
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    int pending = int(urls.size());
    for (const QUrl &url : urls) {
        managers.push_back(std::make_unique<QNetworkAccessManager>());
        QNetworkRequest request(url);
        request.setTransferTimeout(timeoutMs);
        QNetworkReply *reply = managers.back()->get(request);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
            if (--pending == 0)
                loop.quit();
        });
        replies.append(reply);
    }
    if (pending > 0)
        loop.exec();
    QList<Fetched> results;
    for (QNetworkReply *reply : replies) {
        results.append(collect(reply, timer));
        delete reply;
    }
    return results;
}
