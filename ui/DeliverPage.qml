// The Deliver page: a new client gallery made from the open project or a
// folder (cover, options, compression, title and password), its upload with
// progress and result, the storage left, and the galleries already
// delivered. Everything is asked of the service again each time the page is
// shown; the state lives in the DeliverModel.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Item {
    id: page
    objectName: "deliverPage"

    property bool active: false
    // "project" (the open project's kept images) or "folder".
    property string source: App.selModel.hasData ? "project" : "folder"
    property string folderUrl: ""
    readonly property bool hasToken: App.delivery.hasAccessToken
    signal accountRequested()

    // Reads the images, the quota and the galleries again.
    function reload() {
        if (!hasToken)
            return
        reloadImages()
        plan.refresh()
    }

    function reloadImages() {
        if (source === "project")
            plan.images = App.selModel.hasData ? App.selModel.deliverableImages() : []
        else
            plan.images = folderUrl !== "" ? App.delivery.scanFolder(folderUrl) : []
    }

    function useSource(kind) {
        source = kind
        reloadImages()
    }

    // Delivers the JPEG files of `url` (the folder dialog's action).
    function useFolder(url) {
        folderUrl = url.toString()
        useSource("folder")
    }

    function openLink(link) {
        Qt.openUrlExternally(link)
    }

    onActiveChanged: if (active) reload()
    onHasTokenChanged: if (active) reload()

    DeliverModel {
        id: plan
        objectName: "deliverModel"
        service: App.delivery
        level: compression.value
        title: titleField.text
        password: passwordField.text
        allowDownload: allowDownloadBox.checked
        faceSearch: faceSearchBox.checked
    }

    Connections {
        target: App.delivery
        enabled: page.active
        function onGalleryDeleted(galleryId) { plan.refresh() }
        function onGalleryDeleteFailed(reason) {
            galleryMessage.show("Delete gallery", "Couldn't delete the gallery: " + plan.readableReason(reason))
        }
    }

    // No access token: nothing can be asked of the service yet.
    Item {
        objectName: "noTokenNotice"
        anchors.fill: parent
        visible: !page.hasToken
        Column {
            anchors.centerIn: parent
            spacing: 12
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Delivery is not set up yet"
                color: Theme.text
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeEmptyTitle
                font.weight: Font.DemiBold
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Add the access token of your delivery service account on the Account page;\n"
                      + "galleries, storage and uploads appear here once it is set."
                horizontalAlignment: Text.AlignHCenter
                color: Theme.textDim
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeBody
                lineHeight: 1.2
            }
            ActionButton {
                objectName: "goToAccountButton"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Go to Account"
                highlighted: true
                onClicked: page.accountRequested()
            }
        }
    }

    RowLayout {
        anchors { fill: parent; margins: 18 }
        spacing: 18
        visible: page.hasToken

        // The new gallery.
        PanelCard {
            title: "New gallery"
            Layout.preferredWidth: 580
            Layout.fillHeight: true
            contentSpacing: 0

            ScrollView {
                id: formScroll
                objectName: "deliverForm"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.topMargin: 4
                contentWidth: availableWidth
                clip: true

                ColumnLayout {
                    width: formScroll.availableWidth
                    spacing: 7

                    SectionLabel { text: "Images" }
                    RowLayout {
                        spacing: 14
                        ChoiceOption {
                            objectName: "projectSourceOption"
                            text: "Current project images"
                            enabled: App.selModel.hasData && !plan.running
                            checked: page.source === "project"
                            onClicked: page.useSource("project")
                        }
                        ChoiceOption {
                            objectName: "folderSourceOption"
                            text: "Choose a folder"
                            enabled: !plan.running
                            checked: page.source === "folder"
                            onClicked: page.useSource("folder")
                        }
                        ActionButton {
                            objectName: "browseFolderButton"
                            text: "Browse…"
                            enabled: page.source === "folder" && !plan.running
                            onClicked: folderDialog.open()
                        }
                    }
                    Text {
                        objectName: "folderPath"
                        Layout.fillWidth: true
                        visible: page.source === "folder"
                        text: page.folderUrl !== ""
                              ? ViewLogic.localPath(page.folderUrl)
                              : "No folder chosen — Browse… to pick the JPEG files to deliver."
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                        elide: Text.ElideMiddle
                    }
                    Text {
                        objectName: "sourceSummary"
                        text: plan.sourceText
                        color: Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        font.weight: Font.Medium
                    }

                    SectionLabel { text: "Cover photo" }
                    RowLayout {
                        spacing: 10
                        Text {
                            objectName: "coverLabel"
                            Layout.fillWidth: true
                            text: plan.coverFilename !== "" ? ViewLogic.baseName(plan.coverFilename)
                                                             : "None chosen — the service picks one."
                            color: plan.coverFilename !== "" ? Theme.text : Theme.textDim
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeDetail
                            elide: Text.ElideMiddle
                        }
                        ActionButton {
                            objectName: "coverChooseButton"
                            text: "Choose…"
                            enabled: plan.images.length > 0 && !plan.running
                            onClicked: coverPicker.openFor(plan.images, plan.coverFilename)
                        }
                    }

                    SectionLabel { text: "Options" }
                    CheckOption {
                        id: allowDownloadBox
                        objectName: "allowDownloadBox"
                        text: "Allow clients to download images from this gallery"
                        checked: true
                    }
                    CheckOption {
                        id: faceSearchBox
                        objectName: "faceSearchBox"
                        text: "Enable face search for this gallery"
                        checked: false
                    }
                    Text {
                        Layout.leftMargin: 27
                        Layout.fillWidth: true
                        text: "Adds real time to this delivery — runs face detection on every image."
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                        wrapMode: Text.Wrap
                    }

                    SectionLabel { text: "Compression" }
                    Slider {
                        id: compression
                        objectName: "compressionSlider"
                        Layout.fillWidth: true
                        from: 10
                        to: 100
                        stepSize: 5
                        value: 100
                        snapMode: Slider.SnapAlways
                        focusPolicy: Qt.NoFocus
                        enabled: !plan.running
                        background: Rectangle {
                            x: compression.leftPadding
                            y: compression.topPadding + (compression.availableHeight - height) / 2
                            implicitWidth: 200
                            implicitHeight: 4
                            width: compression.availableWidth
                            height: implicitHeight
                            radius: 2
                            color: Theme.sliderTrack
                            Rectangle {
                                width: compression.visualPosition * parent.width
                                height: parent.height
                                radius: 2
                                color: Theme.accent
                                opacity: compression.enabled ? 1.0 : 0.5
                            }
                        }
                        handle: Rectangle {
                            x: compression.leftPadding
                               + compression.visualPosition * (compression.availableWidth - width)
                            y: compression.topPadding + (compression.availableHeight - height) / 2
                            implicitWidth: 18
                            implicitHeight: 18
                            radius: 9
                            color: compression.pressed ? Theme.sliderHandlePressed : Theme.sliderHandle
                            border.width: 2
                            border.color: Theme.accent
                        }
                    }
                    Text {
                        objectName: "uploadSizeLabel"
                        Layout.fillWidth: true
                        text: plan.uploadSizeText
                        color: Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        wrapMode: Text.Wrap
                    }

                    SectionLabel { text: "Gallery" }
                    RowLayout {
                        spacing: 12
                        Layout.fillWidth: true
                        FormField {
                            id: titleField
                            fieldName: "galleryTitleField"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1
                            label: "Gallery title"
                            placeholderText: "e.g. Lantern Wedding"
                        }
                        FormField {
                            id: passwordField
                            fieldName: "galleryPasswordField"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 1
                            label: "Gallery password (share this with your client)"
                            placeholderText: "Password for this gallery"
                        }
                    }

                    Text {
                        objectName: "quotaWarning"
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        visible: plan.exceedsQuota
                        text: "This exceeds your remaining storage — increase compression or free up space below."
                        color: Theme.errorText
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        wrapMode: Text.Wrap
                    }
                    ActionButton {
                        objectName: "startDeliveryButton"
                        Layout.topMargin: 6
                        text: plan.running ? "Uploading…" : "Start Delivery"
                        highlighted: true
                        enabled: plan.canStart
                        onClicked: plan.start()
                    }

                    // Progress of the running delivery.
                    ColumnLayout {
                        objectName: "deliveryProgress"
                        visible: plan.running
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        spacing: 5
                        Text {
                            objectName: "progressTitle"
                            text: plan.progressTitle
                            color: Theme.text
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeDetail
                        }
                        LevelBar {
                            objectName: "deliveryProgressBar"
                            Layout.fillWidth: true
                            from: 0
                            to: Math.max(1, App.delivery.totalCount)
                            value: App.delivery.doneCount
                        }
                        Text {
                            objectName: "progressCount"
                            text: plan.progressCount
                            color: Theme.textDim
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeCaption
                        }
                    }
                    Text {
                        objectName: "actualSizeLabel"
                        visible: text !== ""
                        text: plan.actualSizeText
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                    }

                    // The outcome of the last delivery.
                    ColumnLayout {
                        visible: plan.resultText !== ""
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        spacing: 5
                        Text {
                            objectName: "resultLabel"
                            text: plan.resultText
                            color: Theme.okText
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeBody
                            font.weight: Font.DemiBold
                        }
                        RowLayout {
                            spacing: 6
                            Layout.fillWidth: true
                            Text {
                                objectName: "resultLink"
                                Layout.fillWidth: true
                                text: plan.resultLink
                                color: Theme.link
                                font.family: Theme.fontMono
                                font.pixelSize: Theme.sizeCaption
                                elide: Text.ElideMiddle
                            }
                            ActionButton {
                                objectName: "resultCopyButton"
                                text: "Copy"
                                onClicked: plan.copyToClipboard(plan.resultLink)
                            }
                            ActionButton {
                                objectName: "resultOpenButton"
                                text: "Open"
                                onClicked: page.openLink(plan.resultLink)
                            }
                        }
                    }
                    Text {
                        objectName: "deliveryError"
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        visible: text !== ""
                        text: plan.errorText
                        color: Theme.errorText
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        wrapMode: Text.Wrap
                    }
                    Item { implicitHeight: 4 }
                }
            }
        }

        // Storage and the delivered galleries.
        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 14

            PanelCard {
                Layout.fillWidth: true
                RowLayout {
                    spacing: 12
                    Layout.fillWidth: true
                    Text {
                        objectName: "storageLabel"
                        Layout.fillWidth: true
                        text: plan.storageText
                        color: plan.storageFailed ? Theme.errorText : Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        font.weight: Font.Medium
                        wrapMode: Text.Wrap
                    }
                    ActionButton {
                        objectName: "buyStorageButton"
                        text: "Buy more space"
                        onClicked: topup.start()
                    }
                }
                LevelBar {
                    objectName: "storageBar"
                    Layout.fillWidth: true
                    visible: plan.quotaLoaded
                    from: 0
                    to: 1
                    value: plan.storageUsedFraction
                }
            }

            PanelCard {
                Layout.fillWidth: true
                Layout.fillHeight: true
                RowLayout {
                    spacing: 10
                    Layout.fillWidth: true
                    Text {
                        text: "Galleries"
                        color: Theme.text
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCardTitle
                        font.weight: Font.DemiBold
                    }
                    Text {
                        objectName: "lifetimeLabel"
                        Layout.fillWidth: true
                        text: plan.lifetimeGalleriesCreated + " created lifetime"
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                    }
                    ActionButton {
                        objectName: "refreshGalleriesButton"
                        text: "Refresh"
                        onClicked: page.reload()
                    }
                }
                ListView {
                    id: galleryList
                    objectName: "galleryList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    spacing: 8
                    model: plan.galleries
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.vertical: ScrollBar {}
                    delegate: GalleryRow {
                        required property var modelData
                        width: galleryList.width - 12
                        gallery: modelData
                        details: plan.galleryDetails(modelData)
                        link: plan.galleryLink(modelData.slug)
                        onCopyRequested: (link) => plan.copyToClipboard(link)
                        onOpenRequested: (link) => page.openLink(link)
                        onSettingsRequested: (gallery) => settingsDialog.openFor(gallery)
                        onPasswordRequested: (gallery) => passwordDialog.openFor(gallery)
                        onDeleteRequested: (gallery) => deleteDialog.ask(gallery)
                    }
                    Text {
                        objectName: "noGalleriesLabel"
                        anchors.centerIn: parent
                        visible: plan.quotaLoaded && galleryList.count === 0
                        text: "No galleries yet."
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeBody
                    }
                }
            }
        }
    }

    FolderPicker {
        id: folderDialog
        objectName: "deliverFolderDialog"
        title: "Choose a folder of images to deliver"
        onFolderChosen: (folder) => page.useFolder(folder)
    }
    CoverPicker {
        id: coverPicker
        plan: plan
        onChosen: (filename) => plan.coverFilename = filename
    }
    GallerySettingsDialog {
        id: settingsDialog
        plan: plan
        onGalleryChanged: plan.refresh()
    }
    GalleryPasswordDialog {
        id: passwordDialog
        plan: plan
    }
    TopupDialog {
        id: topup
        plan: plan
    }
    MessageBox {
        id: deleteDialog
        objectName: "deleteGalleryDialog"
        property string galleryId: ""
        title: "Delete gallery?"
        cancellable: true
        okText: "Delete Permanently"
        function ask(gallery) {
            galleryId = gallery.galleryId
            show("Delete gallery?", "“" + gallery.title + "” and its " + gallery.fileCount + " image(s) will be "
                 + "removed from the service, and its link will stop working. This cannot be undone.")
        }
        onAccepted: App.delivery.deleteGallery(galleryId)
    }
    MessageBox {
        id: galleryMessage
        objectName: "galleryMessageDialog"
    }
}
