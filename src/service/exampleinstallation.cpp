// The download service's installation of one downloaded example: unpacking it, checking the
// installed copy for the user's work, putting the new copy in place and registering it.

#include "downloadservice.h"
#include "installationfolders.h"

#include "folderremoval.h"
#include "localchanges.h"
#include "manifestwriter.h"
#include "projectinspection.h"

#include "plugin/logging.h"

#include <coreplugin/helpmanager.h>
#include <utils/filepath.h>
#include <utils/unarchiver.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtConcurrent>

namespace Tidepool::Internal {

using namespace Installation;

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
            discardFolder(repositoryName, path, previousFolder);
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

} // namespace Tidepool::Internal
