#pragma once

#include <extensionsystem/pluginspec.h>

#include <QPluginLoader>

#include <memory>

namespace ExtensionSystem::Internal {

class PluginSpecPrivate
{
public:
    QString id;
    QString name;
    QString displayName;
    QString version;
    QString compatVersion;
    QString vendor;
    QString description;
    QString filePath;
    QJsonObject metaData;
    QList<PluginDependency> dependencies;

    PluginSpec::State state = PluginSpec::Invalid;
    QString errorString;

    std::unique_ptr<QPluginLoader> loader;
    IPlugin *plugin = nullptr;
    bool builtIn = false;
};

// Fills the plugin spec from the plugin's "MetaData" object; false with a reason if it is unusable.
bool readPluginMetaData(PluginSpecPrivate *spec, const QJsonObject &metaData, QString *error);

} // namespace ExtensionSystem::Internal
