// The enlarged picture that floats 120 px beside the pointer over the grid
// (left of it in the right half of the window), kept 8 px inside the window.
// It never takes mouse input.
import QtQuick
import KeepframeUI

Item {
    id: preview
    property string source: ""
    property real aspect: 1.5
    property point cursor: Qt.point(0, 0)
    property bool shown: false
    readonly property real longSide: Math.min(480, (parent ? Math.min(parent.width, parent.height) : 480) - 16)

    enabled: false
    visible: shown && source !== ""
    width: aspect >= 1 ? longSide : Math.round(longSide * aspect)
    height: aspect >= 1 ? Math.round(longSide / aspect) : longSide
    x: {
        const w = parent ? parent.width : 0
        const wanted = cursor.x > w / 2 ? cursor.x - 120 - width : cursor.x + 120
        return Math.max(8, Math.min(w - width - 8, wanted))
    }
    y: {
        const h = parent ? parent.height : 0
        return Math.max(8, Math.min(h - height - 8, cursor.y - height / 2))
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        color: Theme.viewerPane
        border.color: Theme.previewBorder
        radius: 3
    }
    Image {
        anchors.fill: parent
        source: preview.source
        asynchronous: true
        cache: true
        autoTransform: true
        fillMode: Image.PreserveAspectFit
        sourceSize.width: 640
    }
}
