#include <extensionsystem/pluginspec.h>

#include "pluginspec_p.h"

#include <QRegularExpression>

namespace ExtensionSystem {

static const QRegularExpression &versionRegExp()
{
    static const QRegularExpression re(
        QStringLiteral("^([0-9]+)(?:[.]([0-9]+))?(?:[.]([0-9]+))?(?:_([0-9]+))?$"));
    return re;
}

QString PluginDependency::toString() const
{
    QString text = id + QLatin1Char('(') + version + QLatin1Char(')');
    if (type == Optional)
        text += QLatin1String(", optional");
    else if (type == Test)
        text += QLatin1String(", test");
    return text;
}

PluginSpec::PluginSpec()
    : d(new Internal::PluginSpecPrivate)
{}

PluginSpec::~PluginSpec()
{
    delete d;
}

QString PluginSpec::id() const { return d->id; }
QString PluginSpec::name() const { return d->name; }
QString PluginSpec::displayName() const { return d->displayName.isEmpty() ? d->name : d->displayName; }
QString PluginSpec::version() const { return d->version; }
QString PluginSpec::compatVersion() const { return d->compatVersion; }
QString PluginSpec::vendor() const { return d->vendor; }
QString PluginSpec::description() const { return d->description; }
QString PluginSpec::filePath() const { return d->filePath; }
QJsonObject PluginSpec::metaData() const { return d->metaData; }
QList<PluginDependency> PluginSpec::dependencies() const { return d->dependencies; }
PluginSpec::State PluginSpec::state() const { return d->state; }
bool PluginSpec::hasError() const { return !d->errorString.isEmpty(); }
QString PluginSpec::errorString() const { return d->errorString; }
IPlugin *PluginSpec::plugin() const { return d->plugin; }

bool PluginSpec::provides(const QString &pluginId, const QString &version) const
{
    if (pluginId.compare(d->id, Qt::CaseInsensitive) != 0)
        return false;
    return versionCompare(d->version, version) >= 0
           && versionCompare(d->compatVersion, version) <= 0;
}

bool PluginSpec::isValidVersion(const QString &version)
{
    return versionRegExp().match(version).hasMatch();
}

int PluginSpec::versionCompare(const QString &version1, const QString &version2)
{
    const QRegularExpressionMatch match1 = versionRegExp().match(version1);
    const QRegularExpressionMatch match2 = versionRegExp().match(version2);
    if (!match1.hasMatch())
        return match2.hasMatch() ? -1 : 0;
    if (!match2.hasMatch())
        return 1;
    for (int i = 1; i <= 4; ++i) {
        const int number1 = match1.captured(i).toInt();
        const int number2 = match2.captured(i).toInt();
        if (number1 != number2)
            return number1 < number2 ? -1 : 1;
    }
    return 0;
}

} // namespace ExtensionSystem
