// A GitLab server that misbehaves while an installed example is being updated. Every fault ends
// with a status text within the client's timeouts, leaves no pool thread waiting and the installed
// copy as it was, and the next start with a healthy server installs again.

#include "hardening.h"

#include "statuslog.h"

#include "repositories/apiclient.h"

#include <QRegularExpression>
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

void forgetCheckDates()
{
    Settings settings;
    settings.load(Core::ICore::settings());
    settings.updatesCheckedDate.clear();
    settings.save(Core::ICore::settings());
}

enum class Copy { Kept, Replaced };

} // namespace

Q_DECLARE_METATYPE(Copy)
Q_DECLARE_METATYPE(LocalGitLab::Route)
Q_DECLARE_METATYPE(LocalGitLab::Fault)

class tst_ServerFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void fault_data();
    void fault();

private:
    Fixture m_fixture;
};

void tst_ServerFaults::initTestCase()
{
    QVERIFY(m_fixture.start());
    ApiClient::setTransferTimeouts(timeoutMs, timeoutMs);
    ApiClient::setTransferDeadlines(deadlineMs, deadlineMs);
}

void tst_ServerFaults::cleanupTestCase()
{
    ApiClient::setTransferTimeouts(0, 0);
    ApiClient::setTransferDeadlines(0, 0);
}

void tst_ServerFaults::cleanup()
{
    m_fixture.server.clearFaults();
    QCOMPARE(m_fixture.leftovers(), QStringList());
    HostStandIn::reset();
}

void tst_ServerFaults::fault_data()
{
    using LocalGitLab::Fault;
    using LocalGitLab::Route;
    QTest::addColumn<Route>("route");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("archiveOverride"); // served instead of the real archive
    QTest::addColumn<QString>("status");             // a pattern some status must match
    QTest::addColumn<Copy>("copy");

    const QString noData = QStringLiteral("^Network error: No data received for %1 ms$").arg(timeoutMs);
    const QString tooLong = QStringLiteral("^Network error: The transfer took longer than %1 ms$")
                                .arg(deadlineMs);
    const QString networkError = QStringLiteral("^Network error: .+");
    const QByteArray none;

    QTest::newRow("listing: hang before headers")
        << Route::Projects << Fault::hangBeforeHeaders() << none << noData << Copy::Kept;
    QTest::newRow("archive: hang mid-body")
        << Route::Archive << Fault::hangMidBody() << none << noData << Copy::Kept;
    QTest::newRow("archive: connection reset")
        << Route::Archive << Fault::reset() << none << networkError << Copy::Kept;
    QTest::newRow("archive: redirect loop")
        << Route::Archive << Fault::redirectLoop() << none << networkError << Copy::Kept;
    QTest::newRow("archive: 429 with Retry-After")
        << Route::Archive << Fault::httpStatus(429, 30) << none
        << QStringLiteral("^Network error: .*server replied: Too Many Requests") << Copy::Kept;
    QTest::newRow("archive: truncated gzip served whole")
        << Route::Archive << Fault()
        << tarGz({TarEntry::file("demo-main/CMakeLists.txt", QByteArray(100000, 'p'))}).left(60)
        << QStringLiteral("^(Downloaded file is not an archive|There was an error while unarchiving)$")
        << Copy::Kept;
    QTest::newRow("archive: HTML login page with 200")
        << Route::Archive << Fault::html() << none
        << QStringLiteral("^Downloaded file is not an archive$") << Copy::Kept;
    QTest::newRow("archive: 1 byte per second")
        << Route::Archive << Fault::slowBody(1) << none << tooLong << Copy::Kept;
    // Without its image the example still installs, with the icon found in the project.
    QTest::newRow("avatar: HTML login page with 200")
        << Route::Avatar << Fault::html() << none << QStringLiteral("^Unpacking example: .+")
        << Copy::Replaced;
    QTest::newRow("avatar: 1 byte per second")
        << Route::Avatar << Fault::slowBody(1) << none
        << QStringLiteral("^Unable to download image: .+") << Copy::Replaced;
}

void tst_ServerFaults::fault()
{
    QFETCH(LocalGitLab::Route, route);
    QFETCH(LocalGitLab::Fault, fault);
    QFETCH(QByteArray, archiveOverride);
    QFETCH(QString, status);
    QFETCH(Copy, copy);

    m_fixture.reset();
    const QString demoFolder = m_fixture.exampleFolder(QStringLiteral("demo"));
    const QString manifest = demoFolder + QStringLiteral("/examples-manifest.xml");
    const qint64 id = m_fixture.server.addProject(m_fixture.groupId, project(QStringLiteral("demo")));
    QVERIFY(id);
    {
        DownloadService service;
        QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("demo")), 20000);
    }
    const QMap<QString, QByteArray> installed = snapshot(demoFolder);
    QVERIFY(installed.contains(QStringLiteral("example-icon.png")));

    // The next start meets the fault.
    forgetCheckDates();
    if (!archiveOverride.isEmpty())
        m_fixture.server.setArchiveOverride(id, archiveOverride);
    if (fault.kind != LocalGitLab::Fault::None)
        m_fixture.server.addFault(route, fault);
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
        if (copy == Copy::Replaced)
            QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, 5000);
        QTest::qWait(200); // anything still on its way would show now
    }
    if (copy == Copy::Kept) {
        QCOMPARE(snapshot(demoFolder), installed);
    } else {
        // No HTML saved as an icon, a manifest that reads back.
        QVERIFY(!QFile::exists(demoFolder + QStringLiteral("/example-icon.png")));
        QVERIFY(isWellFormedManifest(manifest));
    }
    QCOMPARE(m_fixture.strayEntries(), QStringList());

    // Healthy again: the next start installs anew.
    m_fixture.server.clearFaults();
    m_fixture.server.setArchiveOverride(id, {});
    forgetCheckDates();
    const QDateTime before = QFileInfo(manifest).lastModified();
    QTest::qWait(20);
    {
        DownloadService service;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(manifest).lastModified() > before, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(demoFolder + QStringLiteral("/example-icon.png")), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(ApiClient::threadPool()->activeThreadCount(), 0, 2000);
}

QTEST_MAIN(tst_ServerFaults)

#include "tst_serverfaults.moc"
