#include "testsupport.h"

using namespace TestSupport;

Q_DECLARE_METATYPE(LocalGitLab::Fault)
Q_DECLARE_METATYPE(LocalGitLab::Route)

class tst_ApiClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("zel.tidepool.plugin.api.debug=true"); }
    void urlDerivation_data();
    void urlDerivation();
    void lookupAndListing_data();
    void lookupAndListing();
    void deletedClientDropsItsReplies();
};

static constexpr int quietMs = 300;

void tst_ApiClient::urlDerivation_data()
{
    QTest::addColumn<QString>("url");           // %1: the server's host and port
    QTest::addColumn<QString>("searchRequest"); // as the server sees it; empty: no request
    QTest::addColumn<QString>("logLine");       // %1 as above

    const QString search = QStringLiteral("GET /api/v4/groups?search=%1");
    QTest::newRow("scheme host and port kept")
        << "http://%1/examples" << search.arg("%22examples%22")
        << "Requesting: \"http://%1/api/v4/groups?search=%22examples%22\"";
    QTest::newRow("nested group")
        << "http://%1/parent/child" << search.arg("%22parent/child%22") << QString();
    QTest::newRow("one slash trimmed each side")
        << "http://%1//examples//" << search.arg("%22/examples/%22") << QString();
    QTest::newRow("encoded hash in group") << "http://%1/a%23b" << search.arg("%22a%23b%22")
                                           << QString();
    QTest::newRow("empty path") << "http://%1" << QString()
                                << "Provided repository url has no group: \"http://%1\"";
    QTest::newRow("root path") << "http://%1/" << QString()
                               << "Provided repository url has no group: \"http://%1/\"";
    // Qt cannot parse a host with a port but no scheme at all.
    QTest::newRow("no scheme") << "%1/examples" << QString()
                               << "Provided repository url is not valid: \"\"";
    QTest::newRow("not a web scheme")
        << "ftp://%1/examples" << QString()
        << "Provided repository url is not valid: \"ftp://%1/examples\"";
}

void tst_ApiClient::urlDerivation()
{
    QFETCH(QString, url);
    QFETCH(QString, searchRequest);
    QFETCH(QString, logLine);

    ServerFixture fixture;
    const QString hostAndPort = QStringLiteral("127.0.0.1:%1").arg(fixture.baseUrl.port());
    url.replace("%1", hostAndPort);
    logLine.replace("%1", hostAndPort);
    // Expected log lines must all be seen by the end of the case.
    if (!logLine.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
    ApiClient client{QUrl(url), nullptr};
    QSignalSpy statuses(&client, &ApiClient::statusChanged);

    if (searchRequest.isEmpty()) {
        QTest::qWait(quietMs);
        QCOMPARE(fixture.server.requestCount(), 0);
        QCOMPARE(statuses.count(), 0);
        QVERIFY(!client.isReady());
        return;
    }
    QTRY_COMPARE(fixture.server.requestLog().value(0), searchRequest);
    QCOMPARE(statuses.value(0).value(0).toString(), "Searching examples");
}

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
    // In bodies "@G" stands for the id of the group "examples", "@O" for "examples-archive".
    QTest::addColumn<Route>("route"); // the route that gets the fault
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QStringList>("statuses");
    // Paths of the fetched list; {"-"}: none emitted, and the lookup or listing failed.
    QTest::addColumn<QStringList>("examples");
    QTest::addColumn<QString>("logLine");

    const QStringList none{"-"};
    const QStringList all{"alpha", "beta", "gamma"};
    const QStringList searching{"Searching examples", ""};
    const QStringList fetching = searching + QStringList{"API client is ready", "Fetch examples"};
    const QStringList listed = fetching + QStringList{""};
    const QString noId = "Search error: request return wrong data - no id field";

    QTest::newRow("found among substring hits")
        << Route::Any << Fault() << listed << all
        << "Search request return more than 1 object - taking the one with full_path: "
           "\"examples\"";
    QTest::newRow("empty array") << Route::Search << json("[]")
                                 << searching + QStringList{noId} << none << QString();
    QTest::newRow("two groups, none by path: first taken")
        << Route::Search
        << json(R"([{"id": @G, "full_path": "demo"}, {"id": @O, "full_path": "other"}])")
        << listed << all << "Search request return more than 1 object - taking first";
    QTest::newRow("wrong group first: full_path wins, case-insensitively")
        << Route::Search
        << json(R"([{"id": @O, "full_path": "examples-archive"},
                    {"id": @G, "full_path": "Examples"}])")
        << listed << all << QString();
    // A group without a usable id ends the lookup as failed, like one without an id.
    QTest::newRow("id 0") << Route::Search << json(R"([{"id": 0, "full_path": "examples"}])")
                          << searching + QStringList{noId} << none << QString();
    QTest::newRow("id 1.5") << Route::Search << json(R"([{"id": 1.5, "full_path": "examples"}])")
                            << searching + QStringList{noId} << none << QString();
    QTest::newRow("search 404 with a JSON body")
        << Route::Search << Fault::httpStatus(404)
        << QStringList{"Searching examples", "Network error: HTTP Not Found"} << none << QString();
    QTest::newRow("search invalid JSON")
        << Route::Search << Fault::invalidJson()
        << searching + QStringList{"Search error: request return null object"} << none
        << "Json parse error:  \"unterminated object\"";
    QTest::newRow("listing page is no list")
        << Route::Projects << json(R"({"id": @G, "name": "examples"})")
        << fetching + QStringList{"", "Fetch error: request return wrong data - no projects field"}
        << none << QString();
    QTest::newRow("listing drops invalid records")
        << Route::Projects
        << json(R"([{"id": 1, "name": "One", "path": "one", "web_url": "http://x/1"},
                    {"id": 2, "name": "Two", "path": "two"}, "not an object",
                    {"id": 4, "name": "Up", "path": "..", "web_url": "http://x/4"},
                    {"id": 1, "name": "One", "path": "one", "web_url": "http://x/1"}])")
        << listed << QStringList{"one"} << QString();
    QTest::newRow("listing 404") << Route::Projects << Fault::httpStatus(404)
                                 << fetching + QStringList{"Network error: HTTP Not Found"}
                                 << none << QString();
    QTest::newRow("listing answers HTML")
        << Route::Projects << Fault::html()
        << fetching + QStringList{"", "Fetch error: request return null object"} << none
        << "Json parse error:  \"illegal value\"";
}

void tst_ApiClient::lookupAndListing()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QStringList, statuses);
    QFETCH(QStringList, examples);
    QFETCH(QString, logLine);

    ServerFixture fixture;
    // Searching "examples" also finds this group, and GitLab lists it first (by name).
    const qint64 otherId = fixture.server.addGroup("examples-archive", "Archived examples");
    LocalGitLab::ProjectData old;
    old.path = "old";
    fixture.server.addProject(otherId, old);
    for (const char *path : {"alpha", "beta", "gamma"})
        fixture.addProject(path);
    fault.body.replace("@G", QByteArray::number(fixture.groupId));
    fault.body.replace("@O", QByteArray::number(otherId));
    if (fault.kind != Fault::None)
        fixture.server.addFault(route, fault);

    // Every status but the empty one and network errors is logged.
    for (const QString &status : statuses) {
        if (!status.isEmpty() && !status.startsWith("Network error"))
            QTest::ignoreMessage(QtDebugMsg, qPrintable("Status: \"" + status + '"'));
    }
    if (!logLine.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
    ApiClient client(fixture.repositoryUrl(), nullptr);
    ClientEvents events(&client);
    QSignalSpy ready(&client, &ApiClient::ready);
    QSignalSpy fetched(&client, &ApiClient::fetched);
    QSignalSpy failed(&client, &ApiClient::checkFailed);
    connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);

    QTRY_COMPARE(events.statuses(), statuses);
    QTest::qWait(quietMs); // nothing more follows
    QCOMPARE(events.statuses(), statuses);
    // Every way the lookup or the listing can fail says so once; the owner ends its check on it.
    QCOMPARE(failed.count(), examples == QStringList{"-"} ? 1 : 0);

    const bool expectReady = statuses.contains("API client is ready");
    QCOMPARE(client.isReady(), expectReady);
    QCOMPARE(ready.count(), expectReady ? 1 : 0);
    if (examples == QStringList{"-"}) {
        QCOMPARE(fetched.count(), 0);
    } else {
        QCOMPARE(fetched.count(), 1);
        QStringList paths;
        for (const Repository::ExamplePtr &example :
             fetched.at(0).at(0).value<Repository::Examples>()) {
            QVERIFY(example->isValid());
            paths.append(pathOf(example));
        }
        QCOMPARE(paths, examples);
    }
    // A listing asks for the group that was chosen, and only once.
    if (!expectReady) { // without a group there is nothing to list
        client.fetch();
        QCOMPARE(events.statuses().last(),
                 "Repository error: group id not found - unable to fetch examples");
    }
    const QStringList requests = fixture.server.requestLog();
    QCOMPARE(requests.size(), expectReady ? 2 : 1);
    if (expectReady)
        QCOMPARE(requests.at(1), QStringLiteral("GET /api/v4/groups/%1/projects?order_by=id&sort=asc&per_page=100").arg(fixture.groupId));
}

void tst_ApiClient::deletedClientDropsItsReplies()
{
    ServerFixture fixture;
    fixture.server.addFault(Route::Search, Fault::delay(200));
    auto client = new ApiClient(fixture.repositoryUrl(), nullptr);
    QSignalSpy statuses(client, &ApiClient::statusChanged);
    QTRY_COMPARE(fixture.server.requestCount(Route::Search), 1);
    delete client;
    // The delayed answer arrives with nobody left to take it; nothing may touch the client.
    QTest::qWait(400);
    QCOMPARE(statuses.count(), 1);
}

QTEST_MAIN(tst_ApiClient)

#include "tst_apiclient.moc"
