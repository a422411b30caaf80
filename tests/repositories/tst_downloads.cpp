#include "testsupport.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonObject>
#include <QSignalSpy>
#include <QThreadPool>

using namespace Tidepool::Internal;
using namespace TestSupport;
using LocalGitLab::Fault;
using LocalGitLab::Route;

class tst_Downloads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void singleExample_data();
    void singleExample();
    void archiveRequestNamesTheProject_data();
    void archiveRequestNamesTheProject();
    void batch();
    void emptyBatch();
    void deletedClientReleasesWaitingChains();
    void waitingChainsLeaveTheGlobalPoolFree();
    // Last: it tells the application it is about to quit.
    void aboutToQuitEndsWaitingChains();
};

static constexpr int quietMs = 300;
static constexpr int shortTimeoutMs = 300;

// Lists the group with a client of its own and returns the examples by path.
static QHash<QString, Repository::ExamplePtr> listed(ApiClient &client)
{
    QSignalSpy fetched(&client, &ApiClient::fetched);
    QObject::connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);
    QHash<QString, Repository::ExamplePtr> result;
    if (!fetched.wait(5000))
        return result;
    for (const auto &example : fetched.at(0).at(0).value<Repository::Examples>())
        result.insert(example->json().value("path").toString(), example);
    return result;
}

void tst_Downloads::initTestCase()
{
    // Enough threads that the chains of one batch really wait side by side.
    ApiClient::threadPool()->setMaxThreadCount(
        qMax(4, ApiClient::threadPool()->maxThreadCount()));
}

void tst_Downloads::cleanup()
{
    ApiClient::setTransferTimeouts(0, 0);
    ApiClient::setArchiveSizeLimit(0);
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
}

void tst_Downloads::singleExample_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("events"); // %AVATAR%: the project's avatar URL
    QTest::addColumn<QSize>("imageSize");    // invalid: null image
    QTest::addColumn<bool>("archiveStored");

    const QString start = "status:Downloading example: Alpha";
    const QStringList delivered{start, "downloaded:alpha", "status:"};
    const auto imageFailed = [&start](const QString &error, const QString &url) {
        return QStringList{start, "status:Network error: " + error, "downloaded:alpha",
                           "status:Unable to download image: " + url};
    };
    const QString tooLarge = "status:Network error: The reply exceeds the size limit of 1000 bytes";
    const QString stalled = QStringLiteral("No data received for %1 ms").arg(shortTimeoutMs);

    QTest::newRow("archive and image") << "ok" << delivered << QSize(128, 128) << true;
    QTest::newRow("archive 404")
        << "archive 404" << QStringList{start, "status:Network error: HTTP Not Found"} << QSize()
        << false;
    QTest::newRow("archive over the size limit")
        << "archive too large"
        << QStringList{start, tooLarge}
        << QSize() << false;
    QTest::newRow("archive over the size limit, trickling")
        << "archive too large, slow"
        << QStringList{start, tooLarge}
        << QSize() << false;
    QTest::newRow("archive stalls before its headers")
        << "archive hangs" << QStringList{start, "status:Network error: " + stalled} << QSize()
        << false;
    QTest::newRow("archive stalls mid-body")
        << "archive hangs mid-body" << QStringList{start, "status:Network error: " + stalled}
        << QSize() << false;
    QTest::newRow("no avatar")
        << "no avatar" << imageFailed("Protocol \"\" is not supported for images", "")
        << QSize() << true;
    QTest::newRow("avatar 404") << "avatar 404" << imageFailed("HTTP Not Found", "%AVATAR%")
                                << QSize() << true;
    QTest::newRow("avatar stalls") << "avatar hangs" << imageFailed(stalled, "%AVATAR%")
                                   << QSize() << true;
    QTest::newRow("file avatar")
        << "file avatar"
        << imageFailed("Protocol \"file\" is not supported for images", "file:///dev/zero")
        << QSize() << true;
    QTest::newRow("qrc avatar")
        << "qrc avatar"
        << imageFailed("Protocol \"qrc\" is not supported for images", "qrc:/logo.png")
        << QSize() << true;
    QTest::newRow("avatar is no image") << "avatar html" << delivered << QSize() << true;
}

void tst_Downloads::singleExample()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, events);
    QFETCH(QSize, imageSize);
    QFETCH(bool, archiveStored);

    ServerFixture fixture;
    const qint64 id = fixture.addProject("alpha", "Alpha", scenario != "no avatar");
    const QByteArray archive = scenario.startsWith("archive too large")
                                   ? QByteArray(5000, 'x')
                                   : QByteArray("ARCHIVE:alpha");
    fixture.server.setArchiveOverride(id, archive);

    if (scenario == "archive 404")
        fixture.server.addFault(Route::Archive, Fault::httpStatus(404));
    else if (scenario.startsWith("archive too large"))
        ApiClient::setArchiveSizeLimit(1000);
    if (scenario == "archive too large, slow") // ten seconds for the whole body
        fixture.server.addFault(Route::Archive, Fault::slowBody(500));
    else if (scenario == "archive hangs")
        fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());
    else if (scenario == "archive hangs mid-body")
        fixture.server.addFault(Route::Archive, Fault::hangMidBody());
    else if (scenario == "avatar 404")
        fixture.server.addFault(Route::Avatar, Fault::httpStatus(404));
    else if (scenario == "avatar hangs")
        fixture.server.addFault(Route::Avatar, Fault::hangBeforeHeaders());
    else if (scenario == "file avatar")
        fixture.server.setProjectField(id, "avatar_url", "file:///dev/zero");
    else if (scenario == "qrc avatar")
        fixture.server.setProjectField(id, "avatar_url", "qrc:/logo.png");
    else if (scenario == "avatar html")
        fixture.server.addFault(Route::Avatar, Fault::html());
    ApiClient::setTransferTimeouts(shortTimeoutMs, shortTimeoutMs);

    ApiClient client(fixture.repositoryUrl(), nullptr);
    const Repository::ExamplePtr example = listed(client).value("alpha");
    QVERIFY(example);
    example->setData("previous");

    ClientEvents recorded(&client);
    client.download({example});
    events.replaceInStrings("%AVATAR%", fixture.server.avatarUrl(id).toString());
    QElapsedTimer timer;
    timer.start();
    QTRY_COMPARE_WITH_TIMEOUT(recorded.events(), events, 10000);
    QVERIFY2(timer.elapsed() < 5000, "ended by a limit or timeout, not by the server");
    // The chain has ended, and nothing follows.
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QTest::qWait(quietMs);
    QCOMPARE(recorded.events(), events);
    QCOMPARE(recorded.offThreadDeliveries(), 0);

    QCOMPARE(example->data(), archiveStored ? archive : QByteArray("previous"));
    QCOMPARE(example->image().size(), imageSize.isValid() ? imageSize : QSize(0, 0));
    const bool wantsImage = scenario != "no avatar" && !scenario.contains("archive")
                            && !scenario.contains("file") && !scenario.contains("qrc");
    QCOMPARE(fixture.server.requestCount(Route::Avatar), wantsImage ? 1 : 0);
}

void tst_Downloads::archiveRequestNamesTheProject_data()
{
    QTest::addColumn<QJsonValue>("renderedId");
    QTest::newRow("whole number") << QJsonValue(17);
    QTest::newRow("fraction is truncated") << QJsonValue(17.9);
}

void tst_Downloads::archiveRequestNamesTheProject()
{
    QFETCH(QJsonValue, renderedId);

    ServerFixture fixture;
    LocalGitLab::ProjectData spec;
    spec.id = 17;
    spec.path = "seventeen";
    spec.files.insert("main.cpp", "int main() {}\n");
    QCOMPARE(fixture.server.addProject(fixture.groupId, spec), 17);
    fixture.server.setProjectField(17, "id", renderedId);

    ApiClient client(fixture.repositoryUrl(), nullptr);
    const Repository::ExamplePtr example = listed(client).value("seventeen");
    QVERIFY(example);
    QSignalSpy downloaded(&client, &ApiClient::downloaded);
    client.download({example});
    QVERIFY(downloaded.wait(5000));
    QVERIFY(fixture.server.requestLog().contains(
        "GET /api/v4/projects/17/repository/archive.tar.gz"));
    // The server's own archive: gzip.
    QVERIFY(example->data().startsWith("\x1f\x8b"));
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
    const auto examples = listed(client);
    QCOMPARE(examples.size(), 3);

    ClientEvents recorded(&client);
    client.download({examples["alpha"], examples["beta"], examples["gamma"]});
    QTRY_COMPARE_WITH_TIMEOUT(recorded.delivered().size(), 2, 10000);
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QTest::qWait(quietMs);

    // In completion order, once each, on the client's thread.
    QStringList delivered;
    for (const auto &example : recorded.delivered())
        delivered.append(example->json().value("path").toString());
    delivered.sort();
    QCOMPARE(delivered, (QStringList{"alpha", "beta"}));
    QCOMPARE(recorded.offThreadDeliveries(), 0);

    QStringList statuses = recorded.statuses();
    statuses.sort();
    QStringList expected{"Downloading example: Alpha",
                         "",
                         "Downloading example: Beta",
                         "Network error: Protocol \"\" is not supported for images",
                         "Unable to download image: ",
                         "Downloading example: Gamma",
                         "Network error: HTTP Not Found"};
    expected.sort();
    QCOMPARE(statuses, expected);

    QVERIFY(examples["alpha"]->data().startsWith("\x1f\x8b"));
    QCOMPARE(examples["alpha"]->image().size(), QSize(128, 128));
    QVERIFY(examples["beta"]->data().startsWith("\x1f\x8b"));
    QVERIFY(examples["beta"]->image().isNull());
    QVERIFY(examples["gamma"]->data().isEmpty());
}

void tst_Downloads::emptyBatch()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    ApiClient client(fixture.repositoryUrl(), nullptr);
    QVERIFY(!listed(client).isEmpty());
    fixture.server.clearRequestLog();

    ClientEvents recorded(&client);
    client.download({});
    QTest::qWait(quietMs);
    QCOMPARE(recorded.events(), QStringList());
    QCOMPARE(fixture.server.requestCount(), 0);
}

void tst_Downloads::deletedClientReleasesWaitingChains()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());

    auto client = new ApiClient(fixture.repositoryUrl(), nullptr);
    const auto examples = listed(*client);
    QCOMPARE(examples.size(), 2);
    client->download(examples.values());
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 2);

    QElapsedTimer timer;
    timer.start();
    delete client;
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(examples["alpha"]->data().isEmpty());
}

void tst_Downloads::waitingChainsLeaveTheGlobalPoolFree()
{
    // Qt scales and converts images on its global pool and waits for that work on the GUI thread;
    // chains waiting there would make the GUI thread wait for the network.
    ServerFixture fixture;
    for (const QString path : {"alpha", "beta", "gamma", "delta"})
        fixture.addProject(path);
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());

    ApiClient client(fixture.repositoryUrl(), nullptr);
    const auto examples = listed(client);
    QCOMPARE(examples.size(), 4);
    client.download(examples.values());
    QTRY_VERIFY(fixture.server.requestCount(Route::Archive) >= 2);

    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
    QImage large(2000, 2000, QImage::Format_RGB32);
    large.fill(Qt::darkCyan);
    const QImage converted = large.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                 .scaled(1000, 1000, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QCOMPARE(converted.size(), QSize(1000, 1000));
}

void tst_Downloads::aboutToQuitEndsWaitingChains()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());

    ApiClient client(fixture.repositoryUrl(), nullptr);
    const auto examples = listed(client);
    QCOMPARE(examples.size(), 2);
    ClientEvents recorded(&client);
    client.download(examples.values());
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 2);

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
    QCOMPARE(recorded.delivered().size(), 0);
    QStringList statuses = recorded.statuses(); // the two chains start in any order
    statuses.sort();
    QCOMPARE(statuses, (QStringList{"Downloading example: alpha", "Downloading example: beta"}));
}

QTEST_MAIN(tst_Downloads)

#include "tst_downloads.moc"
