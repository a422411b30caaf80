#include <gitlabserver.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <archive.h>

using namespace LocalGitLab;

Q_DECLARE_METATYPE(LocalGitLab::Fault)
Q_DECLARE_METATYPE(LocalGitLab::Route)

namespace {

// The entries of a tar.gz, pax global header included: "name type", files with mode and content.
QString tarListing(const QByteArray &gz)
{
    QByteArray tar;
    archive *a = archive_read_new();
    archive_read_support_filter_gzip(a);
    archive_read_support_format_raw(a);
    archive_entry *entry = nullptr;
    char buffer[65536];
    if (archive_read_open_memory(a, gz.constData(), size_t(gz.size())) == ARCHIVE_OK &&
        archive_read_next_header(a, &entry) == ARCHIVE_OK)
        for (la_ssize_t n; (n = archive_read_data(a, buffer, sizeof buffer)) > 0;)
            tar.append(buffer, qsizetype(n));
    archive_read_free(a);
    QStringList listing;
    for (qsizetype at = 0; at + 512 <= tar.size() && tar.mid(at, 512).count('\0') < 512;) {
        const auto field = [&](int offset, int width) {
            return QByteArray(tar.mid(at + offset, width).constData()).trimmed();
        };
        if (field(257, 5) != "ustar")
            return "not a tar stream";
        const qsizetype size = field(124, 12).toLongLong(nullptr, 8);
        const char type = tar.at(at + 156);
        listing.append(
            QString::fromUtf8(field(0, 100)) + ' ' + type +
            (type == '0' ? ' ' + QString::fromLatin1(field(100, 8)).right(3) : QString()) +
            (type == '0' || type == 'g' ? ' ' + QString::fromUtf8(tar.mid(at + 512, size))
                                        : QString()));
        at += 512 + (size + 511) / 512 * 512;
    }
    return listing.join(" | ");
}

// One GET on its own connection summed up: status, type, then what matters of the body.
QString fetch(const QUrl &url, qint64 *elapsedMs = nullptr)
{
    QNetworkAccessManager manager;
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QSignalSpy(reply.get(), &QNetworkReply::finished).wait(15000);
    if (elapsedMs)
        *elapsedMs = timer.elapsed();
    const QByteArray type = reply->rawHeader("Content-Type");
    const QByteArray data = reply->isOpen() ? reply->readAll() : QByteArray();
    QString body = type == "application/octet-stream" ? tarListing(data) : QString::fromUtf8(data);
    const QJsonDocument json = QJsonDocument::fromJson(data);
    if (json.isArray()) {
        QStringList paths;
        for (const QJsonValue &group : json.array())
            paths.append(group.toObject().value("full_path").toString());
        body = '[' + paths.join(", ") + ']';
    } else if (json.object().contains("projects")) {
        QSet<qint64> ids;
        for (const QJsonValue &project : json.object().value("projects").toArray())
            ids.insert(project.toObject().value("id").toInteger());
        body = json.object().value("full_path").toString() + QStringLiteral(": %1 projects").arg(ids.size());
    }
    return QString::number(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()) +
           ' ' + QString::fromLatin1(type) + ' ' + body;
}

} // namespace

class tst_GitLabServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routes_data();
    void routes();
    void faults_data();
    void faults();

private:
    Server m_server;
    qint64 m_hello = 0;
    QString m_base;
    QMap<Route, QString> m_paths;
};

void tst_GitLabServer::initTestCase()
{
    const qint64 examples = m_server.addGroup("qt-examples", "Qt Examples");
    QVERIFY(m_server.addGroup("qt-examples/advanced", "Advanced") != 0);
    QVERIFY(m_server.addGroup("veyra-samples", "Veyra Samples") != 0);
    ProjectData hello;
    hello.path = "hello";
    hello.files = {{"README.md", "# Hello"}, {"src/main.cpp", "int main() {}"}, {"run.sh", "#!/bin/sh"}};
    hello.executables = {"run.sh"};
    m_hello = m_server.addProject(examples, hello);
    ProjectData other;
    other.path = "empty";
    QVERIFY(m_server.addProject(examples, other));
    m_base = m_server.start().toString();
    QVERIFY2(m_base.startsWith("http://127.0.0.1:"), qPrintable(m_base));
    m_paths = {{Route::Search, m_base + "/api/v4/groups?search=%22qt-examples%22"},
               {Route::Group, m_base + QStringLiteral("/api/v4/groups/%1").arg(examples)}};
}

void tst_GitLabServer::routes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const QString top = m_server.archiveFolderName(m_hello);
    const QString sha = m_server.commitSha(m_hello);
    QVERIFY(QRegularExpression("^[0-9a-f]{40}$").match(sha).hasMatch());
    QCOMPARE(top, "hello-main-" + sha);
    const QString json = QStringLiteral("application/json ");

    QTest::newRow("search ignores case") << "/api/v4/groups?search=%22Veyra-SAMPLES%22"
                                         << "200 " + json + "[veyra-samples]";
    QTest::newRow("archive")
        << QStringLiteral("/api/v4/projects/%1/repository/archive.tar.gz").arg(m_hello)
        << "200 application/octet-stream pax_global_header g 52 comment=" + sha + "\n | " +
               QStringList{top + "/ 5", top + "/README.md 0 664 # Hello",
                           top + "/run.sh 0 775 #!/bin/sh", top + "/src/ 5",
                           top + "/src/main.cpp 0 664 int main() {}"}
                   .join(" | ");
    QTest::newRow("unknown group") << "/api/v4/groups/999999" << "404 " + json + R"({"message":"404 Group Not Found"})";
    QTest::newRow("archive of unknown project")
        << "/api/v4/projects/999999/repository/archive.tar.gz"
        << "404 " + json + R"({"message":"404 Project Not Found"})";
    QTest::newRow("archive of empty repository") << "/api/v4/projects/qt-examples%2Fempty/repository/archive.tar.gz"
                                                 << "404 " + json + R"({"message":"404 File Not Found"})";
}

void tst_GitLabServer::routes()
{
    QFETCH(QString, path);
    QTEST(fetch(QUrl(m_base + path)), "expected");
}

// Delays only (failures are the client suites' business); once spent, the plain answer comes.
void tst_GitLabServer::faults_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("minElapsedMs");

    const QString json = "200 application/json ";
    QTest::newRow("delay") << Route::Group << Fault::delay(400) << json + "qt-examples: 2 projects" << 400;
    QTest::newRow("slow body") << Route::Search << Fault::slowBody(4000)
                               << json + "[qt-examples/advanced, qt-examples]" << 250;
}

void tst_GitLabServer::faults()
{
    QFETCH(Route, route);
    QFETCH(Fault, fault);
    QFETCH(QString, expected);
    QFETCH(int, minElapsedMs);

    m_server.clearFaults();
    m_server.addFault(route, fault, 1);
    // Another route is left alone, and a fault for one request is spent after it.
    const QString other = m_paths.value(route == Route::Search ? Route::Group : Route::Search);
    QVERIFY(fetch(other).startsWith("200 "));
    qint64 elapsedMs = 0;
    QCOMPARE(fetch(m_paths.value(route), &elapsedMs), expected);
    QCOMPARE_GE(elapsedMs, minElapsedMs - 20);
    QCOMPARE(fetch(m_paths.value(route), &elapsedMs), expected);
    QCOMPARE_LT(elapsedMs, minElapsedMs - 20);
}

QTEST_MAIN(tst_GitLabServer)

#include "tst_gitlabserver.moc"
