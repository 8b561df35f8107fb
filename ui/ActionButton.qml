// A push button of the dark toolbars and dialogs. `highlighted` marks the
// main action of a bar; checkable buttons show their checked state.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

Button {
    id: control
    property string tip: ""

    focusPolicy: Qt.NoFocus
    font.family: Theme.fontBody
    font.pixelSize: Theme.sizeControl
    font.weight: highlighted ? Font.DemiBold : Font.Medium
    leftPadding: 12
    rightPadding: 12
    topPadding: 6
    bottomPadding: 6
    hoverEnabled: true

    ToolTip.visible: tip !== "" && hovered
    ToolTip.delay: 600
    ToolTip.text: tip

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.highlighted || control.checked ? Theme.accentText : Theme.text
        opacity: control.enabled ? 1.0 : 0.45
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    background: Rectangle {
        implicitWidth: 64
        implicitHeight: 30
        radius: 4
        opacity: control.enabled ? 1.0 : 0.45
        color: {
            if (control.highlighted) return control.down ? Qt.darker(Theme.accent, 1.25)
                                          : control.hovered ? Qt.lighter(Theme.accent, 1.12) : Theme.accent
            if (control.checked) return Qt.darker(Theme.accent, 1.35)
            const base = Theme.panel
            return control.down ? Qt.darker(base, 1.25) : control.hovered ? Qt.lighter(base, 1.3) : base
        }
        border.width: 1
        border.color: control.checked ? Theme.accent : Theme.panelBorder
    }
}
