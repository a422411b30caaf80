#include "recordingplugin.h"

class UnmetPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "unmet.json")

public:
    UnmetPlugin() : RecordingPlugin(QStringLiteral("unmet")) {}
};

#include "unmet.moc"
