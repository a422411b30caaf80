#pragma once

// Shared by the hardening suites: the real DownloadService against the local GitLab server, in
// private settings and a temporary folder the test watches.

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

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace Hardening {

using namespace Tidepool::Internal;
using namespace TestArchive;
using namespace TestFiles;

inline bool installStubManifest(const QString &exampleFolder)
{
    return writeFile(exampleFolder + "/examples-manifest.xml",
                     "<instructionals module=\"x\"><examples/></instructionals>\n");
}

// A project that installs, with an image of its own.
inline LocalGitLab::ProjectData project(const QString &path)
{
    LocalGitLab::ProjectData result = TestProject::project(path);
    result.avatar = TestImage::png(8, 8);
    result.avatarFileName = "logo.png";
    return result;
}

inline const QString repositoryName = QStringLiteral("Hardening Examples");

// The suites' base: one repository served by the local server and configured in a settings
// folder of its own, and no job of one case left to write into the next.
class Suite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Never the user's own data location: every case wipes it.
        const QString testData = qEnvironmentVariable("TIDEPOOL_TEST_DATA");
        dataRoot = QFileInfo(dataLocation()).path();
        tempPath = scratch.filePath("tmp");
        outside = scratch.filePath("outside");
        qputenv("TMPDIR", QFile::encodeName(tempPath));
        baseUrl = server.start();
        QVERIFY(!testData.isEmpty() &&
                examplePathTemplate.startsWith(QDir(testData).absolutePath()) &&
                scratch.isValid() && QDir().mkpath(tempPath) && QDir().mkpath(outside) &&
                baseUrl.isValid() && QDir::tempPath() == tempPath);
    }
    void cleanup()
    {
        server.clearFaults();
        QCOMPARE(leftovers(), QStringList());
        HostStandIn::reset();
    }

protected:
    // A fresh group on the server, a fresh settings folder naming it, an empty data location.
    void reset()
    {
        settingsDir = std::make_unique<QTemporaryDir>(scratch.filePath("settings-XXXXXX"));
        HostStandIn::setSettingsPath(settingsDir->path());
        removeFolder(dataRoot);
        server.clearFaults();
        server.clearRequestLog();
        const QString path = QStringLiteral("group-%1").arg(++groups);
        groupId = server.addGroup(path, path);
        Settings settings;
        settings.repositories.insert(repositoryName,
                                     {baseUrl.resolved(QUrl(path)), {}, {}, {}, {}});
        settings.save(Core::ICore::settings());
    }

    QString repositoryFolder() const { return exampleFolder({}); }
    QString exampleFolder(const QString &path) const
    {
        return examplePathTemplate.arg(repositoryName, path);
    }
    bool isInstalled(const QString &path) const
    {
        return QFileInfo::exists(exampleFolder(path) + "/examples-manifest.xml");
    }
    // What downloads and unpack jobs left behind, in the service's folder or the temporary one.
    QStringList leftovers() const
    {
        return tree(repositoryFolder() + "/.tidepool-work") + tree(tempPath);
    }
    // Entries of the data location outside the repository folder.
    QStringList strayEntries() const
    {
        return tree(dataRoot).filter(
            QRegularExpression("^(?!" + QRegularExpression::escape(repositoryName) + "(/|$))"));
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
