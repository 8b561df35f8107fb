// "Choose a cover photo": a grid of small previews of the images about to be
// delivered. Images without a thumbnail get one made in the background
// ("Generating previews…"); a preview that could not be made shows "?" and
// can still be chosen.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ToolDialog {
    id: picker
    objectName: "coverPicker"
    title: "Choose a cover photo"
    width: Math.min(860, (parent ? parent.width : 860) - 80)
    height: Math.min(620, (parent ? parent.height : 620) - 60)

    // Checks that a list of previews answers for the images shown.
    required property DeliverModel plan
    property var images: []
    property var thumbnails: []
    property bool generating: false
    property string current: ""
    signal chosen(string filename)

    function openFor(list, currentCover) {
        images = list
        current = currentCover
        thumbnails = []
        generating = true
        open()
        App.delivery.generateCoverThumbnails(list)
    }

    Connections {
        target: App.delivery
        function onCoverThumbnailsReady(list) {
            if (!picker.generating)
                return
            // An answer for an earlier list (a run was still busy): ask again for these images.
            if (!picker.plan.sameImages(list, picker.images)) {
                App.delivery.generateCoverThumbnails(picker.images)
                return
            }
            picker.thumbnails = list
            picker.generating = false
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        Text {
            objectName: "coverPickerStatus"
            text: picker.generating
                  ? "Generating previews…"
                  : picker.thumbnails.length + " image(s) — click one to use it as the gallery cover."
            color: Theme.textDim
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeDetail
        }
        BusyIndicator {
            visible: picker.generating
            running: visible
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 40
        }
        GridView {
            id: grid
            objectName: "coverGrid"
            visible: !picker.generating
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            cellWidth: 156
            cellHeight: 146
            model: picker.thumbnails
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            delegate: Item {
                id: tile
                required property var modelData
                required property int index
                readonly property bool isCurrent: modelData.filename === picker.current
                objectName: "coverTile_" + modelData.filename
                width: grid.cellWidth
                height: grid.cellHeight

                Rectangle {
                    anchors { fill: parent; margins: 4 }
                    radius: 4
                    color: tile.isCurrent ? Theme.chosenTile
                         : tileArea.containsMouse ? Theme.hoverFill : "transparent"
                    border.width: tile.isCurrent ? 2 : 1
                    border.color: tile.isCurrent ? Theme.accent : Theme.panelBorder

                    Rectangle {
                        id: frame
                        anchors { top: parent.top; left: parent.left; right: parent.right; margins: 6 }
                        height: 104
                        color: Theme.coverWell
                        Image {
                            id: thumb
                            anchors.fill: parent
                            source: tile.modelData.thumbUrl
                            asynchronous: true
                            cache: false
                            fillMode: Image.PreserveAspectFit
                            sourceSize.width: 200
                            sourceSize.height: 200
                        }
                        Text {
                            objectName: "missingPreview"
                            anchors.centerIn: parent
                            visible: tile.modelData.thumbUrl === "" || thumb.status === Image.Error
                            text: "?"
                            color: Theme.overlayMuted
                            font.pixelSize: Theme.sizePlaceholderGlyph
                            font.weight: Font.DemiBold
                        }
                    }
                    Text {
                        anchors { top: frame.bottom; left: parent.left; right: parent.right; margins: 6 }
                        text: ViewLogic.baseName(tile.modelData.filename)
                        color: Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeFootnote
                        elide: Text.ElideMiddle
                        horizontalAlignment: Text.AlignHCenter
                    }
                }
                MouseArea {
                    id: tileArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: picker.current = tile.modelData.filename
                    onDoubleClicked: {
                        picker.current = tile.modelData.filename
                        picker.chosen(picker.current)
                        picker.close()
                    }
                }
            }
        }
    }

    footer: RowLayout {
        spacing: 10
        Text {
            Layout.leftMargin: 20
            Layout.fillWidth: true
            text: picker.current !== "" ? "Cover: " + ViewLogic.baseName(picker.current)
                                        : "No cover chosen — the service uses its own default."
            color: Theme.textDim
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCaption
            elide: Text.ElideRight
        }
        ActionButton {
            objectName: "coverNoneButton"
            text: "No Cover"
            Layout.bottomMargin: 16
            onClicked: {
                picker.chosen("")
                picker.close()
            }
        }
        ActionButton {
            objectName: "coverCancelButton"
            text: "Cancel"
            Layout.bottomMargin: 16
            onClicked: picker.close()
        }
        ActionButton {
            objectName: "coverUseButton"
            text: "Use as Cover"
            highlighted: true
            enabled: picker.current !== "" && !picker.generating
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: {
                picker.chosen(picker.current)
                picker.close()
            }
        }
    }
}
