#include <extensionsystem/iplugin.h>

#include <cstdlib>

namespace UnmetDependency {

// Never initialized: its dependency does not exist. If the plugin manager let it through anyway,
// the shell would exit with this code instead of reporting the refusal.
class BadPlugin final : public ExtensionSystem::IPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "BadPlugin.json")

public:
    bool initialize(const QStringList &, QString *) final
    {
        std::_Exit(42);
    }
};

} // namespace UnmetDependency

#include "badplugin.moc"
