#include "hoststate.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace HostStandIn {
namespace Internal {

HostState &hostState()
{
    static HostState state;
    return state;
}

QString defaultResourcePath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QStringLiteral("/../share/qtcreator"));
}

QString effectiveSettingsPath()
{
    const HostState &state = hostState();
    if (!state.settingsPath.isEmpty())
        return state.settingsPath;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

} // namespace Internal

using Internal::hostState;

static void dropSettings(std::unique_ptr<Utils::QtcSettings> &settings)
{
    if (settings)
        settings->sync();
    settings.reset();
}

void setSettingsPath(const QString &path)
{
    Internal::HostState &state = hostState();
    dropSettings(state.userSettings);
    state.settingsPath = QDir::cleanPath(path);
    state.userSettings = std::make_unique<Utils::QtcSettings>(
        state.settingsPath + QStringLiteral("/QtProject/QtCreator.ini"), QSettings::IniFormat);
}

QString settingsPath()
{
    return hostState().settingsPath;
}

void setResourcePath(const QString &path)
{
    Internal::HostState &state = hostState();
    state.resourcePath = path.isEmpty() ? QString() : QDir::cleanPath(path);
    // The install settings live under the resource folder: read them again from the new place.
    dropSettings(state.installSettings);
}

void setMainWindow(QMainWindow *window)
{
    hostState().mainWindow = window;
}

void setOptionsDialogProvider(const OptionsDialogProvider &provider)
{
    hostState().optionsDialogProvider = provider;
}

void setUnarchiverLimits(const UnarchiverLimits &limits)
{
    hostState().unarchiverLimits = limits;
}

void setProgressTaskObserver(const ProgressTaskObserver &observer)
{
    hostState().progressTaskObserver = observer;
}

UnarchiverLimits unarchiverLimits()
{
    return hostState().unarchiverLimits;
}

void reset()
{
    Internal::HostState &state = hostState();
    dropSettings(state.userSettings);
    dropSettings(state.installSettings);
    state.settingsPath.clear();
    state.resourcePath.clear();
    state.mainWindow = nullptr;
    state.optionsDialogProvider = {};
    state.unarchiverLimits = {};
    state.progressTaskObserver = {};
}

} // namespace HostStandIn
