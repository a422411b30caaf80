#include <coreplugin/icore.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QTemporaryDir>
#include <QTest>

// Progress tasks are tested with the shell's main window, option pages with its preferences dialog.
class tst_HostCore : public QObject
{
    Q_OBJECT

private slots:
    void settingsLiveInTheIniFilesOfTheirPaths();
};

void tst_HostCore::settingsLiveInTheIniFilesOfTheirPaths()
{
    QTemporaryDir dir;
    HostStandIn::setSettingsPath(dir.filePath("settings"));
    Utils::QtcSettings *settings = Core::ICore::settings();
    QVERIFY(settings && ExtensionSystem::PluginManager::settings() == settings);
    settings->setValue("Tidepool/UpdatesCheckTimeoutDays", 7);
    settings->sync();
    const QString iniPath = dir.filePath("settings/QtProject/QtCreator.ini");
    QCOMPARE(QSettings(iniPath, QSettings::IniFormat).value("Tidepool/UpdatesCheckTimeoutDays").toInt(), 7);

    // A new settings path is a new file: nothing carries over, and the old file stays.
    HostStandIn::setSettingsPath(dir.filePath("other"));
    QVERIFY(!Core::ICore::settings()->contains("Tidepool/UpdatesCheckTimeoutDays"));
    QCOMPARE(Core::ICore::settings()->fileName(), dir.filePath("other/QtProject/QtCreator.ini"));
    QVERIFY(QFileInfo::exists(iniPath));
}

QTEST_MAIN(tst_HostCore)

#include "tst_hostcore.moc"
