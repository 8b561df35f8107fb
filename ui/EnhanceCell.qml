// One kept frame on the Enhance page: the original with its best correction
// stacked over it (shown while the frame is checked), the check box, and
// badges for the corrections that exist. Both pictures stay loaded, so a
// check only switches what is shown.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI

Item {
    id: cell
    required property int index
    required property int imageId
    required property string filename
    required property string name
    required property string picture
    required property string editedUrl
    required property string enhanceUrl
    required property string plusUrl
    required property bool checked

    signal checkToggled(int row)
    signal opened(int row)
    signal hoverMoved(int row, bool hovered)

    readonly property int imageHeight: Math.round(width * 0.72)
    readonly property bool showsCorrection: checked && editedUrl !== ""

    objectName: "enhanceCell_" + filename
    width: 320
    height: imageHeight + 34

    HoverHandler {
        id: hover
        onHoveredChanged: cell.hoverMoved(cell.index, hovered)
    }

    Rectangle {
        anchors.fill: parent
        radius: 4
        color: Theme.panel
        border.width: hover.hovered ? 1 : 0
        border.color: Theme.accent
    }

    Item {
        id: imageArea
        x: 4
        y: 4
        width: parent.width - 8
        height: cell.imageHeight - 4
        clip: true

        Rectangle {
            anchors.fill: parent
            color: Theme.imageWell
        }
        Image {
            id: original
            objectName: "originalImage"
            anchors.fill: parent
            source: cell.picture
            asynchronous: true
            cache: true
            autoTransform: true
            fillMode: Image.PreserveAspectFit
            sourceSize.width: 480
            sourceSize.height: 346
        }
        Image {
            id: corrected
            objectName: "correctedImage"
            anchors.fill: parent
            source: cell.editedUrl
            visible: cell.showsCorrection && status === Image.Ready
            asynchronous: true
            cache: true
            autoTransform: true
            fillMode: Image.PreserveAspectFit
            sourceSize.width: 480
            sourceSize.height: 346
        }
        Text {
            anchors.centerIn: parent
            visible: original.status === Image.Error
            text: "Not found"
            color: Theme.textDim
            font.pixelSize: Theme.sizeCaption
        }
        MouseArea {
            objectName: "openArea"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: cell.opened(cell.index)
        }

        // Which corrections exist.
        Row {
            anchors { left: parent.left; bottom: parent.bottom; leftMargin: 8; bottomMargin: 8 }
            spacing: 5
            Repeater {
                model: [{ "name": "enhanceBadge", "label": "Enhance", "shown": cell.enhanceUrl !== "",
                          "colour": Theme.enhanceBadge },
                        { "name": "plusBadge", "label": "Plus", "shown": cell.plusUrl !== "",
                          "colour": Theme.accent }]
                delegate: Rectangle {
                    required property var modelData
                    objectName: modelData.name
                    visible: modelData.shown
                    width: badgeText.implicitWidth + 14
                    height: 20
                    radius: 10
                    color: modelData.colour
                    Text {
                        id: badgeText
                        anchors.centerIn: parent
                        text: parent.modelData.label
                        color: Theme.badgeText
                        font.pixelSize: Theme.sizeBadge
                        font.weight: Font.DemiBold
                    }
                }
            }
        }
    }

    CheckOption {
        id: box
        objectName: "checkBox"
        anchors { top: parent.top; right: parent.right; topMargin: 8; rightMargin: 8 }
        checked: cell.checked
        tip: "Check to include in the next Enhance"
        onToggled: {
            cell.checkToggled(cell.index)
            checked = Qt.binding(() => cell.checked)
        }
    }

    Text {
        objectName: "cellName"
        anchors { left: parent.left; right: parent.right; top: imageArea.bottom; leftMargin: 8; rightMargin: 8;
                  topMargin: 7 }
        text: cell.name + (cell.editedUrl !== "" && !cell.checked ? "   · original shown" : "")
        color: Theme.text
        font.pixelSize: Theme.sizeCaption
        elide: Text.ElideMiddle
    }
}
