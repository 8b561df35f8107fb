// Buying more storage in three stages: the amount ("Buy more space"), the
// payment code ("Scan to pay", its status asked every pollInterval ms until it
// is paid or expires, or the dialog closes) and the confirmation ("Storage added").
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

ToolDialog {
    id: dialog
    objectName: "topupDialog"
    title: stage === "choose" ? "Buy more space" : stage === "pay" ? "Scan to pay" : "Storage added"
    width: Math.min(520, (parent ? parent.width : 520) - 80)

    required property DeliverModel plan
    // "choose", "pay" or "paid".
    property string stage: "choose"
    property int pollInterval: 4000
    property bool requesting: false
    property string message: ""
    property string topupId: ""
    property string priceText: ""
    property string qrImageUrl: ""
    property string paidText: ""

    function start() {
        stage = "choose"
        requesting = false
        message = ""
        topupId = ""
        open()
    }

    function requestCode() {
        message = ""
        requesting = true
        App.delivery.requestStorageTopup(amount.value)
    }

    Timer {
        id: poll
        objectName: "topupPollTimer"
        interval: dialog.pollInterval
        repeat: true
        running: dialog.opened && dialog.stage === "pay"
        onTriggered: App.delivery.checkTopupStatus(dialog.topupId)
    }

    Connections {
        target: App.delivery
        enabled: dialog.opened
        function onStorageTopupCreated(topupId, additionalGb, remainingMonths, amountRupees, qrCodeId, qrImageUrl) {
            if (!dialog.requesting)
                return
            dialog.requesting = false
            dialog.topupId = topupId
            dialog.priceText = dialog.plan.topupPriceText(amountRupees, remainingMonths)
            dialog.qrImageUrl = qrImageUrl
            dialog.stage = "pay"
        }
        function onStorageTopupFailed(reason) {
            dialog.requesting = false
            dialog.message = dialog.plan.readableReason(reason)
        }
        function onTopupStatusPaid(topupId, addedGb, storageQuotaBytes) {
            if (topupId !== dialog.topupId || dialog.stage !== "pay")
                return
            dialog.paidText = addedGb + " GB added. Your storage is now " + dialog.plan.gigabytes(storageQuotaBytes)
                              + "."
            dialog.stage = "paid"
        }
        function onTopupStatusExpired(topupId) {
            if (topupId !== dialog.topupId || dialog.stage !== "pay")
                return
            dialog.stage = "choose"
            dialog.message = "This code expired before payment was completed. Please generate a new one."
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        // Stage 1: how much.
        ColumnLayout {
            visible: dialog.stage === "choose"
            spacing: 10
            Text {
                text: "Extra storage"
                color: Theme.textDim
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
            }
            SpinBox {
                id: amount
                objectName: "topupAmount"
                from: 10
                to: 10000
                stepSize: 10
                value: 10
                editable: false
                focusPolicy: Qt.NoFocus
                textFromValue: (value) => value + " GB"
                valueFromText: (text) => parseInt(text)
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeBody
                implicitWidth: 170
            }
            Text {
                objectName: "topupMessage"
                Layout.fillWidth: true
                visible: text !== ""
                text: dialog.message
                color: Theme.errorText
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeDetail
                wrapMode: Text.Wrap
            }
        }

        // Stage 2: the payment code.
        ColumnLayout {
            visible: dialog.stage === "pay"
            spacing: 10
            Text {
                objectName: "topupPrice"
                Layout.fillWidth: true
                text: dialog.priceText
                color: Theme.text
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeBody
                wrapMode: Text.Wrap
            }
            Image {
                id: code
                objectName: "topupQrImage"
                Layout.alignment: Qt.AlignHCenter
                source: dialog.stage === "pay" ? dialog.qrImageUrl : ""
                asynchronous: true
                cache: false
                fillMode: Image.PreserveAspectFit
                Layout.preferredWidth: Math.min(400, implicitWidth)
                Layout.preferredHeight: Math.min(400, implicitHeight)
            }
            Text {
                objectName: "topupWaiting"
                Layout.alignment: Qt.AlignHCenter
                text: code.status === Image.Error ? "The payment code could not be shown; close and try again."
                                                  : "Waiting for your payment…"
                color: Theme.textDim
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
            }
        }

        // Stage 3: done.
        Text {
            objectName: "topupPaidText"
            visible: dialog.stage === "paid"
            Layout.fillWidth: true
            text: dialog.paidText
            color: Theme.okText
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeBody
            wrapMode: Text.Wrap
        }
    }

    footer: RowLayout {
        spacing: 10
        Item { Layout.fillWidth: true }
        ActionButton {
            objectName: "topupCloseButton"
            text: dialog.stage === "paid" ? "Done" : "Close"
            Layout.rightMargin: dialog.stage === "choose" ? 0 : 20
            Layout.bottomMargin: 16
            onClicked: dialog.close()
        }
        ActionButton {
            objectName: "topupRequestButton"
            visible: dialog.stage === "choose"
            text: "Get Payment QR"
            highlighted: true
            enabled: !dialog.requesting
            Layout.rightMargin: 20
            Layout.bottomMargin: 16
            onClicked: dialog.requestCode()
        }
    }
}
