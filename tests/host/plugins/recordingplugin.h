#pragma once

#include <extensionsystem/iplugin.h>

#include <QCoreApplication>
#include <QTimer>
#include <QVariant>

// The test plugins write what happens to them into a property of the application object, which
// the test reads back: "<id>:<step>" per call.
inline void recordCall(const QString &pluginId, const char *step)
{
    QObject *app = QCoreApplication::instance();
    QStringList calls = app->property("pluginCalls").toStringList();
    calls.append(pluginId + QLatin1Char(':') + QLatin1String(step));
    app->setProperty("pluginCalls", calls);
}

class RecordingPlugin : public ExtensionSystem::IPlugin
{
public:
    explicit RecordingPlugin(const QString &id) : m_id(id) {}
    ~RecordingPlugin() override { recordCall(m_id, "deleted"); }

    bool initialize(const QStringList &arguments, QString *errorString) override
    {
        recordCall(m_id, "initialize");
        if (!arguments.isEmpty())
            recordCall(m_id, qPrintable(QLatin1String("arguments=") + arguments.join(QLatin1Char(','))));
        if (m_id == QLatin1String("failing")) {
            *errorString = QStringLiteral("failing refuses to start");
            return false;
        }
        return true;
    }
    void extensionsInitialized() override { recordCall(m_id, "extensionsInitialized"); }
    bool delayedInitialize() override
    {
        recordCall(m_id, "delayedInitialize");
        return true;
    }
    // Plugins named in the application's "asyncShutdown" property finish shutting down a little
    // later, from the event loop.
    ShutdownFlag aboutToShutdown() override
    {
        recordCall(m_id, "aboutToShutdown");
        const QStringList async = QCoreApplication::instance()->property("asyncShutdown").toStringList();
        if (!async.contains(m_id))
            return SynchronousShutdown;
        QTimer::singleShot(20, this, [this] {
            recordCall(m_id, "asynchronousShutdownFinished");
            emit asynchronousShutdownFinished();
        });
        return AsynchronousShutdown;
    }

private:
    QString m_id;
};
