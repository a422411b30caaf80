#include <coreplugin/icore.h>

#include <extensionsystem/pluginmanager.h>

#include "hoststandin/hoststate.h"

#include <QApplication>
#include <QMainWindow>

namespace Core {

using HostStandIn::Internal::hostState;

ICore::ICore() = default;
ICore::~ICore() = default;

ICore *ICore::instance()
{
    static ICore *theInstance = new ICore;
    return theInstance;
}

Utils::QtcSettings *ICore::settings(QSettings::Scope scope)
{
    if (scope == QSettings::SystemScope)
        return ExtensionSystem::PluginManager::globalSettings();
    return ExtensionSystem::PluginManager::settings();
}

Utils::FilePath ICore::resourcePath(const QString &rel)
{
    const QString base = hostState().resourcePath.isEmpty()
                             ? HostStandIn::Internal::defaultResourcePath()
                             : hostState().resourcePath;
    return Utils::FilePath::fromString(base).pathAppended(rel);
}

Utils::FilePath ICore::userResourcePath(const QString &rel)
{
    return Utils::FilePath::fromString(HostStandIn::Internal::effectiveSettingsPath())
        .pathAppended(QStringLiteral("QtProject/qtcreator"))
        .pathAppended(rel);
}

QWidget *ICore::dialogParent()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        if (QWidget *modal = QApplication::activeModalWidget())
            return modal;
        if (QWidget *active = QApplication::activeWindow())
            return active;
    }
    return mainWindow();
}

QMainWindow *ICore::mainWindow()
{
    return hostState().mainWindow;
}

bool ICore::showOptionsDialog(const Utils::Id page, QWidget *parent)
{
    const HostStandIn::OptionsDialogProvider &provider = hostState().optionsDialogProvider;
    if (!provider)
        return false;
    return provider(page, parent ? parent : dialogParent());
}

QString ICore::msgShowOptionsDialog()
{
    return tr("Configure...");
}

} // namespace Core
