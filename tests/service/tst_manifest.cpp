#include "manifestreader.h"

#include <QDomDocument>

using namespace Tidepool::Internal;

Q_DECLARE_METATYPE(ManifestFields)

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void readBack_data();
    void readBack();
};

void tst_Manifest::readBack_data()
{
    QTest::addColumn<ManifestFields>("fields");
    QTest::addColumn<ManifestFields>("expected");

    const QString forbidden = QString(QChar(0x1)) + QChar(0x8) + QChar(0xB) + QChar(0x1F)
                              + QChar(0xFFFE) + QChar(0xFFFF) + QChar(0xDFFF) + QChar(0xD800);
    const ManifestFields plain{"Examples", "Hello World", "CMakeLists.txt",
                               "/data/VeyraSDK/Examples/hello/example-icon.png", "A small example.",
                               "Qt,example", "/qml/Main.qml"};
    const auto described = [&plain](const QString &text) { auto f = plain; f.description = text; return f; };
    const auto same = [&described](const char *name, const QString &text) {
        QTest::newRow(name) << described(text) << described(text);
    };

    same("empty description", QString());
    same("markup and section ends in the description", "<b>Tom & \"Jerry\"</b> a]]>b]]>c");
    same("brackets before the end", "]]]]]>>]]");
    same("line ends of every kind", "one\r\ntwo\rthree\n\tfour\r");
    same("beyond the basic plane", QStringLiteral("Fish \U0001F41F and \u00E9t\u00E9"));
    QTest::newRow("forbidden characters dropped from the description")
        << described("a" + forbidden + "b]]" + QChar(0x1) + ">c") << described("ab]]>c");
    QTest::newRow("unpaired surrogate at the end")
        << described(QStringLiteral("fish ") + QChar(0xD83D)) << described("fish ");
    const ManifestFields markup{"R&D \"<lab>\"", "a < b & c > 'd'", "a&b.pro", "x\"y.png", "",
                                "<t>,&amp;", "/]]>/main.cpp"};
    QTest::newRow("markup in the other fields") << markup << markup;
    ManifestFields hostile = plain;
    for (QString *field : {&hostile.module, &hostile.name, &hostile.projectPath, &hostile.imageUrl,
                           &hostile.tags, &hostile.fileToOpen})
        field->insert(1, forbidden);
    QTest::newRow("forbidden characters dropped from the other fields") << hostile << plain;
}

void tst_Manifest::readBack()
{
    QFETCH(ManifestFields, fields);
    QFETCH(ManifestFields, expected);

    const QByteArray xml = manifestXml(fields);
    QString error;
    QCOMPARE(parsedManifest(xml, &error), expected);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(xml.startsWith("<?xml version='1.0' encoding='utf-8'?>\n<!-- Generated file. This "
                           "file is used by SDK to show example inside Welcome screen. It is not "
                           "the part of the example. -->\n<instructionals module="));
    // A strict parser agrees, the description's markup stays text, the template's elements are kept.
    QDomDocument document;
    QVERIFY2(document.setContent(xml, &error), qPrintable(error));
    QVERIFY(document.elementsByTagName("b").isEmpty());
    const QDomElement example =
        document.documentElement().firstChildElement("examples").firstChildElement("example");
    QStringList children;
    for (QDomElement e = example.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        children << e.tagName() + (e.tagName().startsWith('p') ? '=' + e.text() : QString());
    QCOMPARE(children, QStringList({"description", "tags", "platforms=Zel",
                                    "preferredFeatures=Zel.Wizard.Feature.Emulator", "fileToOpen"}));
}

QTEST_GUILESS_MAIN(tst_Manifest)

#include "tst_manifest.moc"
