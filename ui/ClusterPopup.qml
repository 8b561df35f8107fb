// The cluster browser: every frame of one moment (cluster mode) or every
// frame of the moments where nothing is kept (unselected mode), with a check
// box per frame that keeps it or drops it at once. C (or its button) compares
// the current frame with the others of its moment; 0 to 5 rate it, 6 to 9 set
// its colour label.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Popup {
    id: popup
    objectName: "clusterPopup"

    // "cluster" or "unselected"
    property string mode: "cluster"
    property string category: ""
    property int clusterNumber: -1
    property var images: []
    // Image id -> kept, as the check boxes show it.
    property var keep: ({})
    property int keepTick: 0
    property bool dirty: false

    // Ctrl+Z and its kin, handled by the page: true when the key was one of them.
    property var undoKey: (event) => false

    // Closed; `changed` tells whether any frame was kept or dropped.
    signal finished(string mode, string category, int clusterNumber, bool changed)
    // Enter on a frame: show `list` in the viewer at `index`.
    signal viewRequested(var list, int index)
    // C on a frame: the compare view on its moment.
    signal compareRequested(int imageId)

    function openForCluster(cat, number) {
        mode = "cluster"
        category = cat
        clusterNumber = Number(number)
        const clusters = App.selModel.clustersFromDb(cat, false)
        const found = clusters.find(c => Number(c.clusterNumber) === Number(number))
        show(found ? found.images : [])
    }

    function openUnselected() {
        mode = "unselected"
        category = ""
        clusterNumber = -1
        show(App.selModel.unselectedClusterImages())
    }

    function show(list) {
        setImages(list)
        dirty = false
        open()
        grid.currentIndex = images.length > 0 ? 0 : -1
        grid.positionViewAtBeginning()
        grid.forceActiveFocus()
    }

    function setImages(list) {
        const states = {}
        for (const it of list)
            states[it.id] = it.userSelected === true
        images = list
        keep = states
        keepTick++
    }

    function isKept(imageId, tick) {
        return keep[imageId] === true
    }

    // Keeps or drops one frame (its check box, or Space).
    function setKept(imageId, kept) {
        App.selModel.setImageSelected(imageId, kept)
        syncSelection(imageId, kept)
    }

    // The frames as the selection holds them now, after a decision made here
    // or elsewhere (the viewer, the compare view, an undo).
    function resync() {
        const at = grid.currentIndex
        setImages(mode === "unselected" ? App.selModel.unselectedClusterImages()
                                        : App.selModel.currentFrames(images))
        grid.currentIndex = Math.min(at, images.length - 1)
    }

    // The keys 0 to 9 on the current frame.
    function pressDigit(digit) {
        const it = images[grid.currentIndex]
        if (it)
            App.selModel.pressDigit([it.filename], digit)
    }

    // Takes over a keep/drop made elsewhere (the viewer).
    function syncSelection(imageId, kept) {
        keep[imageId] = kept
        keepTick++
        dirty = true
        // A kept frame ends its moment's place among the unselected ones,
        // and its siblings leave with it.
        if (mode === "unselected" && kept) {
            const at = grid.currentIndex
            setImages(App.selModel.unselectedClusterImages())
            grid.currentIndex = Math.min(at, images.length - 1)
        }
    }

    function focusGrid() {
        grid.forceActiveFocus()
    }

    onClosed: finished(mode, category, clusterNumber, dirty)

    Connections {
        target: App.selModel
        enabled: popup.opened
        function onChanged() {
            popup.dirty = true
            popup.resync()
        }
        function onMarksChanged() { popup.resync() }
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(960, (parent ? parent.width : 960) - 160)
    height: Math.min(720, (parent ? parent.height : 720) - 160)
    modal: true
    focus: true
    padding: 16
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    background: Rectangle {
        color: Theme.popupBackground
        border.color: Theme.panelBorder
        radius: 6
    }
    T.Overlay.modal: Rectangle { color: Theme.scrimPopup }

    ColumnLayout {
        anchors.fill: parent
        spacing: 6
        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "clusterTitle"
                Layout.fillWidth: true
                text: popup.mode === "cluster" ? popup.category + " · cluster " + popup.clusterNumber
                                               : "Unselected images"
                color: Theme.overlayText
                font.pixelSize: Theme.sizePopupTitle
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            Text {
                objectName: "clusterCount"
                text: popup.images.length + " photos"
                color: Theme.overlayTextDim
                font.pixelSize: Theme.sizeDetail
            }
            ActionButton {
                objectName: "clusterCompare"
                text: "Compare (C)"
                tip: "The current photo beside the others of its moment, at full resolution"
                enabled: grid.currentIndex >= 0 && grid.currentIndex < popup.images.length
                onClicked: popup.compareRequested(popup.images[grid.currentIndex].id)
            }
            ActionButton {
                objectName: "clusterClose"
                text: "✕"
                onClicked: popup.close()
            }
        }
        Text {
            objectName: "clusterHint"
            Layout.fillWidth: true
            text: popup.mode === "cluster"
                  ? "Click a photo to view it large. Use the checkbox to keep/remove it from your selection."
                  : "These photos are from clusters where nothing was selected. Click to view large; "
                    + "use the checkbox to add any to your selection."
            wrapMode: Text.Wrap
            color: Theme.overlayHint
            font.pixelSize: Theme.sizeCaption
            Layout.bottomMargin: 6
        }

        GridView {
            id: grid
            objectName: "clusterGrid"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            cellWidth: 180
            cellHeight: 196
            keyNavigationWraps: true
            focus: true
            model: popup.images
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            Keys.onPressed: (event) => {
                const it = popup.images[currentIndex]
                if (popup.undoKey(event)) {
                    event.accepted = true
                } else if (event.key === Qt.Key_Space && it) {
                    popup.setKept(it.id, !popup.isKept(it.id, popup.keepTick))
                    event.accepted = true
                } else if (event.key === Qt.Key_Escape) {
                    popup.close()
                    event.accepted = true
                } else if (event.key === Qt.Key_C && it) {
                    popup.compareRequested(it.id)
                    event.accepted = true
                } else if (event.key >= Qt.Key_0 && event.key <= Qt.Key_9 && it
                           && !(event.modifiers & Qt.ControlModifier)) {
                    popup.pressDigit(event.key - Qt.Key_0)
                    event.accepted = true
                } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter) && it) {
                    popup.viewRequested(popup.images.map(i => Object.assign({}, i, {
                        "userSelected": popup.isKept(i.id, popup.keepTick) })), currentIndex)
                    event.accepted = true
                }
            }

            delegate: Item {
                id: tile
                required property var modelData
                required property int index
                readonly property bool kept: popup.isKept(modelData.id, popup.keepTick)
                objectName: "clusterCell_" + modelData.filename
                width: 180
                height: 196

                Rectangle {
                    anchors.fill: parent
                    anchors.margins: 5
                    radius: 4
                    color: Theme.popupTile
                    border.width: tile.GridView.isCurrentItem ? 2 : 1
                    border.color: tile.GridView.isCurrentItem ? Theme.accent : Theme.popupTileBorder
                    opacity: tile.kept ? 1.0 : 0.75

                    Image {
                        id: thumb
                        x: 5
                        y: 5
                        width: parent.width - 10
                        height: 130
                        source: ViewLogic.thumbnailSource(tile.modelData.thumbUrl, App.selModel.inputFolder,
                                                          tile.modelData.filename)
                        asynchronous: true
                        autoTransform: true
                        fillMode: Image.PreserveAspectFit
                        sourceSize.width: 280
                        FrameMarksBadge {
                            objectName: "clusterMarks"
                            anchors { left: parent.left; bottom: parent.bottom; margins: 4 }
                            rating: tile.modelData.rating !== undefined ? tile.modelData.rating : -1
                            label: tile.modelData.label ? tile.modelData.label : ""
                        }
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: {
                                grid.currentIndex = tile.index
                                popup.viewRequested(popup.images.map(i => Object.assign({}, i, {
                                    "userSelected": popup.isKept(i.id, popup.keepTick) })), tile.index)
                            }
                        }
                    }
                    Text {
                        anchors { left: parent.left; right: parent.right; top: thumb.bottom; margins: 6 }
                        text: ViewLogic.baseName(tile.modelData.filename)
                        color: Theme.overlayCaption
                        font.pixelSize: Theme.sizeCaption
                        elide: Text.ElideMiddle
                    }
                    Text {
                        anchors { left: parent.left; bottom: parent.bottom; margins: 6 }
                        text: tile.kept ? "Kept" : "Not kept"
                        color: tile.kept ? Theme.reviewed : Theme.notKeptText
                        font.pixelSize: Theme.sizeFootnote
                    }
                    CheckOption {
                        objectName: "keepBox"
                        anchors { top: parent.top; right: parent.right; margins: 8 }
                        checked: tile.kept
                        onToggled: {
                            popup.setKept(tile.modelData.id, checked)
                            checked = Qt.binding(() => tile.kept)
                        }
                    }
                }
            }
        }
    }
}
