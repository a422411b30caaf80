#include "optionspage.h"

#include "optionswidget.h"

namespace Tidepool::Internal {

OptionsPage::OptionsPage(const QString &displayName, Utils::Id id,
                         std::function<OptionsWidget *()> creator)
    : QObject(nullptr)
    , Core::IOptionsPage(true)
{
    setId(id);
    setDisplayName(displayName);
    setCategory(Utils::Id("H.Help"));
    setWidgetCreator([creator = std::move(creator)]() -> QWidget * { return creator(); });
}

} // namespace Tidepool::Internal
