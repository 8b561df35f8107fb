// A result with the files it concerns: a text, then each file with its
// reason in a list that scrolls when it is long, and OK.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ToolDialog {
    id: dialog
    width: Math.min(640, (parent ? parent.width : 640) - 80)

    property string text: ""
    // Heading of the list, shown when there are rows.
    property string listTitle: ""
    // [{"file", "reason"}]
    property var rows: []

    function show(title, message, fileRows) {
        dialog.title = title
        dialog.text = message
        dialog.rows = fileRows
        open()
        list.positionViewAtBeginning()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10
        Text {
            objectName: "fileListText"
            Layout.fillWidth: true
            visible: text !== ""
            text: dialog.text
            color: Theme.text
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeBody
            lineHeight: 1.15
            wrapMode: Text.Wrap
        }
        SectionLabel {
            visible: dialog.rows.length > 0 && dialog.listTitle !== ""
            text: dialog.listTitle
        }
        ListView {
            id: list
            objectName: "fileList"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 280)
            visible: dialog.rows.length > 0
            clip: true
            spacing: 8
            boundsBehavior: Flickable.StopAtBounds
            model: dialog.rows
            // Shown for as long as the list is longer than its view, so that it reads as scrolling.
            ScrollBar.vertical: ScrollBar {
                objectName: "fileListScrollBar"
                policy: ScrollBar.AlwaysOn
                visible: list.contentHeight > list.height + 1
            }
            delegate: Column {
                required property var modelData
                objectName: "fileRow_" + modelData.file
                width: ListView.view.width - 14
                spacing: 1
                Text {
                    width: parent.width
                    text: parent.modelData.file
                    color: Theme.text
                    font.family: Theme.fontBody
                    font.pixelSize: Theme.sizeDetail
                    font.weight: Font.Medium
                    elide: Text.ElideMiddle
                }
                Text {
                    width: parent.width
                    text: parent.modelData.reason
                    color: Theme.textDim
                    font.family: Theme.fontBody
                    font.pixelSize: Theme.sizeCaption
                    wrapMode: Text.Wrap
                }
            }
        }
    }

    footer: RowLayout {
        Item { Layout.fillWidth: true }
        ActionButton {
            objectName: "fileListOkButton"
            text: "OK"
            highlighted: true
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: dialog.close()
        }
    }
}
