#include "repositories/repository.h"
#include "service/checkprogress.h"
#include "service/installationprogress.h"

#include <coreplugin/progressmanager/futureprogress.h>
#include <hoststandin/hostsetup.h>

#include <QSignalSpy>
#include <QTest>

using namespace Tidepool::Internal;
using S = QStringList;
using C = QList<int>;

class tst_InstallationProgress : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
};

// Each step is "VERB REPO [ARG...]"; after each step, a count.
void tst_InstallationProgress::steps_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("counts");

    // allEnded() once the last running batch ends ("start REPO PATH...", "finish", "abandon").
    QTest::newRow("one batch") << S{"start a p q", "finish a p", "finish a q"} << C{0, 0, 1};
    QTest::newRow("two batches of one repository")
        << S{"start a p", "start a q", "finish a q", "finish a p"} << C{0, 0, 0, 1};
    QTest::newRow("abandoned while another runs")
        << S{"start a p q", "start b r", "abandon a", "finish b r"} << C{0, 0, 0, 1};
    QTest::newRow("the last one abandoned") << S{"start a p q", "abandon a"} << C{0, 1};
    QTest::newRow("an example of no batch")
        << S{"start a p", "finish a x", "finish b p"} << C{0, 0, 0};
    QTest::newRow("an empty batch") << S{"start a", "finish a p", "abandon a"} << C{0, 0, 0};
    QTest::newRow("again for the next batch")
        << S{"start a p", "finish a p", "start a q", "finish a q"} << C{0, 1, 1, 2};
    // An example asked twice: only the older batch's cancel stops its first download.
    QTest::newRow("cancel of the batch of the next download")
        << S{"start a p", "start a p", "cancel a 1", "canceled a p", "finish a p", "canceled a p"}
        << C{0, 0, 0, 0, 0, 1};

    // Tasks shown: a check shows, but after a failure not until one succeeded.
    QTest::newRow("check: a silent retry that succeeds makes the next one show")
        << S{"begin a", "fail a", "begin a", "decide a", "begin a"} << C{1, 1, 1, 1, 2};
    QTest::newRow("check: one at a time")
        << S{"begin a", "begin a", "decide a", "begin a"} << C{1, 1, 1, 2};
    QTest::newRow("check: repositories apart")
        << S{"begin a", "fail a", "begin b", "begin a"} << C{1, 1, 2, 2};
    QTest::newRow("check: a failure with no check running still silences")
        << S{"fail a", "begin a"} << C{0, 0};
}

void tst_InstallationProgress::steps()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, counts);

    // Addresses that make no requests: the progress only tells repositories apart.
    Repository a(QUrl("file:///a"), nullptr), b(QUrl("file:///b"), nullptr);
    const QMap<QString, const Repository *> repositories{{"a", &a}, {"b", &b}};

    QList<Core::FutureProgress *> tasks;
    HostStandIn::setProgressTaskObserver([&](Core::FutureProgress *task) { tasks << task; });
    CheckProgress checks;
    InstallationProgress progress;
    QSignalSpy ended(&progress, &InstallationProgress::allEnded);
    QList<int> seen;
    for (const QString &step : steps) {
        QStringList words = step.split(' ');
        const QString verb = words.takeFirst();
        const QString name = words.takeFirst();
        const Repository *repository = repositories.value(name);
        if (verb == "start")
            progress.start(repository, QStringLiteral("Repo"), words);
        else if (verb == "finish")
            progress.finish(repository, words.first(), true);
        else if (verb == "abandon")
            progress.abandon(repository);
        else if (verb == "cancel")
            tasks.at(words.first().toInt())->future().cancel();
        else if (verb == "begin")
            checks.begin(repository, name);
        else if (verb == "fail")
            checks.fail(repository, QStringLiteral("Network error"));
        else if (verb == "decide")
            checks.decide(repository, 0);
        if (verb == "canceled")
            seen << int(progress.isCanceled(repository, words.first()));
        else
            seen << int(S{"begin", "fail", "decide"}.contains(verb) ? tasks.size() : ended.size());
    }
    HostStandIn::setProgressTaskObserver({});
    QCOMPARE(seen, counts);
}

QTEST_MAIN(tst_InstallationProgress)

#include "tst_installationprogress.moc"
