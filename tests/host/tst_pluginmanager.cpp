#include <extensionsystem/pluginmanager.h>
#include <extensionsystem/pluginspec.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTest>

using namespace ExtensionSystem;

static QStringList calls() { return QCoreApplication::instance()->property("pluginCalls").toStringList(); }

class tst_PluginManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("qtc.extensionsystem.warning=false"); }
    void init()
    {
        QCoreApplication::instance()->setProperty("pluginCalls", QStringList());
        PluginManager::setPluginIID("org.qt-project.Qt.QtCreatorPlugin");
    }
    void cleanup() { PluginManager::shutdown(); }
    void loadsInDependencyOrder();
    void refusesBrokenPlugins_data();
    void refusesBrokenPlugins();
};

void tst_PluginManager::loadsInDependencyOrder()
{
    // alpha needs beta (and the host's own plugins); the folder lists alpha first.
    PluginManager::setPluginPaths({HOST_GOOD_PLUGINS});
    PluginManager::loadPlugins();
    QVERIFY2(!PluginManager::hasError(), qPrintable(PluginManager::allErrors().join('\n')));
    QCOMPARE(PluginManager::specById("alpha")->state(), PluginSpec::Running);
    PluginManager::shutdown();
    QCOMPARE(calls(), QStringList({"beta:initialize", "alpha:initialize", "alpha:extensionsInitialized",
                                   "beta:extensionsInitialized", "alpha:deleted", "beta:deleted"}));
}

void tst_PluginManager::refusesBrokenPlugins_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("reason");

    QTest::newRow("wrong interface") << "wrongiid" << "org.example.SomethingElse";
    QTest::newRow("missing dependency") << "unmet" << "nosuch(1.0.0)";
    QTest::newRow("dependency newer than provided") << "toonew" << "core(16.0.1)";
    QTest::newRow("dependency older than compatible") << "tooold" << "beta(0.9.0)";
}

void tst_PluginManager::refusesBrokenPlugins()
{
    QFETCH(QString, id);
    QFETCH(QString, reason);

    PluginManager::setPluginPaths({HOST_MIXED_PLUGINS});
    PluginManager::loadPlugins();
    // The healthy plugins run in spite of their neighbours.
    QCOMPARE(PluginManager::specById("alpha")->state(), PluginSpec::Running);
    QCOMPARE(PluginManager::specById("beta")->state(), PluginSpec::Running);

    const QString library = QStringLiteral("libhosttestplugin_%1.so").arg(id);
    const PluginSpecs specs = PluginManager::plugins();
    const auto spec = std::find_if(specs.cbegin(), specs.cend(), [&library](const PluginSpec *spec) {
        return QFileInfo(spec->filePath()).fileName() == library;
    });
    QVERIFY(spec != specs.cend());
    const QString error = (*spec)->errorString();
    QVERIFY((*spec)->hasError() && (*spec)->state() != PluginSpec::Running);
    QVERIFY2(error.contains(library) && error.contains(reason), qPrintable(error));
    QVERIFY(PluginManager::allErrors().contains(error));
    QVERIFY(!calls().contains(id + ":initialize"));
}

QTEST_GUILESS_MAIN(tst_PluginManager)

#include "tst_pluginmanager.moc"
