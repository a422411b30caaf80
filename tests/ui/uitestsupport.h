#pragma once

// Set-up shared by the settings page tests and the page picture: a local GitLab group, the host's
// settings in a temporary folder, installed examples in the data location and the plugin's
// download service fetching from the local server.

#include "plugin/settings.h"
#include "plugin/tidepoolpluginprivate.h"
#include "service/downloadservice.h"

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <gitlabserver.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

namespace UiTest {

using namespace Tidepool::Internal;

inline const char manifestName[] = "examples-manifest.xml";

// A project of the local group: just enough of a CMake project for the installer to find its
// project file and the file to open.
inline LocalGitLab::ProjectData project(const QString &path, const QDateTime &lastActivity,
                                        const QString &description = {})
{
    LocalGitLab::ProjectData data;
    data.path = path;
    data.name = path;
    data.description = description;
    data.lastActivity = lastActivity;
    data.files.insert("CMakeLists.txt",
                      QStringLiteral("cmake_minimum_required(VERSION 3.16)\nproject(%1 CXX)\n"
                                     "add_executable(%1 main.cpp)\n")
                          .arg(QString(path).replace(u'-', u'_'))
                          .toUtf8());
    data.files.insert("main.cpp", "int main() { return 0; }\n");
    return data;
}

inline QString repositoryFolder(const QString &name)
{
    return dataLocation().arg(name);
}

// Writes an installed example's manifest (the page looks only at where it is and when it was
// written) and dates it.
inline bool installManifest(const QString &repository, const QString &relativeFolder,
                            const QDateTime &modified)
{
    const QString folder = repositoryFolder(repository) + u'/' + relativeFolder;
    if (!QDir().mkpath(folder))
        return false;
    QFile file(folder + u'/' + QLatin1String(manifestName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<instructionals module=\"Tidepool\">"
               "<examples/></instructionals>\n");
    // Written out first: a later flush would date the file anew.
    return file.flush() && file.setFileTime(modified, QFileDevice::FileModificationTime);
}

// Every repository folder of the data location goes.
inline bool clearDataLocation()
{
    QDir root(dataLocation().arg(QString()));
    return root.removeRecursively() && QDir().mkpath(root.path());
}

struct RepositoryEntry
{
    QString name;
    QUrl url;
    QSet<QString> removedExamples = {};
};

inline void saveSettings(const QList<RepositoryEntry> &repositories, quint32 intervalDays)
{
    Settings settings;
    settings.updatesCheckTimeoutDays = intervalDays;
    for (const RepositoryEntry &entry : repositories) {
        RepositorySettings repository;
        repository.url = entry.url;
        repository.removedExamples = entry.removedExamples;
        settings.repositories.insert(entry.name, repository);
    }
    settings.save(Core::ICore::settings());
}

// What is stored now, read through a settings object of its own.
inline Settings storedSettings()
{
    Utils::QtcSettings store(HostStandIn::settingsPath() + "/QtProject/QtCreator.ini",
                             QSettings::IniFormat);
    Settings settings;
    settings.load(&store);
    return settings;
}

// The paths the user removed from a stored repository. An empty set is stored as one empty
// path, which means nothing.
inline QSet<QString> storedRemovedExamples(const QString &repository)
{
    QSet<QString> removed = storedSettings().repositories.value(repository).removedExamples;
    removed.remove(QString());
    return removed;
}

// Starts the plugin's start-up work, which creates a new download service (the previous one goes),
// and waits until each of the given number of repositories has been listed once.
inline bool startService(int listedRepositories)
{
    const QList<Core::IOptionsPage *> before = Core::IOptionsPage::allOptionsPages();
    { TidepoolPluginPrivate plugin; }
    // The start-up also registers the plugin's options page, which the host would keep for the
    // rest of its life; the tests show pages of their own.
    for (Core::IOptionsPage *page : Core::IOptionsPage::allOptionsPages()) {
        if (!before.contains(page))
            delete page;
    }
    DownloadService *service = downloadService();
    if (!service)
        return false;
    QSignalSpy updated(service, &DownloadService::updated);
    while (updated.count() < listedRepositories) {
        if (!updated.wait(15000))
            return false;
    }
    return true;
}

// A visible box of the host's non-blocking message boxes with this title, or null.
inline QMessageBox *messageBox(const QString &title)
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto box = qobject_cast<QMessageBox *>(window);
        if (box && box->isVisible() && box->windowTitle() == title)
            return box;
    }
    return nullptr;
}

} // namespace UiTest
