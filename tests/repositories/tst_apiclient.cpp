#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using namespace Tidepool::Internal;
using namespace TestSupport;
using LocalGitLab::Fault;
using LocalGitLab::Route;

Q_DECLARE_METATYPE(LocalGitLab::Fault)

class tst_ApiClient : public QObject
{
    Q_OBJECT

private slots:
    void urlDerivation_data();
    void urlDerivation();
    void lookupAndListing_data();
    void lookupAndListing();
    void fetchWithoutGroupId();
    void fetchAgainListsAgain();
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
    QTest::newRow("https kept")
        << "https://%1/examples" << QString("-")
        << "Requesting: \"https://%1/api/v4/groups?search=%22examples%22\"";
    QTest::newRow("nested group")
        << "http://%1/parent/child" << search.arg("%22parent/child%22") << QString();
    QTest::newRow("trailing slash") << "http://%1/examples/" << search.arg("%22examples%22")
                                    << QString();
    QTest::newRow("one slash trimmed each side")
        << "http://%1//examples//" << search.arg("%22/examples/%22") << QString();
    QTest::newRow("encoded group") << "http://%1/my%20group" << search.arg("%22my%20group%22")
                                   << QString();
    QTest::newRow("encoded hash in group") << "http://%1/a%23b" << search.arg("%22a%23b%22")
                                           << QString();
    QTest::newRow("query and fragment dropped")
        << "http://%1/examples?private_token=secret#top" << search.arg("%22examples%22")
        << QString();
    QTest::newRow("empty path") << "http://%1" << QString()
                                << "Provided repository url has no group: \"http://%1\"";
    QTest::newRow("root path") << "http://%1/" << QString()
                               << "Provided repository url has no group: \"http://%1/\"";
    // Qt cannot parse a host with a port but no scheme at all.
    QTest::newRow("no scheme") << "%1/examples" << QString()
                               << "Provided repository url is not valid: \"\"";
    QTest::newRow("host name taken for a scheme")
        << "localhost:8080/examples" << QString()
        << "Provided repository url is not valid: \"localhost:8080/examples\"";
    QTest::newRow("not a web scheme")
        << "ftp://%1/examples" << QString()
        << "Provided repository url is not valid: \"ftp://%1/examples\"";
    QTest::newRow("host name without scheme")
        << "localhost/examples" << QString()
        << "Provided repository url is not valid: \"localhost/examples\"";
    QTest::newRow("local file") << "file:///tmp/examples" << QString()
                                << "Provided repository url is not valid: \"file:///tmp/examples\"";
}

void tst_ApiClient::urlDerivation()
{
    QFETCH(QString, url);
    QFETCH(QString, searchRequest);
    QFETCH(QString, logLine);

    ServerFixture fixture;
    const QString hostAndPort = QStringLiteral("127.0.0.1:%1").arg(fixture.baseUrl.port());
    LogCapture log;

    url.replace("%1", hostAndPort);
    logLine.replace("%1", hostAndPort);
    ApiClient client{QUrl(url), nullptr};
    QSignalSpy statuses(&client, &ApiClient::statusChanged);

    if (searchRequest == "-") { // not our server's protocol: only the request is checked
        QTRY_VERIFY2(log.contains(logLine), qPrintable(log.lines().join('\n')));
        return;
    }
    if (searchRequest.isEmpty()) {
        QTest::qWait(quietMs);
        QCOMPARE(fixture.server.requestCount(), 0);
        QCOMPARE(log.count("Requesting:"), 0);
        QCOMPARE(statuses.count(), 0);
        QVERIFY(!client.isReady());
        QCOMPARE(log.lines(), QStringList{logLine});
        return;
    }

    QTRY_COMPARE(fixture.server.requestLog().value(0), searchRequest);
    QCOMPARE(statuses.value(0).value(0).toString(), "Searching examples");
    if (!logLine.isEmpty())
        QVERIFY2(log.contains(logLine), qPrintable(log.lines().join('\n')));
}

void tst_ApiClient::lookupAndListing_data()
{
    // Bodies: empty for the server's own answer, otherwise served with status 200; "@G" stands
    // for the id of the group "examples", "@O" for the id of "examples-archive".
    QTest::addColumn<QByteArray>("searchBody");
    QTest::addColumn<Fault>("searchFault");
    QTest::addColumn<QByteArray>("listingBody");
    QTest::addColumn<Fault>("listingFault");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<QStringList>("examples"); // paths of the fetched list; {"-"}: none emitted
    QTest::addColumn<QString>("logLine");

    const QStringList none{"-"};
    const QStringList all{"alpha", "beta", "gamma"};
    const QStringList searching{"Searching examples", ""};
    const QStringList listed = searching + QStringList{"API client is ready", "Fetch examples", ""};
    const QString noId = "Search error: request return wrong data - no id field";

    QTest::newRow("found among substring hits")
        << QByteArray() << Fault() << QByteArray() << Fault() << listed << all
        << "Search request return more than 1 object - taking the one with full_path: "
           "\"examples\"";
    QTest::newRow("single object instead of an array")
        << QByteArray(R"({"id": @G, "full_path": "examples"})") << Fault() << QByteArray()
        << Fault() << listed << all << QString();
    QTest::newRow("empty array") << QByteArray("[]") << Fault() << QByteArray() << Fault()
                                 << searching + QStringList{noId} << none << QString();
    QTest::newRow("no id") << QByteArray(R"([{"full_path": "examples"}])") << Fault()
                           << QByteArray() << Fault() << searching + QStringList{noId} << none
                           << QString();
    QTest::newRow("two groups, none by path: first taken")
        << QByteArray(R"([{"id": @G, "full_path": "demo"}, {"id": @O, "full_path": "other"}])")
        << Fault() << QByteArray() << Fault() << listed << all
        << "Search request return more than 1 object - taking first";
    QTest::newRow("wrong group first: full_path wins, case-insensitively")
        << QByteArray(R"([{"id": @O, "full_path": "examples-archive"},
                          {"id": @G, "full_path": "Examples"}])")
        << Fault() << QByteArray() << Fault() << listed << all << QString();
    QTest::newRow("id 0") << QByteArray(R"([{"id": 0, "full_path": "examples"}])") << Fault()
                          << QByteArray() << Fault() << searching << none << QString();
    QTest::newRow("id 1.5") << QByteArray(R"([{"id": 1.5, "full_path": "examples"}])")
                            << Fault() << QByteArray() << Fault() << searching << none
                            << QString();
    QTest::newRow("id as string") << QByteArray(R"([{"id": "@G", "full_path": "examples"}])")
                                  << Fault() << QByteArray() << Fault() << searching << none
                                  << QString();
    QTest::newRow("search 404 with a JSON body")
        << QByteArray() << Fault::httpStatus(404) << QByteArray() << Fault()
        << QStringList{"Searching examples", "Network error: HTTP Not Found"} << none << QString();
    QTest::newRow("search invalid JSON")
        << QByteArray() << Fault::invalidJson() << QByteArray() << Fault()
        << searching + QStringList{"Search error: request return null object"} << none
        << "Json parse error:  \"unterminated object\"";
    QTest::newRow("search answers HTML")
        << QByteArray() << Fault::html() << QByteArray() << Fault()
        << searching + QStringList{"Search error: request return null object"} << none
        << QString();
    QTest::newRow("search connection reset")
        << QByteArray() << Fault::reset() << QByteArray() << Fault()
        << QStringList{"Searching examples", "Network error: Connection closed"} << none
        << QString();

    const QStringList fetching = searching + QStringList{"API client is ready", "Fetch examples"};
    QTest::newRow("listing without projects")
        << QByteArray() << Fault() << QByteArray(R"({"id": @G, "name": "examples"})") << Fault()
        << fetching + QStringList{"", "Fetch error: request return wrong data - no projects field"}
        << none << QString();
    QTest::newRow("listing with empty projects")
        << QByteArray() << Fault() << QByteArray(R"({"id": @G, "projects": []})") << Fault()
        << listed << QStringList() << QString();
    QTest::newRow("listing as an array of two groups")
        << QByteArray() << Fault()
        << QByteArray(R"([{"id": @G, "projects": [{"id": 5, "name": "Five", "path": "five",
                                                   "web_url": "http://x/five"}]},
                          {"id": @O, "projects": []}])")
        << Fault() << listed << QStringList{"five"}
        << "Fetch request return more than 1 object - taking first";
    QTest::newRow("listing drops invalid records")
        << QByteArray() << Fault()
        << QByteArray(R"({"projects": [
               {"id": 1, "name": "One", "path": "one", "web_url": "http://x/one"},
               {"id": 2, "name": "Two", "path": "two"},
               {"id": 0, "name": "Zero", "path": "zero", "web_url": "http://x/zero"},
               {"id": 3, "name": "", "path": "three", "web_url": "http://x/three"},
               {"id": 4, "name": "Up", "path": "..", "web_url": "http://x/up"},
               {"id": 5, "name": "Deep", "path": "a/b", "web_url": "http://x/deep"},
               {"id": 6, "name": "Back", "path": "a\\b", "web_url": "http://x/back"},
               "not an object",
               {"id": 7, "name": "Dots", "path": "cru-albania-ds.gitlab.io",
                "web_url": "http://x/d"}
           ]})")
        << Fault() << listed << QStringList{"one", "cru-albania-ds.gitlab.io"} << QString();
    QTest::newRow("listing over 32 MiB")
        << QByteArray() << Fault()
        << R"({"id": @G, "projects": [], "description": ")" + QByteArray(32 * 1024 * 1024, 'x')
               + R"("})"
        << Fault()
        << fetching
               + QStringList{"Network error: The reply exceeds the size limit of 33554432 bytes"}
        << none << QString();
    QTest::newRow("listing 404")
        << QByteArray() << Fault() << QByteArray() << Fault::httpStatus(404)
        << fetching + QStringList{"Network error: HTTP Not Found"} << none << QString();
    QTest::newRow("listing invalid JSON")
        << QByteArray() << Fault() << QByteArray() << Fault::invalidJson()
        << fetching + QStringList{"", "Fetch error: request return null object"} << none
        << QString();
    QTest::newRow("listing answers HTML")
        << QByteArray() << Fault() << QByteArray() << Fault::html()
        << fetching + QStringList{"", "Fetch error: request return null object"} << none
        << "Json parse error:  \"illegal value\"";
}

static Fault bodyFault(QByteArray body, qint64 groupId, qint64 otherId)
{
    body.replace("@G", QByteArray::number(groupId));
    body.replace("@O", QByteArray::number(otherId));
    Fault fault = Fault::httpStatus(200);
    fault.body = body;
    fault.contentType = "application/json";
    return fault;
}

void tst_ApiClient::lookupAndListing()
{
    QFETCH(QByteArray, searchBody);
    QFETCH(Fault, searchFault);
    QFETCH(QByteArray, listingBody);
    QFETCH(Fault, listingFault);
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

    if (!searchBody.isEmpty())
        fixture.server.addFault(Route::Search, bodyFault(searchBody, fixture.groupId, otherId));
    else if (searchFault.kind != Fault::None)
        fixture.server.addFault(Route::Search, searchFault);
    if (!listingBody.isEmpty())
        fixture.server.addFault(Route::Group, bodyFault(listingBody, fixture.groupId, otherId));
    else if (listingFault.kind != Fault::None)
        fixture.server.addFault(Route::Group, listingFault);

    LogCapture log;
    ApiClient client(fixture.repositoryUrl(), nullptr);
    ClientEvents events(&client);
    QSignalSpy ready(&client, &ApiClient::ready);
    QSignalSpy fetched(&client, &ApiClient::fetched);
    connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);

    QTRY_COMPARE(events.statuses(), statuses);
    QTest::qWait(quietMs); // nothing more follows
    QCOMPARE(events.statuses(), statuses);

    const bool expectReady = statuses.contains("API client is ready");
    QCOMPARE(client.isReady(), expectReady);
    QCOMPARE(ready.count(), expectReady ? 1 : 0);
    if (examples == QStringList{"-"}) {
        QCOMPARE(fetched.count(), 0);
    } else {
        QCOMPARE(fetched.count(), 1);
        QStringList paths;
        const auto list = fetched.at(0).at(0).value<Repository::Examples>();
        for (const Repository::ExamplePtr &example : list) {
            QVERIFY(example->isValid());
            paths.append(example->json().value("path").toString());
        }
        QCOMPARE(paths, examples);
    }
    // A listing, when it happens, asks for the group that was chosen, and only once.
    if (expectReady) {
        const QStringList requests = fixture.server.requestLog();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(1), QStringLiteral("GET /api/v4/groups/%1").arg(fixture.groupId));
    } else {
        QCOMPARE(fixture.server.requestCount(Route::Group), 0);
    }
    if (!logLine.isEmpty())
        QVERIFY2(log.contains(logLine), qPrintable(log.lines().join('\n')));
    // Every status is logged, except the empty one.
    for (const QString &status : statuses) {
        if (!status.isEmpty() && !status.startsWith("Network error"))
            QVERIFY2(log.contains("Status: \"" + status + '"'), qPrintable(status));
    }
}

void tst_ApiClient::fetchWithoutGroupId()
{
    ServerFixture fixture;
    fixture.server.addFault(Route::Search, bodyFault(R"([{"id": 0}])", 0, 0));
    ApiClient client(fixture.repositoryUrl(), nullptr);
    QSignalSpy statuses(&client, &ApiClient::statusChanged);
    QTRY_COMPARE(statuses.count(), 2);
    QVERIFY(!client.isReady());

    client.fetch();
    QCOMPARE(statuses.count(), 3);
    QCOMPARE(statuses.at(2).at(0).toString(),
             "Repository error: group id not found - unable to fetch examples");
    QTest::qWait(quietMs);
    QCOMPARE(fixture.server.requestCount(Route::Group), 0);
}

void tst_ApiClient::fetchAgainListsAgain()
{
    ServerFixture fixture;
    fixture.addProject("alpha");
    ApiClient client(fixture.repositoryUrl(), nullptr);
    QSignalSpy fetched(&client, &ApiClient::fetched);
    connect(&client, &ApiClient::ready, &client, &ApiClient::fetch);
    QTRY_COMPARE(fetched.count(), 1);

    fixture.addProject("beta");
    client.fetch();
    QTRY_COMPARE(fetched.count(), 2);
    QCOMPARE(fetched.at(1).at(0).value<Repository::Examples>().size(), 2);
    // Each listing makes new records.
    QVERIFY(fetched.at(0).at(0).value<Repository::Examples>().first()
            != fetched.at(1).at(0).value<Repository::Examples>().first());
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
