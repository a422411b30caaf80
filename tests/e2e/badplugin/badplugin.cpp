#include <extensionsystem/iplugin.h>

#include <cstdlib>

// Its dependency does not exist, so it is never initialized; if it were, the shell would exit
// with 42 instead of reporting the refusal.
class BadPlugin final : public ExtensionSystem::IPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "BadPlugin.json")

public:
    bool initialize(const QStringList &, QString *) final { std::_Exit(42); }
};

#include "badplugin.moc"
