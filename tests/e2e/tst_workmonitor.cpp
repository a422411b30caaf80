#include <shellrunner.h>
#include <workmonitor.h>

#include <utils/qtcsettings.h>

#include <QTranslator>
#include <QtTest>

using namespace Shell;

// Lines as the plugin logs them: "<area>|<message>", area a (api), s (service), r (archive),
// p (plugin); "DOC" stands for the host's documentationChanged().
static void feed(WorkMonitor &monitor, const QStringList &lines)
{
    static const QHash<QString, QString> categories{{"a", "zel.tidepool.plugin.api"},
                                                   {"s", "zel.tidepool.plugin.service"},
                                                   {"r", "zel.tidepool.plugin.archive"},
                                                   {"p", "zel.tidepool.plugin"}};
    for (const QString &line : lines) {
        if (line == "DOC") {
            monitor.documentationChanged();
            continue;
        }
        const qsizetype bar = line.indexOf('|');
        monitor.logLine(categories.value(line.left(bar)), line.mid(bar + 1));
    }
}

static const QStringList search{
    R"(a|Status: "Searching examples")",
    R"(a|Requesting: "http://127.0.0.1:9/api/v4/groups?search=%22examples%22")"};
static const QStringList ready{R"(a|Status: "API client is ready")"};
static const QStringList listing{
    R"(a|Status: "Fetch examples")", R"(a|Requesting: "http://127.0.0.1:9/api/v4/groups/42")"};
static const QStringList cycle{R"(s|Updating examples: QList("clock"))"};
static const QStringList download{
    R"(a|Status: "Downloading example: Clock")",
    R"(a|Requesting: "http://127.0.0.1:9/api/v4/projects/7/repository/archive.tar.gz")"};
static const QStringList image{
    R"(a|Requesting: "http://127.0.0.1:9/uploads/-/system/project/avatar/7/clock.png")"};
static const QStringList unpack{
    R"(s|Status: "Unpacking example: Clock")", R"(s|Saved temp file: "/tmp/clock-AbCdEf.tar.gz")",
    R"(r|Unpacking output: "clock-main-1234/\n")"};

class tst_WorkMonitor : public QObject
{
    Q_OBJECT

private slots:
    void splitLine_data();
    void splitLine();
    void progress_data();
    void progress();
    void translatedStatusTextsAreRecognized();
    void otherCategoriesAreIgnored();
    void silentListingsArePredictedFromTheSettings_data();
    void silentListingsArePredictedFromTheSettings();
};

void tst_WorkMonitor::splitLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("value");

    QTest::newRow("quoted status") << R"(Status: "Fetch examples")" << "Status" << "Fetch examples";
    QTest::newRow("escaped quotes") << R"(Status: "Network error: Protocol \"\" is not supported")"
                                    << "Status" << R"(Network error: Protocol "" is not supported)";
    QTest::newRow("escaped line break") << R"(Unpacking output: "a/\nb/\n")" << "Unpacking output"
                                        << "a/\nb/\n";
    QTest::newRow("unicode escape") << R"(Status: "Downloading example: Caf\u00E9")" << "Status"
                                    << QString("Downloading example: Caf") + QChar(0xe9);
    QTest::newRow("url") << R"(Requesting: QUrl("http://h/api/v4/groups/1"))" << "Requesting"
                         << "http://h/api/v4/groups/1";
    QTest::newRow("no value") << "Automatic updates disabled" << "Automatic updates disabled" << "";
    QTest::newRow("colon, no value") << "Project file not found:" << "Project file not found" << "";
    QTest::newRow("unquoted value") << "Status: plain" << "Status" << "plain";
}

void tst_WorkMonitor::splitLine()
{
    QFETCH(QString, message);
    QFETCH(QString, prefix);
    QFETCH(QString, value);
    QString actualPrefix;
    QString actualValue;
    WorkMonitor::splitLine(message, &actualPrefix, &actualValue);
    QCOMPARE(actualPrefix, prefix);
    QCOMPARE(actualValue, value);
}

void tst_WorkMonitor::progress_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("silentListings");
    QTest::addColumn<bool>("settled");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("installations");
    QTest::addColumn<int>("ready");

    QTest::newRow("search unanswered") << search << 0 << false << 0 << 0 << 0;
    QTest::newRow("listing unanswered") << search + ready + listing << 0 << false << 0 << 0 << 1;
    QTest::newRow("listing ends silently: checked recently")
        << search + ready + listing << 1 << true << 0 << 0 << 1;
    QTest::newRow("silent allowance does not cover a second listing")
        << search + ready + listing + search + ready + listing << 1 << false << 0 << 0 << 2;
    QTest::newRow("updates disabled")
        << search + ready + listing + QStringList{"s|Automatic updates disabled"} << 0 << true << 0
        << 0 << 1;
    QTest::newRow("nothing to download") << search + ready + listing + cycle << 0 << true << 0 << 0 << 1;
    QTest::newRow("archive outstanding")
        << search + ready + listing + cycle + download << 0 << false << 0 << 0 << 1;
    QTest::newRow("image outstanding")
        << search + ready + listing + cycle + download + image << 0 << false << 0 << 0 << 1;
    QTest::newRow("unpacking") << search + ready + listing + cycle + download + image + unpack << 0
                               << false << 0 << 0 << 1;
    QTest::newRow("installed")
        << search + ready + listing + cycle + download + image + unpack + QStringList{"DOC"} << 0
        << true << 0 << 1 << 1;
    QTest::newRow("installed without an image")
        << search + ready + listing + cycle + download
               + QStringList{R"(a|Status: "Network error: Protocol \"\" is not supported")"} + unpack
               + QStringList{R"(a|Status: "Unable to download image: ")", "DOC"}
        << 0 << true << 0 << 1 << 1;
    QTest::newRow("archive refused")
        << search + ready + listing + cycle + download
               + QStringList{R"(a|Status: "Network error: Error transferring - server replied: Internal Server Error")"}
        << 0 << true << 1 << 0 << 1;
    QTest::newRow("one of two archives refused, the other unpacking")
        << search + ready + listing + cycle + download + download
               + QStringList{R"(a|Status: "Network error: Internal Server Error")"} + image + unpack
        << 0 << false << 1 << 0 << 1;
    QTest::newRow("server unreachable")
        << search + QStringList{R"(a|Status: "Network error: Connection refused")"} << 0 << true
        << 1 << 0 << 0;
    QTest::newRow("garbage answer")
        << search + QStringList{R"(a|Json response: "<html>")", R"(a|Json parse error:  "illegal value")",
                                R"(a|Status: "Search error: request return null object")"}
        << 0 << true << 1 << 0 << 0;
    QTest::newRow("listing without projects")
        << search + ready + listing
               + QStringList{R"(a|Status: "Fetch error: request return wrong data - no projects field")"}
        << 0 << true << 1 << 0 << 1;
    QTest::newRow("not an archive")
        << search + ready + listing + cycle + download + image
               + QStringList{R"(s|Status: "Unpacking example: Clock")",
                             R"(s|Status: "Downloaded file is not an archive")"}
        << 0 << true << 1 << 0 << 1;
    QTest::newRow("unpack tool failed")
        << search + ready + listing + cycle + download + image + unpack
               + QStringList{R"(s|Status: "There was an error while unarchiving")"}
        << 0 << true << 1 << 0 << 1;
    QTest::newRow("no project file")
        << search + ready + listing + cycle + download + image + unpack
               + QStringList{"s|Project file not found",
                             R"(s|Status: "There was an error while creating example mainfest")", "DOC"}
        << 0 << true << 1 << 1 << 1;
    QTest::newRow("url without group")
        << QStringList{R"(a|Provided repository url has no group: "http://127.0.0.1:9/")"} << 0 << true
        << 1 << 0 << 0;
    QTest::newRow("restart is no failure by itself")
        << search + QStringList{R"x(s|Status: "API client is not ready - restarting (http://h/g)")x"}
        << 0 << false << 0 << 0 << 0;
    QTest::newRow("documentation change without an unpack")
        << search + ready + listing + cycle + QStringList{"DOC"} << 0 << true << 0 << 0 << 1;
}

void tst_WorkMonitor::progress()
{
    QFETCH(QStringList, lines);
    QFETCH(int, silentListings);
    QFETCH(bool, settled);
    QFETCH(int, failures);
    QFETCH(int, installations);
    QFETCH(int, ready);

    WorkMonitor monitor;
    monitor.setSilentListingAllowance(silentListings);
    feed(monitor, lines);
    QCOMPARE(monitor.isSettled(), settled);
    QCOMPARE(monitor.failures().size(), failures);
    QCOMPARE(monitor.progress().installationsFinished, installations);
    QCOMPARE(monitor.progress().repositoriesReady, ready);
}

class GermanStatusTexts : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (QByteArray(context) != "Tidepool::Internal::ApiClient")
            return {};
        if (QByteArray(source) == "Network error: %1")
            return "Netzwerkfehler: %1";
        if (QByteArray(source) == "API client is ready")
            return "API-Client ist bereit";
        return {};
    }
};

void tst_WorkMonitor::translatedStatusTextsAreRecognized()
{
    GermanStatusTexts translator;
    QCoreApplication::installTranslator(&translator);
    WorkMonitor monitor;
    monitor.updateStatusPatterns();
    QCoreApplication::removeTranslator(&translator);

    feed(monitor, search + QStringList{R"(a|Status: "API-Client ist bereit")"} + listing
                      + QStringList{R"(a|Status: "Netzwerkfehler: Verbindung abgelehnt")"});
    QCOMPARE(monitor.progress().repositoriesReady, 1);
    QCOMPARE(monitor.failures(), QStringList{"Netzwerkfehler: Verbindung abgelehnt"});
    QVERIFY(monitor.isSettled());

    // The untranslated texts keep working.
    feed(monitor, QStringList{R"(a|Status: "Network error: timeout")"});
    QCOMPARE(monitor.failures().size(), 2);
}

void tst_WorkMonitor::otherCategoriesAreIgnored()
{
    WorkMonitor monitor;
    QTest::qWait(30);
    monitor.logLine("qt.network.ssl", R"(Status: "Network error: x")");
    monitor.logLine("default", R"(Settings: "/tmp/x.ini")");
    QVERIFY(monitor.failures().isEmpty());
    QVERIFY(monitor.idleMilliseconds() >= 30);
    monitor.logLine("zel.tidepool.plugin", "Data location \"/tmp/%1\"");
    QVERIFY(monitor.idleMilliseconds() < 30);
}

void tst_WorkMonitor::silentListingsArePredictedFromTheSettings_data()
{
    QTest::addColumn<QStringList>("repositories");
    QTest::addColumn<QStringList>("dates");   // "name|days ago" or "name|text"
    QTest::addColumn<QVariant>("interval");   // UpdatesCheckTimeoutDays; invalid: not stored
    QTest::addColumn<int>("configured");
    QTest::addColumn<int>("recent");

    const QStringList one{"A|http://h/a|"};
    QTest::newRow("nothing configured") << QStringList() << QStringList() << QVariant() << 0 << 0;
    QTest::newRow("never checked") << one << QStringList() << QVariant() << 1 << 0;
    QTest::newRow("checked today") << one << QStringList{"A|0"} << QVariant() << 1 << 1;
    QTest::newRow("yesterday, interval 1") << one << QStringList{"A|1"} << QVariant(1) << 1 << 1;
    QTest::newRow("two days ago, interval 1") << one << QStringList{"A|2"} << QVariant(1) << 1 << 0;
    QTest::newRow("two days ago, interval 3") << one << QStringList{"A|2"} << QVariant(3) << 1 << 1;
    QTest::newRow("in the future") << one << QStringList{"A|-5"} << QVariant() << 1 << 1;
    QTest::newRow("updates switched off") << one << QStringList{"A|0"} << QVariant(0) << 1 << 0;
    QTest::newRow("unreadable date") << one << QStringList{"A|31.02.2026"} << QVariant() << 1 << 0;
    QTest::newRow("date of another repository") << one << QStringList{"B|0"} << QVariant() << 1 << 0;
    QTest::newRow("first date per name counts") << one << QStringList{"A|9", "A|0"} << QVariant() << 1 << 0;
    QTest::newRow("duplicate name and address are skipped")
        << QStringList{"A|http://h/a|", "A|http://h/b|", "B|http://h/a|", "C|http://h/c|x"}
        << QStringList{"A|0", "C|0"} << QVariant() << 2 << 2;
    QTest::newRow("items without name or address")
        << QStringList{"|http://h/a|", "A||", "A"} << QStringList() << QVariant() << 0 << 0;
}

void tst_WorkMonitor::silentListingsArePredictedFromTheSettings()
{
    QFETCH(QStringList, repositories);
    QFETCH(QStringList, dates);
    QFETCH(QVariant, interval);
    QFETCH(int, configured);
    QFETCH(int, recent);

    QTemporaryDir dir;
    Utils::QtcSettings settings(dir.filePath("QtCreator.ini"), QSettings::IniFormat);
    const QDate today(2026, 3, 10);
    QStringList dateItems;
    for (const QString &item : std::as_const(dates)) {
        const QString name = item.section('|', 0, 0);
        const QString value = item.section('|', 1);
        bool isNumber = false;
        const int daysAgo = value.toInt(&isNumber);
        dateItems.append(name + '|' + (isNumber ? today.addDays(-daysAgo).toString("dd.MM.yyyy") : value));
    }
    settings.beginGroup("Tidepool");
    settings.setValue("Repositories", repositories);
    settings.setValue("UpdatesCheckedDate", dateItems);
    if (interval.isValid())
        settings.setValue("UpdatesCheckTimeoutDays", interval);
    settings.endGroup();

    const RepositoryOutlook outlook = RepositoryOutlook::read(&settings, today);
    QCOMPARE(outlook.repositories, configured);
    QCOMPARE(outlook.recentlyChecked, recent);
}

QTEST_GUILESS_MAIN(tst_WorkMonitor)
#include "tst_workmonitor.moc"
