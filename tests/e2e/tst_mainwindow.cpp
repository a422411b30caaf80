#include "mainwindow.h"
#include "progresstracker.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>

#include <QAbstractButton>
#include <QFutureInterface>
#include <QPointer>
#include <QStatusBar>
#include <QTest>

enum class TaskEnd { Finished, Canceled, CanceledByUser, WidgetDeleted };

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void statusBarShowsRunningTasks_data();
    void statusBarShowsRunningTasks();
};

void tst_MainWindow::statusBarShowsRunningTasks_data()
{
    QTest::addColumn<TaskEnd>("end");
    QTest::addColumn<QStringList>("results"); // "text, failed" for each task the tracker saw end

    QTest::newRow("finished") << TaskEnd::Finished << QStringList("2 of 2, false");
    QTest::newRow("canceled by its owner") << TaskEnd::Canceled << QStringList("2 of 2, true");
    QTest::newRow("canceled by the user") << TaskEnd::CanceledByUser << QStringList("2 of 2, true");
    QTest::newRow("widget deleted while running") << TaskEnd::WidgetDeleted << QStringList();
}

// The progress bar of a running task sits in the status bar until a little after it has ended,
// however it ends; the tracker tells the headless run what it showed.
void tst_MainWindow::statusBarShowsRunningTasks()
{
    QFETCH(TaskEnd, end);
    Shell::ProgressTracker tracker;
    Shell::MainWindow window(&tracker);
    window.show();
    QFutureInterface<void> batch;
    batch.reportStarted();
    batch.setProgressRange(0, 2);
    QPointer<Core::FutureProgress> task = Core::ProgressManager::addTask(batch.future(), "Installing", "Test.Batch");
    QVERIFY(task && task->isVisible());
    QCOMPARE(task->parentWidget(), window.statusBar());
    QCOMPARE(tracker.runningTasks(), 1);

    batch.setProgressValueAndText(1, "1 of 2");
    batch.setProgressValueAndText(2, "2 of 2");
    switch (end) {
    case TaskEnd::CanceledByUser:
        task->findChild<QAbstractButton *>()->click();
        QVERIFY(batch.isCanceled());
        break;
    case TaskEnd::Canceled:
        batch.reportCanceled();
        break;
    case TaskEnd::WidgetDeleted:
        delete task;
        break;
    case TaskEnd::Finished:
        break;
    }
    batch.reportFinished();
    QTRY_COMPARE(tracker.runningTasks(), 0);
    QStringList results;
    for (const Shell::ProgressTracker::Result &result : tracker.results())
        results.append(result.text + (result.failed ? ", true" : ", false"));
    QTEST(results, "results");
    QCOMPARE(tracker.failedTasks(), results.filter("true").size());
    QVERIFY(task || end == TaskEnd::WidgetDeleted);
    QTRY_VERIFY_WITH_TIMEOUT(!task, 5000);
}

QTEST_MAIN(tst_MainWindow)

#include "tst_mainwindow.moc"
