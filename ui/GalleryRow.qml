// One delivered gallery in the Deliver page's list: its title with the
// Settings, Password and Delete actions, its details, and its client link
// with Copy / Open.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Layouts

Rectangle {
    id: row
    required property var gallery
    property string details: ""
    property string link: ""
    signal copyRequested(string link)
    signal openRequested(string link)
    signal settingsRequested(var gallery)
    signal passwordRequested(var gallery)
    signal deleteRequested(var gallery)

    // The small buttons of a row.
    component RowButton: ActionButton {
        topPadding: 3
        bottomPadding: 3
        leftPadding: 10
        rightPadding: 10
        font.pixelSize: Theme.sizeCompactControl
    }

    objectName: "galleryRow_" + gallery.galleryId
    implicitHeight: column.implicitHeight + 22
    radius: 5
    color: Theme.listRow
    border.color: Theme.panelBorder

    ColumnLayout {
        id: column
        anchors { left: parent.left; right: parent.right; top: parent.top; margins: 11; leftMargin: 14 }
        spacing: 4

        RowLayout {
            spacing: 6
            Layout.fillWidth: true
            Text {
                objectName: "galleryTitle"
                Layout.fillWidth: true
                text: row.gallery.title !== "" ? row.gallery.title : "(untitled)"
                color: Theme.text
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeBody
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }
            RowButton {
                objectName: "settingsButton"
                text: "Settings"
                onClicked: row.settingsRequested(row.gallery)
            }
            RowButton {
                objectName: "passwordButton"
                text: "Password"
                onClicked: row.passwordRequested(row.gallery)
            }
            RowButton {
                objectName: "deleteButton"
                text: "Delete"
                onClicked: row.deleteRequested(row.gallery)
            }
        }
        Text {
            objectName: "galleryDetails"
            Layout.fillWidth: true
            text: row.details
            color: Theme.textDim
            font.family: Theme.fontBody
            font.pixelSize: Theme.sizeCaption
            elide: Text.ElideRight
        }
        RowLayout {
            spacing: 6
            Layout.fillWidth: true
            Text {
                objectName: "galleryLink"
                Layout.fillWidth: true
                text: row.link
                color: Theme.link
                font.family: Theme.fontMono
                font.pixelSize: Theme.sizeFootnote
                elide: Text.ElideMiddle
            }
            RowButton {
                objectName: "copyLinkButton"
                text: "Copy"
                onClicked: row.copyRequested(row.link)
            }
            RowButton {
                objectName: "openLinkButton"
                text: "Open"
                onClicked: row.openRequested(row.link)
            }
        }
    }
}
