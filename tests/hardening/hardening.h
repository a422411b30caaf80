#pragma once

// Shared by the hardening suites: a fixture that runs the real DownloadService against the local
// GitLab server in a private settings and temporary folder, and measurements of disk and memory.

#include "manifestreader.h"
#include "plugin/settings.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"
#include "testarchive.h"
#include "testfiles.h"
#include "testimage.h"
#include "testproject.h"

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

#include <sys/stat.h>

#include <memory>

namespace Hardening {

using namespace Tidepool::Internal;

using namespace TestArchive;
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

inline QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

// A project that installs, with an image of its own.
inline LocalGitLab::ProjectData project(const QString &path)
{
    LocalGitLab::ProjectData result = TestProject::project(path);
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

    // What downloads and unpack jobs left behind: in the service's own folder, or in the
    // system's temporary folder.
    QStringList leftovers() const
    {
        return tree(repositoryFolder() + QStringLiteral("/.tidepool-work")) + tree(tempPath);
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
