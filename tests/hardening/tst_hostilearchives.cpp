// Hostile archives through the whole installation path: downloaded by the client, saved and
// unpacked by the service with the host's unarchiver. Nothing may land outside the repository
// folder, disk use stays bounded, the user gets a status, and the next example still installs.

#include "hardening.h"

#include "statuslog.h"

#include "repositories/archivegauge.h"

#include <QTimer>

#include <sys/stat.h>

using namespace Hardening;

namespace {

constexpr qint64 mib = 1024 * 1024;

// Allocated bytes below root (sparse files count as what they take) and the number of entries.
QPair<qint64, qint64> diskUse(const QString &root)
{
    qint64 bytes = 0;
    qint64 entries = 0;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        struct stat st;
        if (::lstat(QFile::encodeName(it.next()).constData(), &st) == 0)
            bytes += qint64(st.st_blocks) * 512;
        ++entries;
    }
    return {bytes, entries};
}

QByteArray tinyFiles(int count)
{
    int index = 0;
    return tarGz([&](TarEntry &entry) {
        if (index > count)
            return false;
        entry = index == 0 ? TarEntry::file("demo-main/CMakeLists.txt", "project(demo)\n")
                           : TarEntry::file(QStringLiteral("demo-main/d%1/f%2")
                                                .arg(index / 1000)
                                                .arg(index)
                                                .toLatin1(),
                                            "x");
        ++index;
        return true;
    });
}

} // namespace

class tst_HostileArchives : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.start()); }
    void cleanup();

    void hostileArchive_data();
    void hostileArchive();

private:
    Fixture m_fixture;
};

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
    QTest::addColumn<qint64>("byteLimit"); // the host's unpack limits; 0: the defaults
    QTest::addColumn<qint64>("entryLimit");
    QTest::addColumn<QByteArray>("installed"); // a raw name below demo/; empty: refused
    // Whether the plugin measures the archive as it arrives. Off, the rows show what the host's
    // own bounds do (the IDE's unarchiver has none).
    QTest::addColumn<bool>("measured");

    const TarEntry project = TarEntry::file("demo-main/CMakeLists.txt", "project(demo)\n");

    // Refused names are the unarchiver's own test; this one is refused half-way through.
    QTest::newRow("symbolic link, then a write through it")
        << tarGz({project, TarEntry::symlink("demo-main/escape", QFile::encodeName(m_fixture.outside)),
                  TarEntry::file("demo-main/escape/evil.txt", "x")})
        << 0ll << 0ll << QByteArray() << false;
    // Zeros compress about 1000:1.
    QTest::newRow("bomb of 512 MiB over the host's limit")
        << tarGz({project, TarEntry::zeros("demo-main/zeros.bin", 512 * mib)}) << 64 * mib << 0ll
        << QByteArray() << false;
    QTest::newRow("bomb of 2 MiB unpacking to 2 GiB, measured")
        << tarGz({project, TarEntry::zeros("demo-main/zeros.bin", 2048 * mib)}) << 0ll << 0ll
        << QByteArray() << true;
    QTest::newRow("8 MiB that do not compress, measured")
        << tarGz({project, TarEntry::file("demo-main/noise.bin", noise(8 * mib))}) << 0ll << 0ll
        << QByteArray("noise.bin") << true;
    // Unpacked whole, they take minutes when the disk is busy: only on request.
    if (qEnvironmentVariableIsSet("TIDEPOOL_HARDENING_LARGE")) {
        QTest::newRow("100 000 tiny files")
            << tinyFiles(100000) << 0ll << 0ll << QByteArray("d50/f50000") << false;
    }
    QTest::newRow("20 000 tiny files over an entry limit of 10 000")
        << tinyFiles(20000) << 0ll << 10000ll << QByteArray() << false;
    QTest::newRow("name component of 300 bytes")
        << tarGz({project, TarEntry::file("demo-main/" + QByteArray(300, 'n'), "x")}) << 0ll
        << 0ll << QByteArray() << false;
    QTest::newRow("duplicate file entries, the last one wins")
        << tarGz({TarEntry::file("demo-main/CMakeLists.txt", "first\n"),
                  TarEntry::file("demo-main/CMakeLists.txt", "project(second)\n")})
        << 0ll << 0ll << QByteArray("CMakeLists.txt") << false;
    QTest::newRow("names that are not UTF-8")
        << tarGz({project, TarEntry::file("demo-main/caf\xe9-\xff\xfe.txt", "latin-1")}, true)
        << 0ll << 0ll << QByteArray("caf\xe9-\xff\xfe.txt") << false;
}

void tst_HostileArchives::hostileArchive()
{
    QFETCH(QByteArray, archive);
    QFETCH(qint64, byteLimit);
    QFETCH(qint64, entryLimit);
    QFETCH(QByteArray, installed);
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
    const QString demo = m_fixture.exampleFolder(QStringLiteral("demo"));
    const qint64 demoId = m_fixture.server.addProject(m_fixture.groupId, project("demo"));
    QVERIFY(demoId);
    m_fixture.server.setArchiveOverride(demoId, archive);
    QVERIFY(m_fixture.server.addProject(m_fixture.groupId, project(QStringLiteral("next"))));

    QElapsedTimer clock;
    clock.start();
    qint64 peakDisk = 0;
    qint64 peakEntries = 0;
    const auto sample = [&] {
        const auto [bytes, entries] = diskUse(m_fixture.dataRoot);
        peakDisk = qMax(peakDisk, bytes);
        peakEntries = qMax(peakEntries, entries);
    };
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, sample);
    // Walking many entries takes a while on the GUI thread: seldom, unless a byte bound is checked.
    sampler.start(byteLimit > 0 || measured ? 20 : 1000);
    const StatusLog log;

    DownloadService service;
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);

    // The host refuses while it unpacks; the plugin's measure, while the archive arrives.
    const QString refused = measured
                                ? QStringLiteral("The archive unpacks to more than 200 times its size")
                                : QStringLiteral("There was an error while unarchiving");
    QVERIFY2(QTest::qWaitFor([&] {
                 return installed.isEmpty() ? StatusLog::lines().contains(refused)
                                            : m_fixture.isInstalled(QStringLiteral("demo"));
             }, 120000),
             qPrintable(StatusLog::lines().join('\n')));
    const qint64 elapsedMs = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("next")), 30000);
    sampler.stop();
    sample();

    QCOMPARE(tree(m_fixture.outside), outsideBefore);
    QCOMPARE(m_fixture.strayEntries(), QStringList());
    if (installed.isEmpty()) {
        QVERIFY(!m_fixture.isInstalled(QStringLiteral("demo")));
        // What a refused archive had unpacked does not stay behind.
        const QStringList left = QDir(m_fixture.repositoryFolder()).entryList({"demo*"}, QDir::AllEntries);
        QCOMPARE(left, QStringList());
    } else {
        QVERIFY(isWellFormedManifest(demo + QStringLiteral("/examples-manifest.xml")));
        struct stat st;
        QVERIFY(::lstat((QFile::encodeName(demo) + '/' + installed).constData(), &st) == 0);
        if (installed == "CMakeLists.txt")
            QCOMPARE(readFile(demo + "/CMakeLists.txt"), QStringLiteral("project(second)\n"));
    }
    if (measured && installed.isEmpty()) // refused long before much of it arrived
        QVERIFY2(peakDisk <= 4 * mib, qPrintable(QString::number(peakDisk)));
    else if (byteLimit > 0)
        QVERIFY2(peakDisk <= byteLimit + 4 * mib, qPrintable(QString::number(peakDisk)));
    if (entryLimit > 0) // the folders the archive implies and the other example come on top
        QVERIFY2(peakEntries <= entryLimit + 200, qPrintable(QString::number(peakEntries)));

    // The service goes on: the next request installs again.
    const int before = int(changed.count());
    QFile::remove(m_fixture.exampleFolder(QStringLiteral("next")) + "/examples-manifest.xml");
    service.download(Fixture::repositoryName, {QStringLiteral("next")});
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.isInstalled(QStringLiteral("next")), 30000);
    QVERIFY(changed.count() > before);

    // An installed copy, whatever names it holds, is replaced whole by its next installation.
    if (!installed.isEmpty()) {
        const int installs = int(changed.count());
        service.download(Fixture::repositoryName, {QStringLiteral("demo")});
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > installs, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(m_fixture.repositoryFolder())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({".tidepool-installed", "demo", "next"}), 5000);
        QVERIFY(m_fixture.isInstalled(QStringLiteral("demo")));
    }
    qInfo("FIGURE archive=%s bytes=%lld time_ms=%lld peak_disk=%lld peak_entries=%lld",
          QTest::currentDataTag(), qint64(archive.size()), elapsedMs, peakDisk, peakEntries);
}

QTEST_MAIN(tst_HostileArchives)

#include "tst_hostilearchives.moc"
