import QtQuick
import QtQuick.Controls
import QtQuick.Shapes

ApplicationWindow {
    id: window
    width: 360
    height: 360
    visible: true
    title: qsTr("Analog Clock")

    property date now: new Date()

    Timer {
        interval: 1000
        running: true
        repeat: true
        onTriggered: window.now = new Date()
    }

    Rectangle {
        id: face
        anchors.centerIn: parent
        width: Math.min(parent.width, parent.height) * 0.9
        height: width
        radius: width / 2
        color: "#eaf3ff"
        border.color: "#143c78"
        border.width: width * 0.03

        Repeater {
            model: 12
            Rectangle {
                required property int index
                width: face.width * 0.015
                height: face.height * 0.06
                color: "#143c78"
                x: face.width / 2 - width / 2
                y: face.height * 0.05
                transform: Rotation {
                    origin.x: width / 2
                    origin.y: face.height / 2 - face.height * 0.05
                    angle: index * 30
                }
            }
        }

        component Hand: Shape {
            id: hand
            property real length
            property real thickness
            property real angle
            anchors.fill: parent
            rotation: angle
            ShapePath {
                strokeColor: "#1e1e28"
                strokeWidth: hand.thickness
                capStyle: ShapePath.RoundCap
                startX: face.width / 2
                startY: face.height / 2
                PathLine { x: face.width / 2; y: face.height / 2 - hand.length }
            }
        }

        Hand {
            length: face.height * 0.25
            thickness: face.width * 0.035
            angle: (window.now.getHours() % 12 + window.now.getMinutes() / 60) * 30
        }
        Hand {
            length: face.height * 0.38
            thickness: face.width * 0.02
            angle: window.now.getMinutes() * 6
        }
    }
}
