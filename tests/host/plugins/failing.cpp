#include "recordingplugin.h"

class FailingPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "failing.json")

public:
    FailingPlugin() : RecordingPlugin(QStringLiteral("failing")) {}
};

#include "failing.moc"
