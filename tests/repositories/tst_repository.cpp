#include "testsupport.h"

#include "repositories/repository.h"

#include <QDeadlineTimer>

using namespace TestSupport;

class tst_Repository : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ApiClient::threadPool()->setMaxThreadCount(8); }
    void listingOfManyPages();
    void downloadsInParallel();
};

static QStringList paths(const Repository::Examples &examples)
{
    QStringList result;
    for (const Repository::ExamplePtr &example : examples)
        result.append(pathOf(example));
    return result;
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
    QSignalSpy failed(&repository, &Repository::checkFailed);
    QVERIFY(fetched.wait(10000));
    QVERIFY(repository.isListed());
    QCOMPARE(paths(repository.examples()), all);
    QCOMPARE(fixture.server.requestCount(Route::Projects), 3);

    fixture.addProject("example-new", {}, false);
    fixture.server.addFault(QRegularExpression("/projects\\?.*\\bpage=2\\b"),
                            Fault::httpStatus(500), 1);
    fixture.server.clearRequestLog();
    repository.restart();
    QVERIFY(!repository.isReady());
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString().section(':', 0, 0), "Network error");
    QTest::qWait(300);
    QCOMPARE(fixture.server.requestCount(Route::Projects), 2); // nothing after the failed page
    QCOMPARE(fetched.count(), 1);
    QVERIFY(!repository.isListed());
    QCOMPARE(paths(repository.examples()), all);

    repository.restart();
    QVERIFY(fetched.wait(10000));
    QCOMPARE(paths(repository.examples()), all + QStringList{"example-new"});
}

// Examples chosen by path download side by side. A path matches exactly, and of two records
// with one path the first is taken.
void tst_Repository::downloadsInParallel()
{
    ServerFixture fixture;
    QHash<QString, QColor> colors;
    QHash<QString, QByteArray> archives;
    for (int i = 0; i < 20; ++i) {
        const QString path = QStringLiteral("example-%1").arg(i);
        colors.insert(path, QColor::fromHsv(i * 18, 255, 200));
        // Avatars large enough that Qt may spread their scaling over its global pool, while
        // more chains than their pool has threads are waiting; wide ones keep their shape.
        const qint64 id = fixture.addProject(path, {}, true, colors[path], {300, 150});
        archives.insert(path, TestArchive::tarGz({TestArchive::TarEntry::file(
                                  path.toUtf8() + "-main/f", TestArchive::noise(64 + i))}));
        fixture.server.setArchiveOverride(id, archives[path]);
    }
    const qint64 twin = fixture.addProject("twin");
    fixture.server.setProjectField(twin, "path", "example-0");
    fixture.server.addFault(Route::Archive, Fault::delay(250)); // so that the chains overlap
    Repository repository(fixture.repositoryUrl(), nullptr);
    QTemporaryDir downloads;
    repository.setDownloadFolder(downloads.path());
    QSignalSpy fetched(&repository, &Repository::fetched);
    QVERIFY(fetched.wait(5000));

    QSignalSpy relayed(&repository, &Repository::downloaded);
    const QDeadlineTimer oneByOne(4000); // one after the other they take at least 5 s
    repository.download(QSet<QString>(colors.keyBegin(), colors.keyEnd())
                        + QSet<QString>{"EXAMPLE-1", "delta"});
    QTRY_COMPARE_WITH_TIMEOUT(relayed.count(), 20, 30000);
    QVERIFY(!oneByOne.hasExpired());
    QVERIFY(ApiClient::threadPool()->waitForDone(5000));
    QCOMPARE(relayed.count(), 20);

    for (const Repository::ExamplePtr &example : repository.examples()) {
        const QString file = example->takeArchiveFile();
        if (example->json().value("id").toInteger() == twin) {
            QVERIFY(file.isEmpty());
            continue;
        }
        // Each its own archive, named after it, in the folder the repository was given.
        QCOMPARE(QFileInfo(file).path(), downloads.path());
        QVERIFY(QFileInfo(file).fileName().startsWith(pathOf(example) + '-'));
        QCOMPARE(fileContent(file), archives[pathOf(example)]);
        QCOMPARE(example->image().size(), QSize(128, 64));
        QCOMPARE(example->image().pixel(64, 32), colors[pathOf(example)].rgb());
    }
}

QTEST_MAIN(tst_Repository)

#include "tst_repository.moc"
