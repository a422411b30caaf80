#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <coreplugin/messagebox.h>
#include <extensionsystem/pluginmanager.h>
#include <hoststandin/hostsetup.h>
#include <orvik/sdk.h>
#include <utils/fancylineedit.h>
#include <utils/filepath.h>
#include <utils/id.h>
#include <utils/qtcsettings.h>

#include <QAbstractButton>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <type_traits>

using namespace Utils;

// Keys are made from literals and arrays, never from pointers or QStrings.
static_assert(std::is_convertible_v<const char (&)[5], Key>);
static_assert(!std::is_convertible_v<const char *, Key>);
static_assert(!std::is_convertible_v<QString, Key>);

namespace {

class RecordingWidget : public Core::IOptionsPageWidget
{
public:
    explicit RecordingWidget(QStringList *log) : m_log(log) {}

protected:
    void apply() override { m_log->append("apply"); }
    void cancel() override { m_log->append("cancel"); }
    void finish() override { m_log->append("finish"); }

private:
    QStringList *m_log;
};

class TestPage : public Core::IOptionsPage
{
public:
    explicit TestPage(bool registerGlobally = true) : IOptionsPage(registerGlobally)
    {
        setId("Test.Page");
        setDisplayName("Examples");
        setCategory("H.Help");
        setWidgetCreator([this] {
            ++created;
            return new RecordingWidget(&log);
        });
    }

    int created = 0;
    QStringList log;
};

} // namespace

class tst_HostCore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void userSettingsAreTheIniFileUnderTheSettingsPath();
    void setValueWithDefaultKeepsDefaultsOutOfTheFile_data();
    void setValueWithDefaultKeepsDefaultsOutOfTheFile();
    void installSettingsComeFromTheResourceFolder();
    void keysKeepNonAsciiText();
    void idsAreInterned();
    void filePathOperations_data();
    void filePathOperations();
    void ensureWritableDirCreatesTheWholePath();

    void optionsPageCreatesItsWidgetOnce();
    void optionsPageForwardsToItsWidget();
    void optionsPageWidgetCallbacks();
    void optionsPagesAreListedWhileTheyLive();
    void showOptionsDialogAsksTheProvider();

    void messageBoxDoesNotBlock_data();
    void messageBoxDoesNotBlock();
    void filterLineEdit();
    void documentationChangedOnlyOnChange();
    void sdkDefaultsAndOverrides();

private:
    QTemporaryDir m_dir;
};

void tst_HostCore::init()
{
    HostStandIn::reset();
    QVERIFY(m_dir.isValid());
    HostStandIn::setSettingsPath(m_dir.filePath("settings"));
    HostStandIn::setResourcePath(m_dir.filePath("resources"));
}

void tst_HostCore::cleanup()
{
    HostStandIn::reset();
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(m_dir.path());
}

void tst_HostCore::userSettingsAreTheIniFileUnderTheSettingsPath()
{
    QtcSettings *settings = Core::ICore::settings();
    QVERIFY(settings);
    QVERIFY(ExtensionSystem::PluginManager::settings() == settings);
    QVERIFY(Core::ICore::settings(QSettings::UserScope) == settings);

    settings->beginGroup("Tidepool");
    settings->setValue("UpdatesCheckTimeoutDays", 7);
    settings->endGroup();
    settings->setValue("Help/InstalledExamples", QStringList({"a|b|c", "d|e|f"}));
    settings->sync();

    const QString iniPath = m_dir.filePath("settings/QtProject/QtCreator.ini");
    QCOMPARE(settings->fileName(), iniPath);
    QSettings ini(iniPath, QSettings::IniFormat);
    QCOMPARE(ini.value("Tidepool/UpdatesCheckTimeoutDays").toInt(), 7);
    QCOMPARE(ini.value("Help/InstalledExamples").toStringList(), QStringList({"a|b|c", "d|e|f"}));

    // A new settings path is a new file: nothing carries over, and the old file stays.
    HostStandIn::setSettingsPath(m_dir.filePath("other"));
    QVERIFY(!Core::ICore::settings()->contains("Tidepool/UpdatesCheckTimeoutDays"));
    QCOMPARE(Core::ICore::settings()->fileName(), m_dir.filePath("other/QtProject/QtCreator.ini"));
    QVERIFY(QFileInfo::exists(iniPath));
}

void tst_HostCore::setValueWithDefaultKeepsDefaultsOutOfTheFile_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("stored");
    QTest::newRow("default") << 7 << false;
    QTest::newRow("other") << 3 << true;
}

void tst_HostCore::setValueWithDefaultKeepsDefaultsOutOfTheFile()
{
    QFETCH(int, value);
    QFETCH(bool, stored);

    QtcSettings *settings = Core::ICore::settings();
    settings->setValue("Days", 99);
    settings->setValueWithDefault("Days", value, 7);
    QCOMPARE(settings->contains("Days"), stored);
    if (stored)
        QCOMPARE(settings->value("Days").toInt(), value);

    // The one-argument form compares with a default-constructed value.
    settings->setValueWithDefault("Name", QString("x"));
    QCOMPARE(settings->value("Name").toString(), "x");
    settings->setValueWithDefault("Name", QString());
    QVERIFY(!settings->contains("Name"));
}

void tst_HostCore::installSettingsComeFromTheResourceFolder()
{
    const QString resources = m_dir.filePath("resources");
    {
        QDir().mkpath(resources + "/QtProject");
        QSettings ini(resources + "/QtProject/QtCreator.ini", QSettings::IniFormat);
        ini.setValue("Help/InstalledExamples", QStringList({"SDK|/sdk/examples|/sdk/examples"}));
    }
    QtcSettings *install = Core::ICore::settings(QSettings::SystemScope);
    QVERIFY(ExtensionSystem::PluginManager::globalSettings() == install);
    QVERIFY(install != Core::ICore::settings());
    QCOMPARE(install->value("Help/InstalledExamples").toStringList(),
             QStringList({"SDK|/sdk/examples|/sdk/examples"}));
    QCOMPARE(Core::ICore::resourcePath("translations").toFSPathString(), resources + "/translations");
    QCOMPARE(Core::ICore::resourcePath().toFSPathString(), resources);
}

void tst_HostCore::keysKeepNonAsciiText()
{
    const QString text = QStringLiteral("Tidepool/Beispiele für Übungen");
    QCOMPARE(stringFromKey(keyFromString(text)), text);
    QtcSettings *settings = Core::ICore::settings();
    settings->setValue(keyFromString(text), 1);
    QCOMPARE(settings->childGroups(), QStringList("Tidepool"));
    QCOMPARE(settings->value(keyFromString(text)).toInt(), 1);

    QCOMPARE(stringFromKey(Key(Key("Repository"), 3)), "Repository3");
    static const char group[] = "Tidepool";
    QCOMPARE(stringFromKey(Key(group) + '/' + Key("Repositories")), "Tidepool/Repositories");
}

void tst_HostCore::idsAreInterned()
{
    const Id help("H.Help");
    QVERIFY(help.isValid());
    QCOMPARE(Id::fromString("H.Help"), help);
    QCOMPARE(Id::fromName("H.Help"), help);
    QVERIFY(Id("H.Other") != help);
    QCOMPARE(help.toString(), "H.Help");
    QCOMPARE(help.name(), QByteArray("H.Help"));
    QCOMPARE(help.withSuffix(2), Id("H.Help2"));
    QCOMPARE(Id::fromSetting(help.toSetting()), help);
    QVERIFY(!Id().isValid());
    QVERIFY(!Id("").isValid());
    QVERIFY(!Id::fromString(QString()).isValid());
    QCOMPARE(QVariant::fromValue(help).value<Id>(), help);
}

void tst_HostCore::filePathOperations_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("appended");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("plain") << "/data/examples" << "/data/examples/demo" << "/data" << "examples";
    QTest::newRow("trailing separator") << "/data/examples/" << "/data/examples/demo" << "/data" << "";
    QTest::newRow("top folder") << "/data" << "/data/demo" << "/" << "data";
    QTest::newRow("root") << "/" << "/demo" << "" << "";
    QTest::newRow("relative") << "examples" << "examples/demo" << "." << "examples";
}

void tst_HostCore::filePathOperations()
{
    QFETCH(QString, path);
    QFETCH(QString, appended);
    QFETCH(QString, parent);
    QFETCH(QString, fileName);

    const FilePath filePath = FilePath::fromString(path);
    QCOMPARE(filePath.toFSPathString(), path);
    QCOMPARE((filePath / "demo").toFSPathString(), appended);
    QCOMPARE(filePath.pathAppended("/demo").toFSPathString(), appended);
    QCOMPARE(filePath.parentDir().toFSPathString(), parent);
    QCOMPARE(filePath.fileName(), fileName);
}

void tst_HostCore::ensureWritableDirCreatesTheWholePath()
{
    const FilePath deep = FilePath::fromString(m_dir.filePath("a/b/c"));
    QVERIFY(!deep.exists());
    QVERIFY(deep.ensureWritableDir());
    QVERIFY(deep.isDir());
    QVERIFY(deep.ensureWritableDir());

    const FilePath file = FilePath::fromString(m_dir.filePath("a/plain.txt"));
    QFile f(file.toFSPathString());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(!file.ensureWritableDir());

    QCOMPARE(FilePath::fromUserInput("~/x/../y").toFSPathString(), QDir::homePath() + "/y");
}

void tst_HostCore::optionsPageCreatesItsWidgetOnce()
{
    TestPage page;
    QCOMPARE(page.created, 0);
    // Applying a page whose widget was never shown creates nothing.
    page.apply();
    page.finish();
    QCOMPARE(page.created, 0);
    QVERIFY(page.log.isEmpty());

    QWidget *widget = page.widget();
    QVERIFY(widget);
    QCOMPARE(page.widget(), widget);
    QCOMPARE(page.created, 1);
}

void tst_HostCore::optionsPageForwardsToItsWidget()
{
    TestPage page;
    QPointer<QWidget> widget = page.widget();
    page.apply();
    page.cancel();
    QCOMPARE(page.log, QStringList({"apply", "cancel"}));
    QVERIFY(widget);

    page.finish();
    QCOMPARE(page.log, QStringList({"apply", "cancel", "finish"}));
    QVERIFY(!widget);

    // After finish the page starts over with a fresh widget.
    QVERIFY(page.widget());
    QCOMPARE(page.created, 2);
}

void tst_HostCore::optionsPageWidgetCallbacks()
{
    QStringList log;
    TestPage page;
    page.setWidgetCreator([&log] {
        auto widget = new Core::IOptionsPageWidget;
        widget->setOnApply([&log] { log.append("onApply"); });
        widget->setOnFinish([&log] { log.append("onFinish"); });
        return widget;
    });
    page.widget();
    page.apply();
    page.cancel(); // no callback set: nothing happens
    page.finish();
    QCOMPARE(log, QStringList({"onApply", "onFinish"}));
}

void tst_HostCore::optionsPagesAreListedWhileTheyLive()
{
    Core::IOptionsPage::registerCategory("H.Help", "Help", FilePath(":/help/icon.png"));
    const qsizetype before = Core::IOptionsPage::allOptionsPages().size();
    {
        TestPage listed;
        TestPage unlisted(false);
        const QList<Core::IOptionsPage *> pages = Core::IOptionsPage::allOptionsPages();
        QCOMPARE(pages.size(), before + 1);
        QVERIFY(pages.contains(&listed));
        QCOMPARE(listed.id(), Id("Test.Page"));
        QCOMPARE(listed.category(), Id("H.Help"));
        QCOMPARE(listed.displayCategory(), "Help");
        QCOMPARE(listed.categoryIconPath(), FilePath(":/help/icon.png"));
        QVERIFY(listed.matches(QRegularExpression("exam", QRegularExpression::CaseInsensitiveOption)));
        QVERIFY(!listed.matches(QRegularExpression("nothing like it")));
    }
    QCOMPARE(Core::IOptionsPage::allOptionsPages().size(), before);
}

void tst_HostCore::showOptionsDialogAsksTheProvider()
{
    QVERIFY(!Core::ICore::showOptionsDialog("Test.Page"));

    QMainWindow window;
    HostStandIn::setMainWindow(&window);
    Id askedFor;
    QWidget *askedParent = nullptr;
    HostStandIn::setOptionsDialogProvider([&](Id page, QWidget *parent) {
        askedFor = page;
        askedParent = parent;
        return true;
    });
    QVERIFY(Core::ICore::showOptionsDialog("Test.Page"));
    QCOMPARE(askedFor, Id("Test.Page"));
    QCOMPARE(askedParent, &window);
}

void tst_HostCore::messageBoxDoesNotBlock_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::newRow("information") << 0 << QMessageBox::Information;
    QTest::newRow("warning") << 1 << QMessageBox::Warning;
    QTest::newRow("critical") << 2 << QMessageBox::Critical;
}

void tst_HostCore::messageBoxDoesNotBlock()
{
    QFETCH(int, kind);
    QFETCH(QMessageBox::Icon, icon);

    QMainWindow window;
    HostStandIn::setMainWindow(&window);
    QWidget *widget = nullptr;
    if (kind == 0)
        widget = Core::AsynchronousMessageBox::information("Title", "Text");
    else if (kind == 1)
        widget = Core::AsynchronousMessageBox::warning("Title", "Text");
    else
        widget = Core::AsynchronousMessageBox::critical("Title", "Text");

    // Reaching this line at all means the call did not wait for the box.
    QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(widget);
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(box->isModal());
    QCOMPARE(box->icon(), icon);
    QCOMPARE(box->text(), "Text");
    QCOMPARE(box->windowTitle(), "Title");
    QCOMPARE(box->parentWidget(), &window);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);

    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!box);
}

void tst_HostCore::filterLineEdit()
{
    FancyLineEdit edit;
    QSignalSpy filterChanged(&edit, &FancyLineEdit::filterChanged);
    edit.setText("before");
    QCOMPARE(filterChanged.size(), 0);
    edit.clear();

    edit.setFiltering(true);
    QCOMPARE(edit.placeholderText(), "Filter");
    QVERIFY(!edit.isButtonVisible(FancyLineEdit::Right));

    edit.setText("dem");
    QCOMPARE(filterChanged.size(), 1);
    QCOMPARE(filterChanged.last().first().toString(), "dem");
    QVERIFY(edit.isButtonVisible(FancyLineEdit::Right));

    edit.button(FancyLineEdit::Right)->click();
    QVERIFY(edit.text().isEmpty());
    QCOMPARE(filterChanged.size(), 2);
    QCOMPARE(filterChanged.last().first().toString(), QString());
    QVERIFY(!edit.isButtonVisible(FancyLineEdit::Right));
}

void tst_HostCore::documentationChangedOnlyOnChange()
{
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    const QStringList files = {m_dir.filePath("a.qch")};
    Core::HelpManager::registerDocumentation(files);
    Core::HelpManager::registerDocumentation(files);
    QCOMPARE(changed.size(), 1);
    Core::HelpManager::unregisterDocumentation(files);
    Core::HelpManager::unregisterDocumentation(files);
    QCOMPARE(changed.size(), 2);
}

void tst_HostCore::sdkDefaultsAndOverrides()
{
    qunsetenv("ORVIK_SDK_OS_VARIANT");
    qunsetenv("ORVIK_SDK_NAME");
    QCOMPARE(Orvik::Sdk::osVariant(), "VeyraOS");
    QCOMPARE(Orvik::Sdk::releaseInfo().sdkName, "VeyraSDK");

    qputenv("ORVIK_SDK_OS_VARIANT", "TestOS");
    qputenv("ORVIK_SDK_NAME", "TestSDK");
    QCOMPARE(Orvik::Sdk::osVariant(), "TestOS");
    QCOMPARE(Orvik::Sdk::releaseInfo().sdkName, "TestSDK");
    qunsetenv("ORVIK_SDK_OS_VARIANT");
    qunsetenv("ORVIK_SDK_NAME");
}

QTEST_MAIN(tst_HostCore)

#include "tst_hostcore.moc"
