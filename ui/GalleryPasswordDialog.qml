// "Change password — <title>": sets a new password for one gallery; closes
// when the service has taken it, shows the reason when it has not.
import QtQuick
import KeepframeUI
import QtQuick.Layouts

ToolDialog {
    id: dialog
    objectName: "galleryPasswordDialog"
    title: "Change password — " + galleryTitle
    width: Math.min(480, (parent ? parent.width : 480) - 80)

    required property DeliverModel plan
    property string galleryId: ""
    property string galleryTitle: ""
    property string errorText: ""
    property bool busy: false

    function openFor(gallery) {
        galleryId = gallery.galleryId
        galleryTitle = gallery.title
        errorText = ""
        busy = false
        passwordField.text = ""
        open()
        passwordField.input.forceActiveFocus()
    }

    function submit() {
        errorText = ""
        busy = true
        App.delivery.changeGalleryPassword(galleryId, passwordField.text)
    }

    Connections {
        target: App.delivery
        enabled: dialog.opened
        function onPasswordChanged(galleryId) {
            if (galleryId !== dialog.galleryId)
                return
            dialog.busy = false
            dialog.close()
        }
        function onPasswordChangeFailed(reason) {
            dialog.busy = false
            dialog.errorText = dialog.plan.readableReason(reason)
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        FormField {
            id: passwordField
            fieldName: "newPasswordField"
            Layout.fillWidth: true
            label: "New password (share it with your client)"
            placeholderText: "New password for this gallery"
            onAccepted: if (!dialog.busy) dialog.submit()
        }
        Text {
            objectName: "passwordError"
            Layout.fillWidth: true
            visible: text !== ""
            text: dialog.errorText
            color: Theme.errorText
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeDetail
            wrapMode: Text.Wrap
        }
    }

    footer: RowLayout {
        spacing: 10
        Item { Layout.fillWidth: true }
        ActionButton {
            objectName: "passwordCancelButton"
            text: "Cancel"
            Layout.bottomMargin: 16
            onClicked: dialog.close()
        }
        ActionButton {
            objectName: "passwordSaveButton"
            text: "Change Password"
            highlighted: true
            enabled: !dialog.busy
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: dialog.submit()
        }
    }
}
