// A one-line text field drawn for the current theme, with an optional label
// above it. `masked` hides what is typed (passwords, access tokens).
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ColumnLayout {
    id: field
    property string label: ""
    property alias text: input.text
    property alias placeholderText: input.placeholderText
    property alias input: input
    property bool masked: false
    property string fieldName: ""
    signal accepted()

    spacing: 5

    Text {
        visible: field.label !== ""
        text: field.label
        color: Theme.textDim
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeCaption
        font.weight: Font.Medium
        elide: Text.ElideRight
        Layout.fillWidth: true
    }
    TextField {
        id: input
        objectName: field.fieldName
        Layout.fillWidth: true
        implicitHeight: 32
        leftPadding: 10
        rightPadding: 10
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeControl
        color: Theme.text
        placeholderTextColor: Theme.placeholderText
        selectionColor: Theme.accent
        selectedTextColor: Theme.accentText
        echoMode: field.masked ? TextInput.Password : TextInput.Normal
        selectByMouse: true
        opacity: enabled ? 1.0 : 0.55
        onAccepted: field.accepted()
        background: Rectangle {
            radius: 4
            color: Theme.field
            border.width: 1
            border.color: input.activeFocus ? Theme.accent : Theme.panelBorder
        }
    }
}
