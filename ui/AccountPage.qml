// The Account page.
import QtQuick
import KeepframeUI

Item {
    objectName: "accountPage"

    // Re-reads the usage counters.
    function refresh() {
    }

    Text {
        objectName: "pageTitle"
        anchors { left: parent.left; top: parent.top; margins: 28 }
        text: "Account"
        font.family: Theme.fontBody
        font.pixelSize: 26
        font.weight: Font.DemiBold
        color: Theme.text
    }
}
