// The filter of the review grid: at least N stars, colour labels, the parts
// of the grid (kept, removed, for review), a category and a person. Each
// button sets or clears one condition at once; the conditions combine, and
// Clear Filter takes them all away in one click.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Layouts

Rectangle {
    id: bar
    objectName: "filterBar"

    // The frames the grid shows with the filter, for the count.
    property int shownCount: 0

    readonly property var current: App.selModel.filter
    readonly property bool active: App.selModel.filterActive

    // The filter with one condition changed.
    function change(key, value) {
        const next = Object.assign({}, current)
        next[key] = value
        App.selModel.setFilter(next)
    }

    // Adds `value` to a list condition, or takes it out when it is there.
    function toggleIn(key, value) {
        const list = (current[key] || []).slice()
        const at = list.indexOf(value)
        if (at >= 0)
            list.splice(at, 1)
        else
            list.push(value)
        change(key, list)
    }

    implicitHeight: 40
    color: Theme.panel
    border.color: Theme.panelBorder

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 12
        spacing: 4

        Text {
            text: "Filter:"
            color: Theme.textDim
            font.pixelSize: Theme.sizeDetail
            Layout.rightMargin: 4
        }
        Repeater {
            model: 5
            delegate: ActionButton {
                required property int index
                readonly property int stars: index + 1
                objectName: "filterStars_" + stars
                text: "★" + stars + (stars < 5 ? "+" : "")
                tip: stars < 5 ? "Frames with at least " + stars + " stars" : "Frames with 5 stars"
                leftPadding: 7
                rightPadding: 7
                // As wide as its text: five of them share the bar.
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                checkable: true
                checked: bar.current.minRating === stars
                onClicked: bar.change("minRating", bar.current.minRating === stars ? 0 : stars)
            }
        }
        Item { implicitWidth: 8 }
        Repeater {
            model: ["red", "yellow", "green", "blue"]
            delegate: Rectangle {
                id: labelButton
                required property string modelData
                readonly property bool on: (bar.current.labels || []).indexOf(modelData) >= 0
                objectName: "filterLabel_" + modelData
                implicitWidth: 26
                implicitHeight: 26
                radius: 13
                color: on ? Theme.labelColor(modelData) : "transparent"
                border.width: 2
                border.color: Theme.labelColor(modelData)
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: bar.toggleIn("labels", labelButton.modelData)
                }
            }
        }
        Item { implicitWidth: 8 }
        Repeater {
            model: [["kept", "Kept"], ["removed", "Removed"], ["review", "For review"]]
            delegate: ActionButton {
                required property var modelData
                objectName: "filterPart_" + modelData[0]
                text: modelData[1]
                leftPadding: 8
                rightPadding: 8
                checkable: true
                checked: (bar.current.parts || []).indexOf(modelData[0]) >= 0
                onClicked: bar.toggleIn("parts", modelData[0])
            }
        }
        Item { implicitWidth: 8 }
        Repeater {
            model: ["Details", "Featured", "Portraits", "Group"]
            delegate: ActionButton {
                required property string modelData
                objectName: "filterCategory_" + modelData
                text: modelData
                leftPadding: 8
                rightPadding: 8
                checkable: true
                checked: bar.current.category === modelData
                onClicked: bar.change("category", bar.current.category === modelData ? "" : modelData)
            }
        }
        // The person chosen in the people strip; a click forgets it.
        ActionButton {
            objectName: "filterPerson"
            visible: bar.current.personId !== undefined && bar.current.personId >= 0
            Layout.maximumWidth: Theme.filterPersonWidth
            text: (bar.current.personName ? bar.current.personName : "One person") + "  ✕"
            tip: "Show every person again"
            checked: true
            onClicked: App.selModel.setPersonFilter(-1, "", [])
        }
        // Takes the room left, and gives it up first in a narrow window: the
        // buttons and Clear Filter stay whole.
        Text {
            objectName: "filterCount"
            Layout.fillWidth: true
            Layout.minimumWidth: 0
            Layout.leftMargin: 6
            text: !bar.active ? "" : bar.shownCount === 1 ? "1 frame shown" : bar.shownCount + " frames shown"
            horizontalAlignment: Text.AlignRight
            elide: Text.ElideLeft
            color: Theme.textDim
            font.pixelSize: Theme.sizeCaption
        }
        ActionButton {
            objectName: "clearFilterButton"
            text: "Clear Filter"
            enabled: bar.active
            onClicked: App.selModel.clearFilter()
        }
    }
}
