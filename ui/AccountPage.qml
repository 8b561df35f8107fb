// The Account page: the usage counters of this computer's library, the studio
// branding clients see on their gallery pages, and the delivery service this
// program talks to (its address and the access token).
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Item {
    id: page
    objectName: "accountPage"

    property var usage: ({})
    property string brandingStatus: ""
    property bool brandingFailed: false
    property string serviceStatus: ""
    property bool serviceFailed: false

    // Settings given by the environment (or by the program itself) are not edited here.
    readonly property bool urlFixed: App.delivery.serviceUrlSource === "environment"
                                     || App.delivery.serviceUrlSource === "application"
    readonly property bool tokenFixed: App.delivery.accessTokenSource === "environment"
                                       || App.delivery.accessTokenSource === "application"

    // Re-reads the usage counters (culls finished since the last visit count).
    function refresh() {
        usage = App.selModel.usageCounters()
        brandingStatus = ""
        serviceStatus = ""
        urlField.text = App.delivery.serviceUrl
        tokenField.text = ""
    }

    function saveBranding() {
        brandingStatus = ""
        App.delivery.saveStudioProfile(studioField.text, phoneField.text)
    }

    // Stores what changed of the address and the token; each answers with
    // serviceSettingsChanged or serviceSettingsChangeFailed.
    function saveServiceSettings() {
        serviceStatus = ""
        serviceFailed = false
        let ok = true
        let changedAny = false
                if (!urlFixed && urlField.text.trim() !== App.delivery.serviceUrl) {
            changedAny = true
            ok = App.delivery.setServiceUrl(urlField.text.trim())
        }
        if (ok && !tokenFixed && tokenField.text !== "") {
            changedAny = true
            ok = App.delivery.setAccessToken(tokenField.text)
        }
        if (!ok)
            return
        tokenField.text = ""
        urlField.text = App.delivery.serviceUrl
        serviceStatus = changedAny ? "Saved." : "Nothing changed."
        // The branding card can be filled now that the service can be asked.
        if (changedAny && App.delivery.hasAccessToken)
            App.delivery.fetchStudioProfile()
    }

    function clearToken() {
        serviceStatus = ""
        serviceFailed = false
        if (App.delivery.clearAccessToken()) {
            tokenField.text = ""
            serviceStatus = "Access token removed."
        }
    }

    function sourceText(source, what) {
        if (source === "environment")
            return "Set by the environment (" + what + "); change it there."
        if (source === "settings")
            return "Saved in your settings on this computer."
        if (source === "application")
            return "Set by the program itself; it cannot be changed here."
        if (source === "default")
            return "The default service address."
        return ""
    }

    // Failure reasons in words (a service that cannot be reached names its
    // address). It has no service: it asks for nothing.
    DeliverModel {
        id: reasons
    }

    Connections {
        target: App.delivery
        function onStudioProfileReceived(studioName, phone) {
            studioField.text = studioName
            phoneField.text = phone
        }
        function onStudioProfileFetchFailed(reason) {
            page.brandingFailed = true
            page.brandingStatus = "Couldn't load: " + reasons.describeReason(reason, App.delivery.serviceUrl)
        }
        function onStudioProfileSaved() {
            page.brandingFailed = false
            page.brandingStatus = "Saved."
        }
        function onStudioProfileSaveFailed(reason) {
            page.brandingFailed = true
            page.brandingStatus = "Couldn't save: " + reasons.describeReason(reason, App.delivery.serviceUrl)
        }
        function onServiceSettingsChangeFailed(reason) {
            page.serviceFailed = true
            page.serviceStatus = reason
        }
    }

    Flickable {
        anchors.fill: parent
        contentHeight: content.implicitHeight + 56
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: content
            x: 28
            y: 24
            width: Math.min(980, parent.width - 56)
            spacing: 16

            Text {
                objectName: "pageTitle"
                text: "Account"
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizePageHeading
                font.weight: Font.DemiBold
                color: Theme.text
            }

            RowLayout {
                spacing: 16
                Layout.fillWidth: true

                // What this computer has done, over all projects.
                PanelCard {
                    objectName: "usageCard"
                    title: "Your usage"
                    subtitle: "Counted on this computer since the first cull."
                    Layout.preferredWidth: 320
                    Layout.fillHeight: true
                    RowLayout {
                        spacing: 28
                        Layout.topMargin: 6
                        Repeater {
                            model: [["projectsDone", "Projects done", "lifetimeProjects"],
                                    ["imagesCulled", "Images culled", "lifetimeCulledImages"]]
                            delegate: ColumnLayout {
                                required property var modelData
                                spacing: 2
                                Text {
                                    objectName: parent.modelData[0]
                                    text: Number(page.usage[parent.modelData[2]] || 0)
                                          .toLocaleString(Qt.locale(), "f", 0)
                                    color: Theme.text
                                    font.family: Theme.fontBody
                                    font.pixelSize: Theme.sizeFigure
                                    font.weight: Font.DemiBold
                                }
                                Text {
                                    text: parent.modelData[1]
                                    color: Theme.textDim
                                    font.family: Theme.fontBody
                                    font.pixelSize: Theme.sizeCaption
                                }
                            }
                        }
                    }
                    Item { Layout.fillHeight: true }
                }

                // The studio clients see on their gallery pages.
                PanelCard {
                    objectName: "brandingCard"
                    title: "Studio branding — shown to clients on gallery pages"
                    Layout.fillWidth: true
                    RowLayout {
                        spacing: 12
                        Layout.fillWidth: true
                        FormField {
                            id: studioField
                            fieldName: "studioNameField"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 3
                            label: "Studio name"
                            placeholderText: "e.g. Lantern Studios"
                        }
                        FormField {
                            id: phoneField
                            fieldName: "contactPhoneField"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 2
                            label: "Contact phone"
                            placeholderText: "e.g. +91 98765 43210"
                        }
                    }
                    RowLayout {
                        spacing: 12
                        Layout.fillWidth: true
                        ActionButton {
                            objectName: "saveBrandingButton"
                            text: "Save"
                            highlighted: true
                            onClicked: page.saveBranding()
                        }
                        Text {
                            objectName: "brandingStatus"
                            Layout.fillWidth: true
                            text: page.brandingStatus
                            color: page.brandingFailed ? Theme.errorText : Theme.okText
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeDetail
                            wrapMode: Text.Wrap
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "A field left empty keeps what the service already has."
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                    }
                }
            }

            // Where galleries are delivered, and the key to the account there.
            PanelCard {
                objectName: "serviceCard"
                title: "Delivery service"
                subtitle: "Galleries are uploaded to this service with your account's access token."
                Layout.fillWidth: true

                GridLayout {
                    columns: 2
                    columnSpacing: 16
                    rowSpacing: 6
                    Layout.fillWidth: true

                    FormField {
                        id: urlField
                        fieldName: "serviceUrlField"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        label: "Service address"
                        placeholderText: App.delivery.defaultServiceUrl
                        enabled: !page.urlFixed
                        onAccepted: page.saveServiceSettings()
                    }
                    FormField {
                        id: tokenField
                        fieldName: "accessTokenField"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        label: "Access token"
                        masked: true
                        placeholderText: App.delivery.hasAccessToken ? "Paste a new token to replace the stored one"
                                                                 : "Paste your access token"
                        enabled: !page.tokenFixed
                        onAccepted: page.saveServiceSettings()
                    }
                    Text {
                        objectName: "serviceUrlSource"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        text: page.sourceText(App.delivery.serviceUrlSource, "KEEPFRAME_DELIVERY_URL")
                        color: Theme.textDim
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeCaption
                        wrapMode: Text.Wrap
                    }
                    RowLayout {
                        spacing: 8
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        Rectangle {
                            width: 8
                            height: 8
                            radius: 4
                            color: App.delivery.hasAccessToken ? Theme.settingSet : Theme.settingMissing
                        }
                        Text {
                            objectName: "accessTokenState"
                            Layout.fillWidth: true
                            text: App.delivery.hasAccessToken
                                  ? "Access token: set — " + page.sourceText(App.delivery.accessTokenSource,
                                                                               "KEEPFRAME_DELIVERY_TOKEN")
                                  : "Access token: not set — deliveries and galleries need it."
                            color: Theme.textDim
                            font.family: Theme.fontBody
                            font.pixelSize: Theme.sizeCaption
                            wrapMode: Text.Wrap
                        }
                    }
                }
                RowLayout {
                    spacing: 10
                    Layout.topMargin: 4
                    Layout.fillWidth: true
                    ActionButton {
                        objectName: "saveServiceButton"
                        text: "Save"
                        highlighted: true
                        enabled: !page.urlFixed || !page.tokenFixed
                        onClicked: page.saveServiceSettings()
                    }
                    ActionButton {
                        objectName: "clearTokenButton"
                        text: "Clear Token"
                        enabled: App.delivery.accessTokenSource === "settings"
                        onClicked: page.clearToken()
                    }
                    Text {
                        objectName: "serviceStatus"
                        Layout.fillWidth: true
                        text: page.serviceStatus
                        color: page.serviceFailed ? Theme.errorText : Theme.okText
                        font.family: Theme.fontBody
                        font.pixelSize: Theme.sizeDetail
                        wrapMode: Text.Wrap
                    }
                }
            }
        }
    }
}
