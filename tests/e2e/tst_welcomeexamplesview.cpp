#include <welcomeexamplesview.h>

#include "testfiles.h"

#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Shell;
using TestFiles::writeFile;

class tst_WelcomeExamplesView : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { HostStandIn::reset(); }
    void readingRules_data();
    void readingRules();
};

void tst_WelcomeExamplesView::readingRules_data()
{
    QTest::addColumn<QString>("entry");        // "@" stands for the temporary folder
    QTest::addColumn<QString>("folder");       // of the manifest and the example's files
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("fileToOpen");
    QTest::addColumn<QStringList>("shown");    // project file and file to open, resolved

    const QString set = "Set|@/set|@/set";
    const QString ok = R"(projectPath="app.pro" imageUrl="x.png")";
    QTest::newRow("file below the manifest folder") << set << "set/app" << ok << "/qml/Main.qml"
        << QStringList{"@/set/app/app.pro", "@/set/app/qml/Main.qml"};
    QTest::newRow("manifest folder before examples folder") << set << "set/app" << ok << "main.cpp"
        << QStringList{"@/set/app/app.pro", "@/set/app/main.cpp"};
    QTest::newRow("entry of two parts") << "Set|@/set" << "set/app" << ok << "main.cpp" << QStringList();
    QTest::newRow("manifest folder missing") << "Set|@/gone|@/set" << "set/app" << ok << "main.cpp"
                                             << QStringList();
    QTest::newRow("manifest in the set folder") << set << "set" << ok << "main.cpp" << QStringList();
    QTest::newRow("manifest two folders down") << set << "set/a/app" << ok << "main.cpp" << QStringList();
    QTest::newRow("project file missing") << set << "set/app"
        << R"(projectPath="other.pro" imageUrl="x.png")" << "main.cpp" << QStringList();
    QTest::newRow("image empty") << set << "set/app" << R"(projectPath="app.pro" imageUrl="")"
                                 << "main.cpp" << QStringList();
}

void tst_WelcomeExamplesView::readingRules()
{
    QFETCH(QString, entry);
    QFETCH(QString, folder);
    QFETCH(QString, attributes);
    QFETCH(QString, fileToOpen);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *file : {"app.pro", "main.cpp", "qml/Main.qml"})
        QVERIFY(writeFile(dir.filePath(folder + '/' + file)));
    QVERIFY(writeFile(dir.filePath("set/main.cpp")));
    QVERIFY(writeFile(dir.filePath(folder + "/examples-manifest.xml"),
                  QString("<instructionals><examples><example name=\"App\" %1><fileToOpen>%2</fileToOpen>"
                          "</example></examples></instructionals>")
                      .arg(attributes, fileToOpen).toUtf8()));
    HostStandIn::setSettingsPath(dir.filePath("settings"));
    Core::ICore::settings()->setValue("Help/InstalledExamples",
                                          QStringList{entry.replace('@', dir.path())});

    WelcomeExamplesView view;
    QStringList paths;
    for (const ExampleItem &item : view.shownExamples())
        paths << item.projectPath << item.filesToOpen;
    QCOMPARE(paths, shown.replaceInStrings("@", dir.path()));
}

QTEST_MAIN(tst_WelcomeExamplesView)
#include "tst_welcomeexamplesview.moc"
