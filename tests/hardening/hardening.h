#pragma once

// Shared by the hardening suites: the real DownloadService against the local GitLab server, in
// private settings and a temporary folder the test watches.

#include "manifestreader.h"
#include "plugin/settings.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"
#include "servicesuite.h"
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
// folder of its own.
class Suite : public ServiceSuite
{
public:
    Suite() : ServiceSuite(Hardening::repositoryName) {}

protected:
    void reset()
    {
        freshSettings();
        Settings settings;
        settings.repositories.insert(repositoryName, {addGroup(), {}, {}, {}, {}});
        settings.save(Core::ICore::settings());
    }
    QString repositoryFolder() const { return exampleFolder({}); }
    bool isInstalled(const QString &path) const
    {
        return QFileInfo::exists(exampleFolder(path) + "/examples-manifest.xml");
    }
    // Entries of the data location outside the repository folder.
    QStringList strayEntries() const
    {
        return tree(dataRoot).filter(
            QRegularExpression("^(?!" + QRegularExpression::escape(repositoryName) + "(/|$))"));
    }
};

} // namespace Hardening
