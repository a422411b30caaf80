#include <extensionsystem/pluginmanager.h>

#include <extensionsystem/iplugin.h>

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <utils/qtcsettings.h>

#include "hoststandin/hoststate.h"
#include "pluginspec_p.h"

#include <QDir>
#include <QEventLoop>
#include <QLibrary>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

Q_LOGGING_CATEGORY(pluginLog, "qtc.extensionsystem", QtWarningMsg)

namespace ExtensionSystem {
namespace Internal {

// The plugins the host provides itself, with their versions.
static const char *const builtInPluginIds[] = {"core", "help", "veyraos"};
static const char hostVersion[] = "16.0.0";
static const char hostCompatVersion[] = "16.0.0";

static constexpr int asynchronousShutdownTimeoutMs = 30000;

class PluginManagerPrivate
{
public:
    ~PluginManagerPrivate() { clear(); }

    void clear();
    void addBuiltIns();
    PluginSpec *readSpec(const QString &filePath);
    void resolveDependencies();
    QList<PluginSpec *> loadOrder();
    void setError(PluginSpec *spec, const QString &reason);
    PluginSpec *findLoadable(const QString &id) const;
    bool dependenciesReady(PluginSpec *spec, PluginSpec::State needed, QString *failed) const;
    void startDelayedInitialize();

    QString iid = QStringLiteral("org.qt-project.Qt.QtCreatorPlugin");
    QStringList pluginPaths;
    QStringList arguments;
    QList<PluginSpec *> specs;      // owned; built-ins first, then by file
    QList<PluginSpec *> loadQueue;  // the order in which plugins were initialized
    QList<QPointer<IPlugin>> delayedQueue;
    bool initializationDone = false;
    bool shuttingDown = false;
};

static PluginManagerPrivate &d()
{
    static PluginManagerPrivate instance;
    return instance;
}

void PluginManagerPrivate::clear()
{
    qDeleteAll(specs);
    specs.clear();
    loadQueue.clear();
    delayedQueue.clear();
    initializationDone = false;
}

void PluginManagerPrivate::addBuiltIns()
{
    for (const char *id : builtInPluginIds) {
        auto spec = new PluginSpec;
        spec->d->id = QString::fromLatin1(id);
        spec->d->name = spec->d->id;
        spec->d->version = QString::fromLatin1(hostVersion);
        spec->d->compatVersion = QString::fromLatin1(hostCompatVersion);
        spec->d->vendor = QStringLiteral("The Qt Company Ltd");
        spec->d->builtIn = true;
        spec->d->state = PluginSpec::Running;
        specs.append(spec);
    }
}

void PluginManagerPrivate::setError(PluginSpec *spec, const QString &reason)
{
    // The message names the file, so that whoever reads the log knows what to remove or fix.
    spec->d->errorString = PluginManager::tr("Plugin \"%1\": %2")
                               .arg(QDir::toNativeSeparators(spec->d->filePath), reason);
    qCWarning(pluginLog).noquote() << spec->d->errorString;
}

PluginSpec *PluginManagerPrivate::readSpec(const QString &filePath)
{
    auto spec = new PluginSpec;
    spec->d->filePath = filePath;
    spec->d->loader = std::make_unique<QPluginLoader>(filePath);

    const QJsonObject pluginMetaData = spec->d->loader->metaData();
    if (pluginMetaData.isEmpty()) {
        setError(spec, PluginManager::tr("Not a plugin: %1").arg(spec->d->loader->errorString()));
        return spec;
    }
    const QString pluginIid = pluginMetaData.value(QLatin1String("IID")).toString();
    if (pluginIid != iid) {
        setError(spec, PluginManager::tr("The plugin interface is \"%1\", expected \"%2\".")
                           .arg(pluginIid, iid));
        return spec;
    }
    const QJsonValue metaData = pluginMetaData.value(QLatin1String("MetaData"));
    if (!metaData.isObject()) {
        setError(spec, PluginManager::tr("Invalid metadata: there is no \"MetaData\" object."));
        return spec;
    }
    QString error;
    if (readPluginMetaData(spec->d, metaData.toObject(), &error))
        spec->d->state = PluginSpec::Read;
    else
        setError(spec, PluginManager::tr("Invalid metadata: %1").arg(error));
    return spec;
}

PluginSpec *PluginManagerPrivate::findLoadable(const QString &id) const
{
    for (PluginSpec *spec : specs) {
        if (spec->d->id == id && !spec->hasError() && spec->d->state != PluginSpec::Invalid)
            return spec;
    }
    return nullptr;
}

void PluginManagerPrivate::resolveDependencies()
{
    // Two plugins with one id: the first one found wins.
    for (PluginSpec *spec : std::as_const(specs)) {
        if (spec->d->builtIn || spec->hasError())
            continue;
        PluginSpec *first = findLoadable(spec->d->id);
        if (first != spec) {
            setError(spec, PluginManager::tr("A plugin with the id \"%1\" is already loaded from \"%2\".")
                               .arg(spec->d->id, first->d->builtIn
                                                     ? PluginManager::tr("the host")
                                                     : QDir::toNativeSeparators(first->d->filePath)));
        }
    }

    // A plugin fails when one of its required dependencies is missing, out of range or failed
    // itself; repeat until nothing changes, so that failures travel along the chains.
    bool changed = true;
    while (changed) {
        changed = false;
        for (PluginSpec *spec : std::as_const(specs)) {
            if (spec->d->builtIn || spec->hasError())
                continue;
            for (const PluginDependency &dependency : std::as_const(spec->d->dependencies)) {
                if (dependency.type != PluginDependency::Required)
                    continue;
                PluginSpec *provider = findLoadable(dependency.id);
                if (!provider) {
                    setError(spec, PluginManager::tr("Could not resolve dependency \"%1\".")
                                       .arg(dependency.toString()));
                } else if (!provider->provides(dependency.id, dependency.version)) {
                    setError(spec, PluginManager::tr("Could not resolve dependency \"%1\": "
                                                     "the available version is %2 "
                                                     "(compatible down to %3).")
                                       .arg(dependency.toString(), provider->d->version,
                                            provider->d->compatVersion));
                }
                if (spec->hasError()) {
                    changed = true;
                    break;
                }
            }
        }
    }
    for (PluginSpec *spec : std::as_const(specs)) {
        if (!spec->d->builtIn && !spec->hasError())
            spec->d->state = PluginSpec::Resolved;
    }
}

QList<PluginSpec *> PluginManagerPrivate::loadOrder()
{
    // Depth-first: every plugin after the plugins it depends on. Optional dependencies order the
    // plugins too when both are present.
    QList<PluginSpec *> order;
    QList<PluginSpec *> visiting;
    const std::function<bool(PluginSpec *)> visit = [&](PluginSpec *spec) {
        if (order.contains(spec))
            return true;
        if (visiting.contains(spec)) {
            QStringList cycle;
            for (qsizetype i = visiting.indexOf(spec); i < visiting.size(); ++i)
                cycle.append(visiting.at(i)->d->id);
            cycle.append(spec->d->id);
            setError(spec, PluginManager::tr("Circular dependency detected: %1")
                               .arg(cycle.join(QLatin1String(" -> "))));
            return false;
        }
        visiting.append(spec);
        for (const PluginDependency &dependency : std::as_const(spec->d->dependencies)) {
            if (dependency.type == PluginDependency::Test)
                continue;
            PluginSpec *provider = findLoadable(dependency.id);
            if (!provider || provider->d->builtIn)
                continue;
            if (!visit(provider) && dependency.type == PluginDependency::Required) {
                if (!spec->hasError()) {
                    setError(spec, PluginManager::tr("The dependency \"%1\" cannot be loaded.")
                                       .arg(dependency.id));
                }
            }
        }
        visiting.removeOne(spec);
        if (spec->hasError())
            return false;
        order.append(spec);
        return true;
    };
    for (PluginSpec *spec : std::as_const(specs)) {
        if (!spec->d->builtIn && spec->d->state == PluginSpec::Resolved && !spec->hasError())
            visit(spec);
    }
    return order;
}

bool PluginManagerPrivate::dependenciesReady(PluginSpec *spec, PluginSpec::State needed,
                                             QString *failed) const
{
    for (const PluginDependency &dependency : std::as_const(spec->d->dependencies)) {
        if (dependency.type != PluginDependency::Required)
            continue;
        PluginSpec *provider = findLoadable(dependency.id);
        if (!provider || (!provider->d->builtIn && provider->d->state < needed)) {
            *failed = dependency.id;
            return false;
        }
    }
    return true;
}

void PluginManagerPrivate::startDelayedInitialize()
{
    // One plugin per event loop turn, as the IDE spreads this work over time.
    if (delayedQueue.isEmpty()) {
        emit PluginManager::instance()->initializationDone();
        emit Core::HelpManager::Signals::instance()->setupFinished();
        return;
    }
    QTimer::singleShot(0, PluginManager::instance(), [this] {
        if (delayedQueue.isEmpty())
            return;
        const QPointer<IPlugin> plugin = delayedQueue.takeFirst();
        if (plugin && !shuttingDown)
            plugin->delayedInitialize();
        startDelayedInitialize();
    });
}

} // namespace Internal

using Internal::d;

PluginManager::PluginManager() = default;
PluginManager::~PluginManager() = default;

PluginManager *PluginManager::instance()
{
    static PluginManager *theInstance = new PluginManager;
    return theInstance;
}

void PluginManager::setSettings(Utils::QtcSettings *settings)
{
    HostStandIn::Internal::HostState &state = HostStandIn::Internal::hostState();
    if (state.userSettings.get() != settings)
        state.userSettings.reset(settings);
}

Utils::QtcSettings *PluginManager::settings()
{
    HostStandIn::Internal::HostState &state = HostStandIn::Internal::hostState();
    if (!state.userSettings) {
        state.userSettings = std::make_unique<Utils::QtcSettings>(
            HostStandIn::Internal::effectiveSettingsPath() + QStringLiteral("/QtProject/QtCreator.ini"),
            QSettings::IniFormat);
    }
    return state.userSettings.get();
}

void PluginManager::setInstallSettings(Utils::QtcSettings *settings)
{
    HostStandIn::Internal::HostState &state = HostStandIn::Internal::hostState();
    if (state.installSettings.get() != settings)
        state.installSettings.reset(settings);
}

void PluginManager::setGlobalSettings(Utils::QtcSettings *settings)
{
    setInstallSettings(settings);
}

Utils::QtcSettings *PluginManager::globalSettings()
{
    HostStandIn::Internal::HostState &state = HostStandIn::Internal::hostState();
    if (!state.installSettings) {
        state.installSettings = std::make_unique<Utils::QtcSettings>(
            Core::ICore::resourcePath(QStringLiteral("QtProject/QtCreator.ini")).toFSPathString(),
            QSettings::IniFormat);
    }
    return state.installSettings.get();
}

void PluginManager::setPluginIID(const QString &iid)
{
    d().iid = iid;
}

QString PluginManager::pluginIID()
{
    return d().iid;
}

void PluginManager::setPluginPaths(const QStringList &paths)
{
    d().pluginPaths = paths;
}

QStringList PluginManager::pluginPaths()
{
    return d().pluginPaths;
}

void PluginManager::setArguments(const QStringList &arguments)
{
    d().arguments = arguments;
}

QStringList PluginManager::arguments()
{
    return d().arguments;
}

void PluginManager::loadPlugins()
{
    Internal::PluginManagerPrivate &p = d();
    if (!p.loadQueue.isEmpty())
        shutdown();
    p.clear();
    p.shuttingDown = false;
    p.addBuiltIns();

    for (const QString &path : std::as_const(p.pluginPaths)) {
        const QDir dir(path);
        const QStringList files = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &file : files) {
            const QString filePath = dir.absoluteFilePath(file);
            if (QLibrary::isLibrary(filePath))
                p.specs.append(p.readSpec(filePath));
        }
    }
    p.resolveDependencies();
    const QList<PluginSpec *> order = p.loadOrder();

    QString failed;
    for (PluginSpec *spec : order) {
        if (!p.dependenciesReady(spec, PluginSpec::Loaded, &failed)) {
            p.setError(spec, tr("The dependency \"%1\" failed to load.").arg(failed));
            continue;
        }
        QObject *instance = spec->d->loader->instance();
        auto plugin = qobject_cast<IPlugin *>(instance);
        if (!plugin) {
            p.setError(spec, instance ? tr("The plugin does not derive from IPlugin.")
                                      : spec->d->loader->errorString());
            continue;
        }
        spec->d->plugin = plugin;
        spec->d->state = PluginSpec::Loaded;
    }

    for (PluginSpec *spec : order) {
        if (spec->d->state != PluginSpec::Loaded)
            continue;
        if (!p.dependenciesReady(spec, PluginSpec::Initialized, &failed)) {
            p.setError(spec, tr("The dependency \"%1\" failed to initialize.").arg(failed));
            delete spec->d->plugin;
            spec->d->plugin = nullptr;
            continue;
        }
        QString error;
        if (!spec->d->plugin->initialize(p.arguments, &error)) {
            p.setError(spec, tr("Plugin initialization failed: %1").arg(error));
            spec->d->state = PluginSpec::Loaded;
            // The instance stays until shutdown: the plugin may have handed out objects.
            p.loadQueue.append(spec);
            continue;
        }
        spec->d->state = PluginSpec::Initialized;
        p.loadQueue.append(spec);
    }

    for (auto it = p.loadQueue.crbegin(); it != p.loadQueue.crend(); ++it) {
        PluginSpec *spec = *it;
        if (spec->d->state != PluginSpec::Initialized)
            continue;
        spec->d->plugin->extensionsInitialized();
        spec->d->state = PluginSpec::Running;
        p.delayedQueue.append(spec->d->plugin);
    }

    p.initializationDone = true;
    emit instance()->pluginsChanged();
    p.startDelayedInitialize();
}

const PluginSpecs PluginManager::plugins()
{
    return d().specs;
}

PluginSpec *PluginManager::specById(const QString &id)
{
    for (PluginSpec *spec : std::as_const(d().specs)) {
        if (spec->id() == id)
            return spec;
    }
    return nullptr;
}

bool PluginManager::hasError()
{
    for (const PluginSpec *spec : std::as_const(d().specs)) {
        if (spec->hasError())
            return true;
    }
    return false;
}

const QStringList PluginManager::allErrors()
{
    QStringList errors;
    for (const PluginSpec *spec : std::as_const(d().specs)) {
        if (spec->hasError())
            errors.append(spec->errorString());
    }
    return errors;
}

bool PluginManager::isInitializationDone()
{
    return d().initializationDone;
}

bool PluginManager::isShuttingDown()
{
    return d().shuttingDown;
}

void PluginManager::shutdown()
{
    Internal::PluginManagerPrivate &p = d();
    p.shuttingDown = true;
    p.delayedQueue.clear();

    QList<IPlugin *> pending;
    for (auto it = p.loadQueue.crbegin(); it != p.loadQueue.crend(); ++it) {
        PluginSpec *spec = *it;
        if (spec->d->state != PluginSpec::Running && spec->d->state != PluginSpec::Initialized)
            continue;
        IPlugin *plugin = spec->d->plugin;
        if (plugin->aboutToShutdown() == IPlugin::AsynchronousShutdown) {
            pending.append(plugin);
            QObject::connect(plugin, &IPlugin::asynchronousShutdownFinished, instance(),
                             [plugin, &pending] { pending.removeOne(plugin); });
        }
        spec->d->state = PluginSpec::Stopped;
    }
    if (!pending.isEmpty()) {
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        for (IPlugin *plugin : std::as_const(pending)) {
            QObject::connect(plugin, &IPlugin::asynchronousShutdownFinished, &loop, [&loop, &pending] {
                if (pending.isEmpty())
                    loop.quit();
            }, Qt::QueuedConnection);
        }
        timeout.start(Internal::asynchronousShutdownTimeoutMs);
        if (!pending.isEmpty())
            loop.exec();
        if (!pending.isEmpty())
            qCWarning(pluginLog) << "Plugins did not finish shutting down in time:" << pending.size();
    }
    for (IPlugin *plugin : std::as_const(pending))
        QObject::disconnect(plugin, nullptr, instance(), nullptr);

    for (auto it = p.loadQueue.crbegin(); it != p.loadQueue.crend(); ++it) {
        PluginSpec *spec = *it;
        if (!spec->d->plugin)
            continue;
        QObject::disconnect(spec->d->plugin, nullptr, instance(), nullptr);
        delete spec->d->plugin;
        spec->d->plugin = nullptr;
        spec->d->state = PluginSpec::Deleted;
    }
    p.loadQueue.clear();
}

} // namespace ExtensionSystem
