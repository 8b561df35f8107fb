// A thin bar of how far something has got (a delivery) or how full it is
// (the storage), drawn for the current theme.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

ProgressBar {
    id: bar
    implicitHeight: 6

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 6
        radius: 3
        color: Theme.lightBackground ? Qt.rgba(0, 0, 0, 0.12) : Qt.rgba(1, 1, 1, 0.12)
    }
    contentItem: Item {
        implicitHeight: 6
        Rectangle {
            width: bar.visualPosition * parent.width
            height: parent.height
            radius: 3
            color: Theme.accent
        }
    }
}
