// Two frames of one moment side by side over the whole window: the pinned
// frame on the left, the others in turn on the right. The wheel, Z and
// dragging act on both panes in frame coordinates (with Shift on the pane
// under the pointer only); F shows both at 100 % on their largest face. Space
// keeps or drops the right frame, Enter pins it, Escape goes back; I shows
// what the cull knows about both frames; 0 to 5 rate the right frame and 6 to
// 9 set its colour label.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Popup {
    id: compare
    objectName: "compareView"

    property var frames: []
    property int pinnedIndex: -1
    property int rightIndex: -1
    // Where it was opened: "lightbox" or "cluster" (the cluster popup).
    property string openedFrom: ""
    property string imageFolder: ""
    // The direction of the last step, for the frame decoded ahead.
    property int lastStep: 1
    // The information panel (I).
    property bool showInfo: false
    readonly property var pinned: pinnedIndex >= 0 && pinnedIndex < frames.length ? frames[pinnedIndex] : null
    readonly property var right: rightIndex >= 0 && rightIndex < frames.length ? frames[rightIndex] : null
    readonly property int aheadIndex: rightIndex < 0 ? -1
                                      : CompareLogic.stepOther(frames.length, rightIndex, lastStep, pinnedIndex)
    readonly property var ahead: aheadIndex >= 0 && aheadIndex !== rightIndex ? frames[aheadIndex] : null
    readonly property int decodeSide: Math.max(512, Math.min(4096,
        Math.ceil(Math.max(rightPane.width, rightPane.height) * rightPane.Screen.devicePixelRatio / 512) * 512))

    // Ctrl+Z and its kin, handled by the page: true when the key was one of them.
    property var undoKey: (event) => false

    // A frame was kept or dropped here, for the viewer and the cluster popup.
    signal keepChanged(int imageId, bool kept)

    // Opens on the moment of a stored image; false when it has none.
    function openFor(imageId, from) {
        const list = App.selModel.momentFrames(imageId)
        const at = ViewLogic.indexOfEntry(list, "id", imageId)
        if (at < 0)
            return false
        openedFrom = from
        lastStep = 1
        frames = list
        pinnedIndex = at
        rightIndex = CompareLogic.firstOther(list.length, at)
        leftPane.mode = "fit"
        rightPane.mode = "fit"
        open()
        leftPane.refresh()
        rightPane.refresh()
        content.forceActiveFocus()
        return true
    }

    function step(delta) {
        lastStep = delta
        rightIndex = CompareLogic.stepOther(frames.length, rightIndex, delta, pinnedIndex)
    }

    // The right frame goes to the left; the right pane moves on.
    function pinRight() {
        if (!right)
            return
        const was = rightIndex
        leftPane.mode = rightPane.mode
        leftPane.view = rightPane.view
        pinnedIndex = was
        const next = CompareLogic.stepOther(frames.length, was, lastStep, was)
        rightIndex = next !== was ? next : CompareLogic.firstOther(frames.length, was)
    }

    // Keeps or drops the right frame, as the viewer does in a moment.
    function toggleKeep() {
        const it = right
        if (!it)
            return
        const kept = !(it.userSelected === true)
        App.selModel.setImageSelected(it.id, kept)
        frames = App.selModel.momentFrames(it.id)
        keepChanged(it.id, kept)
    }

    // The keys 0 to 9 on the right frame.
    function pressDigit(digit) {
        if (right)
            App.selModel.pressDigit([right.filename], digit)
    }

    // The panes a zoom or pan acts on: the one under the pointer with Shift
    // (the right one when the pointer is elsewhere), else both.
    function targets(shift, origin) {
        if (!shift)
            return [leftPane, rightPane]
        if (origin)
            return [origin]
        return [leftPane.pointerInside ? leftPane : rightPane]
    }

    function zoomPanes(origin, factor, x, y, shift) {
        for (const p of targets(shift, origin))
            p.zoomAt(factor, x, y)
    }
    function panPanes(origin, dx, dy, shift) {
        for (const p of targets(shift, origin))
            p.panBy(dx, dy)
    }
    // Z: both to 100 % when the panes are at fit, else both to fit.
    function toggleZoom(shift) {
        const panes = targets(shift, null)
        const toActual = panes.every(p => p.fitted)
        const from = leftPane.pointerInside ? leftPane : rightPane
        const x = from.pointerInside ? from.pointer.x : from.width / 2
        const y = from.pointerInside ? from.pointer.y : from.height / 2
        for (const p of panes) {
            if (toActual)
                p.scaleAt(1, x, y)
            else
                p.fit()
        }
    }
    function focusFaces(shift) {
        for (const p of targets(shift, null))
            p.focusFaces()
    }

    // A decision made anywhere (an undo too) shows on both frames.
    Connections {
        target: App.selModel
        enabled: compare.opened
        // Read again as the moment is stored: a frame dropped there counts as not kept.
        function onChanged() {
            if (compare.pinned)
                compare.frames = App.selModel.momentFrames(compare.pinned.id)
        }
        function onMarksChanged() { compare.frames = App.selModel.currentFrames(compare.frames) }
    }

    onClosed: {
        pinnedIndex = -1
        rightIndex = -1
        frames = []
    }

    parent: T.Overlay.overlay
    x: 0
    y: 0
    z: 20
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape
    background: Rectangle { color: Theme.viewerBackground }
    T.Overlay.modal: Rectangle { color: Theme.scrimCompare }

    Item {
        id: content
        anchors.fill: parent
        focus: true
        Keys.onPressed: (event) => {
            if (compare.undoKey(event)) {
                event.accepted = true
                return
            }
            const shift = (event.modifiers & Qt.ShiftModifier) !== 0
            switch (event.key) {
            case Qt.Key_Left: compare.step(-1); break
            case Qt.Key_Right: compare.step(1); break
            case Qt.Key_Return:
            case Qt.Key_Enter: compare.pinRight(); break
            case Qt.Key_Space: compare.toggleKeep(); break
            case Qt.Key_Z: compare.toggleZoom(shift); break
            case Qt.Key_F: compare.focusFaces(shift); break
            case Qt.Key_I: compare.showInfo = !compare.showInfo; break
            case Qt.Key_Escape: compare.close(); break
            default:
                if (event.key < Qt.Key_0 || event.key > Qt.Key_9 || (event.modifiers & Qt.ControlModifier))
                    return
                compare.pressDigit(event.key - Qt.Key_0)
            }
            event.accepted = true
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            // Both frames' names, states and scores.
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 58
                color: Theme.viewerBar
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 18
                    anchors.rightMargin: 12
                    spacing: 16
                    Column {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        spacing: 3
                        Text {
                            objectName: "compareLeftName"
                            width: parent.width - (leftMarks.visible ? leftMarks.width + 8 : 0)
                            text: compare.pinned ? "Pinned · " + ViewLogic.baseName(compare.pinned.filename) : ""
                            color: Theme.overlayText
                            font.pixelSize: Theme.sizeBody
                            font.weight: Font.Medium
                            elide: Text.ElideMiddle
                            FrameMarksBadge {
                                id: leftMarks
                                objectName: "compareLeftMarks"
                                x: parent.width + 8
                                anchors.verticalCenter: parent.verticalCenter
                                rating: compare.pinned && compare.pinned.rating !== undefined ? compare.pinned.rating
                                                                                               : -1
                                label: compare.pinned && compare.pinned.label ? compare.pinned.label : ""
                            }
                        }
                        Text {
                            objectName: "compareLeftDetails"
                            width: parent.width
                            text: compare.pinned ? CompareLogic.detailsText(compare.pinned) : ""
                            color: Theme.overlayHint
                            font.pixelSize: Theme.sizeCaption
                            elide: Text.ElideRight
                        }
                    }
                    Column {
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        spacing: 3
                        Text {
                            objectName: "compareRightName"
                            width: parent.width - (rightMarks.visible ? rightMarks.width + 8 : 0)
                            text: compare.right ? ViewLogic.baseName(compare.right.filename) : ""
                            color: Theme.overlayText
                            font.pixelSize: Theme.sizeBody
                            font.weight: Font.Medium
                            elide: Text.ElideMiddle
                            FrameMarksBadge {
                                id: rightMarks
                                objectName: "compareRightMarks"
                                x: parent.width + 8
                                anchors.verticalCenter: parent.verticalCenter
                                rating: compare.right && compare.right.rating !== undefined ? compare.right.rating : -1
                                label: compare.right && compare.right.label ? compare.right.label : ""
                            }
                        }
                        Text {
                            objectName: "compareRightDetails"
                            width: parent.width
                            text: compare.right ? CompareLogic.detailsText(compare.right) : ""
                            color: Theme.overlayHint
                            font.pixelSize: Theme.sizeCaption
                            elide: Text.ElideRight
                        }
                    }
                    Text {
                        objectName: "comparePosition"
                        text: (compare.rightIndex + 1) + " / " + compare.frames.length
                        visible: compare.right !== null
                        color: Theme.overlayTextDim
                        font.pixelSize: Theme.sizeDetail
                    }
                    CheckOption {
                        objectName: "compareKeep"
                        text: "Keep right"
                        labelColor: Theme.overlayText
                        enabled: compare.right !== null
                        checked: compare.right !== null && compare.right.userSelected === true
                        onToggled: {
                            compare.toggleKeep()
                            checked = Qt.binding(() => compare.right !== null && compare.right.userSelected === true)
                        }
                    }
                    ActionButton {
                        objectName: "comparePin"
                        text: "Pin right"
                        enabled: compare.right !== null
                        onClicked: compare.pinRight()
                    }
                    ActionButton {
                        objectName: "compareClose"
                        text: "✕"
                        onClicked: compare.close()
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.margins: 6
                spacing: 6
                ComparePane {
                    id: leftPane
                    objectName: "compareLeftPane"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.preferredWidth: 1
                    frame: compare.pinned
                    imageFolder: compare.imageFolder
                    decodeSide: compare.decodeSide
                    accent: Theme.accent
                    onWheeled: (factor, x, y, shift) => compare.zoomPanes(leftPane, factor, x, y, shift)
                    onDragged: (dx, dy, shift) => compare.panPanes(leftPane, dx, dy, shift)
                }
                ComparePane {
                    id: rightPane
                    objectName: "compareRightPane"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.preferredWidth: 1
                    frame: compare.right
                    imageFolder: compare.imageFolder
                    decodeSide: compare.decodeSide
                    emptyText: "This moment has no other frame."
                    onWheeled: (factor, x, y, shift) => compare.zoomPanes(rightPane, factor, x, y, shift)
                    onDragged: (dx, dy, shift) => compare.panPanes(rightPane, dx, dy, shift)
                }
                ColumnLayout {
                    objectName: "compareInfo"
                    // A layout fills the width by default: this one keeps to its own.
                    Layout.fillWidth: false
                    Layout.fillHeight: true
                    Layout.preferredWidth: Theme.infoPanelWidth
                    Layout.maximumWidth: Theme.infoPanelWidth
                    visible: compare.showInfo && compare.opened
                    spacing: 6
                    FrameInfoPanel {
                        objectName: "compareInfoPinned"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        frame: compare.pinned
                        heading: compare.pinned ? "Pinned · " + ViewLogic.baseName(compare.pinned.filename) : ""
                    }
                    FrameInfoPanel {
                        objectName: "compareInfoRight"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        frame: compare.right
                    }
                }
            }

            // The next frame of the moment, decoded ahead at both sizes in use
            // once the frames shown are read (it would slow them down before).
            Item {
                visible: false
                Image {
                    objectName: "compareAhead"
                    source: compare.ahead && rightPane.loaded && leftPane.loaded
                            ? CompareLogic.frameUrl(compare.imageFolder, compare.ahead.filename, false) : ""
                    sourceSize.width: compare.decodeSide
                    sourceSize.height: compare.decodeSide
                    asynchronous: true
                    cache: false
                }
                Image {
                    source: compare.ahead && rightPane.wantsFull && rightPane.sharp
                            ? CompareLogic.frameUrl(compare.imageFolder, compare.ahead.filename, true) : ""
                    asynchronous: true
                    cache: false
                }
            }

            // Keys, and the zoom buttons.
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 40
                color: Theme.viewerBar
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 18
                    anchors.rightMargin: 12
                    spacing: 8
                    Text {
                        objectName: "compareHint"
                        Layout.fillWidth: true
                        text: "‹ ›  Step   ·   Enter  Pin   ·   Space  Keep / remove   ·   0–9  Stars, label"
                              + "   ·   Z  Fit / 100 %   ·   F  Faces   ·   I  Info   ·   Shift  One pane"
                              + "   ·   Esc  Back"
                        color: Theme.overlayTextDim
                        font.pixelSize: Theme.sizeCaption
                        elide: Text.ElideRight
                    }
                    ActionButton {
                        objectName: "compareZoomButton"
                        text: leftPane.fitted && rightPane.fitted ? "100 %" : "Fit"
                        onClicked: compare.toggleZoom(false)
                    }
                    ActionButton {
                        objectName: "compareFacesButton"
                        text: "Faces"
                        onClicked: compare.focusFaces(false)
                    }
                }
            }
        }
    }
}
