// A check box drawn for the dark theme, with an optional label.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

CheckBox {
    id: control
    property string tip: ""
    property color labelColor: Theme.text

    focusPolicy: Qt.NoFocus
    hoverEnabled: true
    font.family: Theme.fontBody
    font.pixelSize: Theme.sizeControl
    padding: 2
    spacing: 7

    ToolTip.visible: tip !== "" && hovered
    ToolTip.delay: 500
    ToolTip.text: tip

    indicator: Rectangle {
        implicitWidth: 18
        implicitHeight: 18
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 3
        color: control.checked ? Theme.accent : Theme.checkFill
        border.width: 1.5
        border.color: control.checked ? Theme.accent : (control.hovered ? Theme.checkBorderHover : Theme.checkBorder)
        Text {
            anchors.centerIn: parent
            visible: control.checked
            text: "✓"
            color: Theme.accentText
            font.pixelSize: Theme.sizeControl
            font.bold: true
        }
    }
    // Without a label the box still counts in the control's width, so that
    // anchoring it to an edge keeps it inside.
    contentItem: Text {
        leftPadding: control.indicator.width + (control.text === "" ? 0 : control.spacing)
        text: control.text
        font: control.font
        color: control.labelColor
        verticalAlignment: Text.AlignVCenter
    }
}
