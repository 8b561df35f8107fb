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
    // The frame's faces with their persons, and whom a face can be given to.
    readonly property alias faces: info.faces
    readonly property alias faceChoices: info.personChoices

    // Gives a face of the frame to another person (-1: nobody); false when nothing changes.
    function moveFace(faceId, personId) {
        for (const face of info.faces)
            if (face.faceId === faceId && face.personId === personId)
                return false
        return info.moveFace(faceId, personId)
    }

    color: Theme.viewerBar

    FrameInfo {
        id: info
        frame: panel.frame ? panel.frame : ({})
        // Asked again with every frame: another project may have been opened since.
        projectId: panel.frame ? App.selModel.projectId() : -1
        active: panel.visible
        edits: PersonEdits
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
            Text {
                objectName: "infoFacesHeading"
                visible: info.faces.length > 0
                width: parent.width
                topPadding: 8
                text: "Who is who"
                color: Theme.overlayText
                font.pixelSize: Theme.sizeDetail
                font.weight: Font.DemiBold
            }
            // One row per face: the person the cull gave it to, which can be changed.
            Repeater {
                model: info.faces
                delegate: Row {
                    id: faceRow
                    required property var modelData
                    required property int index
                    objectName: "infoFace_" + index
                    width: column.width
                    spacing: 8
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 104
                        text: "Face " + (faceRow.index + 1)
                        color: Theme.overlayHint
                        font.pixelSize: Theme.sizeCaption
                    }
                    ComboBox {
                        objectName: "faceMove_" + faceRow.index
                        width: faceRow.width - 112
                        font.pixelSize: Theme.sizeCaption
                        model: panel.faceChoices
                        textRole: "displayName"
                        valueRole: "personId"
                        Component.onCompleted: currentIndex = indexOfValue(faceRow.modelData.personId)
                        onActivated: (at) => panel.moveFace(faceRow.modelData.faceId, valueAt(at))
                    }
                }
            }
        }
    }
}
