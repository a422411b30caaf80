// Hostile archives delivered by a GitLab server, through the whole installation path: the client
// downloads them, the service saves and unpacks them with the host's unarchiver and registers
// what it can. Nothing may land outside the repository folder, disk use stays bounded, the user
// gets a status, and the next example still installs.

#include "hardening.h"

#include "statuslog.h"

#include "repositories/archivegauge.h"

using namespace Hardening;

namespace {

enum class Outcome { Refused, Installed };

struct Measure
{
    qint64 peakDisk = 0;
    qint64 peakEntries = 0;
    qint64 elapsedMs = 0;
};

// Names that are not UTF-8 have no QString: look for the raw bytes.
bool rawExists(const QString &folder, const QByteArray &name)
{
    struct stat st;
    return ::lstat((QFile::encodeName(folder) + '/' + name).constData(), &st) == 0;
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class tst_HostileArchives : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void hostileArchive_data();
    void hostileArchive();

private:
    Fixture m_fixture;
};

void tst_HostileArchives::initTestCase()
{
    QVERIFY(m_fixture.start());
}

void tst_HostileArchives::cleanup()
{
    // A job still running would write into the next case.
    QCOMPARE(m_fixture.leftovers(), QStringList());
    HostStandIn::reset();
    ArchiveGauge::setLimits({});
    removeFolder(m_fixture.dataRoot);
}

void tst_HostileArchives::hostileArchive_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<qint64>("byteLimit");  // the host's unpack limits; 0: the defaults
    QTest::addColumn<qint64>("entryLimit");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QByteArray>("expectedFile"); // for installed cases: a raw name below demo/
    // Whether the plugin measures the archive before the host's unarchiver sees it. Off, the rows
    // show what the host's own bounds do (the IDE's unarchiver has none).
    QTest::addColumn<bool>("measured");

    const TarEntry project = TarEntry::file("demo-main/CMakeLists.txt", "project(demo)\n");
    const QByteArray outside = QFile::encodeName(m_fixture.outside);
    const QByteArray none;

    // Each kind of refused name is the unarchiver's own test; this one shows the service
    // cleaning up after a refusal half-way through an archive and going on.
    QTest::newRow("symbolic link, then a write through it")
        << tarGz({project, TarEntry::symlink("demo-main/escape", outside),
                  TarEntry::file("demo-main/escape/evil.txt", "x")})
        << 0ll << 0ll << Outcome::Refused << none << false;
    // Zeros compress about 1000:1: 512 MiB of them make an archive of about half a MiB.
    constexpr qint64 mib = 1024 * 1024;
    constexpr qint64 bombLimit = 64 * mib;
    QTest::newRow("bomb, one file announcing 512 MiB")
        << tarGz({project, TarEntry::zeros("demo-main/zeros.bin", 512 * mib)}) << bombLimit
        << 0ll << Outcome::Refused << none << false;
    int part = 0;
    QTest::newRow("bomb, 128 files of 4 MiB")
        << tarGz([&](TarEntry &entry) {
               if (part == 0)
                   entry = project;
               else if (part <= 128)
                   entry = TarEntry::zeros("demo-main/zeros-" + QByteArray::number(part), 4 * mib);
               else
                   return false;
               ++part;
               return true;
           })
        << bombLimit << 0ll << Outcome::Refused << none << false;

    // The same kind of bomb against the plugin's own measure, with the host's bounds out of reach:
    // about 2 MiB that unpack to 2 GiB are refused while they arrive.
    QTest::newRow("bomb of 2 MiB unpacking to 2 GiB, measured")
        << tarGz({project, TarEntry::zeros("demo-main/zeros.bin", 2048 * mib)})
        << 0ll << 0ll << Outcome::Refused << none << true;
    // Incompressible data is no bomb, however large.
    const QByteArray noise = TestArchive::noise(8 * mib);
    QTest::newRow("8 MiB that do not compress, measured")
        << tarGz({project, TarEntry::file("demo-main/noise.bin", noise)}) << 0ll << 0ll
        << Outcome::Installed << QByteArray("noise.bin") << true;

    constexpr int tinyFiles = 100000;
    const auto tiny = [project](int *index) {
        return [project, index](TarEntry &entry) {
            if (*index == 0)
                entry = project;
            else if (*index <= tinyFiles)
                entry = TarEntry::file(QStringLiteral("demo-main/d%1/f%2")
                                           .arg(*index / 1000, 3, 10, QLatin1Char('0'))
                                           .arg(*index, 6, 10, QLatin1Char('0'))
                                           .toLatin1(),
                                       "x");
            else
                return false;
            ++*index;
            return true;
        };
    };
    int tinyIndex = 0;
    const QByteArray manyFiles = tarGz(tiny(&tinyIndex));
    // Unpacked whole, they take minutes when the disk is busy: only on request.
    if (qEnvironmentVariableIsSet("TIDEPOOL_HARDENING_LARGE")) {
        QTest::newRow("100 000 tiny files") << manyFiles << 0ll << 0ll << Outcome::Installed
                                            << QByteArray("d050/f050000") << false;
    }
    QTest::newRow("100 000 tiny files over an entry limit of 10 000")
        << manyFiles << 0ll << 10000ll << Outcome::Refused << none << false;

    QTest::newRow("name component of 300 bytes")
        << tarGz({project, TarEntry::file("demo-main/" + QByteArray(300, 'n'), "x")}) << 0ll
        << 0ll << Outcome::Refused << none << false;
    QTest::newRow("duplicate file entries, the last one wins")
        << tarGz({TarEntry::file("demo-main/CMakeLists.txt", "first\n"),
                  TarEntry::file("demo-main/CMakeLists.txt", "project(second)\n")})
        << 0ll << 0ll << Outcome::Installed << QByteArray("CMakeLists.txt") << false;
    QTest::newRow("names that are not UTF-8")
        << tarGz({project, TarEntry::file("demo-main/caf\xe9-\xff\xfe.txt", "latin-1")}, true)
        << 0ll << 0ll << Outcome::Installed << QByteArray("caf\xe9-\xff\xfe.txt") << false;
}

void tst_HostileArchives::hostileArchive()
{
    QFETCH(QByteArray, archive);
    QFETCH(qint64, byteLimit);
    QFETCH(qint64, entryLimit);
    QFETCH(Outcome, outcome);
    QFETCH(QByteArray, expectedFile);
    QFETCH(bool, measured);

    ArchiveGauge::Limits lifted;
    lifted.ratio = lifted.floor = lifted.absolute = lifted.entries = qint64(1) << 50;
    ArchiveGauge::setLimits(measured ? ArchiveGauge::Limits() : lifted);
    HostStandIn::UnarchiverLimits limits;
    if (byteLimit > 0)
        limits.maxTotalBytes = byteLimit;
    if (entryLimit > 0)
        limits.maxEntries = entryLimit;
    HostStandIn::setUnarchiverLimits(limits);

    m_fixture.reset();
    const QStringList outsideBefore = tree(m_fixture.outside);
    LocalGitLab::ProjectData demo = project(QStringLiteral("demo"));
    const qint64 demoId = m_fixture.server.addProject(m_fixture.groupId, demo);
    QVERIFY(demoId);
    m_fixture.server.setArchiveOverride(demoId, archive);
    QVERIFY(m_fixture.server.addProject(m_fixture.groupId, project(QStringLiteral("next"))));

    QElapsedTimer clock;
    clock.start();
    Measure measure;
    const auto sample = [&] {
        const DiskUse use = diskUse(m_fixture.dataRoot);
        measure.peakDisk = qMax(measure.peakDisk, use.bytes);
        measure.peakEntries = qMax(measure.peakEntries, use.entries);
    };
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, sample);
    // Walking 100 000 entries takes a while on the GUI thread: seldom, unless a byte bound is checked.
    sampler.start(byteLimit > 0 || measured ? 20 : 1000);
    const StatusLog log;

    DownloadService service;
    QSignalSpy status(&service, &DownloadService::statusChanged);
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);

    // The host refuses while it unpacks; the plugin's measure, while the archive arrives.
    const QString refused = measured
                                ? QStringLiteral("The archive unpacks to more than 200 times its size")
                                : QStringLiteral("There was an error while unarchiving");
    const auto demoDone = [&] {
        return outcome == Outcome::Refused ? StatusLog::lines().contains(refused)
                                           : m_fixture.isInstalled(QStringLiteral("demo"));
    };
    QVERIFY2(QTest::qWaitFor(demoDone, 120000), qPrintable(texts(status).join('\n')));
    measure.elapsedMs = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("next")), 30000);
    sampler.stop();
    sample();

    // Nothing outside the repository folder, in the data location or beside it.
    QCOMPARE(tree(m_fixture.outside), outsideBefore);
    QCOMPARE(m_fixture.strayEntries(), QStringList());

    if (outcome == Outcome::Refused) {
        QVERIFY(!m_fixture.isInstalled(QStringLiteral("demo")));
        // What a refused archive had unpacked does not stay behind.
        for (const QString &entry : QDir(m_fixture.repositoryFolder())
                                        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            QVERIFY2(!entry.startsWith(QLatin1String("demo-")), qPrintable(entry));
        }
    } else {
        QVERIFY(isWellFormedManifest(m_fixture.exampleFolder(QStringLiteral("demo"))
                                     + QStringLiteral("/examples-manifest.xml")));
        QVERIFY(rawExists(m_fixture.exampleFolder(QStringLiteral("demo")), expectedFile));
        if (expectedFile == "CMakeLists.txt") {
            QCOMPARE(readFile(m_fixture.exampleFolder(QStringLiteral("demo")) + "/CMakeLists.txt"),
                     QStringLiteral("project(second)\n"));
        }
    }
    if (measured && outcome == Outcome::Refused) {
        // Refused long before much of it arrived, let alone was unpacked.
        QVERIFY2(measure.peakDisk <= 4 * 1024 * 1024, qPrintable(QString::number(measure.peakDisk)));
    } else if (byteLimit > 0) {
        // A bomb: it unpacks to over a thousand times its size.
        QVERIFY(qint64(archive.size()) * 1000 < 512 * 1024 * 1024);
        QVERIFY2(measure.peakDisk <= byteLimit + 4 * 1024 * 1024, qPrintable(QString::number(measure.peakDisk)));
    }
    if (entryLimit > 0)
        // Folders the archive implies and the other example come on top of the entries.
        QVERIFY(measure.peakEntries <= entryLimit + 200);

    // The service goes on: the next request installs again.
    const int before = int(changed.count());
    QFile::remove(m_fixture.exampleFolder(QStringLiteral("next")) + QStringLiteral("/examples-manifest.xml"));
    service.download(Fixture::repositoryName, {QStringLiteral("next")});
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("next")), 30000);
    QVERIFY(changed.count() > before);

    // An installed copy, whatever names it holds, is replaced whole by its next installation.
    if (outcome == Outcome::Installed) {
        const int installs = int(changed.count());
        service.download(Fixture::repositoryName, {QStringLiteral("demo")});
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > installs, 30000);
        // Besides the two, only the records of what they were installed with.
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(m_fixture.repositoryFolder())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral(".tidepool-installed"), QStringLiteral("demo"),
                         QStringLiteral("next")}),
            5000);
        QVERIFY(m_fixture.isInstalled(QStringLiteral("demo")));
    }

    qInfo("FIGURE archive=%s bytes=%lld time_ms=%lld peak_disk=%lld peak_entries=%lld peak_rss=%lld",
          QTest::currentDataTag(), qint64(archive.size()), measure.elapsedMs, measure.peakDisk,
          measure.peakEntries, peakResidentBytes());
}

QTEST_MAIN(tst_HostileArchives)

#include "tst_hostilearchives.moc"
