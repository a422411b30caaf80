#include "testsupport.h"

#include "repositories/example.h"

#include <QJsonDocument>

using namespace TestSupport;

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
};

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
        json.insert(QLatin1String(key), value);
        return json;
    };

    QTest::newRow("complete") << good << true;
    QTest::newRow("empty object") << QJsonObject() << false;
    QTest::newRow("id 0") << with("id", 0) << false;
    QTest::newRow("id fractional") << with("id", 17.9) << true;
    QTest::newRow("id as a string") << with("id", "1303689") << false;
    QTest::newRow("id null") << with("id", QJsonValue::Null) << false;
    QTest::newRow("name empty") << with("name", "") << false;
    QTest::newRow("web_url empty") << with("web_url", "") << false;
    QTest::newRow("path with dots") << with("path", "cru-albania-ds.gitlab.io") << true;
    // Which names are safe folder names is the settings test's table.
    QTest::newRow("path with slash") << with("path", "../evil") << false;
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
    QTest::newRow("in order, not strings empty")
        << QByteArray(R"({"tag_list": ["qml", null, "maps", 5, "qml"]})")
        << QStringList{"qml", "", "maps", "", "qml"};
}

void tst_Example::tags()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, tags);
    QCOMPARE(Example(QJsonDocument::fromJson(json).object()).tags(), tags);
}

void tst_Example::lastActivity_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QDateTime>("expected");

    const QDate day(2017, 6, 2);
    QTest::newRow("milliseconds") << QJsonValue("2017-06-02T09:24:18.123Z")
                                  << QDateTime(day, QTime(9, 24, 18, 123), Qt::UTC);
    QTest::newRow("no fraction") << QJsonValue("2017-06-02T09:24:18Z")
                                 << QDateTime(day, QTime(9, 24, 18), Qt::UTC);
    QTest::newRow("offset") << QJsonValue("2017-06-02T09:24:18.000+02:00")
                            << QDateTime(day, QTime(7, 24, 18), Qt::UTC);
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
    QCOMPARE(Example(json).lastActivity().toUTC(), expected);
}

void tst_Example::setImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");

    QTest::newRow("small square is enlarged") << png(16, 16) << QSize(128, 128);
    QTest::newRow("wide is reduced") << png(1000, 250) << QSize(128, 32);
    QTest::newRow("tall") << png(150, 300) << QSize(64, 128);
    QTest::newRow("garbage") << QByteArray("<html>not an image</html>") << QSize();
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
    if (image.isNull())
        return;
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

QTEST_MAIN(tst_Example)

#include "tst_example.moc"
