#include "testsupport.h"

using namespace TestSupport;

class tst_ApiClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("zel.tidepool.plugin.api.debug=true"); }
    void lookupAndListing_data();
    void lookupAndListing();
};

// Served with status 200 instead of the server's own answer.
static Fault json(const QByteArray &body)
{
    Fault fault = Fault::httpStatus(200);
    fault.body = body;
    fault.contentType = "application/json";
    return fault;
}

void tst_ApiClient::lookupAndListing_data()
{
    QTest::addColumn<QString>("url"); // %1: the server's host and port; empty: the group "examples"
    QTest::addColumn<Route>("route"); // the route that gets the fault
    QTest::addColumn<Fault>("fault"); // in its body "@G" stands for the id of "examples"
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QStringList>("examples"); // paths fetched; none: the lookup or listing failed
    QTest::addColumn<QString>("logLine"); // %1 as above

    const QStringList all{"alpha", "beta", "gamma"};
    const QStringList searching{"Searching examples", ""};
    const QStringList fetching = searching + QStringList{"API client is ready", "Fetch examples"};
    const QStringList listed = fetching + QStringList{""};
    const QStringList noId =
        searching + QStringList{"Search error: request return wrong data - no id field"};

    QTest::newRow("found among substring hits")
        << QString() << Route::Any << Fault() << listed << all
        << "Search request return more than 1 object - taking the one with full_path: "
           "\"examples\"";
    QTest::newRow("nested group, encoded hash, one slash trimmed each side")
        << "http://%1//parent/a%23b//" << Route::Any << Fault() << noId << QStringList()
        << "Requesting: \"http://%1/api/v4/groups?search=%22/parent/a%23b/%22\"";
    QTest::newRow("root path") << "http://%1/" << Route::Any << Fault() << QStringList()
                               << QStringList()
                               << "Provided repository url has no group: \"http://%1/\"";
    QTest::newRow("not a web scheme")
        << "ftp://%1/examples" << Route::Any << Fault() << QStringList() << QStringList()
        << "Provided repository url is not valid: \"ftp://%1/examples\"";
    QTest::newRow("empty array")
        << QString() << Route::Search << json("[]") << noId << QStringList() << QString();
    QTest::newRow("two groups, none by path: first taken")
        << QString() << Route::Search
        << json(R"([{"id": @G, "full_path": "demo"}, {"id": 999, "full_path": "other"}])")
        << listed << all << "Search request return more than 1 object - taking first";
    QTest::newRow("id 1.5")
        << QString() << Route::Search << json(R"([{"id": 1.5, "full_path": "examples"}])")
        << noId << QStringList() << QString();
    QTest::newRow("search invalid JSON")
        << QString() << Route::Search << Fault::invalidJson()
        << searching + QStringList{"Search error: request return null object"} << QStringList()
        << "Json parse error:  \"unterminated object\"";
    QTest::newRow("listing page is no list")
        << QString() << Route::Projects << json(R"({"id": @G, "name": "examples"})")
        << fetching + QStringList{"", "Fetch error: request return wrong data - no projects field"}
        << QStringList() << QString();
    QTest::newRow("listing drops invalid records")
        << QString() << Route::Projects
        << json(R"([{"id": 1, "name": "One", "path": "one", "web_url": "http://x/1"},
                    {"id": 2, "name": "Two", "path": "two"}, "not an object",
                    {"id": 3, "name": "", "path": "three", "web_url": "http://x/3"},
                    {"id": 4, "name": "Up", "path": "..", "web_url": "http://x/4"},
                    {"id": "5", "name": "Five", "path": "five", "web_url": "http://x/5"},
                    {"id": 0, "name": "Zero", "path": "zero", "web_url": "http://x/0"},
                    {"id": 7, "name": "Dots", "path": "a.b", "web_url": "http://x/7"},
                    {"id": 1, "name": "One", "path": "one", "web_url": "http://x/1"}])")
        << listed << QStringList{"one", "a.b"} << QString();
    QTest::newRow("listing answers HTML")
        << QString() << Route::Projects << Fault::html()
        << fetching + QStringList{"", "Fetch error: request return null object"} << QStringList()
        << "Json parse error:  \"illegal value\"";
}

void tst_ApiClient::lookupAndListing()
{
    QFETCH(QString, url);
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QStringList, statuses);
    QFETCH(QStringList, examples);
    QFETCH(QString, logLine);

    ServerFixture fixture;
    // Searching "examples" also finds this group, and GitLab lists it first (by name).
    LocalGitLab::ProjectData old;
    old.path = "old";
    fixture.server.addProject(fixture.server.addGroup("examples-archive", "Archived examples"),
                              old);
    for (const char *path : {"alpha", "beta", "gamma"})
        fixture.addProject(path);
    fault.body.replace("@G", QByteArray::number(fixture.groupId));
    if (fault.kind != Fault::None)
        fixture.server.addFault(route, fault);

    const QString hostAndPort = QStringLiteral("127.0.0.1:%1").arg(fixture.baseUrl.port());
    if (!logLine.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine.replace("%1", hostAndPort)));
    ApiClient client(url.isEmpty() ? fixture.repositoryUrl() : QUrl(url.replace("%1", hostAndPort)),
                     nullptr);
    ClientEvents events(&client);
    QSignalSpy fetched(&client, &ApiClient::fetched);
    QSignalSpy failed(&client, &ApiClient::checkFailed);
    connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);

    const QStringList expected =
        QStringList(statuses).replaceInStrings(QRegularExpression("^"), "status:");
    QTRY_COMPARE(events.events, expected);
    QTest::qWait(300); // nothing more follows
    QCOMPARE(events.events, expected);
    // Every way the lookup or the listing can fail says so once; the owner ends its check on it.
    QCOMPARE(failed.count(), examples.isEmpty() ? 1 : 0);
    QCOMPARE(fetched.count(), examples.isEmpty() ? 0 : 1);
    QStringList paths;
    for (const auto &example : fetched.value(0).value(0).value<Repository::Examples>())
        paths.append(pathOf(example));
    QCOMPARE(paths, examples);

    const bool expectReady = statuses.contains("API client is ready");
    QCOMPARE(client.isReady(), expectReady);
    if (!expectReady) { // without a group there is nothing to list
        client.fetch();
        QCOMPARE(events.events.last(),
                 "status:Repository error: group id not found - unable to fetch examples");
    }
    // A listing asks for the group that was chosen, and only once.
    const QStringList requests = fixture.server.requestLog();
    QCOMPARE(requests.size(), expectReady ? 2 : statuses.isEmpty() ? 0 : 1);
    if (expectReady)
        QCOMPARE(requests.at(1), QStringLiteral("GET /api/v4/groups/%1/projects?order_by=id&sort="
                                                "asc&per_page=100").arg(fixture.groupId));
}

QTEST_MAIN(tst_ApiClient)

#include "tst_apiclient.moc"
