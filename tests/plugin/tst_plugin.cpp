// Loads the built plugin library through the host's plugin manager, as the IDE does.

#include <coreplugin/dialogs/ioptionspage.h>
#include <extensionsystem/iplugin.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

using namespace ExtensionSystem;

class tst_Plugin : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase()
    {
        PluginManager::shutdown();
        // The host keeps registered pages for good; the IDE frees them when it exits.
        qDeleteAll(Core::IOptionsPage::allOptionsPages());
        HostStandIn::reset();
    }

    void loadsAndStarts()
    {
        HostStandIn::setSettingsPath(m_settings.path());
        HostStandIn::setResourcePath(TIDEPOOL_RESOURCE_DIR);
        // A language without a translation: the plugin logs and runs untranslated.
        PluginManager::settings()->setValue("General/OverrideLanguage", "fr");
        QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");

        QTest::ignoreMessage(
            QtDebugMsg,
            QRegularExpression("^Failed to load translator: \".*/translations\" Tidepool$"));
        PluginManager::setPluginIID("org.qt-project.Qt.QtCreatorPlugin");
        PluginManager::setPluginPaths({TIDEPOOL_PLUGIN_DIR});
        PluginManager::loadPlugins();

        PluginSpec *spec = PluginManager::specById("tidepool");
        QVERIFY(spec);
        QCOMPARE(spec->errorString(), QString());
        QCOMPARE(spec->state(), PluginSpec::Running);
        QStringList dependencies;
        for (const PluginDependency &dependency : spec->dependencies())
            dependencies.append(dependency.id);
        QCOMPARE(dependencies, (QStringList{"core", "help", "veyraos"}));

        // The options page, under the host's Help category.
        const QList<Core::IOptionsPage *> pages = Core::IOptionsPage::allOptionsPages();
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.first()->id(), Utils::Id("Zel.Tidepool.Plugin.Settings.Page"));
        QCOMPARE(pages.first()->category(), Utils::Id("H.Help"));
        QCOMPARE(pages.first()->displayName(), QString("VeyraOS Examples"));
        // No French translation: the texts stay English. German is there.
        QCOMPARE(QCoreApplication::translate("Tidepool::Internal::TidepoolPlugin", "Examples"), QString("Examples"));
        PluginManager::settings()->setValue("General/OverrideLanguage", "de");
        QVERIFY(spec->plugin()->initialize({}, nullptr));
        QCOMPARE(QCoreApplication::translate("Tidepool::Internal::TidepoolPlugin", "Examples"), QString("Beispiele"));
        QCOMPARE(QCoreApplication::translate("Tidepool::Internal::OptionsWidget", "Update available"),
                 QString::fromUtf8("Aktualisierung verf\xC3\xBCgbar"));
    }

private:
    QTemporaryDir m_settings;
};

QTEST_MAIN(tst_Plugin)

#include "tst_plugin.moc"
