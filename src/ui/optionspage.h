#pragma once

#include <coreplugin/dialogs/ioptionspage.h>
#include <utils/id.h>

#include <QObject>

#include <functional>

namespace Tidepool::Internal {

class OptionsWidget;

// The plugin's page in the host's options dialog, filed under the host's Help category. The host
// creates the page's widget through creator when the page is first shown.
class OptionsPage : public QObject, public Core::IOptionsPage
{
    Q_OBJECT

public:
    OptionsPage(const QString &displayName, Utils::Id id, std::function<OptionsWidget *()> creator);
};

} // namespace Tidepool::Internal
