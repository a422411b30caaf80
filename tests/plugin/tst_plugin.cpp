// Loads the built plugin library through the host's plugin manager, as the IDE does.

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <extensionsystem/iplugin.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QDir>
#include <QJsonArray>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QTest>

using namespace ExtensionSystem;

class tst_Plugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void metadata();
    void loadsAndStarts();
    void missingLanguageIsLoggedAndRunsUntranslated();
    void germanIsLoaded();

private:
    QString pluginFile() const;
    PluginSpec *tidepool() const { return PluginManager::specById("tidepool"); }

    QTemporaryDir m_settings;
};

QString tst_Plugin::pluginFile() const
{
    return QDir(TIDEPOOL_PLUGIN_DIR).filePath("libTidepool.so");
}

void tst_Plugin::initTestCase()
{
    QVERIFY(m_settings.isValid());
    HostStandIn::setSettingsPath(m_settings.path());
    HostStandIn::setResourcePath(TIDEPOOL_RESOURCE_DIR);
    // A language without a translation: the plugin logs and runs untranslated.
    PluginManager::settings()->setValue("General/OverrideLanguage", "fr");
    QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");

    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression("^Failed to load translator: \".*/translations\" Tidepool$"));
    PluginManager::setPluginIID("org.qt-project.Qt.QtCreatorPlugin");
    PluginManager::setPluginPaths({TIDEPOOL_PLUGIN_DIR});
    PluginManager::loadPlugins();
}

void tst_Plugin::cleanupTestCase()
{
    PluginManager::shutdown();
    // The host keeps registered pages for good; the IDE frees them when it exits.
    qDeleteAll(Core::IOptionsPage::allOptionsPages());
    HostStandIn::reset();
}

void tst_Plugin::metadata()
{
    QPluginLoader loader(pluginFile());
    const QJsonObject meta = loader.metaData();
    QCOMPARE(meta.value("IID").toString(), QString("org.qt-project.Qt.QtCreatorPlugin"));
    QCOMPARE(meta.value("className").toString(), QString("Plugin"));
    const QJsonObject data = meta.value("MetaData").toObject();
    QCOMPARE(data.value("Name").toString(), QString("Tidepool"));
    QCOMPARE(data.value("Id").toString(), QString("tidepool"));
    QCOMPARE(data.value("Version").toString(), QString("16.0.0"));
    QCOMPARE(data.value("CompatVersion").toString(), QString("16.0.0"));
    const QJsonArray dependencies = data.value("Dependencies").toArray();
    QStringList ids;
    for (const QJsonValue &dependency : dependencies) {
        QCOMPARE(dependency["Version"].toString(), QString("16.0.0"));
        ids.append(dependency["Id"].toString());
    }
    QCOMPARE(ids, (QStringList{"core", "help", "veyraos"}));
}

void tst_Plugin::loadsAndStarts()
{
    PluginSpec *spec = tidepool();
    QVERIFY(spec);
    QVERIFY2(!spec->hasError(), qPrintable(spec->errorString()));
    QCOMPARE(spec->state(), PluginSpec::Running);
    QCOMPARE(spec->plugin()->metaObject()->className(), "Tidepool::Internal::Plugin");

    // The options page is registered under the host's Help category.
    Core::IOptionsPage *page = nullptr;
    for (Core::IOptionsPage *candidate : Core::IOptionsPage::allOptionsPages()) {
        if (candidate->id() == Utils::Id("Zel.Tidepool.Plugin.Settings.Page"))
            page = candidate;
    }
    QVERIFY(page);
    QCOMPARE(page->category(), Utils::Id("H.Help"));
    QCOMPARE(page->displayName(), QString("VeyraOS Examples"));
}

void tst_Plugin::missingLanguageIsLoggedAndRunsUntranslated()
{
    // The message was expected in initTestCase; the texts stay English.
    QCOMPARE(QCoreApplication::translate("Tidepool::Internal::TidepoolPlugin", "Examples"),
             QString("Examples"));
}

void tst_Plugin::germanIsLoaded()
{
    PluginManager::settings()->setValue("General/OverrideLanguage", "de");
    QString error;
    QVERIFY(tidepool()->plugin()->initialize({}, &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(QCoreApplication::translate("Tidepool::Internal::TidepoolPlugin", "Examples"),
             QString("Beispiele"));
    QCOMPARE(QCoreApplication::translate("Tidepool::Internal::OptionsWidget", "Update available"),
             QString::fromUtf8("Aktualisierung verf\xC3\xBCgbar"));
}

QTEST_MAIN(tst_Plugin)

#include "tst_plugin.moc"
