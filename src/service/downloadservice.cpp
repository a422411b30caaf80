#include "downloadservice.h"
#include "installationfolders.h"

#include "folderremoval.h"
#include "heaptrim.h"

#include "plugin/logging.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <utils/unarchiver.h>

#include <QDir>
#include <QtConcurrent>

#include <algorithm>
#include <limits>

namespace Tidepool::Internal {

const QString examplePathTemplate = dataLocation() + QDir::separator() + QStringLiteral("%2");
const QString repositoryCastErrorTemplate = QObject::tr("Unable to cast repository from: %1");
const QString exampleIconFileName = QStringLiteral("example-icon.png");

using namespace Installation;

namespace {

int restartInterval(quint32 seconds)
{
    // No faster than once a second: a client must get the chance to hear back from its server
    // before it is replaced. The timer takes a signed 32-bit count of milliseconds.
    constexpr qint64 minimum = 1000;
    constexpr qint64 maximum = std::numeric_limits<int>::max();
    return int(std::clamp(qint64(seconds) * 1000, minimum, maximum));
}

} // namespace

DownloadService::DownloadService(QObject *parent)
    : QObject(parent)
{
    m_settings.load(Core::ICore::settings());
    // Records are replaced one after the other, in the order the installations ended.
    m_recordPool.setMaxThreadCount(1);
    // One check at a time: the unpacking already keeps the other processors busy, and the GUI
    // thread must still get one.
    m_checkPool.setMaxThreadCount(1);

    // A repository's name is its folder's name: one that is no folder name would put the folder
    // (and everything the service deletes in it) outside the data location.
    for (auto it = m_settings.repositories.begin(); it != m_settings.repositories.end();) {
        if (isSafeFolderName(it.key())) {
            ++it;
            continue;
        }
        setStatus(tr("Skip repository %1 - unusable folder name").arg(it.key()));
        it = m_settings.repositories.erase(it);
    }

    for (auto it = m_settings.repositories.cbegin(); it != m_settings.repositories.cend(); ++it)
        recoverInterruptedInstallations(it.key());

    for (auto it = m_settings.repositories.cbegin(); it != m_settings.repositories.cend(); ++it) {
        const auto repository = QSharedPointer<Repository>::create(it->url, this);
        m_repositories.append(repository);
        connect(repository.get(), &Repository::downloaded, this, &DownloadService::onDownloaded);
        connect(repository.get(), &Repository::fetched, this, &DownloadService::onFetched);
        repository->setDownloadFolder(workFolder(it.key()));
        connect(repository.get(), &Repository::downloadFailed, this,
                [this, source = repository.get()](const Repository::ExamplePtr &example) {
                    onDownloadFailed(source, example);
                });
        connect(repository.get(), &Repository::checkFailed, this,
                [this, source = repository.get()](const QString &reason) {
                    m_checks.fail(source, reason);
                });
        // The client looks the group up once the event loop runs.
        m_checks.begin(repository.get(), it.key());
    }

    connect(
        &m_restartTimer, &QTimer::timeout, &m_restartTimer, [this] { checkRepositories(); },
        Qt::DirectConnection);
    m_restartTimer.start(restartInterval(m_settings.serviceRestartTimeoutSeconds));

    // Ended installations leave the pending record in one go, a moment after the last one or
    // when every batch has ended: replacing the file after each example kept the GUI thread
    // waiting on the disk while the unpacking writes. Should the IDE die before, the next start
    // only installs those examples once more.
    m_pendingTimer.setSingleShot(true);
    m_pendingTimer.setInterval(1000);
    connect(&m_pendingTimer, &QTimer::timeout, this, &DownloadService::flushPending);
    connect(&m_progress, &InstallationProgress::allEnded, this, &DownloadService::flushPending);
    // Queued: what the last installation released on its way out is free by then.
    connect(&m_progress, &InstallationProgress::allEnded, this, &trimHeap, Qt::QueuedConnection);
}

DownloadService::~DownloadService()
{
    // Jobs still unpacking end before the service does: their completion handlers must not run
    // on a service that is half gone, and their temporary archives would otherwise stay behind.
    const auto jobs = findChildren<Utils::Unarchiver *>(QString(), Qt::FindDirectChildrenOnly);
    for (Utils::Unarchiver *job : jobs) {
        const QString archive = job->property(archiveProperty).toString();
        const QString unpackFolder = job->property(unpackFolderProperty).toString();
        disconnect(job, nullptr, this, nullptr);
        delete job;
        if (!unpackFolder.isEmpty())
            removeFolder(unpackFolder);
        removeArchive(archive);
    }
    // Checks still running are told to stop; what they unpacked goes, and their examples stay
    // pending for the next start.
    m_stopping->store(true);
    for (auto it = m_unpackChecks.cbegin(); it != m_unpackChecks.cend(); ++it) {
        disconnect(it.key(), nullptr, this, nullptr);
        it.key()->waitForFinished();
        removeFolder(it.value());
        QDir().rmdir(QFileInfo(it.value()).path());
    }
    m_checkPool.waitForDone();
    m_recordPool.waitForDone();
    flushPending();
    // What ended installations left to delete is gone when the service is.
    waitForBackgroundRemovals();
}

void DownloadService::finishPending(const QString &repositoryName, const QString &path)
{
    m_endedPending[repositoryName].insert(path);
    if (!m_pendingTimer.isActive())
        m_pendingTimer.start();
}

void DownloadService::flushPending()
{
    m_pendingTimer.stop();
    for (auto it = m_endedPending.cbegin(); it != m_endedPending.cend(); ++it) {
        const QSet<QString> pending = readPending(it.key());
        if (pending.intersects(it.value()))
            writePending(it.key(), pending - it.value());
    }
    m_endedPending.clear();
}

Repository::Examples DownloadService::examples(const QString &repositoryName) const
{
    const QSharedPointer<Repository> repository = findRepository(repositoryName);
    return repository ? repository->examples() : Repository::Examples();
}

void DownloadService::download(const QString &repositoryName, const QSet<QString> &paths)
{
    const QSharedPointer<Repository> repository = findRepository(repositoryName);
    if (!repository) {
        setStatus(tr("Skip downloading examples - unable to find repository for name: %1")
                      .arg(repositoryName));
        return;
    }
    flushPending();
    addPending(repositoryName, paths);
    startDownload(repository.get(), repositoryName, paths);
}

void DownloadService::startDownload(Repository *repository, const QString &repositoryName,
                                    const QSet<QString> &paths)
{
    // Only the paths the repository lists are downloaded.
    QStringList batch;
    for (const Repository::ExamplePtr &example : repository->examples()) {
        const QString path = pathOf(example);
        if (paths.contains(path) && !batch.contains(path))
            batch.append(path);
    }
    m_progress.start(repository, repositoryName, batch);
    repository->download(paths);
}

void DownloadService::onDownloadFailed(const Repository *repository,
                                       const Repository::ExamplePtr &example)
{
    m_progress.finish(repository, pathOf(example), false);
    // What the download had written is gone already; its folder goes if nothing else is in it.
    const QString name = m_settings.repositoryName(repository->url());
    if (!name.isEmpty())
        removeWorkFolderIfEmpty(name);
}

void DownloadService::onFetched()
{
    auto repository = qobject_cast<Repository *>(sender());
    if (!repository) {
        setStatus(repositoryCastErrorTemplate.arg(classNameOf(sender())));
        return;
    }

    emit updated();

    // The user called the check off: nothing is decided or installed until the next one.
    if (m_checks.isCanceled(repository)) {
        m_checks.decide(repository, 0);
        return;
    }
    // The check ends once its decision is taken, after the batch it decided on has started.
    const auto decide = [this, repository](const QString &name, const QSet<QString> &paths) {
        startDownload(repository, name, paths);
        m_checks.decide(repository, int(paths.size()));
    };

    const QUrl url = repository->url();
    const QString name = m_settings.repositoryName(url);

    // Installations that an earlier run began and never ended are picked up whatever the date:
    // that run already recorded today's check.
    QSet<QString> resumed;
    if (!name.isEmpty()) {
        const QSet<QString> removed = storedRemovedExamples(url);
        flushPending();
        const QSet<QString> pending = readPending(name);
        for (const Repository::ExamplePtr &example : repository->examples()) {
            const QString path = pathOf(example);
            if (pending.contains(path) && !removed.contains(path))
                resumed.insert(path);
        }
        writePending(name, resumed);
        if (!resumed.isEmpty())
            qCDebug(serviceLog) << "Resuming examples:" << QStringList(resumed.cbegin(), resumed.cend());
    }

    if (m_settings.updatesCheckTimeoutDays == 0) {
        qCDebug(serviceLog) << "Automatic updates disabled";
        decide(name, resumed);
        return;
    }

    const QDate lastCheck = m_settings.updatesCheckedDate.value(name);
    const QDate today = QDate::currentDate();
    // A date in the future counts as recent too.
    if (lastCheck.isValid() &&
        lastCheck.daysTo(today) <= qint64(m_settings.updatesCheckTimeoutDays)) {
        decide(name, resumed);
        return;
    }

    const Repository::Examples examples = repository->examples();
    if (serviceLog().isDebugEnabled()) {
        QStringList paths;
        for (const Repository::ExamplePtr &example : examples)
            paths.append(pathOf(example));
        qCDebug(serviceLog) << "Updating examples:" << paths;
    }

    if (name.isEmpty()) {
        // Only the date is written, into what is stored now: the options page may have saved
        // repositories or removals since this copy was loaded.
        m_settings.saveUpdatesCheckedDate(Core::ICore::settings(), name, today);
        const QString status =
            tr("Skip downloading examples - unable to find repository for url: %1")
                .arg(url.toString());
        setStatus(status);
        m_checks.fail(repository, status);
        return;
    }

    // The removals as stored now, for the same reason: an example the user removed on the options
    // page since the service started must not come back.
    const QSet<QString> removed = storedRemovedExamples(url);

    const QDateTime lastCheckStart = lastCheck.startOfDay();
    QSet<QString> paths = resumed;
    for (const Repository::ExamplePtr &example : examples) {
        const QString path = pathOf(example);
        bool skip = removed.contains(path) || !isSafeFolderName(path);
        if (!skip) {
            // Unchanged since the day of the last check and still on disk.
            const QDateTime lastActivity = example->lastActivity();
            skip = lastActivity.isValid() && lastCheckStart.isValid() &&
                   lastActivity.secsTo(lastCheckStart) > 0 &&
                   QFileInfo(examplePath(name, path)).isDir();
        }
        if (skip)
            qCDebug(serviceLog) << "Skip example:" << nameOf(example);
        else
            paths.insert(path);
    }

    // Recorded as pending before the day's check is: a crash in between must not leave examples
    // that no later start installs.
    flushPending();
    addPending(name, paths);
    m_settings.saveUpdatesCheckedDate(Core::ICore::settings(), name, today);
    decide(name, paths);
}

void DownloadService::checkRepositories()
{
    bool allReady = true;
    for (const QSharedPointer<Repository> &repository : std::as_const(m_repositories)) {
        if (repository->isListed())
            continue;
        // A listing that failed once is tried again like a lookup that failed: until then the
        // repository has no examples to update or to offer.
        allReady = false;
        const QString reason = repository->isReady()
                                   ? tr("Examples are not listed - restarting")
                                   : tr("API client is not ready - restarting");
        const QString status = QStringLiteral("%1 (%2)").arg(reason, repository->url().toString());
        setStatus(status);
        // A check still waiting for its server has failed by now; the retry starts silently
        // (see CheckProgress).
        m_checks.fail(repository.get(), status);
        // The old client's downloads end without a word.
        m_progress.abandon(repository.get());
        repository->restart();
        m_checks.begin(repository.get(), m_settings.repositoryName(repository->url()));
    }
    // Once every repository has been listed the timer has done its work for good.
    if (allReady)
        m_restartTimer.stop();
}

QSharedPointer<Repository> DownloadService::findRepository(const QString &name) const
{
    const QUrl url = m_settings.repositories.value(name).url;
    if (url.isEmpty())
        return {};
    const auto it = std::find_if(
        m_repositories.cbegin(), m_repositories.cend(),
        [&url](const QSharedPointer<Repository> &repository) { return repository->url() == url; });
    return it != m_repositories.cend() ? *it : QSharedPointer<Repository>();
}

void DownloadService::setStatus(const QString &status)
{
    if (!status.isEmpty())
        qCDebug(serviceLog) << "Status:" << status;
    emit statusChanged(status);
}

} // namespace Tidepool::Internal
