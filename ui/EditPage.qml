// The Enhance page.
import QtQuick
import KeepframeUI

Item {
    objectName: "editPage"

    Text {
        objectName: "pageTitle"
        anchors { left: parent.left; top: parent.top; margins: 28 }
        text: "Enhance"
        font.family: Theme.fontBody
        font.pixelSize: 26
        font.weight: Font.DemiBold
        color: Theme.text
    }
}
