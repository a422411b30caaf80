#include "recordingplugin.h"

class WrongiidPlugin final : public RecordingPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.SomethingElse" FILE "wrongiid.json")

public:
    WrongiidPlugin() : RecordingPlugin(QStringLiteral("wrongiid")) {}
};

#include "wrongiid.moc"
