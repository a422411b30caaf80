#include "testfiles.h"

#include <gitlabserver.h>

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace LocalGitLab;
using TestFiles::readFile;

Q_DECLARE_METATYPE(LocalGitLab::Route)
Q_DECLARE_METATYPE(LocalGitLab::Fault)

static const QString demoName = QStringLiteral("Veyra Examples");

// One headless run of the shell: what it printed, the table of listed examples split into cells.
struct Run
{
    int exitCode = -1;   // -1: crashed or killed
    qint64 milliseconds = 0;
    QString out, err, summary;
    QStringList tasks;   // finished progress tasks, "title: progress text"
    QList<QStringList> rows;
    QStringList statuses; // the last column: "updated" or "unchanged"
    QByteArray describe() const
    {
        return QString("exit code %1 after %2 ms\n%3%4").arg(exitCode).arg(milliseconds).arg(out, err).toLocal8Bit();
    }
};

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_server.reset(); m_dir.reset(); }

    void installsThenUpdatesOnlyTheChangedExample();
    void failures_data();
    void failures();

private:
    QString folder() const { return m_dir->filePath("data/VeyraSDK/" + demoName); }
    QString settingsFile() const { return m_dir->filePath("settings/QtProject/QtCreator.ini"); }
    void addRepository(const QString &url = {});
    Run run(const QStringList &arguments = {}, const QStringList &environment = {}) const;

    std::unique_ptr<Server> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_EndToEnd::init()
{
    m_server = std::make_unique<Server>();
    QString error;
    QVERIFY2(m_server->loadCatalogue(TIDEPOOL_DEMO_CATALOGUE, &error), qPrintable(error));
    QVERIFY(m_server->start().isValid());
    m_dir = std::make_unique<QTemporaryDir>();
}

// The repository (empty: the demo group), its folder registered with Welcome as the SDK's installer does.
void tst_EndToEnd::addRepository(const QString &url)
{
    QDir().mkpath(folder());
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue("Help/InstalledExamples", QString("%1|%2|%2").arg(demoName, folder()));
    settings.setValue(
        "Tidepool/Repositories",
        QString("%1|%2|").arg(
            demoName, url.isEmpty() ? m_server->baseUrl().toString() + "/veyra-examples" : url));
}

Run tst_EndToEnd::run(const QStringList &arguments, const QStringList &environment) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("XDG_DATA_HOME", m_dir->filePath("data"));
    variables.remove("QT_LOGGING_RULES");
    variables.remove("ORVIK_SDK_NAME");
    for (const QString &variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    QProcess process;
    process.setProcessEnvironment(variables);
    QElapsedTimer timer;
    timer.start();
    // The shell's own safety net ends a stuck run well before the test gives up on the process.
    process.start(TIDEPOOL_SHELL, QStringList{"-settingspath", m_dir->filePath("settings"),
                                              "--headless", "--timeout", "60"} +
                                      arguments);
    if (!process.waitForFinished(120000))
        process.kill();
    process.waitForFinished();
    Run run;
    run.milliseconds = timer.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    // The tasks the progress view showed come first, then the table and the summary.
    const qsizetype header = lines.indexOf(QRegularExpression("^SET\\b.*"));
    run.tasks = lines.first(qMax(header, qsizetype(0)));
    run.summary = lines.value(lines.size() - 1);
    for (const QString &line : lines.mid(header + 1, lines.size() - header - 2)) {
        run.rows.append(line.split(QRegularExpression("\\s{2,}")));
        run.statuses.append(run.rows.constLast().value(5));
    }
    return run;
}

// The demo catalogue installed and listed, then left alone the same day, then three days later
// only what changed since is installed again.
void tst_EndToEnd::installsThenUpdatesOnlyTheChangedExample()
{
    for (qint64 id : m_server->projectIds(m_server->groupId("veyra-examples")))
        m_server->setLastActivity(id, QDateTime::currentDateTimeUtc().addDays(-30));
    addRepository();

    const Run first = run();
    QVERIFY2(first.exitCode == 0 && first.milliseconds < 30000, first.describe());
    // Avatars become the example image; without one the project's 128x128 icon is used.
    QCOMPARE(
        first.rows,
        QList<QStringList>({{demoName, "Analog Clock", "analog-clock/CMakeLists.txt",
                             "analog-clock/example-icon.png", "clock,qml,quick", "updated"},
                            {demoName, "Hello qmake", "hello-qmake/hello.pro",
                             "hello-qmake/example-icon.png", "qmake,widgets", "updated"},
                            {demoName, "Notes", "notes/CMakeLists.txt",
                             "notes/icons/128x128/notes.png", "cmake,settings,widgets", "updated"},
                            {demoName, "Sensor Gauge", "sensor-gauge/CMakeLists.txt",
                             "sensor-gauge/example-icon.png", "qml,sensors", "updated"}}));
    QCOMPARE(first.tasks.filter(demoName),
             QStringList({"Checking examples of Veyra Examples: 4 example(s) to install",
                          "Installing examples from Veyra Examples: 4 of 4 examples done"}));
    QVERIFY2(first.summary.contains("4 example(s) listed in 1 set(s)") &&
                 first.summary.contains("1 of 1 repositories reached"),
             qPrintable(first.summary));
    for (const QStringList &row : first.rows)
        QVERIFY2(!QImage(folder() + '/' + row.value(3)).isNull(), qPrintable(row.value(3)));
    QVERIFY(readFile(folder() + "/analog-clock/examples-manifest.xml")
                .contains("<fileToOpen>/qml/Main.qml</fileToOpen>"));
    QCOMPARE(m_server->requestCount(Route::Archive), 4);

    const Run sameDay = run();
    QVERIFY2(sameDay.exitCode == 0, sameDay.describe());
    QCOMPARE(sameDay.statuses, QStringList(4, "unchanged"));
    QCOMPARE(sameDay.tasks.filter(demoName), QStringList("Checking examples of Veyra Examples: Nothing to install"));

    const QString threeDaysAgo = QDate::currentDate().addDays(-3).toString("dd.MM.yyyy");
    QSettings(settingsFile(), QSettings::IniFormat)
        .setValue("Tidepool/UpdatesCheckedDate", QStringList{demoName + '|' + threeDaysAgo});
    m_server->setProjectFiles(m_server->projectId("veyra-examples/hello-qmake"),
                              {{"hello.pro", "SOURCES += main.cpp\n"},
                               {"main.cpp", "int main() {}\n"},
                               {"CHANGES.md", "Says hello in a bigger font.\n"}},
                              QDateTime::currentDateTimeUtc());
    const Run later = run();
    QVERIFY2(later.exitCode == 0, later.describe());
    QCOMPARE(later.statuses, QStringList({"unchanged", "updated", "unchanged", "unchanged"}));
    QCOMPARE(later.tasks.filter(demoName),
             QStringList({"Checking examples of Veyra Examples: 1 example(s) to install",
                          "Installing examples from Veyra Examples: 1 of 1 examples done"}));
    QCOMPARE(m_server->requestCount(Route::Archive), 5);
    QCOMPARE(readFile(folder() + "/hello-qmake/main.cpp"), "int main() {}\n");
    // The update replaced the folder instead of adding a second copy.
    QCOMPARE(QDir(folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"analog-clock", "hello-qmake", "notes", "sensor-gauge"}));
}

void tst_EndToEnd::failures_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("url");   // empty: the demo group
    QTest::addColumn<QStringList>("arguments");   // "@plugins": the plugin and one that is refused
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("messages");   // each on a line of stderr
    QTest::addColumn<QStringList>("tasks");      // the progress lines printed

    const QString nobody = "http://127.0.0.1:1/examples";   // a privileged port nobody listens on
    const QStringList none;
    const QString check = "Checking examples of Veyra Examples: ";
    const QString refused = check + "Network error: Connection refused";
    QTest::newRow("server unreachable") << Route::Any << Fault() << nobody << none << 1
        << QStringList{refused, "1 of 1 configured repositories could not be reached"}
        << QStringList(refused);
    const QStringList garbage(check + "Search error: request return null object");
    QTest::newRow("garbage answer to the lookup")
        << Route::Search << Fault::invalidJson() << "" << none << 1 << garbage << garbage;
    const QStringList batch{check + "4 example(s) to install",
                            "Installing examples from Veyra Examples: 4 of 4 examples done, 4 failed"};
    QTest::newRow("archive is no archive") << Route::Archive << Fault::html() << "" << none << 1
        << QStringList("Installing examples from Veyra Examples: 4 failed") << batch;
    QTest::newRow("server never answers")
        << Route::Search << Fault::hangBeforeHeaders() << "" << QStringList{"--timeout", "3"} << 3
        << QStringList("still working after 3 s (1 task(s) running); giving up") << none;
    QTest::newRow("plugin folder missing")
        << Route::Any << Fault() << "" << QStringList{"-pluginpath", "/nonexistent"} << 2
        << QStringList("/nonexistent does not exist") << none;
    // Named on one line each, with what it lacks; the other plugin still does its work.
    QTest::newRow("plugin with unmet dependency") << Route::Any << Fault() << ""
        << QStringList{"-pluginpath", "@plugins"} << 2 << QStringList{"UnmetDependency", "nosuchplugin"}
        << QStringList{batch.first(), "Installing examples from Veyra Examples: 4 of 4 examples done"};
}

void tst_EndToEnd::failures()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QString, url);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, messages);
    m_server->addFault(route, fault);
    addRepository(url);
    if (arguments.contains("@plugins")) {
        const QString plugins = m_dir->filePath("plugins");
        QVERIFY(QDir().mkpath(plugins));
        for (const QString file : {TIDEPOOL_PLUGIN, TIDEPOOL_BAD_PLUGIN})
            QVERIFY(QFile::link(file, plugins + '/' + QFileInfo(file).fileName()));
        arguments.replaceInStrings("@plugins", plugins);
    }

    // Giving up on a hung server leaves the plugin's request open: no leak check for that run.
    const QString leaks = fault.kind == Fault::HangBeforeHeaders ? "0" : "1";
    const Run ended = run(arguments, {"ASAN_OPTIONS=abort_on_error=1:detect_leaks=" + leaks});
    QVERIFY2(ended.exitCode == exitCode && ended.milliseconds < 30000, ended.describe());
    for (const QString &message : messages) {
        const QStringList lines = ended.err.split('\n').filter(message);
        QVERIFY2(lines.size() == 1 && lines.first().startsWith("tidepool-ide: "),
                 qPrintable(ended.err));
    }
    QTEST(ended.tasks, "tasks");
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
