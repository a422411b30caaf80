#include "service/downloadservice.h"

#include "manifestreader.h"
#include "servicesuite.h"
#include "statuslog.h"
#include "testarchive.h"
#include "testfiles.h"
#include "testimage.h"
#include "testproject.h"

#include "plugin/settings.h"
#include "service/folderremoval.h"
#include "repositories/example.h"
#include "repositories/repository.h"

#include <gitlabserver.h>

#include <coreplugin/helpmanager.h>
#include <coreplugin/progressmanager/futureprogress.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <climits>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/resource.h>
#endif

using namespace Tidepool::Internal;
using namespace TestFiles;
using LocalGitLab::ProjectData;

namespace {

const QString repositoryName = QStringLiteral("My Examples");
const QString manifestError = QStringLiteral("There was an error while creating example mainfest");
constexpr int noDate = INT_MIN;

using TestArchive::TarEntry;
using TestArchive::tarGz;
using TestImage::png;
using TestProject::project;

QString examplePath(const QString &path, const QString &file = {})
{
    const QString folder = examplePathTemplate.arg(repositoryName, path);
    return file.isEmpty() ? folder : folder + '/' + file;
}

// The repository folder's entries but the service's own, or only its examples.
QStringList folders(bool installedOnly = false)
{
    QStringList result =
        QDir(examplePath({})).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    result.removeIf([installedOnly](const QString &p) {
        return p == ".tidepool-work" || p == ".tidepool-installed"
               || (installedOnly && !QFile::exists(examplePath(p, "examples-manifest.xml")));
    });
    return result;
}

// A service started on the current settings, with what it tells.
struct Run
{
    QStringList statuses; // first: it outlives the service
    DownloadService service;
    QSignalSpy updated{&service, &DownloadService::updated};
    QSignalSpy installed{Core::HelpManager::Signals::instance(),
                         &Core::HelpManager::Signals::documentationChanged};

    bool waitInstalled(int count) // exactly count installations in all
    {
        return QTest::qWaitFor([&] { return installed.count() >= count; }, 30000)
               && installed.count() == count;
    }
    QMetaObject::Connection log = QObject::connect(&service, &DownloadService::statusChanged,
                                                   [this](const QString &s) { statuses << s; });
};

// Each finished task of the progress view as "title | progress text | subtitle[ | failed]".
struct FinishedTasks
{
    QStringList lines;
    explicit FinishedTasks(bool cancelInstallations = false)
    {
        HostStandIn::setProgressTaskObserver([this, cancelInstallations](Core::FutureProgress *t) {
            if (cancelInstallations && t->type() == Utils::Id("Tidepool.Installation"))
                t->future().cancel();
            QObject::connect(t, &Core::FutureProgress::finished, t, [this, t] {
                lines << QStringList{t->title(), t->future().progressText(), t->subtitle()}
                                 .join(" | ")
                             + (t->hasError() ? " | failed" : "");
            });
        });
    }
    ~FinishedTasks() { HostStandIn::setProgressTaskObserver({}); }
};

// Where updates put the copies with the user's work: beside the repository folder.
QString keptRoot()
{
    return QFileInfo(QDir::cleanPath(examplePath({}))).path() + "/Kept changes - " + repositoryName;
}

QStringList keptCopies()
{
    return QDir(keptRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

using Offsets = QHash<QString, int>;

} // namespace

class tst_DownloadService : public ServiceSuite
{
    Q_OBJECT

public:
    tst_DownloadService() : ServiceSuite(::repositoryName) {}

private slots:
    void init() { freshSettings(); }

    void updateCycle_data()
    {
        QTest::addColumn<quint32>("days");
        QTest::addColumn<int>("lastCheck"); // days before today, or noDate
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("installed"); // folders on disk before the cycle
        QTest::addColumn<Offsets>("activity");      // seconds after midnight of the last check day
        QTest::addColumn<QStringList>("downloaded");
        QTest::addColumn<int>("storedDate"); // days before today, or noDate

        const QStringList none, all{"alpha", "beta", "gamma"}, ag{"alpha", "gamma"}, a{"alpha"};
        const QStringList b{"beta"};
        const Offsets old;
        QTest::newRow("switched off") << 0u << noDate << none << none << old << none << noDate;
        QTest::newRow("longer interval not passed") << 3u << 3 << none << none << old << none << 3;
        QTest::newRow("no date: everything") << 1u << noDate << none << a << old << all << 0;
        QTest::newRow("removed example skipped") << 1u << noDate << b << none << old << ag << 0;
        QTest::newRow("deleted folder comes back") << 1u << 2 << none << ag << old << b << 0;
        QTest::newRow("changed since midnight of the last check")
            << 1u << 2 << none << all << Offsets{{"alpha", 0}, {"gamma", 3600}} << ag << 0;
        QTest::newRow("changed just before that midnight")
            << 1u << 2 << none << all << Offsets{{"alpha", -1}} << none << 0;
    }

    void updateCycle()
    {
        QFETCH(quint32, days);
        QFETCH(int, lastCheck);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, installed);
        QFETCH(Offsets, activity);
        QFETCH(QStringList, downloaded);
        QFETCH(int, storedDate);

        const QDate checkDay = QDate::currentDate().addDays(lastCheck == noDate ? 0 : -lastCheck);
        const QDateTime quiet = QDateTime::currentDateTime().addDays(-10 - qMax(lastCheck, 0));
        QList<ProjectData> projects;
        for (const QString path : {"alpha", "beta", "gamma"})
            projects << project(path, activity.contains(path)
                                          ? checkDay.startOfDay().addSecs(activity.value(path))
                                          : quiet);
        configure(addGroup(projects), days, lastCheck, removed);
        for (const QString &path : installed)
            QVERIFY(QDir().mkpath(examplePath(path)));

        Run run;
        QTRY_VERIFY_WITH_TIMEOUT(run.updated.count() >= 1, 30000);
        if (downloaded.isEmpty())
            QTest::qWait(300); // time for a download that should not happen
        QVERIFY(run.waitInstalled(int(downloaded.size())));
        QCOMPARE(folders(true), downloaded);
        QCOMPARE(run.updated.count(), 1 + int(downloaded.size()));

        Settings stored;
        stored.load(Core::ICore::settings());
        QCOMPARE(stored.updatesCheckedDate.value(repositoryName),
                 storedDate == noDate ? QDate() : QDate::currentDate().addDays(-storedDate));
    }

    void endToEnd()
    {
        ProjectData hello = project("hello");
        hello.description = QStringLiteral("<b>Hello</b> & \"welcome\" ]]> to the <![CDATA[ world");
        hello.topics = {QStringLiteral("qt"), QStringLiteral("demo")};
        hello.avatar = png(64, 32);
        hello.avatarFileName = QStringLiteral("hello.png");
        ProjectData qml = project("qmlapp");
        qml.files = {{"qmlapp.pro", "QT += quick\n"},
                     {"main.cpp", "int main(int argc, char **argv) {}\n"},
                     {"qml/qmlapp.qml", "ApplicationWindow {}\n"},
                     {"icons/128x128/qmlapp.png", png(128, 128)},
                     {"icons/256x256/qmlapp.png", png(256, 256)}};
        ProjectData plain = project("plain");
        plain.files = {{"CMakeLists.txt", "project(plain)\n"}};
        plain.description.clear();
        configure(addGroup({hello, qml, plain, project("demo"), project("demo2")}));

        Run run;
        QVERIFY(run.waitInstalled(5));
        QCOMPARE(folders(), QStringList({"demo", "demo2", "hello", "plain", "qmlapp"}));

        const QString m = repositoryName;
        const QList<ManifestFields> expected{
            {m, "Example hello", "CMakeLists.txt", examplePath("hello", "example-icon.png"),
             hello.description, "demo,qt", "/src/main.cpp"},
            {m, "Example qmlapp", "qmlapp.pro",
             QFileInfo(examplePath("qmlapp", "icons/128x128/qmlapp.png")).canonicalFilePath(),
             "About qmlapp", "Qt,example", "/qml/qmlapp.qml"},
            {m, "Example plain", "CMakeLists.txt", "dummy.png", "", "Qt,example", "CMakeLists.txt"},
            {m, "Example demo", "CMakeLists.txt", "dummy.png", "About demo", "Qt,example",
             "/src/main.cpp"}};
        for (const ManifestFields &e : expected) {
            const QString folder = examplePath(e.name.mid(8));
            const QByteArray xml = readFile(folder + "/examples-manifest.xml").toUtf8();
            QString error;
            QCOMPARE(parsedManifest(xml, &error), e);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY(xml.contains("<description><![CDATA["));
            QVERIFY(QFile::exists(folder + '/' + e.projectPath));
        }
        const QImage icon(examplePath("hello", "example-icon.png"));
        QCOMPARE(icon.size(), QSize(128, 64));
        QCOMPARE(icon.text(QStringLiteral("Description")),
                 "This file is used by SDK to show image for example inside Welcome screen.\n"
                 "It is not the part of the example.");
        QVERIFY(!QFile::exists(examplePath("qmlapp", "example-icon.png")));

        // Once installed, neither the archives nor the images are held in memory.
        QCOMPARE(run.service.examples(repositoryName).size(), 5);
        for (const Repository::ExamplePtr &example : run.service.examples(repositoryName))
            QVERIFY(example->takeArchiveFile().isEmpty() && example->imageFile().isEmpty() &&
                    example->image().isNull());
    }

    // An update replaces an example's folder; one not installed leaves it and stays pending.
    void updatesAndFailedRegistrations()
    {
        ProjectData demo = project("demo");
        demo.files.insert("version.txt", "1");
        ProjectData nested = project("nested"); // its project file only in a subfolder
        nested.files = {{"app/CMakeLists.txt", "project(app)\n"}};
        ProjectData blocked = project("blocked"); // its manifest cannot be written
        blocked.files.insert("examples-manifest.xml.new/x", "x");
        QList<qint64> ids;
        configure(addGroup({demo, project("demo2"), nested, blocked, project("odd")}, &ids));
        const TarEntry elsewhere = TarEntry::file("elsewhere/CMakeLists.txt", "project(x)");
        server.setArchiveOverride(ids.last(), tarGz({elsewhere}));
        auto run = std::make_unique<Run>();
        QVERIFY(run->waitInstalled(5));
        QCOMPARE(run->statuses.count(manifestError), 2);
        QCOMPARE(run->statuses.count("Skip installing example Example odd - its archive does not "
                                     "hold one folder named after it"),
                 1);
        QCOMPARE(folders(true), QStringList({"demo", "demo2"}));
        QTRY_COMPARE(readFile(examplePath(".tidepool-pending")), "blocked\nnested\nodd\n");
        QCOMPARE(folders(), QStringList({".tidepool-pending", "demo", "demo2"}));

        // Folders the service did not make are not its to take, whatever their names.
        QVERIFY(QDir().mkpath(examplePath("demo-main-0123456789")) &&
                QDir().mkpath(examplePath("demo2-main-leftover")));
        const QString sibling = examplePath("demo2", "examples-manifest.xml"); // not to be touched
        const QDateTime siblingTime = QFileInfo(sibling).lastModified();
        demo.files.remove("version.txt");
        demo.files.insert("version2.txt", "2");
        const auto update = [&](const QMap<QString, QByteArray> &files, int installed) {
            server.setProjectFiles(ids.first(), files, QDateTime::currentDateTime());
            run->service.download(repositoryName, {"demo"});
            return run->waitInstalled(installed);
        };
        QVERIFY(update(demo.files, 6));
        const QStringList kept{".tidepool-pending", "demo", "demo-main-0123456789", "demo2",
                               "demo2-main-leftover"};
        QCOMPARE(folders(), kept);
        QVERIFY(!QFile::exists(examplePath("demo", "version.txt")));
        QCOMPARE(readFile(examplePath("demo", "version2.txt")), "2");
        QCOMPARE(QFileInfo(sibling).lastModified(), siblingTime);

        // A broken update keeps the copy installed before, manifest included.
        const auto demoCopy = [] {
            return tree(examplePath("demo"))
                   << readFile(examplePath("demo", "examples-manifest.xml"));
        };
        const QStringList before = demoCopy();
        QVERIFY(update(nested.files, 7));
        QCOMPARE(run->statuses.count(manifestError), 3);
        QCOMPARE(folders(), kept);
        QCOMPARE(demoCopy(), before);
        QTRY_COMPARE(readFile(examplePath(".tidepool-pending")), "blocked\ndemo\nnested\nodd\n");

        // The next start tries the failed ones again.
        server.setProjectFiles(ids.first(), demo.files, QDateTime::currentDateTime());
        server.setArchiveOverride(ids.last(), {});
        run.reset();
        run = std::make_unique<Run>();
        QVERIFY(run->waitInstalled(4));
        QCOMPARE(folders(true), QStringList({"demo", "demo2", "odd"}));
        QTRY_COMPARE(readFile(examplePath(".tidepool-pending")), "blocked\nnested\n");
    }

    // A repository whose name is no folder name is skipped: nothing is looked up or touched.
    void unusableRepositoryNames()
    {
        const QString name = "..";
        const QString outside = QFileInfo(dataRoot).path();
        configure(addGroup({project("alpha")}), 0, noDate, {}, 0, name);
        // A crash's leftovers, as they would lie if the name were used as a folder name.
        QVERIFY(writeFile(examplePathTemplate.arg(name, ".tidepool-pending"), "alpha\n"));
        QVERIFY(QDir().mkpath(examplePathTemplate.arg(name, ".alpha.previous")));
        const QStringList prepared = tree(outside);
        server.clearRequestLog();

        {
            const StatusLog log;
            Run run;
            QTest::qWait(500);
            QVERIFY(StatusLog::lines().contains("Skip repository .. - unusable folder name"));
        }
        QCOMPARE(server.requestCount(), 0);
        QCOMPARE(tree(outside), prepared);
        removeFolder(examplePathTemplate.arg(name, ".alpha.previous"));
        QFile::remove(examplePathTemplate.arg(name, ".tidepool-pending"));
    }

    void tasks_data()
    {
        // "missing"/"broken"/"full" and the example, "lookup"/"listing" and a count, or a word
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("tasks");
        QTest::addColumn<int>("installed");
        QTest::addColumn<QString>("pending");

        const QString check = "Checking examples of " + repositoryName + " | ";
        const QString decided = check + "3 example(s) to install | ";
        const QString install = "Installing examples from " + repositoryName + " | ";
        const QString allDone = install + "3 of 3 examples done | ";
        QTest::newRow("examples to install") << "" << QStringList{decided, allDone} << 3 << "";
        // Only a failed example stays pending for the next start; a canceled installation does not.
        const QStringList oneFailed{decided,
                                    install + "3 of 3 examples done, 1 failed | 1 failed | failed"};
        QTest::newRow("one archive missing") << "missing b" << oneFailed << 2 << "b\n";
        QTest::newRow("one archive broken") << "broken c" << oneFailed << 2 << "c\n";
#if defined(Q_OS_LINUX) // a file size limit stands in for a full disk
        QTest::newRow("disk full") << "full b" << oneFailed << 2 << "b\n";
#endif
        QTest::newRow("canceled")
            << "cancel" << QStringList{decided, install + " | 3 failed | failed"} << 0 << "";
        QTest::newRow("checked yesterday")
            << "yesterday" << QStringList(check + "Nothing to install | ") << 0 << "";
        const QString noGitLab = "The address is no GitLab group: ftp://example.invalid/group";
        // A failed check is retried on a timer but shown once; the retry that gets through
        // installs.
        const QStringList retried{check + "Network error | Network error | failed", allDone};
        QTest::newRow("group lookup fails three times") << "lookup 3" << retried << 3 << "";
        QTest::newRow("listing fails once") << "listing 1" << retried << 3 << "";
        QTest::newRow("no GitLab address")
            << "ftp" << QStringList(check + noGitLab + " | " + noGitLab + " | failed") << 0 << "";
    }

    // A check is a task, ended before its batch or failed with the reason; a batch fails on a loss.
    void tasks()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, tasks);
        QFETCH(int, installed);
        QFETCH(QString, pending);

        QList<qint64> ids;
        const QUrl group = addGroup({project("a"), project("b"), project("c")}, &ids);
        const QUrl address = fault == "ftp" ? QUrl("ftp://example.invalid/group") : group;
        const bool lookup = fault.startsWith("lookup");
        const bool listing = fault.startsWith("listing");
        const int retries = lookup || listing ? fault.section(' ', 1).toInt() : 0;
        if (retries > 0) {
            server.addFault(lookup ? LocalGitLab::Route::Search : LocalGitLab::Route::Projects,
                              LocalGitLab::Fault::httpStatus(500), retries);
        } else if (fault.contains(' ')) { // an example's archive
            const qint64 id = ids.at(fault.back().unicode() - 'a');
            const QRegularExpression archive(QString("/projects/%1/repository/archive").arg(id));
            if (fault.startsWith("broken")) // a file where a folder must go: unpacking fails
                server.setArchiveOverride(id, tarGz({TarEntry::file("c-main/x", "1"),
                                                       TarEntry::file("c-main/x/y", "2")}));
            else if (fault.startsWith("full"))
                server.setArchiveOverride(
                    id, tarGz({TarEntry::file("b-main/noise.bin", TestArchive::noise(4 << 20))}));
            else
                server.addFault(archive, LocalGitLab::Fault::httpStatus(404));
        }
        configure(address, 1, fault == "yesterday" ? 1 : noDate, {}, retries > 0 ? 1 : 0);
#if defined(Q_OS_LINUX)
        rlimit previous{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto restore = qScopeGuard([&previous] { setrlimit(RLIMIT_FSIZE, &previous); });
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
        rlimit limit = previous;
        limit.rlim_cur = fault.startsWith("full") ? 1 << 20 : previous.rlim_cur;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
#endif
        const StatusLog log;
        FinishedTasks finished(fault == "cancel");
        Run run;
        QTRY_COMPARE_WITH_TIMEOUT(finished.lines.size(), tasks.size(), 30000);
        if (retries == 0) // a retried check would show again before the installation
            QTest::qWait(300); // time for a task that should not come
        QCOMPARE(finished.lines.replaceInStrings(QRegularExpression("Network error: [^|]*[^| ]"),
                                                 "Network error"),
                 tasks);
        const QString restart = lookup ? "API client is not ready" : "Examples are not listed";
        QCOMPARE(run.statuses.count(restart + " - restarting (" + address.toString() + ')'),
                 retries);
        QCOMPARE(folders(true).size(), installed);
        QCOMPARE(run.installed.count(), installed);
        QCOMPARE(readFile(examplePath(".tidepool-pending")), pending);
        const QRegularExpression unsaved("^Unable to save the download in .+: .+");
        QCOMPARE(StatusLog::lines().filter(unsaved).size(), fault.startsWith("full") ? 1 : 0);
    }

    void updateKeepsLocalChanges_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("userFile"); // a per-user project file made by the edit

        QTest::newRow("same size and time, other content") << "same size" << true << "";
        QTest::newRow("per-user file, build folder") << "build" << false << "CMakeLists.txt.user";
        QTest::newRow("edit and per-user file") << "edit" << true << "CMakeLists.txt.user";
    }

    // An update keeps a copy of the user's work, not of what the IDE made (its .user file stays).
    void updateKeepsLocalChanges()
    {
        QFETCH(QString, edit);
        QFETCH(bool, kept);
        QFETCH(QString, userFile);

        ProjectData demo = project("demo");
        demo.files.insert("version.txt", "1");
        QList<qint64> ids;
        configure(addGroup({demo}, &ids));
        FinishedTasks finished;
        Run run;
        QVERIFY(run.waitInstalled(1));
        const QString record = examplePath(".tidepool-installed/demo.json");
        QTRY_VERIFY(QFile::exists(record));

        const QString main = examplePath("demo", "src/main.cpp");
        if (edit == "edit") {
            QVERIFY(writeFile(main, "int main() { return 42; }\n"));
        } else if (edit == "same size") {
            const QDateTime time = QFileInfo(main).lastModified();
            QVERIFY(writeFile(main, readFile(main).replace("argc", "argn").toUtf8()));
            QFile f(main);
            QVERIFY(f.open(QFile::ReadWrite) && f.setFileTime(time, f.FileModificationTime));
        } else if (edit == "build") {
            QVERIFY(writeFile(examplePath("demo", "build/Desktop-Debug/CMakeCache.txt"), "x"));
            QVERIFY(writeFile(examplePath("demo", "build/Desktop-Debug/demo"), "binary"));
        }
        if (!userFile.isEmpty())
            QVERIFY(writeFile(examplePath("demo", userFile), "<kit>mine</kit>"));
        const QStringList before = tree(examplePath("demo"));

        demo.files.insert("version.txt", "2");
        server.setProjectFiles(ids.first(), demo.files, QDateTime::currentDateTime());
        run.service.download(repositoryName, {"demo"});
        QVERIFY(run.waitInstalled(2));

        QCOMPARE(readFile(examplePath("demo", "version.txt")), "2");
        QCOMPARE(readFile(main), "int main(int argc, char *argv[]) {}\n");
        if (!userFile.isEmpty())
            QCOMPARE(readFile(examplePath("demo", userFile)), "<kit>mine</kit>");
        QCOMPARE(folders(true), QStringList({"demo"}));
        QCOMPARE(QFileInfo::exists(keptRoot()), kept);
        if (!kept)
            return;
        // The old copy as the user left it, manifest and all; its name tells what and when.
        QCOMPARE(keptCopies().size(), 1);
        const QString copy = keptRoot() + '/' + keptCopies().first();
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d demo$")
                     .match(keptCopies().first()).hasMatch(), qPrintable(keptCopies().first()));
        QCOMPARE(tree(copy), before);
        QCOMPARE(readFile(copy + "/version.txt"), "1");
        const QString status = "Updated example Example demo - kept your changes in "
                               + QDir::toNativeSeparators(copy);
        QVERIFY(run.statuses.contains(status));
        QTRY_VERIFY(finished.lines.last().contains('\n' + status));
        // The next update of the fresh copy keeps nothing.

        QTRY_VERIFY(QFile::exists(record));
        run.service.download(repositoryName, {"demo"});
        QVERIFY(run.waitInstalled(3));
        QCOMPARE(keptCopies().size(), 1);
        QCOMPARE(tree(copy), before);
    }

    void recoveryOfSetAsideCopy_data()
    {
        QTest::addColumn<QString>("aside");
        QTest::addColumn<bool>("successorRegistered");
        QTest::newRow("installed copy, crash before registering") << ".previous" << false;
        QTest::newRow("installed copy, crash after registering") << ".previous" << true;
        QTest::newRow("user's copy, crash before registering") << ".kept" << false;
        QTest::newRow("user's copy, crash after registering") << ".kept" << true;
    }

    // A copy a crash set aside goes back unless its successor was registered (a user's is kept).
    void recoveryOfSetAsideCopy()
    {
        QFETCH(QString, aside);
        QFETCH(bool, successorRegistered);
        configure(QUrl(server.baseUrl().toString() + "/no-such-group"));
        const QString old = examplePath(".demo" + aside);
        const QString earlier = keptRoot() + "/2001-02-03 04.05.06 demo/notes.txt";
        const QString work = examplePath(".tidepool-work");
        const QStringList userFiles{"alpha-a1B2c3.tar.gz", "alpha-v1.2.3.tar.gz"};
        const QString tmp = tempPath + '/';
        for (const auto &[path, text] : QList<std::pair<QString, QByteArray>>{
                 {old + "/CMakeLists.txt", "project(old)"}, {old + "/notes.txt", "mine"},
                 {old + "/examples-manifest.xml", "<old/>"}, {earlier, "earlier"},
                 {examplePath("demo", "CMakeLists.txt"), "project(new)"},
                 {examplePath(".tidepool-installed/gone.json"), "{}"},
                 {examplePath(".tidepool-pending"), "alpha\n"},
                 {work + "/alpha-a1B2c3/alpha-main-0/CMakeLists.txt", "x"},
                 {work + "/alpha-a1B2c3.tar.gz", "x"}, {work + "/beta-a1B2c3.tar.gz", "x"},
                 {tmp + userFiles[0], "mine"}, {tmp + userFiles[1], "mine"}})
            QVERIFY(writeFile(path, text));
        if (successorRegistered)
            QVERIFY(writeFile(examplePath("demo", "examples-manifest.xml"), "<new/>"));
        QVERIFY(QDir().mkpath(examplePath("alpha-main-0")));

        {
            Run run;
            QCOMPARE(folders(), QStringList({".tidepool-pending", "alpha-main-0", "demo"}));
            QCOMPARE(tree(work), QStringList({"beta-a1B2c3.tar.gz"}));
            QCOMPARE(tree(tempPath), userFiles);
        }
        // The record of an example that is gone goes.
        QVERIFY(!QFileInfo::exists(examplePath(".tidepool-installed")));
        QCOMPARE(readFile(earlier), "earlier");
        QCOMPARE(readFile(examplePath("demo", "CMakeLists.txt")),
                 successorRegistered ? "project(new)" : "project(old)");
        const bool movedOn = successorRegistered && aside == ".kept";
        QCOMPARE(keptCopies().size(), movedOn ? 2 : 1);
        if (movedOn)
            QCOMPARE(readFile(keptRoot() + '/' + keptCopies().last() + "/notes.txt"), "mine");
        else
            QCOMPARE(QFile::exists(examplePath("demo", "notes.txt")), !successorRegistered);
        for (const QString &file : userFiles)
            QVERIFY(QFile::remove(tmp + file));
        QVERIFY(removeFolder(work));
    }

private:
    void configure(const QUrl &url, quint32 days = 1, int lastCheck = noDate,
                   const QStringList &removed = {}, int restartSeconds = 0,
                   const QString &name = ::repositoryName)
    {
        Settings settings;
        settings.updatesCheckTimeoutDays = days;
        if (restartSeconds > 0)
            settings.serviceRestartTimeoutSeconds = restartSeconds;
        const QSet<QString> skipped(removed.cbegin(), removed.cend());
        settings.repositories.insert(name, {url, skipped, {}, {}, {}});
        if (lastCheck != noDate)
            settings.updatesCheckedDate.insert(repositoryName,
                                               QDate::currentDate().addDays(-lastCheck));
        settings.save(Core::ICore::settings());
    }
};

QTEST_MAIN(tst_DownloadService)

#include "tst_downloadservice.moc"
