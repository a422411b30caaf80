#include "logging.h"

namespace Tidepool::Internal {

Q_LOGGING_CATEGORY(pluginLog, "zel.tidepool.plugin", QtWarningMsg)
Q_LOGGING_CATEGORY(apiLog, "zel.tidepool.plugin.api", QtWarningMsg)
Q_LOGGING_CATEGORY(archiveLog, "zel.tidepool.plugin.archive", QtWarningMsg)
Q_LOGGING_CATEGORY(serviceLog, "zel.tidepool.plugin.service", QtWarningMsg)

} // namespace Tidepool::Internal
