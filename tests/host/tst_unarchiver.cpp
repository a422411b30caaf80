#include "archivemaker.h"

#include <hoststandin/hostsetup.h>
#include <utils/unarchiver.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Utils;
using Tasking::DoneResult;

using Entries = QList<ArchiveEntry>;

// Every unpack runs in a fresh folder "work" with two children: "dest", where the archive goes,
// and "sentinel", a folder beside it that no archive may touch.
class tst_Unarchiver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void extractsGitLabArchive();
    void extractsEachFormat_data();
    void extractsEachFormat();
    void refusesHostileArchive_data();
    void refusesHostileArchive();
    void keepsWhatCameBeforeARefusedEntry();
    void refusesWhatIsNoArchive_data();
    void refusesWhatIsNoArchive();
    void truncatedArchiveEndsWithError();
    void enforcesLimits_data();
    void enforcesLimits();
    void makesUnpackedFilesWritableByOwner();
    void unpacksNamesThatAreNotUtf8();
    void unpacksPlainGZipFile();
    void failsWithoutSourceOrDestination_data();
    void failsWithoutSourceOrDestination();
    void signalsArriveOnOwnerThread();
    void runsWhileTheGlobalPoolIsBusy();
    void deletingWhileRunningIsSafe_data();
    void deletingWhileRunningIsSafe();

private:
    struct Result
    {
        bool finished = false;
        DoneResult result = DoneResult::Error;
        QStringList output;
    };

    QString archivePath(const QString &name = QStringLiteral("archive.tar.gz")) const
    {
        return m_work->filePath(name);
    }
    QString destPath() const { return m_work->filePath(QStringLiteral("dest")); }
    QString sentinelPath() const { return m_work->filePath(QStringLiteral("sentinel")); }
    static QStringList tree(const QString &dir);
    Result unpack(const QString &archive, const QString &destDir);

    std::unique_ptr<QTemporaryDir> m_work;
    QStringList m_sentinelTree;
};

QStringList tst_Unarchiver::tree(const QString &dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString line = QDir(dir).relativeFilePath(info.filePath());
        if (info.isSymLink())
            line += QStringLiteral(" -> ") + info.symLinkTarget();
        else if (info.isFile())
            line += QStringLiteral(" (%1 bytes)").arg(info.size());
        entries.append(line);
    }
    entries.sort();
    return entries;
}

void tst_Unarchiver::init()
{
    HostStandIn::reset();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    QVERIFY(QDir().mkpath(sentinelPath()));
    QFile precious(sentinelPath() + QStringLiteral("/precious.txt"));
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("keep me");
    precious.close();
    m_sentinelTree = tree(sentinelPath());
}

void tst_Unarchiver::cleanup()
{
    HostStandIn::reset();
    m_work.reset();
}

tst_Unarchiver::Result tst_Unarchiver::unpack(const QString &archive, const QString &destDir)
{
    Result result;
    const auto sourceAndCommand = Unarchiver::sourceAndCommand(FilePath::fromString(archive));
    if (!sourceAndCommand) {
        result.output.append(sourceAndCommand.error());
        return result;
    }
    Unarchiver unarchiver;
    unarchiver.setSourceAndCommand(*sourceAndCommand);
    unarchiver.setDestDir(FilePath::fromString(destDir));
    connect(&unarchiver, &Unarchiver::outputReceived, this,
            [&result](const QString &text) { result.output.append(text); });
    QSignalSpy done(&unarchiver, &Unarchiver::done);
    unarchiver.start();
    if (!done.wait(60000))
        return result;
    result.finished = true;
    result.result = done.first().first().value<DoneResult>();
    // Nothing may follow done().
    QTest::qWait(20);
    if (done.size() != 1)
        result.finished = false;
    return result;
}

void tst_Unarchiver::extractsGitLabArchive()
{
    const Entries entries = {
        ArchiveEntry::dir("demo-main-1a2b3c/"),
        ArchiveEntry::file("demo-main-1a2b3c/CMakeLists.txt", "project(demo)\n"),
        ArchiveEntry::dir("demo-main-1a2b3c/src/"),
        ArchiveEntry::file("demo-main-1a2b3c/src/main.cpp", "int main() { return 0; }\n"),
        ArchiveEntry::file("demo-main-1a2b3c/.gitignore", "build/\n"),
        ArchiveEntry::symlink("demo-main-1a2b3c/README.md", "src/main.cpp"),
        ArchiveEntry::hardlink("demo-main-1a2b3c/src/copy.cpp", "demo-main-1a2b3c/src/main.cpp"),
    };
    QVERIFY(writeGitLabArchive(archivePath(), entries, "1a2b3c4d5e6f"));

    const Result result = unpack(archivePath(), destPath());
    QVERIFY2(result.finished, qPrintable(result.output.join(QString())));
    QCOMPARE(result.result, DoneResult::Success);

    // One line per entry, the way "tar xv" lists them; the global header is no entry.
    QStringList expectedOutput;
    for (const ArchiveEntry &entry : entries)
        expectedOutput.append(QString::fromUtf8(entry.path) + QLatin1Char('\n'));
    QCOMPARE(result.output, expectedOutput);

    QCOMPARE(tree(destPath()), QStringList({
        "demo-main-1a2b3c",
        "demo-main-1a2b3c/.gitignore (7 bytes)",
        "demo-main-1a2b3c/CMakeLists.txt (14 bytes)",
        "demo-main-1a2b3c/README.md -> " + destPath() + "/demo-main-1a2b3c/src/main.cpp",
        "demo-main-1a2b3c/src",
        "demo-main-1a2b3c/src/copy.cpp (25 bytes)",
        "demo-main-1a2b3c/src/main.cpp (25 bytes)",
    }));
    QFile main(destPath() + "/demo-main-1a2b3c/src/main.cpp");
    QVERIFY(main.open(QIODevice::ReadOnly));
    QCOMPARE(main.readAll(), QByteArray("int main() { return 0; }\n"));
    QCOMPARE(tree(sentinelPath()), m_sentinelTree);
}

void tst_Unarchiver::extractsEachFormat_data()
{
    QTest::addColumn<ArchiveFormat>("format");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("tar.gz") << ArchiveFormat::TarGz << "example.tar.gz";
    QTest::newRow("tar") << ArchiveFormat::Tar << "example.tar";
    QTest::newRow("tar.xz") << ArchiveFormat::TarXz << "example.tar.xz";
    QTest::newRow("zip") << ArchiveFormat::Zip << "example.zip";
    // The content decides, not the name.
    QTest::newRow("tar.gz named .zip") << ArchiveFormat::TarGz << "example.zip";
}

void tst_Unarchiver::extractsEachFormat()
{
    QFETCH(ArchiveFormat, format);
    QFETCH(QString, fileName);

    const Entries entries = {ArchiveEntry::dir("top/"),
                             ArchiveEntry::file("top/a.txt", QByteArray(3000, 'a')),
                             ArchiveEntry::file("top/empty.txt", {})};
    QVERIFY(writeArchive(archivePath(fileName), entries, format));
    const Result result = unpack(archivePath(fileName), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Success);
    QCOMPARE(result.output.size(), entries.size());
    QCOMPARE(tree(destPath()), QStringList({"top", "top/a.txt (3000 bytes)", "top/empty.txt (0 bytes)"}));
}

void tst_Unarchiver::refusesHostileArchive_data()
{
    QTest::addColumn<Entries>("entries");

    const QByteArray sentinel = QByteArray("../sentinel");
    QTest::newRow("dot-dot entry") << Entries{ArchiveEntry::file("../sentinel/evil.txt", "x")};
    QTest::newRow("dot-dot inside the path")
        << Entries{ArchiveEntry::dir("top/"), ArchiveEntry::file("top/../../sentinel/evil.txt", "x")};
    QTest::newRow("absolute path") << Entries{ArchiveEntry::file("/SENTINEL/evil.txt", "x")};
    QTest::newRow("symlink out, then a write through it")
        << Entries{ArchiveEntry::symlink("out", sentinel), ArchiveEntry::file("out/evil.txt", "x")};
    QTest::newRow("symlink climbing above its folder")
        << Entries{ArchiveEntry::dir("top/"), ArchiveEntry::symlink("top/out", "../../sentinel")};
    QTest::newRow("symlink with absolute target")
        << Entries{ArchiveEntry::symlink("out", "/SENTINEL")};
    // "here" points at the destination itself, so "here/.." is the folder above it.
    QTest::newRow("symlink out through another symlink")
        << Entries{ArchiveEntry::symlink("here", "."), ArchiveEntry::symlink("out", "here/../sentinel")};
    QTest::newRow("write through a symlink that stays inside")
        << Entries{ArchiveEntry::dir("real/"), ArchiveEntry::symlink("alias", "real"),
                   ArchiveEntry::file("alias/evil.txt", "x")};
    QTest::newRow("file replacing a symlink")
        << Entries{ArchiveEntry::file("target.txt", "x"), ArchiveEntry::symlink("alias", "target.txt"),
                   ArchiveEntry::file("alias", "overwritten")};
    QTest::newRow("hard link to a file outside")
        << Entries{ArchiveEntry::hardlink("evil.txt", "../sentinel/precious.txt")};
    QTest::newRow("hard link with absolute target")
        << Entries{ArchiveEntry::hardlink("evil.txt", "/SENTINEL/precious.txt")};
    QTest::newRow("hard link through a symlink")
        << Entries{ArchiveEntry::dir("real/"), ArchiveEntry::file("real/f.txt", "x"),
                   ArchiveEntry::symlink("alias", "real"), ArchiveEntry::hardlink("copy.txt", "alias/f.txt")};
    QTest::newRow("path too long")
        << Entries{ArchiveEntry::file(QByteArray(40, 'd').append('/').repeated(110) + "evil.txt", "x")};
    QTest::newRow("character device") << Entries{ArchiveEntry::special(ArchiveEntry::CharDevice, "null")};
    QTest::newRow("block device") << Entries{ArchiveEntry::special(ArchiveEntry::BlockDevice, "loop0")};
    QTest::newRow("fifo") << Entries{ArchiveEntry::special(ArchiveEntry::Fifo, "pipe")};
}

void tst_Unarchiver::refusesHostileArchive()
{
    QFETCH(Entries, entries);

    // Absolute names point into the sentinel folder, wherever the test runs.
    for (ArchiveEntry &entry : entries) {
        entry.path.replace("/SENTINEL", QFile::encodeName(sentinelPath()));
        entry.data.replace("/SENTINEL", QFile::encodeName(sentinelPath()));
    }
    QVERIFY(writeArchive(archivePath(), entries));

    const Result result = unpack(archivePath(), destPath());
    QVERIFY2(result.finished, qPrintable(result.output.join(QString())));
    QCOMPARE(result.result, DoneResult::Error);
    QVERIFY2(result.output.last().startsWith("Refusing"), qPrintable(result.output.last()));
    QCOMPARE(tree(sentinelPath()), m_sentinelTree);
    QCOMPARE(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"archive.tar.gz", "dest", "sentinel"}));
    // Nothing written under a refused name, and no link left behind that leads out.
    const QStringList unpacked = tree(destPath());
    for (const QString &path : unpacked)
        QVERIFY2(!path.contains("evil") && !path.contains("copy") && !path.startsWith("out"), qPrintable(path));
}

void tst_Unarchiver::keepsWhatCameBeforeARefusedEntry()
{
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::file("first.txt", "1"),
                                         ArchiveEntry::file("../escape.txt", "x"),
                                         ArchiveEntry::file("never.txt", "3")}));
    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Error);
    QCOMPARE(result.output.size(), 2);
    QCOMPARE(result.output.first(), "first.txt\n");
    QVERIFY(result.output.last().contains("../escape.txt"));
    QCOMPARE(tree(destPath()), QStringList({"first.txt (1 bytes)"}));
}

static QByteArray gzipped(const QByteArray &data)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.gz"));
    if (!writeGZipFile(path, data))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_Unarchiver::refusesWhatIsNoArchive_data()
{
    QTest::addColumn<QByteArray>("content");

    QByteArray random(100000, '\0');
    quint32 state = 12345;
    for (char &c : random) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    QTest::newRow("random bytes") << random;
    QTest::newRow("html page") << QByteArray("<!DOCTYPE html>\n<html><head><title>Sign in · GitLab</title>"
                                             "</head><body><p>You need to sign in.</p></body></html>\n");
    QTest::newRow("json error") << QByteArray("{\"message\":\"404 Project Not Found\"}");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("gzip magic only") << QByteArray("\x1f\x8b", 2);
    QTest::newRow("gzip-compressed page") << gzipped("<html><body>Not found</body></html>");
}

void tst_Unarchiver::refusesWhatIsNoArchive()
{
    QFETCH(QByteArray, content);

    QFile file(archivePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const auto sourceAndCommand = Unarchiver::sourceAndCommand(FilePath::fromString(archivePath()));
    QVERIFY(!sourceAndCommand);
    QCOMPARE(sourceAndCommand.error(), "File format not supported.");
}

void tst_Unarchiver::truncatedArchiveEndsWithError()
{
    Entries entries = {ArchiveEntry::dir("top/")};
    QByteArray noise(200000, '\0');
    quint32 state = 7;
    for (char &c : noise) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    entries.append(ArchiveEntry::file("top/big.bin", noise));
    QVERIFY(writeArchive(archivePath(), entries));
    QFile file(archivePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();

    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Error);
}

void tst_Unarchiver::enforcesLimits_data()
{
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<qint64>("maxEntries");
    QTest::addColumn<DoneResult>("expected");

    // The archive: a folder and three files of 1000 bytes each.
    QTest::newRow("within both") << qint64(3000) << qint64(4) << DoneResult::Success;
    QTest::newRow("one entry too many") << qint64(3000) << qint64(3) << DoneResult::Error;
    QTest::newRow("one byte too many") << qint64(2999) << qint64(4) << DoneResult::Error;
    QTest::newRow("far too many bytes") << qint64(100) << qint64(100) << DoneResult::Error;
}

void tst_Unarchiver::enforcesLimits()
{
    QFETCH(qint64, maxBytes);
    QFETCH(qint64, maxEntries);
    QFETCH(DoneResult, expected);

    HostStandIn::setUnarchiverLimits({maxBytes, maxEntries});
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::dir("top/"),
                                         ArchiveEntry::file("top/1", QByteArray(1000, '1')),
                                         ArchiveEntry::file("top/2", QByteArray(1000, '2')),
                                         ArchiveEntry::file("top/3", QByteArray(1000, '3'))}));
    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, expected);
    if (expected == DoneResult::Error)
        QVERIFY2(result.output.last().startsWith("The archive"), qPrintable(result.output.last()));
}

void tst_Unarchiver::makesUnpackedFilesWritableByOwner()
{
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::dir("top/"),
                                         ArchiveEntry::file("top/readonly.txt", "r", 0444),
                                         ArchiveEntry::file("top/setuid", "s", 04755),
                                         ArchiveEntry::file("top/open.txt", "o", 0666)}));
    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Success);
    const QFileInfo readOnly(destPath() + "/top/readonly.txt");
    QVERIFY(readOnly.permission(QFile::WriteOwner));
    QVERIFY(readOnly.permission(QFile::ReadOwner));
    const QFileInfo setuid(destPath() + "/top/setuid");
    QVERIFY(setuid.permission(QFile::ExeOwner));
    QCOMPARE(::access(QFile::encodeName(setuid.filePath()).constData(), X_OK), 0);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(setuid.filePath()).constData(), &st), 0);
    QCOMPARE(st.st_mode & (S_ISUID | S_ISGID | S_ISVTX), mode_t(0));
    QVERIFY(!QFileInfo(destPath() + "/top/open.txt").permission(QFile::WriteOther));
    QVERIFY(!QFileInfo(destPath() + "/top/open.txt").permission(QFile::WriteGroup));
    // The folder can be removed again by the user who unpacked it.
    QVERIFY(QDir(destPath() + "/top").removeRecursively());
}

void tst_Unarchiver::unpacksNamesThatAreNotUtf8()
{
    const QByteArray latin1Name("top/caf\xe9.txt");
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::dir("top/"), ArchiveEntry::file(latin1Name, "x")},
                         ArchiveFormat::Ustar));
    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Success);
    QCOMPARE(result.output.size(), 2);
    QVERIFY(result.output.last().startsWith("top/caf"));
    // Qt cannot name such a file; look it up, and remove it, by its bytes.
    const QByteArray onDisk = QFile::encodeName(destPath()) + '/' + latin1Name;
    QCOMPARE(::access(onDisk.constData(), F_OK), 0);
    QCOMPARE(::unlink(onDisk.constData()), 0);
}

void tst_Unarchiver::unpacksPlainGZipFile()
{
    const QString gzPath = archivePath(QStringLiteral("notes.txt.gz"));
    QVERIFY(writeGZipFile(gzPath, "just some text\n"));
    const auto sourceAndCommand = Unarchiver::sourceAndCommand(FilePath::fromString(gzPath));
    QVERIFY(sourceAndCommand);

    Unarchiver unarchiver;
    unarchiver.setSourceAndCommand(*sourceAndCommand);
    unarchiver.setDestDir(FilePath::fromString(destPath()));
    unarchiver.setGZipFileDestName(QStringLiteral("unpacked.txt"));
    QSignalSpy done(&unarchiver, &Unarchiver::done);
    unarchiver.start();
    QVERIFY(done.wait());
    QCOMPARE(done.first().first().value<DoneResult>(), DoneResult::Success);
    QFile file(destPath() + "/unpacked.txt");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("just some text\n"));
}

void tst_Unarchiver::failsWithoutSourceOrDestination_data()
{
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<bool>("withDestination");
    QTest::newRow("no source") << false << true;
    QTest::newRow("no destination") << true << false;
}

void tst_Unarchiver::failsWithoutSourceOrDestination()
{
    QFETCH(bool, withSource);
    QFETCH(bool, withDestination);

    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::file("a.txt", "a")}));
    Unarchiver unarchiver;
    if (withSource)
        unarchiver.setSourceAndCommand(*Unarchiver::sourceAndCommand(FilePath::fromString(archivePath())));
    if (withDestination)
        unarchiver.setDestDir(FilePath::fromString(destPath()));
    QSignalSpy output(&unarchiver, &Unarchiver::outputReceived);
    QSignalSpy done(&unarchiver, &Unarchiver::done);
    unarchiver.start();
    // Even a failure to start is reported later, never from inside start().
    QCOMPARE(done.size(), 0);
    QVERIFY(done.wait());
    QCOMPARE(done.first().first().value<DoneResult>(), DoneResult::Error);
    QCOMPARE(output.size(), 1);
    QVERIFY(!QFileInfo::exists(destPath()));
}

void tst_Unarchiver::signalsArriveOnOwnerThread()
{
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::dir("top/"), ArchiveEntry::file("top/a", "a")}));
    Unarchiver unarchiver;
    unarchiver.setSourceAndCommand(*Unarchiver::sourceAndCommand(FilePath::fromString(archivePath())));
    unarchiver.setDestDir(FilePath::fromString(destPath()));
    QList<QThread *> threads;
    const auto record = [&threads] { threads.append(QThread::currentThread()); };
    connect(&unarchiver, &Unarchiver::outputReceived, this, record, Qt::DirectConnection);
    connect(&unarchiver, &Unarchiver::done, this, record, Qt::DirectConnection);
    QSignalSpy done(&unarchiver, &Unarchiver::done);
    unarchiver.start();
    QVERIFY(done.wait());
    QCOMPARE(threads, QList<QThread *>(3, QThread::currentThread()));
}

void tst_Unarchiver::runsWhileTheGlobalPoolIsBusy()
{
    // Download chains block the global pool's threads; unpacking must not queue behind them.
    QThreadPool *global = QThreadPool::globalInstance();
    QSemaphore release;
    const int blockers = global->maxThreadCount();
    for (int i = 0; i < blockers; ++i)
        global->start([&release] { release.acquire(); });
    QVERIFY(writeArchive(archivePath(), {ArchiveEntry::dir("top/"), ArchiveEntry::file("top/a", "a")}));
    const Result result = unpack(archivePath(), destPath());
    release.release(blockers);
    global->waitForDone();
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Success);
}

void tst_Unarchiver::deletingWhileRunningIsSafe_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("waitForOutput");

    QTest::newRow("one job, deleted once it unpacks") << 1 << true;
    QTest::newRow("one job, deleted right after start") << 1 << false;
    // More jobs than the pool has threads: some are still queued when they go.
    QTest::newRow("many jobs, deleted right after start") << 12 << false;
}

void tst_Unarchiver::deletingWhileRunningIsSafe()
{
    QFETCH(int, jobs);
    QFETCH(bool, waitForOutput);

    Entries entries = {ArchiveEntry::dir("top/")};
    for (int i = 0; i < 400; ++i)
        entries.append(ArchiveEntry::file("top/file" + QByteArray::number(i), QByteArray(20000, char('a' + i % 26))));
    QVERIFY(writeArchive(archivePath(), entries));
    const auto sourceAndCommand = Unarchiver::sourceAndCommand(FilePath::fromString(archivePath()));
    QVERIFY(sourceAndCommand);

    int doneCount = 0;
    QList<Unarchiver *> unarchivers;
    for (int i = 0; i < jobs; ++i) {
        auto unarchiver = new Unarchiver;
        unarchiver->setSourceAndCommand(*sourceAndCommand);
        unarchiver->setDestDir(FilePath::fromString(destPath() + QString::number(i)));
        connect(unarchiver, &Unarchiver::done, this, [&doneCount] { ++doneCount; });
        unarchivers.append(unarchiver);
        unarchiver->start();
    }
    if (waitForOutput) {
        QSignalSpy output(unarchivers.first(), &Unarchiver::outputReceived);
        QVERIFY(output.wait());
    }
    qDeleteAll(unarchivers);
    QTest::qWait(50);
    QCOMPARE(doneCount, 0);

    // The pool is free again: a new job runs to its end.
    const Result result = unpack(archivePath(), destPath());
    QVERIFY(result.finished);
    QCOMPARE(result.result, DoneResult::Success);
}

QTEST_GUILESS_MAIN(tst_Unarchiver)

#include "tst_unarchiver.moc"
