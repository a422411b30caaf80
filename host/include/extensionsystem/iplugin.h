#pragma once

#include "extensionsystem_global.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace ExtensionSystem {

namespace Internal { class IPluginPrivate; }

using TestCreator = std::function<QObject *()>;

// Base of every plugin. The plugin manager calls initialize() on all plugins from the root of the
// dependency tree to its leaves, then extensionsInitialized() from the leaves back to the root,
// then delayedInitialize() once the event loop runs, and aboutToShutdown() at exit.
class EXTENSIONSYSTEM_EXPORT IPlugin : public QObject
{
    Q_OBJECT

public:
    enum ShutdownFlag { SynchronousShutdown, AsynchronousShutdown };

    IPlugin();
    ~IPlugin() override;

    // The default calls the protected initialize() and succeeds.
    virtual bool initialize(const QStringList &arguments, QString *errorString);
    virtual void extensionsInitialized() {}
    virtual bool delayedInitialize() { return false; }
    virtual ShutdownFlag aboutToShutdown() { return SynchronousShutdown; }
    virtual QObject *remoteCommand(const QStringList & /* options */,
                                   const QString & /* workingDirectory */,
                                   const QStringList & /* arguments */) { return nullptr; }

    QList<QObject *> createTestObjects() const;

protected:
    virtual void initialize() {}

    template <typename Test, typename ...Args>
    void addTest(Args && ...args)
    {
        addTestCreator([args...] { return new Test(args...); });
    }
    void addTestCreator(const TestCreator &creator);

signals:
    void asynchronousShutdownFinished();

private:
    Internal::IPluginPrivate *d;
};

} // namespace ExtensionSystem
