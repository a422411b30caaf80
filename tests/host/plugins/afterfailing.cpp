#include "recordingplugin.h"

class AfterfailingPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "afterfailing.json")

public:
    AfterfailingPlugin() : RecordingPlugin(QStringLiteral("afterfailing")) {}
};

#include "afterfailing.moc"
