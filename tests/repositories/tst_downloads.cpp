#include "testsupport.h"

using namespace TestSupport;

class tst_Downloads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ApiClient::setArchiveSizeLimit(0); }
    void singleExample_data();
    void singleExample();
    // Last: it tells the application it is about to quit.
    void waitingChainsEndWithTheirClientAndAtQuit();
};

// One file of 1 MiB of which only the first block is stored; pax names it sparse.
static QByteArray sparseArchive()
{
    QByteArray out(64 * 1024, '\0');
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_memory(writer, out.data(), size_t(out.size()), &used);
    archive_entry *entry = archive_entry_new();
    archive_entry_copy_pathname(entry, "alpha-main/holes");
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_size(entry, 1 << 20);
    archive_entry_sparse_add_entry(entry, 0, 512);
    archive_write_header(writer, entry);
    archive_entry_free(entry);
    archive_write_free(writer);
    return out.left(qsizetype(used));
}

void tst_Downloads::singleExample_data()
{
    QTest::addColumn<Route>("route"); // the route that gets the fault
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("avatarUrl"); // empty: the server's own
    QTest::addColumn<QStringList>("events"); // %AVATAR%: the project's avatar URL

    // An empty file too: entries without data are no end of the archive.
    const QByteArray archive = TestArchive::tarGz(
        {TestArchive::TarEntry::file("alpha-main/data.bin", TestArchive::noise(500)),
         TestArchive::TarEntry::file("alpha-main/empty", {})});
    const QString start = "status:Downloading example: Alpha";
    const QStringList delivered{start, "downloaded:alpha", "status:"};
    const auto failed = [&start](const QString &error) {
        return QStringList{start, "status:Network error: " + error};
    };
    const auto imageFailed = [&](const QString &error, const QString &url) {
        return failed(error)
               + QStringList{"downloaded:alpha", "status:Unable to download image: " + url};
    };

    QTest::newRow("archive and image") << Route::Any << Fault() << archive << "" << delivered;
    QTest::newRow("archive 404") << Route::Archive << Fault::httpStatus(404) << archive << ""
                                 << failed("HTTP Not Found");
    // Over a second for its whole body, over a limit of 100 bytes.
    QTest::newRow("archive over the size limit, trickling")
        << Route::Archive << Fault::slowBody(500) << archive << ""
        << failed("The reply exceeds the size limit of 100 bytes");
    QTest::newRow("sparse archive") << Route::Any << Fault() << sparseArchive() << ""
                                    << QStringList{start, "status:The archive holds sparse files"};
    QTest::newRow("file avatar")
        << Route::Any << Fault() << archive << "file:///dev/zero"
        << imageFailed("Protocol \"file\" is not supported for images", "file:///dev/zero");
    QTest::newRow("avatar 404") << Route::Avatar << Fault::httpStatus(404) << archive << ""
                                << imageFailed("HTTP Not Found", "%AVATAR%");
}

void tst_Downloads::singleExample()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QByteArray, archive);
    QFETCH(QString, avatarUrl);
    QFETCH(QStringList, events);

    ServerFixture fixture;
    const qint64 id = fixture.addProject("alpha", "Alpha");
    fixture.server.setArchiveOverride(id, archive);
    fixture.server.addFault(route, fault);
    if (!avatarUrl.isEmpty())
        fixture.server.setProjectField(id, "avatar_url", avatarUrl);
    if (fault.kind == Fault::SlowBody)
        ApiClient::setArchiveSizeLimit(100);

    ApiClient client(fixture.repositoryUrl(), nullptr);
    QTemporaryDir downloads;
    client.setDownloadFolder(downloads.path());
    const Repository::ExamplePtr example = fixture.listed(client).value("alpha");
    QVERIFY(example);

    ClientEvents recorded(&client);
    client.download({example});
    events.replaceInStrings("%AVATAR%", fixture.server.avatarUrl(id).toString());
    QTRY_COMPARE_WITH_TIMEOUT(recorded.events, events, 5000);
    // The chain has ended, and nothing follows.
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QTest::qWait(300);
    QCOMPARE(recorded.events, events);

    // A stored archive is the download folder's only file; a failed download leaves none.
    const bool stored = events.contains("downloaded:alpha");
    const QString file = example->takeArchiveFile();
    QCOMPARE(fileContent(file), stored ? archive : QByteArray());
    QCOMPARE(QDir(downloads.path()).entryList(QDir::Files | QDir::Hidden),
             stored ? QStringList{QFileInfo(file).fileName()} : QStringList());
    // Only the server's own avatar shows.
    QCOMPARE(example->image().size(), events.last() == "status:" ? QSize(128, 128) : QSize(0, 0));
}

void tst_Downloads::waitingChainsEndWithTheirClientAndAtQuit()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    fixture.addProject("beta");
    fixture.server.addFault(Route::Archive, Fault::hangBeforeHeaders());
    auto doomed = std::make_unique<ApiClient>(fixture.repositoryUrl(), nullptr);
    doomed->download(fixture.listed(*doomed).values());
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 2);
    // Qt scales and converts images on its global pool and waits for that work on the GUI
    // thread: chains waiting there would make the GUI thread wait for the network.
    QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);

    // A client that goes releases its chains and drops its replies: this late one finds nobody.
    fixture.server.addFault(Route::Projects, Fault::delay(200), 1);
    doomed->fetch();
    QTRY_COMPARE(fixture.server.requestCount(Route::Projects), 2);
    doomed.reset();
    QVERIFY(ApiClient::threadPool()->waitForDone(1000));

    // So does the application that quits.
    ApiClient client(fixture.repositoryUrl(), nullptr);
    const auto examples = fixture.listed(client);
    ClientEvents recorded(&client);
    client.download(examples.values());
    QTRY_COMPARE(fixture.server.requestCount(Route::Archive), 4);
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
    QVERIFY(ApiClient::threadPool()->waitForDone(1000));

    // Chains started after that end at once, without a request.
    client.download(examples.values());
    QVERIFY(ApiClient::threadPool()->waitForDone(2000));
    QTest::qWait(300);
    QCOMPARE(fixture.server.requestCount(Route::Archive), 4);
    QStringList statuses = recorded.events; // the two chains start in any order
    statuses.sort();
    QCOMPARE(statuses, (QStringList{"status:Downloading example: alpha",
                                    "status:Downloading example: beta"}));
}

QTEST_MAIN(tst_Downloads)

#include "tst_downloads.moc"
