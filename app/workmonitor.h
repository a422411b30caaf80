#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>

namespace Shell {

// Follows the plugin's work through its log lines and the host's documentationChanged() signal:
// the requests it sends, the examples it downloads and unpacks, and the status texts that report
// failures. The plugin offers no other view of its work, so the shell enables the plugin's debug
// categories and feeds every line of them in here.
//
// Each request ends visibly, with one exception: a listing that the day interval turns into a
// no-op ends without a word. The shell predicts those from the stored check dates
// (setSilentListingAllowance()) and additionally waits for a quiet period before it calls the
// work done.
class WorkMonitor : public QObject
{
    Q_OBJECT

public:
    struct Progress
    {
        int searchRequests = 0;
        int listingRequests = 0;
        int downloadsStarted = 0;
        int searchesAnswered = 0;
        int listingsAnswered = 0;
        int examplesDelivered = 0;   // archive arrived, handed over for unpacking
        int networkErrors = 0;
        int imageFailures = 0;
        int unpacksStarted = 0;
        int unpacksEnded = 0;
        int repositoriesReady = 0;
        int installationsFinished = 0;   // documentationChanged() after an unpack

        int pendingRequests(int silentListingAllowance) const;
    };

    explicit WorkMonitor(QObject *parent = nullptr);

    // Thread-safe: log lines arrive on the GUI thread and on the download threads.
    void logLine(const QString &category, const QString &message);
    void documentationChanged();

    void setSilentListingAllowance(int listings);

    // Status texts are translated by the plugin; call once its translator is installed.
    void updateStatusPatterns();

    Progress progress() const;
    bool isSettled() const;          // no request, download or unpack outstanding
    qint64 idleMilliseconds() const; // since the last sign of plugin activity
    QStringList failures() const;
    QStringList warnings() const;
    QString lastStatus() const;

    // Splits a debug line made of a fixed prefix and one value ("Status: \"text\"") into the
    // prefix without its colon and the value, unquoted.
    static bool splitLine(const QString &message, QString *prefix, QString *value);

signals:
    void statusChanged(const QString &status);   // queued to the monitor's thread
    void activity();

private:
    enum class Status {
        Unknown, Searching, Ready, SearchError, RepositoryError, FetchExamples, FetchError,
        NetworkError, DownloadingExample, ImageFailed, NotDownloaded, CastError, SkipSaving,
        Unpacking, NotAnArchive, UnarchiveError, SkipRegistering, ManifestError, SkipDownloading,
        Restarting
    };
    struct StatusPattern
    {
        Status status;
        QRegularExpression pattern;
    };

    void addPattern(Status status, const char *context, const char *source);
    Status classifyStatus(const QString &text) const;
    void handleStatus(const QString &text);
    void handleRequest(const QString &url);
    void touch();

    mutable QMutex m_mutex;
    QList<StatusPattern> m_patterns;
    Progress m_progress;
    int m_silentListings = 0;
    QStringList m_failures;
    QStringList m_warnings;
    QString m_lastStatus;
    QElapsedTimer m_sinceActivity;
};

} // namespace Shell
