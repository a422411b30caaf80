#pragma once

#include "plugin/settings.h"
#include "plugin/tidepoolpluginprivate.h"
#include "service/downloadservice.h"
#include "ui/examplesdialog.h"
#include "ui/optionswidget.h"

#include <coreplugin/dialogs/ioptionspage.h>
#include <coreplugin/icore.h>
#include <hoststandin/hostsetup.h>
#include <utils/qtcsettings.h>

#include <gitlabserver.h>

#include "testproject.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace UiTest {

using namespace Tidepool::Internal;
using TestProject::project;

inline const char manifestName[] = "examples-manifest.xml";

inline QString repositoryFolder(const QString &name) { return dataLocation().arg(name); }

// The page looks only at where a manifest is and when it was written.
inline bool installManifest(const QString &repository, const QString &relativeFolder,
                            const QDateTime &modified)
{
    QFile file(repositoryFolder(repository) + u'/' + relativeFolder + u'/' + manifestName);
    // Flushed first: a later flush would date the file anew.
    return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly)
           && file.write("<instructionals module=\"Tidepool\"><examples/></instructionals>\n") > 0
           && file.flush() && file.setFileTime(modified, QFileDevice::FileModificationTime);
}

inline bool clearDataLocation()
{
    QDir root(dataLocation().arg(QString()));
    return root.removeRecursively() && QDir().mkpath(root.path());
}

struct RepositoryEntry { QString name; QUrl url; QSet<QString> removedExamples = {}; };

inline void saveSettings(const QList<RepositoryEntry> &repositories, quint32 intervalDays)
{
    Settings settings;
    settings.updatesCheckTimeoutDays = intervalDays;
    for (const RepositoryEntry &entry : repositories)
        settings.repositories.insert(entry.name, {entry.url, entry.removedExamples, {}, {}, {}});
    settings.save(Core::ICore::settings());
}

inline QString settingsFile() { return HostStandIn::settingsPath() + "/QtProject/QtCreator.ini"; }

inline Settings storedSettings()
{
    Utils::QtcSettings store(settingsFile(), QSettings::IniFormat);
    Settings settings;
    settings.load(&store);
    return settings;
}

inline QSet<QString> storedRemovedExamples(const QString &repository)
{
    // An empty set is stored as one empty path.
    return storedSettings().repositories.value(repository).removedExamples - QSet<QString>{""};
}

// Runs the plugin's start-up work and waits until the service has listed the repository.
inline bool startService()
{
    const QList<Core::IOptionsPage *> before = Core::IOptionsPage::allOptionsPages();
    { TidepoolPluginPrivate plugin; }
    // The host would keep the page it registers for good; the tests show their own.
    for (Core::IOptionsPage *page : Core::IOptionsPage::allOptionsPages())
        if (!before.contains(page))
            delete page;
    DownloadService *service = downloadService();
    QSignalSpy updated(service, &DownloadService::updated);
    return service && updated.wait(15000);
}

inline QString messageText(const QString &title)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto box = qobject_cast<QMessageBox *>(window);
        if (box && box->isVisible() && box->windowTitle() == title)
            return box->text();
    }
    return {};
}

inline QStringList texts(const QListWidget *list, bool visibleOnly = false)
{
    QStringList result;
    for (int row = 0; row < list->count(); ++row)
        if (!visibleOnly || !list->item(row)->isHidden())
            result.append(list->item(row)->text());
    return result;
}

inline void ctrlClick(QListWidget *list, const QStringList &wanted)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        if (wanted.contains(item->text()) && !item->isHidden())
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              list->visualItemRect(item).center());
    }
}

} // namespace UiTest
