#include "workmonitor.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QUrl>

namespace Shell {

static const char apiContext[] = "Tidepool::Internal::ApiClient";
static const char serviceContext[] = "Tidepool::Internal::DownloadService";

int WorkMonitor::Progress::pendingRequests(int silentListingAllowance) const
{
    const int searches = searchRequests - searchesAnswered;
    const int listings = qMax(0, listingRequests - listingsAnswered - silentListingAllowance);
    // An example is delivered once its archive arrived, whether or not its image followed.
    const int downloads = downloadsStarted - examplesDelivered;
    // A failed image request is followed by the delivery of its example; every other failed
    // request ends a search, a listing or a download.
    const int failedRequests = networkErrors - imageFailures;
    return searches + listings + downloads - failedRequests;
}

WorkMonitor::WorkMonitor(QObject *parent)
    : QObject(parent)
{
    m_sinceActivity.start();
    updateStatusPatterns();
}

void WorkMonitor::addPattern(Status status, const char *context, const char *source)
{
    QStringList texts{QString::fromLatin1(source)};
    const QString translated = QCoreApplication::translate(context, source);
    if (translated != texts.first())
        texts.append(translated);
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    for (const QString &text : std::as_const(texts)) {
        // Each argument (%1, %2) of the status text stands for any text.
        QStringList pieces;
        for (const QString &piece : text.split(placeholder))
            pieces.append(QRegularExpression::escape(piece));
        const QString expression = QLatin1Char('^') + pieces.join(QLatin1String("(.*)"))
                                   + QLatin1Char('$');
        m_patterns.append({status, QRegularExpression(
                                       expression, QRegularExpression::DotMatchesEverythingOption)});
    }
}

void WorkMonitor::updateStatusPatterns()
{
    QMutexLocker locker(&m_mutex);
    m_patterns.clear();
    addPattern(Status::Searching, apiContext, "Searching examples");
    addPattern(Status::Ready, apiContext, "API client is ready");
    addPattern(Status::SearchError, apiContext, "Search error: request return null object");
    addPattern(Status::SearchError, apiContext, "Search error: request return wrong data - no id field");
    addPattern(Status::RepositoryError, apiContext,
               "Repository error: group id not found - unable to fetch examples");
    addPattern(Status::FetchExamples, apiContext, "Fetch examples");
    addPattern(Status::FetchError, apiContext, "Fetch error: request return null object");
    addPattern(Status::FetchError, apiContext,
               "Fetch error: request return wrong data - no projects field");
    addPattern(Status::NetworkError, apiContext, "Network error: %1");
    addPattern(Status::DownloadingExample, apiContext, "Downloading example: %1");
    addPattern(Status::ImageFailed, apiContext, "Unable to download image: %1");
    addPattern(Status::NotDownloaded, serviceContext, "The data is not downloaded for example: %1");
    addPattern(Status::CastError, "QObject", "Unable to cast repository from: %1");
    addPattern(Status::SkipSaving, serviceContext,
               "Skip saving example %1 - unable to find repository name for url: %2");
    addPattern(Status::Unpacking, serviceContext, "Unpacking example: %1");
    addPattern(Status::NotAnArchive, serviceContext, "Downloaded file is not an archive");
    addPattern(Status::UnarchiveError, serviceContext, "There was an error while unarchiving");
    addPattern(Status::NotAnArchive, serviceContext, "Unable to save the download of example %1 in %2");
    addPattern(Status::ManifestError, serviceContext,
               "Skip installing example %1 - its archive does not hold one folder named after it");
    addPattern(Status::ManifestError, serviceContext, "Unable to replace example %1 in %2");
    addPattern(Status::RepositoryError, serviceContext, "Skip repository %1 - unusable folder name");
    addPattern(Status::SkipRegistering, serviceContext,
               "Skip registering example %1 - unable to find repository for name: %2");
    addPattern(Status::ManifestError, serviceContext,
               "There was an error while creating example mainfest");
    addPattern(Status::SkipDownloading, serviceContext,
               "Skip downloading examples - unable to find repository for url: %1");
    addPattern(Status::SkipDownloading, serviceContext,
               "Skip downloading examples - unable to find repository for name: %1");
    for (const QString &text : {QStringLiteral("API client is not ready - restarting"),
                                QCoreApplication::translate(serviceContext,
                                                            "API client is not ready - restarting"),
                                QStringLiteral("Examples are not listed - restarting"),
                                QCoreApplication::translate(serviceContext,
                                                            "Examples are not listed - restarting")}) {
        m_patterns.append({Status::Restarting,
                           QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(text)
                                              + QLatin1String(" \\(.*\\)$"))});
    }
}

WorkMonitor::Status WorkMonitor::classifyStatus(const QString &text) const
{
    for (const StatusPattern &p : m_patterns) {
        if (p.pattern.match(text).hasMatch())
            return p.status;
    }
    return Status::Unknown;
}

static QString unquote(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return value;
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 1; i < value.size() - 1; ++i) {
        QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size() - 1) {
            c = value.at(++i);
            switch (c.unicode()) {
            case 'n': result += QLatin1Char('\n'); continue;
            case 't': result += QLatin1Char('\t'); continue;
            case 'r': result += QLatin1Char('\r'); continue;
            case 'u':
                if (i + 4 < value.size()) {
                    bool ok = false;
                    const ushort code = value.mid(i + 1, 4).toUShort(&ok, 16);
                    if (ok) {
                        result += QChar(code);
                        i += 4;
                        continue;
                    }
                }
                break;
            default:
                break;
            }
        }
        result += c;
    }
    return result;
}

bool WorkMonitor::splitLine(const QString &message, QString *prefix, QString *value)
{
    const qsizetype colon = message.indexOf(QLatin1String(": "));
    if (colon < 0) {
        *prefix = message.endsWith(QLatin1Char(':')) ? message.chopped(1) : message;
        value->clear();
        return false;
    }
    *prefix = message.left(colon);
    QString rest = message.mid(colon + 2);
    if (rest.startsWith(QLatin1String("QUrl(")) && rest.endsWith(QLatin1Char(')')))
        rest = rest.mid(5).chopped(1);
    *value = unquote(rest);
    return true;
}

void WorkMonitor::touch()
{
    m_sinceActivity.restart();
}

void WorkMonitor::handleRequest(const QString &urlText)
{
    const QUrl url(urlText);
    const QString path = url.path();
    // Archive and image requests are followed per example (see DownloadingExample).
    if (path.endsWith(QLatin1String("/api/v4/groups")) && url.hasQuery())
        ++m_progress.searchRequests;
    else if (path.contains(QLatin1String("/api/v4/groups/")))
        ++m_progress.listingRequests;
}

void WorkMonitor::handleStatus(const QString &text)
{
    m_lastStatus = text;
    switch (classifyStatus(text)) {
    case Status::Ready:
        ++m_progress.searchesAnswered;
        ++m_progress.repositoriesReady;
        break;
    case Status::SearchError:
        ++m_progress.searchesAnswered;
        m_failures.append(text);
        break;
    case Status::FetchError:
        ++m_progress.listingsAnswered;
        m_failures.append(text);
        break;
    case Status::NetworkError:
        ++m_progress.networkErrors;
        m_failures.append(text);
        break;
    case Status::ImageFailed:
        // The network error just before belonged to the image; the example installs without it.
        ++m_progress.imageFailures;
        // A project without an avatar is normal; the example still installs.
        for (qsizetype i = m_failures.size() - 1; i >= 0; --i) {
            if (classifyStatus(m_failures.at(i)) == Status::NetworkError) {
                m_failures.removeAt(i);
                break;
            }
        }
        break;
    case Status::Unpacking:
        ++m_progress.examplesDelivered;
        ++m_progress.unpacksStarted;
        break;
    case Status::NotDownloaded:
    case Status::SkipSaving:
        ++m_progress.examplesDelivered;
        m_failures.append(text);
        break;
    case Status::NotAnArchive:
    case Status::UnarchiveError:
    case Status::SkipRegistering:
        ++m_progress.unpacksEnded;
        m_failures.append(text);
        break;
    case Status::ManifestError:   // documentationChanged() follows and ends the unpack
    case Status::RepositoryError:
    case Status::SkipDownloading:
    case Status::CastError:
        m_failures.append(text);
        break;
    case Status::Restarting:
        m_warnings.append(text);
        break;
    case Status::DownloadingExample:
        ++m_progress.downloadsStarted;
        break;
    case Status::Unknown:
    case Status::Searching:
    case Status::FetchExamples:
        break;
    }
}

void WorkMonitor::logLine(const QString &category, const QString &message)
{
    if (!category.startsWith(QLatin1String("zel.tidepool.plugin")))
        return;
    QString prefix;
    QString value;
    splitLine(message, &prefix, &value);
    QString status;
    {
        QMutexLocker locker(&m_mutex);
        touch();
        if (prefix == QLatin1String("Status")) {
            handleStatus(value);
            status = value;
        } else if (prefix == QLatin1String("Requesting")) {
            handleRequest(value);
        } else if (prefix == QLatin1String("Updating examples")
                   || prefix == QLatin1String("Automatic updates disabled")) {
            ++m_progress.listingsAnswered;
        } else if (prefix == QLatin1String("Provided repository url is not valid")
                   || prefix == QLatin1String("Provided repository url has no group")) {
            m_failures.append(message);
        }
    }
    if (!status.isEmpty())
        QMetaObject::invokeMethod(this, [this, status] { emit statusChanged(status); },
                                  Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &WorkMonitor::activity, Qt::QueuedConnection);
}

void WorkMonitor::documentationChanged()
{
    {
        QMutexLocker locker(&m_mutex);
        touch();
        if (m_progress.unpacksEnded < m_progress.unpacksStarted) {
            ++m_progress.unpacksEnded;
            ++m_progress.installationsFinished;
        }
    }
    emit activity();
}

void WorkMonitor::setSilentListingAllowance(int listings)
{
    QMutexLocker locker(&m_mutex);
    m_silentListings = listings;
}

WorkMonitor::Progress WorkMonitor::progress() const
{
    QMutexLocker locker(&m_mutex);
    return m_progress;
}

bool WorkMonitor::isSettled() const
{
    QMutexLocker locker(&m_mutex);
    return m_progress.pendingRequests(m_silentListings) <= 0
           && m_progress.unpacksEnded >= m_progress.unpacksStarted;
}

qint64 WorkMonitor::idleMilliseconds() const
{
    QMutexLocker locker(&m_mutex);
    return m_sinceActivity.elapsed();
}

QStringList WorkMonitor::failures() const
{
    QMutexLocker locker(&m_mutex);
    return m_failures;
}

QStringList WorkMonitor::warnings() const
{
    QMutexLocker locker(&m_mutex);
    return m_warnings;
}

QString WorkMonitor::lastStatus() const
{
    QMutexLocker locker(&m_mutex);
    return m_lastStatus;
}

} // namespace Shell
