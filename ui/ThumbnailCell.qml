// One image of the review grid: the thumbnail (loaded in the background at
// 1.6 x the cell width), its name, the cluster link and the check box that
// marks it for a batch action. Borders tell last viewed, marked and removed;
// the photographer's stars and colour label sit on the picture's corner.
import QtQuick
import KeepframeUI

Item {
    id: cell
    property var item: ({})
    property string imageFolder: ""
    property bool marked: false
    property bool lastViewed: false
    property bool linkReviewed: false

    signal opened(string filename)
    signal markToggled(string filename)
    signal clusterRequested(string category, int clusterNumber)
    signal hoverMoved(string filename, bool hovered, point scenePosition, real aspect)

    readonly property string filename: item && item.filename ? item.filename : ""
    readonly property bool removed: item && item.status === 3
    // Added by the user: in this session (reason) or in an earlier one (status).
    readonly property bool added: item && (item.reason === "user_added" || item.status === 4)
    readonly property real aspect: item && item.fullW > 0 && item.fullH > 0 ? item.fullW / item.fullH : 1.5
    readonly property string linkText: item ? ViewLogic.clusterLinkText(item.category, item.clusterSize,
                                                                        item.clusterImageCount) : ""

    objectName: "cell_" + filename
    width: Theme.thumbSize
    height: Theme.thumbImageHeight + 40
    z: hover.hovered ? 2 : 0
    scale: hover.hovered ? 1.04 : 1.0
    opacity: removed ? 0.55 : 1.0
    Behavior on scale { NumberAnimation { duration: 110 } }

    HoverHandler {
        id: hover
        onHoveredChanged: cell.hoverMoved(cell.filename, hovered, point.scenePosition, cell.aspect)
        onPointChanged: if (hovered) cell.hoverMoved(cell.filename, true, point.scenePosition, cell.aspect)
    }

    Rectangle {
        anchors.fill: parent
        radius: 4
        color: Theme.panel
    }

    Rectangle {
        id: imageArea
        x: 4
        y: 4
        width: parent.width - 8
        height: Theme.thumbImageHeight - 4
        color: Theme.imageWell

        Image {
            id: picture
            objectName: "thumbnail"
            anchors.fill: parent
            source: cell.filename === "" ? "" : ViewLogic.thumbnailSource(cell.item.thumbUrl, cell.imageFolder,
                                                                           cell.filename)
            asynchronous: true
            cache: true
            autoTransform: true
            fillMode: Image.PreserveAspectFit
            sourceSize.width: Math.round(Theme.thumbSize * 1.6)
        }
        FrameMarksBadge {
            objectName: "marksBadge"
            anchors { left: parent.left; bottom: parent.bottom; margins: 5 }
            rating: cell.item && cell.item.rating !== undefined ? cell.item.rating : -1
            label: cell.item && cell.item.label ? cell.item.label : ""
        }
        Text {
            anchors.centerIn: parent
            visible: picture.status === Image.Error
            text: "Not found"
            color: Theme.textDim
            font.pixelSize: Theme.sizeCaption
        }
        MouseArea {
            objectName: "openArea"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: cell.opened(cell.filename)
        }
    }

    CheckOption {
        id: markBox
        objectName: "markBox"
        anchors { top: parent.top; right: parent.right; topMargin: 8; rightMargin: 8 }
        checked: cell.marked
        tip: cell.removed ? "Check, then 'Restore Checked'" : "Check, then 'Remove Checked'"
        onToggled: {
            cell.markToggled(cell.filename)
            checked = Qt.binding(() => cell.marked)
        }
    }

    Column {
        anchors { left: parent.left; right: parent.right; top: imageArea.bottom; leftMargin: 7; rightMargin: 7;
                  topMargin: 3 }
        spacing: 1
        Text {
            objectName: "caption"
            width: parent.width
            text: ViewLogic.baseName(cell.filename) + (cell.added ? "  +" : "")
            color: Theme.text
            font.pixelSize: Theme.sizeCaption
            elide: Text.ElideMiddle
        }
        Text {
            objectName: "clusterLink"
            visible: cell.linkText !== ""
            text: cell.linkText
            color: cell.linkReviewed ? Theme.reviewed : Theme.accent
            font.pixelSize: Theme.sizeCaption
            font.weight: Font.DemiBold
            font.underline: linkArea.containsMouse
            MouseArea {
                id: linkArea
                anchors.fill: parent
                anchors.margins: -3
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: cell.clusterRequested(cell.item.category, cell.item.clusterSize)
            }
        }
    }

    // Drawn over the picture so that it frames it.
    Rectangle {
        anchors.fill: parent
        radius: 4
        color: "transparent"
        border.width: cell.lastViewed || cell.marked ? 4 : cell.removed ? 2 : 0
        border.color: cell.lastViewed ? Theme.lastViewed : cell.marked ? Theme.marked : Theme.removed
    }
}
