// The About page: what the program does, in its own palette and display fonts.
pragma ComponentBehavior: Bound
import QtQuick
import KeepframeUI
import QtQuick.Controls.Basic
import QtQuick.Layouts

Rectangle {
    id: page
    objectName: "aboutPage"
    color: Theme.wsCanvas

    readonly property string versionText: "Version " + Qt.application.version

    // The mono label above each section.
    component Eyebrow: Text {
        color: Theme.wsTeal
        font.family: Theme.fontMono
        font.pixelSize: Theme.sizeAboutLabel
        font.weight: Font.Medium
        font.letterSpacing: 2.2
    }
    // The display heading of each section.
    component Heading: Text {
        color: Theme.wsPaper
        font.family: Theme.fontDisplay
        font.pixelSize: Theme.sizeAboutHeading
        font.weight: Font.Bold
        Layout.fillWidth: true
        wrapMode: Text.Wrap
    }
    component Body: Text {
        color: Theme.wsAsh
        font.family: Theme.fontBody
        font.pixelSize: Theme.sizeAboutBody
        lineHeight: 1.3
        Layout.fillWidth: true
        wrapMode: Text.Wrap
    }
    // One card of the pipeline and correction sections.
    component StepCard: Rectangle {
        id: card
        property string step: ""
        property string name: ""
        property string detail: ""
        property color mark: Theme.wsAccent
        color: Theme.wsPanel
        radius: 3
        border.color: Theme.wsBorder
        implicitHeight: cardColumn.implicitHeight + 40
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.preferredWidth: 1
        Rectangle {
            anchors { left: parent.left; top: parent.top; bottom: parent.bottom }
            width: 3
            color: card.mark
        }
        ColumnLayout {
            id: cardColumn
            anchors { left: parent.left; right: parent.right; top: parent.top; margins: 20; leftMargin: 24 }
            spacing: 8
            Text {
                text: card.step
                color: card.mark
                font.family: Theme.fontMono
                font.pixelSize: Theme.sizeAboutLabel
                font.weight: Font.Medium
                font.letterSpacing: 1.6
            }
            Text {
                text: card.name
                color: Theme.wsPaper
                font.family: Theme.fontDisplay
                font.pixelSize: Theme.sizeAboutCardName
                font.weight: Font.Bold
                Layout.fillWidth: true
                wrapMode: Text.Wrap
            }
            Text {
                text: card.detail
                color: Theme.wsAsh
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeAboutDetail
                lineHeight: 1.3
                Layout.fillWidth: true
                wrapMode: Text.Wrap
            }
        }
    }

    Flickable {
        id: scroller
        objectName: "aboutScroll"
        anchors.fill: parent
        contentHeight: column.implicitHeight + 96
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: column
            width: Math.min(1080, scroller.width - 96)
            x: (scroller.width - width) / 2
            y: 44
            spacing: 0

            // Who it is for.
            Eyebrow { text: "FOR WEDDING & EVENT PHOTOGRAPHERS" }
            Text {
                text: "KEEPFRAME"
                color: Theme.wsPaper
                font.family: Theme.fontDisplay
                font.pixelSize: Theme.sizeAboutWordmark
                font.weight: Font.Black
                font.letterSpacing: 2
                Layout.topMargin: 4
            }
            Rectangle {
                width: 72
                height: 4
                color: Theme.wsAccent
                Layout.topMargin: 6
            }
            Text {
                objectName: "aboutTagline"
                text: "A whole shoot culled in one pass.\n"
                      + "The frames you would keep, colour-corrected.\n"
                      + "A private gallery your clients can search by face."
                color: Theme.wsPaper
                font.family: Theme.fontBody
                font.pixelSize: Theme.sizeAboutTagline
                lineHeight: 1.35
                Layout.topMargin: 22
            }
            Text {
                objectName: "aboutVersion"
                text: page.versionText
                color: Theme.wsAsh
                font.family: Theme.fontMono
                font.pixelSize: Theme.sizeAboutLabel
                font.letterSpacing: 1.2
                Layout.topMargin: 18
            }

            // The four stages of the engine.
            Eyebrow { text: "THE PIPELINE"; Layout.topMargin: 64 }
            Heading { text: "Two engines, one pass over the shoot."; Layout.topMargin: 8 }
            Body {
                text: "The cull engine reads every frame once; the correction engine works on the keepers. "
                      + "Nothing leaves this computer until you deliver."
                Layout.topMargin: 10
                Layout.maximumWidth: 720
            }
            RowLayout {
                spacing: 14
                Layout.fillWidth: true
                Layout.topMargin: 26
                StepCard {
                    step: "01 — DETECT"
                    name: "Faces & frames"
                    detail: "Faces, eyes and expressions found by four neural networks; sharpness, exposure and "
                            + "contrast measured for every frame."
                }
                StepCard {
                    step: "02 — CLUSTER"
                    name: "Group by person & moment"
                    detail: "Near-duplicates grouped by look, capture time and the people in them; the recurring "
                            + "people of the day identified."
                }
                StepCard {
                    step: "03 — SELECT"
                    name: "Keep the best of each group"
                    detail: "Open eyes, sharp faces and good expressions win; every moment keeps its best frames, "
                            + "split into primary and review picks."
                }
                StepCard {
                    step: "04 — CORRECT"
                    name: "Colour, tone, sharpen"
                    detail: "Skin-aware white balance and exposure from the faces in each frame, then tone and "
                            + "detail."
                    mark: Theme.wsTeal
                }
            }

            // Enhance and Enhance Plus.
            Eyebrow { text: "TWO CORRECTION LEVELS"; Layout.topMargin: 64 }
            Heading { text: "Light touch, or the full pass."; Layout.topMargin: 8 }
            RowLayout {
                spacing: 14
                Layout.fillWidth: true
                Layout.topMargin: 26
                StepCard {
                    step: "STAGES 1 – 4"
                    name: "Enhance"
                    detail: "The first four correction stages: exposure, white balance and basic tone. Quick, "
                            + "faithful to the frame, right for most of a day's keepers."
                }
                StepCard {
                    step: "STAGES 1 – 9"
                    name: "Enhance Plus"
                    detail: "All nine stages: adds second-pass curves, shadow lift, highlight recovery and final "
                            + "sharpening, for the frames that will be printed or shared first."
                    mark: Theme.wsTeal
                }
            }

            // The client gallery.
            Eyebrow { text: "DELIVER"; Layout.topMargin: 64 }
            Heading { text: "Client-ready in a couple of clicks."; Layout.topMargin: 8 }
            Body {
                text: "Upload the keepers to a password-protected web gallery under your studio's name. Choose "
                      + "the cover, the upload size and whether clients may download; with face search on, a "
                      + "guest finds every photo of themselves from one selfie."
                Layout.topMargin: 10
                Layout.maximumWidth: 720
            }
            Text {
                text: "ORVO KEEPFRAME  ·  " + page.versionText.toUpperCase()
                color: Theme.wsAshDim
                font.family: Theme.fontMono
                font.pixelSize: Theme.sizeAboutFootnote
                font.letterSpacing: 1.6
                Layout.topMargin: 56
            }
        }
    }
}
