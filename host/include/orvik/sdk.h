#pragma once

#include <QString>

#if defined(QTCHOST_LIBRARY)
#  define ORVIK_EXPORT Q_DECL_EXPORT
#else
#  define ORVIK_EXPORT Q_DECL_IMPORT
#endif

namespace Orvik {
namespace Sdk {

struct ReleaseInfo
{
    QString name;
    QString version;
    QString sdkName; // folder name of the SDK installation
    QString build;
};

// The operating system's display name. The environment variable ORVIK_SDK_OS_VARIANT overrides it.
ORVIK_EXPORT QString osVariant(int textStyle = 0);

// The SDK release. ORVIK_SDK_NAME overrides sdkName.
ORVIK_EXPORT ReleaseInfo releaseInfo();

} // namespace Sdk
} // namespace Orvik
