#include "recordingplugin.h"

class BrokenmetaPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "brokenmeta.json")

public:
    BrokenmetaPlugin() : RecordingPlugin(QStringLiteral("brokenmeta")) {}
};

#include "brokenmeta.moc"
