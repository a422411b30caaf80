#pragma once

#include <utils/id.h>

#include <QDialog>
#include <QList>
#include <QSet>

QT_BEGIN_NAMESPACE
class QDialogButtonBox;
class QLabel;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
QT_END_NAMESPACE

namespace Core { class IOptionsPage; }

namespace Shell {

// Edit > Preferences: every registered options page, grouped by category. Page widgets are
// created when a page is first shown. OK and Apply apply every page shown so far; Cancel cancels
// them; when the dialog closes each of those pages is finished, which destroys its widget.
class PreferencesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PreferencesDialog(QWidget *parent = nullptr);
    ~PreferencesDialog() override;

    bool showPage(Utils::Id pageId);
    Core::IOptionsPage *currentPage() const;
    void apply();

    void done(int result) override;

private:
    void showItem(QTreeWidgetItem *item);
    void finishPages(bool accepted);

    QTreeWidget *m_tree = nullptr;
    QLabel *m_heading = nullptr;
    QStackedWidget *m_stack = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
    QList<Core::IOptionsPage *> m_pages;
    QList<Core::IOptionsPage *> m_visited;   // pages whose widget was created, in order
    bool m_finished = false;
};

} // namespace Shell
