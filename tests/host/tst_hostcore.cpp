#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <QDir>
#include <QAbstractButton>
#include <QFutureInterface>
#include <QPointer>
#include <QSignalSpy>
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
    void progressTasks_data();
    void progressTasks();

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

enum class TaskEnd { Finished, Canceled, CanceledByUser, WidgetDeleted };

void tst_HostCore::progressTasks_data()
{
    QTest::addColumn<TaskEnd>("end");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("error");

    QTest::newRow("finished") << TaskEnd::Finished << false << false;
    QTest::newRow("finished, kept") << TaskEnd::Finished << true << false;
    QTest::newRow("canceled by its owner") << TaskEnd::Canceled << false << true;
    QTest::newRow("canceled by the user") << TaskEnd::CanceledByUser << false << true;
    QTest::newRow("widget deleted while running") << TaskEnd::WidgetDeleted << false << false;
}

// Two tasks of one type: the type starts with the first and is over with the second, however
// the first ends; a task that ended canceled shows an error.
void tst_HostCore::progressTasks()
{
    QFETCH(TaskEnd, end);
    QFETCH(bool, keep);
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
    const Core::ProgressManager::ProgressFlags flags = keep ? Core::ProgressManager::KeepOnFinish
                                                            : Core::ProgressManager::ProgressFlags();
    QPointer<Core::FutureProgress> task = Core::ProgressManager::addTask(first.future(), "First",
                                                                         type, flags);
    Core::ProgressManager::addTask(second.future(), "Second", type);
    QVERIFY(task);
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

    // A finished task goes by itself unless it is to be kept.
    if (keep) {
        QTest::qWait(2500);
        QVERIFY(task);
        QTest::mouseClick(task.data(), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!task, 5000);
}

QTEST_MAIN(tst_HostCore)

#include "tst_hostcore.moc"
