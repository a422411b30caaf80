#pragma once

#include "plugin/settings.h"

#include <coreplugin/dialogs/ioptionspage.h>

#include <QList>
#include <QString>

class QListWidgetItem;

#include <atomic>
#include <memory>

namespace Tidepool::Internal {

namespace Ui { class OptionsWidget; }

// The options page's widget: shows the installed examples of the chosen repository, queues
// examples for installation, update and removal, and edits the update interval. It works on its
// own copy of the settings; nothing reaches the disk, the network or the stored settings before
// apply().
class OptionsWidget : public Core::IOptionsPageWidget
{
    Q_OBJECT

public:
    OptionsWidget();
    ~OptionsWidget() override;

    void apply() override;

    // Whether the listed examples are still being looked at for the user's changes.
    bool isCheckingLocalChanges() const { return m_checking; }

public slots:
    void scanInstalledExamples();
    void showExamples(const QString &name);

private:
    void addExamples();
    void removeExamples();
    void updateExamples();
    void refreshUpdateButton();
    // Looks for the user's changes in the listed examples on a worker thread and marks the items
    // when it is done.
    void checkLocalChanges(const QString &repositoryName);
    void showChangesKept(const QString &status);
    // Whether the user agrees to lose the changes in these examples (asked only when some hold
    // changes).
    bool confirmRemoval(const QList<QListWidgetItem *> &items);

    std::unique_ptr<Ui::OptionsWidget> m_ui;
    Settings m_settings;
    std::shared_ptr<std::atomic_bool> m_checkCanceled;
    bool m_checking = false;
};

} // namespace Tidepool::Internal
