#include "tidepoolpluginprivate.h"

#include "settings.h"
#include "service/downloadservice.h"
#include "ui/optionspage.h"
#include "ui/optionswidget.h"

#include <coreplugin/icore.h>
#include <orvik/sdk.h>

#include <QCoreApplication>

#include <memory>

namespace Tidepool::Internal {

namespace {

// The one download service of the process; it lives until the library's static objects go.
std::unique_ptr<DownloadService> &serviceSlot()
{
    static std::unique_ptr<DownloadService> service;
    return service;
}

} // namespace

TidepoolPluginPrivate::TidepoolPluginPrivate()
{
    registerInstalledExamples(Core::ICore::settings(QSettings::UserScope));

    // Registered with the host on construction; the host keeps it.
    new OptionsPage(Orvik::Sdk::osVariant(0) + u' '
                        + QCoreApplication::translate("Tidepool::Internal::TidepoolPlugin", "Examples"),
                    "Zel.Tidepool.Plugin.Settings.Page",
                    [] { return new OptionsWidget; });

    // The previous instance, if any, goes only once the new one is in place.
    std::unique_ptr<DownloadService> previous = std::exchange(serviceSlot(),
                                                              std::make_unique<DownloadService>());
}

DownloadService *downloadService()
{
    return serviceSlot().get();
}

} // namespace Tidepool::Internal
