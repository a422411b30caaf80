#include <hoststandin/hostsetup.h>
#include <testarchive.h>
#include <utils/unarchiver.h>

#include <QDirIterator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

using namespace Utils;
using Tasking::DoneResult;

namespace {

struct Entry
{
    char type; // f file, d folder, l symbolic link, h hard link, c character device
    QByteArray path;
    QByteArray data = {}; // the content, or the target of a link
    int mode = 0644;
};
using Entries = QList<Entry>;

// A pax tar of the entries; without entries, `raw` compressed with gzip.
QByteArray archiveOf(const Entries &entries, const QByteArray &raw = {})
{
    static const QHash<char, int> types{
        {'f', AE_IFREG}, {'h', AE_IFREG}, {'d', AE_IFDIR}, {'l', AE_IFLNK}, {'c', AE_IFCHR}};
    QByteArray buffer(16 << 20, '\0');
    size_t used = 0;
    archive *a = archive_write_new();
    if (entries.isEmpty())
        archive_write_add_filter_gzip(a);
    entries.isEmpty() ? archive_write_set_format_raw(a) : archive_write_set_format_pax_restricted(a);
    archive_write_set_bytes_in_last_block(a, 1);
    bool ok = archive_write_open_memory(a, buffer.data(), size_t(buffer.size()), &used) == ARCHIVE_OK;
    for (const Entry &e : entries.isEmpty() ? Entries{{'f', "data", raw}} : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.constData());
        archive_entry_set_perm(entry, mode_t(e.mode));
        archive_entry_set_filetype(entry, unsigned(types.value(e.type)));
        if (e.type == 'l' || e.type == 'h')
            (e.type == 'l' ? archive_entry_set_symlink : archive_entry_set_hardlink)(entry, e.data.constData());
        else
            archive_entry_set_size(entry, e.data.size());
        ok = ok && archive_write_header(a, entry) == ARCHIVE_OK
             && (e.type != 'f' || archive_write_data(a, e.data.constData(), size_t(e.data.size())) == e.data.size());
        archive_entry_free(entry);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return buffer.left(ok ? qsizetype(used) : 0);
}

QByteArray tarGz(const Entries &entries) { return archiveOf({}, archiveOf(entries)); }

// Shaped like GitLab's archives: a pax global header carrying the commit id comes first.
QByteArray gitLabTarGz(const Entries &entries, const QByteArray &commit)
{
    const QByteArray record = " comment=" + commit + '\n'; // "<length> <key>=<value>\n", two-digit length
    QByteArray global =
        archiveOf({{'f', "pax_global_header", QByteArray::number(record.size() + 2) + record}})
            .left(1024);
    global[156] = 'g'; // the type byte is in the checksum
    const int sum = global.mid(148, 6).toInt(nullptr, 8) + ('g' - '0');
    global.replace(148, 8, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return archiveOf({}, global + archiveOf(entries));
}

// One line per entry, the way "tar xv" lists them.
QStringList listing(const Entries &entries)
{
    QStringList lines;
    for (const Entry &entry : entries)
        lines.append(QString::fromUtf8(entry.path) + '\n');
    return lines;
}

// Everything below dir, sorted: files with their size and mode, links with their target.
QStringList tree(const QString &dir)
{
    QStringList lines;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        struct stat st = {};
        ::lstat(QFile::encodeName(info.filePath()).constData(), &st);
        lines.append(
            QDir(dir).relativeFilePath(info.filePath()) +
            (info.isSymLink() ? " -> " + info.symLinkTarget()
             : info.isFile()
                 ? QStringLiteral(" (%1 bytes, %2)").arg(info.size()).arg(st.st_mode & 07777, 0, 8)
                 : QString()));
    }
    lines.sort();
    return lines;
}

} // namespace

// Each unpack gets a fresh folder: "dest" for the archive, "sentinel" beside it, never to be touched.
class tst_Unarchiver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void unpacksGitLabArchive();
    void refusesHostileArchive_data();
    void refusesHostileArchive();
    void failsOnWhatIsNoArchive();
    void deletingWhileRunningIsSafe();

private:
    QStringList unpack(const QByteArray &archive);
    QString path(const char *name) const { return m_work->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_work;
};

void tst_Unarchiver::init()
{
    HostStandIn::reset();
    m_work = std::make_unique<QTemporaryDir>();
    QFile precious(path("sentinel/precious.txt"));
    QVERIFY(QDir().mkpath(path("sentinel")) && precious.open(QIODevice::WriteOnly) && precious.write("keep me") == 7);
}

// The lines printed, then "success", "error", "done twice", "timed out" (or reason, "not an archive").
QStringList tst_Unarchiver::unpack(const QByteArray &archive)
{
    QFile file(path("archive.tar.gz"));
    if (!file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size())
        return {"unwritable"};
    file.close();
    const auto source = Unarchiver::sourceAndCommand(FilePath::fromString(file.fileName()));
    if (!source)
        return {source.error(), "not an archive"};
    QStringList output;
    Unarchiver unarchiver;
    unarchiver.setSourceAndCommand(*source);
    unarchiver.setDestDir(FilePath::fromString(path("dest")));
    connect(&unarchiver, &Unarchiver::outputReceived, this, [&output](const QString &text) { output.append(text); });
    QSignalSpy done(&unarchiver, &Unarchiver::done);
    unarchiver.start();
    if (!done.wait(60000))
        return output << "timed out";
    QTest::qWait(20); // nothing may follow done()
    return output << (done.size() > 1 ? "done twice"
                      : done.first().first().value<DoneResult>() == DoneResult::Success ? "success"
                                                                                        : "error");
}

void tst_Unarchiver::unpacksGitLabArchive()
{
    const Entries entries = {
        {'d', "demo-main-1a2b3c/"},
        {'f', "demo-main-1a2b3c/CMakeLists.txt", "project(demo)\n", 0444},
        {'d', "demo-main-1a2b3c/src/"},
        {'f', "demo-main-1a2b3c/src/main.cpp", "int main() { return 0; }\n", 0666},
        {'f', "demo-main-1a2b3c/run.sh", "#!/bin/sh\n", 04755},
        {'l', "demo-main-1a2b3c/README.md", "src/main.cpp"},
        {'h', "demo-main-1a2b3c/src/copy.cpp", "demo-main-1a2b3c/src/main.cpp"}};
    // Download chains block the global pool's threads; unpacking must not queue behind them.
    QThreadPool *global = QThreadPool::globalInstance();
    QSemaphore release;
    for (int i = 0; i < global->maxThreadCount(); ++i)
        global->start([&release] { release.acquire(); });
    const QStringList output = unpack(gitLabTarGz(entries, "1a2b3c4d5e6f"));
    release.release(global->maxThreadCount());
    global->waitForDone();
    QCOMPARE(output, listing(entries) << "success"); // the global header is no entry
    // The owner may change and remove what was unpacked; no set-id bit and no write for others.
    const QString dest = path("dest") + "/demo-main-1a2b3c";
    QCOMPARE(tree(dest),
             QStringList({"CMakeLists.txt (14 bytes, 644)",
                          "README.md -> " + dest + "/src/main.cpp", "run.sh (10 bytes, 755)", "src",
                          "src/copy.cpp (25 bytes, 644)", "src/main.cpp (25 bytes, 644)"}));
    QVERIFY(QDir(path("dest")).removeRecursively());
}

void tst_Unarchiver::refusesHostileArchive_data()
{
    QTest::addColumn<Entries>("entries");

    QTest::newRow("dot-dot inside the path") << Entries{{'d', "top/"}, {'f', "top/../../sentinel/evil.txt", "x"}};
    QTest::newRow("absolute path") << Entries{{'f', "/SENTINEL/evil.txt", "x"}};
    // "here" points at the destination itself, so "here/.." is the folder above it.
    QTest::newRow("symlink out through another symlink") << Entries{{'l', "here", "."}, {'l', "out", "here/../sentinel"}};
    QTest::newRow("write through a symlink that stays inside")
        << Entries{{'d', "real/"}, {'l', "alias", "real"}, {'f', "alias/evil.txt", "x"}};
    QTest::newRow("file replacing a symlink") << Entries{
        {'f', "target.txt", "x"}, {'l', "alias", "target.txt"}, {'f', "alias", "overwritten"}};
    // A folder made by an earlier entry stays a folder for the later ones.
    QTest::newRow("folder replaced by a symlink")
        << Entries{{'d', "real/"}, {'d', "top/"}, {'l', "top", "real"}, {'f', "top/evil.txt", "x"}};
    QTest::newRow("hard link to a file outside, then a write to it")
        << Entries{{'h', "evil.txt", "../sentinel/precious.txt"}, {'f', "evil.txt", "overwritten"}};
    QTest::newRow("hard link through a symlink")
        << Entries{{'d', "real/"}, {'f', "real/f.txt", "x"}, {'l', "alias", "real"}, {'h', "copy.txt", "alias/f.txt"}};
    QTest::newRow("path too long") << Entries{{'f', QByteArray(40, 'd').append('/').repeated(110) + "evil.txt", "x"}};
    QTest::newRow("character device") << Entries{{'c', "null"}};
}

void tst_Unarchiver::refusesHostileArchive()
{
    QFETCH(Entries, entries);
    for (Entry &entry : entries)
        entry.path.replace("/SENTINEL", QFile::encodeName(path("sentinel")));
    entries.prepend({'f', "first.txt", "1"});
    entries.append({'f', "never.txt", "x"});
    // What came before stays; the refusal is the last word.
    const QStringList output = unpack(tarGz(entries));
    QCOMPARE(output.last(), "error");
    QVERIFY2(output.at(output.size() - 2).startsWith("Refusing"), qPrintable(output.join("")));
    QCOMPARE(tree(path("sentinel")), QStringList("precious.txt (7 bytes, 644)"));
    QCOMPARE(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"archive.tar.gz", "dest", "sentinel"}));
    // Nothing written under a refused name, and no link left behind that leads out.
    const QString unpacked = tree(path("dest")).join('\n');
    const QRegularExpression refused("evil|copy|never|^out", QRegularExpression::MultilineOption);
    QVERIFY2(unpacked.contains("first.txt (1 bytes, 644)") && !unpacked.contains(refused),
             qPrintable(unpacked));
}

void tst_Unarchiver::failsOnWhatIsNoArchive()
{
    for (const QByteArray &content : {QByteArray(), archiveOf({}, "<html><body>Not found</body></html>")})
        QCOMPARE(unpack(content), QStringList({"File format not supported.", "not an archive"}));
    // A download cut off half-way starts to unpack, then fails.
    const QByteArray whole =
        tarGz({{'d', "top/"}, {'f', "top/big.bin", TestArchive::noise(300000)}});
    QCOMPARE(unpack(whole.left(whole.size() / 2)).last(), "error");
}

void tst_Unarchiver::deletingWhileRunningIsSafe()
{
    Entries entries = {{'d', "top/"}};
    for (int i = 0; i < 400; ++i)
        entries.append({'f', "top/d" + QByteArray::number(i % 7) + "/f" + QByteArray::number(i),
                        QByteArray(20000, char('a' + i % 26))});
    const QByteArray archive = tarGz(entries);
    // More lines than go over to the receiving thread at once: none lost, none reordered.
    QCOMPARE(unpack(archive), listing(entries) << "success");
    QCOMPARE(tree(path("dest")).size(), 1 + 7 + 400);
    const auto source = Unarchiver::sourceAndCommand(FilePath::fromString(path("archive.tar.gz")));
    QVERIFY(source);

    // More jobs than the pool has threads: the first unpacks, some are still queued when they go.
    int doneCount = 0;
    std::vector<std::unique_ptr<Unarchiver>> unarchivers;
    for (int i = 0; i < 12; ++i) {
        auto &unarchiver = unarchivers.emplace_back(std::make_unique<Unarchiver>());
        unarchiver->setSourceAndCommand(*source);
        unarchiver->setDestDir(FilePath::fromString(path("job") + QString::number(i)));
        connect(unarchiver.get(), &Unarchiver::done, this, [&doneCount] { ++doneCount; });
        unarchiver->start();
    }
    QVERIFY(QSignalSpy(unarchivers.front().get(), &Unarchiver::outputReceived).wait());
    unarchivers.clear();
    QTest::qWait(50);
    QCOMPARE(doneCount, 0);
    // The pool is free again: a new job runs to its end.
    QVERIFY(QDir(path("dest")).removeRecursively());
    QCOMPARE(unpack(archive).last(), "success");
}

QTEST_GUILESS_MAIN(tst_Unarchiver)

#include "tst_unarchiver.moc"
