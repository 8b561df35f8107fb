#include "frame_marks.h"

namespace keepframe {

QString colorLabelKey(ColorLabel label) {
    switch (label) {
    case ColorLabel::Red: return QStringLiteral("red");
    case ColorLabel::Yellow: return QStringLiteral("yellow");
    case ColorLabel::Green: return QStringLiteral("green");
    case ColorLabel::Blue: return QStringLiteral("blue");
    case ColorLabel::None: break;
    }
    return {};
}

std::optional<ColorLabel> colorLabelFromKey(const QString& key) {
    const QString k = key.trimmed().toLower();
    for (ColorLabel label : {ColorLabel::Red, ColorLabel::Yellow, ColorLabel::Green, ColorLabel::Blue})
        if (k == colorLabelKey(label)) return label;
    return std::nullopt;
}

QString colorLabelXmpName(ColorLabel label) {
    QString name = colorLabelKey(label);
    if (!name.isEmpty()) name[0] = name[0].toUpper();
    return name;
}

}  // namespace keepframe
