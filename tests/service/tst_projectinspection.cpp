#include "service/projectinspection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tidepool::Internal;

// name -> content ("NAME/": an empty folder; %ROOT%: the inspected folder), name -> seconds old.
using Files = QMap<QString, QByteArray>;
using Ages = QMap<QString, int>;

class tst_ProjectInspection : public QObject
{
    Q_OBJECT

private slots:
    void inspect_data();
    void inspect();
};

void tst_ProjectInspection::inspect_data()
{
    QTest::addColumn<QString>("look"); // project, open or icon
    QTest::addColumn<Files>("files");
    QTest::addColumn<Ages>("ages");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *look, const char *name, const Files &files, const QString &expected,
                        const Ages &ages = {}) {
        QTest::addRow("%s: %s", look, name) << look << files << ages << expected;
    };
    const Files both{{"app.pro", "TEMPLATE = app"}, {"CMakeLists.txt", "project(app)"}};
    row("project", "qmake project modified last", both, "app.pro", {{"CMakeLists.txt", 9}, {"app.pro", 1}});
    row("project", "cmake project modified last", both, "CMakeLists.txt", {{"CMakeLists.txt", 1}, {"app.pro", 9}});
    row("project", "lower-case cmake project", {{"cmakelists.txt", ""}}, "cmakelists.txt");
    row("project", "hidden project file", {{".app.pro", ""}}, "");
    row("project", "folder named like a project", {{"app.pro/", ""}}, "");
    row("project", "similar names only", {{"app.pro.user", ""}, {"CMakeLists.txt.user", ""}, {"app.pri", ""}}, "");

    const QByteArray mainCpp = "#include <QGuiApplication>\nint main(int argc, char *argv[])\n{}\n";
    row("open", "qml pattern ignores case", {{"qml/MAIN.QML", "ApplicationWindow {}"}, {"main.cpp", mainCpp}},
        "/qml/MAIN.QML");
    row("open", "main in any kind of file", {{"README", "Start reading at int main(void)."}, {"app.pro", ""}},
        "/README");
    row("open", "blank before the parenthesis",
        {{"main.cpp", "int main (int argc, char **argv) {}"}, {"app.pro", ""}}, "app.pro");
    row("open", "text differs in case", {{"Main.qml", "applicationwindow {}"}, {"CMakeLists.txt", ""}},
        "CMakeLists.txt");
    row("open", "hidden files are not searched", {{".cache/main.cpp", mainCpp}, {"app.pro", ""}}, "app.pro");
    row("open", "large files are skipped, not read",
        {{"data.bin", QByteArray(maxContentSearchFileSize, 'x') + " main("}, {"main.cpp", mainCpp},
         {"app.pro", ""}}, "/main.cpp");
    row("open", "nothing at all", {{"src/CMakeLists.txt", ""}}, "");
    // Only the root is taken off the front, not the same text further in.
    row("open", "root's text repeated inside", {{"copy%ROOT%/main.cpp", "int main() {}"}}, "/copy%ROOT%/main.cpp");

    row("icon", "largest image of 128x128",
        {{"icons/128x128/small.png", QByteArray(10, 'a')}, {"icons/128x128/large.jpg", QByteArray(300, 'a')},
         {"icons/128x128/medium.bmp", QByteArray(200, 'a')}, {"icons/256x256/huge.png", QByteArray(5000, 'a')}},
        "%ROOT%/icons/128x128/large.jpg");
    row("icon", "nested icons folder, extension in upper case", {{"assets/icons/128x128/APP.PNG", "x"}},
        "%ROOT%/assets/icons/128x128/APP.PNG");
    row("icon", "images directly in icons", {{"icons/app.png", "x"}, {"icons/86x86/app.png", "x"}}, "dummy.png");
    row("icon", "no image formats", {{"icons/128x128/app.svg", "x"}, {"icons/128x128/app.ico", "x"}}, "dummy.png");
    row("icon", "empty size folder, then a good one", {{"a/icons/128x128/", ""}, {"b/icons/128x128/b.png", "x"}},
        "%ROOT%/b/icons/128x128/b.png");
}

void tst_ProjectInspection::inspect()
{
    QFETCH(QString, look);
    QFETCH(Files, files);
    QFETCH(Ages, ages);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/example");
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = root + '/' + QString(it.key()).replace("%ROOT%", root);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (path.endsWith('/'))
            continue;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(it.value()) == it.value().size() && file.flush());
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ages.value(it.key())),
                                 QFileDevice::FileModificationTime));
    }
    expected.replace("%ROOT%", root);
    QCOMPARE(look == "project" ? findProjectFile(root) : look == "icon" ? findIcon(root) : findFileToOpen(root),
             expected);
    if (look == "open") // a trailing separator names the same folder
        QCOMPARE(findFileToOpen(root + '/'), expected);
}

QTEST_GUILESS_MAIN(tst_ProjectInspection)

#include "tst_projectinspection.moc"
