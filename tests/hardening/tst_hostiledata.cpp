// Hostile project records in a group listing, through the real client, the service and the
// manifest writer. The server answers the listing with raw bytes written here, so that records
// can carry what a JSON value cannot (invalid UTF-8, numbers beyond 2^53). Whatever the record
// says, nothing outside its own example folder is deleted, and every manifest written reads back
// as well-formed XML that carries the record's texts.

#include "hardening.h"

using namespace Hardening;

namespace {

enum class Expect { Installed, NotInstalled };

// A project entity; %ID% is replaced by the real project's id, %PATH%, %NAME% and %DESCRIPTION%
// by raw JSON string contents.
const QByteArray projectTemplate =
    "{\"id\": %ID%, \"path\": \"%PATH%\", \"name\": \"%NAME%\", \"description\": \"%DESCRIPTION%\",\n"
    "        \"web_url\": \"http://gitlab.invalid/group/x\", \"avatar_url\": null,\n"
    "        \"last_activity_at\": \"2026-01-01T00:00:00.000Z\", \"tag_list\": %TAGS%}";

struct Record
{
    QByteArray id = "%ID%";
    QByteArray path = "demo";
    QByteArray name = "Demo";
    QByteArray description = "About demo";
    QByteArray tags = "[]";

    QByteArray json(qint64 realId) const
    {
        QByteArray result = projectTemplate;
        result.replace("%ID%", QByteArray(id).replace("%ID%", QByteArray::number(realId)));
        result.replace("%PATH%", path);
        result.replace("%NAME%", name);
        result.replace("%DESCRIPTION%", description);
        result.replace("%TAGS%", tags);
        return result;
    }
};

} // namespace

Q_DECLARE_METATYPE(Expect)
Q_DECLARE_METATYPE(Record)

class tst_HostileData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void hostileRecord_data();
    void hostileRecord();

private:
    Fixture m_fixture;
};

void tst_HostileData::initTestCase()
{
    QVERIFY(m_fixture.start());
}

void tst_HostileData::cleanup()
{
    m_fixture.server.clearFaults();
    QCOMPARE(m_fixture.leftovers(), QStringList());
    HostStandIn::reset();
}

void tst_HostileData::hostileRecord_data()
{
    QTest::addColumn<Record>("record");
    QTest::addColumn<int>("padding");          // invalid records listed before the real one
    QTest::addColumn<QByteArray>("topFolder"); // the archive's top folder, raw bytes
    QTest::addColumn<Expect>("expect");
    QTest::addColumn<QString>("folder");       // where it is installed
    QTest::addColumn<QString>("name");         // as the manifest must carry them
    QTest::addColumn<QString>("description");

    const auto row = [](const char *tag, const Record &record, const QByteArray &top,
                        Expect expect, const QString &folder = QStringLiteral("demo"),
                        const QString &name = QStringLiteral("Demo"),
                        const QString &description = QStringLiteral("About demo"), int padding = 0) {
        QTest::newRow(tag) << record << padding << top << expect << folder << name << description;
    };
    Record r;
    row("plain record", r, "demo-main", Expect::Installed);

    // Which names are safe folder names is the settings test's table; ".." stands for them here.
    r = Record();
    r.path = "..";
    row("path ..", r, "..", Expect::NotInstalled);
    r.path = QByteArray(1000, 'x');
    row("path of 1000 characters", r, QByteArray(1000, 'x') + "-main", Expect::NotInstalled);
    r.path = "kee";
    row("path that begins another installed example's", r, "kee-main", Expect::Installed,
        QStringLiteral("kee"));
    r.path = "\xe4\xbe\x8b\xe5\xad\x90-\xc3\xbc";
    row("Unicode path", r, "\xe4\xbe\x8b\xe5\xad\x90-\xc3\xbc-main", Expect::Installed,
        QStringLiteral("例子-ü"));
    r.path = "\\u2215evil";
    row("path with a division slash", r, "\xe2\x88\x95" "evil-main", Expect::Installed,
        QStringLiteral("∕evil"));

    r = Record();
    r.name = "bell\\u0007\\u0001\\u001f";
    r.description = "tab\\tcr\\rnul\\u0000 \\ufffe\\ud800 end";
    row("control characters and non-characters", r, "demo-main", Expect::Installed,
        QStringLiteral("demo"), QStringLiteral("bell"), QStringLiteral("tab\tcr\rnul  end"));
    r = Record();
    r.name = "caf\xe9 \xff\xfe";
    r.description = "\xc3\x28 \xed\xa0\x80";
    row("invalid UTF-8 in name and description", r, "demo-main", Expect::Installed,
        QStringLiteral("demo"), QString::fromUtf8(r.name), QString::fromUtf8(r.description));
    r = Record();
    r.tags = "[\"<tag>\", 42, null, {\"a\": 1}, \"]]>\", \"a,b\"]";
    row("tags that are no strings or carry markup", r, "demo-main", Expect::Installed);

    // Ids that are no number are the example test's table; these are valid records of no project.
    r = Record();
    r.id = "-5";
    row("negative id", r, "demo-main", Expect::NotInstalled);
    r.id = "9007199254740993";
    row("id beyond 2^53", r, "demo-main", Expect::NotInstalled);
    r.id = "1e300";
    row("id 1e300", r, "demo-main", Expect::NotInstalled);
    r.id = "%ID%.9"; // still asks for the real project's archive
    row("fractional id", r, "demo-main", Expect::Installed);

    r = Record();
    row("50 000 invalid records before a valid one", r, "demo-main", Expect::Installed,
        QStringLiteral("demo"), QStringLiteral("Demo"), QStringLiteral("About demo"), 50000);
}

void tst_HostileData::hostileRecord()
{
    QFETCH(Record, record);
    QFETCH(int, padding);
    QFETCH(QByteArray, topFolder);
    QFETCH(Expect, expect);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, description);

    m_fixture.reset();
    const qint64 id = m_fixture.server.addProject(m_fixture.groupId, project(QStringLiteral("real")));
    QVERIFY(id);
    m_fixture.server.setArchiveOverride(
        id, tarGz({TarEntry::file(topFolder + "/CMakeLists.txt", "project(demo)\n"),
                   TarEntry::file(topFolder + "/main.cpp", "int main() {}\n")},
                  true));

    // What must survive: an installed example, a folder beside the repository folder, and the
    // repository folder itself.
    const QString keep = m_fixture.exampleFolder(QStringLiteral("keep"));
    QVERIFY(installStubManifest(keep));
    const QString beside = m_fixture.dataRoot + QStringLiteral("/beside");
    QVERIFY(writeFile(beside + QStringLiteral("/file.txt"), "keep"));
    const QStringList keepBefore = tree(keep);

    QByteArray projects = "[";
    for (int i = 0; i < padding; ++i)
        projects += "{\"id\": 0, \"path\": \"x\", \"name\": \"<junk>\"},";
    projects += record.json(id) + "]";
    LocalGitLab::Fault listing;
    listing.kind = LocalGitLab::Fault::Status;
    listing.status = 200;
    listing.contentType = "application/json";
    listing.body = projects;
    m_fixture.server.addFault(LocalGitLab::Route::Projects, listing);

    QElapsedTimer clock;
    clock.start();
    DownloadService service;
    QSignalSpy updated(&service, &DownloadService::updated);
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QVERIFY(updated.wait(20000)); // the cycle
    const QString installedManifest = m_fixture.exampleFolder(folder)
                                      + QStringLiteral("/examples-manifest.xml");
    if (expect == Expect::Installed) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(installedManifest), 20000);
    } else {
        // Whatever it leads to has happened after the downloads of the cycle are over.
        QTest::qWait(1000);
    }
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(tree(keep), keepBefore);
    QCOMPARE(readFile(beside + QStringLiteral("/file.txt")), QStringLiteral("keep"));
    QVERIFY(QFileInfo(m_fixture.repositoryFolder()).isDir());
    QVERIFY(!QFile::exists(m_fixture.dataRoot + QStringLiteral("/examples-manifest.xml")));

    // Every manifest anywhere in the data location reads back.
    int manifests = 0;
    QDirIterator it(m_fixture.dataRoot, {QStringLiteral("examples-manifest.xml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ++manifests;
        QVERIFY2(isWellFormedManifest(path), qPrintable(path));
    }

    if (expect == Expect::Installed) {
        QString error;
        const ManifestFields fields = parsedManifestFile(installedManifest, &error);
        QCOMPARE(error, QString());
        QCOMPARE(fields.name, name);
        QCOMPARE(fields.description, description);
        QVERIFY(!fields.tags.isEmpty());
        QCOMPARE(manifests, 2);
    } else if (expect == Expect::NotInstalled) {
        QCOMPARE(manifests, 1); // keep's
        QVERIFY(!QFile::exists(installedManifest));
    }
    qInfo("FIGURE record=\"%s\" elapsed_ms=%lld statuses=%s", QTest::currentDataTag(), elapsed,
          qPrintable(texts(status).join(QStringLiteral(" | "))));
}

QTEST_MAIN(tst_HostileData)

#include "tst_hostiledata.moc"
