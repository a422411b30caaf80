#include "mainwindow.h"
#include "preferencesdialog.h"
#include "progresstracker.h"
#include "testfiles.h"
#include "welcomeexamplesview.h"

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/progressmanager/progressmanager.h>
#include <hoststandin/hostsetup.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFutureInterface>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace Shell;
using TestFiles::writeFile;

enum class TaskEnd { Finished, Canceled, CanceledByUser, WidgetDeleted };

// A page that records what the dialog does with it, in order.
struct RecordingPage final : Core::IOptionsPage
{
    RecordingPage(const char *id, const QString &name, QStringList *log)
    {
        setId(id);
        setCategory("A.Core");
        setDisplayName(name);
        setWidgetCreator([this, log, name] {
            m_widget = new Core::IOptionsPageWidget;
            m_widget->setOnApply([log, name] { log->append(name + ":apply"); });
            m_widget->setOnCancel([log, name] { log->append(name + ":cancel"); });
            m_widget->setOnFinish([log, name] { log->append(name + ":finish"); });
            return m_widget.get();
        });
    }

    QPointer<Core::IOptionsPageWidget> m_widget;
};

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { HostStandIn::reset(); }
    void statusBarShowsRunningTasks_data();
    void statusBarShowsRunningTasks();
    void preferencesButtons_data();
    void preferencesButtons();
    void welcomeReadingRules_data();
    void welcomeReadingRules();
};

void tst_Shell::statusBarShowsRunningTasks_data()
{
    QTest::addColumn<TaskEnd>("end");
    QTest::addColumn<QStringList>("results"); // "text, failed" for each task the tracker saw end

    QTest::newRow("finished") << TaskEnd::Finished << QStringList("2 of 2, false");
    QTest::newRow("canceled by its owner") << TaskEnd::Canceled << QStringList("2 of 2, true");
    QTest::newRow("canceled by the user") << TaskEnd::CanceledByUser << QStringList("2 of 2, true");
    QTest::newRow("widget deleted while running") << TaskEnd::WidgetDeleted << QStringList();
}

// A task's bar stays in the status bar until a little after it ends, however it ends.
void tst_Shell::statusBarShowsRunningTasks()
{
    QFETCH(TaskEnd, end);
    ProgressTracker tracker;
    MainWindow window(&tracker);
    window.show();
    QFutureInterface<void> batch;
    batch.reportStarted();
    batch.setProgressRange(0, 2);
    QPointer<Core::FutureProgress> task = Core::ProgressManager::addTask(batch.future(), "Installing", "Test.Batch");
    QVERIFY(task && task->isVisible() && task->parentWidget() == window.statusBar());
    QCOMPARE(tracker.runningTasks(), 1);

    batch.setProgressValueAndText(1, "1 of 2");
    batch.setProgressValueAndText(2, "2 of 2");
    if (end == TaskEnd::CanceledByUser)
        task->findChild<QAbstractButton *>()->click();
    else if (end == TaskEnd::Canceled)
        batch.reportCanceled();
    else if (end == TaskEnd::WidgetDeleted)
        delete task;
    QCOMPARE(batch.isCanceled(), end == TaskEnd::CanceledByUser || end == TaskEnd::Canceled);
    batch.reportFinished();
    QTRY_COMPARE(tracker.runningTasks(), 0);
    QStringList results;
    for (const ProgressTracker::Result &result : tracker.results())
        results.append(result.text + (result.failed ? ", true" : ", false"));
    QTEST(results, "results");
    QCOMPARE(tracker.failedTasks(), results.filter("true").size());
    QVERIFY(task || end == TaskEnd::WidgetDeleted);
    QTRY_VERIFY_WITH_TIMEOUT(!task, 5000);
}

void tst_Shell::preferencesButtons_data()
{
    QTest::addColumn<QList<QDialogButtonBox::StandardButton>>("clicks");
    QTest::addColumn<QStringList>("expected");

    // The dialog opens on General; Examples is visited too, Fonts never.
    QTest::newRow("OK") << QList{QDialogButtonBox::Ok}
                        << QStringList{"General:apply", "Examples:apply", "General:finish",
                                       "Examples:finish"};
    QTest::newRow("Apply keeps the dialog open, then Cancel")
        << QList{QDialogButtonBox::Apply, QDialogButtonBox::Cancel}
        << QStringList{"General:apply",   "Examples:apply", "General:cancel",
                       "Examples:cancel", "General:finish", "Examples:finish"};
}

void tst_Shell::preferencesButtons()
{
    QFETCH(QList<QDialogButtonBox::StandardButton>, clicks);
    QFETCH(QStringList, expected);
    Core::IOptionsPage::registerCategory("A.Core", "Environment", {});
    QStringList log;
    RecordingPage general("A.General", "General", &log);
    RecordingPage examples("B.Examples", "Examples", &log);
    RecordingPage fonts("C.Fonts", "Fonts", &log);

    QPointer<PreferencesDialog> dialog = new PreferencesDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QVERIFY(dialog->showPage("B.Examples"));
    dialog->show();
    for (const QDialogButtonBox::StandardButton button : clicks) {
        QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(button), Qt::LeftButton);
        if (button == QDialogButtonBox::Apply)
            QVERIFY(general.m_widget && examples.m_widget && dialog->isVisible());
    }
    QCOMPARE(log, expected);
    // finish() destroyed the widgets; the dialog closed and deleted itself.
    QVERIFY(!general.m_widget && !examples.m_widget);
    QTRY_VERIFY(!dialog);
}

void tst_Shell::welcomeReadingRules_data()
{
    QTest::addColumn<QString>("entry");        // "@" stands for the temporary folder
    QTest::addColumn<QString>("folder");       // of the manifest and the example's files
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("fileToOpen");
    QTest::addColumn<QStringList>("shown");    // project file and file to open, resolved

    const QString set = "Set|@/set|@/set";
    const QString ok = R"(projectPath="app.pro" imageUrl="x.png")";
    QTest::newRow("file below the manifest folder") << set << "set/app" << ok << "/qml/Main.qml"
        << QStringList{"@/set/app/app.pro", "@/set/app/qml/Main.qml"};
    QTest::newRow("manifest folder before examples folder") << set << "set/app" << ok << "main.cpp"
        << QStringList{"@/set/app/app.pro", "@/set/app/main.cpp"};
    QTest::newRow("entry of two parts") << "Set|@/set" << "set/app" << ok << "main.cpp" << QStringList();
    QTest::newRow("manifest folder missing") << "Set|@/gone|@/set" << "set/app" << ok << "main.cpp" << QStringList();
    QTest::newRow("manifest in the set folder") << set << "set" << ok << "main.cpp" << QStringList();
    QTest::newRow("manifest two folders down") << set << "set/a/app" << ok << "main.cpp" << QStringList();
    QTest::newRow("project file missing") << set << "set/app"
                                          << R"(projectPath="other.pro" imageUrl="x.png")"
                                          << "main.cpp" << QStringList();
    QTest::newRow("image empty") << set << "set/app"
                                 << R"(projectPath="app.pro" imageUrl="")"
                                 << "main.cpp" << QStringList();
}

void tst_Shell::welcomeReadingRules()
{
    QFETCH(QString, entry);
    QFETCH(QString, folder);
    QFETCH(QString, attributes);
    QFETCH(QString, fileToOpen);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    for (const char *file : {"app.pro", "main.cpp", "qml/Main.qml"})
        QVERIFY(writeFile(dir.filePath(folder + '/' + file)));
    QVERIFY(writeFile(dir.filePath("set/main.cpp")));
    QVERIFY(
        writeFile(dir.filePath(folder + "/examples-manifest.xml"),
                  QString("<instructionals><examples><example name=\"App\" "
                          "%1><fileToOpen>%2</fileToOpen></example></examples></instructionals>")
                      .arg(attributes, fileToOpen)
                      .toUtf8()));
    HostStandIn::setSettingsPath(dir.filePath("settings"));
    Core::ICore::settings()->setValue("Help/InstalledExamples", QStringList{entry.replace('@', dir.path())});

    WelcomeExamplesView view;
    QStringList paths;
    for (const ExampleItem &item : view.shownExamples())
        paths << item.projectPath << item.filesToOpen;
    QCOMPARE(paths, shown.replaceInStrings("@", dir.path()));
}

QTEST_MAIN(tst_Shell)

#include "tst_mainwindow.moc"
