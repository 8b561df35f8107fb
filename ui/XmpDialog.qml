// "Write XMP sidecars": the rating, label and keywords of the open project in
// sidecar files next to the photographs, for the photographer's editor; or
// those values taken back out ("Remove Ours"). The sidecars are written in the
// background; the dialog shows how far the write has got and stays open, its
// buttons off, until the result arrives.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ToolDialog {
    id: dialog
    objectName: "xmpDialog"
    title: "Write XMP sidecars"
    width: Math.min(560, (parent ? parent.width : 560) - 80)
    closePolicy: busy ? Popup.NoAutoClose : Popup.CloseOnEscape

    // "replace" (IMG_0001.xmp) or "append" (IMG_0001.CR2.xmp).
    property string sidecarStyle: "replace"
    property int rating: 3
    // "Green" or "" (no label).
    property string label: "Green"
    property bool busy: false
    property bool removing: false
    // Photographs settled and in all, while the write runs.
    property int progressDone: 0
    property int progressTotal: 0

    // The counts and notes of the run, once it is done.
    signal done(var result, bool removed)

    function start(remove) {
        removing = remove
        progressDone = 0
        progressTotal = 0
        if (App.selModel.startXmpSidecars({ "style": dialog.sidecarStyle, "rating": dialog.rating,
                                        "label": dialog.label, "remove": remove })) {
            busy = true
            return
        }
        close()
        done({ "error": App.selModel.xmpRunning ? "XMP sidecars are being written already." : "No project is open." },
             remove)
    }

    function finish(result) {
        if (!busy)
            return  // a write this dialog did not start
        progressDone = progressTotal
        busy = false
        close()
        done(result, removing)
    }

    Connections {
        target: App.selModel
        function onXmpSidecarsFinished(result) { dialog.finish(result) }
    }

    Timer {
        interval: 100
        repeat: true
        running: dialog.busy
        onTriggered: {
            dialog.progressDone = App.selModel.xmpProgressDone()
            dialog.progressTotal = App.selModel.xmpProgressTotal()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8
        enabled: !dialog.busy

        Text {
            Layout.fillWidth: true
            text: "Kept frames get the rating and label below, frames of moments with nothing kept a rating of 1, "
                  + "removed frames are marked rejected. Keywords name the category, the moment and the people. "
                  + "The photographs themselves are not changed."
            color: Theme.textDim
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCaption
            lineHeight: 1.15
            wrapMode: Text.Wrap
        }

        SectionLabel { text: "Sidecar name" }
        ChoiceOption {
            objectName: "xmpStyleReplace"
            text: "IMG_0001.xmp — most catalogue editors"
            checked: dialog.sidecarStyle === "replace"
            onClicked: dialog.sidecarStyle = "replace"
        }
        ChoiceOption {
            objectName: "xmpStyleAppend"
            text: "IMG_0001.CR2.xmp — darktable, digiKam"
            checked: dialog.sidecarStyle === "append"
            onClicked: dialog.sidecarStyle = "append"
        }

        SectionLabel { text: "Rating for kept frames" }
        Row {
            spacing: 6
            Repeater {
                model: 5
                delegate: ActionButton {
                    required property int index
                    objectName: "xmpRating" + (index + 1)
                    implicitWidth: 52
                    leftPadding: 6
                    rightPadding: 6
                    text: (index + 1) + " ★"
                    checkable: true
                    checked: dialog.rating === index + 1
                    onClicked: dialog.rating = index + 1
                }
            }
        }

        SectionLabel { text: "Label for kept frames" }
        RowLayout {
            spacing: 18
            ChoiceOption {
                objectName: "xmpLabelGreen"
                text: "Green"
                checked: dialog.label === "Green"
                onClicked: dialog.label = "Green"
            }
            ChoiceOption {
                objectName: "xmpLabelNone"
                text: "None"
                checked: dialog.label === ""
                onClicked: dialog.label = ""
            }
        }

        ColumnLayout {
            objectName: "xmpBusy"
            visible: dialog.busy
            spacing: 6
            Layout.fillWidth: true
            Layout.topMargin: 4
            Text {
                objectName: "xmpProgressText"
                text: (dialog.removing ? "Removing sidecar values… " : "Writing sidecars… ")
                      + dialog.progressDone + " / " + dialog.progressTotal
                color: Theme.text
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeDetail
            }
            LevelBar {
                objectName: "xmpProgress"
                Layout.fillWidth: true
                from: 0
                to: Math.max(1, dialog.progressTotal)
                value: dialog.progressDone
                indeterminate: dialog.progressTotal === 0
            }
        }
    }

    footer: RowLayout {
        spacing: 10
        Item { Layout.fillWidth: true }
        ActionButton {
            objectName: "xmpCancelButton"
            text: "Cancel"
            enabled: !dialog.busy
            Layout.bottomMargin: 16
            onClicked: dialog.close()
        }
        ActionButton {
            objectName: "xmpRemoveButton"
            text: "Remove Ours"
            tip: "Take the rating, label and keywords written here back out of the sidecars"
            enabled: !dialog.busy
            Layout.bottomMargin: 16
            onClicked: dialog.start(true)
        }
        ActionButton {
            objectName: "xmpWriteButton"
            text: "Write"
            highlighted: true
            enabled: !dialog.busy
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: dialog.start(false)
        }
    }
}
