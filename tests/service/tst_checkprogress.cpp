#include "repositories/repository.h"
#include "service/checkprogress.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <hoststandin/hostsetup.h>

#include <QTest>

using namespace Tidepool::Internal;

// Which checks of a repository the progress view shows: the first, and after a failure none
// until one has succeeded.
class tst_CheckProgress : public QObject
{
    Q_OBJECT

private slots:
    void shownTasks_data();
    void shownTasks();
};

void tst_CheckProgress::shownTasks_data()
{
    // Each step is "begin REPO", "fail REPO" or "decide REPO"; after each step, the number of
    // tasks shown so far.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("counts");

    QTest::newRow("the first check shows") << QStringList{"begin a", "decide a"} << QList<int>{1, 1};
    QTest::newRow("retries after a failure are silent")
        << QStringList{"begin a", "fail a", "begin a", "fail a", "begin a"}
        << QList<int>{1, 1, 1, 1, 1};
    QTest::newRow("a silent retry that succeeds makes the next one show")
        << QStringList{"begin a", "fail a", "begin a", "decide a", "begin a"}
        << QList<int>{1, 1, 1, 1, 2};
    QTest::newRow("one check at a time")
        << QStringList{"begin a", "begin a", "decide a", "begin a"} << QList<int>{1, 1, 1, 2};
    QTest::newRow("repositories apart")
        << QStringList{"begin a", "fail a", "begin b", "begin a"} << QList<int>{1, 1, 2, 2};
    QTest::newRow("a failure with no check running still silences")
        << QStringList{"fail a", "begin a"} << QList<int>{0, 0};
}

void tst_CheckProgress::shownTasks()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, counts);

    // Addresses that make no requests: the progress only tells repositories apart.
    Repository a(QUrl(QStringLiteral("file:///a")), nullptr);
    Repository b(QUrl(QStringLiteral("file:///b")), nullptr);
    const QMap<QString, const Repository *> repositories{{"a", &a}, {"b", &b}};

    QList<Core::FutureProgress *> tasks;
    HostStandIn::setProgressTaskObserver([&tasks](Core::FutureProgress *task) { tasks << task; });
    CheckProgress progress;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QStringList words = steps.at(i).split(' ');
        const Repository *repository = repositories.value(words.at(1));
        if (words.first() == "begin")
            progress.begin(repository, words.at(1));
        else if (words.first() == "fail")
            progress.fail(repository, QStringLiteral("Network error"));
        else
            progress.decide(repository, 0);
        QVERIFY2(tasks.size() == counts.at(i),
                 qPrintable(QStringLiteral("after \"%1\": %2").arg(steps.at(i)).arg(tasks.size())));
    }
    HostStandIn::setProgressTaskObserver({});
}

QTEST_MAIN(tst_CheckProgress)

#include "tst_checkprogress.moc"
