// A GitLab server that misbehaves while an installed example is being updated. Every fault ends
// with a status text within the client's timeouts, leaves no pool thread waiting and the installed
// copy as it was, and the next start with a healthy server installs again.

#include "hardening.h"

#include "statuslog.h"

#include "repositories/apiclient.h"

#include <QThreadPool>

using namespace Hardening;

namespace {

constexpr int timeoutMs = 1500;  // the client's inactivity timeout in this suite
constexpr int deadlineMs = 4000; // and its limit on a whole transfer

QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &entry : tree(folder)) {
        QFile file(folder + QLatin1Char('/') + entry);
        if (file.open(QIODevice::ReadOnly))
            files.insert(entry, file.readAll());
    }
    return files;
}

} // namespace

Q_DECLARE_METATYPE(LocalGitLab::Route)
Q_DECLARE_METATYPE(LocalGitLab::Fault)

class tst_ServerFaults : public Suite
{
    Q_OBJECT

private slots:
    void fault_data();
    void fault();
};

void tst_ServerFaults::fault_data()
{
    using LocalGitLab::Fault;
    using LocalGitLab::Route;
    QTest::addColumn<Route>("route");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("archive"); // served instead of the real one
    QTest::addColumn<QString>("status");     // a pattern some status must match
    QTest::addColumn<bool>("reinstalled");   // without the server's image; else kept as it was

    const auto row = [](const char *tag, Route route, const Fault &fault, const QString &status,
                        bool reinstalled = false, const QByteArray &archive = {}) {
        QTest::newRow(tag) << route << fault << archive << status << reinstalled;
    };
    const QString noData =
        QStringLiteral("^Network error: No data received for %1 ms$").arg(timeoutMs);
    const QString networkError = QStringLiteral("^Network error: .+");

    row("listing: hang before headers", Route::Projects, Fault::hangBeforeHeaders(), noData);
    row("archive: hang mid-body", Route::Archive, Fault::hangMidBody(), noData);
    row("archive: connection reset", Route::Archive, Fault::reset(), networkError);
    row("archive: body cut short", Route::Archive, Fault::truncate(), networkError);
    row("archive: redirect loop", Route::Archive, Fault::redirectLoop(), networkError);
    row("archive: 429 with Retry-After", Route::Archive, Fault::httpStatus(429, 30),
        "^Network error: .*server replied: Too Many Requests");
    row("archive: HTML login page with 200", Route::Archive, Fault::html(),
        "^Downloaded file is not an archive$");
    row("archive: truncated gzip served whole", Route::Archive, Fault(),
        "^(Downloaded file is not an archive|There was an error while unarchiving)$", false,
        tarGz({TarEntry::file("demo-main/CMakeLists.txt", QByteArray(100000, 'p'))}).left(60));
    row("archive: 1 byte per second", Route::Archive, Fault::slowBody(1),
        QStringLiteral("^Network error: The transfer took longer than %1 ms$").arg(deadlineMs));
    // Without its image the example still installs, with the icon found in the project.
    row("avatar: HTML login page with 200", Route::Avatar, Fault::html(), "^Unpacking example: .+",
        true);
    row("avatar: 1 byte per second", Route::Avatar, Fault::slowBody(1),
        "^Unable to download image: .+", true);
}

void tst_ServerFaults::fault()
{
    QFETCH(LocalGitLab::Route, route);
    QFETCH(LocalGitLab::Fault, fault);
    QFETCH(QByteArray, archive);
    QFETCH(QString, status);
    QFETCH(bool, reinstalled);
    ApiClient::setTransferTimeouts(timeoutMs, timeoutMs);
    ApiClient::setTransferDeadlines(deadlineMs, deadlineMs);

    reset();
    const QString demo = exampleFolder("demo");
    const QString manifest = demo + "/examples-manifest.xml";
    const qint64 id = server.addProject(groupId, project("demo"));
    QVERIFY(id);
    {
        DownloadService service;
        QTRY_VERIFY_WITH_TIMEOUT(isInstalled("demo"), 20000);
    }
    const QMap<QString, QByteArray> installed = snapshot(demo);
    QVERIFY(installed.contains("example-icon.png"));

    // The next start meets the fault.
    Core::ICore::settings()->remove("Tidepool/UpdatesCheckedDate"); // the next start checks
    server.setArchiveOverride(id, archive);                         // none when empty
    server.addFault(route, fault);
    {
        const StatusLog log;
        const QRegularExpression expected(status);
        DownloadService service;
        QSignalSpy changed(Core::HelpManager::Signals::instance(),
                           &Core::HelpManager::Signals::documentationChanged);
        QVERIFY2(QTest::qWaitFor([&] { return !StatusLog::lines().filter(expected).isEmpty(); },
                                 deadlineMs + 8000),
                 qPrintable(StatusLog::lines().join('\n')));
        // No download chain waits on: every pool thread is free again.
        QTRY_COMPARE_WITH_TIMEOUT(ApiClient::threadPool()->activeThreadCount(), 0, 2000);
        if (reinstalled)
            QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 5000);
        QTest::qWait(200); // anything still on its way would show now
    }
    if (reinstalled) { // no HTML saved as an icon, a manifest that reads back
        QVERIFY(!QFile::exists(demo + "/example-icon.png"));
        QVERIFY(isWellFormedManifest(manifest));
    } else {
        QCOMPARE(snapshot(demo), installed);
    }
    QCOMPARE(strayEntries(), QStringList());

    // Healthy again: the next start installs anew.
    server.clearFaults();
    server.setArchiveOverride(id, {});
    Core::ICore::settings()->remove("Tidepool/UpdatesCheckedDate");
    const QDateTime before = QFileInfo(manifest).lastModified();
    QTest::qWait(20);
    {
        DownloadService service;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(manifest).lastModified() > before, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(demo + "/example-icon.png"), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(ApiClient::threadPool()->activeThreadCount(), 0, 2000);
}

QTEST_MAIN(tst_ServerFaults)

#include "tst_serverfaults.moc"
