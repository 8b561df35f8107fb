// A folder dialog that answers with the folder the user meant (FolderChoice):
// the one it shows, unless the user picked a sub-folder in its list. Where Qt
// Quick draws the dialog, a "New Folder…" button beside its own makes a folder
// inside the one shown and moves there.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts

FolderDialog {
    id: dialog

    // The user accepted; `folder` is the folder meant.
    signal folderChosen(url folder)

    readonly property FolderChoice choice: FolderChoice {
        dialog: dialog
        extraButton: dialog.newFolderButton
    }

    // Makes the folder `name` inside the folder shown and shows it; false,
    // with the reason on the prompt, when it cannot be made.
    function makeFolder(name) {
        const made = String(Folders.makeFolder(dialog.currentFolder, name))
        if (made === "") {
            dialog.newFolderPrompt.problem = "This folder cannot be made here: the name is taken or not allowed."
            return false
        }
        dialog.choice.showFolder(made)
        dialog.newFolderPrompt.close()
        return true
    }

    readonly property Item newFolderButton: ActionButton {
        objectName: "newFolderButton"
        text: "New Folder…"
        DialogButtonBox.buttonRole: DialogButtonBox.ActionRole // qmllint disable
        onClicked: dialog.newFolderPrompt.open()
    }

    readonly property Popup newFolderPrompt: Popup {
        id: prompt
        objectName: "newFolderPrompt"
        property string problem: ""
        parent: dialog.parentWindow ? dialog.parentWindow.contentItem : null // qmllint disable
        anchors.centerIn: parent
        modal: true
        focus: true
        padding: 16
        onOpened: {
            problem = ""
            nameField.text = ""
            nameField.forceActiveFocus()
        }
        background: Rectangle {
            color: Theme.messageBackground
            border.color: Theme.panelBorder
            radius: 6
        }
        ColumnLayout {
            spacing: 10
            Label {
                text: "New folder"
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeDialogTitle
                font.weight: Font.DemiBold
                color: Theme.overlayText
            }
            TextField {
                id: nameField
                objectName: "newFolderName"
                Layout.preferredWidth: 320
                placeholderText: "Folder name"
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeBody
                onAccepted: dialog.makeFolder(text)
                Keys.onEscapePressed: prompt.close()
            }
            Label {
                objectName: "newFolderProblem"
                visible: prompt.problem !== ""
                Layout.preferredWidth: 320
                text: prompt.problem
                wrapMode: Text.Wrap
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
                color: Theme.warnText
            }
            RowLayout {
                spacing: 10
                Item { Layout.fillWidth: true }
                ActionButton {
                    objectName: "newFolderCancel"
                    text: "Cancel"
                    onClicked: prompt.close()
                }
                ActionButton {
                    objectName: "newFolderCreate"
                    text: "Create"
                    highlighted: true
                    enabled: nameField.text.trim() !== ""
                    onClicked: dialog.makeFolder(nameField.text)
                }
            }
        }
    }

    onAccepted: folderChosen(choice.chosenFolder())
}
