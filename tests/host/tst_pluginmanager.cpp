#include <extensionsystem/iplugin.h>
#include <extensionsystem/pluginmanager.h>
#include <extensionsystem/pluginspec.h>

#include <coreplugin/helpmanager.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTest>

using namespace ExtensionSystem;

class tst_PluginManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadsPluginsInDependencyOrder();
    void waitsForAsynchronousShutdown();
    void refusesBrokenPluginsAndGoesOn_data();
    void refusesBrokenPluginsAndGoesOn();
    void providesTheHostPlugins();
    void comparesVersions_data();
    void comparesVersions();

private:
    static QStringList calls() { return QCoreApplication::instance()->property("pluginCalls").toStringList(); }
    static QString libraryName(const QString &id);
};

QString tst_PluginManager::libraryName(const QString &id)
{
    return QStringLiteral("libhosttestplugin_%1.so").arg(id);
}

void tst_PluginManager::initTestCase()
{
    // The refused plugins are expected here; their messages would only clutter the output.
    QLoggingCategory::setFilterRules(QStringLiteral("qtc.extensionsystem.warning=false"));
}

void tst_PluginManager::init()
{
    QCoreApplication::instance()->setProperty("pluginCalls", QStringList());
    PluginManager::setPluginIID(QStringLiteral("org.qt-project.Qt.QtCreatorPlugin"));
}

void tst_PluginManager::cleanup()
{
    PluginManager::shutdown();
}

void tst_PluginManager::loadsPluginsInDependencyOrder()
{
    // alpha needs beta; the folder lists alpha first.
    PluginManager::setPluginPaths({QStringLiteral(HOST_GOOD_PLUGINS)});
    PluginManager::setArguments({QStringLiteral("-x")});
    QSignalSpy initializationDone(PluginManager::instance(), &PluginManager::initializationDone);
    QSignalSpy setupFinished(Core::HelpManager::Signals::instance(),
                             &Core::HelpManager::Signals::setupFinished);
    PluginManager::loadPlugins();
    PluginManager::setArguments({});

    QVERIFY2(!PluginManager::hasError(), qPrintable(PluginManager::allErrors().join('\n')));
    QCOMPARE(calls(), QStringList({"beta:initialize", "beta:arguments=-x",
                                   "alpha:initialize", "alpha:arguments=-x",
                                   "alpha:extensionsInitialized", "beta:extensionsInitialized"}));
    for (const char *id : {"alpha", "beta"}) {
        const PluginSpec *spec = PluginManager::specById(QString::fromLatin1(id));
        QVERIFY(spec);
        QCOMPARE(spec->state(), PluginSpec::Running);
        QVERIFY(spec->plugin());
        QCOMPARE(QFileInfo(spec->filePath()).fileName(), libraryName(spec->id()));
    }
    QCOMPARE(PluginManager::specById("beta")->version(), "1.4.0");
    QCOMPARE(PluginManager::specById("alpha")->name(), "Alpha");

    // Delayed initialization waits for the event loop, in the order of extensionsInitialized.
    QCOMPARE(initializationDone.size(), 0);
    QVERIFY(initializationDone.wait());
    QCOMPARE(setupFinished.size(), 1);
    QCOMPARE(calls().mid(6), QStringList({"alpha:delayedInitialize", "beta:delayedInitialize"}));

    QCoreApplication::instance()->setProperty("pluginCalls", QStringList());
    PluginManager::shutdown();
    QCOMPARE(calls(), QStringList({"alpha:aboutToShutdown", "beta:aboutToShutdown",
                                   "alpha:deleted", "beta:deleted"}));
    QCOMPARE(PluginManager::specById("alpha")->state(), PluginSpec::Deleted);
    QVERIFY(!PluginManager::specById("alpha")->plugin());
}

void tst_PluginManager::waitsForAsynchronousShutdown()
{
    PluginManager::setPluginPaths({QStringLiteral(HOST_GOOD_PLUGINS)});
    PluginManager::loadPlugins();
    QCOMPARE(PluginManager::specById("alpha")->state(), PluginSpec::Running);

    QCoreApplication::instance()->setProperty("asyncShutdown", QStringList({"alpha", "beta"}));
    QCoreApplication::instance()->setProperty("pluginCalls", QStringList());
    PluginManager::shutdown();
    QCoreApplication::instance()->setProperty("asyncShutdown", QVariant());

    // No plugin is deleted before every plugin has finished shutting down.
    const QStringList recorded = calls();
    QCOMPARE(recorded.mid(0, 2), QStringList({"alpha:aboutToShutdown", "beta:aboutToShutdown"}));
    QCOMPARE(recorded.mid(4), QStringList({"alpha:deleted", "beta:deleted"}));
    QVERIFY(recorded.contains("alpha:asynchronousShutdownFinished"));
    QVERIFY(recorded.contains("beta:asynchronousShutdownFinished"));
}

void tst_PluginManager::refusesBrokenPluginsAndGoesOn_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("reason");

    QTest::newRow("wrong interface") << "wrongiid" << "org.example.SomethingElse";
    QTest::newRow("missing dependency") << "unmet" << "nosuch(1.0.0)";
    QTest::newRow("dependency newer than provided") << "toonew" << "core(16.0.1)";
    QTest::newRow("dependency older than compatible") << "tooold" << "beta(0.9.0)";
    QTest::newRow("metadata without version") << "brokenmeta" << "\"Version\"";
    QTest::newRow("depends on a refused plugin") << "chained" << "unmet(16.0.0)";
    QTest::newRow("initialize fails") << "failing" << "failing refuses to start";
    QTest::newRow("depends on a plugin that failed") << "afterfailing" << "\"failing\"";
}

void tst_PluginManager::refusesBrokenPluginsAndGoesOn()
{
    QFETCH(QString, id);
    QFETCH(QString, reason);

    PluginManager::setPluginPaths({QStringLiteral(HOST_MIXED_PLUGINS)});
    PluginManager::loadPlugins();

    // The healthy plugins run in spite of their neighbours.
    QCOMPARE(PluginManager::specById("alpha")->state(), PluginSpec::Running);
    QCOMPARE(PluginManager::specById("beta")->state(), PluginSpec::Running);

    const PluginSpecs specs = PluginManager::plugins();
    const auto it = std::find_if(specs.cbegin(), specs.cend(), [&id](const PluginSpec *spec) {
        return QFileInfo(spec->filePath()).fileName() == libraryName(id);
    });
    QVERIFY(it != specs.cend());
    const PluginSpec *spec = *it;
    QVERIFY(spec->hasError());
    QVERIFY(spec->state() != PluginSpec::Running);
    QVERIFY2(spec->errorString().contains(libraryName(id)), qPrintable(spec->errorString()));
    QVERIFY2(spec->errorString().contains(reason), qPrintable(spec->errorString()));
    QVERIFY(PluginManager::allErrors().contains(spec->errorString()));
    QVERIFY(!calls().contains(id + ":extensionsInitialized"));
    if (id != QLatin1String("failing"))
        QVERIFY(!calls().contains(id + ":initialize"));
}

void tst_PluginManager::providesTheHostPlugins()
{
    PluginManager::setPluginPaths({});
    PluginManager::loadPlugins();
    QStringList ids;
    for (const PluginSpec *spec : PluginManager::plugins()) {
        ids.append(spec->id());
        QCOMPARE(spec->version(), "16.0.0");
        QCOMPARE(spec->compatVersion(), "16.0.0");
        QCOMPARE(spec->state(), PluginSpec::Running);
    }
    QCOMPARE(ids, QStringList({"core", "help", "veyraos"}));
}

void tst_PluginManager::comparesVersions_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<int>("order");

    QTest::newRow("equal") << "16.0.0" << "16.0.0" << 0;
    QTest::newRow("missing parts count as zero") << "16" << "16.0.0" << 0;
    QTest::newRow("patch") << "16.0.1" << "16.0.0" << 1;
    QTest::newRow("numbers, not text") << "2.10.0" << "2.9.0" << 1;
    QTest::newRow("build suffix") << "16.0.0_1" << "16.0.0" << 1;
    QTest::newRow("build suffix below next patch") << "16.0.0_9" << "16.0.1" << -1;
    QTest::newRow("invalid sorts first") << "sixteen" << "0.0.1" << -1;
}

void tst_PluginManager::comparesVersions()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(int, order);

    const auto sign = [](int v) { return (v > 0) - (v < 0); };
    QCOMPARE(sign(PluginSpec::versionCompare(left, right)), order);
    QCOMPARE(sign(PluginSpec::versionCompare(right, left)), -order);
}

QTEST_GUILESS_MAIN(tst_PluginManager)

#include "tst_pluginmanager.moc"
