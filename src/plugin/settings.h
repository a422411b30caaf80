#pragma once

#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

namespace Utils { class QtcSettings; }

namespace Tidepool::Internal {

struct RepositorySettings
{
    QUrl url;
    QSet<QString> removedExamples;

    // Transient: never written, empty after a load.
    QSet<QString> examplesToRemove;
    QSet<QString> examplesToInstall;
    QList<QFileInfo> installedManifests;
};

// The plugin's persistent settings, kept in the host's user settings under the group "Tidepool".
// Every user holds its own copy; a save writes every key, so the last save wins.
struct Settings
{
    QHash<QString, QDate> updatesCheckedDate;
    quint32 updatesCheckTimeoutDays = 1;
    quint32 serviceRestartTimeoutSeconds = 60;
    QHash<QString, RepositorySettings> repositories;

    void load(Utils::QtcSettings *settings);
    void save(Utils::QtcSettings *settings) const;

    // Re-reads only the check dates from the store, so that a date can be stored without writing
    // back anything else that another copy may have saved meanwhile.
    void saveUpdatesCheckedDate(Utils::QtcSettings *settings, const QString &name, const QDate &date);

    QString repositoryName(const QUrl &url) const;
};

// The folder template of the repositories: "%1" stands for the repository name.
QString dataLocation();

// Rewrites the host's "Help/InstalledExamples" entries of the configured repositories.
void registerInstalledExamples(Utils::QtcSettings *settings);

// True when name can serve as one folder name inside a repository folder: not empty, not "." or
// "..", no separator, no control character.
bool isSafeFolderName(const QString &name);

} // namespace Tidepool::Internal
