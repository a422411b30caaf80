import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ApplicationWindow {
    width: 400
    height: 320
    visible: true
    title: qsTr("Sensor Gauge")

    property real reading: 0.4

    Timer {
        interval: 800
        running: true
        repeat: true
        onTriggered: reading = Math.max(0, Math.min(1, reading + (Math.random() - 0.5) * 0.2))
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16

        Dial {
            Layout.fillWidth: true
            Layout.fillHeight: true
            value: reading
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("%1 %").arg(Math.round(reading * 100))
            font.pixelSize: 24
        }
    }
}
