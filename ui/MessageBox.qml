// A modal message with OK (and, when asked for, Cancel). The window and the
// pages keep one per purpose, each with its own objectName. Enter answers with
// the default button (OK), Escape with Cancel (or closes a message without one).
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Dialog {
    id: box
    property string text: ""
    property bool cancellable: false
    property string okText: "OK"
    property string cancelText: "Cancel"
    // A line of its own beside the buttons (where an export went); none when empty.
    property string detail: ""

    // Shows the box with a title and a text.
    function show(title, message) {
        box.title = title
        box.text = message
        open()
    }

    onOpened: contentItem.forceActiveFocus()

    modal: true
    focus: true
    anchors.centerIn: T.Overlay.overlay
    width: Math.min(560, (parent ? parent.width : 560) - 80)
    padding: 20
    topPadding: 8
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Theme.messageBackground
        border.color: Theme.panelBorder
        radius: 6
    }
    header: Label {
        text: box.title
        visible: box.title !== ""
        padding: 20
        bottomPadding: 4
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeDialogTitle
        font.weight: Font.DemiBold
        color: Theme.overlayText
        elide: Label.ElideRight
    }
    contentItem: Label {
        objectName: "messageText"
        // Takes the keys while the box is open.
        focus: true
        Keys.onReturnPressed: box.accept()
        Keys.onEnterPressed: box.accept()
        Keys.onEscapePressed: box.reject()
        text: box.text
        wrapMode: Text.Wrap
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeBody
        lineHeight: 1.15
        color: Theme.overlayBody
    }
    // Both buttons on one line at the bottom right, the default one last.
    footer: Item {
        implicitHeight: buttons.implicitHeight + 16
        RowLayout {
            id: buttons
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.leftMargin: 20
            anchors.rightMargin: 20
            spacing: 10
            Text {
                objectName: "messageDetail"
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                text: box.detail
                elide: Text.ElideMiddle
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
                color: Theme.overlayTextDim
            }
            ActionButton {
                objectName: "cancelButton"
                visible: box.cancellable
                text: box.cancelText
                Layout.alignment: Qt.AlignVCenter
                onClicked: box.reject()
            }
            ActionButton {
                objectName: "okButton"
                text: box.okText
                highlighted: true
                Layout.alignment: Qt.AlignVCenter
                onClicked: box.accept()
            }
        }
    }
    T.Overlay.modal: Rectangle { color: Theme.scrim }
}
