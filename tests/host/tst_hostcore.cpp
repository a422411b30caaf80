#include <coreplugin/icore.h>
#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QAbstractButton>
#include <QFutureInterface>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Utils;

enum class TaskEnd { Finished, Canceled, CanceledByUser, WidgetDeleted };

class tst_HostCore : public QObject
{
    Q_OBJECT

private slots:
    void init() { HostStandIn::reset(); }
    void settingsLiveInTheIniFilesOfTheirPaths();
    void progressTasks_data();
    void progressTasks();
};

void tst_HostCore::settingsLiveInTheIniFilesOfTheirPaths()
{
    QTemporaryDir dir;
    HostStandIn::setSettingsPath(dir.filePath("settings"));
    QtcSettings *settings = Core::ICore::settings();
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

void tst_HostCore::progressTasks_data()
{
    QTest::addColumn<TaskEnd>("end");
    QTest::addColumn<bool>("error");

    QTest::newRow("finished") << TaskEnd::Finished << false;
    QTest::newRow("canceled by its owner") << TaskEnd::Canceled << true;
    QTest::newRow("canceled by the user") << TaskEnd::CanceledByUser << true;
    QTest::newRow("widget deleted while running") << TaskEnd::WidgetDeleted << false;
}

// Two tasks of one type: the type starts with the first and is over with the second, however
// the first ends; a task that ended canceled shows an error, and goes by itself.
void tst_HostCore::progressTasks()
{
    QFETCH(TaskEnd, end);
    QFETCH(bool, error);

    const Utils::Id type("Test.Progress");
    Core::ProgressManager *manager = Core::ProgressManager::instance();
    QSignalSpy started(manager, &Core::ProgressManager::taskStarted);
    QSignalSpy allFinished(manager, &Core::ProgressManager::allTasksFinished);
    QList<Core::FutureProgress *> observed;
    HostStandIn::setProgressTaskObserver([&](Core::FutureProgress *task) { observed.append(task); });

    QFutureInterface<void> first;
    QFutureInterface<void> second;
    first.reportStarted();
    second.reportStarted();
    QPointer<Core::FutureProgress> task = Core::ProgressManager::addTask(first.future(), "First", type);
    Core::ProgressManager::addTask(second.future(), "Second", type);
    QCOMPARE(observed.size(), 2);
    QCOMPARE(observed.first(), task.data());
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.first().first().value<Utils::Id>(), type);
    QSignalSpy finished(task.data(), &Core::FutureProgress::finished);

    first.setProgressRange(0, 4);
    first.setProgressValueAndText(3, "three");
    switch (end) {
    case TaskEnd::CanceledByUser:
        task->findChild<QAbstractButton *>()->click();
        QVERIFY(first.isCanceled());
        [[fallthrough]];
    case TaskEnd::Finished:
        first.reportFinished();
        break;
    case TaskEnd::Canceled:
        first.reportCanceled();
        first.reportFinished();
        break;
    case TaskEnd::WidgetDeleted:
        delete task;
        break;
    }
    if (task) {
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(task->hasError(), error);
        QCOMPARE(task->toolTip(), QString("three"));
    }
    QCOMPARE(allFinished.size(), 0);
    second.reportFinished();
    QTRY_COMPARE(allFinished.size(), 1);
    QCOMPARE(started.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!task, 5000);
}

QTEST_MAIN(tst_HostCore)

#include "tst_hostcore.moc"
