// A titled panel of the Deliver and Account pages; its children are laid out
// in a column below the title.
import QtQuick
import KeepframeUI
import QtQuick.Layouts

Rectangle {
    id: card
    property string title: ""
    property string subtitle: ""
    property int contentSpacing: 10
    default property alias content: column.data

    color: Theme.panel
    radius: 6
    border.color: Theme.panelBorder
    implicitWidth: column.implicitWidth + 36
    implicitHeight: column.implicitHeight + 32

    ColumnLayout {
        id: column
        anchors { fill: parent; leftMargin: 18; rightMargin: 18; topMargin: 16; bottomMargin: 16 }
        spacing: card.contentSpacing

        Text {
            visible: card.title !== ""
            text: card.title
            color: Theme.text
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCardTitle
            font.weight: Font.DemiBold
            Layout.fillWidth: true
            elide: Text.ElideRight
        }
        Text {
            visible: card.subtitle !== ""
            text: card.subtitle
            color: Theme.textDim
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCaption
            Layout.fillWidth: true
            wrapMode: Text.Wrap
        }
    }
}
