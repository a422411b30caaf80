#include "service/projectinspection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tidepool::Internal;

// name -> content; a name ending in "/" is an empty folder.
using Files = QMap<QString, QByteArray>;
// name -> seconds before now, for files whose age matters.
using Ages = QMap<QString, int>;

static void createTree(const QString &root, const Files &files, const Ages &ages = {})
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = root + '/' + it.key();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        if (it.key().endsWith('/'))
            continue;
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(it.value());
        file.flush();
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ages.value(it.key())),
                                 QFileDevice::FileModificationTime));
    }
}

class tst_ProjectInspection : public QObject
{
    Q_OBJECT

private slots:
    void projectFile_data();
    void projectFile();
    void fileToOpen_data();
    void fileToOpen();
    void icon_data();
    void icon();
};

void tst_ProjectInspection::projectFile_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<Ages>("ages");
    QTest::addColumn<QString>("expected");

    const Files both{{"app.pro", "TEMPLATE = app"}, {"CMakeLists.txt", "project(app)"}};
    QTest::newRow("qmake project modified last")
        << both << Ages{{"CMakeLists.txt", 100}, {"app.pro", 10}} << "app.pro";
    QTest::newRow("cmake project modified last")
        << both << Ages{{"CMakeLists.txt", 10}, {"app.pro", 100}} << "CMakeLists.txt";
    QTest::newRow("upper-case qmake project") << Files{{"APP.PRO", ""}} << Ages() << "APP.PRO";
    QTest::newRow("lower-case cmake project")
        << Files{{"cmakelists.txt", ""}} << Ages() << "cmakelists.txt";
    QTest::newRow("only in a subfolder")
        << Files{{"src/CMakeLists.txt", ""}, {"main.cpp", "int main() {}"}} << Ages() << "";
    QTest::newRow("hidden project file") << Files{{".app.pro", ""}} << Ages() << "";
    QTest::newRow("folder named like a project") << Files{{"app.pro/", ""}} << Ages() << "";
    QTest::newRow("similar names only")
        << Files{{"app.pro.user", ""}, {"CMakeLists.txt.user", ""}, {"app.pri", ""}} << Ages()
        << "";
}

void tst_ProjectInspection::projectFile()
{
    QFETCH(Files, files);
    QFETCH(Ages, ages);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    createTree(dir.path(), files, ages);
    QCOMPARE(findProjectFile(dir.path()), expected);
}

void tst_ProjectInspection::fileToOpen_data()
{
    QTest::addColumn<Files>("files"); // %ROOT%: the inspected folder's absolute path
    QTest::addColumn<QString>("expected");

    const QByteArray mainCpp = "#include <QGuiApplication>\nint main(int argc, char *argv[])\n{}\n";
    QTest::newRow("application window before main()")
        << Files{{"main.cpp", mainCpp},
                 {"qml/Main.qml", "// no ApplicationWindow here, only in this comment\nItem {}"},
                 {"app.pro", ""}}
        << "/qml/Main.qml";
    QTest::newRow("qml without application window")
        << Files{{"src/main.cpp", mainCpp}, {"qml/Page.qml", "Page {}"}} << "/src/main.cpp";
    QTest::newRow("qml pattern ignores case")
        << Files{{"qml/MAIN.QML", "ApplicationWindow {}"}, {"main.cpp", mainCpp}}
        << "/qml/MAIN.QML";
    QTest::newRow("main in any kind of file")
        << Files{{"README", "Start reading at int main(void)."}, {"app.pro", ""}}
        << "/README";
    QTest::newRow("blank before the parenthesis")
        << Files{{"main.cpp", "int main (int argc, char **argv) {}"}, {"app.pro", ""}}
        << "app.pro";
    QTest::newRow("text differs in case")
        << Files{{"Main.qml", "applicationwindow {}"}, {"CMakeLists.txt", ""}}
        << "CMakeLists.txt";
    QTest::newRow("hidden files are not searched")
        << Files{{".cache/main.cpp", mainCpp}, {"app.pro", ""}} << "app.pro";
    QTest::newRow("large files are not read")
        << Files{{"data.bin", QByteArray(maxContentSearchFileSize, 'x') + " main("},
                 {"app.pro", ""}}
        << "app.pro";
    QTest::newRow("nothing at all") << Files{{"src/CMakeLists.txt", ""}} << "";
    // Only the root is taken off the front, not the same text further in.
    QTest::newRow("root's text repeated inside")
        << Files{{"copy%ROOT%/main.cpp", "int main() {}"}} << "/copy%ROOT%/main.cpp";
}

void tst_ProjectInspection::fileToOpen()
{
    QFETCH(Files, files);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/example");
    Files tree;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        tree.insert(QString(it.key()).replace("%ROOT%", root), it.value());
    createTree(root, tree);
    expected.replace("%ROOT%", root);
    QCOMPARE(findFileToOpen(root), expected);
    // A trailing separator names the same folder.
    QCOMPARE(findFileToOpen(root + '/'), expected);
}

void tst_ProjectInspection::icon_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QString>("expected");

    QTest::newRow("largest image of 128x128")
        << Files{{"icons/128x128/small.png", QByteArray(10, 'a')},
                 {"icons/128x128/large.jpg", QByteArray(300, 'a')},
                 {"icons/128x128/medium.bmp", QByteArray(200, 'a')},
                 {"icons/256x256/huge.png", QByteArray(5000, 'a')}}
        << "icons/128x128/large.jpg";
    QTest::newRow("nested icons folder, extension in upper case")
        << Files{{"assets/icons/128x128/APP.PNG", "x"}} << "assets/icons/128x128/APP.PNG";
    QTest::newRow("images directly in icons")
        << Files{{"icons/app.png", "x"}, {"icons/86x86/app.png", "x"}} << "dummy.png";
    QTest::newRow("no image formats")
        << Files{{"icons/128x128/app.svg", "x"}, {"icons/128x128/app.ico", "x"}} << "dummy.png";
    QTest::newRow("empty size folder, then a good one")
        << Files{{"a/icons/128x128/", ""}, {"b/icons/128x128/b.png", "x"}}
        << "b/icons/128x128/b.png";
    QTest::newRow("no icons") << Files{{"main.cpp", ""}} << "dummy.png";
}

void tst_ProjectInspection::icon()
{
    QFETCH(Files, files);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    createTree(dir.path(), files);
    if (expected != QLatin1String("dummy.png"))
        expected = QFileInfo(dir.path() + '/' + expected).canonicalFilePath();
    QCOMPARE(findIcon(dir.path()), expected);
}

QTEST_GUILESS_MAIN(tst_ProjectInspection)

#include "tst_projectinspection.moc"
