#include "mainwindow.h"
#include "progresstracker.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>

#include <QFutureInterface>
#include <QPointer>
#include <QStatusBar>
#include <QTest>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void statusBarShowsRunningTasks();
};

// The progress bar of a running task sits in the status bar until a little after it has ended;
// the tracker tells the headless run what it showed.
void tst_MainWindow::statusBarShowsRunningTasks()
{
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
    batch.setProgressValueAndText(2, "2 of 2, 1 failed");
    batch.reportCanceled();
    batch.reportFinished();
    QTRY_COMPARE(tracker.runningTasks(), 0);
    QCOMPARE(tracker.failedTasks(), 1);
    QCOMPARE(tracker.results().size(), 1);
    QCOMPARE(tracker.results().first().text, QString("2 of 2, 1 failed"));
    QVERIFY(task);
    QTRY_VERIFY_WITH_TIMEOUT(!task, 5000);
}

QTEST_MAIN(tst_MainWindow)

#include "tst_mainwindow.moc"
