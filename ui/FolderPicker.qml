// A folder dialog that answers with the folder the user meant (FolderChoice):
// the one it shows, unless the user picked a sub-folder in its list.
import QtQuick
import KeepframeUI
import QtQuick.Dialogs

FolderDialog {
    id: dialog

    // The user accepted; `folder` is the folder meant.
    signal folderChosen(url folder)

    readonly property FolderChoice choice: FolderChoice {
        dialog: dialog
    }

    onAccepted: folderChosen(choice.chosenFolder())
}
