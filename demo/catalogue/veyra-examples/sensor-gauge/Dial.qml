import QtQuick

// A half-circle scale with a needle; value runs from 0 to 1.
Item {
    id: dial
    property real value: 0

    Canvas {
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.lineWidth = width * 0.08
            ctx.strokeStyle = "#f0a020"
            ctx.beginPath()
            ctx.arc(width / 2, height * 0.6, width * 0.36, Math.PI, 2 * Math.PI)
            ctx.stroke()
        }
    }

    Rectangle {
        width: dial.width * 0.02
        height: dial.width * 0.34
        color: "#32323c"
        antialiasing: true
        x: dial.width / 2 - width / 2
        y: dial.height * 0.6 - height
        transform: Rotation {
            origin.x: dial.width * 0.01
            origin.y: dial.width * 0.34
            angle: -90 + dial.value * 180
            Behavior on angle { SmoothedAnimation { velocity: 90 } }
        }
    }
}
