// A modal dialog of the pages, drawn for the current theme: a title, the
// dialog's own controls, and whatever footer it sets.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T

Dialog {
    id: dialog
    modal: true
    focus: true
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    padding: 20
    topPadding: 6
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.dialog
        border.color: Theme.panelBorder
        radius: 6
    }
    header: Text {
        objectName: "dialogTitle"
        text: dialog.title
        visible: dialog.title !== ""
        padding: 20
        bottomPadding: 8
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeDialogTitle
        font.weight: Font.DemiBold
        color: Theme.text
        elide: Text.ElideRight
    }
    T.Overlay.modal: Rectangle { color: Theme.scrim }
}
