#include "optionswidget.h"
#include "ui_optionswidget.h"

#include "examplesdialog.h"
#include "listfilter.h"
#include "plugin/logging.h"
#include "plugin/openlocationmenu.h"
#include "plugin/tidepoolpluginprivate.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"
#include "service/localchanges.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <coreplugin/messagebox.h>

#include <QBrush>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFutureWatcher>
#include <QJsonObject>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QtConcurrent>

#include <algorithm>

namespace Tidepool::Internal {

static const char manifestFileName[] = "examples-manifest.xml";

// Paths that stand in both pending sets cancel out: removing a queued addition, or adding back a
// queued removal, leaves the example as it was.
static void cancelPendingPairs(RepositorySettings &repository)
{
    const QSet<QString> both = repository.examplesToInstall & repository.examplesToRemove;
    repository.examplesToInstall -= both;
    repository.examplesToRemove -= both;
}

static Repository::Examples onlineExamples(const QString &repositoryName)
{
    const DownloadService *service = downloadService();
    return service ? service->examples(repositoryName) : Repository::Examples();
}

// What an installed example's item holds besides its text. Items that "Add..." appends hold none
// of it: their text is the path of the example queued for installation.
enum ItemRole {
    LocationRole = Qt::UserRole, // canonical path of the manifest's folder ("Open location...")
    ExampleRole,                 // folder of the installed example the manifest belongs to
    NestedRole,                  // the manifest lies deeper inside that example
    ModifiedRole,                // when the manifest was written
    UpdateRole,                  // a newer version of the example is online
    QueuedRole,                  // the newer version is installed on apply()
    ChangesRole,                 // the user's changes an update or removal would take away
                                 // (invalid while they are being looked for)
};

// The example folder that removing or updating the item acts on. A nested manifest's folder is
// part of its example, and its name may well be the name of another example.
static QString exampleOf(const QListWidgetItem *item)
{
    const QVariant example = item->data(ExampleRole);
    return example.isValid() ? example.toString() : item->text();
}

static bool isNested(const QListWidgetItem *item)
{
    return item->data(NestedRole).toBool();
}

static bool isUpdatable(const QListWidgetItem *item)
{
    return !item->isHidden() && !isNested(item) && item->data(UpdateRole).toBool()
        && !item->data(QueuedRole).toBool();
}

static void describe(QListWidgetItem *item)
{
    const QString location = QDir::toNativeSeparators(item->data(LocationRole).toString());
    const QString modified =
        item->data(ModifiedRole).toDateTime().toLocalTime().toString(Qt::TextDate);
    QString status = item->data(QueuedRole).toBool()   ? OptionsWidget::tr("Update on Apply")
                     : item->data(UpdateRole).toBool() ? OptionsWidget::tr("Update available")
                                                       : OptionsWidget::tr("Updated");
    const bool changed = !item->data(ChangesRole).toStringList().isEmpty();
    if (changed)
        status = OptionsWidget::tr("%1, changed locally").arg(status);
    QFont font = item->font();
    font.setItalic(changed);
    item->setFont(font);
    const QString example = item->data(ExampleRole).toString();
    if (!isNested(item) || example.isEmpty()) {
        item->setToolTip(OptionsWidget::tr(
            "<table><tbody>"
            "<tr><td style=\"width: 40%;\">Location:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
            "<tr><td style=\"width: 40%;\">Updated:&nbsp;</td><td style=\"width: 60%;\">%2</td></tr>"
            "<tr><td style=\"width: 40%;\">Status:&nbsp;</td><td style=\"width: 60%;\">%3</td></tr>"
            "</tbody></table>")
                .arg(location, modified, status));
        return;
    }
    item->setToolTip(OptionsWidget::tr(
        "<table><tbody>"
        "<tr><td style=\"width: 40%;\">Location:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
        "<tr><td style=\"width: 40%;\">Part of:&nbsp;</td><td style=\"width: 60%;\">%2</td></tr>"
        "<tr><td style=\"width: 40%;\">Updated:&nbsp;</td><td style=\"width: 60%;\">%3</td></tr>"
        "<tr><td style=\"width: 40%;\">Status:&nbsp;</td><td style=\"width: 60%;\">%4</td></tr>"
        "</tbody></table>")
            .arg(location, example, modified, status));
}

OptionsWidget::OptionsWidget()
    : m_ui(std::make_unique<Ui::OptionsWidget>())
{
    m_settings.load(Core::ICore::settings());

    m_ui->setupUi(this);
    m_ui->timeoutSpinBox->setValue(
        int(std::min<quint32>(m_settings.updatesCheckTimeoutDays, quint32(m_ui->timeoutSpinBox->maximum()))));
    m_ui->filterLineEdit->setFiltering(true);

    QStringList names = m_settings.repositories.keys();
    std::sort(names.begin(), names.end());
    for (const QString &name : std::as_const(names)) {
        // Its folder would lie outside the data location: the page neither lists nor touches it.
        if (!isSafeFolderName(name)) {
            qCDebug(pluginLog) << "Not showing a repository with an unusable folder name:" << name;
            continue;
        }
        m_ui->repositoryComboBox->addItem(name);
        const QString folder = QDir::toNativeSeparators(dataLocation().arg(name));
        const QString link = m_settings.repositories.value(name).url.toString();
        m_ui->repositoryComboBox->setItemData(
            m_ui->repositoryComboBox->count() - 1,
            tr("<table><tbody>"
               "<tr><td style=\"width: 40%;\">Folder:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
               "<tr><td style=\"width: 40%;\">Link:&nbsp;</td><td style=\"width: 60%;\">%2</td></tr>"
               "</tbody></table>")
                .arg(folder, link),
            Qt::ToolTipRole);
    }

    setupOpenLocationMenu(m_ui->examplesListWidget, &QUrl::fromLocalFile);

    connect(m_ui->repositoryComboBox, &QComboBox::currentTextChanged, this, &OptionsWidget::showExamples);
    connect(m_ui->filterLineEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        filterListWidget(m_ui->examplesListWidget, text);
        refreshUpdateButton();
    });
    connect(m_ui->examplesListWidget, &QListWidget::itemSelectionChanged,
            this, &OptionsWidget::refreshUpdateButton);
    connect(m_ui->addButton, &QPushButton::clicked, this, &OptionsWidget::addExamples);
    connect(m_ui->removeButton, &QPushButton::clicked, this, &OptionsWidget::removeExamples);
    connect(m_ui->updateButton, &QPushButton::clicked, this, &OptionsWidget::updateExamples);
    if (DownloadService *service = downloadService()) {
        connect(service, &DownloadService::updated, this, &OptionsWidget::scanInstalledExamples);
        connect(service, &DownloadService::changesKept, this, &OptionsWidget::showChangesKept);
    }

    scanInstalledExamples();
}

OptionsWidget::~OptionsWidget()
{
    if (m_checkCanceled)
        m_checkCanceled->store(true);
}

void OptionsWidget::scanInstalledExamples()
{
    bool changed = false;
    for (auto it = m_settings.repositories.begin(); it != m_settings.repositories.end(); ++it) {
        if (!isSafeFolderName(it.key()))
            continue;
        QList<QFileInfo> &manifests = it->installedManifests;
        const qsizetype before = manifests.size();
        manifests.clear();
        // Without QDir::Hidden hidden files are not listed and hidden folders not entered; without
        // FollowSymlinks linked folders are not entered either.
        QDirIterator walker(dataLocation().arg(it.key()), {QString::fromLatin1(manifestFileName)},
                            QDir::Files | QDir::Readable | QDir::CaseSensitive,
                            QDirIterator::Subdirectories);
        while (walker.hasNext()) {
            walker.next();
            manifests.append(walker.fileInfo());
        }
        if (manifests.size() != before)
            changed = true;
    }

    showExamples(m_ui->repositoryComboBox->currentText());

    if (changed)
        emit Core::HelpManager::Signals::instance()->documentationChanged();
}

void OptionsWidget::showExamples(const QString &name)
{
    m_ui->examplesListWidget->clear();

    const Repository::Examples online = onlineExamples(name);
    // Only read: showing a repository that is not configured (an empty combo box) must not add
    // an entry that apply() would then save.
    const auto repository = m_settings.repositories.constFind(name);
    if (repository == m_settings.repositories.cend()) {
        refreshUpdateButton();
        return;
    }

    const QDir repositoryFolder(dataLocation().arg(name));
    for (const QFileInfo &manifest : repository->installedManifests) {
        // Looked at afresh: the file may have been rewritten, or its folder removed, since the scan.
        const QFileInfo current(manifest.absoluteFilePath());
        const QDir folder = current.dir();
        const QDateTime modified = current.lastModified();
        // The scan walks the repository folder, so the manifest lies below it; one directly in
        // it belongs to no example.
        const QString relative = repositoryFolder.relativeFilePath(manifest.absolutePath());
        const QString example =
            relative == QLatin1String(".") ? QString() : relative.section(u'/', 0, 0);
        const bool nested = example != relative;

        const bool hasUpdate = std::any_of(online.cbegin(), online.cend(),
                                           [&](const Repository::ExamplePtr &candidate) {
            return candidate->json().value("path").toString() == example
                && modified.secsTo(candidate->lastActivity()) > 0;
        });

        auto item = new QListWidgetItem(folder.dirName());
        if (hasUpdate)
            item->setBackground(QBrush(QColor(0xe2, 0xb2, 0xb6)));
        item->setData(LocationRole, folder.canonicalPath());
        item->setData(ExampleRole, example);
        item->setData(NestedRole, nested);
        item->setData(ModifiedRole, modified);
        item->setData(UpdateRole, hasUpdate);
        item->setData(QueuedRole, hasUpdate && repository->examplesToInstall.contains(example));
        describe(item);
        m_ui->examplesListWidget->addItem(item);
    }
    refreshUpdateButton();
    checkLocalChanges(name);
}

void OptionsWidget::checkLocalChanges(const QString &repositoryName)
{
    // A newer list supersedes the check of the one before.
    if (m_checkCanceled)
        m_checkCanceled->store(true);
    m_checkCanceled = std::make_shared<std::atomic_bool>(false);

    QStringList examples;
    for (int row = 0; row < m_ui->examplesListWidget->count(); ++row) {
        const QListWidgetItem *item = m_ui->examplesListWidget->item(row);
        const QString example = item->data(ExampleRole).toString();
        if (!isNested(item) && !example.isEmpty())
            examples.append(example);
    }
    m_checking = !examples.isEmpty();
    if (examples.isEmpty())
        return;

    using Changes = QHash<QString, QStringList>;
    auto watcher = new QFutureWatcher<Changes>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, canceled = m_checkCanceled] {
                watcher->deleteLater();
                if (canceled->load())
                    return;
                m_checking = false;
                const Changes changes = watcher->result();
                for (int row = 0; row < m_ui->examplesListWidget->count(); ++row) {
                    QListWidgetItem *item = m_ui->examplesListWidget->item(row);
                    if (!item->data(ExampleRole).isValid())
                        continue;
                    item->setData(ChangesRole, changes.value(item->data(ExampleRole).toString()));
                    describe(item);
                }
            });
    const QString folder = dataLocation().arg(repositoryName);
    watcher->setFuture(QtConcurrent::run([folder, examples, canceled = m_checkCanceled] {
        Changes result;
        for (const QString &example : examples) {
            if (canceled->load())
                break;
            result.insert(example, findLocalChanges(folder + u'/' + example,
                                                    installationRecordFile(folder, example),
                                                    canceled.get())
                                       .all());
        }
        return result;
    }));
}

void OptionsWidget::showChangesKept(const QString &status)
{
    QStringList lines = m_ui->statusLabel->text().split(u'\n', Qt::SkipEmptyParts);
    if (!lines.contains(status))
        lines.append(status);
    m_ui->statusLabel->setText(lines.join(u'\n'));
    m_ui->statusLabel->setVisible(true);
}

bool OptionsWidget::confirmRemoval(const QList<QListWidgetItem *> &items)
{
    constexpr int shownPerExample = 5;
    QStringList losses;
    for (const QListWidgetItem *item : items) {
        if (isNested(item) || !item->data(ExampleRole).isValid())
            continue;
        // Not checked yet (the page has just been opened): looked at here, without reading the
        // files, which costs no more than deleting them will.
        const QVariant changes = item->data(ChangesRole);
        const QString repositoryFolder = dataLocation().arg(m_ui->repositoryComboBox->currentText());
        QStringList files =
            changes.isValid()
                ? changes.toStringList()
                : findLocalChanges(repositoryFolder + u'/' + exampleOf(item),
                                   installationRecordFile(repositoryFolder, exampleOf(item)),
                                   nullptr, CompareDepth::Metadata)
                      .all();
        if (files.isEmpty())
            continue;
        const qsizetype more = files.size() - shownPerExample;
        if (more > 0) {
            files = files.first(shownPerExample);
            files.append(tr("%n more file(s)", nullptr, int(more)));
        }
        losses.append(QStringLiteral("%1: %2").arg(exampleOf(item), files.join(QLatin1String(", "))));
    }
    if (losses.isEmpty())
        return true;

    QMessageBox box(QMessageBox::Warning, tr("Remove Changed Examples"),
                    tr("Removing deletes the changes you made in these examples:"),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("confirmRemovalBox"));
    box.setInformativeText(losses.join(u'\n'));
    box.button(QMessageBox::Yes)->setText(tr("Remove"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

void OptionsWidget::addExamples()
{
    const Repository::Examples examples = onlineExamples(m_ui->repositoryComboBox->currentText());
    if (examples.isEmpty()) {
        Core::AsynchronousMessageBox::warning(tr("Examples Not Found"),
                                              tr("Check your online connection and try again later!"));
        return;
    }

    ExamplesDialog dialog(examples, this);
    dialog.exec();
    const QSet<QString> selected = dialog.selectedExamples();
    if (selected.isEmpty())
        return;

    // Read after the dialog: the list may have been rebuilt while it was open.
    RepositorySettings &repository = m_settings.repositories[m_ui->repositoryComboBox->currentText()];
    for (const QString &path : selected) {
        // Installed or already queued, in any letter case: nothing to add. A folder inside another
        // example that bears the name is no installed copy of this one.
        const QList<QListWidgetItem *> listed =
            m_ui->examplesListWidget->findItems(path, Qt::MatchFixedString);
        if (std::any_of(listed.cbegin(), listed.cend(),
                        [](const QListWidgetItem *item) { return !isNested(item); })) {
            continue;
        }
        repository.examplesToInstall.insert(path);
        m_ui->examplesListWidget->addItem(path);
    }
    cancelPendingPairs(repository);
}

void OptionsWidget::removeExamples()
{
    QList<QListWidgetItem *> items = m_ui->examplesListWidget->selectedItems();
    // Items hidden by the filter keep their selection; only what the user can see is removed.
    items.removeIf([](const QListWidgetItem *item) { return item->isHidden(); });
    if (items.isEmpty()) {
        Core::AsynchronousMessageBox::information(
            tr("Examples Not Selected"),
            tr("Select examples to remove, press Remove button, then press Apply button to apply changes."));
        return;
    }

    // Changes of the user's go only when the user says so; Cancel leaves everything as it was.
    if (!confirmRemoval(items))
        return;

    // Only whole examples go: a nested item is removed with the example it is part of.
    QSet<QString> installed;
    QSet<QString> queued;
    for (const QListWidgetItem *item : std::as_const(items)) {
        if (!isNested(item))
            (item->data(ExampleRole).isValid() ? installed : queued).insert(exampleOf(item));
    }
    QStringList notRemoved;
    for (const QListWidgetItem *item : std::as_const(items)) {
        const QString example = item->data(ExampleRole).toString();
        if (!isNested(item) || installed.contains(example))
            continue;
        if (example.isEmpty()) {
            qCDebug(pluginLog) << "Not removing a manifest that belongs to no example:"
                               << item->data(LocationRole).toString();
            continue;
        }
        notRemoved.append(
            tr("\"%1\" is part of the example \"%2\" and is removed together with it.")
                .arg(item->text(), example));
    }

    RepositorySettings &repository = m_settings.repositories[m_ui->repositoryComboBox->currentText()];
    // An update queued for an installed example gives way to its removal; a queued installation
    // and its removal cancel out.
    repository.examplesToInstall -= installed;
    repository.examplesToRemove += installed;
    repository.examplesToRemove += queued;
    cancelPendingPairs(repository);

    for (int row = m_ui->examplesListWidget->count() - 1; row >= 0; --row) {
        QListWidgetItem *item = m_ui->examplesListWidget->item(row);
        const bool removed = isNested(item) ? installed.contains(item->data(ExampleRole).toString())
                                            : items.contains(item);
        if (removed)
            delete item;
    }
    refreshUpdateButton();

    if (!notRemoved.isEmpty())
        Core::AsynchronousMessageBox::information(tr("Examples Not Removed"),
                                                  notRemoved.join(u'\n'));
}

void OptionsWidget::updateExamples()
{
    QSet<QString> paths;
    const QList<QListWidgetItem *> items = m_ui->examplesListWidget->selectedItems();
    for (const QListWidgetItem *item : items) {
        if (isUpdatable(item))
            paths.insert(exampleOf(item));
    }
    if (paths.isEmpty())
        return;

    RepositorySettings &repository = m_settings.repositories[m_ui->repositoryComboBox->currentText()];
    // The later choice wins: updating an example whose removal is queued keeps it installed.
    repository.examplesToRemove -= paths;
    repository.examplesToInstall += paths;
    for (int row = 0; row < m_ui->examplesListWidget->count(); ++row) {
        QListWidgetItem *item = m_ui->examplesListWidget->item(row);
        if (item->data(UpdateRole).toBool() && paths.contains(exampleOf(item))) {
            item->setData(QueuedRole, true);
            describe(item);
        }
    }
    refreshUpdateButton();
}

void OptionsWidget::refreshUpdateButton()
{
    const QList<QListWidgetItem *> items = m_ui->examplesListWidget->selectedItems();
    m_ui->updateButton->setEnabled(std::any_of(items.cbegin(), items.cend(), isUpdatable));
}

void OptionsWidget::apply()
{
    DownloadService *service = downloadService();
    for (auto it = m_settings.repositories.begin(); it != m_settings.repositories.end(); ++it) {
        const QString &name = it.key();
        RepositorySettings &repository = it.value();
        qCDebug(pluginLog) << "Repository:" << name;
        qCDebug(pluginLog) << "Examples to install:" << repository.examplesToInstall;
        qCDebug(pluginLog) << "Examples to remove:" << repository.examplesToRemove;
        if (repository.examplesToInstall.isEmpty() && repository.examplesToRemove.isEmpty())
            continue;

        const QString repositoryFolder = dataLocation().arg(name) + QDir::separator();
        for (const QString &path : std::as_const(repository.examplesToRemove)) {
            // Only a folder directly inside the repository folder may go.
            if (!isSafeFolderName(path)) {
                qCDebug(pluginLog) << "Not removing an example outside its repository:" << path;
                continue;
            }
            const QString folder = repositoryFolder + path;
            // The example's own manifest and those of its nested folders.
            const QString inside = QDir::cleanPath(folder) + u'/';
            repository.installedManifests.removeIf([&inside](const QFileInfo &info) {
                return QDir::cleanPath(info.absoluteFilePath()).startsWith(inside);
            });
            removeFolder(folder);
            // The record of what was installed goes with the example.
            QFile::remove(installationRecordFile(dataLocation().arg(name), path));
            repository.removedExamples.insert(path);
        }
        for (const QString &path : std::as_const(repository.examplesToInstall))
            repository.removedExamples.remove(path);

        if (service)
            service->download(name, repository.examplesToInstall);
        emit Core::HelpManager::Signals::instance()->documentationChanged();

        // Carried out: a second apply() on this widget (Apply, then OK) must not repeat it.
        repository.examplesToInstall.clear();
        repository.examplesToRemove.clear();
    }

    m_settings.updatesCheckTimeoutDays = quint32(m_ui->timeoutSpinBox->value());
    // The page never changes the check dates, but the service may have stored one since the page
    // was opened: keep what is stored now rather than this copy's old dates.
    Settings stored;
    stored.load(Core::ICore::settings());
    m_settings.updatesCheckedDate = stored.updatesCheckedDate;
    m_settings.save(Core::ICore::settings());
}

} // namespace Tidepool::Internal
