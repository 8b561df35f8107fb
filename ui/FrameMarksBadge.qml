// A frame's stars and colour label, drawn small on a dark plate over a
// picture or in a viewer's title bar; nothing shows for a frame without either.
import QtQuick
import KeepframeUI

Rectangle {
    id: badge
    // -1 or 0: no stars shown; "" for no label.
    property int rating: -1
    property string label: ""
    property int pixelSize: Theme.sizeCaption

    readonly property bool hasMarks: rating > 0 || label !== ""

    visible: hasMarks
    implicitWidth: row.implicitWidth + 10
    implicitHeight: row.implicitHeight + 4
    radius: 3
    color: Theme.pictureLabel

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4
        Text {
            objectName: "ratingStars"
            visible: badge.rating > 0
            anchors.verticalCenter: parent.verticalCenter
            text: "★".repeat(Math.max(0, badge.rating))
            color: Theme.star
            font.pixelSize: badge.pixelSize
        }
        Rectangle {
            objectName: "labelDot"
            visible: badge.label !== ""
            anchors.verticalCenter: parent.verticalCenter
            width: Theme.labelDotSize
            height: Theme.labelDotSize
            radius: Theme.labelDotSize / 2
            color: Theme.labelColor(badge.label)
        }
    }
}
