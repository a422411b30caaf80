#include "recordingplugin.h"

class AlphaPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "alpha.json")

public:
    AlphaPlugin() : RecordingPlugin(QStringLiteral("alpha")) {}
};

#include "alpha.moc"
