#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace Utils;

namespace {

class RecordingWidget : public Core::IOptionsPageWidget
{
public:
    explicit RecordingWidget(QStringList *log) : m_log(log) {}

protected:
    void apply() override { m_log->append("apply"); }
    void cancel() override { m_log->append("cancel"); }
    void finish() override { m_log->append("finish"); }

private:
    QStringList *m_log;
};

} // namespace

class tst_HostCore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void settingsLiveInTheIniFilesOfTheirPaths();
    void optionsPageCreatesItsWidgetOnlyWhenShown();

private:
    QTemporaryDir m_dir;
};

void tst_HostCore::init()
{
    HostStandIn::reset();
    QVERIFY(m_dir.isValid());
    HostStandIn::setSettingsPath(m_dir.filePath("settings"));
    HostStandIn::setResourcePath(m_dir.filePath("resources"));
}

void tst_HostCore::settingsLiveInTheIniFilesOfTheirPaths()
{
    QtcSettings *settings = Core::ICore::settings();
    QVERIFY(settings && ExtensionSystem::PluginManager::settings() == settings);
    QVERIFY(Core::ICore::settings(QSettings::UserScope) == settings);
    settings->setValue("Tidepool/UpdatesCheckTimeoutDays", 7);
    settings->sync();
    const QString iniPath = m_dir.filePath("settings/QtProject/QtCreator.ini");
    QCOMPARE(settings->fileName(), iniPath);
    QCOMPARE(QSettings(iniPath, QSettings::IniFormat).value("Tidepool/UpdatesCheckTimeoutDays").toInt(), 7);

    // A new settings path is a new file: nothing carries over, and the old file stays.
    HostStandIn::setSettingsPath(m_dir.filePath("other"));
    QVERIFY(!Core::ICore::settings()->contains("Tidepool/UpdatesCheckTimeoutDays"));
    QCOMPARE(Core::ICore::settings()->fileName(), m_dir.filePath("other/QtProject/QtCreator.ini"));
    QVERIFY(QFileInfo::exists(iniPath));

    // The install settings are read from the resource folder.
    QSettings(m_dir.filePath("resources/QtProject/QtCreator.ini"), QSettings::IniFormat)
        .setValue("Help/InstalledExamples", QStringList({"SDK|/sdk/examples|/sdk/examples"}));
    QtcSettings *install = Core::ICore::settings(QSettings::SystemScope);
    QVERIFY(install != Core::ICore::settings() && ExtensionSystem::PluginManager::globalSettings() == install);
    QCOMPARE(install->value("Help/InstalledExamples").toStringList(), QStringList({"SDK|/sdk/examples|/sdk/examples"}));
}

void tst_HostCore::optionsPageCreatesItsWidgetOnlyWhenShown()
{
    QStringList log;
    int created = 0;
    Core::IOptionsPage page(false);
    page.setWidgetCreator([&] {
        ++created;
        return new RecordingWidget(&log);
    });
    // Applying or finishing a page that was never shown creates nothing.
    page.apply();
    page.finish();
    QCOMPARE(created, 0);

    QPointer<QWidget> widget = page.widget();
    QVERIFY(widget);
    QCOMPARE(page.widget(), widget.get());
    page.apply();
    page.cancel();
    page.finish();
    QCOMPARE(log, QStringList({"apply", "cancel", "finish"}));
    QCOMPARE(created, 1);
    QVERIFY(!widget);

    // After finish the page starts over with a fresh widget.
    QVERIFY(page.widget());
    QCOMPARE(created, 2);
}

QTEST_MAIN(tst_HostCore)

#include "tst_hostcore.moc"
