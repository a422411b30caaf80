#pragma once

#include <QLoggingCategory>

namespace Tidepool::Internal {

// All of the plugin's messages are debug messages; the categories start at the warning threshold,
// so they appear only when the user's logging rules switch them on.
Q_DECLARE_LOGGING_CATEGORY(pluginLog)  // start-up, settings, data location, "Open location...", Apply
Q_DECLARE_LOGGING_CATEGORY(apiLog)     // the REST client
Q_DECLARE_LOGGING_CATEGORY(archiveLog) // output of the unpack tool
Q_DECLARE_LOGGING_CATEGORY(serviceLog) // the download service and the manifest writer

} // namespace Tidepool::Internal
