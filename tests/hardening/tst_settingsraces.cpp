// The settings page and the download service each hold a copy of the settings and save it. Their
// saves may interleave in any order; none may lose what the other stored: the page's interval
// and removals, the service's check date.

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

} // namespace

class tst_SettingsRaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void interleavedSaves_data();
    void interleavedSaves();
    void removedWhileItsDownloadIsInFlight();

private:
    // alpha and beta on the server, beta installed before, so that the page lists it.
    void prepare();
    // The page, as the user leaves it: interval 7, "beta" removed.
    void editPage(OptionsWidget &page);

    Fixture m_fixture;
};

void tst_SettingsRaces::initTestCase()
{
    QVERIFY(m_fixture.start());
}

void tst_SettingsRaces::cleanup()
{
    m_fixture.server.clearFaults();
    HostStandIn::reset();
}

void tst_SettingsRaces::prepare()
{
    m_fixture.reset();
    for (const QString &path : {QStringLiteral("alpha"), QStringLiteral("beta")})
        QVERIFY(m_fixture.server.addProject(m_fixture.groupId, project(path)));
    QVERIFY(installStubManifest(m_fixture.exampleFolder(QStringLiteral("beta"))));
}

void tst_SettingsRaces::editPage(OptionsWidget &page)
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

// The order in which the three steps happen; the page is always opened before it applies.
enum class Order { OpenApplyDate, OpenDateApply, DateOpenApply };
Q_DECLARE_METATYPE(Order)

void tst_SettingsRaces::interleavedSaves_data()
{
    QTest::addColumn<Order>("order");
    QTest::newRow("page opens, page applies, service stores its date") << Order::OpenApplyDate;
    QTest::newRow("page opens, service stores its date, page applies") << Order::OpenDateApply;
    QTest::newRow("service stores its date, page opens, page applies") << Order::DateOpenApply;
}

void tst_SettingsRaces::interleavedSaves()
{
    QFETCH(Order, order);

    prepare();

    // The listing is held back so that the page can be opened before the service's cycle.
    if (order != Order::DateOpenApply)
        m_fixture.server.addFault(LocalGitLab::Route::Projects, LocalGitLab::Fault::delay(1500), 1);

    auto service = std::make_unique<DownloadService>();
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    std::unique_ptr<OptionsWidget> page;
    const auto open = [&] { page = std::make_unique<OptionsWidget>(); };
    const auto waitForDate = [&] {
        QTRY_VERIFY_WITH_TIMEOUT(dateStored(), 15000);
    };

    switch (order) {
    case Order::OpenApplyDate:
        open();
        editPage(*page);
        page->apply();
        QVERIFY(!dateStored());
        waitForDate();
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 1, 15000);
        break;
    case Order::OpenDateApply:
        open();
        editPage(*page);
        waitForDate();
        // Whatever the cycle installs lands before the removal.
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 2, 15000);
        page->apply();
        break;
    case Order::DateOpenApply:
        waitForDate();
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 2, 15000);
        open();
        editPage(*page);
        page->apply();
        break;
    }
    QTest::qWait(300);

    // Everyone's part survives.
    const Settings after = stored();
    QCOMPARE(after.updatesCheckedDate.value(Fixture::repositoryName), QDate::currentDate());
    QCOMPARE(after.updatesCheckTimeoutDays, 7u);
    QVERIFY(after.repositories.value(Fixture::repositoryName).removedExamples.contains("beta"));
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
    prepare();

    // beta's download is slow; the user removes beta while it is under way.
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
    QVERIFY(stored().repositories.value(Fixture::repositoryName).removedExamples.contains("beta"));
}

QTEST_MAIN(tst_SettingsRaces)

#include "tst_settingsraces.moc"
