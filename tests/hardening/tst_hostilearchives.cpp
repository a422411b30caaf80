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
        entry = TarEntry::file(index == 0 ? QByteArray("demo-main/CMakeLists.txt")
                                          : "demo-main/d" + QByteArray::number(index / 1000) +
                                                "/f" + QByteArray::number(index),
                               "x");
        return index++ <= count;
    });
}

} // namespace

Q_DECLARE_METATYPE(HostStandIn::UnarchiverLimits)

class tst_HostileArchives : public Suite
{
    Q_OBJECT

private slots:
    void hostileArchive_data();
    void hostileArchive();
};

void tst_HostileArchives::hostileArchive_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("installed"); // a raw name below demo/; empty: refused
    // Whether the plugin measures the archive as it arrives. Off, the rows show what the host's
    // own bounds do (the IDE's unarchiver has none).
    QTest::addColumn<bool>("measured");
    QTest::addColumn<HostStandIn::UnarchiverLimits>("limits");

    const auto row = [](const char *tag, const QByteArray &archive, const QByteArray &installed,
                        bool measured = false, qint64 bytes = 0, qint64 entries = 0) {
        HostStandIn::UnarchiverLimits limits;
        limits.maxTotalBytes = bytes ? bytes : limits.maxTotalBytes;
        limits.maxEntries = entries ? entries : limits.maxEntries;
        QTest::newRow(tag) << archive << installed << measured << limits;
    };
    const auto demo = [](QList<TarEntry> entries, bool rawNames = false) {
        entries.prepend(TarEntry::file("demo-main/CMakeLists.txt", "project(demo)\n"));
        return tarGz(entries, rawNames);
    };

    // Refused names are the unarchiver's own test; this one is refused half-way through.
    row("symbolic link, then a write through it",
        demo({TarEntry::symlink("demo-main/escape", QFile::encodeName(outside)),
              TarEntry::file("demo-main/escape/evil.txt", "x")}),
        {});
    // Zeros compress about 1000:1: half a MiB that unpacks to 512 MiB.
    const QByteArray bomb = demo({TarEntry::zeros("demo-main/zeros.bin", 512 * mib)});
    row("bomb over the host's limit", bomb, {}, false, 64 * mib);
    row("bomb, measured", bomb, {}, true);
    row("8 MiB that do not compress, measured",
        demo({TarEntry::file("demo-main/noise.bin", noise(8 * mib))}), "noise.bin", true);
    // Unpacked whole, they take minutes when the disk is busy: only on request.
    if (qEnvironmentVariableIsSet("TIDEPOOL_HARDENING_LARGE"))
        row("100 000 tiny files", tinyFiles(100000), "d50/f50000");
    row("5 000 tiny files over an entry limit of 2 000", tinyFiles(5000), {}, false, 0, 2000);
    row("name component of 300 bytes",
        demo({TarEntry::file("demo-main/" + QByteArray(300, 'n'), "x")}), {});
    row("duplicate file entries, the last one wins",
        demo({TarEntry::file("demo-main/CMakeLists.txt", "project(second)\n")}), "CMakeLists.txt");
    row("names that are not UTF-8",
        demo({TarEntry::file("demo-main/caf\xe9-\xff\xfe.txt", "x")}, true),
        "caf\xe9-\xff\xfe.txt");
}

void tst_HostileArchives::hostileArchive()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, installed);
    QFETCH(bool, measured);
    QFETCH(HostStandIn::UnarchiverLimits, limits);

    ArchiveGauge::Limits lifted;
    lifted.ratio = lifted.floor = lifted.absolute = lifted.entries = qint64(1) << 50;
    ArchiveGauge::setLimits(measured ? ArchiveGauge::Limits() : lifted);
    HostStandIn::setUnarchiverLimits(limits);

    reset();
    const QString demo = exampleFolder("demo");
    const qint64 demoId = server.addProject(groupId, project("demo"));
    QVERIFY(demoId);
    server.setArchiveOverride(demoId, archive);
    QVERIFY(server.addProject(groupId, project("next")));

    // The plugin refuses a bomb long before much of it arrived; the host, at its bound. The
    // folders an archive implies and the other example come on top of its entries.
    const qint64 diskBound =
        measured && installed.isEmpty() ? 4 * mib : limits.maxTotalBytes + 4 * mib;
    qint64 peakDisk = 0;
    qint64 peakEntries = 0;
    const auto sample = [&] {
        const auto [bytes, entries] = diskUse(dataRoot);
        peakDisk = qMax(peakDisk, bytes);
        peakEntries = qMax(peakEntries, entries);
    };
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, sample);
    // Walking many entries takes a while on the GUI thread: seldom, unless a byte bound is near.
    sampler.start(diskBound < 1024 * mib ? 20 : 1000);
    const StatusLog log;

    DownloadService service;
    QSignalSpy changed(Core::HelpManager::Signals::instance(),
                       &Core::HelpManager::Signals::documentationChanged);
    // The host refuses while it unpacks; the plugin's measure, while the archive arrives.
    const QString refused = measured ? "The archive unpacks to more than 200 times its size"
                                     : "There was an error while unarchiving";
    const auto demoDone = [&] {
        return installed.isEmpty() ? StatusLog::lines().contains(refused) : isInstalled("demo");
    };
    QVERIFY2(QTest::qWaitFor(demoDone, 120000), qPrintable(StatusLog::lines().join('\n')));
    QTRY_VERIFY_WITH_TIMEOUT(isInstalled("next"), 30000);
    sampler.stop();
    sample();

    QCOMPARE(tree(outside), QStringList());
    QCOMPARE(strayEntries(), QStringList());
    QVERIFY2(peakDisk <= diskBound, qPrintable(QString::number(peakDisk)));
    QVERIFY2(peakEntries <= limits.maxEntries + 200, qPrintable(QString::number(peakEntries)));
    if (installed.isEmpty()) { // neither installed, nor what it had unpacked left behind
        QCOMPARE(QDir(repositoryFolder()).entryList({"demo*"}, QDir::AllEntries), QStringList());
    } else {
        QVERIFY(isWellFormedManifest(demo + "/examples-manifest.xml"));
        struct stat st;
        QVERIFY(::lstat((QFile::encodeName(demo) + '/' + installed).constData(), &st) == 0);
        if (installed == "CMakeLists.txt")
            QCOMPARE(readFile(demo + "/CMakeLists.txt"), QStringLiteral("project(second)\n"));
    }

    // The service goes on: the next request installs again.
    const int before = int(changed.count());
    QFile::remove(exampleFolder("next") + "/examples-manifest.xml");
    service.download(repositoryName, {"next"});
    QTRY_VERIFY_WITH_TIMEOUT(isInstalled("next") && changed.count() > before, 30000);
    if (installed.isEmpty())
        return;
    // An installed copy, whatever names it holds, is replaced whole by its next installation.
    const int installs = int(changed.count());
    service.download(repositoryName, {"demo"});
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() > installs, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(repositoryFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({".tidepool-installed", "demo", "next"}), 5000);
    QVERIFY(isInstalled("demo"));
}

QTEST_MAIN(tst_HostileArchives)

#include "tst_hostilearchives.moc"
