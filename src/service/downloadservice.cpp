#include "downloadservice.h"

#include "folderremoval.h"
#include "heaptrim.h"
#include "localchanges.h"
#include "manifestwriter.h"
#include "projectinspection.h"

#include "plugin/logging.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <utils/filepath.h>
#include <utils/unarchiver.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <algorithm>
#include <limits>

namespace Tidepool::Internal {

const QString examplePathTemplate = dataLocation() + QDir::separator() + QStringLiteral("%2");
const QString repositoryCastErrorTemplate = QObject::tr("Unable to cast repository from: %1");
const QString exampleIconFileName = QStringLiteral("example-icon.png");

namespace {

// The temporary archive and unpack folder of a running unpack job, kept on the job so that a
// service that goes away before the job ends can still clean up.
constexpr char archiveProperty[] = "tidepoolArchive";
constexpr char unpackFolderProperty[] = "tidepoolUnpackFolder";

QString examplePath(const QString &repositoryName, const QString &folderName)
{
    // Both placeholders in one pass, so that a "%2" inside a repository name stays text.
    return examplePathTemplate.arg(repositoryName, folderName);
}

QString pathOf(const Repository::ExamplePtr &example)
{
    return example->json().value(QLatin1String("path")).toString();
}

QString nameOf(const Repository::ExamplePtr &example)
{
    return example->json().value(QLatin1String("name")).toString();
}

QString classNameOf(const QObject *object)
{
    return object ? QString::fromLatin1(object->metaObject()->className())
                  : QStringLiteral("(no sender)");
}

// The examples of a repository whose installation was asked for and has not ended yet, one path
// a line, in a hidden file of the repository folder. It outlives a crash of the IDE: the next
// start picks the installations up again, although the day's check is already recorded.
constexpr char pendingFileName[] = ".tidepool-pending";

// Where a downloaded archive waits to be unpacked, and where it is unpacked to before the copy
// goes into place: a hidden folder of the repository folder that only the service writes to, so
// that nothing of the user's is ever taken for a leftover (and no scan lists what lies in it).
// An archive is "<path>-XXXXXX.tar.gz", the folder it unpacks to "<path>-XXXXXX".
constexpr char workFolderName[] = ".tidepool-work";
const QString temporaryArchiveSuffix = QStringLiteral(".tar.gz");

QString workFolder(const QString &repositoryName)
{
    return examplePath(repositoryName, QLatin1String(workFolderName));
}

// Gone once the last job has cleaned up after itself; a job still running keeps it.
void removeWorkFolderIfEmpty(const QString &repositoryName)
{
    QDir().rmdir(workFolder(repositoryName));
}

// A downloaded archive that is done with, and its folder if it was the last one there.
void removeArchive(const QString &file)
{
    if (file.isEmpty())
        return;
    QFile::remove(file);
    const QFileInfo info(file);
    if (info.dir().dirName() == QLatin1String(workFolderName))
        QDir().rmdir(info.path());
}

QString pendingFile(const QString &repositoryName)
{
    return examplePath(repositoryName, QLatin1String(pendingFileName));
}

QSet<QString> readPending(const QString &repositoryName)
{
    QFile file(pendingFile(repositoryName));
    QSet<QString> paths;
    if (!file.open(QIODevice::ReadOnly))
        return paths;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString path = QString::fromUtf8(line);
        if (isSafeFolderName(path))
            paths.insert(path);
    }
    return paths;
}

void writePending(const QString &repositoryName, const QSet<QString> &paths)
{
    if (paths.isEmpty()) {
        QFile::remove(pendingFile(repositoryName));
        return;
    }
    QDir().mkpath(examplePath(repositoryName, QString()));
    QStringList lines(paths.cbegin(), paths.cend());
    lines.sort();
    replaceFile(pendingFile(repositoryName), lines.join(QLatin1Char('\n')).toUtf8() + '\n');
}

void addPending(const QString &repositoryName, const QSet<QString> &paths)
{
    const QSet<QString> pending = readPending(repositoryName);
    if (!(paths - pending).isEmpty())
        writePending(repositoryName, pending | paths);
}

bool hasManifest(const QString &folder)
{
    return QFileInfo::exists(folder + QDir::separator() + QLatin1String(manifestFileName));
}

QString repositoryFolder(const QString &repositoryName)
{
    return QDir::cleanPath(examplePath(repositoryName, QString()));
}

// An installed copy that holds the user's work waits under this name while its successor is
// registered; unlike ".<path>.previous" it is never deleted, only moved on to its kept folder.
QString keptAsideName(const QString &path)
{
    return QStringLiteral(".%1.kept").arg(path);
}

// Moves the installed copy set aside at aside to a kept folder of its own; that folder, or empty
// when it could not be moved (it then stays where it is, and the next start tries again).
QString moveToKeptFolder(const QString &repositoryName, const QString &path, const QString &aside)
{
    const QString kept =
        keptChangesFolder(repositoryFolder(repositoryName), path, QDateTime::currentDateTime());
    if (!QDir().mkpath(QFileInfo(kept).path()) || !QDir().rename(aside, kept)) {
        qCDebug(serviceLog) << "Unable to move" << aside << "to" << kept;
        return {};
    }
    qCDebug(serviceLog) << "Kept the user's copy of" << path << "in" << kept;
    return kept;
}

// What an installation cut short by a crash left in the repository folder: an installed copy
// moved aside is put back unless its successor was registered, and the downloads and unpacked
// copies of pending examples go.
void recoverInterruptedInstallations(const QString &repositoryName)
{
    const QDir folder(examplePath(repositoryName, QString()));
    const QStringList hidden = folder.entryList({QStringLiteral(".*.previous")},
                                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &previous : hidden) {
        const QString path = previous.mid(1, previous.size() - int(sizeof(".previous")));
        const QString current = examplePath(repositoryName, path);
        if (!isSafeFolderName(path) || hasManifest(current)) {
            removeFolder(examplePath(repositoryName, previous));
            continue;
        }
        removeFolder(current);
        QDir().rename(examplePath(repositoryName, previous), current);
    }

    // A copy with the user's work goes on to its kept folder once its successor is registered,
    // and back into place otherwise; it is never deleted.
    const QStringList kept = folder.entryList({QStringLiteral(".*.kept")},
                                              QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &aside : kept) {
        const QString path = aside.mid(1, aside.size() - int(sizeof(".kept")));
        const QString current = examplePath(repositoryName, path);
        if (!isSafeFolderName(path))
            continue;
        if (hasManifest(current)) {
            moveToKeptFolder(repositoryName, path, examplePath(repositoryName, aside));
            continue;
        }
        removeFolder(current);
        QDir().rename(examplePath(repositoryName, aside), current);
    }

    // Records of examples that are gone (removed on the options page, or never installed).
    const QDir records(installationRecordFolder(repositoryFolder(repositoryName)));
    const QStringList recordFiles = records.entryList({QStringLiteral("*.json")}, QDir::Files);
    for (const QString &record : recordFiles) {
        const QString path = record.chopped(int(sizeof(".json")) - 1);
        if (!QFileInfo(examplePath(repositoryName, path)).isDir())
            QFile::remove(records.filePath(record));
    }
    records.rmdir(records.path());

    const QSet<QString> pending = readPending(repositoryName);
    const QDir work(workFolder(repositoryName));
    const QStringList leftovers =
        work.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &path : pending) {
        // Only those of pending examples: another IDE sharing the data folder may be installing
        // something else right now.
        const QRegularExpression leftover(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(path) + QStringLiteral("-.{6}(")
            + QRegularExpression::escape(temporaryArchiveSuffix) + QStringLiteral(")?")));
        for (const QString &entry : leftovers) {
            if (leftover.match(entry).hasMatch()) {
                qCDebug(serviceLog) << "Removing interrupted installation:" << work.filePath(entry);
                removeFolder(work.filePath(entry));
            }
        }
    }
    removeWorkFolderIfEmpty(repositoryName);
}

// The examples of the repository at url that the user removed, as stored now: the options page
// may have saved removals since the service loaded its settings.
QSet<QString> storedRemovedExamples(const QUrl &url)
{
    Settings stored;
    stored.load(Core::ICore::settings());
    for (const RepositorySettings &settings : std::as_const(stored.repositories)) {
        if (settings.url == url)
            return settings.removedExamples;
    }
    return {};
}

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

void DownloadService::onDownloaded(Repository::ExamplePtr example)
{
    auto repository = qobject_cast<Repository *>(sender());
    const QString path = pathOf(example);
    // The archive is this handler's from here on: it goes unless an unpack job takes it.
    QString archiveFile = example->takeArchiveFile();
    const auto discardArchive = qScopeGuard([&archiveFile] { removeArchive(archiveFile); });
    if (archiveFile.isEmpty()) {
        m_progress.finish(repository, path, false);
        setStatus(tr("The data is not downloaded for example: %1").arg(nameOf(example)));
        return;
    }

    if (!repository) {
        setStatus(repositoryCastErrorTemplate.arg(classNameOf(sender())));
        return;
    }

    const QString name = m_settings.repositoryName(repository->url());
    if (name.isEmpty()) {
        m_progress.finish(repository, path, false);
        setStatus(tr("Skip saving example %1 - unable to find repository name for url: %2")
                      .arg(example->name(), repository->url().toString()));
        return;
    }

    if (!isSafeFolderName(path)) {
        m_progress.finish(repository, path, false);
        setStatus(
            tr("Skip saving example %1 - unusable folder name: %2").arg(example->name(), path));
        return;
    }

    if (m_progress.isCanceled(repository, path)) {
        finishPending(name, path);
        m_progress.finish(repository, path, false);
        setStatus(tr("Skip saving example %1 - the installation was canceled").arg(example->name()));
        return;
    }

    setStatus(tr("Unpacking example: %1").arg(example->name()));

    // The archive was written, as it arrived, to the service's own folder; it is unpacked beside
    // it. A failed installation stays pending: the next start tries it again.
    const QString work = workFolder(name);
    QTemporaryDir unpackFolder(work + QDir::separator() + path + QStringLiteral("-XXXXXX"));
    if (!unpackFolder.isValid()) {
        m_progress.finish(repository, path, false);
        setStatus(tr("Unable to save the download of example %1 in %2")
                      .arg(example->name(), QDir::toNativeSeparators(work)));
        return;
    }
    qCDebug(serviceLog) << "Saved temp file:" << archiveFile;

    const Utils::FilePath archive = Utils::FilePath::fromString(archiveFile);
    const auto sourceAndCommand = Utils::Unarchiver::sourceAndCommand(archive);
    if (!sourceAndCommand) {
        m_progress.finish(repository, path, false);
        setStatus(tr("Downloaded file is not an archive"));
        return;
    }

    auto unarchiver = new Utils::Unarchiver;
    unarchiver->setParent(this);
    unarchiver->setSourceAndCommand(*sourceAndCommand);
    unarchiver->setDestDir(Utils::FilePath::fromString(unpackFolder.path()));
    unarchiver->setProperty(archiveProperty, archive.toFSPathString());
    unarchiver->setProperty(unpackFolderProperty, unpackFolder.path());
    archiveFile.clear();
    unpackFolder.setAutoRemove(false);

    connect(unarchiver, &Utils::Unarchiver::outputReceived, this,
            [](const QString &output) { qCDebug(archiveLog) << "Unpacking output:" << output; });
    connect(unarchiver, &Utils::Unarchiver::done, this,
            [this, unarchiver, repository, name, path, archive, unpacked = unpackFolder.path(),
             example](Tasking::DoneResult result) {
                // The archive is done with; deleting it can take the disk a while.
                removeInBackground({archive.toFSPathString()});
                unarchiver->deleteLater();
                if (result != Tasking::DoneResult::Success) {
                    setStatus(tr("There was an error while unarchiving"));
                    endInstallation(repository, name, path, unpacked, false);
                    return;
                }
                checkAndRegister(repository, name, example, unpacked);
            });

    unarchiver->start();
}

void DownloadService::checkAndRegister(Repository *repository, const QString &repositoryName,
                                       const Repository::ExamplePtr &example,
                                       const QString &unpackFolder)
{
    const QString path = pathOf(example);
    const QString installedFolder = examplePath(repositoryName, path);
    const QString recordFile = installationRecordFile(repositoryFolder(repositoryName), path);
    auto watcher = new QFutureWatcher<InstallationCheck>(this);
    m_unpackChecks.insert(watcher, unpackFolder);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, repository, repositoryName, example, path, unpackFolder] {
                m_unpackChecks.remove(watcher);
                watcher->deleteLater();
                const bool installed =
                    registerExample(repositoryName, example, unpackFolder, watcher->result());
                endInstallation(repository, repositoryName, path, unpackFolder, installed);
            });
    watcher->setFuture(QtConcurrent::run(
        &m_checkPool, [installedFolder, recordFile, unpackFolder, stopping = m_stopping] {
            return checkInstallation(installedFolder, recordFile, unpackFolder, stopping.get());
        }));
}

void DownloadService::endInstallation(Repository *repository, const QString &repositoryName,
                                      const QString &path, const QString &unpackFolder,
                                      bool installed)
{
    // After the archive, in the same order; what an update could not install may be large.
    removeInBackground({unpackFolder}, workFolder(repositoryName));
    if (installed)
        finishPending(repositoryName, path);
    m_progress.finish(repository, path, installed);
}

void DownloadService::writeRecord(const QString &repositoryName, const QString &path,
                                  const QByteArray &record)
{
    const QString file = installationRecordFile(repositoryFolder(repositoryName), path);
    m_recordPool.start([file, record] {
        // Without a record the next update falls back on the files' times.
        if (record.isEmpty()) {
            QFile::remove(file);
            return;
        }
        QDir().mkpath(QFileInfo(file).path());
        if (!replaceFile(file, record))
            qCDebug(serviceLog) << "Unable to write the installation record" << file;
    });
}

bool DownloadService::registerExample(const QString &repositoryName,
                                      const Repository::ExamplePtr &example,
                                      const QString &unpackFolder, const InstallationCheck &check)
{
    const QString path = pathOf(example);
    const QSharedPointer<Repository> repository = findRepository(repositoryName);
    if (!repository) {
        setStatus(tr("Skip registering example %1 - unable to find repository for name: %2")
                      .arg(nameOf(example), repositoryName));
        return false;
    }
    if (!isSafeFolderName(path))
        return false;
    // Removed on the options page while it was being downloaded: it does not come back.
    if (storedRemovedExamples(repository->url()).contains(path)) {
        setStatus(tr("Skip registering example %1 - it was removed").arg(nameOf(example)));
        return true;
    }

    // A project's archive holds one folder, "<path>-<ref>-<commit>". Anything else is not the
    // example: it is not installed, and the installed copy stays as it was.
    const QDir unpacked(unpackFolder);
    const QStringList top =
        unpacked.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QFileInfo newCopy(unpacked.filePath(top.value(0)));
    if (top.size() != 1 || !top.first().startsWith(path) || !newCopy.isDir()
        || newCopy.isSymLink()) {
        setStatus(tr("Skip installing example %1 - its archive does not hold one folder "
                     "named after it")
                      .arg(nameOf(example)));
        notifyInstalled();
        return false;
    }

    // A new version without a project file at its top cannot be registered either.
    const QString manifestError = tr("There was an error while creating example mainfest");
    if (findProjectFile(newCopy.filePath()).isEmpty()) {
        qCDebug(serviceLog) << "Project file not found";
        setStatus(manifestError);
        notifyInstalled();
        return false;
    }

    // The installed copy steps aside (hidden, so that no scan lists it) until the new one is
    // registered, and comes back if it cannot be. A copy with the user's work steps aside under a
    // name of its own and is kept afterwards; the IDE's per-user project files go with the new
    // copy either way, so that the kit chosen stays chosen.
    const QString exampleFolder = examplePath(repositoryName, path);
    const bool keep = !check.changes.isEmpty();
    if (keep)
        qCDebug(serviceLog) << "Local changes in" << exampleFolder << check.changes.all();
    QString previousFolder;
    if (QFileInfo(exampleFolder).isDir()) {
        carryUserProjectFiles(exampleFolder, newCopy.filePath(), check.changes.userProjectFiles);
        previousFolder = examplePath(repositoryName, keep ? keptAsideName(path)
                                                          : QStringLiteral(".%1.previous").arg(path));
        if (!keep)
            removeFolder(previousFolder);
        else if (QFileInfo::exists(previousFolder))
            moveToKeptFolder(repositoryName, path, previousFolder); // an earlier one not moved on
        if (QFileInfo::exists(previousFolder) || !QDir().rename(exampleFolder, previousFolder)) {
            setStatus(tr("Unable to replace example %1 in %2")
                          .arg(nameOf(example), QDir::toNativeSeparators(exampleFolder)));
            notifyInstalled();
            return false;
        }
    }

    const bool moved = QDir().rename(newCopy.filePath(), exampleFolder);
    const bool written = moved && writeManifest(repositoryName, example);
    if (written) {
        writeRecord(repositoryName, path, check.record);
        if (!previousFolder.isEmpty() && keep) {
            const QString kept = moveToKeptFolder(repositoryName, path, previousFolder);
            const QString status = tr("Updated example %1 - kept your changes in %2")
                                       .arg(nameOf(example),
                                            QDir::toNativeSeparators(kept.isEmpty() ? previousFolder
                                                                                    : kept));
            setStatus(status);
            m_progress.addNote(repository.get(), path, status);
            emit changesKept(status);
        } else if (!previousFolder.isEmpty()) {
            removeFolder(previousFolder);
        }
    } else {
        // The new copy goes back to be deleted with the unpack folder.
        if (moved && !QDir().rename(exampleFolder, newCopy.filePath()))
            removeFolder(exampleFolder);
        if (!previousFolder.isEmpty())
            QDir().rename(previousFolder, exampleFolder);
        setStatus(manifestError);
    }
    notifyInstalled();
    return written;
}

bool DownloadService::writeManifest(const QString &repositoryName,
                                    const Repository::ExamplePtr &example)
{
    const QString folder = examplePath(repositoryName, pathOf(example));

    ManifestFields fields;
    fields.module = repositoryName;
    fields.name = example->name();
    fields.projectPath = findProjectFile(folder);
    if (fields.projectPath.isEmpty()) {
        qCDebug(serviceLog) << "Project file not found";
        return false;
    }

    const QImage image = example->image();
    if (!image.isNull()) {
        const QString iconPath = folder + QDir::separator() + exampleIconFileName;
        // Written as the PNG bytes the download chain encoded, when there are any.
        const QByteArray png = example->imageFile();
        QFile icon(iconPath);
        const bool saved = png.isEmpty() ? image.save(iconPath)
                                         : icon.open(QIODevice::WriteOnly)
                                               && icon.write(png) == png.size();
        if (saved)
            fields.imageUrl = iconPath;
        else
            qCDebug(serviceLog) << "Unable to save image:" << iconPath;
    } else {
        qCDebug(serviceLog) << "Repository contains no image for example:" << nameOf(example);
    }
    // The icon is on disk now; the record is shared for the life of the IDE and need not hold
    // every image it ever downloaded.
    example->setImage({});
    if (fields.imageUrl.isEmpty())
        fields.imageUrl = findIcon(folder);

    fields.description = example->json().value(QLatin1String("description")).toString();
    fields.tags = example->tags().join(QLatin1Char(','));
    fields.fileToOpen = findFileToOpen(folder);

    const QByteArray manifest = manifestXml(fields);
    if (manifest.isEmpty())
        return false;

    const QString manifestPath =
        QStringLiteral("%1%2%3").arg(folder, QDir::separator(), QLatin1String(manifestFileName));
    if (!saveManifest(manifestPath, manifest)) {
        qCDebug(serviceLog) << "Unable to save manifest:" << manifestPath;
        return false;
    }
    return true;
}

void DownloadService::notifyInstalled()
{
    emit updated();
    emit Core::HelpManager::Signals::instance()->documentationChanged();
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
