// A thin bar of how far something has got (a cull, a delivery) or how full it
// is (the storage), drawn for the current theme: a faint track with an accent
// fill. While indeterminate an accent segment slides along the track.
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
        color: Theme.levelTrack
    }
    contentItem: Item {
        implicitHeight: 6
        clip: bar.indeterminate
        Rectangle {
            objectName: "levelFill"
            visible: !bar.indeterminate
            width: bar.visualPosition * parent.width
            height: parent.height
            radius: 3
            color: Theme.accent
        }
        Rectangle {
            visible: bar.indeterminate
            width: parent.width * 0.3
            height: parent.height
            radius: 3
            color: Theme.accent
            XAnimator on x {
                running: bar.indeterminate && bar.visible
                from: -0.3 * bar.availableWidth
                to: bar.availableWidth
                duration: 1200
                loops: Animation.Infinite
            }
        }
    }
}
