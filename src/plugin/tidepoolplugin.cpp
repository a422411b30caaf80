#include "tidepoolplugin.h"

#include "logging.h"
#include "tidepoolpluginprivate.h"

#include <coreplugin/icore.h>
#include <extensionsystem/pluginmanager.h>
#include <utils/filepath.h>
#include <utils/qtcsettings.h>

#include <QCoreApplication>
#include <QLocale>
#include <QSslSocket>
#include <QTranslator>

namespace Tidepool::Internal {

Plugin::Plugin() = default;

Plugin::~Plugin() = default;

bool Plugin::initialize(const QStringList &arguments, QString *errorString)
{
    Q_UNUSED(arguments)
    Q_UNUSED(errorString)

    if (QSslSocket::sslLibraryVersionNumber() != QSslSocket::sslLibraryBuildVersionNumber()) {
        qCDebug(pluginLog) << "SSL versions mismatch!\nCompiled version:\t"
                           << QSslSocket::sslLibraryBuildVersionString() << "\nSystem version:\t"
                           << QSslSocket::sslLibraryVersionString();
    }

    const QVariant language = ExtensionSystem::PluginManager::settings()->value(
        "General/OverrideLanguage");
    const QLocale locale = language.isValid() ? QLocale(language.toString()) : QLocale();

    const QString directory = Core::ICore::resourcePath("translations").toFSPathString();
    auto translator = new QTranslator(this);
    if (translator->load(locale, "Tidepool", "_", directory, {}))
        QCoreApplication::installTranslator(translator);
    else
        qCDebug(pluginLog) << "Failed to load translator:" << directory << "Tidepool";

    d = std::make_unique<TidepoolPluginPrivate>();
    return true;
}

} // namespace Tidepool::Internal
