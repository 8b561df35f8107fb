// The full-size viewer over the whole window: one image of a list with its
// face crops, stepping with the arrow keys. From the grid, Space or Delete
// removes the image from the selection and the viewer moves on; the removed
// image stays in the list, marked, and Space on it restores it. From the
// cluster popup, Space keeps or drops it. 0 to 5 rate the image, 6 to 9 set
// its colour label. C (or its button) compares the image with the others of its moment.
// The image zooms (Z, the wheel, F on the largest face) and pans by dragging;
// the frames beside it are read ahead, and the last frame stays on screen
// until the next one is read. I shows what the cull knows about the frame.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Popup {
    id: box
    objectName: "lightbox"

    property var list: []
    property int index: -1
    // "grid" or "cluster"
    property string context: "grid"
    readonly property var item: index >= 0 && index < list.length ? list[index] : null
    property var faces: []
    property var detections: []
    property string imageFolder: ""
    // The file last shown, for the grid's highlight after closing.
    property string lastFilename: ""

    readonly property string source: item ? ViewLogic.originalUrl(imageFolder, item.filename) : ""
    readonly property int fullW: item && item.fullW ? item.fullW : 0
    readonly property int fullH: item && item.fullH ? item.fullH : 0
    readonly property int orientation: item && item.orientation ? item.orientation : 1
    readonly property int turn: item && item.appliedRotation ? item.appliedRotation : 0
    readonly property bool inSelection: !item ? false
                                      : context === "cluster" ? item.userSelected === true : item.status !== 3

    readonly property bool comparable: item !== null && item.id !== undefined && item.id >= 0
    // The information panel (I).
    property bool showInfo: false
    // The frame for the zoomable pane: the item with its confident faces.
    readonly property var paneFrame: item ? Object.assign({}, item, { "faces": faces }) : null
    // The frames read ahead once the shown one is read: the next and the one before.
    readonly property var nextItem: index + 1 < list.length ? list[index + 1] : null
    readonly property var previousItem: index > 0 ? list[index - 1] : null
    readonly property int decodeSide: Math.max(512, Math.min(4096,
        Math.ceil(Math.max(pane.width, pane.height) * pane.Screen.devicePixelRatio / 512) * 512))

    // Ctrl+Z and its kin, handled by the page: true when the key was one of them.
    property var undoKey: (event) => false

    // A keep/drop from the cluster context, for the cluster popup.
    signal clusterSelectionChanged(int imageId, bool selected)
    // C: the compare view on the moment of this stored image.
    signal compareRequested(int imageId)

    function openList(images, at, openedFrom) {
        context = openedFrom
        list = images
        pane.mode = "fit"
        showAt(Math.max(0, Math.min(at, images.length - 1)))
        open()
    }

    function showAt(at) {
        refreshItem(at)
        index = at
        const it = item
        if (!it)
            return
        faces = it.id !== undefined && it.id >= 0 ? App.selModel.facesForImage(it.id) : []
        if (faces.length === 0 && it.faceBoxes)
            faces = it.faceBoxes
        detections = it.id !== undefined && it.id >= 0 ? App.selModel.detectionsForImage(it.id) : []
        lastFilename = it.filename
    }

    function step(delta) {
        const next = index + delta
        if (next >= 0 && next < list.length)
            showAt(next)
    }

    // Takes over what the selection holds now for the image at `at` (its
    // status and marks), when that differs from the list's copy.
    function refreshItem(at) {
        if (at < 0 || at >= list.length)
            return
        const was = list[at]
        const now = App.selModel.currentFrames([was])[0]
        if (now.status === was.status && now.userSelected === was.userSelected && now.rating === was.rating
                && now.label === was.label)
            return
        const copy = list.slice()
        copy[at] = now
        list = copy
    }

    // Grid context: the image leaves the selection; it stays in the list,
    // marked removed, and with `moveOn` the viewer goes on to the next one.
    function removeCurrent(moveOn) {
        const it = item
        if (!it || it.status === 3)
            return
        App.selModel.removeImage(it.filename)
        if (moveOn)
            step(1)
    }

    // Restores a removed image shown from the grid.
    function restoreCurrent() {
        const it = item
        if (it)
            App.selModel.restoreImage(it.filename)
    }

    // Cluster context: keep or drop the image.
    function toggleKeep() {
        const it = item
        if (!it)
            return
        const selected = !(it.userSelected === true)
        App.selModel.setImageSelected(it.id, selected)
        clusterSelectionChanged(it.id, selected)
    }

    // The keys 0 to 9: stars and colour label of the shown image.
    function pressDigit(digit) {
        if (item)
            App.selModel.pressDigit([item.filename], digit)
    }

    // Takes over a keep/drop made elsewhere (the compare view).
    function syncSelection(imageId, kept) {
        const at = list.findIndex(i => i.id === imageId)
        if (at < 0)
            return
        const it = list[at]
        const copy = list.slice()
        copy[at] = Object.assign({}, it, { "userSelected": kept,
                                           "status": kept ? (it.original > 0 ? it.original : 4) : 3 })
        list = copy
    }

    function focusViewer() {
        content.forceActiveFocus()
    }

    onClosed: index = -1

    // A decision made here or anywhere else (an undo) shows on the image at once.
    Connections {
        target: App.selModel
        enabled: box.opened
        function onChanged() { box.refreshItem(box.index) }
        function onMarksChanged() { box.refreshItem(box.index) }
    }

    parent: T.Overlay.overlay
    x: 0
    y: 0
    z: 10
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape
    background: Rectangle { color: Theme.viewerBackground }
    T.Overlay.modal: Rectangle { color: Theme.scrimViewer }

    Item {
        id: content
        anchors.fill: parent
        focus: true
        Keys.onPressed: (event) => {
            if (box.undoKey(event)) {
                // taken back or made again; the image follows
            } else if (event.key === Qt.Key_Left) {
                box.step(-1)
            } else if (event.key === Qt.Key_Right) {
                box.step(1)
            } else if (event.key === Qt.Key_Escape) {
                box.close()
            } else if (event.key === Qt.Key_C) {
                if (box.comparable)
                    box.compareRequested(box.item.id)
            } else if (event.key === Qt.Key_Z) {
                pane.toggleZoom()
            } else if (event.key === Qt.Key_F) {
                pane.focusFaces()
            } else if (event.key === Qt.Key_I) {
                box.showInfo = !box.showInfo
            } else if (event.key === Qt.Key_Space || event.key === Qt.Key_Delete) {
                if (box.context === "cluster") {
                    if (event.key === Qt.Key_Space)
                        box.toggleKeep()
                } else if (event.key === Qt.Key_Space && box.item && box.item.status === 3) {
                    box.restoreCurrent()
                } else {
                    box.removeCurrent(true)
                }
            } else if (event.key >= Qt.Key_0 && event.key <= Qt.Key_9 && !(event.modifiers & Qt.ControlModifier)) {
                box.pressDigit(event.key - Qt.Key_0)
            } else {
                return
            }
            event.accepted = true
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            // Title, position, keep box and close button.
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 48
                color: Theme.viewerBar
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 18
                    anchors.rightMargin: 12
                    spacing: 16
                    Text {
                        objectName: "lightboxTitle"
                        Layout.fillWidth: true
                        text: box.item
                              ? ViewLogic.baseName(box.item.filename) + "  —  ‹ › to navigate, Esc to close"
                              : ""
                        color: Theme.overlayText
                        font.pixelSize: Theme.sizeBody
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                    }
                    Text {
                        objectName: "lightboxRemoved"
                        visible: box.context === "grid" && box.item !== null && box.item.status === 3
                        text: "Removed · Space restores"
                        color: Theme.removed
                        font.pixelSize: Theme.sizeDetail
                        font.weight: Font.DemiBold
                    }
                    FrameMarksBadge {
                        objectName: "lightboxMarks"
                        rating: box.item && box.item.rating !== undefined ? box.item.rating : -1
                        label: box.item && box.item.label ? box.item.label : ""
                        pixelSize: Theme.sizeDetail
                    }
                    Text {
                        objectName: "lightboxPosition"
                        text: (box.index + 1) + " / " + box.list.length
                        color: Theme.overlayTextDim
                        font.pixelSize: Theme.sizeDetail
                    }
                    CheckOption {
                        objectName: "lightboxKeep"
                        text: box.context === "cluster" ? "Keep this image" : "In selection"
                        labelColor: Theme.overlayText
                        checked: box.inSelection
                        onToggled: {
                            if (box.context === "cluster")
                                box.toggleKeep()
                            else if (checked)
                                box.restoreCurrent()
                            else
                                box.removeCurrent(false)
                            checked = Qt.binding(() => box.inSelection)
                        }
                    }
                    ActionButton {
                        objectName: "lightboxCompare"
                        text: "Compare (C)"
                        tip: "This frame beside the others of its moment, at full resolution"
                        enabled: box.comparable
                        onClicked: box.compareRequested(box.item.id)
                    }
                    ActionButton {
                        objectName: "lightboxClose"
                        text: "✕"
                        onClicked: box.close()
                    }
                }
            }

            // One crop per face, for a close look at sharpness and expression.
            ColumnLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 18
                Layout.rightMargin: 18
                Layout.topMargin: 10
                visible: box.faces.length > 0
                spacing: 6
                Text {
                    objectName: "faceRowLabel"
                    text: "Faces (" + box.faces.length + ") — check sharpness & expression"
                    color: Theme.overlayTextDim
                    font.pixelSize: Theme.sizeCaption
                }
                ListView {
                    objectName: "faceRow"
                    Layout.fillWidth: true
                    implicitHeight: 128
                    orientation: ListView.Horizontal
                    spacing: 8
                    clip: true
                    interactive: contentWidth > width
                    model: box.faces
                    delegate: Rectangle {
                        required property var modelData
                        width: 128
                        height: 128
                        color: Theme.faceTile
                        border.color: Theme.faceTileBorder
                        Image {
                            anchors.fill: parent
                            anchors.margins: 2
                            // Read once the frame itself is on screen: it comes first.
                            source: pane.loaded ? box.source : ""
                            sourceClipRect: ViewLogic.faceCropRect(parent.modelData, box.fullW, box.fullH,
                                                                   box.orientation)
                            autoTransform: true
                            asynchronous: true
                            cache: false
                            fillMode: Image.PreserveAspectFit
                        }
                    }
                }
            }

            // The image itself, zoomable; a click on it closes the viewer.
            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                spacing: 0
                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.margins: 12

                    ComparePane {
                        id: pane
                        objectName: "lightboxPane"
                        anchors.fill: parent
                        anchors.leftMargin: 55
                        anchors.rightMargin: 55
                        frame: box.paneFrame
                        imageFolder: box.imageFolder
                        decodeSide: box.decodeSide
                        onWheeled: (factor, x, y) => pane.zoomAt(factor, x, y)
                        onDragged: (dx, dy) => pane.panBy(dx, dy)
                        onTapped: box.close()
                    }

                    // The frames beside the shown one, read at the size shown once it is on screen.
                    Item {
                        visible: false
                        Repeater {
                            model: [{ "name": "lightboxAheadNext", "which": 1 },
                                    { "name": "lightboxAheadPrevious", "which": -1 }]
                            delegate: Image {
                                required property var modelData
                                readonly property var ahead: modelData.which > 0 ? box.nextItem : box.previousItem
                                objectName: modelData.name
                                source: ahead && pane.loaded && box.opened
                                        ? CompareLogic.frameUrl(box.imageFolder, ahead.filename, false) : ""
                                sourceSize.width: box.decodeSide
                                sourceSize.height: box.decodeSide
                                asynchronous: true
                                cache: false
                            }
                        }
                    }

                    Repeater {
                        model: [{ "name": "lightboxPrev", "glyph": "‹", "delta": -1 },
                                { "name": "lightboxNext", "glyph": "›", "delta": 1 }]
                        delegate: Rectangle {
                            required property var modelData
                            readonly property bool usable: modelData.delta < 0 ? box.index > 0
                                                                               : box.index < box.list.length - 1
                            objectName: modelData.name
                            anchors.verticalCenter: parent.verticalCenter
                            x: modelData.delta < 0 ? 0 : parent.width - width
                            width: 46
                            height: 86
                            radius: 6
                            color: arrowArea.containsMouse && usable ? Theme.viewerArrowHover : Theme.viewerArrow
                            Text {
                                anchors.centerIn: parent
                                text: parent.modelData.glyph
                                color: parent.usable ? Theme.overlayText : Theme.overlayDisabled
                                font.pixelSize: Theme.sizeArrowGlyph
                            }
                            MouseArea {
                                id: arrowArea
                                anchors.fill: parent
                                hoverEnabled: true
                                onClicked: box.step(parent.modelData.delta)
                            }
                        }
                    }
                }

                FrameInfoPanel {
                    objectName: "lightboxInfo"
                    Layout.fillHeight: true
                    Layout.preferredWidth: Theme.infoPanelWidth
                    visible: box.showInfo && box.opened
                    frame: box.item
                }
            }

            // The list as a strip of thumbnails: the shown frame marked, a click shows another.
            ListView {
                id: strip
                objectName: "lightboxStrip"
                Layout.fillWidth: true
                Layout.leftMargin: 12
                Layout.rightMargin: 12
                Layout.bottomMargin: 8
                implicitHeight: Theme.stripHeight
                orientation: ListView.Horizontal
                spacing: 4
                clip: true
                model: box.opened ? box.list : []
                currentIndex: box.index
                highlightMoveDuration: 0
                preferredHighlightBegin: width / 2 - Theme.stripHeight * 0.75
                preferredHighlightEnd: width / 2 + Theme.stripHeight * 0.75
                highlightRangeMode: ListView.ApplyRange
                delegate: Rectangle {
                    id: stripCell
                    required property var modelData
                    required property int index
                    objectName: "stripCell_" + index
                    width: Theme.stripHeight * 1.5
                    height: Theme.stripHeight
                    color: Theme.viewerPane
                    border.width: index === box.index ? 2 : 0
                    border.color: Theme.accent
                    opacity: modelData.status === 3 ? 0.5 : 1
                    Image {
                        anchors.fill: parent
                        anchors.margins: 2
                        // Read once a frame is on screen: it comes first.
                        source: pane.shownFrame === null ? ""
                                : ViewLogic.thumbnailSource(stripCell.modelData.thumbUrl || "", box.imageFolder,
                                                            stripCell.modelData.filename)
                        sourceSize.height: Theme.stripHeight * 2
                        asynchronous: true
                        fillMode: Image.PreserveAspectCrop
                        autoTransform: true
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: box.showAt(stripCell.index)
                    }
                }
            }
        }
    }
}
