#include "testsupport.h"

#include "repositories/example.h"

#include <QJsonArray>

using namespace TestSupport;

class tst_Example : public QObject
{
    Q_OBJECT

private slots:
    void tagsAndActivity_data();
    void tagsAndActivity();
};

void tst_Example::tagsAndActivity_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QDateTime>("lastActivity"); // in UTC

    const QStringList defaults{"Qt", "example"};
    QTest::newRow("neither") << QJsonObject() << defaults << QDateTime();
    QTest::newRow("tags in order, not strings empty")
        << QJsonObject{{"tag_list", QJsonArray{"qml", QJsonValue::Null, "maps", 5}}}
        << QStringList{"qml", "", "maps", ""} << QDateTime();
    QTest::newRow("activity in milliseconds")
        << QJsonObject{{"last_activity_at", "2017-06-02T09:24:18.123Z"}} << defaults
        << QDateTime(QDate(2017, 6, 2), QTime(9, 24, 18, 123), Qt::UTC);
    QTest::newRow("activity with an offset")
        << QJsonObject{{"last_activity_at", "2017-06-02T09:24:18.000+02:00"}} << defaults
        << QDateTime(QDate(2017, 6, 2), QTime(7, 24, 18), Qt::UTC);
}

void tst_Example::tagsAndActivity()
{
    QFETCH(QJsonObject, json);
    QFETCH(QStringList, tags);
    QFETCH(QDateTime, lastActivity);

    QCOMPARE(Example(json).tags(), tags);
    QCOMPARE(Example(json).lastActivity().toUTC(), lastActivity);
}

QTEST_MAIN(tst_Example)

#include "tst_example.moc"
