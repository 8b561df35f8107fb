// One frame of the compare view at the pane's zoom and position: decoded at
// the size shown first, and at full resolution in the background once zoomed
// past that. The pane tells the view about the wheel and dragging; the view
// decides which panes follow.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

Item {
    id: pane

    property var frame: null
    property string imageFolder: ""
    // The box of the screen-size decode, in pixels.
    property int decodeSide: 2048
    // What a new frame (or a new pane size) is shown at: "fit", "faces" or "free".
    property string mode: "fit"
    property var view: ({ "scale": 1, "cx": 0, "cy": 0 })
    property string emptyText: ""
    property color accent: Theme.overlayMuted
    // The last pointer position over the pane.
    property point pointer: Qt.point(width / 2, height / 2)
    readonly property bool pointerInside: mouse.containsMouse

    readonly property int uprightW: frame && frame.fullW > 0 ? frame.fullW : screen.implicitWidth
    readonly property int uprightH: frame && frame.fullH > 0 ? frame.fullH : screen.implicitHeight
    readonly property int turn: frame && frame.appliedRotation ? frame.appliedRotation : 0
    readonly property size shown: CompareLogic.shownSize(uprightW, uprightH, turn)
    readonly property bool hasFace: frame !== null && frame.faces !== undefined && frame.faces.length > 0
    readonly property real fitScale: CompareLogic.fitScale(shown.width, shown.height, width, height)
    readonly property bool fitted: Math.abs(view.scale - fitScale) < 1e-6
    // Past the screen-size decode the frame is read at full resolution.
    readonly property real screenScale: screen.implicitWidth > 0 && uprightW > 0 ? screen.implicitWidth / uprightW : 1
    readonly property bool wantsFull: frame !== null && view.scale > screenScale * 1.02
    readonly property bool loaded: screen.status === Image.Ready
    readonly property bool sharp: full.status === Image.Ready
    readonly property string screenSource: frame ? CompareLogic.frameUrl(imageFolder, frame.filename, false) : ""
    readonly property string fullSource: frame ? CompareLogic.frameUrl(imageFolder, frame.filename, true) : ""

    signal wheeled(real factor, real x, real y, bool shift)
    signal dragged(real dx, real dy, bool shift)

    function fit() {
        mode = "fit"
        view = CompareLogic.fitView(shown.width, shown.height, width, height)
    }
    function zoomAt(factor, x, y) {
        mode = "free"
        view = CompareLogic.zoomView(view, factor, x, y, width, height, shown.width, shown.height)
    }
    function scaleAt(scale, x, y) {
        mode = "free"
        view = CompareLogic.scaleView(view, scale, x, y, width, height, shown.width, shown.height)
    }
    function panBy(dx, dy) {
        mode = "free"
        view = CompareLogic.panView(view, dx, dy, width, height, shown.width, shown.height)
    }
    function focusFaces() {
        mode = "faces"
        view = CompareLogic.faceView(frame && frame.faces ? frame.faces : [], uprightW, uprightH, turn, width, height)
    }
    // Fit <-> 100 % about the pointer (the centre when it is elsewhere).
    function toggleZoom() {
        if (fitted)
            scaleAt(1, pointerInside ? pointer.x : width / 2, pointerInside ? pointer.y : height / 2)
        else
            fit()
    }
    // A new frame or pane size: shown as the pane's mode says.
    function refresh() {
        if (!frame || shown.width <= 0 || shown.height <= 0 || width <= 0 || height <= 0)
            return
        if (mode === "fit")
            fit()
        else if (mode === "faces")
            focusFaces()
        else
            view = CompareLogic.clampView(view, width, height, shown.width, shown.height)
    }

    onFrameChanged: refresh()
    onShownChanged: refresh()
    onWidthChanged: refresh()
    onHeightChanged: refresh()

    clip: true

    Rectangle {
        anchors.fill: parent
        color: Theme.viewerPane
    }

    // The frame as shown, in screen pixels, placed by the view.
    Item {
        id: canvas
        objectName: "paneCanvas"
        visible: pane.frame !== null
        x: pane.width / 2 - pane.view.cx * pane.view.scale
        y: pane.height / 2 - pane.view.cy * pane.view.scale
        width: pane.shown.width * pane.view.scale
        height: pane.shown.height * pane.view.scale

        // The upright frame, turned as the lightbox turns it.
        Item {
            anchors.centerIn: parent
            width: pane.uprightW * pane.view.scale
            height: pane.uprightH * pane.view.scale
            rotation: pane.turn

            Image {
                id: screen
                objectName: "paneScreenImage"
                anchors.fill: parent
                // Asked once the pane has its size: the decode size follows it.
                source: pane.width > 0 ? pane.screenSource : ""
                sourceSize.width: pane.decodeSide
                sourceSize.height: pane.decodeSide
                asynchronous: true
                cache: false
                smooth: true
            }
            Image {
                id: full
                objectName: "paneFullImage"
                anchors.fill: parent
                visible: status === Image.Ready
                source: pane.wantsFull ? pane.fullSource : ""
                asynchronous: true
                cache: false
                smooth: true
            }
        }
    }

    MouseArea {
        id: mouse
        objectName: "paneMouse"
        property point last
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor
        onPressed: (event) => {
            last = Qt.point(event.x, event.y)
            pane.pointer = last
        }
        onPositionChanged: (event) => {
            pane.pointer = Qt.point(event.x, event.y)
            if (!pressed)
                return
            pane.dragged(event.x - last.x, event.y - last.y, (event.modifiers & Qt.ShiftModifier) !== 0)
            last = Qt.point(event.x, event.y)
        }
        onWheel: (event) => {
            // Some systems turn a wheel with Shift held into a sideways one.
            const notches = (event.angleDelta.y !== 0 ? event.angleDelta.y : event.angleDelta.x) / 120
            pane.pointer = Qt.point(event.x, event.y)
            pane.wheeled(Math.pow(1.25, notches), event.x, event.y, (event.modifiers & Qt.ShiftModifier) !== 0)
        }
    }

    // Zoom and resolution, top left.
    Rectangle {
        visible: pane.frame !== null
        x: 8
        y: 8
        width: zoomLabel.implicitWidth + 14
        height: 22
        radius: 3
        color: Theme.pictureLabel
        border.color: pane.accent
        Text {
            id: zoomLabel
            objectName: "zoomLabel"
            anchors.centerIn: parent
            text: CompareLogic.zoomText(pane.view, pane.fitted)
                  + (pane.wantsFull && !pane.sharp ? "  · sharpening…" : "")
            color: Theme.overlayText
            font.pixelSize: Theme.sizeCaption
        }
    }
    Text {
        objectName: "noFaceNote"
        visible: pane.frame !== null && pane.mode === "faces" && !pane.hasFace
        anchors { horizontalCenter: parent.horizontalCenter; bottom: parent.bottom; bottomMargin: 12 }
        text: "No face found: centred on the frame"
        color: Theme.overlayText
        style: Text.Outline
        styleColor: Theme.pictureTextOutline
        font.pixelSize: Theme.sizeDetail
    }
    Text {
        objectName: "paneMessage"
        anchors.centerIn: parent
        width: parent.width - 40
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        visible: text !== ""
        text: pane.frame === null ? pane.emptyText
              : screen.status === Image.Error ? "Cannot read " + ViewLogic.baseName(pane.frame.filename) : ""
        color: Theme.overlayTextDim
        font.pixelSize: Theme.sizeBody
    }
    BusyIndicator {
        anchors.centerIn: parent
        running: pane.frame !== null && screen.status === Image.Loading
        visible: running
    }
}
