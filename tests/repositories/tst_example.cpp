#include "testsupport.h"

#include "repositories/example.h"

#include <QJsonArray>

using namespace TestSupport;

class tst_Example : public QObject
{
    Q_OBJECT

private slots:
    void record_data();
    void record();
};

void tst_Example::record_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QDateTime>("lastActivity"); // in UTC

    const QJsonObject good{{"id", 1303689},
                           {"name", "Sailing"},
                           {"path", "sailing"},
                           {"web_url", "https://gitlab.example/demo/sailing"}};
    const auto with = [&good](const char *key, const QJsonValue &value) {
        QJsonObject json = good;
        json.insert(QLatin1String(key), value);
        return json;
    };
    const QStringList defaults{"Qt", "example"};
    const QDate day(2017, 6, 2);

    QTest::newRow("complete, without tags or activity")
        << good << true << defaults << QDateTime();
    QTest::newRow("id 0") << with("id", 0) << false << defaults << QDateTime();
    QTest::newRow("id as a string") << with("id", "1303689") << false << defaults << QDateTime();
    QTest::newRow("name empty") << with("name", "") << false << defaults << QDateTime();
    QTest::newRow("web_url empty") << with("web_url", "") << false << defaults << QDateTime();
    QTest::newRow("path with dots")
        << with("path", "cru-albania-ds.gitlab.io") << true << defaults << QDateTime();
    // Which names are safe folder names is the settings test's table.
    QTest::newRow("path with slash") << with("path", "../evil") << false << defaults << QDateTime();
    QTest::newRow("tags in order, not strings empty")
        << with("tag_list", QJsonArray{"qml", QJsonValue::Null, "maps", 5})
        << true << QStringList{"qml", "", "maps", ""} << QDateTime();
    QTest::newRow("activity in milliseconds")
        << with("last_activity_at", "2017-06-02T09:24:18.123Z") << true << defaults
        << QDateTime(day, QTime(9, 24, 18, 123), Qt::UTC);
    QTest::newRow("activity with an offset")
        << with("last_activity_at", "2017-06-02T09:24:18.000+02:00") << true << defaults
        << QDateTime(day, QTime(7, 24, 18), Qt::UTC);
}

void tst_Example::record()
{
    QFETCH(QJsonObject, json);
    QFETCH(bool, valid);
    QFETCH(QStringList, tags);
    QFETCH(QDateTime, lastActivity);

    const Example example(json);
    QCOMPARE(example.isValid(), valid);
    QCOMPARE(example.tags(), tags);
    QCOMPARE(example.lastActivity().toUTC(), lastActivity);
}

QTEST_MAIN(tst_Example)

#include "tst_example.moc"
