#pragma once

// Setup of the stand-in host, for the IDE shell and tests only. The plugin never includes this.

#include <coreplugin/core_global.h>

#include <utils/id.h>

#include <QString>
#include <QtGlobal>

#include <functional>

namespace Core { class FutureProgress; }

QT_BEGIN_NAMESPACE
class QMainWindow;
class QWidget;
QT_END_NAMESPACE

namespace HostStandIn {

// The folder of the user settings: <path>/QtProject/QtCreator.ini. (Re)creates the settings
// object that ICore::settings() and PluginManager::settings() return; a previous one is synced and
// deleted. Without a call, the user's configuration folder is used.
CORE_EXPORT void setSettingsPath(const QString &path);
CORE_EXPORT QString settingsPath();

// The installation's resource folder (ICore::resourcePath()); default
// <application dir>/../share/qtcreator. The install settings are read from
// <path>/QtProject/QtCreator.ini.
CORE_EXPORT void setResourcePath(const QString &path);

CORE_EXPORT void setMainWindow(QMainWindow *window);

// Called by ICore::showOptionsDialog(); without one, showOptionsDialog() returns false.
using OptionsDialogProvider = std::function<bool(Utils::Id page, QWidget *parent)>;
CORE_EXPORT void setOptionsDialogProvider(const OptionsDialogProvider &provider);

// Bounds for one unpack job: total bytes written and number of entries.
struct UnarchiverLimits
{
    qint64 maxTotalBytes = qint64(4) * 1024 * 1024 * 1024;
    qint64 maxEntries = 200000;
};
CORE_EXPORT void setUnarchiverLimits(const UnarchiverLimits &limits);
CORE_EXPORT UnarchiverLimits unarchiverLimits();

// Told of every task given to the ProgressManager, as it is added (the IDE shows them in its
// status bar). The task is the manager's; it goes some time after its future has finished.
using ProgressTaskObserver = std::function<void(Core::FutureProgress *task)>;
CORE_EXPORT void setProgressTaskObserver(const ProgressTaskObserver &observer);

// Back to the defaults: settings synced and dropped (pointers to them become invalid), no main
// window, no options dialog provider, no progress task observer, default resource path and unarchiver limits. Options pages
// stay with their owners.
CORE_EXPORT void reset();

} // namespace HostStandIn
