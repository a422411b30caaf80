// What counts as the user's work in an installed example, on real folders.

#include "testfiles.h"

#include "service/localchanges.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tidepool::Internal;
using namespace TestFiles;
using Files = QMap<QString, QByteArray>;
using L = QStringList;

class tst_LocalChanges : public QObject
{
    Q_OBJECT

private slots:
    void changes_data();
    void changes();
    void withoutUsableRecord_data();
    void withoutUsableRecord();
};

void tst_LocalChanges::changes_data()
{
    QTest::addColumn<Files>("write"); // empty content: deleted
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("deleted");
    QTest::addColumn<QStringList>("userFiles");

    const L none;
    QTest::newRow("untouched") << Files() << none << none << none << none;
    QTest::newRow("manifest and icon rewritten, nested manifest edited")
        << Files{{"examples-manifest.xml", "<new/>"}, {"example-icon.png", "png"},
                 {"sub/examples-manifest.xml", "<mine/>"}}
        << L{"sub/examples-manifest.xml"} << none << none << none;
    QTest::newRow("edited, added, deleted")
        << Files{{"src/main.cpp", "int main() {}"}, {"src/extra.cpp", "x"}, {"README.md", {}}}
        << L{"src/main.cpp"} << L{"src/extra.cpp"} << L{"README.md"} << none;
    QTest::newRow("folder named build without a cache")
        << Files{{"build/notes.txt", "mine"}} << none << L{"build/notes.txt"} << none << none;
    QTest::newRow("per-user files, build folders anywhere")
        << Files{{"CMakeLists.txt.user", "<kit/>"}, {"sub/sub.pro.user", "<kit/>"},
                 {"build/x/CMakeCache.txt", "x"}, {"build/x/y.user", "in a build folder"},
                 {"build/x/app", "elf"}, {"sub/out/.qmake.stash", "x"}, {"sub/out/Makefile", "a"}}
        << none << none << none << L{"CMakeLists.txt.user", "sub/sub.pro.user"};
    // The IDE's copies of older per-user files, but no source file named like one.
    QTest::newRow("names like per-user files")
        << Files{{"CMakeLists.txt.user.4.8-pre1", "x"}, {"hello.pro.user.a1b2c3d", "x"},
                 {"settings.user", "x"}, {"models.user.cpp", "x"}, {"user.cpp", "x"},
                 {"CMakeLists.txt.userdata", "x"}}
        << none << L{"CMakeLists.txt.userdata", "models.user.cpp", "user.cpp"} << none
        << L{"CMakeLists.txt.user.4.8-pre1", "hello.pro.user.a1b2c3d", "settings.user"};
}

// The record of a freshly installed copy, then the user's hand on it.
void tst_LocalChanges::changes()
{
    QFETCH(Files, write);
    QFETCH(QStringList, changed);
    QFETCH(QStringList, added);
    QFETCH(QStringList, deleted);
    QFETCH(QStringList, userFiles);

    QTemporaryDir root;
    const QString folder = root.filePath("example");
    for (const char *file : {"CMakeLists.txt", "README.md", "src/main.cpp",
                             "sub/examples-manifest.xml", "examples-manifest.xml"})
        QVERIFY(writeFile(folder + '/' + file, QByteArray("content of ") + file));
    const QString record = root.filePath("record.json");
    QVERIFY(writeFile(record, serializeFingerprint(fingerprint(folder))));

    for (auto it = write.cbegin(); it != write.cend(); ++it) {
        if (it.value().isEmpty())
            QVERIFY(QFile::remove(folder + '/' + it.key()));
        else
            QVERIFY(writeFile(folder + '/' + it.key(), it.value()));
    }
    const LocalChanges changes = findLocalChanges(folder, record);
    QCOMPARE(changes.changed, changed);
    QCOMPARE(changes.added, added);
    QCOMPARE(changes.deleted, deleted);
    QCOMPARE(changes.userProjectFiles, userFiles);
    // The quick look that reads no file finds the same, since every change here is dated.
    QCOMPARE(findLocalChanges(folder, record, {}, CompareDepth::Metadata).all(), changes.all());
}

void tst_LocalChanges::withoutUsableRecord_data()
{
    QTest::addColumn<QByteArray>("record"); // "-": no record file
    QTest::newRow("no record") << QByteArray("-");
    QTest::newRow("not JSON") << QByteArray("garbage");
    QTest::newRow("unknown format") << QByteArray(R"({"format":2,"files":{}})");
    QTest::newRow("wrong entry") << QByteArray(R"({"format":1,"files":{"a":[1]}})");
}

// Unrecorded: files newer than the manifest are the user's, and without a manifest nothing is.
void tst_LocalChanges::withoutUsableRecord()
{
    QFETCH(QByteArray, record);
    QTemporaryDir root;
    const QString folder = root.filePath("example");
    const QDateTime installed = QDateTime::currentDateTime().addSecs(-3600);
    for (const char *file : {"CMakeLists.txt", "main.cpp", "examples-manifest.xml"}) {
        QVERIFY(writeFile(folder + '/' + file, "x"));
        QFile f(folder + '/' + file);
        QVERIFY(f.open(QFile::ReadWrite) && f.setFileTime(installed, f.FileModificationTime));
    }
    const QString recordFile = root.filePath("record.json");
    if (record != "-")
        QVERIFY(writeFile(recordFile, record));
    QVERIFY(findLocalChanges(folder, recordFile).isEmpty());

    QVERIFY(writeFile(folder + "/main.cpp", "mine"));
    QVERIFY(writeFile(folder + "/CMakeLists.txt.user", "<kit/>"));
    const LocalChanges changes = findLocalChanges(folder, recordFile);
    QCOMPARE(changes.all(), QStringList{"main.cpp"});
    QCOMPARE(changes.userProjectFiles, QStringList{"CMakeLists.txt.user"});

    QVERIFY(QFile::remove(folder + "/examples-manifest.xml"));
    QVERIFY(findLocalChanges(folder, recordFile).isEmpty());
}

QTEST_GUILESS_MAIN(tst_LocalChanges)

#include "tst_localchanges.moc"
