#include "shellprocess.h"

#include <gitlabserver.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace LocalGitLab;

static const QString demoName = QStringLiteral("Veyra Examples");

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void demoCatalogueInstalledAndListed();
    void secondRunUpdatesOnlyTheChangedExample();
    void secondRepository();
    void refusedPlugins_data();
    void refusedPlugins();
    void failures_data();
    void failures();
    void screenshotOfTheWelcomeScreen();

private:
    QString demoUrl() const { return m_server->baseUrl().toString() + "/veyra-examples"; }
    static QMap<QString, QByteArray> filesOf(const QString &folder);

    std::unique_ptr<Server> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ShellUser> m_user;
};

void tst_EndToEnd::init()
{
    m_server = std::make_unique<Server>();
    QString error;
    QVERIFY2(m_server->loadCatalogue(TIDEPOOL_DEMO_CATALOGUE, &error), qPrintable(error));
    QVERIFY(m_server->start().isValid());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_user = std::make_unique<ShellUser>(m_dir->path());
}

void tst_EndToEnd::cleanup()
{
    m_server->stop();
    m_user.reset();
    m_dir.reset();
}

QMap<QString, QByteArray> tst_EndToEnd::filesOf(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

static QByteArray describe(const ShellUser::Run &run)
{
    return QString("exit code %1 after %2 ms\n%3%4")
        .arg(run.exitCode).arg(run.milliseconds).arg(run.out, run.err).toLocal8Bit();
}

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_EndToEnd::demoCatalogueInstalledAndListed()
{
    m_user->addRepository(demoName, demoUrl());
    const ShellUser::Run run = m_user->run();
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == 0, describe(run).constData());
    QCOMPARE(run.column(0), QStringList(4, demoName));
    QCOMPARE(run.column(1), QStringList({"Analog Clock", "Hello qmake", "Notes", "Sensor Gauge"}));
    QCOMPARE(run.column(2), QStringList({"analog-clock/CMakeLists.txt", "hello-qmake/hello.pro",
                                         "notes/CMakeLists.txt", "sensor-gauge/CMakeLists.txt"}));
    // Avatars become the example image; without one the project's 128x128 icon is used.
    QCOMPARE(run.column(3), QStringList({"analog-clock/example-icon.png", "hello-qmake/example-icon.png",
                                         "notes/icons/128x128/notes.png",
                                         "sensor-gauge/example-icon.png"}));
    QCOMPARE(run.column(4), QStringList({"clock,qml,quick", "qmake,widgets", "cmake,settings,widgets",
                                         "qml,sensors"}));
    QCOMPARE(run.column(5), QStringList(4, "updated"));
    QVERIFY2(run.summary.contains("4 example(s) listed in 1 set(s)"), qPrintable(run.summary));
    QVERIFY2(run.summary.contains("1 of 1 repositories reached"), qPrintable(run.summary));

    const QString folder = m_user->repositoryFolder(demoName);
    for (const QString &image : run.column(3))
        QVERIFY2(!QImage(folder + '/' + image).isNull(), qPrintable(image));
    QVERIFY(readFile(folder + "/analog-clock/examples-manifest.xml")
                .contains("<fileToOpen>/qml/Main.qml</fileToOpen>"));
    QVERIFY(readFile(folder + "/hello-qmake/examples-manifest.xml")
                .contains("<fileToOpen>/main.cpp</fileToOpen>"));
    QCOMPARE(m_server->requestCount(Route::Archive), 4);
    // Quiescence is detected, not waited out.
    QVERIFY2(run.milliseconds < 30000, qPrintable(QString::number(run.milliseconds)));
}

void tst_EndToEnd::secondRunUpdatesOnlyTheChangedExample()
{
    const QDateTime monthAgo = QDateTime::currentDateTimeUtc().addDays(-30);
    const qint64 groupId = m_server->groupId("veyra-examples");
    for (qint64 id : m_server->projectIds(groupId))
        m_server->setLastActivity(id, monthAgo);
    m_user->addRepository(demoName, demoUrl());
    const ShellUser::Run first = m_user->run();
    QVERIFY2(first.exitCode == 0, describe(first).constData());
    QCOMPARE(first.rows.size(), 4);

    // The same day nothing is checked again.
    const ShellUser::Run sameDay = m_user->run();
    QVERIFY2(sameDay.exitCode == 0, describe(sameDay).constData());
    QCOMPARE(sameDay.column(5), QStringList(4, "unchanged"));
    QCOMPARE(m_server->requestCount(Route::Archive), 4);

    // Three days later, one project has changed since.
    m_user->setCheckedDate(demoName, QDate::currentDate().addDays(-3));
    const qint64 hello = m_server->projectId("veyra-examples/hello-qmake");
    QMap<QString, QByteArray> files
        = filesOf(QString(TIDEPOOL_DEMO_CATALOGUE) + "/veyra-examples/hello-qmake");
    files.insert("CHANGES.md", "Says hello in a bigger font.\n");
    m_server->setProjectFiles(hello, files, QDateTime::currentDateTimeUtc());

    const ShellUser::Run second = m_user->run();
    QVERIFY2(second.exitCode == 0, describe(second).constData());
    QCOMPARE(second.column(1), first.column(1));
    QCOMPARE(second.column(5), QStringList({"unchanged", "updated", "unchanged", "unchanged"}));
    QCOMPARE(m_server->requestCount(Route::Archive), 5);
    QVERIFY(QFile::exists(m_user->repositoryFolder(demoName) + "/hello-qmake/CHANGES.md"));
    // The update replaced the folder instead of adding a second copy.
    QCOMPARE(QDir(m_user->repositoryFolder(demoName)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"analog-clock", "hello-qmake", "notes", "sensor-gauge"}));
}

void tst_EndToEnd::secondRepository()
{
    const qint64 group = m_server->addGroup("team/tools", "Team Tools");
    ProjectData tool;
    tool.path = "line-counter";
    tool.name = "Line Counter";
    tool.description = "Counts the lines of the files it is given.";
    tool.topics = {"console"};
    tool.files = {{"counter.pro", "CONFIG += console\nSOURCES += main.cpp\n"},
                  {"main.cpp", "#include <cstdio>\nint main(int argc, char **argv) { return 0; }\n"}};
    QImage avatar(32, 32, QImage::Format_ARGB32);
    avatar.fill(Qt::darkCyan);
    QBuffer png(&tool.avatar);
    png.open(QIODevice::WriteOnly);
    avatar.save(&png, "PNG");
    tool.avatarFileName = "counter.png";
    QVERIFY(m_server->addProject(group, tool));

    m_user->addRepository(demoName, demoUrl());
    m_user->addRepository("Team Tools", m_server->baseUrl().toString() + "/team/tools");
    const ShellUser::Run run = m_user->run();
    QVERIFY2(run.exitCode == 0, describe(run).constData());
    QCOMPARE(run.rows.size(), 5);
    QCOMPARE(run.column(0).count(demoName), 4);
    QCOMPARE(run.row("Line Counter"),
             QStringList({"Team Tools", "Line Counter", "line-counter/counter.pro",
                          "line-counter/example-icon.png", "console", "updated"}));
    QVERIFY2(run.summary.contains("in 2 set(s)"), qPrintable(run.summary));
    QVERIFY2(run.summary.contains("2 of 2 repositories reached"), qPrintable(run.summary));
}

void tst_EndToEnd::refusedPlugins_data()
{
    QTest::addColumn<QString>("file");       // put beside the Tidepool plugin
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("unmet dependency") << QString(TIDEPOOL_BAD_PLUGIN)
                                      << QStringList{"UnmetDependency", "nosuchplugin"};
    QTest::newRow("not a plugin") << QString() << QStringList{"libBroken.so"};
}

void tst_EndToEnd::refusedPlugins()
{
    QFETCH(QString, file);
    QFETCH(QStringList, messages);
    const QString plugins = m_dir->filePath("plugins");
    QVERIFY(QDir().mkpath(plugins));
    QVERIFY(QFile::link(TIDEPOOL_PLUGIN, plugins + '/' + QFileInfo(TIDEPOOL_PLUGIN).fileName()));
    if (file.isEmpty()) {
        QFile broken(plugins + "/libBroken.so");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("\x7f" "ELF but nothing after it");
    } else {
        QVERIFY(QFile::link(file, plugins + '/' + QFileInfo(file).fileName()));
    }
    m_user->addRepository(demoName, demoUrl());

    const ShellUser::Run run = m_user->run({"-pluginpath", plugins});
    QVERIFY2(run.finished, qPrintable(run.err));
    QVERIFY2(run.exitCode == 2, describe(run).constData());
    for (const QString &message : messages) {
        // Reported on one line, by the shell.
        const QStringList lines = run.err.split('\n').filter(message);
        QVERIFY2(lines.size() == 1, qPrintable(run.err));
        QVERIFY2(lines.first().startsWith("tidepool-ide: "), qPrintable(lines.first()));
    }
    // The other plugin still did its work.
    QCOMPARE(run.rows.size(), 4);
}

void tst_EndToEnd::failures_data()
{
    QTest::addColumn<int>("fault");   // -1: none
    QTest::addColumn<int>("route");
    QTest::addColumn<QString>("url");  // empty: the demo group; "closed": a port nobody listens on
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("repository unreachable")
        << -1 << 0 << "closed" << QStringList() << 1
        << QStringList{"Network error", "1 of 1 configured repositories could not be reached"};
    QTest::newRow("server answers garbage")
        << int(Fault::InvalidJson) << int(Route::Search) << QString() << QStringList() << 1
        << QStringList{"Search error: request return null object"};
    QTest::newRow("listing is an HTML page")
        << int(Fault::Html) << int(Route::Group) << QString() << QStringList() << 1
        << QStringList{"Fetch error"};
    QTest::newRow("archives refused")
        << int(Fault::Status) << int(Route::Archive) << QString() << QStringList() << 1
        << QStringList{"Network error"};
    QTest::newRow("archive is no archive")
        << int(Fault::Html) << int(Route::Archive) << QString() << QStringList() << 1
        << QStringList{"not an archive"};
    QTest::newRow("server never answers")
        << int(Fault::HangBeforeHeaders) << int(Route::Search) << QString()
        << QStringList{"--timeout", "3"} << 3 << QStringList{"giving up"};
    QTest::newRow("plugin folder missing")
        << -1 << 0 << QString() << QStringList{"-pluginpath", "/nonexistent/plugins"} << 2
        << QStringList{"/nonexistent/plugins does not exist"};
    QTest::newRow("unknown option")
        << -1 << 0 << QString() << QStringList{"--frobnicate"} << 2
        << QStringList{"Unknown option --frobnicate"};
}

void tst_EndToEnd::failures()
{
    QFETCH(int, fault);
    QFETCH(int, route);
    QFETCH(QString, url);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, messages);

    switch (fault) {
    case Fault::InvalidJson: m_server->addFault(Route(route), Fault::invalidJson()); break;
    case Fault::Html: m_server->addFault(Route(route), Fault::html()); break;
    case Fault::Status: m_server->addFault(Route(route), Fault::httpStatus(500)); break;
    case Fault::HangBeforeHeaders: m_server->addFault(Route(route), Fault::hangBeforeHeaders()); break;
    default: break;
    }
    if (url == "closed") {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        url = QString("http://127.0.0.1:%1/veyra-examples").arg(probe.serverPort());
    }
    m_user->addRepository(demoName, url.isEmpty() ? demoUrl() : url);

    // When the shell gives up on a server that never answers, the plugin's request is still
    // open and its network objects are never released before the process ends; leak checking
    // is off for that run only, the others stay checked.
    const QStringList environment = fault == Fault::HangBeforeHeaders
        ? QStringList{"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"}
        : QStringList{};
    const ShellUser::Run run = m_user->run(arguments, 60000, environment);
    QVERIFY2(run.finished, "the shell hung");
    QVERIFY2(run.exitCode == exitCode, describe(run).constData());
    for (const QString &message : messages)
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY2(run.milliseconds < 30000, qPrintable(QString::number(run.milliseconds)));
}

void tst_EndToEnd::screenshotOfTheWelcomeScreen()
{
    m_user->addRepository(demoName, demoUrl());
    const QString picture = m_dir->filePath("welcome.png");
    const ShellUser::Run run = m_user->run({"--screenshot", picture});
    QVERIFY2(run.exitCode == 0, describe(run).constData());
    const QImage image(picture);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 600 && image.height() >= 400);
    // The window was rendered after the examples arrived: their manifests are there.
    QCOMPARE(QDir(m_user->repositoryFolder(demoName)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 4);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
