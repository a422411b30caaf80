#pragma once

// The folders and files of the installations in progress, which the download service's update
// cycle and its installation steps share: the pending-installations record, the service's own
// work folder, and the recovery of what a crash left behind.

#include "repositories/repository.h"

#include <QSet>
#include <QString>
#include <QUrl>

QT_BEGIN_NAMESPACE
class QObject;
QT_END_NAMESPACE

namespace Tidepool::Internal::Installation {

// The temporary archive and unpack folder of a running unpack job, kept on the job so that a
// service that goes away before the job ends can still clean up.
inline constexpr char archiveProperty[] = "tidepoolArchive";
inline constexpr char unpackFolderProperty[] = "tidepoolUnpackFolder";

// The folder of an example (or another entry) of a repository.
QString examplePath(const QString &repositoryName, const QString &folderName);
QString repositoryFolder(const QString &repositoryName);
QString pathOf(const Repository::ExamplePtr &example);
QString nameOf(const Repository::ExamplePtr &example);
QString classNameOf(const QObject *object);
bool hasManifest(const QString &folder);

// The service's own folder of a repository, where downloads wait and are unpacked.
QString workFolder(const QString &repositoryName);
void removeWorkFolderIfEmpty(const QString &repositoryName);
// A downloaded archive that is done with, and its folder if it was the last one there.
void removeArchive(const QString &file);
// Deletes an example's folder that is done with, in the background.
void discardFolder(const QString &repositoryName, const QString &path, const QString &folder);

// The record of the installations asked for and not ended yet.
QSet<QString> readPending(const QString &repositoryName);
void writePending(const QString &repositoryName, const QSet<QString> &paths);
void addPending(const QString &repositoryName, const QSet<QString> &paths);

// A copy with the user's work, set aside while its successor is registered, and moved on.
QString keptAsideName(const QString &path);
QString moveToKeptFolder(const QString &repositoryName, const QString &path, const QString &aside);

// What an installation cut short by a crash left in the repository folder.
void recoverInterruptedInstallations(const QString &repositoryName);

// The examples of the repository at url that the user removed, as stored now.
QSet<QString> storedRemovedExamples(const QUrl &url);

} // namespace Tidepool::Internal::Installation
