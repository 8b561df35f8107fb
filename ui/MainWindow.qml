// The one top-level window: the navigation bar, the page stack, and the flows
// that span pages (starting a cull, opening a project, project files). All
// persistent state lives in selModel; the window keeps view state only.
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1250
    height: 760
    visible: true
    title: "Keepframe — Photo Culling and Enhance"
    color: Theme.background
    font.family: Theme.fontBody
    font.pixelSize: Theme.sizeBody

    // Page keys in the order of the page stack.
    readonly property var pageOrder: ["home", "cull", "account", "edit", "deliver", "about"]
    property string activePage: "home"
    // Folder URL chosen for the running cull.
    property string inputFolder: ""
    // Summary map of the last cull or opened project.
    property var resultSummary: ({})
    property string statusText: ""
    property string summaryText: ""
    property real progressValue: 0
    // Where the window was when the running cull started, to go back to when it is stopped.
    property var beforeCull: ({})

    onActivePageChanged: {
        if (activePage === "home") {
            homePage.refresh()
        } else if (activePage === "account") {
            accountPage.refresh()
            App.delivery.fetchStudioProfile()
        }
    }

    // Starts a cull of the folder the user chose (the folder dialog's action).
    function startCullIn(folderUrl) {
        beforeCull = { "page": activePage, "projectId": App.selModel.projectId(),
                       "folder": App.selModel.inputFolder, "resultSummary": resultSummary,
                       "summaryText": summaryText }
        inputFolder = folderUrl.toString()
        App.selModel.clear()
        cullPage.resetForNewCull()
        activePage = "cull"
        summaryText = ""
        statusText = "Starting…"
        progressValue = 0
        const folder = ViewLogic.localPath(inputFolder)
        App.engine.startCull(folder, ViewLogic.autoOutputFolder(folder), 0)
    }

    // The Cancel button and Escape: the cull stops at its next frame and
    // leaves nothing behind; one already saving its project finishes it.
    function cancelCull() {
        if (!App.engine.running || App.engine.stopRequested)
            return
        App.engine.cancel()
        statusText = progressValue >= 0.82 ? "Finishing: the project is being saved and will be kept…"
                                           : "Stopping…"
    }

    // A stopped cull stored nothing: the page and the project open before it come back.
    function returnAfterStop() {
        const before = beforeCull
        beforeCull = {}
        statusText = ""
        progressValue = 0
        const reopened = before.projectId !== undefined && before.projectId >= 0
                         && App.selModel.loadFromProject(before.projectId, before.folder)
        if (reopened) {
            resultSummary = before.resultSummary
            summaryText = before.summaryText
            cullPage.resetForLoadedProject()
        } else {
            App.selModel.clear()
            resultSummary = {}
            summaryText = ""
        }
        if (activePage === "cull" && before.page !== undefined)
            activePage = before.page
    }

    // Opens a stored project from the library (the Home page's cards).
    function openStoredProject(projectId, name, folder) {
        if (!App.selModel.loadFromProject(projectId, folder)) {
            projectMessage.show("Open project", "The project cannot be read: " + App.selModel.storeError())
            return
        }
        App.selModel.touchOpenProject()
        resultSummary = { "inputFolder": folder, "projectId": projectId }
        cullPage.resetForLoadedProject()
        activePage = "cull"
        summaryText = name !== "" ? name : "Project loaded."
        statusText = ""
    }

    // The library changed on Home: a renamed open project keeps its name on
    // the summary line; a deleted one leaves nothing behind on the Cull page.
    function followLibrary() {
        const openedId = resultSummary.projectId
        if (openedId === undefined)
            return
        if (App.selModel.projectId() !== openedId) {
            resultSummary = {}
            summaryText = ""
            return
        }
        // A project opened from Home (a cull's summary line stays as it is).
        const project = homePage.projects.find(p => p.id === openedId)
        if (project && resultSummary.totalInput === undefined)
            summaryText = project.name
    }

    // Writes the open review to a project file.
    function saveProjectFileTo(fileUrl) {
        const saved = App.selModel.saveProject(ViewLogic.localPath(fileUrl.toString()))
        projectMessage.show("Save project", saved ? "Project saved." : "Failed to save the project file.")
    }

    // Reads a project file; asks for the new folder when its photographs moved.
    function openProjectFileFrom(fileUrl) {
        followProjectFile(App.selModel.openProjectFile(ViewLogic.localPath(fileUrl.toString())))
    }

    // What reading a project file gave: an error, or the project to load now
    // or once its photographs are found.
    function followProjectFile(result) {
        if (!result.ok) {
            projectMessage.show("Open project", result.error ? result.error : "Could not open the project file.")
            return
        }
        if (result.inputExists) {
            applyProjectFile("")
            return
        }
        movedFolderDialog.text = ViewLogic.movedFolderText(result.savedInput)
        movedFolderDialog.open()
    }

    // Loads the pending project file, with a new input folder when given.
    function applyProjectFile(folderUrl) {
        const skipped = App.selModel.applyPendingProject(ViewLogic.localPath(folderUrl.toString()))
        if (skipped < 0)
            return
        resultSummary = { "inputFolder": App.selModel.inputFolder }
        cullPage.resetForLoadedProject()
        activePage = "cull"
        summaryText = "Project loaded."
        statusText = ""
        projectMessage.show("Open project", ViewLogic.projectLoadedText(skipped))
    }

    Connections {
        target: App.engine
        function onProgress(percent, message) {
            window.progressValue = percent / 100
            window.statusText = ViewLogic.progressText(percent, message)
        }
        function onFinished(summary) {
            window.resultSummary = summary
            // The project's file names are relative to the folder the run
            // analysed (the JPEG copies when RAW files were converted).
            const folder = summary.inputFolder ? summary.inputFolder : ViewLogic.localPath(window.inputFolder)
            if (summary.projectId !== undefined && summary.projectId >= 0) {
                if (!App.selModel.loadFromProject(summary.projectId, folder)) {
                    window.statusText = "Error"
                    cullError.show("Culling error", "The project was saved but cannot be read: "
                                   + App.selModel.storeError())
                    homePage.refresh()
                    return
                }
            } else
                App.selModel.load(summary.selected, folder, summary.outputBase)
            App.selModel.setSummary(summary)
            window.summaryText = ViewLogic.summaryText(summary)
            window.statusText = "Done in " + ViewLogic.elapsedText(summary.elapsedSeconds) + "."
            window.beforeCull = {}
            window.progressValue = 1
            window.activePage = "cull"
            homePage.refresh()
            // Asked to stop while it saved: the project was kept, and the window says so.
            if (App.engine.stopRequested)
                projectMessage.show("Cull saved", "The cull was already saving its project when it was "
                                    + "stopped, so the project was saved and is open.")
        }
        function onFailed(message) {
            if (App.engine.stopRequested) {
                window.returnAfterStop()
                return
            }
            window.statusText = "Error"
            cullError.show("Culling error", message)
        }
    }

    header: NavBar {
        objectName: "navBar"
        activePage: window.activePage
        busy: App.engine.running
        onNavigate: (page) => window.activePage = page
    }

    StackLayout {
        id: pages
        objectName: "pageStack"
        anchors.fill: parent
        currentIndex: window.pageOrder.indexOf(window.activePage)

        HomePage {
            id: homePage
            onNewProjectRequested: inputFolderDialog.open()
            onProjectOpened: (projectId, name, folder) => window.openStoredProject(projectId, name, folder)
            onLibraryChanged: window.followLibrary()
        }
        CullPage {
            id: cullPage
            active: window.activePage === "cull"
            resultSummary: window.resultSummary
            statusText: window.statusText
            summaryText: window.summaryText
            progressValue: window.progressValue
            onHomeRequested: window.activePage = "home"
            onCancelCullRequested: window.cancelCull()
            onOpenProjectFileRequested: openProjectDialog.open()
            onSaveProjectFileRequested: saveProjectDialog.open()
        }
        AccountPage { id: accountPage }
        EditPage { id: editPage }
        DeliverPage {
            id: deliverPage
            active: window.activePage === "deliver"
            onAccountRequested: window.activePage = "account"
        }
        AboutPage { id: aboutPage }
    }

    FolderPicker {
        id: inputFolderDialog
        objectName: "inputFolderDialog"
        title: "Choose the folder of images to cull"
        onFolderChosen: (folder) => window.startCullIn(folder)
    }
    FileDialog {
        id: saveProjectDialog
        objectName: "saveProjectDialog"
        title: "Save project"
        fileMode: FileDialog.SaveFile
        nameFilters: ["Project files (*.json)"]
        defaultSuffix: "json"
        onAccepted: window.saveProjectFileTo(selectedFile)
    }
    FileDialog {
        id: openProjectDialog
        objectName: "openProjectDialog"
        title: "Open project"
        fileMode: FileDialog.OpenFile
        nameFilters: ["Project files (*.json)", "All files (*)"]
        onAccepted: window.openProjectFileFrom(selectedFile)
    }
    FolderPicker {
        id: newInputFolderDialog
        objectName: "newInputFolderDialog"
        title: "Select the new input folder location"
        onFolderChosen: (folder) => window.applyProjectFile(folder)
    }

    // Ctrl+Q closes the window as its close button does (and so stops the work under way).
    Shortcut {
        objectName: "quitShortcut"
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: window.close()
    }
    // Escape stops a running cull (an open dialog takes it first).
    Shortcut {
        objectName: "cancelCullShortcut"
        sequence: "Esc"
        enabled: App.engine.running && !App.engine.stopRequested
        onActivated: window.cancelCull()
    }
    Shortcut {
        objectName: "shortcutsShortcut"
        sequences: ["?", "Shift+?", "F1"]
        context: Qt.ApplicationShortcut
        onActivated: shortcutsOverlay.opened ? shortcutsOverlay.close() : shortcutsOverlay.open()
    }
    ShortcutsOverlay {
        id: shortcutsOverlay
    }

    MessageBox {
        id: cullError
        objectName: "cullErrorDialog"
    }
    MessageBox {
        id: projectMessage
        objectName: "projectMessageDialog"
    }
    MessageBox {
        id: movedFolderDialog
        objectName: "movedFolderDialog"
        title: "Input folder not found"
        cancellable: true
        onAccepted: newInputFolderDialog.open()
    }
}
