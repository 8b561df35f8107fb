// What the review grid shows of the open review: frames with at least N stars,
// with one of some colour labels, in some of the three parts of the grid (kept,
// removed, for review), of one display category and showing one person. The
// conditions combine (a frame must meet each one that is set); a filter with
// none set lets every frame through. The person is given from outside, as the
// set of image ids the person appears in.
#pragma once

#include "category.h"
#include "frame_marks.h"

#include <QHashFunctions>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace keepframe {

// The part of the review grid a frame is in.
enum class GridPart { Kept, Removed, ForReview };

// For sets of them.
inline size_t qHash(GridPart part, size_t seed = 0) noexcept { return ::qHash(int(part), seed); }
inline size_t qHash(ColorLabel label, size_t seed = 0) noexcept { return ::qHash(int(label), seed); }

class ReviewFilter {
public:
    // One frame as the filter sees it.
    struct Frame {
        int id = -1;  // -1: a frame without a database row (matches no person)
        Category category = Category::Group;
        FrameMarks marks;
        GridPart part = GridPart::Kept;
    };

    bool matches(const Frame& frame) const;
    // Some condition is set.
    bool active() const;
    void clear();

    // 1 to 5; 0 (or less) for any rating.
    void setMinRating(int stars);
    int minRating() const { return minRating_; }
    // Frames with one of these labels; none for any label (or none).
    void setLabels(const QSet<ColorLabel>& labels);
    bool hasLabel(ColorLabel label) const;
    // Frames in one of these parts; none for all of them.
    void setParts(const QSet<GridPart>& parts);
    bool hasPart(GridPart part) const;
    // Some part is chosen (the others are not shown).
    bool hasAnyPart() const { return parts_ != 0; }
    void setCategory(std::optional<Category> category) { category_ = category; }
    std::optional<Category> category() const { return category_; }
    // The frames one person appears in; an empty set (or personId -1) for any person.
    void setPerson(int personId, const QString& name, const QSet<int>& imageIds);
    int personId() const { return personId_; }
    QString personName() const { return personName_; }

    // For the screens: {"minRating": 0 to 5, "labels": ["red", …], "parts":
    // ["kept", "removed", "review"], "category": "Portraits" or "" (the
    // review screens' names), "personId", "personName"}.
    QVariantMap toMap() const;
    // Sets the rating, labels, parts and category from such a map (missing
    // keys clear their condition; the person stays); names it does not know
    // are left out. False when nothing changed.
    bool setFromMap(const QVariantMap& map);
    // One line that says what is shown, e.g. "★ 3+ · Red or Blue · Kept · Portraits · Anna";
    // empty without a condition.
    QString describe() const;

private:
    int minRating_ = 0;
    int labels_ = 0;  // bits of ColorLabel values
    int parts_ = 0;   // bits of GridPart values
    std::optional<Category> category_;
    int personId_ = -1;
    QString personName_;
    QSet<int> personImages_;
};

// "kept", "removed", "review"; and back (nothing for any other name).
QString gridPartKey(GridPart part);
std::optional<GridPart> gridPartFromKey(const QString& key);
// The display category of a review screens' name ("Details", "Featured", "Portraits", "Group").
std::optional<Category> categoryFromLabel(const QString& label);

}  // namespace keepframe
