// The settings page and the download service each hold a copy of the settings and save it. Their
// saves may interleave with each other and with downloads; none may lose what the other stored:
// the page's interval and removals, the service's check date.

#include "hardening.h"

#include "ui/optionswidget.h"

#include <utils/qtcsettings.h>

#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

using namespace Hardening;

namespace {

Settings stored()
{
    Utils::QtcSettings store(HostStandIn::settingsPath() + "/QtProject/QtCreator.ini",
                             QSettings::IniFormat);
    Settings settings;
    settings.load(&store);
    return settings;
}

bool dateStored()
{
    return stored().updatesCheckedDate.value(repositoryName) == QDate::currentDate();
}

// When the page applies, against the service's cycle: it is always opened first.
enum class Apply { BeforeDate, WhileDownloading, AfterInstalls };

} // namespace

Q_DECLARE_METATYPE(Apply)

class tst_SettingsRaces : public Suite
{
    Q_OBJECT

private slots:
    void interleavedSaves_data();
    void interleavedSaves();
};

void tst_SettingsRaces::interleavedSaves_data()
{
    QTest::addColumn<Apply>("apply");
    QTest::newRow("page applies, then the service stores its date") << Apply::BeforeDate;
    QTest::newRow("page removes beta while its download is in flight") << Apply::WhileDownloading;
    QTest::newRow("service stores its date, then the page applies") << Apply::AfterInstalls;
}

void tst_SettingsRaces::interleavedSaves()
{
    QFETCH(Apply, apply);

    // alpha and beta on the server, beta installed before, so that the page lists it.
    reset();
    for (const char *path : {"alpha", "beta"})
        QVERIFY(server.addProject(groupId, project(path)));
    QVERIFY(installStubManifest(exampleFolder("beta")));
    // The listing, or the downloads, are held back so that the page can act before them.
    if (apply == Apply::WhileDownloading)
        server.addFault(QRegularExpression("/uploads/.*"), LocalGitLab::Fault::delay(2000));
    else
        server.addFault(LocalGitLab::Route::Projects, LocalGitLab::Fault::delay(1500), 1);

    DownloadService service;
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    // The user sets the interval to 7 and removes beta.
    OptionsWidget page;
    auto list = page.findChild<QListWidget *>("examplesListWidget");
    QVERIFY(list && list->findItems("beta", Qt::MatchExactly).size() == 1);
    page.findChild<QSpinBox *>("timeoutSpinBox")->setValue(7);
    list->findItems("beta", Qt::MatchExactly).first()->setSelected(true);
    page.findChild<QPushButton *>("removeButton")->click();
    if (apply == Apply::BeforeDate) {
        page.apply();
        QVERIFY(!dateStored());
    }
    QTRY_VERIFY_WITH_TIMEOUT(dateStored(), 15000);
    if (apply == Apply::WhileDownloading)
        page.apply();
    // Whatever the cycle installs lands before a later removal.
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= (apply == Apply::AfterInstalls ? 2 : 1), 15000);
    if (apply == Apply::AfterInstalls)
        page.apply();
    QTRY_VERIFY_WITH_TIMEOUT(isInstalled("alpha"), 15000);
    QTest::qWait(apply == Apply::WhileDownloading ? 1000 : 300); // a late download would land now

    // Everyone's part survives; the removed example does not come back.
    QVERIFY(dateStored());
    QCOMPARE(stored().updatesCheckTimeoutDays, 7u);
    QVERIFY(stored().repositories.value(repositoryName).removedExamples.contains("beta"));
    QVERIFY(!QFileInfo::exists(exampleFolder("beta")));
}

QTEST_MAIN(tst_SettingsRaces)

#include "tst_settingsraces.moc"
