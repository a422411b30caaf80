#include "recordingplugin.h"

class BetaPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "beta.json")

public:
    BetaPlugin() : RecordingPlugin(QStringLiteral("beta")) {}
};

#include "beta.moc"
