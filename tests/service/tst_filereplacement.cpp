// Deleting an example's folder (with the Unix walk and the portable one) and replacing a file.

#include "testfiles.h"

#include "service/folderremoval.h"
#include "service/manifestwriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tidepool::Internal;
using namespace TestFiles;

using Removal = bool (*)(const QString &);
Q_DECLARE_METATYPE(Removal)

class tst_FileReplacement : public QObject
{
    Q_OBJECT

private slots:
    void removal_data();
    void removal();
    void replaceOverExisting();
};

void tst_FileReplacement::removal_data()
{
    QTest::addColumn<Removal>("remove");
    QTest::addColumn<QString>("target"); // relative to the case's folder
    QTest::addColumn<bool>("gone");

    const QList<QPair<const char *, Removal>> ways{{"file tree walk", &removeFolder}, {"Qt", &removeFolderPortably}};
    for (const auto &[way, remove] : ways) {
        QTest::addRow("%s: tree with links and a read-only file", way) << remove << "example" << true;
        QTest::addRow("%s: a link to a folder", way) << remove << "link" << true;
        QTest::addRow("%s: a file", way) << remove << "example/CMakeLists.txt" << true;
        QTest::addRow("%s: nothing there", way) << remove << "missing" << true;
        QTest::addRow("%s: no path", way) << remove << "" << false;
    }
}

// What a link points to is never entered: the folder outside keeps its file.
void tst_FileReplacement::removal()
{
    QFETCH(Removal, remove);
    QFETCH(QString, target);
    QFETCH(bool, gone);

    QTemporaryDir root;
    const QString outside = root.filePath("outside");
    QVERIFY(writeFile(outside + "/keep.txt", "keep"));
    QVERIFY(writeFile(root.filePath("example/CMakeLists.txt"), "project(x)"));
    QVERIFY(writeFile(root.filePath("example/src/.hidden/main.cpp"), "int main() {}"));
    QVERIFY(writeFile(root.filePath("example/readonly.txt"), "r"));
    QVERIFY(QFile::setPermissions(root.filePath("example/readonly.txt"), QFile::ReadOwner));
    QVERIFY(QFile::link(outside, root.filePath("example/src/outside-link")));
    QVERIFY(QFile::link(outside + "/keep.txt", root.filePath("example/file-link")));
    QVERIFY(QFile::link(outside, root.filePath("link")));

    const QString path = target.isEmpty() ? QString() : root.filePath(target);
    QCOMPARE(remove(path), gone);
    QVERIFY(path.isEmpty() || (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()));
    QCOMPARE(tree(outside), QStringList{"keep.txt"});
}

void tst_FileReplacement::replaceOverExisting()
{
    QTemporaryDir root;
    const QString file = root.filePath("record");
    QVERIFY(replaceFile(file, "first\n"));
    QVERIFY(replaceFile(file, "second\n"));
    QCOMPARE(readFile(file), QStringLiteral("second\n"));
    // A folder in the way is not replaced, and nothing is left beside it.
    QVERIFY(QDir().mkpath(root.filePath("taken")));
    QVERIFY(!replaceFile(root.filePath("taken"), "x"));
    QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"record", "taken"}));
}

QTEST_GUILESS_MAIN(tst_FileReplacement)

#include "tst_filereplacement.moc"
