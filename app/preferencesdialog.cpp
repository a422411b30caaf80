#include "preferencesdialog.h"

#include <coreplugin/dialogs/ioptionspage.h>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace Shell {

static const int pageRole = Qt::UserRole + 1;

PreferencesDialog::PreferencesDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Preferences"));
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_tree->setMinimumWidth(200);
    m_heading = new QLabel(this);
    QFont headingFont = m_heading->font();
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    m_stack = new QStackedWidget(this);
    m_buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);

    m_pages = Core::IOptionsPage::allOptionsPages();
    std::stable_sort(m_pages.begin(), m_pages.end(),
                     [](const Core::IOptionsPage *a, const Core::IOptionsPage *b) {
                         if (a->category() != b->category())
                             return a->category().toString() < b->category().toString();
                         return a->id().toString() < b->id().toString();
                     });
    QMap<QString, QTreeWidgetItem *> categories;
    for (int i = 0; i < m_pages.size(); ++i) {
        const Core::IOptionsPage *page = m_pages.at(i);
        const QString categoryId = page->category().toString();
        QTreeWidgetItem *&category = categories[categoryId];
        if (!category) {
            const QString name = page->displayCategory().isEmpty() ? categoryId
                                                                   : page->displayCategory();
            category = new QTreeWidgetItem(m_tree, {name});
            const QIcon icon(page->categoryIconPath().toFSPathString());
            if (!icon.isNull())
                category->setIcon(0, icon);
            category->setFlags(Qt::ItemIsEnabled);
            category->setExpanded(true);
        }
        auto item = new QTreeWidgetItem(category, {page->displayName()});
        item->setData(0, pageRole, i);
    }
    m_tree->expandAll();

    auto right = new QVBoxLayout;
    right->addWidget(m_heading);
    right->addWidget(m_stack, 1);
    auto body = new QHBoxLayout;
    body->addWidget(m_tree);
    body->addLayout(right, 1);
    auto layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(m_buttons);
    resize(900, 600);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, &PreferencesDialog::showItem);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked,
            this, &PreferencesDialog::apply);

    if (!m_pages.isEmpty()) {
        if (QTreeWidgetItem *first = m_tree->topLevelItem(0); first && first->childCount() > 0)
            m_tree->setCurrentItem(first->child(0));
    } else {
        m_heading->setText(tr("No preferences pages are registered."));
    }
}

PreferencesDialog::~PreferencesDialog()
{
    // Closing through the window manager or deleting the dialog unaccepted counts as Cancel.
    finishPages(false);
}

bool PreferencesDialog::showPage(Utils::Id pageId)
{
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        const QVariant index = (*it)->data(0, pageRole);
        if (index.isValid() && m_pages.at(index.toInt())->id() == pageId) {
            m_tree->setCurrentItem(*it);
            return true;
        }
    }
    return false;
}

Core::IOptionsPage *PreferencesDialog::currentPage() const
{
    const QTreeWidgetItem *item = m_tree->currentItem();
    const QVariant index = item ? item->data(0, pageRole) : QVariant();
    return index.isValid() ? m_pages.at(index.toInt()) : nullptr;
}

void PreferencesDialog::showItem(QTreeWidgetItem *item)
{
    const QVariant index = item ? item->data(0, pageRole) : QVariant();
    if (!index.isValid())
        return;
    Core::IOptionsPage *page = m_pages.at(index.toInt());
    m_heading->setText(page->displayName());
    QWidget *widget = page->widget();
    if (!widget)
        return;
    if (!m_visited.contains(page)) {
        m_visited.append(page);
        m_stack->addWidget(widget);
    }
    m_stack->setCurrentWidget(widget);
}

void PreferencesDialog::apply()
{
    for (Core::IOptionsPage *page : std::as_const(m_visited))
        page->apply();
}

void PreferencesDialog::finishPages(bool accepted)
{
    if (m_finished)
        return;
    m_finished = true;
    if (!accepted) {
        for (Core::IOptionsPage *page : std::as_const(m_visited))
            page->cancel();
    }
    // finish() deletes the page's widget; take it out of the stack first so that the dialog
    // never touches a deleted widget.
    for (Core::IOptionsPage *page : std::as_const(m_visited)) {
        if (QWidget *widget = page->widget(); widget && m_stack->indexOf(widget) >= 0) {
            m_stack->removeWidget(widget);
            widget->setParent(nullptr);
        }
        page->finish();
    }
    m_visited.clear();
}

void PreferencesDialog::done(int result)
{
    if (result == QDialog::Accepted)
        apply();
    finishPages(result == QDialog::Accepted);
    QDialog::done(result);
}

} // namespace Shell
