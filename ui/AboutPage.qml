// The About page.
import QtQuick
import KeepframeUI

Item {
    objectName: "aboutPage"

    Text {
        objectName: "pageTitle"
        anchors { left: parent.left; top: parent.top; margins: 28 }
        text: "About"
        font.family: Theme.fontBody
        font.pixelSize: 26
        font.weight: Font.DemiBold
        color: Theme.text
    }
}
