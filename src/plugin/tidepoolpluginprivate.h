#pragma once

#include <QObject>

namespace Tidepool::Internal {

class DownloadService;

// Does the plugin's start-up work: refreshes the host's registration of installed examples,
// registers the options page and creates the process's download service.
class TidepoolPluginPrivate : public QObject
{
    Q_OBJECT

public:
    TidepoolPluginPrivate();
};

// The process-wide download service, or null before the plugin has started.
DownloadService *downloadService();

} // namespace Tidepool::Internal
