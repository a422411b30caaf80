// Hostile project records in a group listing, through the real client, the service and the
// manifest writer. The listing is served as raw bytes, so that records can carry what a JSON value
// cannot (invalid UTF-8, numbers beyond 2^53). Whatever a record says, nothing outside its own
// example folder is deleted, and every manifest written reads back with the record's texts.

#include "hardening.h"

using namespace Hardening;

class tst_HostileData : public Suite
{
    Q_OBJECT

private slots:
    void hostileRecord_data();
    void hostileRecord();
};

void tst_HostileData::hostileRecord_data()
{
    QTest::addColumn<QByteArray>("records"); // %ID% stands for the real project's id
    QTest::addColumn<QString>("folder");     // where it is installed; empty: nowhere
    QTest::addColumn<QString>("name");       // as the manifest must carry them
    QTest::addColumn<QString>("description");

    const auto record = [](const QByteArray &path, const QByteArray &name = "Demo",
                           const QByteArray &description = "About demo",
                           const QByteArray &tags = "[]", const QByteArray &id = "%ID%") {
        return "{\"id\": " + id + ", \"path\": \"" + path + "\", \"name\": \"" + name +
               "\", \"description\": \"" + description + "\", \"tag_list\": " + tags +
               ", \"web_url\": \"http://gitlab.invalid/group/x\", \"avatar_url\": null, "
               "\"last_activity_at\": \"2026-01-01T00:00:00.000Z\"}";
    };
    const auto row = [](const char *tag, const QByteArray &record, const QString &folder,
                        const QString &name = "Demo", const QString &description = "About demo") {
        QTest::newRow(tag) << record << folder << name << description;
    };
    // Which names are safe folder names is the settings test's table; ".." stands for them here.
    row("path ..", record(".."), {});
    row("path of 1000 characters", record(QByteArray(1000, 'x')), {});
    row("path that begins another installed example's", record("kee"), "kee");
    row("Unicode path with a division slash", record("\xe4\xbe\x8b\\u2215evil"), "例∕evil");
    row("control characters and non-characters",
        record("demo", "bell\\u0007\\u0001\\u001f", "tab\\tcr\\rnul\\u0000 \\ufffe\\ud800 end"),
        "demo", "bell", "tab\tcr\rnul  end");
    row("invalid UTF-8 in name and description",
        record("demo", "caf\xe9 \xff\xfe", "\xc3\x28 \xed\xa0\x80"), "demo",
        QString::fromUtf8("caf\xe9 \xff\xfe"), QString::fromUtf8("\xc3\x28 \xed\xa0\x80"));
    row("tags that are no strings or carry markup",
        record("demo", "Demo", "About demo", "[\"<tag>\", 42, null, {\"a\": 1}, \"]]>\", \"a,b\"]"),
        "demo");
    // Ids that are no number are the example test's table; this is a valid record of no project.
    row("id beyond 2^53", record("demo", "Demo", "About demo", "[]", "9007199254740993"), {});
    row("fractional id, still the real project's",
        record("demo", "Demo", "About demo", "[]", "%ID%.9"), "demo");
    row("50 000 invalid records before a valid one",
        QByteArray("{\"id\": 0, \"path\": \"x\", \"name\": \"<junk>\"},").repeated(50000) +
            record("demo"),
        "demo");
}

void tst_HostileData::hostileRecord()
{
    QFETCH(QByteArray, records);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, description);

    reset();
    const qint64 id = server.addProject(groupId, project("real"));
    QVERIFY(id);
    const QByteArray top = (folder.isEmpty() ? QByteArray("demo") : folder.toUtf8()) + "-main";
    server.setArchiveOverride(id, tarGz({TarEntry::file(top + "/CMakeLists.txt", "project(demo)\n"),
                                         TarEntry::file(top + "/main.cpp", "int main() {}\n")},
                                        true));

    // What must survive: an installed example and a folder beside the repository folder.
    const QString keep = exampleFolder("keep");
    QVERIFY(installStubManifest(keep));
    const QString beside = dataRoot + "/beside/file.txt";
    QVERIFY(writeFile(beside, "keep"));

    LocalGitLab::Fault listing = LocalGitLab::Fault::httpStatus(200);
    listing.contentType = "application/json";
    listing.body = "[" + records.replace("%ID%", QByteArray::number(id)) + "]";
    server.addFault(LocalGitLab::Route::Projects, listing);

    DownloadService service;
    QSignalSpy updated(&service, &DownloadService::updated);
    QVERIFY(updated.wait(20000)); // the cycle
    const QString manifest = exampleFolder(folder) + "/examples-manifest.xml";
    if (folder.isEmpty())
        QTest::qWait(1000); // whatever it leads to has happened once the cycle's downloads are over
    else
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(manifest), 20000);

    QCOMPARE(tree(keep), QStringList("examples-manifest.xml"));
    QCOMPARE(readFile(beside), QStringLiteral("keep"));

    // Every manifest anywhere in the data location reads back.
    QStringList manifests =
        tree(dataRoot).filter(QRegularExpression("(^|/)examples-manifest.xml$"));
    for (const QString &path : std::as_const(manifests))
        QVERIFY2(isWellFormedManifest(dataRoot + '/' + path), qPrintable(path));
    QCOMPARE(manifests.size(), folder.isEmpty() ? 1 : 2); // keep's, and the record's
    if (!folder.isEmpty()) {
        QString error;
        const ManifestFields fields = parsedManifestFile(manifest, &error);
        QCOMPARE(error, QString());
        QCOMPARE(fields.name, name);
        QCOMPARE(fields.description, description);
        QVERIFY(!fields.tags.isEmpty());
    }
}

QTEST_MAIN(tst_HostileData)

#include "tst_hostiledata.moc"
