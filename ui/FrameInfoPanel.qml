// The information panel of the viewer and the compare view (key I): what the
// cull knows about one frame, as the rows of a FrameInfo.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic

Rectangle {
    id: panel

    // The frame shown (an item of the grid or a frame of a moment); null: none.
    property var frame: null
    property string heading: frame ? ViewLogic.baseName(frame.filename) : ""
    readonly property alias rows: info.rows

    color: Theme.viewerBar

    FrameInfo {
        id: info
        frame: panel.frame ? panel.frame : ({})
        // Asked again with every frame: another project may have been opened since.
        projectId: panel.frame ? App.selModel.projectId() : -1
        active: panel.visible
    }

    Flickable {
        anchors.fill: parent
        anchors.margins: 14
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        Column {
            id: column
            width: parent.width
            spacing: 6
            Text {
                objectName: "infoHeading"
                width: parent.width
                text: panel.heading
                color: Theme.overlayText
                font.pixelSize: Theme.sizeBody
                font.weight: Font.DemiBold
                elide: Text.ElideMiddle
            }
            Repeater {
                model: info.rows
                delegate: Row {
                    id: infoRow
                    required property var modelData
                    required property int index
                    readonly property bool isHeading: modelData.value === ""
                    objectName: "infoRow_" + index
                    width: column.width
                    spacing: 8
                    topPadding: isHeading ? 8 : 0
                    Text {
                        width: infoRow.isHeading ? infoRow.width : 104
                        text: infoRow.modelData.label
                        color: infoRow.isHeading ? Theme.overlayText : Theme.overlayHint
                        font.pixelSize: infoRow.isHeading ? Theme.sizeDetail : Theme.sizeCaption
                        font.weight: infoRow.isHeading ? Font.DemiBold : Font.Normal
                        wrapMode: Text.Wrap
                    }
                    Text {
                        visible: !infoRow.isHeading
                        width: infoRow.width - 112
                        text: infoRow.modelData.value
                        color: Theme.overlayBody
                        font.pixelSize: Theme.sizeCaption
                        wrapMode: Text.Wrap
                    }
                }
            }
        }
    }
}
