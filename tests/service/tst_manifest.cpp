#include "service/manifestwriter.h"

#include <QDomDocument>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

using namespace Tidepool::Internal;

namespace {

// What the host's example parser sees: attributes and element texts, read the way it reads them.
struct Parsed
{
    QString error;
    QMap<QString, QString> values; // "module", "name", ..., "description", "tags", ...
};

Parsed parse(const QByteArray &xml)
{
    Parsed parsed;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString element = reader.name().toString();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (element == QLatin1String("instructionals")) {
            parsed.values[QStringLiteral("module")] =
                attributes.value(QLatin1String("module")).toString();
        } else if (element == QLatin1String("example")) {
            for (const char *name : {"name", "projectPath", "imageUrl"})
                parsed.values[QLatin1String(name)] =
                    attributes.value(QLatin1String(name)).toString();
        } else if (element != QLatin1String("examples")) {
            parsed.values[element] = reader.readElementText();
        }
    }
    if (reader.hasError())
        parsed.error = reader.errorString();
    return parsed;
}

const QString forbidden = QString(QChar(0x1)) + QChar(0x8) + QChar(0xB) + QChar(0xC) + QChar(0x1F) +
                          QChar(0xFFFE) + QChar(0xFFFF) + QChar(0xDFFF) + QChar(0xD800);

} // namespace

Q_DECLARE_METATYPE(ManifestFields)

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void templateIsKept();
    void description_data();
    void description();
    void otherFields_data();
    void otherFields();
};

void tst_Manifest::templateIsKept()
{
    QFile resource(QStringLiteral(":/examples-manifest.xml"));
    const ManifestFields fields{"Demo repo", "Demo",    "app.pro",  "/x/example-icon.png",
                                "About it",  "Qt,demo", "/main.cpp"};
    const QByteArray xml = manifestXml(fields);
    // The resource is registered by the writer on first use.
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QCOMPARE(resource.size(), 493);

    QDomDocument document;
    QVERIFY(document.setContent(xml));
    QVERIFY(xml.startsWith("<?xml version='1.0' encoding='utf-8'?>\n<!-- Generated file. This "
                           "file is used by SDK to show example inside Welcome screen. It is not "
                           "the part of the example. -->\n<instructionals module=\"Demo repo\">"));
    const QDomElement example =
        document.documentElement().firstChildElement("examples").firstChildElement("example");
    QStringList children;
    for (QDomElement e = example.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        children << e.tagName() + QLatin1Char('=') + e.text();
    QCOMPARE(children, QStringList({"description=About it", "tags=Qt,demo", "platforms=Zel",
                                    "preferredFeatures=Zel.Wizard.Feature.Emulator",
                                    "fileToOpen=/main.cpp"}));
    QCOMPARE(example.firstChildElement("description").firstChild().nodeType(),
             QDomNode::CDATASectionNode);
    QVERIFY(xml.contains("<description><![CDATA[About it]]></description>"));
}

void tst_Manifest::description_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const QString &text) {
        QTest::newRow(name) << text << text;
    };
    row("plain", QStringLiteral("A small example."));
    row("empty", QString());
    row("markup", QStringLiteral("<b>Tom & \"Jerry\"</b> <![CDATA[x]]> &amp;"));
    row("section end", QStringLiteral("]]>"));
    row("section ends around text", QStringLiteral("a]]>b]]>c"));
    row("brackets before the end", QStringLiteral("]]]]]>>]]"));
    row("line ends of every kind", QStringLiteral("one\r\ntwo\rthree\n\tfour\r"));
    row("blanks only", QStringLiteral("  \n "));
    row("beyond the basic plane", QStringLiteral("Fish \U0001F41F and \u00E9t\u00E9"));
    QTest::newRow("forbidden characters dropped")
        << QStringLiteral("a") + forbidden + QStringLiteral("b]]") + QChar(0x1) +
               QStringLiteral(">c")
        << QStringLiteral("ab]]>c");
    QTest::newRow("unpaired surrogate at the end")
        << QStringLiteral("fish ") + QChar(0xD83D) << QStringLiteral("fish ");
}

void tst_Manifest::description()
{
    QFETCH(QString, description);
    QFETCH(QString, expected);

    ManifestFields fields;
    fields.projectPath = QStringLiteral("app.pro");
    fields.description = description;
    const QByteArray xml = manifestXml(fields);

    const Parsed parsed = parse(xml);
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QCOMPARE(parsed.values.value("description"), expected);

    QDomDocument document;
    QString error;
    QVERIFY2(document.setContent(xml, &error), qPrintable(error));
    // Markup in the description stays character data.
    QVERIFY(document.elementsByTagName("b").isEmpty());
}

void tst_Manifest::otherFields_data()
{
    QTest::addColumn<ManifestFields>("fields");
    QTest::addColumn<ManifestFields>("expected");

    const ManifestFields plain{"Examples",
                               "Hello World",
                               "CMakeLists.txt",
                               "/data/VeyraSDK/Examples/hello/example-icon.png",
                               "",
                               "Qt,example",
                               "/qml/Main.qml"};
    QTest::newRow("plain") << plain << plain;
    const ManifestFields markup{"R&D \"<lab>\"", "a < b & c > 'd'", "a&b.pro", "x\"y.png", "",
                                "<t>,&amp;",     "/]]>/main.cpp"};
    QTest::newRow("markup characters") << markup << markup;
    const ManifestFields whitespace{"tab\there", "line\nbreak", "cr\r.pro", " lead",
                                    "",          " a , b ",     "/a\r\nb"};
    QTest::newRow("whitespace") << whitespace << whitespace;
    ManifestFields hostile = plain;
    for (QString *field : {&hostile.module, &hostile.name, &hostile.projectPath, &hostile.imageUrl,
                           &hostile.tags, &hostile.fileToOpen})
        field->insert(1, forbidden);
    QTest::newRow("forbidden characters dropped") << hostile << plain;
}

void tst_Manifest::otherFields()
{
    QFETCH(ManifestFields, fields);
    QFETCH(ManifestFields, expected);

    const Parsed parsed = parse(manifestXml(fields));
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QCOMPARE(parsed.values.value("module"), expected.module);
    QCOMPARE(parsed.values.value("name"), expected.name);
    QCOMPARE(parsed.values.value("projectPath"), expected.projectPath);
    QCOMPARE(parsed.values.value("imageUrl"), expected.imageUrl);
    QCOMPARE(parsed.values.value("tags"), expected.tags);
    QCOMPARE(parsed.values.value("fileToOpen"), expected.fileToOpen);
}

QTEST_GUILESS_MAIN(tst_Manifest)

#include "tst_manifest.moc"
