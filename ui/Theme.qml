// Colours, sizes and fonts shared by every screen. The BG slider moves
// bgLevel, the Preview Size slider moves thumbSize. Pages take every colour
// and font size from here, by the role it plays.
pragma Singleton
import QtQuick

QtObject {
    property real bgLevel: 0.0
    readonly property color background: Qt.rgba(bgLevel, bgLevel, bgLevel, 1)
    property int thumbSize: 210
    readonly property int thumbImageHeight: Math.round(thumbSize * 0.72)

    readonly property real panelLevel: bgLevel < 0.5 ? Math.min(1.0, bgLevel + 0.16) : Math.max(0.0, bgLevel - 0.16)
    readonly property color panel: Qt.rgba(panelLevel, panelLevel, panelLevel, 1)
    readonly property color panelBorder: Qt.rgba(0.5, 0.5, 0.5, 0.35)

    readonly property bool lightBackground: bgLevel > 0.55
    readonly property color text: lightBackground ? "#1a1a1a" : "#f0f0f0"
    readonly property color textDim: lightBackground ? "#444444" : "#cfcfcf"

    readonly property color accent: "#2962ff"
    readonly property color accentText: "#ffffff"

    readonly property color card: Qt.rgba(0.92, 0.92, 0.93, 1)
    readonly property color cardText: "#1a1a1a"
    readonly property color cardSub: "#666666"
    // A card's cover area before (or without) its picture.
    readonly property color cardCover: "#d4d4d8"

    readonly property string fontDisplay: "Big Shoulders Display"
    readonly property string fontBody: "Inter"
    readonly property string fontMono: "IBM Plex Mono"

    readonly property color wsCanvas: "#14110f"
    readonly property color wsPanel: "#1e1a17"
    readonly property color wsAccent: "#e8963c"
    readonly property color wsTeal: "#6fa8a0"
    readonly property color wsPaper: "#f2ece3"
    readonly property color wsAsh: "#9a9188"
    readonly property color wsAshDim: "#6b655e"
    readonly property color wsBorder: Qt.rgba(0.95, 0.93, 0.89, 0.07)

    // Marks of the review grid.
    readonly property color lastViewed: "#ffb300"
    readonly property color marked: "#1565c0"
    readonly property color removed: "#c62828"
    readonly property color reviewed: "#3fb950"
    // The photographer's stars and colour labels, on pictures and in the filter bar.
    readonly property color star: "#ffc83d"
    readonly property color labelRed: "#e53935"
    readonly property color labelYellow: "#fdd835"
    readonly property color labelGreen: "#43a047"
    readonly property color labelBlue: "#1e88e5"
    readonly property int labelDotSize: 11
    // The widest the filter bar's person button grows before its name is cut short.
    readonly property int filterPersonWidth: 180
    function labelColor(key) {
        return key === "red" ? labelRed : key === "yellow" ? labelYellow : key === "green" ? labelGreen
                                                              : key === "blue" ? labelBlue : "transparent"
    }

    // Status lines: a failure and a confirmation. They sit on the panel and on
    // its list rows, so each is made readable on both at every BG level.
    readonly property color errorText: readableOnPanel(lightBackground ? "#b3261e" : "#ff8a80")
    readonly property color okText: readableOnPanel(lightBackground ? "#1e7a34" : "#7ed491")
    // A note that something was left out.
    readonly property color warnText: readableOnPanel(lightBackground ? "#8a5300" : "#ffc266")
    // A web address to open or copy.
    readonly property color link: readableOnPanel(lightBackground ? "#1a4fd6" : "#82a7ff")
    // The dot beside a setting that is in place, or still missing.
    readonly property color settingSet: "#3fb950"
    readonly property color settingMissing: "#d29922"

    // Parts of the pages that follow the BG level.
    // The strip of status lines above a page's content.
    readonly property color statusStrip: Qt.rgba(panelLevel, panelLevel, panelLevel, 0.55)
    // Behind a picture that does not fill its cell.
    readonly property color imageWell: Qt.rgba(0, 0, 0, 0.35)
    // One entry of a list on a panel (a delivered gallery).
    readonly property color listRow: lightBackground ? Qt.rgba(1, 1, 1, 0.55) : Qt.rgba(1, 1, 1, 0.045)
    // Where something is typed or picked from a list.
    readonly property color field: lightBackground ? "#ffffff" : "#161616"
    readonly property color placeholderText: lightBackground ? "#757575" : "#828282"
    // The dialogs of the pages.
    readonly property color dialog: lightBackground ? "#f4f4f4" : Qt.rgba(0.13, 0.13, 0.14, 1)
    // Check boxes and radio buttons when off: the fill and the rim (lit under the pointer).
    readonly property color checkFill: Qt.rgba(0.08, 0.08, 0.08, 0.75)
    readonly property color checkBorder: "#9a9a9a"
    readonly property color checkBorderHover: "#ffffff"
    // The track of a bar of progress or of how full something is.
    readonly property color levelTrack: lightBackground ? Qt.rgba(0, 0, 0, 0.12) : Qt.rgba(1, 1, 1, 0.12)
    // The Enhance batch's progress track.
    readonly property color progressTrack: Qt.rgba(0.5, 0.5, 0.5, 0.35)
    // A slider's track and its handle (darker while dragged).
    readonly property color sliderTrack: lightBackground ? Qt.rgba(0, 0, 0, 0.15) : Qt.rgba(1, 1, 1, 0.15)
    readonly property color sliderHandle: "#ffffff"
    readonly property color sliderHandlePressed: "#e6e6e6"
    // The entry under the pointer in a grid or list of choices.
    readonly property color hoverFill: Qt.rgba(1, 1, 1, 0.07)
    // The chosen tile of a grid, the chosen row of a list.
    readonly property color chosenTile: Qt.rgba(0.16, 0.38, 1, 0.22)
    readonly property color chosenRow: Qt.rgba(0.16, 0.38, 1, 0.30)
    // Behind a cover preview.
    readonly property color coverWell: "#101010"
    // The badge of an Enhance correction (an Enhance Plus one is in the accent) and its text.
    readonly property color enhanceBadge: "#2e7d5b"
    readonly property color badgeText: "#ffffff"

    // Surfaces that stay dark at every BG level: the viewers, the cluster
    // popup, the message boxes and menus.
    readonly property color viewerBackground: "#0d0d0d"
    readonly property color viewerBar: "#161616"
    // Behind a picture in the compare view and the hover preview.
    readonly property color viewerPane: "#0b0b0b"
    readonly property color popupBackground: "#1b1b1c"
    readonly property color popupTile: "#262627"
    readonly property color popupTileBorder: "#333333"
    readonly property color messageBackground: Qt.rgba(0.13, 0.13, 0.14, 1)
    readonly property color messageField: "#1a1a1b"
    readonly property color menuBackground: "#242426"
    readonly property color faceTile: "#1c1c1c"
    readonly property color faceTileBorder: "#3a3a3a"
    readonly property color previewBorder: Qt.rgba(1, 1, 1, 0.25)
    // The step arrows of the viewers, at rest and under the pointer.
    readonly property color viewerArrow: Qt.rgba(1, 1, 1, 0.07)
    readonly property color viewerArrowHover: Qt.rgba(1, 1, 1, 0.16)
    // A label set on a picture, and the outline of text drawn straight on one.
    readonly property color pictureLabel: Qt.rgba(0, 0, 0, 0.62)
    readonly property color pictureTextOutline: "#000000"
    // Text on those surfaces: titles, file names of tiles, messages, second
    // lines, hints, notes, and what cannot be used.
    readonly property color overlayText: "#f0f0f0"
    readonly property color overlayCaption: "#e6e6e6"
    readonly property color overlayBody: "#dcdcdc"
    readonly property color overlayTextDim: "#cfcfcf"
    readonly property color overlayHint: "#bdbdbd"
    readonly property color overlayMuted: "#9a9a9a"
    readonly property color overlayPlaceholder: "#8a8a8a"
    readonly property color overlayDisabled: "#555555"
    // Behind the modal dialogs, the cluster popup, the viewers and the compare view.
    readonly property color scrim: Qt.rgba(0, 0, 0, 0.55)
    readonly property color scrimPopup: Qt.rgba(0, 0, 0, 0.6)
    readonly property color scrimViewer: Qt.rgba(0, 0, 0, 0.8)
    readonly property color scrimCompare: Qt.rgba(0, 0, 0, 0.85)

    // Font sizes in pixels, by role. Running text, the text beside controls
    // and second lines, captions and labels, and the smallest notes:
    readonly property int sizeBody: 14
    readonly property int sizeDetail: 13
    readonly property int sizeCaption: 12
    readonly property int sizeFootnote: 11
    // Buttons, check boxes, fields and menus; the small buttons of a list row.
    readonly property int sizeControl: 13
    readonly property int sizeCompactControl: 12
    // The small capital heading of a group of controls; a badge on a picture.
    readonly property int sizeSectionLabel: 11
    readonly property int sizeBadge: 11
    // Titles: of a card, a grid section, a dialog, the cluster popup, a page
    // or list, an empty page, an empty list, the Account page.
    readonly property int sizeCardTitle: 15
    readonly property int sizeSectionTitle: 16
    readonly property int sizeDialogTitle: 16
    readonly property int sizePopupTitle: 17
    readonly property int sizeTitle: 18
    readonly property int sizeEmptyTitle: 22
    readonly property int sizeListEmptyTitle: 20
    readonly property int sizePageHeading: 26
    // The product word in the bar, the main button of Home, a counter of the Account page.
    readonly property int sizeBrand: 18
    readonly property int sizeLeadButton: 16
    readonly property int sizeFigure: 30
    // The viewers' step arrows; the mark of a preview that could not be made.
    readonly property int sizeArrowGlyph: 44
    // The viewers' information panel and strip of thumbnails; the key of a shortcut in the list of keys.
    readonly property int infoPanelWidth: 330
    readonly property int stripHeight: 54
    readonly property int sizeShortcutKey: 13
    readonly property int sizePlaceholderGlyph: 40
    // The About page's own scale.
    readonly property int sizeAboutWordmark: 104
    readonly property int sizeAboutHeading: 40
    readonly property int sizeAboutCardName: 26
    readonly property int sizeAboutTagline: 20
    readonly property int sizeAboutBody: 14
    readonly property int sizeAboutDetail: 13
    readonly property int sizeAboutLabel: 12
    readonly property int sizeAboutFootnote: 11
    readonly property color notKeptText: "#b0b0b0"
    readonly property color cardCoverText: "#555555"

    // A list row as it shows on the panel.
    readonly property color listRowOnPanel: Qt.tint(panel, listRow)

    // WCAG 2 relative luminance and contrast ratio.
    function luminanceOf(c: color): real {
        const lin = v => v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4)
        return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b)
    }
    function contrastOf(a: color, b: color): real {
        const la = luminanceOf(a)
        const lb = luminanceOf(b)
        return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05)
    }
    // `c` moved towards white on a dark surface (towards black on a light one)
    // just far enough to read at 4.5:1 on `surface`.
    function readableOn(c: color, surface: color): color {
        const target = luminanceOf(surface) < 0.18 ? 1.0 : 0.0
        for (let step = 0; step <= 20; ++step) {
            const t = step / 20
            const mixed = Qt.rgba(c.r + (target - c.r) * t, c.g + (target - c.g) * t, c.b + (target - c.b) * t, 1)
            if (contrastOf(mixed, surface) >= 4.5)
                return mixed
        }
        return Qt.rgba(target, target, target, 1)
    }
    function readableOnPanel(c: color): color {
        return readableOn(readableOn(c, panel), listRowOnPanel)
    }
}
