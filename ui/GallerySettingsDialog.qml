// "Settings — <title>" of one delivered gallery: its cover, the clients'
// download access and face search. The file list is asked for on opening; an
// answer about another gallery (the dialog was reopened meanwhile) is ignored.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ToolDialog {
    id: dialog
    objectName: "gallerySettingsDialog"
    title: "Settings — " + galleryTitle
    width: Math.min(620, (parent ? parent.width : 620) - 80)

    required property DeliverModel plan
    property string galleryId: ""
    property string galleryTitle: ""
    property bool faceSearchEnabled: false
    property int faceDataRows: 0
    property var files: []
    property bool loadingFiles: false
    property string coverFileId: ""
    property string chosenFileId: ""
    property string statusText: ""
    // The gallery list should be read again (the cover or face search changed).
    signal galleryChanged()

    function openFor(gallery) {
        galleryId = gallery.galleryId
        galleryTitle = gallery.title
        faceSearchEnabled = gallery.faceSearchEnabled
        faceDataRows = gallery.faceDataRows
        files = []
        coverFileId = ""
        chosenFileId = ""
        statusText = ""
        loadingFiles = true
        faceSwitch.checked = faceSearchEnabled
        open()
        App.delivery.fetchGalleryFiles(galleryId)
    }

    function failed(prefix, reason) {
        statusText = prefix + plan.readableReason(reason)
    }

    Connections {
        target: App.delivery
        enabled: dialog.opened
        function onGalleryFilesReceived(galleryId, currentCoverFileId, galleryFiles) {
            if (galleryId !== dialog.galleryId)
                return
            dialog.files = galleryFiles
            dialog.coverFileId = currentCoverFileId
            dialog.chosenFileId = currentCoverFileId
            dialog.loadingFiles = false
        }
        function onGalleryFilesFetchFailed(reason) {
            dialog.loadingFiles = false
            dialog.failed("Couldn't load files: ", reason)
        }
        function onGalleryCoverChanged(galleryId) {
            if (galleryId !== dialog.galleryId)
                return
            dialog.coverFileId = dialog.chosenFileId
            dialog.statusText = "Cover updated."
            dialog.galleryChanged()
        }
        function onGalleryCoverChangeFailed(reason) {
            dialog.failed("Couldn't update cover: ", reason)
        }
        function onGalleryDownloadSettingChanged(galleryId) {
            if (galleryId === dialog.galleryId)
                dialog.statusText = "Download setting updated."
        }
        function onGalleryDownloadSettingChangeFailed(reason) {
            dialog.failed("Couldn't update download setting: ", reason)
        }
        function onGalleryFaceSearchSettingChanged(galleryId) {
            if (galleryId !== dialog.galleryId)
                return
            dialog.faceSearchEnabled = faceSwitch.checked
            dialog.statusText = "Face search setting updated."
            dialog.galleryChanged()
        }
        function onGalleryFaceSearchSettingChangeFailed(reason) {
            faceSwitch.checked = dialog.faceSearchEnabled
            dialog.failed("Couldn't update face search setting: ", reason)
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        SectionLabel { text: "Cover photo"; Layout.topMargin: 0 }
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 196
            radius: 4
            color: Theme.field
            border.color: Theme.panelBorder
            ListView {
                id: fileList
                objectName: "galleryFileList"
                anchors { fill: parent; margins: 1 }
                clip: true
                model: dialog.files
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}
                delegate: Rectangle {
                    id: fileRow
                    required property var modelData
                    readonly property bool chosen: modelData.fileId === dialog.chosenFileId
                    objectName: "galleryFile_" + modelData.filename
                    width: fileList.width
                    height: 28
                    color: chosen ? Theme.chosenRow : fileArea.containsMouse ? Theme.hoverFill : "transparent"
                    Text {
                        anchors { left: parent.left; right: coverMark.left; leftMargin: 10; rightMargin: 8
                                  verticalCenter: parent.verticalCenter }
                        text: fileRow.modelData.filename
                        color: Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        elide: Text.ElideMiddle
                    }
                    Text {
                        id: coverMark
                        anchors { right: parent.right; rightMargin: 10; verticalCenter: parent.verticalCenter }
                        text: fileRow.modelData.fileId === dialog.coverFileId ? "current cover" : ""
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeFootnote
                    }
                    MouseArea {
                        id: fileArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onClicked: dialog.chosenFileId = fileRow.modelData.fileId
                    }
                }
                Text {
                    anchors.centerIn: parent
                    visible: fileList.count === 0
                    text: dialog.loadingFiles ? "Loading files…" : "No files."
                    color: Theme.textDim
                    font.family: Theme.fontBody
                    font.pixelSize: Theme.sizeDetail
                }
            }
        }
        ActionButton {
            objectName: "setCoverButton"
            text: "Set Cover"
            enabled: dialog.chosenFileId !== "" && dialog.chosenFileId !== dialog.coverFileId
            onClicked: App.delivery.setGalleryCover(dialog.galleryId, dialog.chosenFileId)
        }

        SectionLabel { text: "Client download access" }
        RowLayout {
            spacing: 8
            ActionButton {
                objectName: "enableDownloadButton"
                text: "Enable Download"
                onClicked: App.delivery.setGalleryAllowDownload(dialog.galleryId, true)
            }
            ActionButton {
                objectName: "disableDownloadButton"
                text: "Disable Download"
                onClicked: App.delivery.setGalleryAllowDownload(dialog.galleryId, false)
            }
        }

        SectionLabel { text: "Face search" }
        RowLayout {
            spacing: 10
            Switch {
                id: faceSwitch
                objectName: "faceSearchSwitch"
                focusPolicy: Qt.NoFocus
                checked: dialog.faceSearchEnabled
                enabled: dialog.faceDataRows > 0
                onToggled: App.delivery.setGalleryFaceSearch(dialog.galleryId, checked)
            }
            Text {
                Layout.fillWidth: true
                text: dialog.faceDataRows > 0 ? "Clients can find their photos by taking a selfie."
                                              : "This gallery holds no face data (delivered without face search)."
                color: Theme.textDim
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
                wrapMode: Text.Wrap
            }
        }

        Text {
            objectName: "settingsStatus"
            Layout.fillWidth: true
            Layout.topMargin: 4
            text: dialog.statusText
            visible: text !== ""
            color: dialog.statusText.startsWith("Couldn't") ? Theme.errorText : Theme.okText
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeDetail
            wrapMode: Text.Wrap
        }
    }

    footer: RowLayout {
        Item { Layout.fillWidth: true }
        ActionButton {
            objectName: "settingsCloseButton"
            text: "Close"
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: dialog.close()
        }
    }
}
