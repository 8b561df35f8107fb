// The Cull page: the progress of a running cull, then the review of its
// result: the grid of kept frames by sub-folder or category, the For Review
// pool, the Removed section, batch actions on checked frames and the export.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Item {
    id: page
    objectName: "cullPage"

    property bool active: false
    property var resultSummary: ({})
    property string statusText: ""
    property string summaryText: ""
    property real progressValue: 0

    signal homeRequested()
    signal cancelCullRequested()
    signal openProjectFileRequested()
    signal saveProjectFileRequested()

    // "time" (capture order, grouped by sub-folder) or "category".
    property string viewMode: "time"
    // Clusters whose popup was opened and closed, as "category:number".
    property var reviewedClusters: ({})
    property int reviewedTick: 0
    // File names checked for a batch action.
    property var markedMap: ({})
    property int markCount: 0
    property string hoveredFilename: ""
    // The file last shown in the viewer; its cell is framed.
    property string scrollToFilename: ""
    property alias includeUnselected: unselectedBox.checked
    // The export's choice of kept frames by their marks: at least this many
    // stars (0: any) or, with exportLabelled, a colour label.
    property int exportMinStars: 0
    property bool exportLabelled: false
    // The export this page started runs; its layout, for the result text.
    property bool exporting: false
    property bool exportByCategory: false
    property bool exportWithUnselected: false
    property int exportDone: 0
    property int exportTotal: 0

    readonly property bool running: App.engine.running
    readonly property bool loaded: App.selModel.hasData
    readonly property string imageFolder: App.selModel.inputFolder
    readonly property int cellHeight: Theme.thumbImageHeight + 40
    readonly property int cellSpacing: 10
    // "2 files skipped · 1 damaged" after a cull that left files out.
    readonly property string leftOutNote: ViewLogic.leftOutNote(resultSummary)

    // A new cull starts: the last project's grid goes at once.
    function resetForNewCull() {
        closeOverlays()
        rows.clear()
        clearMarks()
        clearReviewed()
        scrollToFilename = ""
    }

    // A project was loaded, opened from a file or culled.
    function resetForLoadedProject() {
        closeOverlays()
        clearMarks()
        clearReviewed()
        scrollToFilename = ""
        viewMode = "time"
        rows.refresh()
        scrollToTop()
    }

    function refreshGrid() {
        rows.refresh()
    }

    function closeOverlays() {
        compareView.close()
        lightbox.close()
        clusterPopup.close()
        preview.shown = false
    }

    function clearMarks() {
        markedMap = {}
        markCount = 0
    }

    function toggleMark(filename) {
        if (filename === "")
            return
        const next = Object.assign({}, markedMap)
        if (next[filename])
            delete next[filename]
        else
            next[filename] = true
        markedMap = next
        markCount = Object.keys(next).length
    }

    function markedFiles() {
        return Object.keys(markedMap)
    }

    function removeMarked() {
        App.selModel.removeMany(markedFiles())
        clearMarks()
    }

    function restoreMarked() {
        App.selModel.restoreMany(markedFiles())
        clearMarks()
    }

    // The keys 0 to 9 on the grid: stars and labels of the checked frames,
    // else of the frame under the pointer.
    function pressDigit(digit) {
        const files = markCount > 0 ? markedFiles() : hoveredFilename !== "" ? [hoveredFilename] : []
        if (files.length > 0)
            App.selModel.pressDigit(files, digit)
    }

    function clearReviewed() {
        reviewedClusters = {}
        reviewedTick++
    }

    function isReviewed(category, clusterNumber, tick) {
        return reviewedClusters[category + ":" + clusterNumber] === true
    }

    function setViewMode(mode) {
        viewMode = mode
        focusResults()
    }

    function focusResults() {
        results.forceActiveFocus()
    }

    // Opens the viewer on the grid's order at `filename`.
    function openViewer(filename) {
        preview.shown = false
        const list = viewMode === "category" ? App.selModel.flatViewByCategory() : App.selModel.flatView()
        const at = Math.max(0, ViewLogic.indexOfEntry(list, "filename", filename))
        lightbox.openList(list, at, "grid")
    }

    function openCluster(category, clusterNumber) {
        preview.shown = false
        clusterPopup.openForCluster(category, clusterNumber)
    }

    function openForReview() {
        preview.shown = false
        clusterPopup.openUnselected()
    }

    // "Export Final Selection": asks first when the unselected images are to
    // be copied too, then asks for the folder.
    function startExport() {
        if (includeUnselected) {
            const preview = App.selModel.unselectedExportPreview()
            if (preview.count > 0) {
                exportQuestion.show("Export unselected images?",
                                    ViewLogic.unselectedExportQuestion(preview.count, preview.sizeBytes))
                return
            }
        }
        exportFolderDialog.open()
    }

    // Copies the final selection into `folderUrl` (the folder dialog's action)
    // in the background; exportEnded() tells the result.
    function exportFinalTo(folderUrl) {
        const byCategory = viewMode === "category"
        const options = { "byCategory": byCategory, "includeUnselected": includeUnselected,
                          "minStars": exportMinStars, "labelled": exportLabelled }
        if (!App.selModel.startExportFinal(ViewLogic.localPath(folderUrl.toString()), options))
            return
        exporting = true
        exportByCategory = byCategory
        exportWithUnselected = includeUnselected
        exportDone = 0
        exportTotal = App.selModel.exportProgressTotal()
        exportPoll.start()
    }

    // The export this page started has ended (completed or stopped).
    function exportEnded(result) {
        if (!exporting)
            return
        exporting = false
        exportPoll.stop()
        exportResult.folder = result.destination ? result.destination : ""
        exportResult.detail = exportResult.folder !== "" ? "In " + exportResult.folder : ""
        exportResult.show(result.stopped ? "Export stopped" : "Export complete",
                          ViewLogic.exportReportText(result, exportByCategory, exportWithUnselected))
    }

    function setExportMarks(minStars, labelled) {
        exportMinStars = minStars
        exportLabelled = labelled
    }

    // The files the last cull skipped or found damaged, with the reasons.
    function showLeftOut() {
        leftOutDialog.show("Files left out", "Skipped files were not analysed and are not in the project. Damaged "
                           + "files could be read only in part: they are in the project but never picked.",
                           ViewLogic.leftOutFiles(resultSummary))
    }

    // The result of writing (or removing) the XMP sidecars.
    function showXmpResult(result, removed) {
        xmpResult.listTitle = "Skipped and failed"
        xmpResult.show(result.error ? "XMP sidecars" : removed ? "Sidecar values removed" : "XMP sidecars written",
                       ViewLogic.xmpResultText(result), ViewLogic.xmpProblemFiles(result))
    }

    // Scrolls the grid so that the row of `filename` is in view.
    function revealFile(filename) {
        const row = rows.rowOfFile(filename)
        if (row >= 0)
            results.positionViewAtIndex(row, ListView.Contain)
    }

    function scrollResults(dy) {
        const top = results.originY - results.topMargin
        const bottom = Math.max(top, results.originY + results.contentHeight + results.bottomMargin - results.height)
        results.contentY = Math.max(top, Math.min(bottom, results.contentY + dy))
    }

    function scrollToTop() {
        results.positionViewAtBeginning()
        results.contentY = results.originY - results.topMargin
    }

    // The rows near the end are measured only once created, so the end is
    // sought again after they are laid out.
    function scrollToEnd() {
        results.positionViewAtEnd()
        scrollResults(results.contentHeight)
        endAgain.restart()
    }

    function hoverChanged(filename, hovered, scenePosition, aspect) {
        if (hovered) {
            hoveredFilename = filename
            preview.cursor = scenePosition
            preview.aspect = aspect
            if (preview.filename !== filename) {
                preview.shown = false
                preview.filename = filename
                previewDelay.restart()
            }
        } else if (hoveredFilename === filename) {
            hoveredFilename = ""
            preview.filename = ""
            preview.shown = false
            previewDelay.stop()
        }
    }

    onActiveChanged: if (active && loaded) focusResults()
    onLoadedChanged: if (loaded) focusResults()

    Connections {
        target: App.selModel
        function onChanged() {
            page.clearMarks()
            rows.refresh()
        }
        // Only the frames marked are drawn again, unless the filter may take them in or out.
        function onMarksChanged() {
            if (App.selModel.filterActive)
                rows.refresh()
            else
                rows.updateMarks()
        }
        function onFilterChanged() {
            page.clearMarks()
            rows.refresh()
            page.scrollToTop()
        }
        function onExportFinished(result) { page.exportEnded(result) }
    }

    // Ctrl+Z and Ctrl+Shift+Z (or Ctrl+Y): undo and redo of every decision of
    // the session, wherever it was made. Each key handler of the page and its
    // viewers asks here first (two shortcuts on Z with and without Shift are
    // ambiguous to Qt's shortcut map).
    function undoKey(event) {
        if (!(event.modifiers & Qt.ControlModifier) || (event.key !== Qt.Key_Z && event.key !== Qt.Key_Y))
            return false
        if (event.key === Qt.Key_Y || (event.modifiers & Qt.ShiftModifier))
            App.selModel.redo()
        else
            App.selModel.undo()
        return true
    }

    // Person names, merges and face moves join the decisions' undo history.
    Connections {
        target: PersonEdits
        function onDone(label: string, record: var) { App.selModel.recordEdit(label, PersonEdits, record) }
    }

    Timer {
        id: exportPoll
        interval: 100
        repeat: true
        onTriggered: page.exportDone = App.selModel.exportProgressDone()
    }

    ReviewGridModel {
        id: rows
        objectName: "reviewRows"
        selection: App.selModel
        byCategory: page.viewMode === "category"
        columns: Math.max(1, Math.floor((results.width - 36 + page.cellSpacing) / (Theme.thumbSize + page.cellSpacing)))
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Progress while a cull runs, and the summary of the loaded result.
        Rectangle {
            objectName: "statusRows"
            Layout.fillWidth: true
            visible: page.running || page.loaded
            implicitHeight: statusColumn.implicitHeight + 18
            color: Theme.statusStrip
            ColumnLayout {
                id: statusColumn
                anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter;
                          leftMargin: 18; rightMargin: 18 }
                spacing: 8
                RowLayout {
                    visible: page.running
                    spacing: 14
                    LevelBar {
                        id: progress
                        objectName: "progressBar"
                        Layout.preferredWidth: 320
                        Layout.alignment: Qt.AlignVCenter
                        from: 0
                        to: 1
                        value: page.progressValue
                        indeterminate: page.running && page.progressValue === 0
                    }
                    Text {
                        objectName: "statusText"
                        Layout.fillWidth: true
                        text: page.statusText
                        color: Theme.text
                        font.pixelSize: Theme.sizeDetail
                        elide: Text.ElideRight
                    }
                    ActionButton {
                        objectName: "cancelCullButton"
                        text: App.engine.stopRequested ? "Stopping…" : "Cancel"
                        enabled: !App.engine.stopRequested
                        tip: "Stop the cull (Esc): nothing of it is kept"
                        onClicked: page.cancelCullRequested()
                    }
                }
                // A running export of the final selection.
                RowLayout {
                    visible: page.exporting
                    spacing: 14
                    LevelBar {
                        objectName: "exportProgressBar"
                        Layout.preferredWidth: 320
                        Layout.alignment: Qt.AlignVCenter
                        from: 0
                        to: Math.max(1, page.exportTotal)
                        value: page.exportDone
                    }
                    Text {
                        objectName: "exportStatusText"
                        Layout.fillWidth: true
                        text: ViewLogic.exportProgressText(page.exportDone, page.exportTotal)
                        color: Theme.text
                        font.pixelSize: Theme.sizeDetail
                        elide: Text.ElideRight
                    }
                    ActionButton {
                        objectName: "cancelExportButton"
                        text: "Cancel"
                        tip: "Stop the export: the copies made so far stay, each one complete"
                        onClicked: App.selModel.cancelExport()
                    }
                }
                RowLayout {
                    visible: !page.running
                    spacing: 10
                    Text {
                        objectName: "summaryText"
                        Layout.fillWidth: true
                        // Whole pixels: the layout rounds a fractional width down,
                        // and the summary would lose its last word to the ellipsis.
                        Layout.preferredWidth: Math.ceil(implicitWidth)
                        Layout.maximumWidth: Math.ceil(implicitWidth)
                        text: page.summaryText
                        color: Theme.text
                        font.pixelSize: Theme.sizeBody
                        font.weight: Font.Medium
                        elide: Text.ElideRight
                    }
                    // The kept frames now, against what the cull picked.
                    Text {
                        objectName: "liveCounts"
                        Layout.leftMargin: 8
                        text: page.loaded ? ViewLogic.liveCountText(App.selModel.liveCounts) : ""
                        color: Theme.textDim
                        font.pixelSize: Theme.sizeDetail
                    }
                    // What the last cull left out, with a list on click. Empty rather
                    // than hidden: the row is laid out again when a text changes, but
                    // not always when a child turns visible while the row is hidden.
                    Text {
                        objectName: "leftOutNote"
                        Layout.leftMargin: text === "" ? 0 : 8
                        text: page.leftOutNote === "" ? "" : "⚠ " + page.leftOutNote
                        color: Theme.warnText
                        font.pixelSize: Theme.sizeDetail
                        font.weight: Font.Medium
                        font.underline: leftOutArea.containsMouse
                        MouseArea {
                            id: leftOutArea
                            enabled: page.leftOutNote !== ""
                            anchors.fill: parent
                            anchors.margins: -4
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: page.showLeftOut()
                        }
                    }
                    Item { Layout.fillWidth: true }
                    ActionButton {
                        objectName: "openProjectFileButton"
                        text: "Open Project File…"
                        enabled: !page.running
                        onClicked: page.openProjectFileRequested()
                    }
                    // Beside the project file: the batch toolbar has no room left at the
                    // window's opening width. (This row shows only with a project loaded.)
                    ActionButton {
                        objectName: "xmpButton"
                        text: "Write XMP Sidecars…"
                        tip: "Ratings, labels and keywords of this project for your photo editor"
                        // Only a stored project knows its moments and people.
                        enabled: !page.running && App.selModel.hasData && App.selModel.projectId() >= 0
                        onClicked: xmpDialog.open()
                    }
                    ActionButton {
                        objectName: "saveProjectFileButton"
                        text: "Save Project File…"
                        enabled: !page.running
                        onClicked: page.saveProjectFileRequested()
                    }
                }
            }
        }

        // Nothing open and nothing running.
        Item {
            objectName: "emptyState"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: !page.running && !page.loaded
            Column {
                anchors.centerIn: parent
                spacing: 12
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No project open"
                    color: Theme.text
                    font.pixelSize: Theme.sizeEmptyTitle
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Open a project from Home, or start a new one to cull a shoot."
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeBody
                }
                Row {
                    anchors.horizontalCenter: parent.horizontalCenter
                    topPadding: 8
                    spacing: 10
                    ActionButton {
                        objectName: "goHomeButton"
                        text: "Go to Home"
                        highlighted: true
                        onClicked: page.homeRequested()
                    }
                    ActionButton {
                        objectName: "emptyOpenProjectFileButton"
                        text: "Open Project File…"
                        onClicked: page.openProjectFileRequested()
                    }
                }
            }
        }

        // A cull runs: the grid comes when it is done.
        Item {
            objectName: "runningState"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: page.running && !page.loaded
            Column {
                anchors.centerIn: parent
                spacing: 10
                BusyIndicator {
                    anchors.horizontalCenter: parent.horizontalCenter
                    running: parent.parent.visible
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Culling your shoot…"
                    color: Theme.text
                    font.pixelSize: Theme.sizeTitle
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Faces, eyes, sharpness and moments are analysed; the picks appear here when it is done."
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeDetail
                }
            }
        }

        // Keys of the review.
        Rectangle {
            objectName: "shortcutStrip"
            Layout.fillWidth: true
            visible: page.loaded
            implicitHeight: 30
            color: "transparent"
            Row {
                anchors { left: parent.left; leftMargin: 18; verticalCenter: parent.verticalCenter }
                spacing: 26
                Repeater {
                    model: [["Hover + Space", "Select / deselect"], ["Click", "Open"],
                            ["0–5 · 6–9", "Stars · label"], ["Ctrl+Z", "Undo (Shift: redo)"],
                            ["In viewer:", "← →  Navigate   ·   Space / Del  Remove   ·   Esc  Close"]]
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

        // View mode, batch actions and the export.
        Rectangle {
            objectName: "batchToolbar"
            Layout.fillWidth: true
            visible: page.loaded
            implicitHeight: 46
            color: Theme.panel
            border.color: Theme.panelBorder
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 14
                anchors.rightMargin: 12
                spacing: 6
                Text {
                    text: "View:"
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeDetail
                }
                ActionButton {
                    objectName: "timeViewButton"
                    text: "Time"
                    checkable: true
                    checked: page.viewMode === "time"
                    tip: "Show images in capture-time order, grouped by subfolder"
                    onClicked: page.setViewMode("time")
                }
                ActionButton {
                    objectName: "categoryViewButton"
                    text: "Category"
                    checkable: true
                    checked: page.viewMode === "category"
                    tip: "Group images into Details / Portrait / Group"
                    onClicked: page.setViewMode("category")
                }
                Rectangle {
                    implicitWidth: 1
                    implicitHeight: 22
                    color: Theme.panelBorder
                    Layout.leftMargin: 8
                    Layout.rightMargin: 8
                }
                Text {
                    objectName: "markCounter"
                    text: page.markCount > 0 ? page.markCount + " checked" : "Check images to remove or restore"
                    color: page.markCount > 0 ? Theme.text : Theme.textDim
                    font.pixelSize: Theme.sizeCaption
                    Layout.preferredWidth: 168
                    elide: Text.ElideRight
                }
                ActionButton {
                    objectName: "removeCheckedButton"
                    text: "Remove Checked"
                    enabled: page.markCount > 0
                    onClicked: { page.removeMarked(); page.focusResults() }
                }
                ActionButton {
                    objectName: "restoreCheckedButton"
                    text: "Restore Checked"
                    enabled: page.markCount > 0
                    onClicked: { page.restoreMarked(); page.focusResults() }
                }
                ActionButton {
                    objectName: "clearMarksButton"
                    text: "Clear Selection"
                    enabled: page.markCount > 0
                    onClicked: { page.clearMarks(); page.focusResults() }
                }
                Item { Layout.fillWidth: true }
                CheckOption {
                    id: unselectedBox
                    objectName: "exportUnselectedBox"
                    text: "Also export unselected"
                }
                ActionButton {
                    id: marksButton
                    objectName: "exportMarksButton"
                    text: ViewLogic.markFilterText(page.exportMinStars, page.exportLabelled)
                    tip: "Export only the kept frames with at least N stars or a colour label"
                    onClicked: marksMenu.popup(marksButton, 0, marksButton.height)
                }
                ActionButton {
                    objectName: "exportButton"
                    text: "Export Final Selection"
                    highlighted: true
                    enabled: !page.exporting && !App.selModel.exportRunning
                    onClicked: page.startExport()
                }
            }
        }

        PeopleStrip {
            Layout.fillWidth: true
            onPersonChosen: (personId, name, imageIds) => App.selModel.setPersonFilter(personId, name, imageIds)
        }

        FilterBar {
            id: filterBar
            Layout.fillWidth: true
            visible: page.loaded
            shownCount: rows.keptShown + rows.removedShown + rows.unselectedCount
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: page.loaded

            // Nothing passes the filter (over the empty grid, which would take its clicks).
            Column {
                objectName: "filterEmptyState"
                z: 1
                anchors.centerIn: parent
                visible: App.selModel.filterActive && rows.count === 0
                spacing: 12
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No frames match this filter"
                    color: Theme.text
                    font.pixelSize: Theme.sizeEmptyTitle
                    font.weight: Font.DemiBold
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: App.selModel.filterText
                    color: Theme.textDim
                    font.pixelSize: Theme.sizeBody
                }
                ActionButton {
                    objectName: "filterEmptyClearButton"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Clear Filter"
                    highlighted: true
                    onClicked: { App.selModel.clearFilter(); page.focusResults() }
                }
            }

            // The grid: one row per section header, row of thumbnails, tile.
            ListView {
                id: results
                objectName: "results"
                anchors.fill: parent
                visible: page.loaded
                clip: true
                focus: true
                model: rows
                reuseItems: true
                cacheBuffer: 400
                keyNavigationEnabled: false
                boundsBehavior: Flickable.StopAtBounds
                topMargin: 12
                bottomMargin: 24
                ScrollBar.vertical: ScrollBar {
                    objectName: "resultsScrollBar"
                    policy: ScrollBar.AsNeeded
                }
                onVisibleChanged: if (visible) forceActiveFocus()

                Keys.onPressed: (event) => {
                    if (page.undoKey(event)) {
                        event.accepted = true
                        return
                    }
                    switch (event.key) {
                    case Qt.Key_Space:
                        if (page.active && page.hoveredFilename !== "" && !lightbox.opened)
                            page.toggleMark(page.hoveredFilename)
                        break
                    case Qt.Key_Down: page.scrollResults(210); break
                    case Qt.Key_Up: page.scrollResults(-210); break
                    case Qt.Key_PageDown: page.scrollResults(0.9 * results.height); break
                    case Qt.Key_PageUp: page.scrollResults(-0.9 * results.height); break
                    case Qt.Key_Home: page.scrollToTop(); break
                    case Qt.Key_End: page.scrollToEnd(); break
                    default:
                        if (event.key < Qt.Key_0 || event.key > Qt.Key_9 || (event.modifiers & Qt.ControlModifier))
                            return
                        page.pressDigit(event.key - Qt.Key_0)
                    }
                    event.accepted = true
                }

                TapHandler {
                    onTapped: results.forceActiveFocus()
                }

                delegate: Item {
                    id: row
                    required property string kind
                    required property string title
                    required property int count
                    required property var items
                    width: results.width
                    height: kind === "cells" ? page.cellHeight + page.cellSpacing
                          : kind === "section" ? (title !== "" ? 64 : 38)
                          : kind === "review" ? page.cellHeight + page.cellSpacing + 8
                          : 52

                    // Section header: folder (or category) and the kept count.
                    Column {
                        visible: row.kind === "section"
                        anchors { left: parent.left; leftMargin: 18; bottom: parent.bottom; bottomMargin: 8 }
                        spacing: 6
                        Row {
                            visible: row.title !== ""
                            spacing: 8
                            Item {
                                visible: page.viewMode === "time"
                                width: 18
                                height: 14
                                anchors.verticalCenter: parent.verticalCenter
                                Rectangle { x: 0; y: 0; width: 8; height: 4; radius: 1; color: Theme.textDim }
                                Rectangle { x: 0; y: 2; width: 18; height: 12; radius: 2; color: Theme.textDim }
                            }
                            Text {
                                objectName: "sectionTitle"
                                text: row.title
                                color: Theme.text
                                font.pixelSize: Theme.sizeSectionTitle
                                font.weight: Font.DemiBold
                            }
                        }
                        Text {
                            objectName: "sectionCount"
                            text: "Primary (" + row.count + ")"
                            color: Theme.textDim
                            font.pixelSize: Theme.sizeCaption
                            font.weight: Font.Medium
                        }
                    }

                    // A row of thumbnails.
                    Row {
                        visible: row.kind === "cells"
                        x: 18
                        spacing: page.cellSpacing
                        Repeater {
                            model: row.kind === "cells" ? row.items : []
                            delegate: ThumbnailCell {
                                required property var modelData
                                item: modelData
                                imageFolder: page.imageFolder
                                marked: page.markedMap[modelData.filename] === true
                                lastViewed: page.scrollToFilename === modelData.filename
                                linkReviewed: page.isReviewed(modelData.category, modelData.clusterSize,
                                                              page.reviewedTick)
                                onOpened: (filename) => { page.focusResults(); page.openViewer(filename) }
                                onMarkToggled: (filename) => { page.focusResults(); page.toggleMark(filename) }
                                onClusterRequested: (category, number) => page.openCluster(category, number)
                                onHoverMoved: (filename, hovered, pos, aspect) =>
                                                  page.hoverChanged(filename, hovered, pos, aspect)
                            }
                        }
                    }

                    // Frames of moments where nothing is kept.
                    Rectangle {
                        objectName: "forReviewTile"
                        visible: row.kind === "review"
                        x: 18
                        y: 8
                        width: Math.max(Theme.thumbSize, 220)
                        height: page.cellHeight
                        radius: 4
                        color: reviewArea.containsMouse ? Qt.lighter(Theme.panel, 1.25) : Theme.panel
                        border.color: Theme.accent
                        border.width: 1
                        Column {
                            anchors.centerIn: parent
                            width: parent.width - 24
                            spacing: 6
                            Text {
                                objectName: "forReviewText"
                                width: parent.width
                                horizontalAlignment: Text.AlignHCenter
                                text: "For Review (" + row.count + ")"
                                color: Theme.text
                                font.pixelSize: Theme.sizeSectionTitle
                                font.weight: Font.DemiBold
                            }
                            Text {
                                width: parent.width
                                horizontalAlignment: Text.AlignHCenter
                                text: "Moments with nothing kept"
                                color: Theme.textDim
                                font.pixelSize: Theme.sizeCaption
                                wrapMode: Text.Wrap
                            }
                        }
                        MouseArea {
                            id: reviewArea
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: page.openForReview()
                        }
                    }

                    // Header of the combined Removed section.
                    Text {
                        objectName: "removedHeader"
                        visible: row.kind === "removed"
                        anchors { left: parent.left; leftMargin: 18; bottom: parent.bottom; bottomMargin: 10 }
                        text: "Removed (" + row.count + ")"
                        color: Theme.text
                        font.pixelSize: Theme.sizeSectionTitle
                        font.weight: Font.DemiBold
                    }
                }
            }
        }
    }

    Timer {
        id: endAgain
        interval: 0
        onTriggered: page.scrollResults(results.contentHeight)
    }

    Timer {
        id: previewDelay
        interval: 350
        onTriggered: preview.shown = page.hoveredFilename !== "" && !lightbox.opened && !clusterPopup.opened
    }

    HoverPreview {
        id: preview
        objectName: "hoverPreview"
        property string filename: ""
        parent: page.Window.window ? page.Window.window.contentItem : page
        z: 100
        source: filename === "" ? "" : ViewLogic.originalUrl(page.imageFolder, filename)
    }

    Lightbox {
        id: lightbox
        undoKey: page.undoKey
        imageFolder: page.imageFolder
        onClosed: {
            page.scrollToFilename = lastFilename
            page.revealFile(lastFilename)
            if (clusterPopup.opened)
                clusterPopup.focusGrid()
            else
                page.focusResults()
        }
        onClusterSelectionChanged: (imageId, selected) => clusterPopup.syncSelection(imageId, selected)
        onCompareRequested: (imageId) => compareView.openFor(imageId, "lightbox")
    }

    ClusterPopup {
        id: clusterPopup
        undoKey: page.undoKey
        onViewRequested: (list, index) => lightbox.openList(list, index, "cluster")
        onCompareRequested: (imageId) => compareView.openFor(imageId, "cluster")
        onFinished: (mode, category, number, changed) => {
            if (changed)
                rows.refresh()
            if (mode === "cluster") {
                const next = Object.assign({}, page.reviewedClusters)
                next[category + ":" + number] = true
                page.reviewedClusters = next
                page.reviewedTick++
            }
            page.focusResults()
        }
    }

    CompareView {
        id: compareView
        undoKey: page.undoKey
        imageFolder: page.imageFolder
        onKeepChanged: (imageId, kept) => {
            if (lightbox.opened)
                lightbox.syncSelection(imageId, kept)
            if (clusterPopup.opened)
                clusterPopup.syncSelection(imageId, kept)
        }
        // Back where it was opened.
        onClosed: {
            if (openedFrom === "lightbox" && lightbox.opened)
                lightbox.focusViewer()
            else if (clusterPopup.opened)
                clusterPopup.focusGrid()
            else
                page.focusResults()
        }
    }

    MessageBox {
        id: exportQuestion
        objectName: "exportQuestionDialog"
        cancellable: true
        onAccepted: exportFolderDialog.open()
    }
    // The result names the folder and opens it on request.
    MessageBox {
        id: exportResult
        objectName: "exportResultDialog"
        property string folder: ""
        cancellable: folder !== ""
        okText: folder !== "" ? "Open Folder" : "OK"
        cancelText: "Close"
        onAccepted: if (folder !== "") Folders.openFolder(folder)
    }
    Menu {
        id: marksMenu
        objectName: "exportMarksMenu"
        padding: 4
        background: Rectangle {
            implicitWidth: 210
            color: Theme.menuBackground
            border.color: Theme.panelBorder
            radius: 5
        }
        MarksEntry {
            objectName: "exportMarksAll"
            text: "All kept frames"
            checked: page.exportMinStars === 0 && !page.exportLabelled
            onTriggered: page.setExportMarks(0, false)
        }
        MarksEntry {
            objectName: "exportMarksStars1"
            text: "At least ★"
            checked: page.exportMinStars === 1
            onTriggered: page.setExportMarks(1, page.exportLabelled)
        }
        MarksEntry {
            objectName: "exportMarksStars2"
            text: "At least ★★"
            checked: page.exportMinStars === 2
            onTriggered: page.setExportMarks(2, page.exportLabelled)
        }
        MarksEntry {
            objectName: "exportMarksStars3"
            text: "At least ★★★"
            checked: page.exportMinStars === 3
            onTriggered: page.setExportMarks(3, page.exportLabelled)
        }
        MarksEntry {
            objectName: "exportMarksStars4"
            text: "At least ★★★★"
            checked: page.exportMinStars === 4
            onTriggered: page.setExportMarks(4, page.exportLabelled)
        }
        MarksEntry {
            objectName: "exportMarksStars5"
            text: "At least ★★★★★"
            checked: page.exportMinStars === 5
            onTriggered: page.setExportMarks(5, page.exportLabelled)
        }
        MarksEntry {
            objectName: "exportMarksLabelled"
            text: page.exportMinStars > 0 ? "…or with a colour label" : "With a colour label"
            checked: page.exportLabelled
            onTriggered: page.setExportMarks(page.exportMinStars, !page.exportLabelled)
        }
    }
    component MarksEntry: MenuItem {
        id: entry
        implicitWidth: 210
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeControl
        contentItem: Text {
            leftPadding: 6
            text: (entry.checked ? "✓  " : "     ") + entry.text
            font: entry.font
            color: Theme.overlayText
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitHeight: 30
            color: entry.highlighted ? Theme.accent : "transparent"
            radius: 3
        }
    }
    XmpDialog {
        id: xmpDialog
        onDone: (result, removed) => page.showXmpResult(result, removed)
    }
    FileListDialog {
        id: xmpResult
        objectName: "xmpResultDialog"
    }
    FileListDialog {
        id: leftOutDialog
        objectName: "leftOutDialog"
    }
    FolderPicker {
        id: exportFolderDialog
        objectName: "exportFolderDialog"
        title: "Choose where to export the final selection"
        // Beside the shoot, where a photographer keeps what goes out of it.
        currentFolder: Folders.exportStartFolder(page.imageFolder)
        onFolderChosen: (folder) => page.exportFinalTo(folder)
    }
}
