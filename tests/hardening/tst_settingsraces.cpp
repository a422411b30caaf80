// The settings page and the download service each hold a copy of the settings and save it. Their
// saves may interleave; none may lose what the other stored: the page's interval and removals,
// the service's check date.

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
    return stored().updatesCheckedDate.value(Fixture::repositoryName) == QDate::currentDate();
}

bool betaRemoved()
{
    return stored().repositories.value(Fixture::repositoryName).removedExamples.contains("beta");
}

// The page, as the user leaves it: interval 7, "beta" removed.
void editPage(OptionsWidget &page)
{
    auto spinBox = page.findChild<QSpinBox *>(QStringLiteral("timeoutSpinBox"));
    auto list = page.findChild<QListWidget *>(QStringLiteral("examplesListWidget"));
    auto remove = page.findChild<QPushButton *>(QStringLiteral("removeButton"));
    QVERIFY(spinBox && list && remove);
    spinBox->setValue(7);
    const QList<QListWidgetItem *> beta = list->findItems(QStringLiteral("beta"), Qt::MatchExactly);
    QCOMPARE(beta.size(), 1);
    beta.first()->setSelected(true);
    remove->click();
}

} // namespace

class tst_SettingsRaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.start()); }
    void init();
    void cleanup();

    void interleavedSaves_data();
    void interleavedSaves();
    void removedWhileItsDownloadIsInFlight();

private:
    Fixture m_fixture;
};

// alpha and beta on the server, beta installed before, so that the page lists it.
void tst_SettingsRaces::init()
{
    m_fixture.reset();
    for (const QString &path : {QStringLiteral("alpha"), QStringLiteral("beta")})
        QVERIFY(m_fixture.server.addProject(m_fixture.groupId, project(path)));
    QVERIFY(installStubManifest(m_fixture.exampleFolder(QStringLiteral("beta"))));
}

void tst_SettingsRaces::cleanup()
{
    m_fixture.server.clearFaults();
    HostStandIn::reset();
}

void tst_SettingsRaces::interleavedSaves_data()
{
    // The page is opened first, while the listing is held back; then it applies before or after
    // the service stores its date.
    QTest::addColumn<bool>("applyFirst");
    QTest::newRow("page applies, then the service stores its date") << true;
    QTest::newRow("service stores its date, then the page applies") << false;
}

void tst_SettingsRaces::interleavedSaves()
{
    QFETCH(bool, applyFirst);

    m_fixture.server.addFault(LocalGitLab::Route::Projects, LocalGitLab::Fault::delay(1500), 1);
    auto service = std::make_unique<DownloadService>();
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    auto page = std::make_unique<OptionsWidget>();
    editPage(*page);
    if (applyFirst) {
        page->apply();
        QVERIFY(!dateStored());
    }
    QTRY_VERIFY_WITH_TIMEOUT(dateStored(), 15000);
    // Whatever the cycle installs lands before the removal.
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= (applyFirst ? 1 : 2), 15000);
    if (!applyFirst)
        page->apply();
    QTest::qWait(300);

    // Everyone's part survives.
    QVERIFY(dateStored());
    QCOMPARE(stored().updatesCheckTimeoutDays, 7u);
    QVERIFY(betaRemoved());
    QVERIFY(!QFileInfo::exists(m_fixture.exampleFolder(QStringLiteral("beta"))));
    QVERIFY(m_fixture.isInstalled(QStringLiteral("alpha")));

    // And so the next start downloads nothing: today's check is done, beta is removed.
    page.reset();
    service.reset();
    m_fixture.server.clearRequestLog();
    service = std::make_unique<DownloadService>();
    QSignalSpy updated(service.get(), &DownloadService::updated);
    QVERIFY(updated.wait(15000));
    QTest::qWait(500);
    QCOMPARE(m_fixture.server.requestCount(LocalGitLab::Route::Archive), 0);
    QVERIFY(!QFileInfo::exists(m_fixture.exampleFolder(QStringLiteral("beta"))));
}

void tst_SettingsRaces::removedWhileItsDownloadIsInFlight()
{
    m_fixture.server.addFault(QRegularExpression(QStringLiteral("/uploads/.*")),
                              LocalGitLab::Fault::delay(2000));
    DownloadService service;
    OptionsWidget page;
    editPage(page);
    QTRY_VERIFY_WITH_TIMEOUT(dateStored(), 15000);
    page.apply();
    QVERIFY(!QFileInfo::exists(m_fixture.exampleFolder(QStringLiteral("beta"))));

    // Both downloads end; the removed example does not come back.
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("alpha")), 15000);
    QTest::qWait(1000);
    QVERIFY(!QFileInfo::exists(m_fixture.exampleFolder(QStringLiteral("beta"))));
    QVERIFY(betaRemoved());
}

QTEST_MAIN(tst_SettingsRaces)

#include "tst_settingsraces.moc"
