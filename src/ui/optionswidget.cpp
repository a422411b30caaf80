#include "optionswidget.h"
#include "ui_optionswidget.h"

#include "examplesdialog.h"
#include "listfilter.h"
#include "plugin/logging.h"
#include "plugin/openlocationmenu.h"
#include "plugin/tidepoolpluginprivate.h"
#include "service/downloadservice.h"
#include "service/folderremoval.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <coreplugin/messagebox.h>

#include <QBrush>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QJsonObject>
#include <QListWidgetItem>

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
    });
    connect(m_ui->addButton, &QPushButton::clicked, this, &OptionsWidget::addExamples);
    connect(m_ui->removeButton, &QPushButton::clicked, this, &OptionsWidget::removeExamples);
    if (DownloadService *service = downloadService())
        connect(service, &DownloadService::updated, this, &OptionsWidget::scanInstalledExamples);

    scanInstalledExamples();
}

OptionsWidget::~OptionsWidget() = default;

void OptionsWidget::scanInstalledExamples()
{
    bool changed = false;
    for (auto it = m_settings.repositories.begin(); it != m_settings.repositories.end(); ++it) {
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
    if (repository == m_settings.repositories.cend())
        return;

    for (const QFileInfo &manifest : repository->installedManifests) {
        // Looked at afresh: the file may have been rewritten, or its folder removed, since the scan.
        const QFileInfo current(manifest.absoluteFilePath());
        const QDir folder = current.dir();
        const QString path = folder.dirName();
        const QString canonicalPath = folder.canonicalPath();
        const QDateTime modified = current.lastModified();

        const bool hasUpdate = std::any_of(online.cbegin(), online.cend(),
                                           [&](const Repository::ExamplePtr &example) {
            return example->json().value("path").toString() == path
                && modified.secsTo(example->lastActivity()) > 0;
        });

        auto item = new QListWidgetItem(path);
        if (hasUpdate)
            item->setBackground(QBrush(QColor(0xe2, 0xb2, 0xb6)));
        const QString status = hasUpdate ? tr("Update available") : tr("Updated");
        item->setToolTip(
            tr("<table><tbody>"
               "<tr><td style=\"width: 40%;\">Location:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
               "<tr><td style=\"width: 40%;\">Updated:&nbsp;</td><td style=\"width: 60%;\">%2</td></tr>"
               "<tr><td style=\"width: 40%;\">Status:&nbsp;</td><td style=\"width: 60%;\">%3</td></tr>"
               "</tbody></table>")
                .arg(QDir::toNativeSeparators(canonicalPath),
                     modified.toLocalTime().toString(Qt::TextDate), status));
        item->setData(Qt::UserRole, canonicalPath);
        m_ui->examplesListWidget->addItem(item);
    }
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
        // Installed or already queued, in any letter case: nothing to add.
        if (!m_ui->examplesListWidget->findItems(path, Qt::MatchFixedString).isEmpty())
            continue;
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

    RepositorySettings &repository = m_settings.repositories[m_ui->repositoryComboBox->currentText()];
    for (QListWidgetItem *item : std::as_const(items)) {
        repository.examplesToRemove.insert(item->text());
        delete item;
    }
    cancelPendingPairs(repository);
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
            const QString manifest = QDir::cleanPath(folder + QDir::separator() + manifestFileName);
            repository.installedManifests.removeIf([&manifest](const QFileInfo &info) {
                return QDir::cleanPath(info.absoluteFilePath()) == manifest;
            });
            removeFolder(folder);
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
