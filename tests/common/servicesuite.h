#pragma once

// The base of the suites that run the real download service against the local GitLab server: a
// data location of the test's own (every case wipes it), a temporary folder that shows what is
// left behind, and settings in a folder of each case's own.

#include "plugin/settings.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"
#include "testfiles.h"

#include <gitlabserver.h>

#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class ServiceSuite : public QObject
{
    Q_OBJECT

public:
    explicit ServiceSuite(const QString &repository) : repositoryName(repository) {}

private slots:
    void initTestCase()
    {
        // The data location is fixed when the library loads; never the user's own.
        const QString testData = qEnvironmentVariable("TIDEPOOL_TEST_DATA");
        dataRoot = QFileInfo(Tidepool::Internal::dataLocation()).path();
        tempPath = scratch.filePath("tmp");
        outside = scratch.filePath("outside");
        qputenv("TMPDIR", QFile::encodeName(tempPath));
        baseUrl = server.start();
        QVERIFY(!testData.isEmpty()
                && Tidepool::Internal::examplePathTemplate.startsWith(QDir(testData).absolutePath())
                && scratch.isValid() && QDir().mkpath(tempPath) && QDir().mkpath(outside)
                && baseUrl.isValid() && QDir::tempPath() == tempPath);
    }
    void cleanup()
    {
        server.clearFaults();
        QCOMPARE(leftovers(), QStringList());
        HostStandIn::reset();
    }

protected:
    // A fresh settings folder and an empty data location.
    void freshSettings()
    {
        settingsDir = std::make_unique<QTemporaryDir>(scratch.filePath("settings-XXXXXX"));
        HostStandIn::setSettingsPath(settingsDir->path());
        Tidepool::Internal::removeFolder(dataRoot);
        server.clearFaults();
        server.clearRequestLog();
    }
    // A new group of the projects on the server, named otherwise than the repository.
    QUrl addGroup(const QList<LocalGitLab::ProjectData> &projects = {},
                  QList<qint64> *ids = nullptr)
    {
        const QString path = QStringLiteral("group-%1").arg(++groups);
        groupId = server.addGroup(path, QStringLiteral("Server Name %1").arg(groups));
        for (const LocalGitLab::ProjectData &each : projects) {
            if (const qint64 id = server.addProject(groupId, each); ids)
                ids->append(id);
        }
        return baseUrl.resolved(QUrl(path));
    }
    QString exampleFolder(const QString &path) const
    {
        return Tidepool::Internal::examplePathTemplate.arg(repositoryName, path);
    }
    // What downloads and unpacking left: the service's own folder goes once it is empty.
    QStringList leftovers() const
    {
        const QString work = exampleFolder(".tidepool-work");
        return TestFiles::tree(tempPath)
               + (QFileInfo::exists(work) ? QStringList(work) + TestFiles::tree(work)
                                          : QStringList());
    }

    const QString repositoryName;
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
