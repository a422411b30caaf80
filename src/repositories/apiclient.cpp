#include "apiclient.h"
#include "apiclient_p.h"

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

// A group listing is read 100 projects a page; one of more than 1 000 pages does not end.
static constexpr int projectsPerPage = 100;
static constexpr int maximumPages = 1000;

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
        // nextPageOf() names a next page on another server "about:blank".
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
            // Told from the client's thread, as every other outcome of a chain. The client
            // exists: this thread holds the lock that its destruction takes first.
            QMetaObject::invokeMethod(
                client,
                [client, failed, error = archiveFile->error()] {
                    client->setStatus(error);
                    failed();
                },
                Qt::QueuedConnection);
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
