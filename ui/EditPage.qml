// The Enhance page: the kept frames of the open project, checked for the next
// batch. "Enhance" and "Enhance Plus" correct the checked frames in the
// background (the running level's button cancels), the grid shows each
// frame's best correction, "Export" copies the corrections out, and a click
// opens the before/after viewer.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Item {
    id: page
    objectName: "editPage"

    // "", "enhance" or "plus": the level of the batch this page started.
    property string runningLevel: ""
    property int progressDone: 0
    property int progressTotal: 0
    // The row under the pointer, for Space.
    property int hoveredRow: -1

    readonly property bool hasProject: cells.hasProject
    readonly property bool running: runningLevel !== ""
    // An export of the corrections this page started runs.
    property bool exporting: false
    property int exportDone: 0

    // The kept frames are read again each time the page is shown.
    function reload() {
        viewer.close()
        hoveredRow = -1
        cells.reload()
        grid.positionViewAtBeginning()
        grid.forceActiveFocus()
    }

    // "Enhance" / "Enhance Plus": starts a batch of the checked frames, or
    // cancels the batch of that level.
    function enhanceClicked(plus) {
        if (running) {
            if (runningLevel === (plus ? "plus" : "enhance"))
                App.selModel.cancelEnhance()
            return
        }
        if (!App.selModel.enhanceImagesParallel(cells.checkedIds(), cells.checkedNames(), plus)) {
            resetRun()
            return
        }
        runningLevel = plus ? "plus" : "enhance"
        progressDone = 0
        progressTotal = App.selModel.enhanceProgressTotal()
        progressTimer.start()
    }

    function resetRun() {
        progressTimer.stop()
        runningLevel = ""
        progressDone = 0
        progressTotal = 0
    }

    // A batch ended (completed or cancelled): the grid shows the new files,
    // and the frames that kept no file are named.
    function batchEnded() {
        const plus = runningLevel === "plus"
        const failures = App.selModel.enhanceFailures()
        resetRun()
        cells.refreshEdited()
        viewer.refresh()
        if (failures.length > 0)
            failureBox.show(plus ? "Enhance Plus" : "Enhance", ViewLogic.enhanceFailureText(failures))
    }

    // Copies the corrections into `folderUrl` in the background; exportEnded() tells the result.
    function exportEnhancedTo(folderUrl) {
        if (!App.selModel.startExportEdited(ViewLogic.localPath(folderUrl.toString())))
            return
        exporting = true
        exportPoll.start()
    }

    // The export this page started has ended (completed or stopped).
    function exportEnded(result) {
        if (!exporting)
            return
        exporting = false
        exportPoll.stop()
        const copied = result.enhanced + result.plus
        exportResult.folder = copied > 0 && result.destination ? result.destination : ""
        exportResult.detail = exportResult.folder !== "" ? "In " + exportResult.folder : ""
        exportResult.show(result.stopped ? "Export stopped" : "Export complete",
                          ViewLogic.enhancedExportText(result.enhanced, result.plus))
    }

    function openViewer(row) {
        viewer.openAt(row)
    }

    onVisibleChanged: if (visible) reload()

    Connections {
        target: App.selModel
        function onEnhanceFinished() { page.batchEnded() }
        function onExportFinished(result) { page.exportEnded(result) }
    }

    Timer {
        id: exportPoll
        interval: 100
        repeat: true
        onTriggered: page.exportDone = App.selModel.exportProgressDone()
    }

    Timer {
        id: progressTimer
        interval: 120
        repeat: true
        onTriggered: {
            page.progressDone = App.selModel.enhanceProgressDone()
            if (!App.selModel.enhanceIsRunning())
                stop()
        }
    }

    EnhanceGridModel {
        id: cells
        objectName: "enhanceCells"
        selection: App.selModel
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Title, checks and the batch actions.
        Rectangle {
            objectName: "enhanceToolbar"
            Layout.fillWidth: true
            implicitHeight: 52
            color: Theme.panel
            border.color: Theme.panelBorder
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 18
                anchors.rightMargin: 12
                spacing: 6
                Text {
                    objectName: "enhanceTitle"
                    text: "Enhance"
                    color: Theme.text
                    font.pixelSize: Theme.sizeTitle
                    font.weight: Font.DemiBold
                    Layout.rightMargin: 12
                }
                Text {
                    objectName: "checkedCounter"
                    text: cells.checkedCount + " of " + cells.count + " selected"
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeDetail
                    Layout.preferredWidth: 130
                }
                ActionButton {
                    objectName: "selectAllButton"
                    text: "Select All"
                    enabled: page.hasProject && cells.checkedCount < cells.count
                    onClicked: cells.setAllChecked(true)
                }
                ActionButton {
                    objectName: "uncheckAllButton"
                    text: "Uncheck All"
                    enabled: page.hasProject && cells.checkedCount > 0
                    onClicked: cells.setAllChecked(false)
                }
                Item { Layout.fillWidth: true }
                ActionButton {
                    objectName: "restoreButton"
                    text: "Restore"
                    enabled: page.hasProject && cells.checkedCount > 0
                }
                Rectangle {
                    implicitWidth: 1
                    implicitHeight: 22
                    color: Theme.panelBorder
                    Layout.leftMargin: 6
                    Layout.rightMargin: 6
                }
                ActionButton {
                    objectName: "enhanceButton"
                    text: page.runningLevel === "enhance" ? "Cancel" : "Enhance"
                    highlighted: true
                    enabled: page.runningLevel === "enhance"
                             || (!page.running && page.hasProject && cells.checkedCount > 0)
                    tip: "Exposure, white balance and tone"
                    onClicked: page.enhanceClicked(false)
                }
                ActionButton {
                    objectName: "enhancePlusButton"
                    text: page.runningLevel === "plus" ? "Cancel" : "Enhance Plus"
                    highlighted: true
                    enabled: page.runningLevel === "plus"
                             || (!page.running && page.hasProject && cells.checkedCount > 0)
                    tip: "The full correction: adds curves, shadows, highlights and sharpening"
                    onClicked: page.enhanceClicked(true)
                }
                ActionButton {
                    objectName: "exportEnhancedButton"
                    text: page.exporting ? "Cancel Export" : "Export"
                    enabled: page.exporting || (page.hasProject && !page.running && !App.selModel.exportRunning)
                    tip: "Copy the corrected images into 'enhanced' and 'enhanced_plus'"
                    onClicked: page.exporting ? App.selModel.cancelExport() : exportFolderDialog.open()
                }
            }
        }

        // The running batch.
        Rectangle {
            objectName: "enhanceProgressRow"
            Layout.fillWidth: true
            visible: page.running || page.exporting
            implicitHeight: 40
            color: Theme.statusStrip
            RowLayout {
                anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter;
                          leftMargin: 18; rightMargin: 18 }
                spacing: 14
                ProgressBar {
                    id: bar
                    objectName: "enhanceProgress"
                    Layout.preferredWidth: 320
                    from: 0
                    to: Math.max(1, page.exporting ? App.selModel.exportProgressTotal() : page.progressTotal)
                    value: page.exporting ? page.exportDone : page.progressDone
                    background: Rectangle {
                        implicitHeight: 6
                        radius: 3
                        color: Theme.progressTrack
                    }
                    contentItem: Item {
                        implicitHeight: 6
                        Rectangle {
                            width: bar.visualPosition * parent.width
                            height: parent.height
                            radius: 3
                            color: Theme.accent
                        }
                    }
                }
                Text {
                    objectName: "enhanceProgressLabel"
                    Layout.fillWidth: true
                    text: page.exporting
                          ? ViewLogic.exportProgressText(page.exportDone, App.selModel.exportProgressTotal())
                          : ViewLogic.enhanceProgressText(page.runningLevel === "plus", page.progressDone,
                                                          page.progressTotal)
                    color: Theme.text
                    font.pixelSize: Theme.sizeDetail
                }
            }
        }

        // Keys of the page and the viewer.
        Rectangle {
            objectName: "enhanceShortcuts"
            Layout.fillWidth: true
            visible: page.hasProject
            implicitHeight: 30
            color: "transparent"
            Row {
                anchors { left: parent.left; leftMargin: 18; verticalCenter: parent.verticalCenter }
                spacing: 26
                Repeater {
                    model: [["Click a thumbnail", "Open Before / After"],
                            ["In viewer:", "← →  Navigate   ·   Tab  Enhance / Plus   ·   "
                                           + "Space  Select   ·   Esc  Close"]]
                    delegate: Row {
                        required property var modelData
                        spacing: 7
                        Text {
                            text: parent.modelData[0]
                            color: Theme.text
                            font.pixelSize: Theme.sizeCaption
                            font.weight: Font.DemiBold
                        }
                        Text {
                            text: parent.modelData[1]
                            color: Theme.textDim
                            font.pixelSize: Theme.sizeCaption
                        }
                    }
                }
            }
        }

        // No project open.
        Item {
            objectName: "enhanceEmptyState"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: !page.hasProject
            Column {
                anchors.centerIn: parent
                spacing: 12
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Open a project first"
                    color: Theme.text
                    font.pixelSize: Theme.sizeEmptyTitle
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Open a culled project from Home, then return to the Enhance tab."
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeBody
                }
            }
        }

        // As many columns as fit, centred.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: page.hasProject

            GridView {
                id: grid
                objectName: "enhanceGrid"
                readonly property int spacing: 12
                width: Math.max(1, Math.floor((parent.width - 24) / cellWidth)) * cellWidth
                height: parent.height
                anchors.horizontalCenter: parent.horizontalCenter
                clip: true
                focus: true
                model: cells
                cellWidth: 320 + spacing
                cellHeight: Math.round(320 * 0.72) + 34 + spacing
                topMargin: 10
                bottomMargin: 18
                cacheBuffer: cellHeight
                boundsBehavior: Flickable.StopAtBounds
                keyNavigationEnabled: false
                ScrollBar.vertical: ScrollBar {
                    objectName: "enhanceGridScrollBar"
                    parent: grid.parent
                    anchors { top: grid.top; bottom: grid.bottom; right: parent.right }
                    policy: ScrollBar.AsNeeded
                }
                Keys.onPressed: (event) => {
                    if (event.key !== Qt.Key_Space)
                        return
                    if (page.hoveredRow >= 0 && !viewer.opened)
                        cells.toggle(page.hoveredRow)
                    event.accepted = true
                }
                TapHandler {
                    onTapped: grid.forceActiveFocus()
                }

                delegate: EnhanceCell {
                    onCheckToggled: (row) => { grid.forceActiveFocus(); cells.toggle(row) }
                    onOpened: (row) => page.openViewer(row)
                    onHoverMoved: (row, hovered) => {
                        if (hovered)
                            page.hoveredRow = row
                        else if (page.hoveredRow === row)
                            page.hoveredRow = -1
                    }
                }
            }
        }
    }

    BeforeAfterViewer {
        id: viewer
        cells: cells
        onClosed: grid.forceActiveFocus()
    }

    Connections {
        target: cells
        function onDataChanged() { viewer.refresh() }
    }

    FolderPicker {
        id: exportFolderDialog
        objectName: "enhancedExportDialog"
        title: "Choose a folder to export enhanced images"
        currentFolder: Folders.exportStartFolder(App.selModel.inputFolder)
        onFolderChosen: (folder) => page.exportEnhancedTo(folder)
    }
    // The result names the folder and opens it on request.
    MessageBox {
        id: exportResult
        objectName: "enhancedExportResultDialog"
        property string folder: ""
        cancellable: folder !== ""
        okText: folder !== "" ? "Open Folder" : "OK"
        cancelText: "Close"
        onAccepted: if (folder !== "") Folders.openFolder(folder)
    }
    MessageBox {
        id: failureBox
        objectName: "enhanceFailureDialog"
    }
}
