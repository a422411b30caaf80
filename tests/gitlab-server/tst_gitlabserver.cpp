#include "httpfetch.h"
#include "tarreader.h"

#include <gitlabserver.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <unistd.h>

using namespace LocalGitLab;

Q_DECLARE_METATYPE(LocalGitLab::Fault)
Q_DECLARE_METATYPE(LocalGitLab::Route)

static QByteArray pngBytes(Qt::GlobalColor color)
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

static QStringList fullPaths(const QJsonArray &groups)
{
    QStringList paths;
    for (const QJsonValue &group : groups)
        paths.append(group.toObject().value("full_path").toString());
    return paths;
}

class tst_GitLabServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void search_data();
    void search();
    void groupEntities();
    void groupDetailCapsProjects();
    void groupDetailById_data();
    void groupDetailById();
    void projectEntity();
    void pagination_data();
    void pagination();
    void paginationWalksEveryProjectOnce();

    void archiveLayout_data();
    void archiveLayout();
    void archiveFollowsNewVersion();
    void archiveBuiltOnceForParallelRequests();
    void archiveOverride();

    void avatar();
    void errors_data();
    void errors();
    void recordOverrides();

    void faults_data();
    void faults();
    void faultCountsDown();
    void faultByPattern();
    void redirectElsewhere();

    void requestLogAndConnections();
    void answersWhileCallerBlocks();
    void keepAliveAndPipelining();
    void stopClosesHungConnections();
    void catalogueFolder();
    void catalogueFolderErrors();
    void executable();

private:
    QUrl url(const QString &pathAndQuery) const { return QUrl(m_base.toString() + pathAndQuery); }

    Server m_server;
    QUrl m_base;
    qint64 m_examples = 0;
    qint64 m_big = 0;
    qint64 m_hello = 0;
    qint64 m_world = 0;
    qint64 m_empty = 0;
    QByteArray m_logo;
    QMap<QString, QByteArray> m_helloFiles;
};

void tst_GitLabServer::initTestCase()
{
    m_examples = m_server.addGroup("qt-examples", "Qt Examples", 0, "Examples for Qt");
    QVERIFY(m_server.addGroup("qt-examples/advanced", "Advanced") != 0);
    QVERIFY(m_server.addGroup("veyra-samples", "Veyra Samples") != 0);
    QVERIFY(m_server.addGroup("ab", "AB Tools") != 0);
    QVERIFY(m_server.addGroup("my-qt-stuff", "Zeta") != 0);
    QCOMPARE(m_server.addGroup("qt-examples", "Duplicate"), 0);

    m_logo = pngBytes(Qt::red);
    m_helloFiles = {{"README.md", "# Hello\n"},
                    {"hello.pro", "SOURCES = src/main.cpp\n"},
                    {"src/main.cpp", "int main() { return 0; }\n"},
                    {"scripts/run.sh", "#!/bin/sh\n"}};
    ProjectData hello;
    hello.path = "hello";
    hello.name = "Hello World";
    hello.description = "Says hello";
    hello.topics = {"widgets", "basics"};
    hello.lastActivity = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0, 123), Qt::UTC);
    hello.files = m_helloFiles;
    hello.executables = {"scripts/run.sh"};
    hello.avatar = m_logo;
    hello.avatarFileName = "logo.png";
    m_hello = m_server.addProject(m_examples, hello);
    QVERIFY(m_hello != 0);

    ProjectData world;
    world.path = "world";
    world.files = {{"a.txt", "a"}};
    m_world = m_server.addProject(m_examples, world);
    ProjectData empty;
    empty.path = "empty";
    m_empty = m_server.addProject(m_examples, empty);
    QVERIFY(m_world != 0 && m_empty != 0);
    QCOMPARE(m_server.addProject(m_examples, world), 0); // the path is taken

    m_big = m_server.addGroup("big", "Big");
    for (int i = 0; i < 120; ++i) {
        ProjectData p;
        p.path = QStringLiteral("p%1").arg(i, 3, 10, QLatin1Char('0'));
        p.files = {{"main.cpp", p.path.toUtf8()}};
        QVERIFY(m_server.addProject(m_big, p) != 0);
    }

    m_base = m_server.start();
    QVERIFY(m_base.isValid());
    QCOMPARE(m_base.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(m_base.port() > 0);
}

void tst_GitLabServer::cleanup()
{
    m_server.clearFaults();
    m_server.clearRequestLog();
}

void tst_GitLabServer::search_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");

    const QStringList examples{"qt-examples/advanced", "qt-examples"}; // by name: "Advanced" first
    QTest::newRow("quoted path") << "search=%22qt-examples%22" << examples;
    QTest::newRow("bare path") << "search=qt-examples" << examples;
    QTest::newRow("case-insensitive") << "search=%22QT-Examples%22" << examples;
    QTest::newRow("substring of path") << "search=%22samp%22" << QStringList{"veyra-samples"};
    QTest::newRow("substring of name") << "search=%22eta%22" << QStringList{"my-qt-stuff"};
    QTest::newRow("nested full path") << "search=%22qt-examples%2Fadvanced%22" << QStringList{"qt-examples/advanced"};
    QTest::newRow("quoted phrase in name") << "search=%22Veyra%20Samples%22" << QStringList{"veyra-samples"};
    QTest::newRow("words in any order") << "search=Samples%20Veyra" << QStringList{"veyra-samples"};
    QTest::newRow("plus is a blank") << "search=Samples+Veyra" << QStringList{"veyra-samples"};
    QTest::newRow("quoted phrase out of order") << "search=%22Samples%20Veyra%22" << QStringList{};
    QTest::newRow("short bare query matches exactly") << "search=ab" << QStringList{"ab"};
    QTest::newRow("short quoted query keeps its quotes") << "search=%22ab%22" << QStringList{};
    QTest::newRow("short query is no substring") << "search=qt" << QStringList{};
    QTest::newRow("several hits") << "search=ples"
                                  << QStringList{"qt-examples/advanced", "qt-examples", "veyra-samples"};
    QTest::newRow("short words are ignored among longer ones") << "search=qt%20stuff" << QStringList{"my-qt-stuff"};
    QTest::newRow("no search lists all by name")
        << "" << QStringList{"ab", "qt-examples/advanced", "big", "qt-examples", "veyra-samples", "my-qt-stuff"};
    QTest::newRow("nothing") << "search=%22nowhere%22" << QStringList{};
}

void tst_GitLabServer::search()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    const Fetched r = fetch(url("/api/v4/groups" + (query.isEmpty() ? QString() : "?" + query)));
    QCOMPARE(r.error, QNetworkReply::NoError);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
    QVERIFY(r.json().isArray());
    QCOMPARE(fullPaths(r.json().array()), expected);
    QCOMPARE(r.header("X-Total").toInt(), expected.size());
}

void tst_GitLabServer::groupEntities()
{
    const QJsonArray hits = fetch(url("/api/v4/groups?search=%22qt-examples%22")).json().array();
    QCOMPARE(hits.size(), 2);
    const QJsonObject child = hits.at(0).toObject();
    const QJsonObject parent = hits.at(1).toObject();
    QCOMPARE(parent.value("id").toInteger(), m_examples);
    QCOMPARE(parent.value("path").toString(), QStringLiteral("qt-examples"));
    QCOMPARE(parent.value("full_name").toString(), QStringLiteral("Qt Examples"));
    QCOMPARE(parent.value("description").toString(), QStringLiteral("Examples for Qt"));
    QVERIFY(parent.value("parent_id").isNull());
    QCOMPARE(parent.value("web_url").toString(), m_base.toString() + "/groups/qt-examples");
    QCOMPARE(child.value("path").toString(), QStringLiteral("advanced"));
    QCOMPARE(child.value("full_path").toString(), QStringLiteral("qt-examples/advanced"));
    QCOMPARE(child.value("full_name").toString(), QStringLiteral("Qt Examples / Advanced"));
    QCOMPARE(child.value("parent_id").toInteger(), m_examples);
    QVERIFY(!child.contains("projects")); // only the single-group answer carries projects
}

void tst_GitLabServer::groupDetailCapsProjects()
{
    const Fetched r = fetch(url(QStringLiteral("/api/v4/groups/%1").arg(m_big)));
    QCOMPARE(r.status, 200);
    const QJsonObject group = r.json().object();
    QCOMPARE(group.value("full_path").toString(), QStringLiteral("big"));
    const QJsonArray projects = group.value("projects").toArray();
    QCOMPARE(projects.size(), 100);
    QSet<qint64> ids;
    for (const QJsonValue &p : projects)
        ids.insert(p.toObject().value("id").toInteger());
    QCOMPARE(ids.size(), 100);
    QVERIFY(!r.hasHeader("X-Total")); // nothing tells the caller that 20 are missing
    QVERIFY(group.value("shared_projects").toArray().isEmpty());

    const QJsonObject without = fetch(url(QStringLiteral("/api/v4/groups/%1?with_projects=false").arg(m_big)))
                                    .json().object();
    QCOMPARE(without.value("id").toInteger(), m_big);
    QVERIFY(!without.contains("projects"));
}

void tst_GitLabServer::groupDetailById_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("fullPath");
    QTest::newRow("number") << QString::number(m_examples) << "qt-examples";
    QTest::newRow("path") << "qt-examples" << "qt-examples";
    QTest::newRow("path in other case") << "QT-EXAMPLES" << "qt-examples";
    QTest::newRow("encoded nested path") << "qt-examples%2Fadvanced" << "qt-examples/advanced";
}

void tst_GitLabServer::groupDetailById()
{
    QFETCH(QString, id);
    QFETCH(QString, fullPath);
    const Fetched r = fetch(url("/api/v4/groups/" + id));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json().object().value("full_path").toString(), fullPath);
}

void tst_GitLabServer::projectEntity()
{
    const QJsonArray projects = fetch(url(QStringLiteral("/api/v4/groups/%1").arg(m_examples)))
                                    .json().object().value("projects").toArray();
    QCOMPARE(projects.size(), 3);
    QJsonObject hello;
    for (const QJsonValue &p : projects) {
        if (p.toObject().value("id").toInteger() == m_hello)
            hello = p.toObject();
    }
    QCOMPARE(hello.value("name").toString(), QStringLiteral("Hello World"));
    QCOMPARE(hello.value("path").toString(), QStringLiteral("hello"));
    QCOMPARE(hello.value("path_with_namespace").toString(), QStringLiteral("qt-examples/hello"));
    QCOMPARE(hello.value("name_with_namespace").toString(), QStringLiteral("Qt Examples / Hello World"));
    QCOMPARE(hello.value("description").toString(), QStringLiteral("Says hello"));
    QCOMPARE(hello.value("web_url").toString(), m_base.toString() + "/qt-examples/hello");
    QCOMPARE(hello.value("http_url_to_repo").toString(), m_base.toString() + "/qt-examples/hello.git");
    QCOMPARE(hello.value("default_branch").toString(), QStringLiteral("main"));
    const QJsonArray sortedTopics{"basics", "widgets"};
    QCOMPARE(hello.value("topics").toArray(), sortedTopics);
    QCOMPARE(hello.value("tag_list").toArray(), sortedTopics);
    QCOMPARE(hello.value("last_activity_at").toString(), QStringLiteral("2024-05-01T10:00:00.123Z"));
    const QJsonObject ns = hello.value("namespace").toObject();
    QCOMPARE(ns.value("id").toInteger(), m_examples);
    QCOMPARE(ns.value("full_path").toString(), QStringLiteral("qt-examples"));
    QCOMPARE(ns.value("kind").toString(), QStringLiteral("group"));

    const Fetched single = fetch(url("/api/v4/projects/qt-examples%2Fhello"));
    QCOMPARE(single.json().object(), hello);
}

void tst_GitLabServer::pagination_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("perPage");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QByteArray>("prev");
    QTest::addColumn<QByteArray>("totalPages");
    QTest::addColumn<QStringList>("rels");

    QTest::newRow("defaults") << "" << 20 << QByteArray("1") << QByteArray("20") << QByteArray("2")
                              << QByteArray("") << QByteArray("6") << QStringList{"next", "first", "last"};
    QTest::newRow("middle page") << "?page=3" << 20 << QByteArray("3") << QByteArray("20") << QByteArray("4")
                                 << QByteArray("2") << QByteArray("6") << QStringList{"prev", "next", "first", "last"};
    QTest::newRow("last page") << "?per_page=100&page=2" << 20 << QByteArray("2") << QByteArray("100")
                               << QByteArray("") << QByteArray("1") << QByteArray("2")
                               << QStringList{"prev", "first", "last"};
    QTest::newRow("per_page capped at 100") << "?per_page=500" << 100 << QByteArray("1") << QByteArray("100")
                                            << QByteArray("2") << QByteArray("") << QByteArray("2")
                                            << QStringList{"next", "first", "last"};
    QTest::newRow("past the end") << "?per_page=50&page=9" << 0 << QByteArray("9") << QByteArray("50")
                                  << QByteArray("") << QByteArray("3") << QByteArray("3")
                                  << QStringList{"prev", "first", "last"};
    QTest::newRow("nonsense falls back") << "?per_page=abc&page=-4" << 20 << QByteArray("1") << QByteArray("20")
                                         << QByteArray("2") << QByteArray("") << QByteArray("6")
                                         << QStringList{"next", "first", "last"};
}

void tst_GitLabServer::pagination()
{
    QFETCH(QString, query);
    QFETCH(int, count);
    const Fetched r = fetch(url(QStringLiteral("/api/v4/groups/%1/projects").arg(m_big) + query));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json().array().size(), count);
    QTEST(r.header("X-Page"), "page");
    QTEST(r.header("X-Per-Page"), "perPage");
    QTEST(r.header("X-Next-Page"), "next");
    QTEST(r.header("X-Prev-Page"), "prev");
    QTEST(r.header("X-Total-Pages"), "totalPages");
    QCOMPARE(r.header("X-Total"), QByteArray("120"));
    QStringList rels;
    static const QRegularExpression linkPattern(QStringLiteral("<([^>]*)>; rel=\"(\\w+)\""));
    for (auto it = linkPattern.globalMatch(QString::fromLatin1(r.header("Link"))); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        rels.append(match.captured(2));
        QVERIFY(QUrl(match.captured(1)).toString().startsWith(m_base.toString() + "/api/v4/groups/"));
    }
    QTEST(rels, "rels");
}

void tst_GitLabServer::paginationWalksEveryProjectOnce()
{
    // Follow rel="next" the way a careful client does; every project shows up exactly once.
    QUrl next = url(QStringLiteral("/api/v4/groups/%1/projects?per_page=33&order_by=name&sort=asc").arg(m_big));
    QStringList paths;
    int pages = 0;
    static const QRegularExpression nextPattern(QStringLiteral("<([^>]*)>; rel=\"next\""));
    while (next.isValid() && ++pages < 10) {
        const Fetched r = fetch(next);
        QCOMPARE(r.status, 200);
        for (const QJsonValue &p : r.json().array())
            paths.append(p.toObject().value("path").toString());
        const QRegularExpressionMatch match = nextPattern.match(QString::fromLatin1(r.header("Link")));
        next = match.hasMatch() ? QUrl(match.captured(1)) : QUrl();
    }
    QCOMPARE(pages, 4);
    QCOMPARE(paths.size(), 120);
    QStringList sorted = paths;
    sorted.sort();
    QCOMPARE(paths, sorted);
    QCOMPARE(QSet<QString>(paths.cbegin(), paths.cend()).size(), 120);
}

void tst_GitLabServer::archiveLayout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("ref");
    const QString sha = m_server.commitSha(m_hello);
    QTest::newRow("tar.gz") << QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_hello) << "";
    QTest::newRow("no suffix") << QStringLiteral("/api/v4/projects/%1/repository/archive").arg(m_hello) << "";
    QTest::newRow("encoded path id") << "/api/v4/projects/qt-examples%2Fhello/repository/archive.tar.gz" << "";
    QTest::newRow("branch") << QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz?sha=main").arg(m_hello)
                            << "main";
    QTest::newRow("commit") << QStringLiteral("/api/v4/projects/%1/repository/archive?sha=%2").arg(m_hello).arg(sha)
                            << sha;
}

void tst_GitLabServer::archiveLayout()
{
    QFETCH(QString, path);
    QFETCH(QString, ref);
    const Fetched r = fetch(url(path));
    QCOMPARE(r.status, 200);
    const QString sha = m_server.commitSha(m_hello);
    QVERIFY(QRegularExpression("^[0-9a-f]{40}$").match(sha).hasMatch());
    const QString top = "hello-" + (ref.isEmpty() ? QStringLiteral("main") : ref) + "-" + sha;
    QCOMPARE(m_server.archiveFolderName(m_hello, ref), top);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/octet-stream"));
    QCOMPARE(r.header("Content-Disposition"), "attachment; filename=\"" + top.toUtf8() + ".tar.gz\"");
    QVERIFY(!r.hasHeader("Content-Length")); // streamed, like GitLab's archive answers

    const QList<TarEntry> entries = tarEntries(gunzip(r.body));
    QVERIFY(!entries.isEmpty());
    QCOMPARE(entries.first().name, QByteArray("pax_global_header"));
    QCOMPARE(entries.first().type, 'g');
    QCOMPARE(entries.first().data, "52 comment=" + sha.toLatin1() + "\n");
    QCOMPARE(entries.at(1).name, top.toUtf8() + "/");
    QCOMPARE(entries.at(1).type, '5');

    QMap<QString, QByteArray> files;
    for (const TarEntry &entry : entries.mid(1)) {
        QVERIFY2(entry.name.startsWith(top.toUtf8() + "/"), entry.name);
        if (entry.type == '0') {
            files.insert(QString::fromUtf8(entry.name.mid(top.size() + 1)), entry.data);
            QCOMPARE(entry.mode, entry.name.endsWith("run.sh") ? 0775 : 0664);
        }
    }
    QCOMPARE(files, m_helloFiles);
    // Each folder comes before what it holds.
    const auto indexOf = [&](const QByteArray &name) {
        for (int i = 0; i < entries.size(); ++i) {
            if (entries.at(i).name == top.toUtf8() + "/" + name)
                return i;
        }
        return -1;
    };
    QVERIFY(indexOf("src/") >= 0 && indexOf("src/") < indexOf("src/main.cpp"));
}

void tst_GitLabServer::archiveFollowsNewVersion()
{
    const QString oldSha = m_server.commitSha(m_world);
    const QString path = QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_world);
    const Fetched first = fetch(url(path));
    QCOMPARE(first.status, 200);
    const int builds = m_server.archiveBuildCount();
    QCOMPARE(fetch(url(path)).body, first.body); // cached: same bytes, no new build
    QCOMPARE(m_server.archiveBuildCount(), builds);

    const QDateTime pushed(QDate(2025, 1, 2), QTime(3, 4, 5), Qt::UTC);
    m_server.setProjectFiles(m_world, {{"a.txt", "changed"}, {"b.txt", "new"}}, pushed);
    const QString newSha = m_server.commitSha(m_world);
    QVERIFY(newSha != oldSha);
    const Fetched second = fetch(url(path));
    QCOMPARE(m_server.archiveBuildCount(), builds + 1);
    const QList<TarEntry> entries = tarEntries(gunzip(second.body));
    QCOMPARE(entries.first().data, "52 comment=" + newSha.toLatin1() + "\n");
    QCOMPARE(entries.last().name, "world-main-" + newSha.toLatin1() + "/b.txt");
    QCOMPARE(entries.last().data, QByteArray("new"));

    const QJsonObject project = fetch(url(QStringLiteral("/api/v4/projects/%1").arg(m_world))).json().object();
    QCOMPARE(project.value("last_activity_at").toString(), QStringLiteral("2025-01-02T03:04:05.000Z"));
}

void tst_GitLabServer::archiveBuiltOnceForParallelRequests()
{
    // About 12 MB of poorly compressible content: a build takes a noticeable moment.
    QMap<QString, QByteArray> files;
    quint32 state = 12345;
    for (int f = 0; f < 12; ++f) {
        QByteArray data(1 << 20, Qt::Uninitialized);
        for (char &c : data) {
            state = state * 1664525u + 1013904223u;
            c = char(state >> 24);
        }
        files.insert(QStringLiteral("data/blob%1.bin").arg(f), data);
    }
    ProjectData large;
    large.path = "large";
    large.files = files;
    const qint64 id = m_server.addProject(m_examples, large);
    QVERIFY(id != 0);
    const int builds = m_server.archiveBuildCount();
    const QUrl archive = url(QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(id));
    const QList<Fetched> results = fetchAll({archive, archive, archive, archive});
    QCOMPARE(m_server.archiveBuildCount(), builds + 1);
    for (const Fetched &r : results) {
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.body, results.first().body);
    }
    QVERIFY(results.first().body.size() > 12 << 20);

    // While a large archive is being built, small requests are answered at once.
    m_server.setProjectFiles(id, files, {}, {{"data/blob0.bin", QDateTime::currentDateTimeUtc()}});
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> building(manager.get(QNetworkRequest(archive)));
    const Fetched quick = fetch(url("/api/v4/groups?search=%22veyra%22"));
    QCOMPARE(quick.status, 200);
    QVERIFY(!building->isFinished());
    QSignalSpy finished(building.get(), &QNetworkReply::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(building->error(), QNetworkReply::NoError);
    QVERIFY(m_server.removeProject(id));
}

void tst_GitLabServer::archiveOverride()
{
    const QByteArray hostile = "not really a tarball";
    m_server.setArchiveOverride(m_world, hostile);
    const Fetched r = fetch(url(QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_world)));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body, hostile);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/octet-stream"));
    m_server.setArchiveOverride(m_world, {});
    QVERIFY(!tarEntries(gunzip(fetch(url(QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz")
                                             .arg(m_world))).body)).isEmpty());
}

void tst_GitLabServer::avatar()
{
    const QJsonObject hello = fetch(url(QStringLiteral("/api/v4/projects/%1").arg(m_hello))).json().object();
    const QString avatarUrl = hello.value("avatar_url").toString();
    QCOMPARE(avatarUrl, QStringLiteral("%1/uploads/-/system/project/avatar/%2/logo.png").arg(m_base.toString()).arg(m_hello));
    QCOMPARE(m_server.avatarUrl(m_hello).toString(), avatarUrl);
    const Fetched image = fetch(QUrl(avatarUrl));
    QCOMPARE(image.status, 200);
    QCOMPARE(image.header("Content-Type"), QByteArray("image/png"));
    QCOMPARE(image.body, m_logo);

    const QJsonObject world = fetch(url(QStringLiteral("/api/v4/projects/%1").arg(m_world))).json().object();
    QVERIFY(world.contains("avatar_url"));
    QVERIFY(world.value("avatar_url").isNull());
    QVERIFY(m_server.avatarUrl(m_world).isEmpty());

    m_server.setAvatar(m_world, "\xff\xd8\xff\xe0 jpeg", "photo.JPG");
    const Fetched jpeg = fetch(m_server.avatarUrl(m_world));
    QCOMPARE(jpeg.header("Content-Type"), QByteArray("image/jpeg"));
    QCOMPARE(fetch(url(QStringLiteral("/uploads/-/system/project/avatar/%1/other.png").arg(m_world))).status, 404);
    m_server.setAvatar(m_world, {}, {});
    QCOMPARE(fetch(url(QStringLiteral("/uploads/-/system/project/avatar/%1/photo.JPG").arg(m_world))).status, 404);
}

void tst_GitLabServer::errors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("unknown group") << "/api/v4/groups/999999" << 404 << QByteArray(R"({"message":"404 Group Not Found"})");
    QTest::newRow("unknown group path") << "/api/v4/groups/nope%2Fnothing" << 404
                                        << QByteArray(R"({"message":"404 Group Not Found"})");
    QTest::newRow("projects of unknown group") << "/api/v4/groups/999999/projects" << 404
                                               << QByteArray(R"({"message":"404 Group Not Found"})");
    QTest::newRow("unknown project") << "/api/v4/projects/999999" << 404
                                     << QByteArray(R"({"message":"404 Project Not Found"})");
    QTest::newRow("archive of unknown project") << "/api/v4/projects/999999/repository/archive.tar.gz" << 404
                                                << QByteArray(R"({"message":"404 Project Not Found"})");
    QTest::newRow("archive of empty repository")
        << QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_empty) << 404
        << QByteArray(R"({"message":"404 File Not Found"})");
    QTest::newRow("archive of unknown ref")
        << QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz?sha=v9").arg(m_hello) << 404
        << QByteArray(R"({"message":"404 File Not Found"})");
    QTest::newRow("unknown route") << "/api/v4/nothing/here" << 404 << QByteArray(R"({"error":"404 Not Found"})");
    QTest::newRow("unknown archive format")
        << QStringLiteral("/api/v4/projects/%1/repository/archive.rar").arg(m_hello) << 404
        << QByteArray(R"({"error":"404 Not Found"})");
}

void tst_GitLabServer::errors()
{
    QFETCH(QString, path);
    const Fetched r = fetch(url(path));
    QCOMPARE(r.error, QNetworkReply::ContentNotFoundError);
    QTEST(r.status, "status");
    QTEST(r.body, "body");
    QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
}

void tst_GitLabServer::recordOverrides()
{
    const QString group = QStringLiteral("/api/v4/groups/%1").arg(m_examples);
    m_server.setProjectField(m_world, "web_url", QJsonValue::Undefined);
    m_server.setProjectField(m_world, "id", 1.5);
    m_server.setProjectJson(m_empty, QStringLiteral("not an object"));
    m_server.setGroupField(m_examples, "id", 0);

    const QJsonObject detail = fetch(url(group)).json().object();
    QCOMPARE(detail.value("id").toInt(-1), 0);
    const QJsonArray projects = detail.value("projects").toArray();
    QCOMPARE(projects.size(), 3);
    QCOMPARE(projects.at(0).toObject().value("id").toInteger(), m_hello);
    QCOMPARE(projects.at(1).toObject().value("id").toDouble(), 1.5);
    QVERIFY(!projects.at(1).toObject().contains("web_url"));
    QCOMPARE(projects.at(2).toString(), QStringLiteral("not an object"));
    // The routes still know the project by its real id.
    QCOMPARE(fetch(url(QStringLiteral("/api/v4/projects/%1/repository/archive").arg(m_world))).status, 200);

    m_server.setProjectField(m_world, "web_url", m_base.toString() + "/qt-examples/world");
    m_server.setProjectField(m_world, "id", m_world);
    m_server.setProjectJson(m_empty, QJsonValue::Undefined);
    m_server.setGroupField(m_examples, "id", m_examples);
    const QJsonArray restored = fetch(url(group)).json().object().value("projects").toArray();
    QCOMPARE(restored.at(2).toObject().value("path").toString(), QStringLiteral("empty"));
}

void tst_GitLabServer::faults_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expect");
    QTest::addColumn<int>("minElapsedMs");

    using E = QNetworkReply;
    QTest::newRow("500 on the group") << Route::Group << Fault::httpStatus(500) << 10000
                                      << int(E::InternalServerError) << 500
                                      << R"(body:{"message":"500 Internal Server Error"})" << 0;
    QTest::newRow("503 on the search") << Route::Search << Fault::httpStatus(503) << 10000
                                       << int(E::ServiceUnavailableError) << 503
                                       << R"(body:{"message":"503 Service Unavailable"})" << 0;
    QTest::newRow("403 on the archive") << Route::Archive << Fault::httpStatus(403) << 10000
                                        << int(E::ContentAccessDenied) << 403
                                        << R"(body:{"message":"403 Forbidden"})" << 0;
    QTest::newRow("429 on the search") << Route::Search << Fault::httpStatus(429) << 10000
                                       << int(E::UnknownContentError) << 429
                                       << R"(retry-after:60)" << 0;
    QTest::newRow("429 with Retry-After") << Route::Archive << Fault::httpStatus(429, 7) << 10000
                                          << int(E::UnknownContentError) << 429
                                          << R"(retry-after:7)" << 0;
    QTest::newRow("delay") << Route::Group << Fault::delay(400) << 10000 << int(E::NoError) << 200
                           << "json" << 400;
    QTest::newRow("delayed error") << Route::Avatar << Fault::httpStatus(500).after(300) << 10000
                                   << int(E::InternalServerError) << 500 << "" << 300;
    // The client gives up after its transfer timeout (its timer may fire a little early).
    QTest::newRow("hang before headers") << Route::Search << Fault::hangBeforeHeaders() << 600
                                         << int(E::OperationCanceledError) << 0 << "" << 500;
    QTest::newRow("hang mid-body") << Route::Archive << Fault::hangMidBody() << 600
                                   << int(E::OperationCanceledError) << 200 << "" << 500;
    QTest::newRow("reset") << Route::Group << Fault::reset() << 10000
                           << int(E::RemoteHostClosedError) << 0 << "" << 0;
    QTest::newRow("truncated") << Route::Archive << Fault::truncate() << 10000
                               << int(E::RemoteHostClosedError) << 200 << "" << 0;
    QTest::newRow("corrupt archive") << Route::Archive << Fault::corrupt() << 10000 << int(E::NoError) << 200
                                     << "broken-archive" << 0;
    QTest::newRow("corrupt json") << Route::Group << Fault::corrupt() << 10000 << int(E::NoError) << 200
                                  << "broken-json" << 0;
    QTest::newRow("invalid json") << Route::Search << Fault::invalidJson() << 10000 << int(E::NoError) << 200
                                  << "broken-json" << 0;
    QTest::newRow("html instead of json") << Route::Group << Fault::html() << 10000 << int(E::NoError) << 200
                                          << "html" << 0;
    QTest::newRow("html instead of an image") << Route::Avatar << Fault::html() << 10000 << int(E::NoError)
                                              << 200 << "html" << 0;
    QTest::newRow("redirect loop") << Route::Archive << Fault::redirectLoop() << 10000
                                   << int(E::TooManyRedirectsError) << 302 << "" << 0;
    QTest::newRow("slow body") << Route::Search << Fault::slowBody(4000) << 10000 << int(E::NoError) << 200
                               << "json" << 250;
}

void tst_GitLabServer::faults()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(int, timeoutMs);
    QFETCH(QString, expect);
    QFETCH(int, minElapsedMs);

    const QMap<Route, QString> paths{
        {Route::Search, "/api/v4/groups?search=%22qt-examples%22"},
        {Route::Group, QStringLiteral("/api/v4/groups/%1").arg(m_examples)},
        {Route::Archive, QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_hello)},
        {Route::Avatar, m_server.avatarUrl(m_hello).path()},
    };
    m_server.addFault(route, fault);
    // Another route is left alone.
    const Route other = route == Route::Search ? Route::Group : Route::Search;
    QCOMPARE(fetch(url(paths.value(other))).status, 200);

    const Fetched r = fetch(url(paths.value(route)), timeoutMs);
    QTEST(int(r.error), "error");
    QTEST(r.status, "status");
    QVERIFY2(r.elapsedMs >= minElapsedMs - 20, qPrintable(QString::number(r.elapsedMs)));

    if (expect.startsWith("body:")) {
        QCOMPARE(r.body, expect.mid(5).toUtf8());
    } else if (expect.startsWith("retry-after:")) {
        QCOMPARE(r.header("Retry-After"), expect.mid(12).toUtf8());
        const QJsonObject message = r.json().object().value("message").toObject();
        QVERIFY(message.value("error").toString().contains("requested too many times"));
    } else if (expect == "json") {
        QVERIFY(!r.json().isNull());
    } else if (expect == "broken-json") {
        QVERIFY(!r.body.isEmpty());
        QVERIFY(r.json().isNull());
    } else if (expect == "broken-archive") {
        m_server.clearFaults();
        const QByteArray intact = fetch(url(paths.value(route))).body;
        QCOMPARE(r.body.size(), intact.size());
        QVERIFY(r.body != intact);
        QVERIFY(tarEntries(gunzip(r.body)).isEmpty());
    } else if (expect == "html") {
        QVERIFY(r.header("Content-Type").startsWith("text/html"));
        QVERIFY(r.body.startsWith("<!DOCTYPE html>"));
    }
}

void tst_GitLabServer::faultCountsDown()
{
    const QUrl group = url(QStringLiteral("/api/v4/groups/%1").arg(m_examples));
    const int id = m_server.addFault(Route::Any, Fault::httpStatus(502), 2);
    QVERIFY(id > 0);
    QCOMPARE(fetch(group).status, 502);
    QCOMPARE(fetch(url("/api/v4/groups")).status, 502);
    QCOMPARE(fetch(group).status, 200);

    const int permanent = m_server.addFault(Route::Group, Fault::httpStatus(500));
    QCOMPARE(fetch(group).status, 500);
    QCOMPARE(fetch(group).status, 500);
    m_server.removeFault(permanent);
    QCOMPARE(fetch(group).status, 200);
}

void tst_GitLabServer::faultByPattern()
{
    m_server.addFault(QRegularExpression("search=%22veyra"), Fault::httpStatus(500));
    QCOMPARE(fetch(url("/api/v4/groups?search=%22veyra-samples%22")).status, 500);
    QCOMPARE(fetch(url("/api/v4/groups?search=%22qt-examples%22")).status, 200);
    m_server.addFault(QRegularExpression("^/api/v4/projects/\\d+/repository/"), Fault::httpStatus(404));
    const Fetched archive = fetch(url(QStringLiteral("/api/v4/projects/%1/repository/archive").arg(m_hello)));
    QCOMPARE(archive.body, QByteArray(R"({"message":"404 File Not Found"})"));
}

void tst_GitLabServer::redirectElsewhere()
{
    // A redirect may leave the server, as object storage does; here it lands on another route.
    const QUrl avatar = m_server.avatarUrl(m_hello);
    m_server.addFault(Route::Archive, Fault::redirect(avatar), 1);
    const Fetched r = fetch(url(QStringLiteral("/api/v4/projects/%1/repository/archive").arg(m_world)));
    QCOMPARE(r.error, QNetworkReply::NoError);
    QCOMPARE(r.url, avatar);
    QCOMPARE(r.body, m_logo);
    QVERIFY2(m_server.requestCount(Route::Archive) == 1, qPrintable(m_server.requestLog().join(", ")));
    QCOMPARE(m_server.requestCount(Route::Avatar), 1);
}

void tst_GitLabServer::requestLogAndConnections()
{
    fetch(url("/api/v4/groups?search=%22qt-examples%22"));
    fetch(url("/api/v4/groups/qt-examples%2Fadvanced?with_projects=false"));
    QCOMPARE(m_server.requestLog(), (QStringList{"GET /api/v4/groups?search=%22qt-examples%22",
                                                 "GET /api/v4/groups/qt-examples%2Fadvanced?with_projects=false"}));
    QCOMPARE(m_server.requestCount(Route::Search), 1);
    QCOMPARE(m_server.requestCount(Route::Group), 1);
    QCOMPARE(m_server.requestCount(), 2);
    QTRY_COMPARE(m_server.openConnections(), 0);

    m_server.addFault(Route::Search, Fault::hangBeforeHeaders());
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> hung(manager.get(QNetworkRequest(url("/api/v4/groups"))));
    QTRY_COMPARE(m_server.openConnections(), 1);
    QTRY_COMPARE(m_server.requestCount(Route::Search), 2);
    hung->abort();
    QTRY_COMPARE(m_server.openConnections(), 0);
}

void tst_GitLabServer::answersWhileCallerBlocks()
{
    // The caller's thread waits without running its event loop; the server must not need it.
    QTcpSocket socket;
    socket.connectToHost(m_base.host(), quint16(m_base.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /api/v4/groups/qt-examples HTTP/1.1\r\nHost: " + m_base.authority().toLatin1()
                 + "\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    QVERIFY(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(answer.contains("\"full_path\":\"qt-examples\""));
}

void tst_GitLabServer::keepAliveAndPipelining()
{
    // One manager reuses its connection for requests made one after the other.
    QNetworkAccessManager manager;
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url("/api/v4/groups/ab"))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QTRY_COMPARE(m_server.openConnections(), 1);
    }

    // Requests sent back to back on one connection are answered in order, and "close" is obeyed.
    QTcpSocket socket;
    socket.connectToHost(m_base.host(), quint16(m_base.port()));
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray host = "Host: " + m_base.authority().toLatin1() + "\r\n";
    socket.write("GET /api/v4/groups/ab HTTP/1.1\r\n" + host + "\r\n"
                 "GET /api/v4/nothing HTTP/1.1\r\n" + host + "\r\n"
                 "GET /api/v4/groups/veyra-samples HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    answer += socket.readAll();
    const qsizetype first = answer.indexOf("HTTP/1.1 200 OK");
    const qsizetype second = answer.indexOf("HTTP/1.1 404 Not Found");
    const qsizetype third = answer.lastIndexOf("HTTP/1.1 200 OK");
    QVERIFY(first == 0 && second > first && third > second);
    QVERIFY(answer.indexOf("\"full_path\":\"ab\"") < second);
    QVERIFY(answer.indexOf("\"full_path\":\"veyra-samples\"") > third);
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
}

void tst_GitLabServer::stopClosesHungConnections()
{
    Server server;
    server.addGroup("g", "G");
    server.addFault(Route::Any, Fault::hangBeforeHeaders());
    const QUrl base = server.start();
    QVERIFY(base.isValid());
    QCOMPARE(server.start(), base); // already running

    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(base.toString() + "/api/v4/groups"))));
    QTRY_COMPARE(server.openConnections(), 1);
    server.stop();
    QVERIFY(!server.isRunning());
    QTRY_VERIFY(reply->isFinished());
    // Closed under the request; the network layer may try once more and find nobody listening.
    QVERIFY2(reply->error() == QNetworkReply::RemoteHostClosedError
                 || reply->error() == QNetworkReply::ConnectionRefusedError,
             qPrintable(reply->errorString()));
    QCOMPARE(server.openConnections(), 0);
    server.stop();

    // A stopped server can start again, on a new port.
    server.clearFaults();
    const QUrl again = server.start();
    QVERIFY(again.isValid());
    QCOMPARE(fetch(QUrl(again.toString() + "/api/v4/groups")).status, 200);
}

void tst_GitLabServer::catalogueFolder()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    const auto write = [&](const QString &path, const QByteArray &content) {
        QVERIFY(dir.mkpath(QFileInfo(dir.filePath(path)).path()));
        QFile file(dir.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    write("demo/group.json", R"({"id": 4242, "name": "Demo Examples", "description": "Made by hand"})");
    write("demo/clock/clock.pro", "TEMPLATE = app\n");
    write("demo/clock/.hidden", "kept\n");
    write("demo/clock/tools/build.sh", "#!/bin/sh\n");
    write("demo/clock/.git/HEAD", "skipped\n");
    QFile(dir.filePath("demo/clock/tools/build.sh")).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    write("demo/clock.json", R"({"id": 17, "name": "Analog Clock", "topics": ["time", "graphics"],
                                 "default_branch": "develop", "avatar": "clock.png"})");
    write("demo/clock.png", m_logo);
    write("demo/notes/readme.txt", "plain\n");
    QCOMPARE(::symlink("clock.pro", QFile::encodeName(dir.filePath("demo/clock/link.pro")).constData()), 0);
    write("other/plain/file.txt", "x\n");
    const QDateTime newest(QDate(2023, 3, 4), QTime(5, 6, 7), Qt::UTC);
    {
        QFile file(dir.filePath("demo/notes/readme.txt"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(newest, QFileDevice::FileModificationTime));
    }

    Server server;
    QString error;
    QVERIFY2(server.loadCatalogue(root.path(), &error), qPrintable(error));
    const QUrl base = server.start();
    QCOMPARE(server.groupId("demo"), 4242);
    const qint64 other = server.groupId("other");
    QVERIFY(other > 0);
    QCOMPARE(server.groupIds().size(), 2);

    const QJsonObject group = fetch(QUrl(base.toString() + "/api/v4/groups?search=%22demo%22")).json().array()
                                  .first().toObject();
    QCOMPARE(group.value("id").toInteger(), 4242);
    QCOMPARE(group.value("name").toString(), QStringLiteral("Demo Examples"));
    QCOMPARE(group.value("description").toString(), QStringLiteral("Made by hand"));

    const QJsonObject clock = fetch(QUrl(base.toString() + "/api/v4/projects/17")).json().object();
    QCOMPARE(clock.value("name").toString(), QStringLiteral("Analog Clock"));
    QCOMPARE(clock.value("topics").toArray(), (QJsonArray{"graphics", "time"}));
    QCOMPARE(clock.value("default_branch").toString(), QStringLiteral("develop"));
    QCOMPARE(fetch(QUrl(clock.value("avatar_url").toString())).body, m_logo);

    const QJsonObject notes = fetch(QUrl(base.toString() + "/api/v4/projects/demo%2Fnotes")).json().object();
    QCOMPARE(notes.value("name").toString(), QStringLiteral("notes"));
    QCOMPARE(notes.value("last_activity_at").toString(), QStringLiteral("2023-03-04T05:06:07.000Z"));
    QVERIFY(notes.value("avatar_url").isNull());
    QCOMPARE(notes.value("id").toInteger(), server.projectId("demo/notes"));

    const Fetched archive = fetch(QUrl(base.toString() + "/api/v4/projects/17/repository/archive.tar.gz"));
    const QString top = server.archiveFolderName(17);
    QVERIFY(top.startsWith("clock-develop-"));
    QMap<QByteArray, int> modes;
    QMap<QByteArray, QByteArray> links;
    for (const TarEntry &entry : tarEntries(gunzip(archive.body))) {
        if (entry.type == '0')
            modes.insert(entry.name.mid(top.size() + 1), entry.mode);
        if (entry.type == '2')
            links.insert(entry.name.mid(top.size() + 1), entry.linkTarget);
    }
    QCOMPARE(links, (QMap<QByteArray, QByteArray>{{"link.pro", "clock.pro"}}));
    QCOMPARE(modes, (QMap<QByteArray, int>{{".hidden", 0664}, {"clock.pro", 0664}, {"tools/build.sh", 0775}}));

    // The same folder gives the same ids the next time.
    Server again;
    QVERIFY(again.loadCatalogue(root.path()));
    QCOMPARE(again.groupId("other"), other);
    QCOMPARE(again.projectId("demo/notes"), server.projectId("demo/notes"));
}

void tst_GitLabServer::catalogueFolderErrors()
{
    Server server;
    QString error;
    QVERIFY(!server.loadCatalogue(QDir::temp().filePath("no-such-catalogue-folder"), &error));
    QVERIFY(error.contains("no-such-catalogue-folder"));

    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("g/p"));
    QFile meta(root.filePath("g/p.json"));
    QVERIFY(meta.open(QIODevice::WriteOnly));
    meta.write("{ not json");
    meta.close();
    QVERIFY(!server.loadCatalogue(root.path(), &error));
    QVERIFY2(error.contains("p.json"), qPrintable(error));
}

void tst_GitLabServer::executable()
{
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("examples/one"));
    QFile file(root.filePath("examples/one/main.cpp"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("int main() {}\n");
    file.close();

    QProcess process;
    process.start(GITLAB_SERVER_EXECUTABLE, {"--root", root.path(), "--fault", "archive:status:500@1"});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
    const QUrl base(QString::fromUtf8(process.readLine()).trimmed());
    QVERIFY(base.isValid());
    QCOMPARE(base.host(), QStringLiteral("127.0.0.1"));

    const QJsonArray groups = fetch(QUrl(base.toString() + "/api/v4/groups?search=%22examples%22")).json().array();
    QCOMPARE(fullPaths(groups), QStringList{"examples"});
    const QString archive = base.toString() + "/api/v4/projects/examples%2Fone/repository/archive.tar.gz";
    QCOMPARE(fetch(QUrl(archive)).status, 500);
    QCOMPARE(fetch(QUrl(archive)).status, 200);

    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

QTEST_MAIN(tst_GitLabServer)

#include "tst_gitlabserver.moc"
