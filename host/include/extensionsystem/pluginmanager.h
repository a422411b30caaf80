#pragma once

#include "extensionsystem_global.h"

#include "pluginspec.h"

#include <QObject>
#include <QStringList>

namespace Utils { class QtcSettings; }

namespace ExtensionSystem {

// Finds plugin libraries, checks their metadata and dependencies, and runs them through their
// life: initialize, extensionsInitialized, delayedInitialize, aboutToShutdown.
class EXTENSIONSYSTEM_EXPORT PluginManager : public QObject
{
    Q_OBJECT

public:
    static PluginManager *instance();

    // The user settings (the same object as Core::ICore::settings()) and the read-only settings of
    // the installation. The manager takes ownership of what it is given.
    static void setSettings(Utils::QtcSettings *settings);
    static Utils::QtcSettings *settings();
    static void setInstallSettings(Utils::QtcSettings *settings);
    static void setGlobalSettings(Utils::QtcSettings *settings);
    static Utils::QtcSettings *globalSettings();

    static void setPluginIID(const QString &iid);
    static QString pluginIID();
    static void setPluginPaths(const QStringList &paths);
    static QStringList pluginPaths();

    // Arguments handed to each plugin's initialize().
    static void setArguments(const QStringList &arguments);
    static QStringList arguments();

    // Reads every plugin library in the plugin paths, resolves dependencies and initializes the
    // plugins that can be loaded. Refused plugins keep their spec with an error text.
    static void loadPlugins();
    static const PluginSpecs plugins();
    static PluginSpec *specById(const QString &id);
    static bool hasError();
    static const QStringList allErrors();

    static bool isInitializationDone();
    static bool isShuttingDown();

    // Calls aboutToShutdown() on the running plugins in reverse load order, waits for those that
    // shut down asynchronously, then deletes the plugin instances in reverse load order.
    static void shutdown();

signals:
    void pluginsChanged();
    void initializationDone();

private:
    PluginManager();
    ~PluginManager() override;
};

} // namespace ExtensionSystem
