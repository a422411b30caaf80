#include "testsupport.h"

#include "repositories/repository.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace TestSupport;

class tst_Repository : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ApiClient::threadPool()->setMaxThreadCount(8); }
    void cleanup() { QVERIFY(ApiClient::threadPool()->waitForDone(5000)); }
    void readinessAndRestart();
    void listingOfManyPages();
    void selection_data();
    void selection();
    void restartReleasesWaitingChains();
    void downloadsTwentyExamplesInParallel();
};

static QStringList paths(const Repository::Examples &examples)
{
    QStringList result;
    for (const Repository::ExamplePtr &example : examples)
        result.append(pathOf(example));
    return result;
}

static QStringList relayedPaths(const QSignalSpy &relayed)
{
    QStringList result;
    for (const QList<QVariant> &arguments : relayed)
        result.append(pathOf(arguments.at(0).value<Repository::ExamplePtr>()));
    result.sort();
    return result;
}

void tst_Repository::readinessAndRestart()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(!repository.isReady());
    QVERIFY(repository.examples().isEmpty());

    QVERIFY(fetched.wait(5000));
    QVERIFY(repository.isReady());
    const Repository::Examples first = repository.examples();
    QCOMPARE(paths(first), (QStringList{"alpha", "beta"}));

    fixture.addProject("gamma");
    repository.restart();
    QVERIFY(!repository.isReady());
    QCOMPARE(repository.examples(), first); // kept until the new list is in
    QVERIFY(fetched.wait(5000));
    QCOMPARE(fetched.count(), 2);
    QVERIFY(repository.isReady());
    QCOMPARE(paths(repository.examples()), (QStringList{"alpha", "beta", "gamma"}));
}

// A group of more projects than a page holds is listed whole, or not at all: a page that fails
// keeps the list before it, and the repository counts as not listed.
void tst_Repository::listingOfManyPages()
{
    ServerFixture fixture;
    QStringList all;
    for (int i = 0; i < 250; ++i) {
        all.append(QStringLiteral("example-%1").arg(i, 3, 10, QLatin1Char('0')));
        fixture.addProject(all.last(), {}, false);
    }
    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(10000));
    QVERIFY(repository.isListed());
    QCOMPARE(paths(repository.examples()), all);
    QCOMPARE(fixture.server.requestCount(Route::Projects), 3);

    fixture.addProject("example-new", {}, false);
    fixture.server.addFault(QRegularExpression("/projects\\?.*\\bpage=2\\b"),
                            Fault::httpStatus(500), 1);
    fixture.server.clearRequestLog();
    repository.restart();
    QVERIFY(!repository.isListed());
    QTRY_COMPARE(fixture.server.requestCount(Route::Projects), 2);
    QTest::qWait(300);
    QCOMPARE(fixture.server.requestCount(Route::Projects), 2); // nothing after the failed page
    QCOMPARE(fetched.count(), 1);
    QVERIFY(!repository.isListed());
    QCOMPARE(paths(repository.examples()), all);

    repository.restart();
    QVERIFY(fetched.wait(10000));
    QCOMPARE(paths(repository.examples()), all + QStringList{"example-new"});
}

void tst_Repository::selection_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("downloaded"); // "alpha" is the first record with that path

    QTest::newRow("nothing selected") << QStringList() << QStringList();
    QTest::newRow("case-sensitive") << QStringList{"ALPHA"} << QStringList();
    QTest::newRow("a path held twice selects the first record")
        << QStringList{"alpha"} << QStringList{"alpha"};
    QTest::newRow("unknown paths are skipped")
        << QStringList{"beta", "alpha", "delta"} << QStringList{"alpha", "beta"};
}

void tst_Repository::selection()
{
    QFETCH(QStringList, selected);
    QFETCH(QStringList, downloaded);

    ServerFixture fixture;
    const QHash<QString, qint64> ids{{"alpha", fixture.addProject("alpha")},
                                     {"beta", fixture.addProject("beta")}};
    fixture.server.setProjectField(fixture.addProject("twin"), "path", "alpha");
    Repository repository(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    QCOMPARE(paths(repository.examples()).count("alpha"), 2);
    fixture.server.clearRequestLog();

    QSignalSpy relayed(&repository, &Repository::downloaded);
    repository.download(QSet<QString>(selected.cbegin(), selected.cend()));
    QTRY_COMPARE(relayed.count(), downloaded.size());
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QTest::qWait(200);
    QCOMPARE(relayedPaths(relayed), downloaded);

    QStringList expectedRequests;
    for (const QString &path : downloaded)
        expectedRequests.append(
            QStringLiteral("GET /api/v4/projects/%1/repository/archive.tar.gz").arg(ids[path]));
    QStringList requests = fixture.server.requestLog().filter("/repository/archive");
    requests.sort();
    expectedRequests.sort();
    QCOMPARE(requests, expectedRequests);
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

void tst_Repository::downloadsTwentyExamplesInParallel()
{
    ServerFixture fixture;
    QHash<QString, QColor> colors;
    QHash<QString, QByteArray> archives;
    for (int i = 0; i < 20; ++i) {
        const QString path = QStringLiteral("example-%1").arg(i);
        colors.insert(path, QColor::fromHsv(i * 18, 255, 200));
        // Avatars large enough that Qt may spread their scaling over its global pool, while
        // more chains than their pool has threads are waiting.
        const qint64 id = fixture.addProject(path, {}, true, colors[path], 300);
        archives.insert(path, incompressibleArchive(path.toUtf8() + "-main/f", 64 + i));
        fixture.server.setArchiveOverride(id, archives[path]);
    }
    fixture.server.addFault(Route::Archive, Fault::delay(250)); // so that the chains overlap
    Repository repository(fixture.repositoryUrl(), nullptr);
    QTemporaryDir downloads;
    repository.setDownloadFolder(downloads.path());
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));
    QCOMPARE(repository.examples().size(), 20);

    QSignalSpy relayed(&repository, &Repository::downloaded);
    QElapsedTimer timer;
    timer.start();
    repository.download(QSet<QString>(colors.keyBegin(), colors.keyEnd()));
    QTRY_COMPARE_WITH_TIMEOUT(relayed.count(), 20, 30000);
    // One after the other they would take at least 5 s.
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QStringList all = colors.keys();
    all.sort();
    QCOMPARE(relayedPaths(relayed), all);

    for (const Repository::ExamplePtr &example : repository.examples()) {
        // Each its own archive, named after it, in the folder the repository was given.
        const QString file = example->takeArchiveFile();
        QCOMPARE(QFileInfo(file).path(), downloads.path());
        QVERIFY(QFileInfo(file).fileName().startsWith(pathOf(example) + '-'));
        QCOMPARE(fileContent(file), archives[pathOf(example)]);
        QCOMPARE(example->image().size(), QSize(128, 128));
        QCOMPARE(example->image().pixel(64, 64), colors[pathOf(example)].rgb());
    }
}

QTEST_MAIN(tst_Repository)

#include "tst_repository.moc"
