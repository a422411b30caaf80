#include "recordingplugin.h"

class ChainedPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "chained.json")

public:
    ChainedPlugin() : RecordingPlugin(QStringLiteral("chained")) {}
};

#include "chained.moc"
