#include "welcomeexamplesview.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/icore.h>
#include <utils/fancylineedit.h>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

namespace Shell {

static const char installedExamplesKey[] = "Help/InstalledExamples";
static const char selectedSetKey[] = "WelcomePage/SelectedExampleSet";
static const int thumbnailSize = 128;

WelcomeExamplesView::WelcomeExamplesView(QWidget *parent)
    : QWidget(parent)
{
    m_setCombo = new QComboBox(this);
    m_setCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_setCombo->setAccessibleName(tr("Example set"));
    m_filter = new Utils::FancyLineEdit(this);
    m_filter->setFiltering(true);
    m_filter->setPlaceholderText(tr("Search in Examples..."));

    m_list = new QListWidget(this);
    m_list->setViewMode(QListView::IconMode);
    m_list->setIconSize(QSize(thumbnailSize, thumbnailSize));
    m_list->setGridSize(QSize(thumbnailSize + 56, thumbnailSize + 48));
    m_list->setResizeMode(QListView::Adjust);
    m_list->setMovement(QListView::Static);
    m_list->setWordWrap(true);
    m_list->setUniformItemSizes(true);

    m_image = new QLabel(this);
    m_image->setFixedSize(thumbnailSize, thumbnailSize);
    m_image->setAlignment(Qt::AlignCenter);
    m_title = new QLabel(this);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    m_title->setFont(titleFont);
    m_title->setWordWrap(true);
    m_description = new QLabel(this);
    m_description->setWordWrap(true);
    m_description->setTextFormat(Qt::PlainText);
    m_tags = new QLabel(this);
    m_tags->setWordWrap(true);
    m_project = new QLabel(this);
    m_project->setWordWrap(true);
    m_project->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_files = new QLabel(this);
    m_files->setWordWrap(true);
    m_files->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problems = new QLabel(this);
    m_problems->setWordWrap(true);
    m_openButton = new QPushButton(tr("Open Example"), this);
    m_openButton->setEnabled(false);

    auto details = new QWidget(this);
    auto form = new QFormLayout;
    form->addRow(tr("Tags:"), m_tags);
    form->addRow(tr("Project:"), m_project);
    form->addRow(tr("Files to open:"), m_files);
    auto detailsLayout = new QVBoxLayout(details);
    detailsLayout->addWidget(m_image, 0, Qt::AlignHCenter);
    detailsLayout->addWidget(m_title);
    detailsLayout->addWidget(m_description);
    detailsLayout->addLayout(form);
    detailsLayout->addWidget(m_openButton, 0, Qt::AlignLeft);
    detailsLayout->addStretch();
    detailsLayout->addWidget(m_problems);
    details->setMinimumWidth(260);

    auto splitter = new QSplitter(this);
    splitter->addWidget(m_list);
    splitter->addWidget(details);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);

    auto top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Examples:"), this));
    top->addWidget(m_setCombo);
    top->addWidget(m_filter, 1);
    auto layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);

    connect(m_setCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (Utils::QtcSettings *settings = Core::ICore::settings())
            settings->setValue(selectedSetKey, currentSetName());
        rescan();
    });
    connect(m_filter, &Utils::FancyLineEdit::filterChanged, this, &WelcomeExamplesView::updateList);
    connect(m_list, &QListWidget::currentItemChanged, this, &WelcomeExamplesView::showDetails);
    connect(m_list, &QListWidget::itemActivated, this, &WelcomeExamplesView::openCurrent);
    connect(m_openButton, &QPushButton::clicked, this, &WelcomeExamplesView::openCurrent);

    Core::HelpManager::Signals *help = Core::HelpManager::Signals::instance();
    connect(help, &Core::HelpManager::Signals::setupFinished, this, &WelcomeExamplesView::reloadSets);
    connect(help, &Core::HelpManager::Signals::documentationChanged, this, &WelcomeExamplesView::rescan);

    reloadSets();
}

QString WelcomeExamplesView::currentSetName() const
{
    const int index = m_setCombo->currentIndex();
    return index >= 0 && index < m_sets.size() ? m_sets.at(index).displayName : QString();
}

bool WelcomeExamplesView::selectSet(const QString &displayName)
{
    const int index = m_setCombo->findText(displayName);
    if (index < 0)
        return false;
    m_setCombo->setCurrentIndex(index);
    return true;
}

void WelcomeExamplesView::reloadSets()
{
    Utils::QtcSettings *settings = Core::ICore::settings();
    const QStringList entries = settings ? settings->value(installedExamplesKey).toStringList()
                                         : QStringList();
    QString wanted = currentSetName();
    if (wanted.isEmpty() && settings)
        wanted = settings->value(selectedSetKey).toString();

    m_sets = ExampleCatalog::parseSets(entries);
    {
        const QSignalBlocker blocker(m_setCombo);
        m_setCombo->clear();
        for (const ExampleSet &set : std::as_const(m_sets)) {
            m_setCombo->addItem(set.displayName);
            m_setCombo->setItemData(m_setCombo->count() - 1,
                                    QDir::toNativeSeparators(set.manifestPath), Qt::ToolTipRole);
        }
        const int index = m_setCombo->findText(wanted);
        m_setCombo->setCurrentIndex(index >= 0 ? index : (m_sets.isEmpty() ? -1 : 0));
    }
    rescan();
}

void WelcomeExamplesView::rescan()
{
    const int index = m_setCombo->currentIndex();
    m_items.clear();
    m_scanErrors.clear();
    if (index >= 0 && index < m_sets.size())
        m_items = ExampleCatalog::scan(m_sets.at(index), &m_scanErrors);
    updateList();
}

void WelcomeExamplesView::setFilter(const QString &text)
{
    m_filter->setText(text);
    updateList();
}

QList<ExampleItem> WelcomeExamplesView::shownExamples() const
{
    QList<ExampleItem> shown;
    for (int row = 0; row < m_list->count(); ++row) {
        const QListWidgetItem *listItem = m_list->item(row);
        if (!listItem->isHidden())
            shown.append(m_items.at(listItem->data(Qt::UserRole).toInt()));
    }
    return shown;
}

QPixmap WelcomeExamplesView::thumbnail(const QString &imageUrl, const QString &name, int size)
{
    QPixmap pixmap;
    if (!pixmap.load(imageUrl)) {
        // Like the IDE: a bare name is looked for among the Welcome screen's own images.
        pixmap.load(Core::ICore::resourcePath("welcomescreen/widgets/" + imageUrl).toFSPathString());
    }
    if (!pixmap.isNull())
        return pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    QPixmap placeholder(size, size);
    placeholder.fill(QColor(0xe8, 0xec, 0xef));
    QPainter painter(&placeholder);
    QFont font = painter.font();
    font.setPixelSize(size / 2);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x7a, 0x86, 0x90));
    painter.drawText(placeholder.rect(), Qt::AlignCenter, name.left(1).toUpper());
    return placeholder;
}

static bool matchesFilter(const ExampleItem &item, const QString &filter)
{
    if (filter.isEmpty())
        return true;
    const QStringList words = filter.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        const bool found = item.name.contains(word, Qt::CaseInsensitive)
                           || item.description.contains(word, Qt::CaseInsensitive)
                           || item.tags.filter(word, Qt::CaseInsensitive).size() > 0;
        if (!found)
            return false;
    }
    return true;
}

void WelcomeExamplesView::updateList()
{
    const QString previous = currentItem() ? currentItem()->manifestFile + currentItem()->name
                                           : QString();
    const QString filter = m_filter->text().trimmed();
    m_list->clear();
    int hidden = 0;
    for (int i = 0; i < m_items.size(); ++i) {
        const ExampleItem &item = m_items.at(i);
        if (!item.isVisible()) {
            ++hidden;
            continue;
        }
        auto listItem = new QListWidgetItem(QIcon(thumbnail(item.imageUrl, item.name, thumbnailSize)),
                                            item.name, m_list);
        listItem->setData(Qt::UserRole, i);
        listItem->setToolTip(item.description);
        listItem->setHidden(!matchesFilter(item, filter));
        if (item.manifestFile + item.name == previous)
            m_list->setCurrentItem(listItem);
    }
    if (!m_list->currentItem()) {
        for (int row = 0; row < m_list->count(); ++row) {
            if (!m_list->item(row)->isHidden()) {
                m_list->setCurrentRow(row);
                break;
            }
        }
    }

    QStringList problems = m_scanErrors;
    if (hidden > 0)
        problems.append(tr("%n example(s) hidden: project file or image missing.", nullptr, hidden));
    if (m_sets.isEmpty())
        problems.append(tr("No example sets are registered."));
    m_problems->setText(problems.join(QLatin1Char('\n')));
    showDetails();
}

const ExampleItem *WelcomeExamplesView::currentItem() const
{
    const QListWidgetItem *listItem = m_list->currentItem();
    if (!listItem || listItem->isHidden())
        return nullptr;
    const int index = listItem->data(Qt::UserRole).toInt();
    return index >= 0 && index < m_items.size() ? &m_items.at(index) : nullptr;
}

void WelcomeExamplesView::showDetails()
{
    const ExampleItem *item = currentItem();
    m_openButton->setEnabled(item);
    if (!item) {
        m_image->clear();
        for (QLabel *label : {m_title, m_description, m_tags, m_project, m_files})
            label->clear();
        return;
    }
    m_image->setPixmap(thumbnail(item->imageUrl, item->name, thumbnailSize));
    m_title->setText(item->name);
    m_description->setText(item->description);
    m_tags->setText(item->tags.join(QLatin1String(", ")));
    m_project->setText(QDir::toNativeSeparators(item->projectPath));
    QStringList files;
    for (const QString &file : item->filesToOpen)
        files.append(QDir::toNativeSeparators(file));
    m_files->setText(files.join(QLatin1Char('\n')));
}

void WelcomeExamplesView::openCurrent()
{
    if (const ExampleItem *item = currentItem())
        emit exampleOpened(*item);
}

} // namespace Shell
