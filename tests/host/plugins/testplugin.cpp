#include <extensionsystem/iplugin.h>

#include <QCoreApplication>
#include <QVariant>

// Built once per metadata file. Each call leaves "<id>:<step>" in the application's "pluginCalls"
// property, which the test reads back.
class TestPlugin final : public ExtensionSystem::IPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TEST_PLUGIN_IID FILE TEST_PLUGIN_JSON)

public:
    ~TestPlugin() override { record("deleted"); }
    bool initialize(const QStringList &, QString *) override { return record("initialize"); }
    void extensionsInitialized() override { record("extensionsInitialized"); }

private:
    static bool record(const char *step)
    {
        QObject *app = QCoreApplication::instance();
        app->setProperty("pluginCalls",
                         app->property("pluginCalls").toStringList()
                             << QStringLiteral(TEST_PLUGIN_ID ":") + QLatin1String(step));
        return true;
    }
};

#include "testplugin.moc"
