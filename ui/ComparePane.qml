// One frame of the compare view or the viewer at the pane's zoom and
// position: decoded at the size shown first, and at full resolution in the
// background once zoomed past that. A new frame is read into a second image
// while the last one stays on screen, and takes its place once read. The pane
// tells its owner about the wheel, dragging and a click; the owner decides
// which panes follow.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

Item {
    id: pane

    // The frame asked for, and the one on screen (the last one until the new one is read).
    property var frame: null
    property var shownFrame: null
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
    // Which of the two screen images is on screen.
    property int front: 0
    readonly property ScreenImage frontImage: front === 0 ? screenA : screenB
    readonly property ScreenImage backImage: front === 0 ? screenB : screenA

    readonly property int uprightW: shownFrame && shownFrame.fullW > 0 ? shownFrame.fullW : frontImage.implicitWidth
    readonly property int uprightH: shownFrame && shownFrame.fullH > 0 ? shownFrame.fullH : frontImage.implicitHeight
    readonly property int turn: shownFrame && shownFrame.appliedRotation ? shownFrame.appliedRotation : 0
    readonly property size shown: CompareLogic.shownSize(uprightW, uprightH, turn)
    readonly property bool hasFace: shownFrame !== null && shownFrame.faces !== undefined
                                    && shownFrame.faces.length > 0
    readonly property real fitScale: CompareLogic.fitScale(shown.width, shown.height, width, height)
    readonly property bool fitted: Math.abs(view.scale - fitScale) < 1e-6
    // Past the screen-size decode the frame is read at full resolution.
    readonly property real screenScale: frontImage.implicitWidth > 0 && uprightW > 0
                                        ? frontImage.implicitWidth / uprightW : 1
    readonly property bool wantsFull: shownFrame !== null && view.scale > screenScale * 1.02
    // The frame asked for is on screen, read.
    readonly property bool loaded: frame !== null && shownFrame === frame && frontImage.status === Image.Ready
    // The frame asked for is on screen at full resolution (not the one before it).
    readonly property bool sharp: loaded && full.status === Image.Ready
    readonly property string screenSource: askedSource()
    readonly property string fullSource: shownFrame
                                         ? CompareLogic.frameUrl(imageFolder, shownFrame.filename, true) : ""

    // One of the two images of the frame at screen size.
    component ScreenImage: Image {
        // The URL asked for, as written (the source as a URL may read differently).
        property string wanted: ""
        // The box it is decoded in: a new one is read behind too, never in place.
        property int side: 0
        objectName: "paneScreenImage"
        anchors.fill: parent
        source: wanted
        sourceSize.width: side
        sourceSize.height: side
        asynchronous: true
        cache: false
        smooth: true
    }

    signal wheeled(real factor, real x, real y, bool shift)
    signal dragged(real dx, real dy, bool shift)
    // A click that moved nothing.
    signal tapped()

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
        view = CompareLogic.faceView(shownFrame && shownFrame.faces ? shownFrame.faces : [], uprightW, uprightH, turn,
                                     width, height)
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
        if (!shownFrame || shown.width <= 0 || shown.height <= 0 || width <= 0 || height <= 0)
            return
        if (mode === "fit")
            fit()
        else if (mode === "faces")
            focusFaces()
        else
            view = CompareLogic.clampView(view, width, height, shown.width, shown.height)
    }

    // The screen-size URL of the frame asked for, made from the frame itself:
    // when the frame changes, the screenSource binding may not have followed it yet.
    function askedSource() {
        return frame ? CompareLogic.frameUrl(imageFolder, frame.filename, false) : ""
    }
    // Reads the frame asked for into the image behind, unless it is on screen already.
    function request() {
        const source = askedSource()
        if (source === "") {
            shownFrame = null
            return
        }
        if (width <= 0)
            return
        if (frontImage.wanted === source && frontImage.side === decodeSide) {
            settle(frontImage)
            return
        }
        if (backImage.wanted !== source || backImage.side !== decodeSide) {
            backImage.side = decodeSide
            backImage.wanted = source
        }
        settle(backImage)
    }
    // An image holding the frame asked for comes to the front once it is read.
    function settle(image) {
        const source = askedSource()
        if (source === "" || image.wanted !== source || image.side !== decodeSide || image.status === Image.Loading)
            return
        if (image === backImage)
            front = 1 - front
        shownFrame = frame
    }

    onFrameChanged: request()
    onScreenSourceChanged: request()
    onDecodeSideChanged: request()
    onShownFrameChanged: refresh()
    onShownChanged: refresh()
    onWidthChanged: {
        request()
        refresh()
    }
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
        visible: pane.shownFrame !== null
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

            ScreenImage {
                id: screenA
                visible: pane.front === 0
                onStatusChanged: pane.settle(screenA)
            }
            ScreenImage {
                id: screenB
                visible: pane.front === 1
                onStatusChanged: pane.settle(screenB)
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
        // How far the pointer went while pressed: a click moves nothing.
        property real travel: 0
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: pressed ? Qt.ClosedHandCursor : Qt.OpenHandCursor
        onPressed: (event) => {
            last = Qt.point(event.x, event.y)
            travel = 0
            pane.pointer = last
        }
        onClicked: if (travel < 4) pane.tapped()
        onPositionChanged: (event) => {
            pane.pointer = Qt.point(event.x, event.y)
            if (!pressed)
                return
            travel += Math.abs(event.x - last.x) + Math.abs(event.y - last.y)
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
        visible: pane.shownFrame !== null
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
        visible: pane.shownFrame !== null && pane.mode === "faces" && !pane.hasFace
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
              : pane.shownFrame === pane.frame && pane.frontImage.status === Image.Error
                ? "Cannot read " + ViewLogic.baseName(pane.frame.filename) : ""
        color: Theme.overlayTextDim
        font.pixelSize: Theme.sizeBody
    }
    BusyIndicator {
        anchors.centerIn: parent
        // Only while there is nothing to show: a new frame is read behind the last one.
        running: pane.frame !== null && (pane.shownFrame === null || pane.frontImage.status === Image.Loading)
        visible: running
    }
}
