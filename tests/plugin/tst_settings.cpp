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
    void initTestCase()
    {
        // Repositories are visited in hash order: the same order in every run.
        QHashSeed::setDeterministicGlobalSeed();
        QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
    }

    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void listItems_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("names"); // accepted, sorted
        QTest::addColumn<QSet<QString>>("removedOfFirst");
        QTest::addColumn<QStringList>("messages");

        const QString repos = "Repositories";
        const QString wrong = "Skipping wrong setting in item: \"%1\"";
        const QString dup = "Skipping duplicated repository %1 in item: \"%2\"";
        const QString invalid = "Empty or invalid settings. Check variable: \"Repositories\"";
        const QString other = "Other|https://h/o";
        // A skipped item never costs the items after it; the first of a name or url wins.
        QTest::newRow("removed paths, trailing separator")
            << repos << QStringList{"Demo|https://h/g|a|b|a|"} << QStringList{"Demo"}
            << QSet<QString>{"", "a", "b"} << QStringList{};
        QTest::newRow("empty item, no separator") << repos << QStringList{"", "Demo", other}
            << QStringList{"Other"} << QSet<QString>{} << QStringList{wrong.arg("Demo")};
        QTest::newRow("empty name, empty url")
            << repos << QStringList{"|https://h/g", "Demo||a"} << QStringList{} << QSet<QString>{}
            << QStringList{wrong.arg("|https://h/g"), wrong.arg("Demo||a"), invalid};
        QTest::newRow("duplicated name and url") << repos
            << QStringList{"Demo|https://h/g|a", "Demo|https://h/x", "Dup|https://h/g", other}
            << QStringList{"Demo", "Other"} << QSet<QString>{"a"}
            << QStringList{dup.arg("name", "Demo|https://h/x"), dup.arg("url", "Dup|https://h/g")};
        QTest::newRow("dates") << "UpdatesCheckedDate"
            << QStringList{"Demo|01.02.2026|x", "Other|01.02.2026", "Other|02.02.2026"}
            << QStringList{"Other"} << QSet<QString>{}
            << QStringList{wrong.arg("Demo|01.02.2026|x"), dup.arg("name", "Other|02.02.2026"),
                           "Settings does not contain variable: \"Repositories\""};
    }

    void listItems()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, items);
        QFETCH(QStringList, names);
        QFETCH(QSet<QString>, removedOfFirst);
        QFETCH(QStringList, messages);

        const bool dates = key != "Repositories";
        writeRaw("Tidepool/" + key, items);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Settings:"));
        for (const QString &message : messages)
            QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());

        Settings loaded;
        loaded.load(store().get());
        QStringList keys = dates ? loaded.updatesCheckedDate.keys() : loaded.repositories.keys();
        keys.sort();
        QCOMPARE(keys, names);
        if (dates)
            QCOMPARE(loaded.updatesCheckedDate.value(names.first()), QDate(2026, 2, 1));
        else if (!names.isEmpty())
            QCOMPARE(loaded.repositories.value(names.first()).removedExamples, removedOfFirst);
    }

    void roundTrip()
    {
        // Nothing stored: the defaults, and the dates already known are kept.
        Settings saved;
        saved.repositories.insert("x", {});
        saved.updatesCheckedDate.insert("Demo", QDate(2026, 1, 1));
        saved.load(store().get());
        QCOMPARE(saved.updatesCheckTimeoutDays, 1u);
        QCOMPARE(saved.serviceRestartTimeoutSeconds, 60u);
        QVERIFY(saved.repositories.isEmpty());
        QCOMPARE(saved.updatesCheckedDate.value("Demo"), QDate(2026, 1, 1));

        // A date that is no date is written back empty.
        writeRaw("Tidepool/UpdatesCheckedDate", QStringList{"Gone|31.02.2026"});
        saved.load(store().get());
        saved.updatesCheckTimeoutDays = 3;
        saved.serviceRestartTimeoutSeconds = 15;
        saved.updatesCheckedDate.insert("Demo", QDate(2026, 12, 1));
        const RepositorySettings demo{QUrl("https://gitlab.example.com/demo-examples"),
                                      {"hello", "cru-albania-ds.gitlab.io"}, {}, {"pending"}, {}};
        saved.repositories.insert("Demo", demo);
        saved.repositories.insert("Other name", {QUrl("http://127.0.0.1:8080/p"), {}, {}, {}, {}});
        saved.save(store().get());

        // A copy that never loaded adds its date to what is stored, not its own empty state.
        Settings().saveUpdatesCheckedDate(store().get(), "Other", QDate(2025, 1, 31));
        saved.updatesCheckedDate.insert("Other", QDate(2025, 1, 31));

        Settings loaded;
        loaded.load(store().get());
        QCOMPARE(loaded.updatesCheckTimeoutDays, 3u);
        QCOMPARE(loaded.serviceRestartTimeoutSeconds, 15u);
        QCOMPARE(loaded.updatesCheckedDate, saved.updatesCheckedDate);
        QCOMPARE(loaded.repositories.value("Demo").url, demo.url);
        QCOMPARE(loaded.repositories.value("Demo").removedExamples, demo.removedExamples);
        // Nothing removed yet still ends in a separator.
        QCOMPARE(loaded.repositories.value("Other name").removedExamples, QSet<QString>{QString()});
    }

    void registration_data()
    {
        QTest::addColumn<QStringList>("repositories");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("emitted");

        const QStringList demo{"Demo|https://h/demo"};
        const QString current = QString("Demo|%1|%1").arg(dataLocation().arg("Demo"));
        // Only the entry of the very name is rewritten.
        const QStringList others{"Qt|/a|/a", "Demo SDK|/x|/x"};
        QTest::newRow("rewritten") << demo << others + QStringList{"Demo|/old|/old"}
                                   << others + QStringList{current} << true;
        QTest::newRow("no entry of its own")
            << demo << QStringList{"Demo SDK|/x|/x"} << QStringList{"Demo SDK|/x|/x"} << false;
        // Whatever the order of the repositories, the unusable ones cost the others nothing.
        const QStringList unusable{"..|/old|/old", ".|/old|/old", "a/b|/old|/old", "a\\b|/old|/old",
                                   "e\x1b|/old|/old"};
        QTest::newRow("unusable names beside a usable one")
            << QStringList{"..|https://h/up", ".|https://h/dot", "a/b|https://h/ab",
                           "a\\b|https://h/bs", "e\x1b|https://h/esc", demo.first()}
            << unusable + QStringList{"Demo|/old|/old"} << unusable + QStringList{current} << true;
    }

    void registration()
    {
        QFETCH(QStringList, repositories);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(bool, emitted);

        QDir(dataLocation().arg("Demo")).removeRecursively();
        writeRaw("Tidepool/Repositories", repositories);
        writeRaw("Help/InstalledExamples", before);
        const QDateTime modified = QFileInfo(ini()).lastModified();

        QSignalSpy setupFinished(Core::HelpManager::Signals::instance(),
                                 &Core::HelpManager::Signals::setupFinished);
        registerInstalledExamples(store().get());

        QCOMPARE(setupFinished.size(), emitted ? 1 : 0);
        QCOMPARE(store()->value("Help/InstalledExamples").toStringList(), after);
        QCOMPARE(QFileInfo::exists(dataLocation().arg("Demo")), emitted);
        if (!emitted)
            QCOMPARE(QFileInfo(ini()).lastModified(), modified);
    }

private:
    QString ini() const { return m_dir->filePath("QtCreator.ini"); }
    std::unique_ptr<Utils::QtcSettings> store() const
    {
        return std::make_unique<Utils::QtcSettings>(ini(), QSettings::IniFormat);
    }
    void writeRaw(const QString &key, const QVariant &value)
    {
        QSettings(ini(), QSettings::IniFormat).setValue(key, value);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(tst_Settings)

#include "tst_settings.moc"
