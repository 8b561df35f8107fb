// The Home page: the project library. The window reacts to its three signals
// and calls refresh() whenever the page becomes active and after every cull.
import QtQuick
import KeepframeUI

Item {
    id: page
    objectName: "homePage"

    signal newProjectRequested()
    signal projectOpened(int projectId, string name, string inputFolder)
    signal libraryChanged()

    // Re-reads the project list.
    function refresh() {
    }

    Text {
        objectName: "pageTitle"
        anchors { left: parent.left; top: parent.top; margins: 28 }
        text: "Home"
        font.family: Theme.fontBody
        font.pixelSize: 26
        font.weight: Font.DemiBold
        color: Theme.text
    }
}
