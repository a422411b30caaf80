#include "testsupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace TestSupport;

Q_DECLARE_METATYPE(LocalGitLab::Fault)
Q_DECLARE_METATYPE(LocalGitLab::Route)

class tst_Downloads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        ApiClient::setTransferTimeouts(0, 0);
        ApiClient::setArchiveSizeLimit(0);
        QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    }
    void singleExample_data();
    void singleExample();
    void batch();
    // Last: it tells the application it is about to quit.
    void waitingChainsLeaveTheGlobalPoolFreeAndEndAtQuit();
};

static constexpr int quietMs = 300;
static constexpr int shortTimeoutMs = 300;

void tst_Downloads::singleExample_data()
{
    QTest::addColumn<Route>("route"); // the route that gets the fault
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("avatarUrl"); // empty: the server's own; "-": none
    QTest::addColumn<QStringList>("events"); // %AVATAR%: the project's avatar URL
    QTest::addColumn<bool>("archiveStored");
    QTest::addColumn<bool>("imageShown");

    const QString start = "status:Downloading example: Alpha";
    const QStringList delivered{start, "downloaded:alpha", "status:"};
    const auto failed = [&start](const QString &error) {
        return QStringList{start, "status:Network error: " + error};
    };
    const auto imageFailed = [&](const QString &error, const QString &url) {
        return failed(error) + QStringList{"downloaded:alpha", "status:Unable to download image: " + url};
    };
    const QString stalled = QStringLiteral("No data received for %1 ms").arg(shortTimeoutMs);
    const QString noScheme = "Protocol \"%1\" is not supported for images";

    QTest::newRow("archive and image") << Route::Any << Fault() << "" << delivered << true << true;
    QTest::newRow("archive 404") << Route::Archive << Fault::httpStatus(404) << ""
                                 << failed("HTTP Not Found") << false << false;
    QTest::newRow("archive over the size limit, trickling")
        << Route::Archive << Fault::slowBody(500) << ""
        << failed("The reply exceeds the size limit of 1000 bytes") << false << false;
    QTest::newRow("archive stalls mid-body") << Route::Archive << Fault::hangMidBody() << ""
                                             << failed(stalled) << false << false;
    QTest::newRow("no avatar") << Route::Any << Fault() << "-"
                               << imageFailed(noScheme.arg(""), "") << true << false;
    QTest::newRow("avatar 404") << Route::Avatar << Fault::httpStatus(404) << ""
                                << imageFailed("HTTP Not Found", "%AVATAR%") << true << false;
    QTest::newRow("avatar stalls before its headers")
        << Route::Avatar << Fault::hangBeforeHeaders() << ""
        << imageFailed(stalled, "%AVATAR%") << true << false;
    QTest::newRow("file avatar") << Route::Any << Fault() << "file:///dev/zero"
                                 << imageFailed(noScheme.arg("file"), "file:///dev/zero") << true
                                 << false;
    QTest::newRow("avatar is no image") << Route::Avatar << Fault::html() << "" << delivered
                                        << true << false;
}

void tst_Downloads::singleExample()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QString, avatarUrl);
    QFETCH(QStringList, events);
    QFETCH(bool, archiveStored);
    QFETCH(bool, imageShown);

    ServerFixture fixture;
    const qint64 id = fixture.addProject("alpha", "Alpha", avatarUrl != "-");
    // Only the trickling archive exceeds the limit: ten seconds for its whole body.
    const QByteArray archive =
        incompressibleArchive("alpha-main/data.bin", fault.kind == Fault::SlowBody ? 5000 : 500);
    QVERIFY(archive.size() <= 1000 || fault.kind == Fault::SlowBody);
    fixture.server.setArchiveOverride(id, archive);
    if (fault.kind != Fault::None)
        fixture.server.addFault(route, fault);
    if (avatarUrl.contains(':'))
        fixture.server.setProjectField(id, "avatar_url", avatarUrl);
    ApiClient::setArchiveSizeLimit(1000);
    ApiClient::setTransferTimeouts(shortTimeoutMs, shortTimeoutMs);

    ApiClient client(fixture.repositoryUrl(), nullptr);
    QTemporaryDir downloads;
    client.setDownloadFolder(downloads.path());
    const Repository::ExamplePtr example = fixture.listed(client).value("alpha");
    QVERIFY(example);

    ClientEvents recorded(&client);
    client.download({example});
    events.replaceInStrings("%AVATAR%", fixture.server.avatarUrl(id).toString());
    QElapsedTimer timer;
    timer.start();
    QTRY_COMPARE_WITH_TIMEOUT(recorded.events, events, 10000);
    QVERIFY2(timer.elapsed() < 5000, "ended by a limit or timeout, not by the server");
    // The chain has ended, and nothing follows.
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QTest::qWait(quietMs);
    QCOMPARE(recorded.events, events);
    QCOMPARE(recorded.offThread.loadRelaxed(), 0);

    // The archive is a file of the download folder, and the only one there; a failed download
    // leaves none.
    const QString file = example->takeArchiveFile();
    QCOMPARE(fileContent(file), archiveStored ? archive : QByteArray());
    QCOMPARE(QDir(downloads.path()).entryList(QDir::Files | QDir::Hidden),
             archiveStored ? QStringList{QFileInfo(file).fileName()} : QStringList());
    QVERIFY(example->takeArchiveFile().isEmpty());
    QCOMPARE(example->image().size(), imageShown ? QSize(128, 128) : QSize(0, 0));
    const bool wantsImage = archiveStored && avatarUrl.isEmpty();
    QCOMPARE(fixture.server.requestCount(Route::Avatar), wantsImage ? 1 : 0);
}

void tst_Downloads::batch()
{
    ServerFixture fixture;
    fixture.addProject("alpha", "Alpha");
    fixture.addProject("beta", "Beta", false);
    const qint64 gamma = fixture.addProject("gamma", "Gamma");
    fixture.server.addFault(
        QRegularExpression(QStringLiteral("^/api/v4/projects/%1/repository/").arg(gamma)),
        Fault::httpStatus(404));
    ApiClient client(fixture.repositoryUrl(), nullptr);
    QTemporaryDir downloads;
    client.setDownloadFolder(downloads.path());
    const auto examples = fixture.listed(client);
    QCOMPARE(examples.size(), 3);

    ClientEvents recorded(&client);
    client.download(examples.values());
    QTRY_COMPARE_WITH_TIMEOUT(recorded.deliveries(), 2, 10000);
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QTest::qWait(quietMs);

    // Chains run side by side: each one's events come once each, on this thread.
    QStringList expected{"status:Downloading example: Alpha", "downloaded:alpha", "status:",
                         "status:Downloading example: Beta",
                         "status:Network error: Protocol \"\" is not supported for images",
                         "downloaded:beta", "status:Unable to download image: ",
                         "status:Downloading example: Gamma",
                         "status:Network error: HTTP Not Found"};
    QStringList events = recorded.events;
    events.sort();
    expected.sort();
    QCOMPARE(events, expected);
    QCOMPARE(recorded.offThread.loadRelaxed(), 0);
    QVERIFY(fileContent(examples["alpha"]->takeArchiveFile()).startsWith("\x1f\x8b"));
    QCOMPARE(examples["alpha"]->image().size(), QSize(128, 128));
    QVERIFY(fileContent(examples["beta"]->takeArchiveFile()).startsWith("\x1f\x8b"));
    QVERIFY(examples["beta"]->image().isNull());
    QVERIFY(examples["gamma"]->takeArchiveFile().isEmpty());

    // An empty batch asks for nothing and says nothing.
    fixture.server.clearRequestLog();
    client.download({});
    QTest::qWait(quietMs);
    QCOMPARE(recorded.events.size(), expected.size());
    QCOMPARE(fixture.server.requestCount(), 0);
}

void tst_Downloads::waitingChainsLeaveTheGlobalPoolFreeAndEndAtQuit()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());
    ApiClient client(fixture.repositoryUrl(), nullptr);
    const auto examples = fixture.listed(client);
    QCOMPARE(examples.size(), 2);
    ClientEvents recorded(&client);
    client.download(examples.values());
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 2);

    // Qt scales and converts images on its global pool and waits for that work on the GUI
    // thread; chains waiting there would make the GUI thread wait for the network.
    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
    QImage large(2000, 2000, QImage::Format_RGB32);
    large.fill(Qt::darkCyan);
    QCOMPARE(large.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                 .scaled(1000, 1000, Qt::KeepAspectRatio, Qt::SmoothTransformation).size(),
             QSize(1000, 1000));

    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

    // Chains started after that end at once, without a request.
    client.download(examples.values());
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QTest::qWait(quietMs);
    QCOMPARE(fixture.server.requestCount(Route::Archive), 2);
    QCOMPARE(recorded.deliveries(), 0);
    QStringList statuses = recorded.statuses(); // the two chains start in any order
    statuses.sort();
    QCOMPARE(statuses, (QStringList{"Downloading example: alpha", "Downloading example: beta"}));
}

QTEST_MAIN(tst_Downloads)

#include "tst_downloads.moc"
