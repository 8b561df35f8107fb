// A radio button drawn for the current theme.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

RadioButton {
    id: control
    focusPolicy: Qt.NoFocus
    hoverEnabled: true
    font.family: Theme.fontBody
    font.pixelSize: Theme.sizeControl
    padding: 2
    spacing: 7

    indicator: Rectangle {
        implicitWidth: 18
        implicitHeight: 18
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 9
        color: Theme.checkFill
        border.width: 1.5
        border.color: control.checked ? Theme.accent : (control.hovered ? Theme.checkBorderHover : Theme.checkBorder)
        Rectangle {
            anchors.centerIn: parent
            width: 8
            height: 8
            radius: 4
            visible: control.checked
            color: Theme.accent
        }
    }
    contentItem: Text {
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        font: control.font
        color: Theme.text
        opacity: control.enabled ? 1.0 : 0.45
        verticalAlignment: Text.AlignVCenter
    }
}
