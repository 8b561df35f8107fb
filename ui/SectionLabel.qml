// The small capital heading of a group of controls.
import QtQuick
import KeepframeUI
import QtQuick.Layouts

Text {
    color: Theme.textDim
    font.family: Theme.fontBody
    font.pixelSize: Theme.sizeSectionLabel
    font.weight: Font.DemiBold
    font.letterSpacing: 1.1
    font.capitalization: Font.AllUppercase
    Layout.topMargin: 6
}
