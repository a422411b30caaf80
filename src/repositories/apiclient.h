#pragma once

#include "repository.h"

#include <QObject>
#include <QSet>
#include <QUrl>

class QThreadPool;

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QJsonDocument;
class QNetworkAccessManager;
QT_END_NAMESPACE

namespace Tidepool::Internal {

class ArchiveDownload;

// Speaks the GitLab REST API v4 for one repository: looks the group up, lists its projects and
// downloads project archives and avatars.
class ApiClient : public QObject
{
    Q_OBJECT

public:
    ApiClient(const QUrl &url, QObject *parent);
    ~ApiClient() override;

    bool isReady() const { return m_groupId != 0; }
    void download(const Repository::Examples &examples);
    // Where archives are written while they arrive: a folder of the plugin's own. The system's
    // temporary folder when none is set.
    void setDownloadFolder(const QString &folder);

    // Transfer timeouts are inactivity timeouts: a request ends once no data has arrived for
    // that long. Values of 0 or less restore the defaults.
    static void setTransferTimeouts(int requestMs, int archiveMs);
    static int requestTransferTimeout();
    static int archiveTransferTimeout();
    // A whole transfer ends after this long however slowly data keeps arriving. Values of 0 or
    // less restore the defaults.
    static void setTransferDeadlines(int requestMs, int archiveMs);
    // Archives larger than this many bytes are aborted; 0 or less restores the default.
    static void setArchiveSizeLimit(qint64 bytes);
    static qint64 archiveSizeLimit();
    // The threads on which download chains wait; not Qt's global pool, which the GUI thread
    // itself relies on.
    static QThreadPool *threadPool();

signals:
    void ready();
    void statusChanged(QString status);
    // The group lookup or the listing failed (statusChanged() told why, where there is a reason
    // to tell); this client lists nothing more.
    void checkFailed();
    void fetched(Repository::Examples examples);
    void downloaded(Repository::ExamplePtr example);
    // The example's archive could not be downloaded; nothing else follows for it.
    void downloadFailed(Repository::ExamplePtr example);

public slots:
    void fetch();

private:
    struct Chain;
    struct Shared;
    struct Reply;
    struct Abort;
    enum class Kind { Json, Image, Archive };
    using FinishedHandler = std::function<void(const Reply &reply)>;
    using ErrorHandler = std::function<void()>;

    void findGroup();
    QNetworkAccessManager *request(const QUrl &url, const QByteArray &contentType, Kind kind,
                                   const FinishedHandler &onFinished, const ErrorHandler &onError,
                                   const std::shared_ptr<Chain> &chain = {},
                                   const std::shared_ptr<ArchiveDownload> &archiveFile = {});
    void handleReply(const Reply &reply, const FinishedHandler &onFinished,
                     const ErrorHandler &onError, const std::shared_ptr<Chain> &chain);
    void setStatus(const QString &text);
    QJsonDocument parseReply(const QByteArray &body);
    void processSearchResult(const QJsonDocument &document);
    void requestPage(const QUrl &url);
    void processPage(const QJsonDocument &document, const QUrl &nextPage);
    static Repository::ExamplePtr downloadExample(const std::shared_ptr<Shared> &shared,
                                                  const Repository::ExamplePtr &example);
    void requestImage(const Repository::ExamplePtr &example, const std::shared_ptr<Chain> &chain);
    void onAboutToQuit();

    QUrl m_apiUrl;
    QString m_group;
    quint64 m_groupId = 0;
    QString m_downloadFolder;
    // The listing read so far, while its pages arrive.
    Repository::Examples m_listing;
    QSet<QString> m_listedIds;
    int m_pages = 0;
    // What the download chains on the pool threads share with the client; it outlives the
    // client, so a chain can find out that its client is gone.
    const std::shared_ptr<Shared> m_shared;
};

} // namespace Tidepool::Internal
