#include <examplecatalog.h>
#include <examplereport.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Shell;

class tst_ExampleCatalog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void parseSets_data();
    void parseSets();

    void resolvePath_data();
    void resolvePath();

    void generatedManifestIsRead();
    void visibility_data();
    void visibility();
    void onlyManifestsOneFolderDownAreRead();
    void mainFileIsOpenedLast();
    void highlightedFirstThenByName();
    void brokenManifestIsReportedAndOthersStillListed();

    void reportMarksExamplesWrittenDuringTheRun();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void write(const QString &relative, const QByteArray &content = "x");
    void writeExample(const QString &folder, const QString &attributes,
                      const QByteArray &children = {});

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_ExampleCatalog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_ExampleCatalog::write(const QString &relative, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path(relative)).absolutePath()));
    QFile file(path(relative));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void tst_ExampleCatalog::writeExample(const QString &folder, const QString &attributes,
                                      const QByteArray &children)
{
    write(folder + "/examples-manifest.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<instructionals module=\"m\"><examples>"
          "<example " + attributes.toUtf8() + ">" + children + "</example></examples></instructionals>");
}

void tst_ExampleCatalog::parseSets_data()
{
    QTest::addColumn<QStringList>("entries");   // "@" stands for the temporary folder
    QTest::addColumn<QStringList>("expectedNames");

    QTest::newRow("name, manifest folder, examples folder") << QStringList{"A|@/sets/a|@/sets/a"}
                                                            << QStringList{"A"};
    QTest::newRow("two parts are not enough") << QStringList{"A|@/sets/a"} << QStringList{};
    QTest::newRow("further parts are ignored") << QStringList{"A|@/sets/a|@/sets/a|extra"}
                                               << QStringList{"A"};
    QTest::newRow("manifest folder missing") << QStringList{"A|@/sets/missing|@/sets/a"}
                                             << QStringList{};
    QTest::newRow("manifest path is a file") << QStringList{"A|@/sets/file|@/sets/a"}
                                             << QStringList{};
    QTest::newRow("examples folder need not exist") << QStringList{"A|@/sets/a|@/nowhere"}
                                                    << QStringList{"A"};
    QTest::newRow("same folders twice, spelled differently")
        << QStringList{"A|@/sets/a|@/sets/a", "B|@/sets/a/|@/sets/./a"} << QStringList{"A"};
    QTest::newRow("same manifest folder, other examples folder")
        << QStringList{"A|@/sets/a|@/sets/a", "B|@/sets/a|@/sets/b"} << QStringList{"A", "B"};
    QTest::newRow("order is kept") << QStringList{"B|@/sets/b|@/sets/b", "A|@/sets/a|@/sets/a"}
                                   << QStringList{"B", "A"};
    QTest::newRow("empty entry") << QStringList{""} << QStringList{};
}

void tst_ExampleCatalog::parseSets()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expectedNames);
    QVERIFY(QDir().mkpath(path("sets/a")));
    QVERIFY(QDir().mkpath(path("sets/b")));
    write("sets/file");
    for (QString &entry : entries)
        entry.replace('@', m_dir->path());

    QStringList names;
    for (const ExampleSet &set : ExampleCatalog::parseSets(entries))
        names.append(set.displayName);
    QCOMPARE(names, expectedNames);
}

void tst_ExampleCatalog::resolvePath_data()
{
    QTest::addColumn<QString>("text");       // "@" stands for the temporary folder
    QTest::addColumn<QString>("expected");

    // Manifest folder @/set/ex, examples folder @/set.
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("relative, beside the manifest") << "main.cpp" << "@/set/ex/main.cpp";
    QTest::newRow("relative, below the manifest") << "qml/Main.qml" << "@/set/ex/qml/Main.qml";
    QTest::newRow("relative, only in the examples folder") << "shared.pri" << "@/set/shared.pri";
    QTest::newRow("relative, nowhere: examples folder") << "gone.cpp" << "@/set/gone.cpp";
    QTest::newRow("leading separator below the manifest") << "/qml/Main.qml" << "@/set/ex/qml/Main.qml";
    QTest::newRow("absolute elsewhere") << "@/other/file.txt" << "@/other/file.txt";
    QTest::newRow("absolute, missing everywhere") << "/no/such/file" << "/no/such/file";
}

void tst_ExampleCatalog::resolvePath()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    write("set/ex/main.cpp");
    write("set/ex/qml/Main.qml");
    write("set/shared.pri");
    write("other/file.txt");
    text.replace('@', m_dir->path());
    expected.replace('@', m_dir->path());

    QCOMPARE(ExampleCatalog::resolvePath(text, path("set/ex"), path("set")), expected);
}

void tst_ExampleCatalog::generatedManifestIsRead()
{
    // The shape the plugin writes: bare project file name, absolute image, CDATA description,
    // comma-separated tags, file to open below the example with a leading separator.
    write("set/clock/CMakeLists.txt");
    write("set/clock/qml/Main.qml");
    write("set/clock/example-icon.png");
    writeExample("set/clock",
                 QString("name=\"Clock\" projectPath=\"CMakeLists.txt\" imageUrl=\"%1\"")
                     .arg(path("set/clock/example-icon.png")),
                 "<description><![CDATA[Draws <Shape> items & more]]></description>"
                 "<tags>qml, quick ,clock,</tags><platforms>Zel</platforms>"
                 "<preferredFeatures>Zel.Wizard.Feature.Emulator</preferredFeatures>"
                 "<fileToOpen>/qml/Main.qml</fileToOpen>");

    const QList<ExampleItem> items = ExampleCatalog::scan({"Set", path("set"), path("set")});
    QCOMPARE(items.size(), 1);
    const ExampleItem &item = items.first();
    QCOMPARE(item.name, "Clock");
    QCOMPARE(item.description, "Draws <Shape> items & more");
    QCOMPARE(item.tags, QStringList({"qml", "quick", "clock"}));
    QCOMPARE(item.platforms, QStringList{"Zel"});
    QCOMPARE(item.projectPath, path("set/clock/CMakeLists.txt"));
    QCOMPARE(item.filesToOpen, QStringList{path("set/clock/qml/Main.qml")});
    QCOMPARE(item.imageUrl, path("set/clock/example-icon.png"));
    QVERIFY2(item.isVisible(), qPrintable(item.brokenReason));
}

void tst_ExampleCatalog::visibility_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<bool>("visible");

    QTest::newRow("project and image") << "projectPath=\"app.pro\" imageUrl=\"dummy.png\"" << true;
    QTest::newRow("project file missing") << "projectPath=\"other.pro\" imageUrl=\"dummy.png\"" << false;
    QTest::newRow("no project") << "imageUrl=\"dummy.png\"" << false;
    QTest::newRow("empty image") << "projectPath=\"app.pro\" imageUrl=\"\"" << false;
    QTest::newRow("no image") << "projectPath=\"app.pro\"" << false;
    QTest::newRow("help image without host")
        << "projectPath=\"app.pro\" imageUrl=\"qthelp:////images/a.png\"" << false;
    QTest::newRow("help image") << "projectPath=\"app.pro\" imageUrl=\"qthelp://org.qt/a.png\"" << true;
    QTest::newRow("invalid documentation address")
        << "projectPath=\"app.pro\" imageUrl=\"dummy.png\" docUrl=\"http://[::1\"" << false;
}

void tst_ExampleCatalog::visibility()
{
    QFETCH(QString, attributes);
    QFETCH(bool, visible);
    write("set/app/app.pro");
    writeExample("set/app", "name=\"App\" " + attributes);

    const QList<ExampleItem> items = ExampleCatalog::scan({"Set", path("set"), path("set")});
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().isVisible(), visible);
    QCOMPARE(items.first().brokenReason.isEmpty(), visible);
}

void tst_ExampleCatalog::onlyManifestsOneFolderDownAreRead()
{
    write("set/top.pro");
    write("set/examples-manifest.xml",
          "<instructionals><examples><example name=\"AtTop\" projectPath=\"top.pro\" "
          "imageUrl=\"dummy.png\"/></examples></instructionals>");
    write("set/a/b/deep.pro");
    writeExample("set/a/b", "name=\"TooDeep\" projectPath=\"deep.pro\" imageUrl=\"dummy.png\"");
    write("set/one/one.pro");
    writeExample("set/one", "name=\"OneDown\" projectPath=\"one.pro\" imageUrl=\"dummy.png\"");
    write("set/demo/demo.pro");
    write("set/demo/demos-manifest.xml",
          "<instructionals><demos><demo name=\"Demo\" projectPath=\"demo.pro\" "
          "imageUrl=\"dummy.png\"/></demos></instructionals>");

    QStringList names;
    for (const ExampleItem &item : ExampleCatalog::scan({"Set", path("set"), path("set")}))
        names.append(item.name);
    QCOMPARE(names, QStringList({"Demo", "OneDown"}));
}

void tst_ExampleCatalog::mainFileIsOpenedLast()
{
    write("set/app/app.pro");
    write("set/app/main.cpp");
    write("set/app/a.cpp");
    write("set/app/b.cpp");
    writeExample("set/app", "name=\"App\" projectPath=\"app.pro\" imageUrl=\"dummy.png\"",
                 "<fileToOpen mainFile=\"true\">main.cpp</fileToOpen>"
                 "<fileToOpen>a.cpp</fileToOpen><fileToOpen>b.cpp</fileToOpen>"
                 "<description>Uses <i>italic</i> and <tt>mono</tt></description>");

    const QList<ExampleItem> items = ExampleCatalog::scan({"Set", path("set"), path("set")});
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().filesToOpen,
             QStringList({path("set/app/a.cpp"), path("set/app/b.cpp"), path("set/app/main.cpp")}));
    QCOMPARE(items.first().description, "Uses italic and mono");
}

void tst_ExampleCatalog::highlightedFirstThenByName()
{
    for (const char *name : {"delta", "alpha", "charlie", "bravo"}) {
        write(QString("set/%1/p.pro").arg(name));
        const bool highlighted = QByteArray(name) == "delta" || QByteArray(name) == "charlie";
        writeExample(QString("set/%1").arg(name),
                     QString("name=\"%1\" projectPath=\"p.pro\" imageUrl=\"dummy.png\"%2")
                         .arg(name, highlighted ? " isHighlighted=\"true\"" : ""));
    }
    QStringList names;
    for (const ExampleItem &item : ExampleCatalog::scan({"Set", path("set"), path("set")}))
        names.append(item.name);
    QCOMPARE(names, QStringList({"charlie", "delta", "alpha", "bravo"}));
}

void tst_ExampleCatalog::brokenManifestIsReportedAndOthersStillListed()
{
    write("set/bad/examples-manifest.xml", "<instructionals><examples><example name=\"x\">");
    write("set/good/good.pro");
    writeExample("set/good", "name=\"Good\" projectPath=\"good.pro\" imageUrl=\"dummy.png\"");

    QStringList errors;
    const QList<ExampleItem> items = ExampleCatalog::scan({"Set", path("set"), path("set")}, &errors);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().name, "Good");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains("bad"), qPrintable(errors.first()));
}

void tst_ExampleCatalog::reportMarksExamplesWrittenDuringTheRun()
{
    write("set/old/old.pro");
    writeExample("set/old", QString("name=\"Old\" projectPath=\"old.pro\" imageUrl=\"%1\"")
                                .arg(path("set/old/example-icon.png")));
    QFile oldManifest(path("set/old/examples-manifest.xml"));
    QVERIFY(oldManifest.open(QIODevice::ReadWrite));
    QVERIFY(oldManifest.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                    QFileDevice::FileModificationTime));
    oldManifest.close();
    const QDateTime runStart = QDateTime::currentDateTime().addSecs(-1);
    write("set/new/new.pro");
    writeExample("set/new", "name=\"New\" projectPath=\"new.pro\" imageUrl=\"/elsewhere/new.png\" ",
                 "<tags>b,a</tags>");
    write("set/hidden/examples-manifest.xml",
          "<instructionals><examples><example name=\"Hidden\" projectPath=\"none.pro\" "
          "imageUrl=\"x.png\"/></examples></instructionals>");

    int hidden = 0;
    const QList<ExampleReport::Row> rows = ExampleReport::collect(
        {{"Set", path("set"), path("set")}}, runStart, &hidden);
    QCOMPARE(hidden, 1);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).name, "New");
    QVERIFY(rows.at(0).updated);
    QCOMPARE(rows.at(0).projectFile, "new/new.pro");
    QCOMPARE(rows.at(0).image, "/elsewhere/new.png");
    QCOMPARE(rows.at(0).tags, "b,a");
    QCOMPARE(rows.at(1).name, "Old");
    QVERIFY(!rows.at(1).updated);
    QCOMPARE(rows.at(1).image, "old/example-icon.png");

    const QStringList lines = ExampleReport::table(rows).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    static const QRegularExpression columns("\\s{2,}");
    QCOMPARE(lines.at(0).split(columns), QStringList({"SET", "NAME", "PROJECT FILE", "IMAGE", "TAGS", "STATE"}));
    QCOMPARE(lines.at(1).split(columns),
             QStringList({"Set", "New", "new/new.pro", "/elsewhere/new.png", "b,a", "updated"}));
    QCOMPARE(lines.at(2).split(columns).last(), "unchanged");
}

QTEST_GUILESS_MAIN(tst_ExampleCatalog)
#include "tst_examplecatalog.moc"
