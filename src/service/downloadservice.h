#pragma once

#include "checkprogress.h"
#include "installationprogress.h"
#include "localchanges.h"

#include "plugin/settings.h"
#include "repositories/repository.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>

class QFutureWatcherBase;

namespace Tidepool::Internal {

// The plugin's one installation service: keeps a Repository per configured repository, runs the
// update cycle when a repository has been listed, and installs every downloaded example (unpack,
// tidy, manifest, tell the host).
class DownloadService : public QObject
{
    Q_OBJECT

public:
    explicit DownloadService(QObject *parent = nullptr);
    ~DownloadService() override;

    Repository::Examples examples(const QString &repositoryName) const;
    void download(const QString &repositoryName, const QSet<QString> &paths);

signals:
    void updated();
    void statusChanged(const QString &status);
    // An update replaced an example that held the user's work; status says where the work went.
    void changesKept(const QString &status);

public slots:
    void onDownloaded(Tidepool::Internal::Repository::ExamplePtr example);
    void onFetched();

private:
    void setStatus(const QString &status);
    QSharedPointer<Repository> findRepository(const QString &name) const;
    void checkRepositories();
    // Hands the paths to the repository's download and shows them as one batch in progress.
    void startDownload(Repository *repository, const QString &repositoryName,
                       const QSet<QString> &paths);
    void onDownloadFailed(const Repository *repository, const Repository::ExamplePtr &example);
    // Compares the installed copy with its record and fingerprints the unpacked one on a worker
    // thread, then registers the unpacked copy.
    void checkAndRegister(Repository *repository, const QString &repositoryName,
                          const Repository::ExamplePtr &example, const QString &unpackFolder);
    // The installation has ended: what was unpacked goes, and so does the pending entry of an
    // installed example.
    void endInstallation(Repository *repository, const QString &repositoryName,
                         const QString &path, const QString &unpackFolder, bool installed);
    // Puts the copy unpacked into unpackFolder in the installed one's place and registers it;
    // whether the example ended up installed (an example removed meanwhile counts as done). An
    // installed copy that holds the user's work is kept beside the repository folder.
    bool registerExample(const QString &repositoryName, const Repository::ExamplePtr &example,
                         const QString &unpackFolder, const InstallationCheck &check);
    // Replaces the example's installation record on the record thread, in the order asked for.
    void writeRecord(const QString &repositoryName, const QString &path, const QByteArray &record);
    bool writeManifest(const QString &repositoryName, const Repository::ExamplePtr &example);
    void notifyInstalled();
    // The example's installation has ended, one way or the other: it leaves the pending record
    // with the next flush.
    void finishPending(const QString &repositoryName, const QString &path);
    void flushPending();

    Settings m_settings;
    QTimer m_restartTimer;
    QTimer m_pendingTimer;
    QHash<QString, QSet<QString>> m_endedPending;   // by repository name
    QList<QSharedPointer<Repository>> m_repositories;
    InstallationProgress m_progress;
    CheckProgress m_checks;
    // Fingerprinting and comparing read whole examples: never on the GUI thread.
    QThreadPool m_checkPool;
    QThreadPool m_recordPool;
    const std::shared_ptr<std::atomic_bool> m_stopping = std::make_shared<std::atomic_bool>(false);
    QHash<QFutureWatcherBase *, QString> m_unpackChecks; // running checks by their unpack folders
};

// Process-wide constants, created when the library is loaded.
// examplePathTemplate: the data location, a separator and "%2": %1 the repository name, %2 the
// example's folder name.
extern const QString examplePathTemplate;
extern const QString repositoryCastErrorTemplate;
extern const QString exampleIconFileName;

} // namespace Tidepool::Internal
