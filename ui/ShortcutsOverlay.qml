// Every key of the program in one list (? or F1, anywhere); Escape, ? or a
// click closes it.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Popup {
    id: overlay
    objectName: "shortcutsOverlay"

    // Sections of {key, action}, in the order shown.
    readonly property var sections: [
        { "title": "Everywhere", "keys": [
            { "key": "?  or  F1", "action": "Show or hide this list of keys" },
            { "key": "Ctrl+Q", "action": "Quit (work under way stops first, as on closing the window)" },
            { "key": "Enter", "action": "A message: its default button" },
            { "key": "Esc", "action": "Close a message, a list, the viewer or the compare view" }] },
        { "title": "Cull page", "keys": [
            { "key": "Hover + Space", "action": "Check or uncheck the image under the pointer" },
            { "key": "Click", "action": "Open the image in the viewer" },
            { "key": "↑ ↓  PgUp PgDn", "action": "Scroll the grid" },
            { "key": "Home  End", "action": "Top or bottom of the grid" },
            { "key": "0 – 5", "action": "Stars of the checked images, else of the one under the pointer" },
            { "key": "6  7  8  9", "action": "Colour label red, yellow, green, blue (the same key again clears it)" },
            { "key": "Ctrl+Z  ·  Ctrl+Shift+Z", "action": "Undo  ·  redo a decision (in the viewers too)" },
            { "key": "Esc", "action": "Stop a running cull: nothing of it is kept" }] },
        { "title": "Viewer", "keys": [
            { "key": "← →", "action": "Previous or next image" },
            { "key": "Space  Delete", "action": "Remove from the selection (from a moment: keep or drop)" },
            { "key": "Space", "action": "On a removed image: restore it" },
            { "key": "0 – 5  ·  6 – 9", "action": "Stars  ·  colour label" },
            { "key": "Z", "action": "Fit or 100 % at the pointer" },
            { "key": "Wheel  ·  drag", "action": "Zoom about the pointer  ·  move the image" },
            { "key": "F", "action": "100 % on the largest face" },
            { "key": "I", "action": "Information on the image" },
            { "key": "C", "action": "Compare with the other frames of its moment" },
            { "key": "Click", "action": "Close the viewer" }] },
        { "title": "Moment (cluster) list", "keys": [
            { "key": "Arrows", "action": "Move between the frames" },
            { "key": "Space", "action": "Keep or drop the frame" },
            { "key": "0 – 5  ·  6 – 9", "action": "Stars  ·  colour label" },
            { "key": "Enter", "action": "Open the frame in the viewer" },
            { "key": "C", "action": "Compare" }] },
        { "title": "Compare view", "keys": [
            { "key": "← →", "action": "Step the right frame" },
            { "key": "Enter", "action": "Pin the right frame" },
            { "key": "Space", "action": "Keep or remove the right frame" },
            { "key": "0 – 5  ·  6 – 9", "action": "Stars  ·  colour label of the right frame" },
            { "key": "Z  ·  F  ·  I", "action": "Fit or 100 %  ·  faces at 100 %  ·  information" },
            { "key": "Shift", "action": "Zoom or move one pane only" }] },
        { "title": "Enhance page", "keys": [
            { "key": "← →  Tab  Space", "action": "In the before / after viewer: step, switch, check" }] }
    ]

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(760, (parent ? parent.width : 760) - 80)
    height: Math.min(column.implicitHeight + 40, (parent ? parent.height : 600) - 60)
    z: 40
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    background: Rectangle {
        color: Theme.messageBackground
        border.color: Theme.panelBorder
        radius: 6
    }
    T.Overlay.modal: Rectangle { color: Theme.scrim }

    Flickable {
        anchors.fill: parent
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        focus: true
        Keys.onPressed: (event) => {
            if (event.key === Qt.Key_Question || event.key === Qt.Key_F1) {
                overlay.close()
                event.accepted = true
            }
        }
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: column
            width: parent.width
            spacing: 4
            Text {
                text: "Keys"
                color: Theme.overlayText
                font.pixelSize: Theme.sizeDialogTitle
                font.weight: Font.DemiBold
            }
            Repeater {
                model: overlay.sections
                delegate: ColumnLayout {
                    id: section
                    required property var modelData
                    Layout.fillWidth: true
                    Layout.topMargin: 10
                    spacing: 3
                    Text {
                        text: section.modelData.title
                        color: Theme.overlayHint
                        font.pixelSize: Theme.sizeSectionLabel
                        font.weight: Font.DemiBold
                        font.capitalization: Font.AllUppercase
                    }
                    Repeater {
                        model: section.modelData.keys
                        delegate: RowLayout {
                            id: shortcut
                            required property var modelData
                            Layout.fillWidth: true
                            spacing: 14
                            Text {
                                Layout.preferredWidth: 150
                                text: shortcut.modelData.key
                                color: Theme.overlayText
                                font.family: Theme.fontMono
                                font.pixelSize: Theme.sizeShortcutKey
                            }
                            Text {
                                Layout.fillWidth: true
                                text: shortcut.modelData.action
                                color: Theme.overlayBody
                                font.pixelSize: Theme.sizeDetail
                                wrapMode: Text.Wrap
                            }
                        }
                    }
                }
            }
        }
    }
}
