// The recurring people of the open project above the grid: one face each, the
// most frames first, with the name and the number of frames. A click on a face
// chooses the person (personChosen: the grid's person filter follows it); the
// name is edited in place; two checked persons are merged into one.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Rectangle {
    id: strip
    objectName: "peopleStrip"

    // The person chosen last (-1: none); shown framed.
    property int chosenId: -1
    // The person whose name is being edited (-1: none).
    property int editingId: -1
    readonly property alias count: people.count
    readonly property alias people: people
    // What the last write that failed said; empty after the next one succeeds.
    property string lastError: ""

    // A person was chosen: `name` as shown, `imageIds` the images they appear in.
    signal personChosen(int personId, string name, var imageIds)

    // Chooses a listed person as a click on their face does; false when not listed.
    function choosePerson(personId) {
        return people.choose(personId)
    }

    function startRename(personId) {
        editingId = personId
    }

    // Stores the edited name when it changed; an empty one takes the name away.
    function finishRename(personId, text, currentName) {
        if (editingId !== personId)
            return
        editingId = -1
        if (text.trim() !== currentName)
            people.rename(personId, text)
    }

    visible: App.selModel.hasData && people.count > 0
    implicitHeight: visible ? 112 : 0
    color: Theme.panel
    border.color: Theme.panelBorder

    PeopleModel {
        id: people
        objectName: "peopleModel"
        edits: PersonEdits
        // Asked again with every change of the review: another project may have been opened.
        projectId: App.selModel.hasData ? App.selModel.projectId() : -1
        imageFolder: App.selModel.inputFolder
        onPersonChosen: (personId, name, imageIds) => {
            strip.chosenId = personId
            strip.personChosen(personId, name, imageIds)
        }
    }

    Connections {
        target: PersonEdits
        function onFailed(message) { strip.lastError = message }
        function onDone() { strip.lastError = "" }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 12
        spacing: 12

        ColumnLayout {
            Layout.fillWidth: false
            Layout.preferredWidth: 150
            Layout.maximumWidth: 150
            Layout.alignment: Qt.AlignVCenter
            spacing: 6
            Text {
                objectName: "peopleTitle"
                text: "People (" + people.count + ")"
                color: Theme.text
                font.pixelSize: Theme.sizeDetail
                font.weight: Font.DemiBold
            }
            Text {
                objectName: "peopleHint"
                Layout.fillWidth: true
                text: strip.lastError !== "" ? strip.lastError
                      : people.checkedIds.length === 2 ? "Merge the two checked persons"
                      : "Click a face to show their frames; check two to merge them"
                color: strip.lastError !== "" ? Theme.errorText : Theme.textDim
                font.pixelSize: Theme.sizeFootnote
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
            }
            ActionButton {
                objectName: "peopleMergeButton"
                text: "Merge"
                enabled: people.checkedIds.length === 2 && !PersonEdits.busy
                tip: "The two checked persons are one: keep them as one person"
                onClicked: people.mergeChecked()
            }
        }

        ListView {
            id: list
            objectName: "peopleList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.topMargin: 6
            Layout.bottomMargin: 4
            orientation: ListView.Horizontal
            spacing: 8
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: people
            ScrollBar.horizontal: ScrollBar { policy: ScrollBar.AsNeeded }

            delegate: Item {
                id: tile
                required property int personId
                required property string name
                required property string displayName
                required property int frameCount
                required property string faceSource
                required property rect faceClip
                required property bool checked
                readonly property bool editing: strip.editingId === personId
                objectName: "personTile_" + personId
                width: 84
                height: list.height

                Rectangle {
                    id: face
                    objectName: "personFace_" + tile.personId
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 60
                    height: 60
                    radius: 4
                    color: Theme.faceTile
                    border.width: strip.chosenId === tile.personId || tile.checked ? 2 : 1
                    border.color: tile.checked ? Theme.marked
                                  : strip.chosenId === tile.personId ? Theme.accent : Theme.faceTileBorder
                    Text {
                        anchors.centerIn: parent
                        visible: crop.status !== Image.Ready
                        text: tile.displayName.charAt(0)
                        color: Theme.overlayMuted
                        font.pixelSize: Theme.sizeTitle
                    }
                    Image {
                        id: crop
                        objectName: "personCrop_" + tile.personId
                        anchors.fill: parent
                        anchors.margins: 2
                        source: tile.faceSource
                        sourceClipRect: tile.faceClip
                        autoTransform: true
                        asynchronous: true
                        cache: false
                        fillMode: Image.PreserveAspectCrop
                    }
                    MouseArea {
                        objectName: "personChoose_" + tile.personId
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: strip.choosePerson(tile.personId)
                    }
                    // The check for a merge, in the corner.
                    Rectangle {
                        objectName: "personCheck_" + tile.personId
                        anchors { top: parent.top; right: parent.right; margins: 3 }
                        width: 16
                        height: 16
                        radius: 3
                        color: tile.checked ? Theme.marked : Theme.checkFill
                        border.color: Theme.checkBorder
                        Text {
                            anchors.centerIn: parent
                            visible: tile.checked
                            text: "✓"
                            color: Theme.accentText
                            font.pixelSize: Theme.sizeFootnote
                        }
                        MouseArea {
                            anchors.fill: parent
                            anchors.margins: -3
                            onClicked: people.toggleChecked(tile.personId)
                        }
                    }
                }

                Text {
                    id: nameText
                    objectName: "personName_" + tile.personId
                    visible: !tile.editing
                    anchors { top: face.bottom; topMargin: 4; left: parent.left; right: parent.right }
                    horizontalAlignment: Text.AlignHCenter
                    text: tile.displayName
                    color: tile.name !== "" ? Theme.text : Theme.textDim
                    font.pixelSize: Theme.sizeCaption
                    font.weight: tile.name !== "" ? Font.Medium : Font.Normal
                    elide: Text.ElideRight
                    MouseArea {
                        objectName: "personRename_" + tile.personId
                        anchors.fill: parent
                        cursorShape: Qt.IBeamCursor
                        ToolTip.visible: containsMouse
                        ToolTip.delay: 600
                        ToolTip.text: "Click to name this person"
                        hoverEnabled: true
                        onClicked: strip.startRename(tile.personId)
                    }
                }
                TextField {
                    id: nameField
                    objectName: "personNameField_" + tile.personId
                    visible: tile.editing
                    anchors { top: face.bottom; topMargin: 2; left: parent.left; right: parent.right }
                    text: tile.name
                    placeholderText: "Name"
                    font.pixelSize: Theme.sizeCaption
                    color: Theme.text
                    placeholderTextColor: Theme.placeholderText
                    leftPadding: 4
                    rightPadding: 4
                    topPadding: 2
                    bottomPadding: 2
                    selectByMouse: true
                    background: Rectangle {
                        color: Theme.field
                        border.color: Theme.accent
                        radius: 3
                    }
                    onVisibleChanged: if (visible) { text = tile.name; forceActiveFocus(); selectAll() }
                    onAccepted: strip.finishRename(tile.personId, text, tile.name)
                    onActiveFocusChanged: {
                        if (!activeFocus && tile.editing)
                            strip.finishRename(tile.personId, text, tile.name)
                    }
                    Keys.onEscapePressed: strip.editingId = -1
                }
                Text {
                    objectName: "personCount_" + tile.personId
                    anchors { bottom: parent.bottom; left: parent.left; right: parent.right }
                    horizontalAlignment: Text.AlignHCenter
                    text: tile.frameCount + (tile.frameCount === 1 ? " frame" : " frames")
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeFootnote
                }
            }
        }
    }
}
