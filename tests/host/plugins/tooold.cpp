#include "recordingplugin.h"

class ToooldPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "tooold.json")

public:
    ToooldPlugin() : RecordingPlugin(QStringLiteral("tooold")) {}
};

#include "tooold.moc"
