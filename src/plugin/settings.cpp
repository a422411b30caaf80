#include "settings.h"

#include "logging.h"

#include <coreplugin/helpmanager.h>
#include <orvik/sdk.h>
#include <utils/qtcsettings.h>

#include <QDebug>
#include <QDir>
#include <QStandardPaths>

namespace Tidepool::Internal {

namespace {

const char groupKey[] = "Tidepool";
const char checkedDateKey[] = "UpdatesCheckedDate";
const char checkTimeoutKey[] = "UpdatesCheckTimeoutDays";
const char restartTimeoutKey[] = "ServiceRestartTimeoutSeconds";
const char repositoriesKey[] = "Repositories";
const char installedExamplesKey[] = "Help/InstalledExamples";

const QChar separator = u'|';
const QString dateFormat = QStringLiteral("dd.MM.yyyy");

QHash<QString, QDate> parseDates(const QStringList &items)
{
    QHash<QString, QDate> result;
    for (const QString &item : items) {
        if (item.isEmpty())
            continue;
        const QStringList parts = item.split(separator);
        if (parts.size() != 2) {
            qCDebug(pluginLog) << "Skipping wrong setting in item:" << item;
            continue;
        }
        if (result.contains(parts.first())) {
            qCDebug(pluginLog) << "Skipping duplicated repository name in item:" << item;
            continue;
        }
        result.insert(parts.first(), QDate::fromString(parts.at(1), dateFormat));
    }
    return result;
}

QHash<QString, RepositorySettings> parseRepositories(const QStringList &items)
{
    QHash<QString, RepositorySettings> result;
    QList<QUrl> urls;
    for (const QString &item : items) {
        if (item.isEmpty())
            continue;
        const QStringList parts = item.split(separator);
        if (parts.size() < 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty()) {
            qCDebug(pluginLog) << "Skipping wrong setting in item:" << item;
            continue;
        }
        const QString &name = parts.at(0);
        if (result.contains(name)) {
            qCDebug(pluginLog) << "Skipping duplicated repository name in item:" << item;
            continue;
        }
        const QUrl url(parts.at(1), QUrl::TolerantMode);
        if (urls.contains(url)) {
            qCDebug(pluginLog) << "Skipping duplicated repository url in item:" << item;
            continue;
        }
        urls.append(url);
        RepositorySettings repository;
        repository.url = url;
        for (qsizetype i = 2; i < parts.size(); ++i)
            repository.removedExamples.insert(parts.at(i));
        result.insert(name, repository);
    }
    return result;
}

QStringList dateItems(const QHash<QString, QDate> &dates)
{
    QStringList items;
    for (auto it = dates.cbegin(); it != dates.cend(); ++it)
        items.append(QString("%1%2%3").arg(it.key(), QString(separator), it.value().toString(dateFormat)));
    return items;
}

QStringList repositoryItems(const QHash<QString, RepositorySettings> &repositories)
{
    QStringList items;
    for (auto it = repositories.cbegin(); it != repositories.cend(); ++it) {
        const QStringList removed(it->removedExamples.cbegin(), it->removedExamples.cend());
        items.append(QString("%1%4%2%4%3")
                         .arg(it.key(), it->url.toString(), removed.join(separator), QString(separator)));
    }
    return items;
}

} // namespace

void Settings::load(Utils::QtcSettings *settings)
{
    qDebug() << "Settings:" << settings->fileName();

    updatesCheckTimeoutDays = 1;
    serviceRestartTimeoutSeconds = 60;
    repositories.clear();

    settings->beginGroup(groupKey);
    if (settings->contains(checkedDateKey))
        updatesCheckedDate = parseDates(settings->value(checkedDateKey).toStringList());
    if (settings->contains(checkTimeoutKey))
        updatesCheckTimeoutDays = settings->value(checkTimeoutKey).toUInt();
    if (settings->contains(restartTimeoutKey))
        serviceRestartTimeoutSeconds = settings->value(restartTimeoutKey).toUInt();
    if (settings->contains(repositoriesKey)) {
        repositories = parseRepositories(settings->value(repositoriesKey).toStringList());
        if (repositories.isEmpty())
            qCDebug(pluginLog) << "Empty or invalid settings. Check variable:" << QString::fromLatin1(repositoriesKey);
    } else {
        qCDebug(pluginLog) << "Settings does not contain variable:" << QString::fromLatin1(repositoriesKey);
    }
    settings->endGroup();
}

void Settings::save(Utils::QtcSettings *settings) const
{
    settings->beginGroup(groupKey);
    settings->setValue(checkedDateKey, dateItems(updatesCheckedDate));
    settings->setValue(checkTimeoutKey, updatesCheckTimeoutDays);
    settings->setValue(restartTimeoutKey, serviceRestartTimeoutSeconds);
    settings->setValue(repositoriesKey, repositoryItems(repositories));
    settings->endGroup();
    settings->sync();
}

void Settings::saveUpdatesCheckedDate(Utils::QtcSettings *settings, const QString &name,
                                      const QDate &date)
{
    updatesCheckedDate[name] = date;

    // Another copy (the options page) may have saved repositories or removals since this one was
    // loaded: write the date into what is stored now, not into this copy.
    Settings stored;
    stored.load(settings);
    stored.updatesCheckedDate[name] = date;
    stored.save(settings);
}

QString Settings::repositoryName(const QUrl &url) const
{
    for (auto it = repositories.cbegin(); it != repositories.cend(); ++it) {
        if (it->url == url)
            return it.key();
    }
    return {};
}

QString dataLocation()
{
    static const QString location = [] {
        const QString result = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                               + QDir::separator() + Orvik::Sdk::releaseInfo().sdkName
                               + QDir::separator() + QStringLiteral("%1");
        qCDebug(pluginLog) << "Data location" << result;
        return result;
    }();
    return location;
}

void registerInstalledExamples(Utils::QtcSettings *settings)
{
    QStringList entries = settings->value(installedExamplesKey).toStringList();
    Settings current;
    current.load(settings);

    bool changed = false;
    for (auto it = current.repositories.cbegin(); it != current.repositories.cend(); ++it) {
        const QString &name = it.key();
        // A name that is no folder name would put the folder outside the data location.
        if (!isSafeFolderName(name)) {
            qCDebug(pluginLog) << "Skipping repository with an unusable folder name:" << name;
            continue;
        }
        const QString folder = dataLocation().arg(name);
        const QString entry = QString("%1|%2|%2").arg(name, folder);
        for (QString &existing : entries) {
            // Only the entry of this very name: "Veyra" must not take over "Veyra SDK Examples".
            if (existing.section(separator, 0, 0) == name) {
                existing = entry;
                changed = true;
                QDir().mkpath(folder);
                break;
            }
        }
    }

    if (!changed)
        return;
    settings->setValue(installedExamplesKey, entries);
    settings->sync();
    emit Core::HelpManager::Signals::instance()->setupFinished();
}

bool isSafeFolderName(const QString &name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace Tidepool::Internal
