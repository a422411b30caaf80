#include <welcomeexamplesview.h>

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>
#include <utils/fancylineedit.h>

#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace Shell;

class tst_WelcomeExamplesView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsTheVisibleExamplesOfTheChosenSet();
    void filter_data();
    void filter();
    void documentationChangeRereadsTheManifests();
    void setupFinishedRereadsTheSets();
    void openingShowsTheResolvedPaths();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void addExample(const QString &set, const QString &folder, const QString &name,
                    const QString &tags = {}, bool withProject = true);
    void registerSets(const QStringList &names);
    static QStringList names(const QList<ExampleItem> &items);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_WelcomeExamplesView::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    HostStandIn::setSettingsPath(path("settings"));
}

void tst_WelcomeExamplesView::cleanup()
{
    HostStandIn::reset();
    m_dir.reset();
}

void tst_WelcomeExamplesView::addExample(const QString &set, const QString &folder,
                                         const QString &name, const QString &tags, bool withProject)
{
    const QString dir = path(set + '/' + folder);
    QVERIFY(QDir().mkpath(dir));
    if (withProject) {
        QFile project(dir + "/CMakeLists.txt");
        QVERIFY(project.open(QIODevice::WriteOnly));
    }
    QFile manifest(dir + "/examples-manifest.xml");
    QVERIFY(manifest.open(QIODevice::WriteOnly));
    manifest.write(QString("<instructionals><examples><example name=\"%1\" projectPath=\"CMakeLists.txt\" "
                           "imageUrl=\"dummy.png\"><description>About %1</description>"
                           "<tags>%2</tags><fileToOpen>/CMakeLists.txt</fileToOpen></example>"
                           "</examples></instructionals>")
                       .arg(name, tags)
                       .toUtf8());
}

void tst_WelcomeExamplesView::registerSets(const QStringList &names)
{
    QStringList entries;
    for (const QString &name : names) {
        QDir().mkpath(path(name));
        entries.append(QString("%1|%2|%2").arg(name, path(name)));
    }
    Core::ICore::settings()->setValue("Help/InstalledExamples", entries);
}

QStringList tst_WelcomeExamplesView::names(const QList<ExampleItem> &items)
{
    QStringList result;
    for (const ExampleItem &item : items)
        result.append(item.name);
    return result;
}

void tst_WelcomeExamplesView::listsTheVisibleExamplesOfTheChosenSet()
{
    addExample("one", "clock", "Clock");
    addExample("one", "broken", "Broken", {}, false);
    addExample("two", "notes", "Notes");
    registerSets({"one", "two"});

    WelcomeExamplesView view;
    QCOMPARE(view.sets().size(), 2);
    QCOMPARE(view.currentSetName(), "one");
    QCOMPARE(names(view.shownExamples()), QStringList{"Clock"});

    QVERIFY(view.selectSet("two"));
    QCOMPARE(names(view.shownExamples()), QStringList{"Notes"});
    // The choice is remembered for the next start.
    WelcomeExamplesView again;
    QCOMPARE(again.currentSetName(), "two");
}

void tst_WelcomeExamplesView::filter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("empty") << "" << QStringList({"Analog Clock", "Notes", "Sensor Gauge"});
    QTest::newRow("name, any case") << "clock" << QStringList{"Analog Clock"};
    QTest::newRow("tag") << "qml" << QStringList({"Analog Clock", "Sensor Gauge"});
    QTest::newRow("description") << "about notes" << QStringList{"Notes"};
    QTest::newRow("every word must match") << "qml gauge" << QStringList{"Sensor Gauge"};
    QTest::newRow("nothing") << "qmake" << QStringList();
}

void tst_WelcomeExamplesView::filter()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, shown);
    addExample("set", "clock", "Analog Clock", "qml,clock");
    addExample("set", "notes", "Notes", "widgets");
    addExample("set", "gauge", "Sensor Gauge", "qml,sensors");
    registerSets({"set"});

    WelcomeExamplesView view;
    view.findChild<Utils::FancyLineEdit *>()->setText(filter);
    QCOMPARE(names(view.shownExamples()), shown);
}

void tst_WelcomeExamplesView::documentationChangeRereadsTheManifests()
{
    addExample("set", "clock", "Clock");
    registerSets({"set"});
    WelcomeExamplesView view;
    QCOMPARE(names(view.shownExamples()), QStringList{"Clock"});

    addExample("set", "notes", "Notes");
    QCOMPARE(names(view.shownExamples()), QStringList{"Clock"});
    emit Core::HelpManager::Signals::instance()->documentationChanged();
    QCOMPARE(names(view.shownExamples()), QStringList({"Clock", "Notes"}));

    QVERIFY(QDir(path("set/clock")).removeRecursively());
    emit Core::HelpManager::Signals::instance()->documentationChanged();
    QCOMPARE(names(view.shownExamples()), QStringList{"Notes"});
}

void tst_WelcomeExamplesView::setupFinishedRereadsTheSets()
{
    addExample("one", "clock", "Clock");
    registerSets({"one"});
    WelcomeExamplesView view;
    auto combo = view.findChild<QComboBox *>();
    QCOMPARE(combo->count(), 1);

    addExample("two", "notes", "Notes");
    registerSets({"one", "two"});
    emit Core::HelpManager::Signals::instance()->setupFinished();
    QCOMPARE(combo->count(), 2);
    QCOMPARE(view.currentSetName(), "one");
}

void tst_WelcomeExamplesView::openingShowsTheResolvedPaths()
{
    addExample("set", "clock", "Clock");
    registerSets({"set"});
    WelcomeExamplesView view;
    QSignalSpy opened(&view, &WelcomeExamplesView::exampleOpened);
    auto list = view.findChild<QListWidget *>();
    QCOMPARE(list->count(), 1);
    emit list->itemActivated(list->item(0));
    QCOMPARE(opened.size(), 1);
    const auto item = opened.first().first().value<ExampleItem>();
    QCOMPARE(item.projectPath, path("set/clock/CMakeLists.txt"));
    QCOMPARE(item.filesToOpen, QStringList{path("set/clock/CMakeLists.txt")});
}

QTEST_MAIN(tst_WelcomeExamplesView)
#include "tst_welcomeexamplesview.moc"
