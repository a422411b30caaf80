#pragma once

#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace HostStandIn::Internal {

// Process-wide state of the stand-in host. Touched on the GUI thread only, except the unarchiver
// limits, which are copied into each job when it starts.
struct HostState
{
    std::unique_ptr<Utils::QtcSettings> userSettings;
    std::unique_ptr<Utils::QtcSettings> installSettings;
    QString settingsPath;
    QString resourcePath;
    QPointer<QMainWindow> mainWindow;
    OptionsDialogProvider optionsDialogProvider;
    UnarchiverLimits unarchiverLimits;
    ProgressTaskObserver progressTaskObserver;
};

HostState &hostState();

QString defaultResourcePath();
QString effectiveSettingsPath();

} // namespace HostStandIn::Internal
