// The photographer's own marks on a frame, besides keep and remove: a rating
// of 0 to 5 stars and a colour label, each of which may be absent.
#pragma once

#include <QString>

#include <optional>

namespace keepframe {

enum class ColorLabel { None, Red, Yellow, Green, Blue };

struct FrameMarks {
    std::optional<int> rating;  // 0 to 5 stars; absent: not rated
    ColorLabel label = ColorLabel::None;

    bool isEmpty() const { return !rating && label == ColorLabel::None; }
    bool operator==(const FrameMarks&) const = default;
};

constexpr int kMaxRating = 5;

inline bool isValidRating(int stars) { return stars >= 0 && stars <= kMaxRating; }

// The stored name of a label: "red", "yellow", "green", "blue"; empty for none.
QString colorLabelKey(ColorLabel label);
// The label a stored name gives (case ignored); nothing when the name is none of them.
std::optional<ColorLabel> colorLabelFromKey(const QString& key);
// The name editors read in xmp:Label: "Red", "Yellow", "Green", "Blue"; empty for none.
QString colorLabelXmpName(ColorLabel label);

}  // namespace keepframe
