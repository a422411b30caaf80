#include <extensionsystem/pluginspec.h>

#include "pluginspec_p.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QRegularExpression>

namespace ExtensionSystem {

namespace Internal {

static QString tr(const char *text)
{
    return QCoreApplication::translate("ExtensionSystem::PluginManager", text);
}

static QString stringOrJoinedArray(const QJsonValue &value)
{
    if (value.isArray()) {
        QStringList lines;
        const QJsonArray array = value.toArray();
        for (const QJsonValue &line : array)
            lines.append(line.toString());
        return lines.join(QLatin1Char('\n'));
    }
    return value.toString();
}

bool readPluginMetaData(PluginSpecPrivate *p, const QJsonObject &metaData, QString *error)
{
    const auto fail = [error](const QString &reason) {
        *error = reason;
        return false;
    };

    p->metaData = metaData;

    const QJsonValue name = metaData.value(QLatin1String("Name"));
    const QJsonValue id = metaData.value(QLatin1String("Id"));
    if (!id.isUndefined() && !id.isString())
        return fail(tr("\"Id\" is not a string."));
    if (!name.isUndefined() && !name.isString())
        return fail(tr("\"Name\" is not a string."));
    p->id = id.toString();
    p->name = name.toString();
    if (p->id.isEmpty())
        p->id = p->name.toLower();
    if (p->id.isEmpty())
        return fail(tr("\"Id\" is missing."));
    if (p->id != p->id.toLower())
        return fail(tr("\"Id\" \"%1\" is not lowercase.").arg(p->id));
    if (p->name.isEmpty())
        p->name = p->id;
    p->displayName = metaData.value(QLatin1String("DisplayName")).toString();

    const QJsonValue version = metaData.value(QLatin1String("Version"));
    if (!version.isString() || !PluginSpec::isValidVersion(version.toString()))
        return fail(tr("\"Version\" is missing or not a version."));
    p->version = version.toString();

    const QJsonValue compatVersion = metaData.value(QLatin1String("CompatVersion"));
    if (compatVersion.isUndefined()) {
        p->compatVersion = p->version;
    } else if (!compatVersion.isString() || !PluginSpec::isValidVersion(compatVersion.toString())) {
        return fail(tr("\"CompatVersion\" is not a version."));
    } else {
        p->compatVersion = compatVersion.toString();
    }
    if (PluginSpec::versionCompare(p->compatVersion, p->version) > 0)
        return fail(tr("\"CompatVersion\" is newer than \"Version\"."));

    p->vendor = metaData.value(QLatin1String("Vendor")).toString();
    if (p->vendor.isEmpty())
        p->vendor = metaData.value(QLatin1String("VendorId")).toString();
    p->description = stringOrJoinedArray(metaData.value(QLatin1String("Description")));

    const QJsonValue dependencies = metaData.value(QLatin1String("Dependencies"));
    if (!dependencies.isUndefined() && !dependencies.isArray())
        return fail(tr("\"Dependencies\" is not an array."));
    const QJsonArray dependencyArray = dependencies.toArray();
    for (const QJsonValue &value : dependencyArray) {
        if (!value.isObject())
            return fail(tr("A dependency is not an object."));
        const QJsonObject object = value.toObject();
        PluginDependency dependency;
        // Older metadata names the dependency with "Name".
        dependency.id = object.value(QLatin1String("Id")).toString(
            object.value(QLatin1String("Name")).toString().toLower());
        dependency.version = object.value(QLatin1String("Version")).toString();
        if (dependency.id.isEmpty())
            return fail(tr("A dependency has no \"Id\"."));
        if (!PluginSpec::isValidVersion(dependency.version)) {
            return fail(tr("The dependency \"%1\" has no valid \"Version\".")
                            .arg(dependency.id));
        }
        const QString type = object.value(QLatin1String("Type")).toString(QStringLiteral("required"));
        if (type == QLatin1String("required")) {
            dependency.type = PluginDependency::Required;
        } else if (type == QLatin1String("optional")) {
            dependency.type = PluginDependency::Optional;
        } else if (type == QLatin1String("test")) {
            dependency.type = PluginDependency::Test;
        } else {
            return fail(tr("The dependency \"%1\" has an unknown \"Type\" \"%2\".")
                            .arg(dependency.id, type));
        }
        p->dependencies.append(dependency);
    }
    return true;
}

} // namespace Internal

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
