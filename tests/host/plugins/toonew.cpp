#include "recordingplugin.h"

class ToonewPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "toonew.json")

public:
    ToonewPlugin() : RecordingPlugin(QStringLiteral("toonew")) {}
};

#include "toonew.moc"
