#include "uitestsupport.h"

#include "ui/examplesdialog.h"
#include "ui/optionspage.h"
#include "ui/optionswidget.h"

#include <coreplugin/helpmanager.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using namespace Tidepool::Internal;
using namespace UiTest;

namespace {

const QDateTime baseTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);

QStringList texts(const QListWidget *list, bool visibleOnly = false)
{
    QStringList result;
    for (int row = 0; row < list->count(); ++row) {
        if (!visibleOnly || !list->item(row)->isHidden())
            result.append(list->item(row)->text());
    }
    return result;
}

QListWidgetItem *itemNamed(const QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.size() == 1 ? found.first() : nullptr;
}

QString statusOf(const QListWidgetItem *item)
{
    static const QRegularExpression status("Status:&nbsp;</td><td style=\"width: 60%;\">([^<]*)</td>");
    return status.match(item->toolTip()).captured(1);
}

void ctrlClick(QListWidget *list, const QStringList &wanted)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        if (!wanted.contains(item->text()) || item->isHidden())
            continue;
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(item).center());
    }
}

} // namespace

class tst_OptionsWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pageHostsTheWidget();
    void repositoriesSortedCapitalsFirst();
    void noRepositoryConfigured();

    void installedManifests_data();
    void installedManifests();
    void updateStatus_data();
    void updateStatus();
    void documentationChangedOncePerChangingScan_data();
    void documentationChangedOncePerChangingScan();
    void filter_data();
    void filter();

    void addInstallsOnApply();
    void addSkipsWhatIsListed();
    void addWithoutOnlineExamplesWarns();
    void removeWithoutSelectionInforms();
    void removeDeletesOnApplyOnce();
    void removeActsOnVisibleItemsOnly();
    void removeLeavesUnsafeFolderNames();
    void queuedPairsCancel_data();
    void queuedPairsCancel();
    void switchingRepositoryKeepsQueues();

    void interval_data();
    void interval();

private:
    OptionsWidget *showPage();
    QUrl groupUrl(const QString &group) const;
    qint64 addGroup(const QString &group);
    // Presses Add and, in the dialog, Ctrl-clicks the paths and presses OK (or Cancel).
    bool addThroughDialog(const QStringList &paths, bool accept = true);

    template<typename T>
    T *child(const char *name) { return m_page->widget()->findChild<T *>(name); }

    LocalGitLab::Server m_server;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<OptionsPage> m_page;
    int m_groups = 0;
};

void tst_OptionsWidget::initTestCase()
{
    QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
    QVERIFY(m_server.start().isValid());
}

void tst_OptionsWidget::init()
{
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_settingsDir->isValid());
    HostStandIn::setSettingsPath(m_settingsDir->path());
    QVERIFY(clearDataLocation());
    m_server.clearRequestLog();
}

void tst_OptionsWidget::cleanup()
{
    if (m_page) {
        m_page->finish();
        m_page.reset();
    }
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox *>(window))
            window->close();
    }
    QTRY_VERIFY(!messageBox("Examples Not Found") && !messageBox("Examples Not Selected"));
}

OptionsWidget *tst_OptionsWidget::showPage()
{
    m_page = std::make_unique<OptionsPage>("VeyraOS Examples",
                                           Utils::Id("Zel.Tidepool.Plugin.Settings.Page"),
                                           [] { return new OptionsWidget; });
    auto widget = qobject_cast<OptionsWidget *>(m_page->widget());
    if (widget) {
        widget->show();
        if (!QTest::qWaitForWindowExposed(widget))
            return nullptr;
    }
    return widget;
}

QUrl tst_OptionsWidget::groupUrl(const QString &group) const
{
    QUrl url = m_server.baseUrl();
    url.setPath('/' + group);
    return url;
}

qint64 tst_OptionsWidget::addGroup(const QString &group)
{
    return m_server.addGroup(group, group);
}

bool tst_OptionsWidget::addThroughDialog(const QStringList &paths, bool accept)
{
    QObject guard;
    bool shown = false;
    QTimer::singleShot(0, &guard, [&] {
        auto dialog = m_page->widget()->findChild<ExamplesDialog *>();
        if (!dialog || !dialog->isVisible())
            return;
        shown = true;
        ctrlClick(dialog->findChild<QListWidget *>("examplesListWidget"), paths);
        auto buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
        QTest::mouseClick(buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                          Qt::LeftButton);
        if (dialog->isVisible())
            dialog->reject();
    });
    QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
    // The dialog lives only during the click.
    return shown && !m_page->widget()->findChild<ExamplesDialog *>();
}

void tst_OptionsWidget::pageHostsTheWidget()
{
    saveSettings({{"Demo", groupUrl("none")}}, 4);
    OptionsWidget *widget = showPage();
    QVERIFY(widget);
    QCOMPARE(m_page->id(), Utils::Id("Zel.Tidepool.Plugin.Settings.Page"));
    QCOMPARE(m_page->category(), Utils::Id("H.Help"));
    QCOMPARE(m_page->displayName(), "VeyraOS Examples");
    QVERIFY(Core::IOptionsPage::allOptionsPages().contains(m_page.get()));
    QCOMPARE(m_page->widget(), widget);

    // The host's Apply reaches the widget, which writes its settings.
    QTest::keyClick(child<QSpinBox>("timeoutSpinBox"), Qt::Key_Up);
    m_page->apply();
    QCOMPARE(storedSettings().updatesCheckTimeoutDays, 5u);

    QPointer<QWidget> gone(widget);
    m_page->finish();
    QTRY_VERIFY(!gone);
}

void tst_OptionsWidget::repositoriesSortedCapitalsFirst()
{
    saveSettings({{"beta", QUrl("https://h.example/b")},
                  {"Zeta", QUrl("https://h.example/z")},
                  {"alpha", QUrl("https://h.example/a")},
                  {"_under", QUrl("https://h.example/u")},
                  {"Alpha", QUrl("https://h.example/A")}},
                 1);
    QVERIFY(showPage());
    auto combo = child<QComboBox>("repositoryComboBox");
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names.append(combo->itemText(i));
    QCOMPARE(names, (QStringList{"Alpha", "Zeta", "_under", "alpha", "beta"}));
    QCOMPARE(combo->currentText(), "Alpha");
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(),
             QString("<table><tbody>"
                     "<tr><td style=\"width: 40%;\">Folder:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
                     "<tr><td style=\"width: 40%;\">Link:&nbsp;</td><td style=\"width: 60%;\">https://h.example/z</td></tr>"
                     "</tbody></table>")
                 .arg(QDir::toNativeSeparators(repositoryFolder("Zeta"))));
}

void tst_OptionsWidget::noRepositoryConfigured()
{
    saveSettings({}, 3);
    QVERIFY(showPage());
    QCOMPARE(child<QComboBox>("repositoryComboBox")->count(), 0);
    QCOMPARE(child<QListWidget>("examplesListWidget")->count(), 0);

    QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
    QTRY_VERIFY(messageBox("Examples Not Found"));
    QCOMPARE(messageBox("Examples Not Found")->text(), "Check your online connection and try again later!");
    messageBox("Examples Not Found")->close();

    m_page->apply();
    // Showing the empty combo box's text looked a repository up: it must not have become one
    // (an entry without a name would be stored as "||").
    QSettings raw(HostStandIn::settingsPath() + "/QtProject/QtCreator.ini", QSettings::IniFormat);
    QCOMPARE(raw.value("Tidepool/UpdatesCheckTimeoutDays").toInt(), 3);
    QCOMPARE(raw.value("Tidepool/Repositories").toStringList(), QStringList());
}

void tst_OptionsWidget::installedManifests_data()
{
    QTest::addColumn<QStringList>("manifestFolders");
    QTest::addColumn<QStringList>("extraFiles");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("one per example folder")
        << QStringList{"alpha", "beta"} << QStringList{} << QStringList{"alpha", "beta"};
    QTest::newRow("nested manifest listed on its own")
        << QStringList{"alpha", "alpha/variant"} << QStringList{} << QStringList{"alpha", "variant"};
    QTest::newRow("hidden folders and files are not seen")
        << QStringList{"alpha", ".cache/stale"} << QStringList{"beta/.examples-manifest.xml"}
        << QStringList{"alpha"};
    QTest::newRow("file name matched with its case")
        << QStringList{"alpha"} << QStringList{"beta/Examples-Manifest.xml", "gamma/examples-manifest.xml.bak"}
        << QStringList{"alpha"};
    QTest::newRow("folder without manifest") << QStringList{} << QStringList{"alpha/README.md"}
                                             << QStringList{};
}

void tst_OptionsWidget::installedManifests()
{
    QFETCH(QStringList, manifestFolders);
    QFETCH(QStringList, extraFiles);
    QFETCH(QStringList, items);

    for (const QString &folder : std::as_const(manifestFolders))
        QVERIFY(installManifest("Demo", folder, baseTime));
    for (const QString &file : std::as_const(extraFiles)) {
        const QString path = repositoryFolder("Demo") + '/' + file;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // A second repository's examples stay out of this one's list.
    QVERIFY(installManifest("Other", "foreign", baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}, {"Other", QUrl("https://h.example/o")}}, 1);

    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");
    QCOMPARE(texts(list), items);
    for (int row = 0; row < list->count(); ++row) {
        const QString folder = QFileInfo(list->item(row)->data(Qt::UserRole).toString()).fileName();
        QCOMPARE(folder, list->item(row)->text());
        QVERIFY(QFileInfo(list->item(row)->data(Qt::UserRole).toString()).isDir());
    }
}

void tst_OptionsWidget::updateStatus_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QList<LocalGitLab::ProjectData>>("online");
    QTest::addColumn<qint64>("manifestAgeMs"); // manifest time = baseTime - age
    QTest::addColumn<bool>("update");

    using Projects = QList<LocalGitLab::ProjectData>;
    QTest::newRow("newer online") << "alpha" << Projects{project("alpha", baseTime)} << 3600'000ll << true;
    QTest::newRow("older online") << "alpha" << Projects{project("alpha", baseTime)} << -3600'000ll << false;
    QTest::newRow("same time") << "alpha" << Projects{project("alpha", baseTime)} << 0ll << false;
    QTest::newRow("less than a second newer")
        << "alpha" << Projects{project("alpha", baseTime)} << 999ll << false;
    QTest::newRow("one second newer") << "alpha" << Projects{project("alpha", baseTime)} << 1000ll << true;
    QTest::newRow("path differs in case")
        << "Alpha" << Projects{project("alpha", baseTime)} << 3600'000ll << false;
    QTest::newRow("not online") << "alpha" << Projects{project("beta", baseTime)} << 3600'000ll << false;
}

void tst_OptionsWidget::updateStatus()
{
    QFETCH(QString, installed);
    QFETCH(QList<LocalGitLab::ProjectData>, online);
    QFETCH(qint64, manifestAgeMs);
    QFETCH(bool, update);

    const QString group = QString("status%1").arg(++m_groups);
    const qint64 groupId = addGroup(group);
    for (const LocalGitLab::ProjectData &data : std::as_const(online))
        QVERIFY(m_server.addProject(groupId, data));
    saveSettings({{"Demo", groupUrl(group)}}, 0);
    QVERIFY(startService(1));
    QCOMPARE(downloadService()->examples("Demo").size(), online.size());

    QVERIFY(installManifest("Demo", installed, baseTime.addMSecs(-manifestAgeMs)));
    QVERIFY(installManifest("Demo", "plain", baseTime));
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");
    QCOMPARE(texts(list).size(), 2);
    QListWidgetItem *item = itemNamed(list, installed);
    QVERIFY(item);
    QCOMPARE(statusOf(item), update ? "Update available" : "Updated");
    if (update)
        QCOMPARE(item->background(), QBrush(QColor(0xe2, 0xb2, 0xb6)));
    else
        QCOMPARE(item->background().style(), Qt::NoBrush);
    QCOMPARE(statusOf(itemNamed(list, "plain")), "Updated");

    const QString folder = QFileInfo(repositoryFolder("Demo") + '/' + installed).canonicalFilePath();
    QCOMPARE(item->data(Qt::UserRole).toString(), folder);
    QVERIFY(item->toolTip().contains(QDir::toNativeSeparators(folder)));
    QVERIFY(item->toolTip().contains(
        baseTime.addMSecs(-manifestAgeMs).toLocalTime().toString(Qt::TextDate)));
}

void tst_OptionsWidget::documentationChangedOncePerChangingScan_data()
{
    QTest::addColumn<QStringList>("add");    // "repository/folder"
    QTest::addColumn<QStringList>("remove");
    QTest::addColumn<int>("expectedSignals");

    QTest::newRow("nothing changed") << QStringList{} << QStringList{} << 0;
    QTest::newRow("one replaced by another")
        << QStringList{"Demo/gamma"} << QStringList{"Demo/alpha"} << 0;
    QTest::newRow("one added") << QStringList{"Demo/gamma"} << QStringList{} << 1;
    QTest::newRow("one removed") << QStringList{} << QStringList{"Other/omega"} << 1;
    QTest::newRow("both repositories changed")
        << QStringList{"Demo/gamma", "Other/psi"} << QStringList{} << 1;
}

void tst_OptionsWidget::documentationChangedOncePerChangingScan()
{
    QFETCH(QStringList, add);
    QFETCH(QStringList, remove);
    QFETCH(int, expectedSignals);

    const QString group = QString("docs%1").arg(++m_groups);
    addGroup(group);
    saveSettings({{"Demo", groupUrl(group)}, {"Other", groupUrl("nowhere")}}, 0);
    QVERIFY(startService(1));

    QVERIFY(installManifest("Demo", "alpha", baseTime));
    QVERIFY(installManifest("Demo", "beta", baseTime));
    QVERIFY(installManifest("Other", "omega", baseTime));
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    QVERIFY(showPage());
    QCOMPARE(changed.count(), 1); // the first scan found them all

    for (const QString &entry : std::as_const(add))
        QVERIFY(installManifest(entry.section('/', 0, 0), entry.section('/', 1), baseTime));
    for (const QString &entry : std::as_const(remove))
        QVERIFY(QDir(repositoryFolder(entry.section('/', 0, 0)) + '/' + entry.section('/', 1)).removeRecursively());

    // The service tells the page that examples on disk changed.
    emit downloadService()->updated();
    QCOMPARE(changed.count(), 1 + expectedSignals);

    QStringList expected{"alpha", "beta"};
    for (const QString &entry : std::as_const(add))
        if (entry.startsWith("Demo/"))
            expected.append(entry.section('/', 1));
    for (const QString &entry : std::as_const(remove))
        expected.removeAll(entry.section('/', 1));
    expected.sort();
    QCOMPARE(texts(child<QListWidget>("examplesListWidget")), expected);
}

void tst_OptionsWidget::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("visible");

    QTest::newRow("empty shows all") << "" << QStringList{"ALPHABET", "Alpha-One", "beta", "gamma"};
    QTest::newRow("capitals find any case") << "PHA" << QStringList{"ALPHABET", "Alpha-One"};
    QTest::newRow("anywhere in the text") << "a-o" << QStringList{"Alpha-One"};
    QTest::newRow("nothing matches") << "delta" << QStringList{};
}

void tst_OptionsWidget::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, visible);

    for (const char *folder : {"beta", "Alpha-One", "gamma", "ALPHABET"})
        QVERIFY(installManifest("Demo", folder, baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
    QVERIFY(showPage());

    auto edit = child<QLineEdit>("filterLineEdit");
    QTest::keyClicks(edit, "zz");
    edit->clear();
    QTest::keyClicks(edit, text);
    QCOMPARE(texts(child<QListWidget>("examplesListWidget"), true), visible);
}

void tst_OptionsWidget::addInstallsOnApply()
{
    const QString group = QString("add%1").arg(++m_groups);
    const qint64 groupId = addGroup(group);
    QVERIFY(m_server.addProject(groupId, project("alpha", baseTime)));
    QVERIFY(m_server.addProject(groupId, project("beta", baseTime, "The beta example")));
    QVERIFY(m_server.addProject(groupId, project("gamma", baseTime)));
    // The user once removed beta; installing it by hand takes it off that list.
    saveSettings({{"Demo", groupUrl(group), {"beta", "gamma"}}}, 0);
    QVERIFY(startService(1));
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    QVERIFY(showPage());

    auto list = child<QListWidget>("examplesListWidget");
    QTest::keyClicks(child<QLineEdit>("filterLineEdit"), "alp");
    QVERIFY(addThroughDialog({"beta"}));
    // Appended after the filter was typed: shown all the same, until the filter changes.
    QCOMPARE(texts(list, true), (QStringList{"alpha", "beta"}));
    QVERIFY(itemNamed(list, "beta")->data(Qt::UserRole).toString().isEmpty());
    QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 0);

    QSignalSpy updated(downloadService(), &DownloadService::updated);
    m_page->apply();
    const QString manifest = repositoryFolder("Demo") + "/beta/" + manifestName;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(manifest), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() > 0, 20000);
    QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 1);
    QCOMPARE(storedRemovedExamples("Demo"), QSet<QString>{"gamma"});

    // The service's announcement rebuilds the list from disk: beta is now installed.
    QListWidgetItem *beta = itemNamed(list, "beta");
    QVERIFY(beta);
    QCOMPARE(QFileInfo(beta->data(Qt::UserRole).toString()).fileName(), "beta");
    QCOMPARE(statusOf(beta), "Updated");
}

void tst_OptionsWidget::addSkipsWhatIsListed()
{
    const QString group = QString("skip%1").arg(++m_groups);
    const qint64 groupId = addGroup(group);
    QVERIFY(m_server.addProject(groupId, project("alpha", baseTime)));
    QVERIFY(m_server.addProject(groupId, project("beta", baseTime)));
    saveSettings({{"Demo", groupUrl(group)}}, 0);
    QVERIFY(startService(1));
    QVERIFY(installManifest("Demo", "Alpha", baseTime.addDays(1)));
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");

    // Cancelled: nothing queued.
    QVERIFY(addThroughDialog({"beta"}, false));
    QCOMPARE(texts(list), QStringList{"Alpha"});
    // "alpha" is listed as "Alpha" already; "beta" once queued is not queued twice.
    QVERIFY(addThroughDialog({"alpha", "beta"}));
    QVERIFY(addThroughDialog({"beta"}));
    QCOMPARE(texts(list), (QStringList{"Alpha", "beta"}));

    QSignalSpy updated(downloadService(), &DownloadService::updated);
    m_page->apply();
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() > 0, 20000);
    QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 1);
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));
}

void tst_OptionsWidget::addWithoutOnlineExamplesWarns()
{
    const QString group = QString("empty%1").arg(++m_groups);
    addGroup(group);
    saveSettings({{"Demo", groupUrl(group)}}, 0);
    QVERIFY(startService(1));
    QVERIFY(showPage());

    QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
    QTRY_VERIFY(messageBox("Examples Not Found"));
    QVERIFY(!m_page->widget()->findChild<ExamplesDialog *>());
    QTest::mouseClick(messageBox("Examples Not Found")->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!messageBox("Examples Not Found"));
}

void tst_OptionsWidget::removeWithoutSelectionInforms()
{
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
    QVERIFY(showPage());

    QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    QTRY_VERIFY(messageBox("Examples Not Selected"));
    QCOMPARE(messageBox("Examples Not Selected")->text(),
             "Select examples to remove, press Remove button, then press Apply button to apply changes.");
    QCOMPARE(texts(child<QListWidget>("examplesListWidget")), QStringList{"alpha"});
    m_page->apply();
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));
}

void tst_OptionsWidget::removeDeletesOnApplyOnce()
{
    for (const char *folder : {"alpha", "beta", "gamma"})
        QVERIFY(installManifest("Demo", folder, baseTime));
    QVERIFY(QDir().mkpath(repositoryFolder("Demo") + "/alpha/src/deep"));
    saveSettings({{"Demo", QUrl("https://h.example/demo"), {"old"}}}, 1);
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");

    ctrlClick(list, {"alpha", "gamma"});
    QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    QCOMPARE(texts(list), QStringList{"beta"});
    // Queued only: nothing is deleted before Apply.
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));

    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    m_page->apply();
    QCOMPARE(changed.count(), 1);
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/gamma"));
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/beta/" + manifestName));
    QCOMPARE(storedRemovedExamples("Demo"),
             (QSet<QString>{"old", "alpha", "gamma"}));

    // Apply, then OK: the host applies twice. What was carried out is not carried out again.
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    m_page->apply();
    QCOMPARE(changed.count(), 1);
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/alpha/" + manifestName));
}

void tst_OptionsWidget::removeActsOnVisibleItemsOnly()
{
    for (const char *folder : {"alpha", "alpine", "beta"})
        QVERIFY(installManifest("Demo", folder, baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");

    ctrlClick(list, {"beta"});
    QTest::keyClicks(child<QLineEdit>("filterLineEdit"), "ALP");
    ctrlClick(list, {"alpine"});
    QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    QCOMPARE(texts(list), (QStringList{"alpha", "beta"}));

    m_page->apply();
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/alpine"));
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/beta"));
}

void tst_OptionsWidget::removeLeavesUnsafeFolderNames()
{
    // A folder name that cannot be an example's path is never deleted by the page.
    const QString odd = QString("odd") + QChar(0x7) + "name";
    QVERIFY(installManifest("Demo", odd, baseTime));
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");

    list->selectAll();
    QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    QCOMPARE(list->count(), 0);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Not removing an example outside its repository: \"odd"));
    m_page->apply();
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + '/' + odd + '/' + manifestName));
    QCOMPARE(storedRemovedExamples("Demo"), QSet<QString>{"alpha"});
}

void tst_OptionsWidget::queuedPairsCancel_data()
{
    QTest::addColumn<QStringList>("steps"); // "remove:<path>" or "add:<path>", in order

    // Either way the example is left as it was: alpha installed, beta not.
    QTest::newRow("removed, then added back") << QStringList{"remove:alpha", "add:alpha"};
    QTest::newRow("added, then removed again") << QStringList{"add:beta", "remove:beta"};
}

void tst_OptionsWidget::queuedPairsCancel()
{
    QFETCH(QStringList, steps);

    const QString group = QString("pairs%1").arg(++m_groups);
    const qint64 groupId = addGroup(group);
    QVERIFY(m_server.addProject(groupId, project("alpha", baseTime)));
    QVERIFY(m_server.addProject(groupId, project("beta", baseTime)));
    saveSettings({{"Demo", groupUrl(group)}}, 0);
    QVERIFY(startService(1));
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    QVERIFY(showPage());
    auto list = child<QListWidget>("examplesListWidget");

    for (const QString &step : std::as_const(steps)) {
        const QString path = step.section(':', 1);
        if (step.startsWith("add:")) {
            QVERIFY(addThroughDialog({path}));
        } else {
            list->clearSelection();
            ctrlClick(list, {path});
            QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
        }
    }
    QCOMPARE(texts(list), QStringList{"alpha"});

    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    m_page->apply();
    QCOMPARE(changed.count(), 0); // nothing was left to do
    QVERIFY(QFileInfo::exists(repositoryFolder("Demo") + "/alpha/" + manifestName));
    QVERIFY(storedRemovedExamples("Demo").isEmpty());
    QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 0);
}

void tst_OptionsWidget::switchingRepositoryKeepsQueues()
{
    QVERIFY(installManifest("Demo", "alpha", baseTime));
    QVERIFY(installManifest("Demo", "beta", baseTime));
    QVERIFY(installManifest("Other", "omega", baseTime));
    saveSettings({{"Demo", QUrl("https://h.example/demo")}, {"Other", QUrl("https://h.example/o")}}, 1);
    QVERIFY(showPage());
    auto combo = child<QComboBox>("repositoryComboBox");
    auto list = child<QListWidget>("examplesListWidget");

    ctrlClick(list, {"alpha"});
    QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    QCOMPARE(texts(list), QStringList{"beta"});

    combo->setCurrentIndex(combo->findText("Other"));
    QCOMPARE(texts(list), QStringList{"omega"});
    combo->setCurrentIndex(combo->findText("Demo"));
    // Rebuilt from the installed manifests: the queued removal shows again, and stays queued.
    QCOMPARE(texts(list), (QStringList{"alpha", "beta"}));

    m_page->apply();
    QVERIFY(!QFileInfo::exists(repositoryFolder("Demo") + "/alpha"));
    QVERIFY(QFileInfo::exists(repositoryFolder("Other") + "/omega"));
}

void tst_OptionsWidget::interval_data()
{
    QTest::addColumn<quint32>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("shown");
    QTest::addColumn<quint32>("saved");

    QTest::newRow("0 stays 0") << 0u << "" << 0 << 0u;
    QTest::newRow("above the maximum") << 150u << "" << 99 << 99u;
    QTest::newRow("changed by the user") << 7u << "3" << 7 << 3u;
    QTest::newRow("switched off by the user") << 7u << "0" << 7 << 0u;
}

void tst_OptionsWidget::interval()
{
    QFETCH(quint32, stored);
    QFETCH(QString, typed);
    QFETCH(int, shown);
    QFETCH(quint32, saved);

    saveSettings({{"Demo", QUrl("https://h.example/demo"), {"kept"}}}, stored);
    QVERIFY(showPage());
    auto spin = child<QSpinBox>("timeoutSpinBox");
    QCOMPARE(spin->value(), shown);
    if (!typed.isEmpty()) {
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, typed);
    }
    m_page->apply();
    const Settings after = storedSettings();
    QCOMPARE(after.updatesCheckTimeoutDays, saved);
    // The whole copy is written back, repositories included.
    QCOMPARE(after.repositories.value("Demo").url, QUrl("https://h.example/demo"));
    QCOMPARE(after.repositories.value("Demo").removedExamples, QSet<QString>{"kept"});
}

QTEST_MAIN(tst_OptionsWidget)

#include "tst_optionswidget.moc"
