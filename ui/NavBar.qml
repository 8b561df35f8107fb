// The bar across the top of the window: the product word, the six pages,
// the Preview Size and BG sliders where they apply, and the version.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Rectangle {
    id: bar
    property string activePage: "home"
    property bool busy: false
    signal navigate(string page)

    readonly property var pages: [
        { key: "home", label: "Home" },
        { key: "cull", label: "Cull" },
        { key: "edit", label: "Enhance" },
        { key: "deliver", label: "Deliver" },
        { key: "about", label: "About" },
        { key: "account", label: "Account" }
    ]
    readonly property var thumbSizes: [140, 210, 384]
    readonly property var bgLevels: [0.0, 0.227, 1.0]

    implicitHeight: 52
    color: Theme.panel

    Rectangle {
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
        height: 1
        color: Theme.panelBorder
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        spacing: 4

        Text {
            text: "Keepframe"
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeBrand
            font.bold: true
            color: Theme.text
            Layout.rightMargin: 22
        }

        Repeater {
            model: bar.pages
            delegate: Item {
                id: navItem
                required property var modelData
                readonly property bool active: bar.activePage === modelData.key
                objectName: "nav_" + modelData.key
                enabled: !bar.busy
                implicitWidth: label.implicitWidth + 24
                Layout.fillHeight: true

                Text {
                    id: label
                    anchors.centerIn: parent
                    text: navItem.modelData.label
                    font.family: Theme.fontBody
                    font.pixelSize: Theme.sizeBody
                    font.bold: navItem.active
                    color: !navItem.enabled ? Theme.textDim : navItem.active ? Theme.accent
                         : navArea.containsMouse ? Theme.text : Theme.textDim
                    opacity: navItem.enabled ? 1.0 : 0.5
                }
                Rectangle {
                    visible: navItem.active
                    anchors { left: label.left; right: label.right; bottom: parent.bottom; bottomMargin: 8 }
                    height: 2
                    color: Theme.accent
                }
                MouseArea {
                    id: navArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: bar.navigate(navItem.modelData.key)
                }
            }
        }

        Item { Layout.fillWidth: true }

        RowLayout {
            visible: bar.activePage === "cull"
            spacing: 6
            Text {
                text: "Preview Size"
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
                color: Theme.textDim
            }
            Slider {
                id: sizeSlider
                objectName: "previewSizeSlider"
                from: 0; to: 2; stepSize: 1
                snapMode: Slider.SnapAlways
                focusPolicy: Qt.NoFocus
                value: Math.max(0, bar.thumbSizes.indexOf(Theme.thumbSize))
                implicitWidth: 90
                onMoved: Theme.thumbSize = bar.thumbSizes[Math.round(value)]
            }
            Layout.rightMargin: 14
        }

        RowLayout {
            visible: bar.activePage === "cull" || bar.activePage === "edit"
            spacing: 6
            Text {
                text: "BG"
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeCaption
                color: Theme.textDim
            }
            Slider {
                objectName: "bgSlider"
                from: 0; to: 2; stepSize: 1
                snapMode: Slider.SnapAlways
                focusPolicy: Qt.NoFocus
                value: Math.max(0, bar.bgLevels.indexOf(Theme.bgLevel))
                implicitWidth: 70
                onMoved: Theme.bgLevel = bar.bgLevels[Math.round(value)]
            }
            Layout.rightMargin: 14
        }

        Text {
            objectName: "versionLabel"
            text: "v" + Qt.application.version
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCaption
            color: Theme.textDim
        }
    }
}
