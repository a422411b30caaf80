#pragma once

#include "plugin/settings.h"

#include <coreplugin/dialogs/ioptionspage.h>

#include <QString>

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

public slots:
    void scanInstalledExamples();
    void showExamples(const QString &name);

private:
    void addExamples();
    void removeExamples();
    void updateExamples();
    void refreshUpdateButton();

    std::unique_ptr<Ui::OptionsWidget> m_ui;
    Settings m_settings;
};

} // namespace Tidepool::Internal
