#include "testsupport.h"

#include "repositories/repository.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QThreadPool>

using namespace Tidepool::Internal;
using namespace TestSupport;
using LocalGitLab::Fault;
using LocalGitLab::Route;

class tst_Repository : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void readinessAndRestart();
    void failedListingKeepsTheList();
    void selection_data();
    void selection();
    void restartReleasesWaitingChains();
    void downloadsTwentyExamplesInParallel();
};

void tst_Repository::initTestCase()
{
    ApiClient::threadPool()->setMaxThreadCount(
        qMax(8, ApiClient::threadPool()->maxThreadCount()));
}

void tst_Repository::cleanup()
{
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
}

static QStringList paths(const Repository::Examples &examples)
{
    QStringList result;
    for (const Repository::ExamplePtr &example : examples)
        result.append(example->json().value("path").toString());
    return result;
}

void tst_Repository::readinessAndRestart()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");

    Repository repository(fixture.repositoryUrl(), nullptr);
    QCOMPARE(repository.url(), fixture.repositoryUrl());
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(!repository.isReady());
    QVERIFY(repository.examples().isEmpty());

    QVERIFY(fetched.wait(5000));
    QCOMPARE(fetched.count(), 1);
    QVERIFY(repository.isReady());
    const Repository::Examples first = repository.examples();
    QCOMPARE(paths(first), (QStringList{"alpha", "beta"}));

    fixture.addProject("gamma");
    repository.restart();
    QVERIFY(!repository.isReady());
    QCOMPARE(repository.examples(), first);

    QVERIFY(fetched.wait(5000));
    QCOMPARE(fetched.count(), 2);
    QVERIFY(repository.isReady());
    QCOMPARE(paths(repository.examples()), (QStringList{"alpha", "beta", "gamma"}));
}

void tst_Repository::failedListingKeepsTheList()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    const Repository::Examples listed = repository.examples();

    fixture.server.addFault(Route::Group, Fault::httpStatus(500));
    repository.restart();
    QTRY_VERIFY(repository.isReady());
    QTRY_COMPARE(fixture.server.requestCount(Route::Group), 2);
    QTest::qWait(300);
    QCOMPARE(fetched.count(), 1);
    QCOMPARE(repository.examples(), listed);
}

void tst_Repository::selection_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("downloaded"); // "alpha" is the first record with that path

    QTest::newRow("nothing selected") << QStringList() << QStringList();
    QTest::newRow("no match") << QStringList{"delta"} << QStringList();
    QTest::newRow("case-sensitive") << QStringList{"ALPHA"} << QStringList();
    QTest::newRow("a path held twice selects the first record")
        << QStringList{"alpha"} << QStringList{"alpha"};
    QTest::newRow("two paths") << QStringList{"alpha", "beta"} << QStringList{"alpha", "beta"};
    QTest::newRow("unknown paths are skipped")
        << QStringList{"beta", "delta"} << QStringList{"beta"};
}

void tst_Repository::selection()
{
    QFETCH(QStringList, selected);
    QFETCH(QStringList, downloaded);

    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    const qint64 twin = fixture.addProject("twin");
    fixture.server.setProjectField(twin, "path", "alpha");

    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    QCOMPARE(paths(repository.examples()).count("alpha"), 2);
    QHash<QString, qint64> ids; // the first record of each path
    for (const Repository::ExamplePtr &example : repository.examples()) {
        const QString path = example->json().value("path").toString();
        if (!ids.contains(path))
            ids.insert(path, qint64(example->json().value("id").toDouble()));
    }
    fixture.server.clearRequestLog();

    QSignalSpy relayed(&repository, &Repository::downloaded);
    repository.download(QSet<QString>(selected.cbegin(), selected.cend()));
    QTRY_COMPARE(relayed.count(), downloaded.size());
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QTest::qWait(200);
    QCOMPARE(relayed.count(), downloaded.size());

    QStringList expectedRequests;
    for (const QString &path : downloaded)
        expectedRequests.append(
            QStringLiteral("GET /api/v4/projects/%1/repository/archive.tar.gz").arg(ids[path]));
    QStringList archiveRequests = fixture.server.requestLog().filter("/repository/archive");
    archiveRequests.sort();
    expectedRequests.sort();
    QCOMPARE(archiveRequests, expectedRequests);

    QStringList relayedPaths;
    for (const QList<QVariant> &arguments : relayed)
        relayedPaths.append(arguments.at(0).value<Repository::ExamplePtr>()->json()
                                .value("path").toString());
    relayedPaths.sort();
    QCOMPARE(relayedPaths, downloaded);
}

void tst_Repository::restartReleasesWaitingChains()
{
    ServerFixture fixture;
    for (const char *path : {"alpha", "beta", "gamma"})
        fixture.addProject(path);
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());

    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    QSignalSpy relayed(&repository, &Repository::downloaded);
    repository.download({"alpha", "beta", "gamma"});
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 3);

    repository.restart();
    QVERIFY(ApiClient::threadPool()->waitForDone(1000));
    QTRY_VERIFY(repository.isReady()); // the new client works
    QCOMPARE(relayed.count(), 0);
}

static QByteArray httpGet(const QUrl &url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000) || reply->error() != QNetworkReply::NoError)
        return {};
    return reply->readAll();
}

void tst_Repository::downloadsTwentyExamplesInParallel()
{
    ServerFixture fixture;
    QHash<QString, QColor> colors;
    for (int i = 0; i < 20; ++i) {
        const QString path = QStringLiteral("example-%1").arg(i);
        colors.insert(path, QColor::fromHsv(i * 18, 255, 200));
        // Avatars large enough that Qt may spread their scaling over its global pool, while
        // more chains than their pool has threads are waiting.
        fixture.addProject(path, QStringLiteral("Example %1").arg(i), true, colors[path], 300);
    }
    // Each archive takes a moment, so that the chains overlap.
    fixture.server.addFault(Route::Archive, Fault::delay(250));

    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    QCOMPARE(repository.examples().size(), 20);

    QSignalSpy relayed(&repository, &Repository::downloaded);
    QElapsedTimer timer;
    timer.start();
    repository.download(QSet<QString>(colors.keyBegin(), colors.keyEnd()));
    QTRY_COMPARE_WITH_TIMEOUT(relayed.count(), 20, 30000);
    const qint64 elapsed = timer.elapsed();
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    // One after the other they would take at least 5 s.
    QVERIFY2(elapsed < 4000, qPrintable(QString::number(elapsed)));

    QSet<Example *> delivered;
    for (const QList<QVariant> &arguments : relayed)
        delivered.insert(arguments.at(0).value<Repository::ExamplePtr>().data());
    QCOMPARE(delivered.size(), 20);

    fixture.server.clearFaults();
    for (const Repository::ExamplePtr &example : repository.examples()) {
        const QString path = example->json().value("path").toString();
        QVERIFY(delivered.contains(example.data()));
        const qint64 id = qint64(example->json().value("id").toDouble());
        const QByteArray archive = httpGet(QUrl(
            fixture.baseUrl.toString()
            + QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(id)));
        QVERIFY(archive.startsWith("\x1f\x8b"));
        QCOMPARE(example->data(), archive);
        const QImage image = example->image();
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.pixel(64, 64), colors[path].rgb());
    }
}

QTEST_MAIN(tst_Repository)

#include "tst_repository.moc"
