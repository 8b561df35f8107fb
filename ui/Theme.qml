// Colours, sizes and fonts shared by every screen. The BG slider moves
// bgLevel, the Preview Size slider moves thumbSize.
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

    // Marks of the review grid.
    readonly property color lastViewed: "#ffb300"
    readonly property color marked: "#1565c0"
    readonly property color removed: "#c62828"
    readonly property color reviewed: "#3fb950"

    // Status lines: a failure and a confirmation.
    readonly property color errorText: lightBackground ? "#b3261e" : "#ff8a80"
    readonly property color okText: lightBackground ? "#1e7a34" : "#7ed491"
    // A note that something was left out.
    readonly property color warnText: lightBackground ? "#8a5300" : "#ffc266"
}
