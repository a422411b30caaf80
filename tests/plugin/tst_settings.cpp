#include "plugin/settings.h"

#include <coreplugin/helpmanager.h>
#include <utils/qtcsettings.h>

#include <QDir>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Tidepool::Internal;

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaults();
    void listItems_data();
    void listItems();
    void numbers_data();
    void numbers();
    void roundTrip();
    void invalidDateWrittenBackEmpty();

    void safeFolderNames_data();
    void safeFolderNames();

    void registration_data();
    void registration();

private:
    std::unique_ptr<Utils::QtcSettings> store();
    void writeRaw(const char *key, const QVariant &value);
    QVariant readRaw(const char *key);

    std::unique_ptr<QTemporaryDir> m_dir;
};

std::unique_ptr<Utils::QtcSettings> tst_Settings::store()
{
    return std::make_unique<Utils::QtcSettings>(m_dir->filePath("QtCreator.ini"),
                                                QSettings::IniFormat);
}

void tst_Settings::writeRaw(const char *key, const QVariant &value)
{
    QSettings raw(m_dir->filePath("QtCreator.ini"), QSettings::IniFormat);
    raw.setValue(QLatin1String(key), value);
}

QVariant tst_Settings::readRaw(const char *key)
{
    QSettings raw(m_dir->filePath("QtCreator.ini"), QSettings::IniFormat);
    return raw.value(QLatin1String(key));
}

void tst_Settings::initTestCase()
{
    QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
}

void tst_Settings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_Settings::defaults()
{
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Settings:"));
    QTest::ignoreMessage(QtDebugMsg, "Settings does not contain variable: \"Repositories\"");
    Settings settings;
    settings.updatesCheckTimeoutDays = 7;
    settings.serviceRestartTimeoutSeconds = 5;
    settings.repositories.insert("x", {});
    settings.updatesCheckedDate.insert("Demo", QDate(2026, 1, 1));
    settings.load(store().get());
    QCOMPARE(settings.updatesCheckTimeoutDays, 1u);
    QCOMPARE(settings.serviceRestartTimeoutSeconds, 60u);
    QVERIFY(settings.repositories.isEmpty());
    // No stored dates: the ones already known are kept.
    QCOMPARE(settings.updatesCheckedDate.value("Demo"), QDate(2026, 1, 1));
}

void tst_Settings::listItems_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("names");   // accepted, sorted
    QTest::addColumn<QStringList>("removedOfFirst");
    QTest::addColumn<QStringList>("messages");

    const QString repositories = "Repositories";
    const QString dates = "UpdatesCheckedDate";
    const QString wrong = "Skipping wrong setting in item: \"%1\"";
    const QString invalid = "Empty or invalid settings. Check variable: \"Repositories\"";
    QTest::newRow("two parts") << repositories << QStringList{"Demo|https://h/g"}
                               << QStringList{"Demo"} << QStringList{} << QStringList{};
    QTest::newRow("trailing separator") << repositories << QStringList{"Demo|https://h/g|"}
                                        << QStringList{"Demo"} << QStringList{""} << QStringList{};
    QTest::newRow("removed paths, duplicates collapse")
        << repositories << QStringList{"Demo|https://h/g|a|b|a"} << QStringList{"Demo"}
        << QStringList{"a", "b"} << QStringList{};
    QTest::newRow("empty item skipped silently") << repositories << QStringList{"", "Demo|https://h/g"}
                                                 << QStringList{"Demo"} << QStringList{}
                                                 << QStringList{};
    QTest::newRow("no separator")
        << repositories << QStringList{"Demo", "Other|https://h/o"} << QStringList{"Other"}
        << QStringList{} << QStringList{wrong.arg("Demo")};
    QTest::newRow("empty name") << repositories << QStringList{"|https://h/g"} << QStringList{}
                                << QStringList{} << QStringList{wrong.arg("|https://h/g"), invalid};
    QTest::newRow("empty url") << repositories << QStringList{"Demo||a"} << QStringList{}
                               << QStringList{} << QStringList{wrong.arg("Demo||a"), invalid};
    QTest::newRow("duplicated name, first wins")
        << repositories << QStringList{"Demo|https://h/g|a", "Demo|https://h/other"}
        << QStringList{"Demo"} << QStringList{"a"}
        << QStringList{"Skipping duplicated repository name in item: \"Demo|https://h/other\""};
    QTest::newRow("duplicated url, first wins")
        << repositories << QStringList{"Demo|https://h/g|a", "Other|https://h/g"}
        << QStringList{"Demo"} << QStringList{"a"}
        << QStringList{"Skipping duplicated repository url in item: \"Other|https://h/g\""};

    // Dates: the first of a name wins; text that is no date is kept as an invalid date.
    QTest::newRow("date") << dates << QStringList{"Demo|01.02.2026"} << QStringList{"Demo"}
                          << QStringList{} << QStringList{};
    QTest::newRow("date, three parts") << dates << QStringList{"Demo|01.02.2026|x"} << QStringList{}
                                       << QStringList{} << QStringList{wrong.arg("Demo|01.02.2026|x")};
    QTest::newRow("date, one part") << dates << QStringList{"Demo"} << QStringList{}
                                    << QStringList{} << QStringList{wrong.arg("Demo")};
    QTest::newRow("date, duplicated name")
        << dates << QStringList{"Demo|01.02.2026", "Demo|02.02.2026"} << QStringList{"Demo"}
        << QStringList{}
        << QStringList{"Skipping duplicated repository name in item: \"Demo|02.02.2026\""};
    QTest::newRow("date, unparsable") << dates << QStringList{"Demo|yesterday"}
                                      << QStringList{"Demo"} << QStringList{} << QStringList{};
}

void tst_Settings::listItems()
{
    QFETCH(QString, key);
    QFETCH(QStringList, items);
    QFETCH(QStringList, names);
    QFETCH(QStringList, removedOfFirst);
    QFETCH(QStringList, messages);

    const bool dates = key != "Repositories";
    writeRaw(qPrintable("Tidepool/" + key), items);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Settings:"));
    if (dates)
        QTest::ignoreMessage(QtDebugMsg, "Settings does not contain variable: \"Repositories\"");
    for (const QString &message : messages)
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());

    Settings settings;
    settings.load(store().get());
    QStringList loaded = dates ? settings.updatesCheckedDate.keys() : settings.repositories.keys();
    loaded.sort();
    QCOMPARE(loaded, names);
    if (names.isEmpty())
        return;
    if (dates) {
        const QDate date = settings.updatesCheckedDate.value("Demo");
        QCOMPARE(date, items.first().endsWith("2026") ? QDate(2026, 2, 1) : QDate());
        return;
    }
    const RepositorySettings repository = settings.repositories.value(names.first());
    QStringList removed(repository.removedExamples.cbegin(), repository.removedExamples.cend());
    removed.sort();
    QCOMPARE(removed, removedOfFirst);
    QCOMPARE(repository.url.host(), QString("h"));
    QVERIFY(repository.examplesToInstall.isEmpty());
    QVERIFY(repository.examplesToRemove.isEmpty());
    QVERIFY(repository.installedManifests.isEmpty());
}

void tst_Settings::numbers_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("number") << QVariant(5) << 5u;
    QTest::newRow("text number") << QVariant("12") << 12u;
    QTest::newRow("zero") << QVariant(0) << 0u;
    QTest::newRow("not a number") << QVariant("soon") << 0u;
}

void tst_Settings::numbers()
{
    QFETCH(QVariant, stored);
    QFETCH(quint32, expected);
    writeRaw("Tidepool/UpdatesCheckTimeoutDays", stored);
    writeRaw("Tidepool/ServiceRestartTimeoutSeconds", stored);
    Settings settings;
    settings.load(store().get());
    QCOMPARE(settings.updatesCheckTimeoutDays, expected);
    QCOMPARE(settings.serviceRestartTimeoutSeconds, expected);
}

void tst_Settings::roundTrip()
{
    Settings saved;
    saved.updatesCheckTimeoutDays = 3;
    saved.serviceRestartTimeoutSeconds = 15;
    saved.updatesCheckedDate.insert("Demo", QDate(2026, 12, 1));
    saved.updatesCheckedDate.insert("Other", QDate(2025, 1, 31));
    RepositorySettings demo;
    demo.url = QUrl("https://gitlab.example.com/demo-examples");
    demo.removedExamples = {"hello", "cru-albania-ds.gitlab.io"};
    demo.examplesToInstall = {"pending"};
    saved.repositories.insert("Demo", demo);
    saved.repositories.insert("Other name", {QUrl("http://127.0.0.1:8080/parent/child"), {}, {}, {}, {}});
    saved.save(store().get());
    // Nothing removed yet still ends in a separator.
    QVERIFY(readRaw("Tidepool/Repositories").toStringList().contains("Other name|http://127.0.0.1:8080/parent/child|"));

    Settings loaded;
    loaded.load(store().get());
    QCOMPARE(loaded.updatesCheckTimeoutDays, 3u);
    QCOMPARE(loaded.serviceRestartTimeoutSeconds, 15u);
    QCOMPARE(loaded.updatesCheckedDate, saved.updatesCheckedDate);
    QCOMPARE(loaded.repositories.size(), 2);
    QCOMPARE(loaded.repositories.value("Demo").url, demo.url);
    QCOMPARE(loaded.repositories.value("Demo").removedExamples, demo.removedExamples);
    QVERIFY(loaded.repositories.value("Demo").examplesToInstall.isEmpty());
    QCOMPARE(loaded.repositories.value("Other name").url, QUrl("http://127.0.0.1:8080/parent/child"));
    QCOMPARE(loaded.repositories.value("Other name").removedExamples, QSet<QString>{QString()});
}

void tst_Settings::invalidDateWrittenBackEmpty()
{
    writeRaw("Tidepool/UpdatesCheckedDate", QStringList{"Demo|31.02.2026", "Other|05.12.2026"});
    Settings settings;
    settings.load(store().get());
    QVERIFY(settings.updatesCheckedDate.contains("Demo"));
    QVERIFY(!settings.updatesCheckedDate.value("Demo").isValid());
    settings.save(store().get());
    QStringList items = readRaw("Tidepool/UpdatesCheckedDate").toStringList();
    items.sort();
    QCOMPARE(items, (QStringList{"Demo|", "Other|05.12.2026"}));
}

void tst_Settings::safeFolderNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << "hello-world_2" << true;
    QTest::newRow("dots inside") << "cru-albania-ds.gitlab.io" << true;
    QTest::newRow("unicode") << QString::fromUtf8("sch\xC3\xB6n") << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("backslash") << "a\\b" << false;
    QTest::newRow("leading slash") << "/etc" << false;
    QTest::newRow("nul") << QString("a") + QChar(0) + "b" << false;
    QTest::newRow("newline") << "a\nb" << false;
    QTest::newRow("escape") << "a\x1b" << false;
}

void tst_Settings::safeFolderNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(isSafeFolderName(name), safe);
}

void tst_Settings::registration_data()
{
    QTest::addColumn<QStringList>("repositories");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");   // "%F:name" stands for the folder of name
    QTest::addColumn<bool>("emitted");

    QTest::newRow("no entries") << QStringList{"Demo|https://h/demo"} << QStringList{}
                                << QStringList{} << false;
    QTest::newRow("no match") << QStringList{"Demo|https://h/demo"}
                              << QStringList{"Qt|/opt/qt|/opt/qt"}
                              << QStringList{"Qt|/opt/qt|/opt/qt"} << false;
    QTest::newRow("rewritten") << QStringList{"Demo|https://h/demo"}
                               << QStringList{"Qt|/a|/a", "Demo|/old|/old"}
                               << QStringList{"Qt|/a|/a", "Demo|%F:Demo|%F:Demo"} << true;
    QTest::newRow("already current") << QStringList{"Demo|https://h/demo"}
                                     << QStringList{"Demo|%F:Demo|%F:Demo"}
                                     << QStringList{"Demo|%F:Demo|%F:Demo"} << true;
    QTest::newRow("another set's name begins with it")
        << QStringList{"Demo|https://h/demo"}
        << QStringList{"Demo Extra|/x|/x", "Demo|/old|/old"}
        << QStringList{"Demo Extra|/x|/x", "Demo|%F:Demo|%F:Demo"} << true;
    QTest::newRow("only another set's name begins with it")
        << QStringList{"Demo|https://h/demo"} << QStringList{"Demo SDK|/x|/x"}
        << QStringList{"Demo SDK|/x|/x"} << false;
    QTest::newRow("name that is no folder name")
        << QStringList{"..|https://h/demo"} << QStringList{"..|/old|/old"}
        << QStringList{"..|/old|/old"} << false;
}

void tst_Settings::registration()
{
    QFETCH(QStringList, repositories);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(bool, emitted);

    auto expand = [](QStringList entries) {
        for (QString &entry : entries) {
            static const QRegularExpression folder("%F:([^|]*)");
            QRegularExpressionMatch match;
            while ((match = folder.match(entry)).hasMatch())
                entry.replace(match.capturedStart(), match.capturedLength(),
                              dataLocation().arg(match.captured(1)));
        }
        return entries;
    };

    QDir(dataLocation().arg("Demo")).removeRecursively();
    writeRaw("Tidepool/Repositories", repositories);
    if (!before.isEmpty())
        writeRaw("Help/InstalledExamples", expand(before));
    const QDateTime modified = QFileInfo(m_dir->filePath("QtCreator.ini")).lastModified();

    QSignalSpy setupFinished(Core::HelpManager::Signals::instance(),
                             &Core::HelpManager::Signals::setupFinished);
    registerInstalledExamples(store().get());

    QCOMPARE(setupFinished.size(), emitted ? 1 : 0);
    QCOMPARE(readRaw("Help/InstalledExamples").toStringList(), expand(after));
    QCOMPARE(QFileInfo::exists(dataLocation().arg("Demo")), emitted);
    if (!emitted)
        QCOMPARE(QFileInfo(m_dir->filePath("QtCreator.ini")).lastModified(), modified);
}

QTEST_GUILESS_MAIN(tst_Settings)

#include "tst_settings.moc"
