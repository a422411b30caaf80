#include <coreplugin/helpmanager.h>

#include <coreplugin/icore.h>

#include <QDir>
#include <QLoggingCategory>
#include <QSet>

Q_LOGGING_CATEGORY(helpLog, "qtc.host.help", QtWarningMsg)

namespace Core {
namespace HelpManager {

Signals *Signals::instance()
{
    static Signals *theInstance = new Signals;
    return theInstance;
}

// The stand-in has no help engine; it keeps the set of registered files so that it can tell, as
// the help plugin does, whether a registration changed anything.
static QSet<QString> &registeredDocumentation()
{
    static QSet<QString> files;
    return files;
}

QString documentationPath()
{
    return QDir::cleanPath(ICore::resourcePath(QStringLiteral("../doc/qtcreator")).toFSPathString());
}

void registerDocumentation(const QStringList &fileNames)
{
    bool changed = false;
    for (const QString &file : fileNames) {
        if (!registeredDocumentation().contains(file)) {
            registeredDocumentation().insert(file);
            changed = true;
        }
    }
    if (changed)
        emit Signals::instance()->documentationChanged();
}

void unregisterDocumentation(const QStringList &fileNames)
{
    bool changed = false;
    for (const QString &file : fileNames)
        changed |= registeredDocumentation().remove(file);
    if (changed)
        emit Signals::instance()->documentationChanged();
}

void showHelpUrl(const QUrl &url, HelpViewerLocation location)
{
    qCDebug(helpLog) << "Help requested:" << url << location;
}

void showHelpUrl(const QString &url, HelpViewerLocation location)
{
    showHelpUrl(QUrl(url), location);
}

} // namespace HelpManager
} // namespace Core
