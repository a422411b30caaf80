#include "repositories/example.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QTest>

using namespace Tidepool::Internal;

class tst_Example : public QObject
{
    Q_OBJECT

private slots:
    void validity_data();
    void validity();
    void tags_data();
    void tags();
    void lastActivity_data();
    void lastActivity();
    void setImage_data();
    void setImage();
    void freshRecordHoldsNothing();
};

static QJsonObject project(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

void tst_Example::validity_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("valid");

    const QJsonObject good{{"id", 1303689},
                           {"name", "Sailing"},
                           {"path", "sailing"},
                           {"web_url", "https://gitlab.example/demo/sailing"}};
    const auto with = [&good](const char *key, const QJsonValue &value) {
        QJsonObject json = good;
        if (value.isUndefined())
            json.remove(QLatin1String(key));
        else
            json.insert(QLatin1String(key), value);
        return json;
    };

    QTest::newRow("complete") << good << true;
    QTest::newRow("id missing") << with("id", QJsonValue::Undefined) << false;
    QTest::newRow("id 0") << with("id", 0) << false;
    QTest::newRow("id as string") << with("id", "17") << false;
    QTest::newRow("id fractional") << with("id", 17.9) << true;
    QTest::newRow("id negative") << with("id", -4) << true;
    QTest::newRow("name empty") << with("name", "") << false;
    QTest::newRow("name missing") << with("name", QJsonValue::Undefined) << false;
    QTest::newRow("name not a string") << with("name", 5) << false;
    QTest::newRow("web_url empty") << with("web_url", "") << false;
    QTest::newRow("web_url missing") << with("web_url", QJsonValue::Undefined) << false;
    QTest::newRow("path with dots") << with("path", "cru-albania-ds.gitlab.io") << true;
    QTest::newRow("path with underscore and digits") << with("path", "qt_quick-2") << true;
    QTest::newRow("path missing") << with("path", QJsonValue::Undefined) << false;
    QTest::newRow("path empty") << with("path", "") << false;
    QTest::newRow("path dot") << with("path", ".") << false;
    QTest::newRow("path dot dot") << with("path", "..") << false;
    QTest::newRow("path with slash") << with("path", "../evil") << false;
    QTest::newRow("path absolute") << with("path", "/home") << false;
    QTest::newRow("path with backslash") << with("path", "a\\b") << false;
    QTest::newRow("path with NUL") << with("path", QString::fromUtf8("a\0b", 3)) << false;
    QTest::newRow("path with newline") << with("path", "a\nb") << false;
    QTest::newRow("path with escape") << with("path", "a\x1b" "b") << false;
    QTest::newRow("empty object") << QJsonObject() << false;
}

void tst_Example::validity()
{
    QFETCH(QJsonObject, json);
    QFETCH(bool, valid);
    QCOMPARE(Example(json).isValid(), valid);
}

void tst_Example::tags_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("tags");

    const QStringList defaults{"Qt", "example"};
    QTest::newRow("missing") << QByteArray("{}") << defaults;
    QTest::newRow("not an array") << QByteArray(R"({"tag_list": "qt"})") << defaults;
    QTest::newRow("empty") << QByteArray(R"({"tag_list": []})") << defaults;
    QTest::newRow("in order") << QByteArray(R"({"tag_list": ["qml", "maps", "qml"]})")
                              << QStringList{"qml", "maps", "qml"};
    QTest::newRow("a number is an empty tag") << QByteArray(R"({"tag_list": [5]})")
                                              << QStringList{""};
    QTest::newRow("mixed") << QByteArray(R"({"tag_list": ["qml", null, "maps"]})")
                           << QStringList{"qml", "", "maps"};
}

void tst_Example::tags()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, tags);
    QCOMPARE(Example(project(json)).tags(), tags);
}

void tst_Example::lastActivity_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QDateTime>("expected");

    QTest::newRow("milliseconds")
        << QJsonValue("2017-06-02T09:24:18.123Z")
        << QDateTime(QDate(2017, 6, 2), QTime(9, 24, 18, 123), Qt::UTC);
    QTest::newRow("no fraction") << QJsonValue("2017-06-02T09:24:18Z")
                                 << QDateTime(QDate(2017, 6, 2), QTime(9, 24, 18), Qt::UTC);
    QTest::newRow("offset") << QJsonValue("2017-06-02T09:24:18.000+02:00")
                            << QDateTime(QDate(2017, 6, 2), QTime(7, 24, 18), Qt::UTC);
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QDateTime();
    QTest::newRow("not a date") << QJsonValue("yesterday") << QDateTime();
    QTest::newRow("a number") << QJsonValue(1496395458) << QDateTime();
}

void tst_Example::lastActivity()
{
    QFETCH(QJsonValue, value);
    QFETCH(QDateTime, expected);

    QJsonObject json;
    if (!value.isUndefined())
        json.insert("last_activity_at", value);
    const QDateTime actual = Example(json).lastActivity();
    QCOMPARE(actual.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(actual.toUTC(), expected);
}

static QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void tst_Example::setImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");

    QTest::newRow("small square is enlarged") << png(16, 16) << QSize(128, 128);
    QTest::newRow("wide is reduced") << png(1000, 250) << QSize(128, 32);
    QTest::newRow("small wide is enlarged") << png(64, 32) << QSize(128, 64);
    QTest::newRow("tall") << png(150, 300) << QSize(64, 128);
    QTest::newRow("garbage") << QByteArray("<html>not an image</html>") << QSize();
    QTest::newRow("empty") << QByteArray() << QSize();
    QTest::newRow("truncated") << png(16, 16).left(20) << QSize();
}

void tst_Example::setImage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);

    Example example(QJsonObject{});
    example.setImage(bytes);
    const QImage image = example.image();
    QCOMPARE(image.isNull(), !size.isValid());
    if (image.isNull()) {
        QVERIFY(image.textKeys().isEmpty());
        return;
    }
    QCOMPARE(image.size(), size);
    QCOMPARE(image.pixelColor(size.width() / 2, size.height() / 2), QColor(Qt::darkCyan));
    QCOMPARE(image.textKeys(), QStringList{"Description"});
    QCOMPARE(image.text("Description"),
             "This file is used by SDK to show image for example inside Welcome screen.\n"
             "It is not the part of the example.");

    // A later image replaces the earlier one, also by a null one.
    example.setImage("nothing");
    QVERIFY(example.image().isNull());
}

void tst_Example::freshRecordHoldsNothing()
{
    Example example(project(R"({"id": 3, "name": "Maps", "web_url": "x", "path": "maps"})"));
    QVERIFY(example.data().isEmpty());
    QVERIFY(example.image().isNull());
    QCOMPARE(example.name(), "Maps");
    QCOMPARE(example.json().value("path").toString(), "maps");

    example.setData("first");
    example.setData("second");
    QCOMPARE(example.data(), QByteArray("second"));
}

QTEST_MAIN(tst_Example)

#include "tst_example.moc"
