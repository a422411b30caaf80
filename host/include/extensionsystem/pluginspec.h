#pragma once

#include "extensionsystem_global.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace ExtensionSystem {

class IPlugin;
class PluginManager;

namespace Internal { class PluginSpecPrivate; class PluginManagerPrivate; }

struct EXTENSIONSYSTEM_EXPORT PluginDependency
{
    enum Type { Required, Optional, Test };

    QString id;
    QString version;
    Type type = Required;

    bool operator==(const PluginDependency &other) const
    {
        return id == other.id && version == other.version && type == other.type;
    }
    QString toString() const;
};

// What the plugin manager knows about one plugin library: its metadata, how far loading got, and
// why it stopped if it did.
class EXTENSIONSYSTEM_EXPORT PluginSpec
{
public:
    enum State { Invalid, Read, Resolved, Loaded, Initialized, Running, Stopped, Deleted };

    ~PluginSpec();

    QString id() const;
    QString name() const;
    QString displayName() const;
    QString version() const;
    QString compatVersion() const;
    QString vendor() const;
    QString description() const;
    QString filePath() const;
    QJsonObject metaData() const;
    QList<PluginDependency> dependencies() const;

    // True when a dependency with this id and version is satisfied by this plugin.
    bool provides(const QString &pluginId, const QString &version) const;

    State state() const;
    bool hasError() const;
    QString errorString() const;

    IPlugin *plugin() const;

    // Compares dotted versions "x.y.z_n": negative, zero or positive like strcmp.
    static int versionCompare(const QString &version1, const QString &version2);
    static bool isValidVersion(const QString &version);

private:
    PluginSpec();

    Internal::PluginSpecPrivate *d;
    friend class PluginManager;
    friend class Internal::PluginManagerPrivate;
};

using PluginSpecs = QList<PluginSpec *>;

} // namespace ExtensionSystem
