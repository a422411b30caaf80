#pragma once

// Shared by the hardening suites: archives written with libarchive at run time, a fixture that
// runs the real DownloadService against the local GitLab server in a private settings and
// temporary folder, and measurements of disk and memory.

#include "plugin/settings.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"
#include "testfiles.h"
#include "testimage.h"

#include <gitlabserver.h>

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

#include <functional>
#include <memory>

namespace Hardening {

using namespace Tidepool::Internal;

// One entry of a generated tar archive. For files, `size` bytes of `fill` are written when `data`
// is empty and size > 0, so that large files need not be held in memory.
struct TarEntry
{
    enum Type { File, Symlink };
    Type type = File;
    QByteArray path;
    QByteArray data; // file content, or a link's target
    qint64 size = -1;
    char fill = 0;

    static TarEntry file(const QByteArray &path, const QByteArray &data)
    { return {File, path, data, -1, 0}; }
    static TarEntry zeros(const QByteArray &path, qint64 size) { return {File, path, {}, size, 0}; }
    static TarEntry symlink(const QByteArray &path, const QByteArray &target)
    { return {Symlink, path, target, -1, 0}; }
};

// Writes a gzip-compressed tar, streaming into memory; entries are produced one at a time by
// `next` (return false when done), so that archives of 100 000 entries cost no list of them.
inline QByteArray tarGz(const std::function<bool(TarEntry &)> &next, bool rawNames = false)
{
    QByteArray out;
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    // ustar keeps names as raw bytes (names that are not UTF-8 survive), but limits them to
    // 255 bytes; pax stores any length.
    if (rawNames)
        archive_write_set_format_ustar(writer);
    else
        archive_write_set_format_pax_restricted(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    archive_write_open(
        writer, &out, nullptr,
        [](archive *, void *client, const void *buffer, size_t length) -> la_ssize_t {
            static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer),
                                                      qsizetype(length));
            return la_ssize_t(length);
        },
        nullptr);

    static const QByteArray chunk(1 << 20, '\0');
    TarEntry item;
    while (next(item)) {
        archive_entry *entry = archive_entry_new();
        archive_entry_copy_pathname(entry, item.path.constData());
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_mtime(entry, 1700000000, 0);
        qint64 size = 0;
        switch (item.type) {
        case TarEntry::File:
            size = item.data.isEmpty() && item.size > 0 ? item.size : item.data.size();
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, size);
            break;
        case TarEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, item.data.constData());
            break;
        }
        archive_write_header(writer, entry);
        if (item.type == TarEntry::File) {
            if (!item.data.isEmpty()) {
                archive_write_data(writer, item.data.constData(), size_t(item.data.size()));
            } else {
                for (qint64 written = 0; written < size;) {
                    const qint64 n = qMin<qint64>(chunk.size(), size - written);
                    archive_write_data(writer, chunk.constData(), size_t(n));
                    written += n;
                }
            }
        }
        archive_entry_free(entry);
        item = TarEntry();
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

inline QByteArray tarGz(const QList<TarEntry> &entries, bool rawNames = false)
{
    qsizetype index = 0;
    return tarGz(
        [&](TarEntry &entry) {
            if (index >= entries.size())
                return false;
            entry = entries.at(index++);
            return true;
        },
        rawNames);
}

using namespace TestFiles;
using TestImage::png;

// Bytes of disk the tree below root occupies (allocated blocks, so sparse files count as what
// they really take), and the number of entries in it.
struct DiskUse
{
    qint64 bytes = 0;
    qint64 entries = 0;
};

inline DiskUse diskUse(const QString &root)
{
    DiskUse use;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray path = QFile::encodeName(it.next());
        struct stat st;
        if (::lstat(path.constData(), &st) == 0)
            use.bytes += qint64(st.st_blocks) * 512;
        ++use.entries;
    }
    return use;
}

// The process's peak resident memory so far, in bytes (VmHWM).
inline qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// What an installed example holds as far as the service and the page can tell.
inline bool installStubManifest(const QString &exampleFolder)
{
    return writeFile(exampleFolder + QStringLiteral("/examples-manifest.xml"),
                     "<instructionals module=\"x\"><examples/></instructionals>\n");
}

inline bool isWellFormedXml(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

inline QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

// A project that installs: a project file at the top of its folder.
inline LocalGitLab::ProjectData project(const QString &path)
{
    LocalGitLab::ProjectData result;
    result.path = path;
    result.name = QStringLiteral("Example %1").arg(path);
    result.description = QStringLiteral("About %1").arg(path);
    result.files = {{QStringLiteral("CMakeLists.txt"), "project(example)\n"},
                    {QStringLiteral("main.cpp"), "int main() {}\n"}};
    result.avatar = png(8, 8);
    result.avatarFileName = QStringLiteral("logo.png");
    return result;
}

// One repository served by the local server and configured in a settings folder of its own, with
// temporary files going to a folder the test watches. The data location is fixed when the
// library loads (XDG_DATA_HOME of the test), so every case wipes it.
class Fixture
{
public:
    static inline const QString repositoryName = QStringLiteral("Hardening Examples");

    bool start()
    {
        const QString testData = qEnvironmentVariable("TIDEPOOL_TEST_DATA");
        if (testData.isEmpty() || !examplePathTemplate.startsWith(QDir(testData).absolutePath()))
            return false;
        dataRoot = QFileInfo(dataLocation()).path();
        if (!scratch.isValid())
            return false;
        tempPath = scratch.filePath(QStringLiteral("tmp"));
        outside = scratch.filePath(QStringLiteral("outside"));
        QDir().mkpath(tempPath);
        QDir().mkpath(outside);
        qputenv("TMPDIR", QFile::encodeName(tempPath));
        baseUrl = server.start();
        return baseUrl.isValid() && QDir::tempPath() == tempPath;
    }

    // A fresh group on the server, a fresh settings folder naming it, an empty data location.
    QUrl reset(quint32 days = 1)
    {
        settingsDir = std::make_unique<QTemporaryDir>(
            scratch.filePath(QStringLiteral("settings-XXXXXX")));
        HostStandIn::setSettingsPath(settingsDir->path());
        removeFolder(dataRoot);
        server.clearFaults();
        server.clearRequestLog();
        const QString path = QStringLiteral("group-%1").arg(++groups);
        groupId = server.addGroup(path, QStringLiteral("Group %1").arg(groups));
        QUrl url = baseUrl;
        url.setPath(QLatin1Char('/') + path);
        Settings settings;
        settings.updatesCheckTimeoutDays = days;
        settings.repositories.insert(repositoryName, RepositorySettings{url, {}, {}, {}, {}});
        settings.save(Core::ICore::settings());
        return url;
    }

    QString repositoryFolder() const { return examplePathTemplate.arg(repositoryName, QString()); }
    QString exampleFolder(const QString &path) const
    { return examplePathTemplate.arg(repositoryName, path); }
    bool isInstalled(const QString &path) const
    {
        return QFileInfo::exists(exampleFolder(path) + QStringLiteral("/examples-manifest.xml"));
    }

    // Everything below the data location lies inside the repository folder.
    QStringList strayEntries() const
    {
        QStringList stray;
        for (const QString &entry : tree(dataRoot)) {
            if (entry != repositoryName && !entry.startsWith(repositoryName + QLatin1Char('/')))
                stray << entry;
        }
        return stray;
    }

    LocalGitLab::Server server;
    QUrl baseUrl;
    qint64 groupId = 0;
    int groups = 0;
    QString dataRoot;
    QTemporaryDir scratch;
    QString tempPath;
    QString outside;
    std::unique_ptr<QTemporaryDir> settingsDir;
};

} // namespace Hardening
