// The before/after viewer of the Enhance page: the original and one level of
// its correction, stacked for landscape frames (before above after) and side
// by side for portrait ones (before left). It opens on the highest level
// that exists; Tab switches level, ← → and ‹ › walk the kept frames, Space
// checks or unchecks the frame, Esc closes.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Popup {
    id: box
    objectName: "beforeAfterViewer"

    // The Enhance page's cells.
    property var cells: null
    property int row: -1
    // The level shown: Enhance Plus when true.
    property bool plus: false
    property var item: ({})

    readonly property int count: cells ? cells.count : 0
    readonly property bool stacked: item.landscape !== false
    readonly property string beforeSource: item.filename ? App.selModel.originalUrl(item.filename) : ""
    readonly property string afterSource: plus ? (item.plusUrl || "") : (item.enhanceUrl || "")
    readonly property string levelName: plus ? "Enhance Plus" : "Enhance"

    function openAt(at) {
        showAt(at)
        open()
    }

    // Shows frame `at` at the highest level it has.
    function showAt(at) {
        if (!cells || at < 0 || at >= cells.count)
            return
        row = at
        item = cells.get(at)
        plus = item.plusUrl !== ""
    }

    function step(delta) {
        const next = row + delta
        if (next >= 0 && next < count)
            showAt(next)
    }

    // Re-reads the frame shown (its check or its corrections changed).
    function refresh() {
        if (row >= 0 && row < count)
            item = cells.get(row)
    }

    function toggleCheck() {
        if (row < 0)
            return
        cells.toggle(row)
        refresh()
    }

    onClosed: row = -1

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
        anchors.fill: parent
        focus: true
        Keys.onPressed: (event) => {
            switch (event.key) {
            case Qt.Key_Left: box.step(-1); break
            case Qt.Key_Right: box.step(1); break
            case Qt.Key_Tab:
            case Qt.Key_Backtab: box.plus = !box.plus; break
            case Qt.Key_Space: box.toggleCheck(); break
            case Qt.Key_Escape: box.close(); break
            default: return
            }
            event.accepted = true
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 48
                color: Theme.viewerBar
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 18
                    anchors.rightMargin: 12
                    spacing: 14
                    Text {
                        objectName: "viewerTitle"
                        Layout.fillWidth: true
                        text: box.item.name ? box.item.name + "  —  Before / " + box.levelName : ""
                        color: Theme.overlayText
                        font.pixelSize: Theme.sizeBody
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                    }
                    Text {
                        text: "Tab  Enhance / Plus"
                        color: Theme.overlayMuted
                        font.pixelSize: Theme.sizeCaption
                    }
                    Text {
                        objectName: "viewerPosition"
                        text: (box.row + 1) + " / " + box.count
                        color: Theme.overlayTextDim
                        font.pixelSize: Theme.sizeDetail
                    }
                    CheckOption {
                        objectName: "viewerCheck"
                        text: "Selected"
                        labelColor: Theme.overlayText
                        checked: box.item.checked === true
                        onToggled: {
                            box.toggleCheck()
                            checked = Qt.binding(() => box.item.checked === true)
                        }
                    }
                    ActionButton {
                        objectName: "viewerClose"
                        text: "✕"
                        onClicked: box.close()
                    }
                }
            }

            Item {
                Layout.fillWidth: true
                Layout.fillHeight: true

                GridLayout {
                    objectName: "viewerPanes"
                    anchors.fill: parent
                    anchors.leftMargin: 58
                    anchors.rightMargin: 58
                    anchors.topMargin: 10
                    anchors.bottomMargin: 12
                    columns: box.stacked ? 1 : 2
                    rowSpacing: 8
                    columnSpacing: 12

                    Repeater {
                        model: [{ "name": "beforePane", "after": false }, { "name": "afterPane", "after": true }]
                        delegate: Item {
                            id: pane
                            required property var modelData
                            readonly property string source: modelData.after ? box.afterSource : box.beforeSource
                            objectName: modelData.name
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            Layout.preferredWidth: 1
                            Layout.preferredHeight: 1

                            Image {
                                id: picture
                                objectName: pane.modelData.after ? "afterImage" : "beforeImage"
                                anchors.fill: parent
                                source: pane.source
                                asynchronous: true
                                cache: true
                                autoTransform: true
                                fillMode: Image.PreserveAspectFit
                                sourceSize.width: 2048
                                sourceSize.height: 2048
                            }
                            // The pane's name on the picture's top left corner.
                            Rectangle {
                                readonly property bool drawn: picture.status === Image.Ready
                                x: drawn ? (picture.width - picture.paintedWidth) / 2 + 8 : 8
                                y: drawn ? (picture.height - picture.paintedHeight) / 2 + 8 : 8
                                width: label.implicitWidth + 16
                                height: 24
                                radius: 4
                                color: Theme.pictureLabel
                                Text {
                                    id: label
                                    objectName: pane.modelData.after ? "afterLabel" : "beforeLabel"
                                    anchors.centerIn: parent
                                    text: pane.modelData.after ? "After — " + box.levelName : "Before"
                                    color: Theme.overlayText
                                    font.pixelSize: Theme.sizeCaption
                                    font.weight: Font.DemiBold
                                }
                            }
                            Text {
                                objectName: pane.modelData.after ? "afterMissing" : "beforeMissing"
                                anchors.centerIn: picture
                                visible: pane.source === "" || picture.status === Image.Error
                                text: pane.modelData.after ? "No " + box.levelName + " version yet"
                                                           : "The original was not found"
                                color: Theme.overlayMuted
                                font.pixelSize: Theme.sizeBody
                            }
                            BusyIndicator {
                                anchors.centerIn: picture
                                running: picture.status === Image.Loading
                                visible: running
                            }
                        }
                    }
                }

                Repeater {
                    model: [{ "name": "viewerPrev", "glyph": "‹", "delta": -1 },
                            { "name": "viewerNext", "glyph": "›", "delta": 1 }]
                    delegate: Rectangle {
                        required property var modelData
                        readonly property bool usable: modelData.delta < 0 ? box.row > 0 : box.row < box.count - 1
                        objectName: modelData.name
                        anchors.verticalCenter: parent.verticalCenter
                        x: modelData.delta < 0 ? 6 : parent.width - width - 6
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
        }
    }
}
