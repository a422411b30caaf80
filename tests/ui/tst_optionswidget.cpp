#include "uitestsupport.h"

#include "service/localchanges.h"
#include "ui/optionspage.h"

#include <coreplugin/helpmanager.h>

#include <QLabel>
#include <QSpinBox>

using namespace UiTest;

namespace {

const QDateTime baseTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);

QString statusOf(const QListWidgetItem *item)
{
    static const QRegularExpression re("Status:&nbsp;</td><td style=\"width: 60%;\">([^<]*)<");
    return re.match(item ? item->toolTip() : QString()).captured(1);
}

QString demoPath(const QString &relativePath)
{
    return QDir(repositoryFolder("Demo")).filePath(relativePath); // absolute paths stay
}

bool installed(const QString &relativePath) { return QFileInfo::exists(demoPath(relativePath)); }

// By folder: names alone are ambiguous once an example holds a folder named like another one.
QListWidgetItem *itemOf(const QListWidget *list, const QString &relativeFolder)
{
    const QString location = QFileInfo(demoPath(relativeFolder)).canonicalFilePath();
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->data(Qt::UserRole).toString() == location)
            return list->item(row);
    return nullptr;
}

void selectFolders(QListWidget *list, const QStringList &relativeFolders)
{
    list->clearSelection();
    for (const QString &folder : relativeFolders)
        if (QListWidgetItem *item = itemOf(list, folder))
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              list->visualItemRect(item).center());
}

bool writeFile(const QString &relativePath, const QByteArray &content = {})
{
    QFile file(demoPath(relativePath));
    return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly)
           && file.write(content) == content.size();
}

} // namespace

class tst_OptionsWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("zel.tidepool.plugin.debug=true");
        QVERIFY(m_server.start().isValid());
    }

    void init()
    {
        m_settingsDir = std::make_unique<QTemporaryDir>();
        HostStandIn::setSettingsPath(m_settingsDir->path());
        QVERIFY(clearDataLocation());
        m_server.clearRequestLog();
    }

    void cleanup()
    {
        if (m_page)
            m_page->finish();
        m_page.reset();
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(window))
                window->close();
    }

    // Repositories listed capitals first, each with its own queue; removals wait for Apply.
    void repositories()
    {
        // Hidden manifests and names in another case are none; "odd" is no example's path: kept.
        const QString odd = QString("odd") + QChar(0x7) + "name";
        const QStringList folders{"alpha", "alpha/variant", ".cache/stale", "beta", odd};
        for (const QString &folder : folders)
            QVERIFY(installManifest("Demo", folder, baseTime));
        QVERIFY(writeFile("gamma/.examples-manifest.xml"));
        QVERIFY(writeFile("delta/Examples-Manifest.xml"));
        QVERIFY(installManifest("Other", "omega", baseTime));
        QVERIFY(installManifest("..", "outsider", baseTime));
        saveSettings({{"beta", QUrl("https://h/b")}, {"Other", QUrl("https://h/o")},
                      {"..", QUrl("https://h/up")}, {"_under", QUrl("https://h/u")},
                      {"Demo", QUrl("https://h/d"), {"old"}}}, 1);
        QVERIFY(showPage());
        auto combo = child<QComboBox>("repositoryComboBox");
        QStringList names;
        for (int i = 0; i < combo->count(); ++i)
            names.append(combo->itemText(i));
        QCOMPARE(names, (QStringList{"Demo", "Other", "_under", "beta"}));
        const QStringList demo{"alpha", "beta", odd, "variant"};
        QCOMPARE(texts(list()), demo);

        removeSelected({}); // nothing selected
        QTRY_COMPARE(messageText("Examples Not Selected"),
                     "Select examples to remove, press Remove button, then press Apply button to "
                     "apply changes.");
        removeSelected({"alpha", odd});
        QCOMPARE(texts(list()), QStringList{"beta"});
        combo->setCurrentIndex(combo->findText("Other"));
        QCOMPARE(texts(list()), QStringList{"omega"});
        combo->setCurrentIndex(combo->findText("Demo"));
        // Rebuilt from the installed manifests: the queued removals show again, and stay queued.
        QCOMPARE(texts(list()), demo);

        QSignalSpy changed(Core::HelpManager::Signals::instance(),
                           &Core::HelpManager::Signals::documentationChanged);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Not removing an example outside"));
        m_page->apply();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!installed("alpha") && installed("beta") && installed(odd + '/' + manifestName));
        QCOMPARE(storedRemovedExamples("Demo"), (QSet<QString>{"old", "alpha"}));
        QCOMPARE(storedSettings().repositories.value("..").url, QUrl("https://h/up"));
        QVERIFY(QDir(repositoryFolder("..") + "/outsider").removeRecursively());

        // Apply, then OK: the host applies twice. What was carried out is not carried out again.
        QVERIFY(installManifest("Demo", "alpha", baseTime));
        m_page->apply();
        QCOMPARE(changed.count(), 1);
        QVERIFY(installed(QString("alpha/") + manifestName));
    }

    void updateStatus_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("online");
        QTest::addColumn<qint64>("manifestAgeMs"); // manifest time = baseTime - age
        QTest::addColumn<bool>("update");

        QTest::newRow("less than a second newer") << "alpha" << "alpha" << 999ll << false;
        QTest::newRow("one second newer") << "alpha" << "alpha" << 1000ll << true;
        QTest::newRow("path differs in case") << "Alpha" << "alpha" << 3600'000ll << false;
        QTest::newRow("not online") << "alpha" << "beta" << 3600'000ll << false;
        QTest::newRow("nested in an outdated example")
            << "alpha/variant" << "alpha" << 3600'000ll << true;
        QTest::newRow("nested, named like an outdated example")
            << "other/alpha" << "alpha" << 3600'000ll << false;
    }

    void updateStatus()
    {
        QFETCH(QString, installed);
        QFETCH(QString, online);
        QFETCH(qint64, manifestAgeMs);
        QFETCH(bool, update);

        QVERIFY(serveDemo({online}));
        QVERIFY(installManifest("Demo", installed, baseTime.addMSecs(-manifestAgeMs)));
        QVERIFY(installManifest("Demo", "plain", baseTime));
        QSignalSpy changed(Core::HelpManager::Signals::instance(),
                           &Core::HelpManager::Signals::documentationChanged);
        QVERIFY(showPage());
        const QListWidgetItem *item = itemOf(list(), installed);
        QCOMPARE(statusOf(item), update ? "Update available" : "Updated");
        QCOMPARE(item->background(), update ? QBrush(QColor(0xe2, 0xb2, 0xb6)) : QBrush());

        // Only a visible, outdated example can be updated, never a folder inside one.
        const bool updatable = update && !installed.contains('/');
        auto button = child<QPushButton>("updateButton");
        selectFolders(list(), {"plain", installed});
        QCOMPARE(button->isEnabled(), updatable);
        QTest::keyClicks(child<QLineEdit>("filterLineEdit"), "plain");
        QVERIFY(!button->isEnabled());
        child<QLineEdit>("filterLineEdit")->clear();
        QCOMPARE(button->isEnabled(), updatable);

        // The help is told once per scan that finds the installed examples changed.
        QCOMPARE(changed.count(), 1);
        emit downloadService()->updated();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!button->isEnabled()); // a rebuilt list has nothing selected
        QVERIFY(QDir(repositoryFolder("Demo") + "/plain").removeRecursively());
        emit downloadService()->updated();
        QCOMPARE(changed.count(), 2);
    }

    // Installing beta, once removed, takes it off that list; Alpha/beta is no installed beta.
    void addInstallsOnApply()
    {
        QVERIFY(serveDemo({"alpha", "beta", "gamma"}, {"beta", "gamma"}));
        QVERIFY(installManifest("Demo", "Alpha", baseTime.addDays(1)));
        QVERIFY(installManifest("Demo", "Alpha/beta", baseTime.addDays(1)));
        QVERIFY(showPage());
        QTest::keyClicks(child<QLineEdit>("filterLineEdit"), "alp");

        QVERIFY(addThroughDialog({"beta"}, false)); // cancelled: nothing queued
        // "alpha" is listed as "Alpha" already; "beta" once queued is not queued twice.
        QVERIFY(addThroughDialog({"alpha", "beta"}));
        QVERIFY(addThroughDialog({"beta"}));
        // Appended after the filter was typed: shown all the same, until the filter changes.
        QCOMPARE(texts(list(), true), (QStringList{"Alpha", "beta"}));
        QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 0);
        for (const char *text : {"Kept alpha", "Kept beta", "Kept alpha"})
            emit downloadService()->changesKept(text);
        QVERIFY(child<QLabel>("statusLabel")->isVisible());
        QCOMPARE(child<QLabel>("statusLabel")->text(), "Kept alpha\nKept beta");

        m_page->apply();
        // The service's announcement rebuilds the list from disk: beta is now installed.
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(itemOf(list(), "beta")), "Updated", 20000);
        QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), 1);
        QCOMPARE(storedRemovedExamples("Demo"), QSet<QString>{"gamma"});
        QVERIFY(installed(QString("Alpha/beta/") + manifestName));
    }

    void removeNestedExample_data()
    {
        QTest::addColumn<QStringList>("selected"); // folders below the repository folder
        QTest::addColumn<QString>("filter");       // typed after selecting
        QTest::addColumn<QString>("gone");         // the others stay, listed and on disk

        QTest::newRow("example named like a nested item") << QStringList{"beta"} << "" << "beta";
        QTest::newRow("nested item and another example")
            << QStringList{"alpha/beta", "gamma"} << "" << "gamma";
        QTest::newRow("selected, then filtered out")
            << QStringList{"beta", "gamma"} << "GAM" << "gamma";
    }

    void removeNestedExample()
    {
        QFETCH(QStringList, selected);
        QFETCH(QString, filter);
        QFETCH(QString, gone);

        const QStringList folders{"alpha", "alpha/beta", "beta", "gamma"};
        for (const QString &folder : folders)
            QVERIFY(installManifest("Demo", folder, baseTime));
        saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
        QVERIFY(showPage());
        QVERIFY(itemOf(list(), "alpha/beta")->toolTip().contains(
            "Part of:&nbsp;</td><td style=\"width: 60%;\">alpha</td>"));
        QVERIFY(!itemOf(list(), "beta")->toolTip().contains("Part of:"));

        selectFolders(list(), selected);
        QTest::keyClicks(child<QLineEdit>("filterLineEdit"), filter);
        QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
        QCOMPARE(messageText("Examples Not Removed"),
                 selected.contains("alpha/beta")
                     ? "\"beta\" is part of the example \"alpha\" and is removed together with it."
                     : "");
        for (const QString &folder : folders)
            QCOMPARE(itemOf(list(), folder) != nullptr, folder != gone);

        m_page->apply();
        for (const QString &folder : folders)
            QCOMPARE(installed(folder + '/' + manifestName), folder != gone);
        QCOMPARE(storedRemovedExamples("Demo"), QSet<QString>{gone});
    }

    void queuedSteps_data()
    {
        // "update:", "remove:<text>", "add:<path>" or "rescan", in order
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("gone"); // of alpha and beta, the others stay

        QTest::newRow("updated, then another example removed")
            << QStringList{"update:", "remove:beta"} << "beta";
        QTest::newRow("updated, then removed") << QStringList{"update:", "remove:alpha"} << "alpha";
        // The list rebuilt from disk shows the example again; updating it keeps it.
        QTest::newRow("removed, then updated")
            << QStringList{"remove:alpha", "rescan", "update:"} << "";
        // A queued removal and installation of the same example cancel out.
        QTest::newRow("removed, then added back") << QStringList{"remove:alpha", "add:alpha"} << "";
        QTest::newRow("added, then removed again")
            << QStringList{"add:gamma", "remove:gamma"} << "";
    }

    void queuedSteps()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, gone);
        const bool reinstalled = steps.contains("update:") && gone != "alpha"; // a queued update

        QVERIFY(serveDemo({"alpha", "beta", "gamma"}));
        QVERIFY(installManifest("Demo", "alpha", baseTime.addDays(-1)));
        QVERIFY(installManifest("Demo", "beta", baseTime));
        QVERIFY(showPage());
        auto button = child<QPushButton>("updateButton");

        for (const QString &step : std::as_const(steps)) {
            if (step == "rescan") {
                emit downloadService()->updated();
            } else if (step.startsWith("remove:")) {
                removeSelected({step.section(':', 1)});
            } else if (step.startsWith("add:")) {
                QVERIFY(addThroughDialog({step.section(':', 1)}));
            } else {
                selectFolders(list(), {"alpha"});
                QTest::mouseClick(button, Qt::LeftButton);
                QCOMPARE(statusOf(itemOf(list(), "alpha")), "Update on Apply");
                QVERIFY(!button->isEnabled()); // queued once is enough
            }
        }

        m_page->apply();
        if (reinstalled) {
            QTRY_COMPARE_WITH_TIMEOUT(statusOf(itemOf(list(), "alpha")), "Updated", 20000);
            m_page->apply(); // Apply, then OK: the update is not requested again
            QTest::qWait(200);
        }
        for (const QString folder : {"alpha", "beta"})
            QCOMPARE(installed(folder), folder != gone);
        QCOMPARE(m_server.requestCount(LocalGitLab::Route::Archive), reinstalled ? 1 : 0);
        QCOMPARE(storedRemovedExamples("Demo"), QSet<QString>{gone} - QSet<QString>{""});
    }

    void interval_data()
    {
        QTest::addColumn<bool>("repository");
        QTest::addColumn<quint32>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<quint32>("saved"); // as set by the user

        QTest::newRow("no repository, changed by the user") << false << 3u << 3 << 5u;
        QTest::newRow("0 stays 0") << true << 0u << 0 << 0u;
        QTest::newRow("above the maximum") << true << 150u << 99 << 99u;
    }

    void interval()
    {
        QFETCH(bool, repository);
        QFETCH(quint32, stored);
        QFETCH(int, shown);
        QFETCH(quint32, saved);

        const QList<RepositoryEntry> demo{{"Demo", QUrl("https://h.example/demo"), {"kept"}}};
        saveSettings(repository ? demo : QList<RepositoryEntry>(), stored);
        QVERIFY(showPage());
        auto spin = child<QSpinBox>("timeoutSpinBox");
        QCOMPARE(spin->value(), shown);
        spin->setValue(int(saved));
        if (!repository) {
            QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
            QTRY_COMPARE(messageText("Examples Not Found"),
                         "Check your online connection and try again later!");
        }
        m_page->apply();
        QSettings raw(settingsFile(), QSettings::IniFormat);
        QCOMPARE(raw.value("Tidepool/UpdatesCheckTimeoutDays").toUInt(), saved);
        // The whole copy is written back; no empty repository (stored as "||") crept in.
        QCOMPARE(raw.value("Tidepool/Repositories").toStringList(),
                 repository ? QStringList{"Demo|https://h.example/demo|kept"} : QStringList());
    }

    // Removing an example with the user's changes asks first; its record goes along.
    void removeChangedExampleAsksFirst()
    {
        for (const QString path : {"alpha", "beta"}) { // with their records, as installed
            const QString record = installationRecordFile(repositoryFolder("Demo"), path);
            QVERIFY(installManifest("Demo", path, baseTime));
            QVERIFY(writeFile(path + "/CMakeLists.txt", "x"));
            QVERIFY(writeFile(record, serializeFingerprint(fingerprint(demoPath(path)))));
        }
        QVERIFY(writeFile("alpha/CMakeLists.txt", "project(mine)\n"));
        QVERIFY(writeFile("alpha/mine.txt"));
        saveSettings({{"Demo", QUrl("https://h.example/demo")}}, 1);
        QVERIFY(showPage());
        QTRY_COMPARE(statusOf(itemOf(list(), "alpha")), "Updated, changed locally");
        QVERIFY(itemOf(list(), "alpha")->font().italic());

        for (const bool confirm : {false, true}) {
            QString question;
            QTimer::singleShot(0, m_page->widget(), [&] {
                auto box = m_page->widget()->findChild<QMessageBox *>("confirmRemovalBox");
                if (!box || !box->isVisible())
                    return;
                question = QStringList{box->text(), box->informativeText(),
                                       box->button(QMessageBox::Yes)->text()}.join('\n');
                box->button(confirm ? QMessageBox::Yes : QMessageBox::Cancel)->click();
            });
            removeSelected({"alpha", "beta"});
            QCOMPARE(question, "Removing deletes the changes you made in these examples:\n"
                               "alpha: CMakeLists.txt, mine.txt\nRemove");
            QCOMPARE(texts(list()), confirm ? QStringList() : QStringList({"alpha", "beta"}));
        }
        m_page->apply();
        QVERIFY(!installed("alpha") && !installed("beta"));
        QVERIFY(!QFileInfo::exists(installationRecordFile(repositoryFolder("Demo"), "alpha")));
    }

private:
    bool showPage()
    {
        m_page = std::make_unique<OptionsPage>("VeyraOS Examples",
                                               Utils::Id("Zel.Tidepool.Plugin.Settings.Page"),
                                               [] { return new OptionsWidget; });
        const auto options = qobject_cast<OptionsWidget *>(m_page->widget());
        options->show();
        return QTest::qWaitForWindowExposed(options)
               && QTest::qWaitFor([options] { return !options->isCheckingLocalChanges(); });
    }

    // A group of the local server with these projects, configured as "Demo" and listed.
    bool serveDemo(const QStringList &projects, const QSet<QString> &removed = {})
    {
        const QString group = QString("group%1").arg(++m_groups);
        const qint64 groupId = m_server.addGroup(group, group);
        for (const QString &path : projects)
            m_server.addProject(groupId, project(path, baseTime));
        saveSettings({{"Demo", QUrl(m_server.baseUrl().toString() + '/' + group), removed}}, 0);
        return startService();
    }

    bool addThroughDialog(const QStringList &paths, bool accept = true)
    {
        bool shown = false;
        QTimer::singleShot(0, m_page->widget(), [&] {
            auto dialog = m_page->widget()->findChild<ExamplesDialog *>();
            if (!dialog || !dialog->isVisible())
                return;
            shown = true;
            ctrlClick(dialog->findChild<QListWidget *>("examplesListWidget"), paths);
            auto buttons = dialog->findChild<QDialogButtonBox *>("buttonBox");
            const auto which = accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel;
            QTest::mouseClick(buttons->button(which), Qt::LeftButton);
            if (dialog->isVisible())
                dialog->reject();
        });
        QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
        return shown && !m_page->widget()->findChild<ExamplesDialog *>();
    }

    void removeSelected(const QStringList &folders)
    {
        selectFolders(list(), folders);
        QTest::mouseClick(child<QPushButton>("removeButton"), Qt::LeftButton);
    }

    QListWidget *list() { return m_page->widget()->findChild<QListWidget *>("examplesListWidget"); }
    template<typename T>
    T *child(const char *name) { return m_page->widget()->findChild<T *>(name); }

    LocalGitLab::Server m_server;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<OptionsPage> m_page;
    int m_groups = 0;
};

QTEST_MAIN(tst_OptionsWidget)

#include "tst_optionswidget.moc"
