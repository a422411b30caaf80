#include <orvik/sdk.h>

#include <QtGlobal>

namespace Orvik {
namespace Sdk {

static QString fromEnvironment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QString osVariant(int textStyle)
{
    Q_UNUSED(textStyle)
    return fromEnvironment("ORVIK_SDK_OS_VARIANT", QStringLiteral("VeyraOS"));
}

ReleaseInfo releaseInfo()
{
    ReleaseInfo info;
    info.name = osVariant() + QStringLiteral(" SDK");
    info.version = QStringLiteral("5.0.0");
    info.sdkName = fromEnvironment("ORVIK_SDK_NAME", QStringLiteral("VeyraSDK"));
    info.build = QStringLiteral("5.0.0.1");
    return info;
}

} // namespace Sdk
} // namespace Orvik
