// The Home page: the project library. "New Project" starts a cull of a new
// folder; a card opens its project, and its menu renames or deletes it. The
// window reacts to the three signals and calls refresh() whenever the page
// becomes active and after every cull. Nothing can be started while a cull runs.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import QtQuick.Layouts

Item {
    id: page
    objectName: "homePage"

    signal newProjectRequested()
    signal projectOpened(int projectId, string name, string inputFolder)
    signal libraryChanged()

    // The library as selModel lists it: one map per project.
    property var projects: []
    readonly property bool busy: App.engine.running
    readonly property int cardWidth: 256
    readonly property int cardHeight: 236
    readonly property int cardSpacing: 18
    // As many columns of cards as fit, centred.
    readonly property int columns: Math.max(1, Math.floor((width - 48) / (cardWidth + cardSpacing)))
    readonly property int gridWidth: columns * (cardWidth + cardSpacing)

    // Why the library could not be read (empty when it was).
    property string libraryError: ""

    // Re-reads the project list.
    function refresh() {
        projects = App.selModel.listProjects()
        libraryError = App.selModel.storeError()
    }

    function openCardMenu(project) {
        cardMenu.project = project
        cardMenu.popup()
    }

    function askRename(project) {
        renameDialog.project = project
        renameField.text = project.name
        renameField.selectAll()
        renameDialog.open()
        renameField.forceActiveFocus()
    }

    // A blank name changes nothing.
    function renameProject(projectId, text) {
        const name = text.trim()
        if (name === "")
            return
        const renamed = App.selModel.renameProject(projectId, name)
        refresh()
        if (renamed)
            libraryChanged()
        else
            problem.show("Rename project", "The project could not be renamed.")
    }

    function askDelete(project) {
        deleteDialog.project = project
        deleteDialog.show("Delete project", ViewLogic.deleteProjectQuestion(project.name))
    }

    function deleteProject(projectId) {
        const deleted = App.selModel.deleteProject(projectId)
        refresh()
        if (deleted)
            libraryChanged()
        else
            problem.show("Delete project", "The project could not be deleted.")
    }

    Component.onCompleted: refresh()

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 26
        spacing: 0

        ActionButton {
            objectName: "newProjectButton"
            Layout.alignment: Qt.AlignHCenter
            text: "+  New Project"
            highlighted: true
            enabled: !page.busy
            font.pixelSize: Theme.sizeLeadButton
            leftPadding: 28
            rightPadding: 28
            topPadding: 11
            bottomPadding: 11
            onClicked: page.newProjectRequested()
        }

        Rectangle {
            objectName: "homeDivider"
            Layout.fillWidth: true
            Layout.leftMargin: 36
            Layout.rightMargin: 36
            Layout.topMargin: 24
            implicitHeight: 1
            color: Theme.panelBorder
        }

        Text {
            objectName: "yourProjectsLabel"
            Layout.leftMargin: Math.max(36, (page.width - page.gridWidth + page.cardSpacing) / 2)
            Layout.topMargin: 18
            Layout.bottomMargin: 12
            text: "Your Projects"
            color: Theme.text
            font.pixelSize: Theme.sizeTitle
            font.weight: Font.DemiBold
        }

        // No project stored yet.
        Item {
            objectName: "homeEmptyState"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: page.projects.length === 0
            Column {
                anchors.horizontalCenter: parent.horizontalCenter
                y: Math.max(0, parent.height * 0.3 - height / 2)
                spacing: 10
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: page.libraryError === "" ? "No projects yet" : "The project library cannot be read"
                    color: Theme.text
                    font.pixelSize: Theme.sizeListEmptyTitle
                    font.weight: Font.DemiBold
                }
                Text {
                    objectName: "homeEmptyDetail"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: Math.min(implicitWidth, page.width - 72)
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    text: page.libraryError === "" ? "Click “New Project” to cull a folder of photos."
                                                   : page.libraryError
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeBody
                }
            }
        }

        // The cards.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: page.projects.length > 0

            GridView {
                id: grid
                objectName: "projectGrid"
                width: page.gridWidth
                height: parent.height
                anchors.horizontalCenter: parent.horizontalCenter
                clip: true
                cellWidth: page.cardWidth + page.cardSpacing
                cellHeight: page.cardHeight + page.cardSpacing
                bottomMargin: 18
                boundsBehavior: Flickable.StopAtBounds
                cacheBuffer: 2 * cellHeight
                model: page.projects
                ScrollBar.vertical: ScrollBar {
                    objectName: "projectGridScrollBar"
                    parent: grid.parent
                    anchors { top: grid.top; bottom: grid.bottom; right: parent.right }
                    policy: ScrollBar.AsNeeded
                }

                delegate: Item {
                    id: slot
                    required property var modelData
                    width: grid.cellWidth
                    height: grid.cellHeight

                    Rectangle {
                        id: card
                        objectName: "projectCard_" + slot.modelData.id
                        readonly property string name: slot.modelData.name
                        x: page.cardSpacing / 2
                        width: page.cardWidth
                        height: page.cardHeight
                        radius: 8
                        color: Theme.card
                        enabled: !page.busy
                        opacity: enabled ? 1.0 : 0.5
                        border.width: cardArea.containsMouse ? 2 : 0
                        border.color: Theme.accent
                        clip: true

                        Rectangle {
                            id: coverArea
                            x: 6
                            y: 6
                            width: parent.width - 12
                            height: 158
                            radius: 5
                            color: Theme.cardCover
                            clip: true
                            Image {
                                id: cover
                                objectName: "cardCover"
                                anchors.fill: parent
                                source: slot.modelData.coverThumbUrl
                                asynchronous: true
                                cache: true
                                autoTransform: true
                                fillMode: Image.PreserveAspectCrop
                                sourceSize.width: 400
                            }
                            Text {
                                objectName: "cardNoPreview"
                                anchors.centerIn: parent
                                visible: slot.modelData.coverThumbUrl === "" || cover.status === Image.Error
                                text: "No preview"
                                color: Theme.cardCoverText
                                font.pixelSize: Theme.sizeDetail
                            }
                        }
                        Text {
                            objectName: "cardName"
                            anchors { left: parent.left; right: parent.right; top: coverArea.bottom;
                                      leftMargin: 12; rightMargin: 12; topMargin: 12 }
                            text: slot.modelData.name
                            color: Theme.cardText
                            font.pixelSize: Theme.sizeCardTitle
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "cardLine"
                            anchors { left: parent.left; right: parent.right; bottom: parent.bottom;
                                      leftMargin: 12; rightMargin: 12; bottomMargin: 14 }
                            text: ViewLogic.projectCardLine(slot.modelData.createdAt, slot.modelData.totalImages,
                                                            slot.modelData.userSelectedCount)
                            color: Theme.cardSub
                            font.pixelSize: Theme.sizeCaption
                            elide: Text.ElideRight
                        }
                        MouseArea {
                            id: cardArea
                            objectName: "cardArea"
                            anchors.fill: parent
                            hoverEnabled: true
                            acceptedButtons: Qt.LeftButton | Qt.RightButton
                            cursorShape: Qt.PointingHandCursor
                            onClicked: (mouse) => {
                                if (mouse.button === Qt.RightButton)
                                    page.openCardMenu(slot.modelData)
                                else
                                    page.projectOpened(slot.modelData.id, slot.modelData.name,
                                                       slot.modelData.inputFolder)
                            }
                        }
                    }
                }
            }
        }
    }

    component MenuEntry: MenuItem {
        id: entry
        implicitWidth: 170
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeControl
        contentItem: Text {
            leftPadding: 6
            text: entry.text
            font: entry.font
            color: Theme.overlayText
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitHeight: 32
            color: entry.highlighted ? Theme.accent : "transparent"
            radius: 3
        }
    }

    Menu {
        id: cardMenu
        objectName: "projectMenu"
        property var project: ({})
        padding: 4
        background: Rectangle {
            implicitWidth: 170
            color: Theme.menuBackground
            border.color: Theme.panelBorder
            radius: 5
        }
        MenuEntry {
            objectName: "renameMenuItem"
            text: "Rename…"
            onTriggered: page.askRename(cardMenu.project)
        }
        MenuEntry {
            objectName: "deleteMenuItem"
            text: "Delete"
            onTriggered: page.askDelete(cardMenu.project)
        }
    }

    Dialog {
        id: renameDialog
        objectName: "renameDialog"
        property var project: ({})
        title: "Rename project"
        modal: true
        focus: true
        anchors.centerIn: T.Overlay.overlay
        width: 420
        padding: 20
        topPadding: 8
        closePolicy: Popup.CloseOnEscape
        onAccepted: page.renameProject(project.id, renameField.text)

        background: Rectangle {
            color: Theme.messageBackground
            border.color: Theme.panelBorder
            radius: 6
        }
        header: Label {
            text: renameDialog.title
            padding: 20
            bottomPadding: 4
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeDialogTitle
            font.weight: Font.DemiBold
            color: Theme.overlayText
        }
        TextField {
            id: renameField
            anchors.fill: parent
            objectName: "renameField"
            placeholderText: "Project name"
            placeholderTextColor: Theme.overlayPlaceholder
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeBody
            color: Theme.overlayText
            selectByMouse: true
            background: Rectangle {
                implicitHeight: 34
                radius: 4
                color: Theme.messageField
                border.color: renameField.activeFocus ? Theme.accent : Theme.panelBorder
            }
            onAccepted: renameDialog.accept()
        }
        footer: RowLayout {
            spacing: 10
            Item { Layout.fillWidth: true }
            ActionButton {
                objectName: "renameCancelButton"
                text: "Cancel"
                Layout.bottomMargin: 16
                onClicked: renameDialog.reject()
            }
            ActionButton {
                objectName: "renameOkButton"
                text: "OK"
                highlighted: true
                Layout.rightMargin: 20
                Layout.bottomMargin: 16
                onClicked: renameDialog.accept()
            }
        }
        T.Overlay.modal: Rectangle { color: Theme.scrim }
    }

    MessageBox {
        id: deleteDialog
        objectName: "deleteDialog"
        property var project: ({})
        cancellable: true
        okText: "Yes"
        cancelText: "No"
        onAccepted: page.deleteProject(project.id)
    }

    MessageBox {
        id: problem
        objectName: "homeProblemDialog"
    }
}
