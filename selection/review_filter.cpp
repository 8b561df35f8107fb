#include "review_filter.h"

#include "review_state.h"

#include <QStringList>

namespace keepframe {

namespace {

constexpr ColorLabel kLabels[] = {ColorLabel::Red, ColorLabel::Yellow, ColorLabel::Green, ColorLabel::Blue};
constexpr GridPart kParts[] = {GridPart::Kept, GridPart::Removed, GridPart::ForReview};
constexpr Category kCategories[] = {Category::Venue, Category::Featured, Category::Portrait, Category::Group};

int bitOf(ColorLabel label) { return 1 << int(label); }
int bitOf(GridPart part) { return 1 << int(part); }

}  // namespace

QString gridPartKey(GridPart part) {
    switch (part) {
    case GridPart::Kept: return QStringLiteral("kept");
    case GridPart::Removed: return QStringLiteral("removed");
    case GridPart::ForReview: break;
    }
    return QStringLiteral("review");
}

std::optional<GridPart> gridPartFromKey(const QString& key) {
    for (GridPart part : kParts)
        if (key == gridPartKey(part)) return part;
    return std::nullopt;
}

std::optional<Category> categoryFromLabel(const QString& label) {
    for (Category c : kCategories)
        if (label == categoryLabel(c)) return c;
    return std::nullopt;
}

bool ReviewFilter::matches(const Frame& frame) const {
    if (minRating_ > 0 && frame.marks.rating.value_or(0) < minRating_) return false;
    if (labels_ != 0 && (frame.marks.label == ColorLabel::None || (labels_ & bitOf(frame.marks.label)) == 0))
        return false;
    if (parts_ != 0 && (parts_ & bitOf(frame.part)) == 0) return false;
    if (category_ && frame.category != *category_) return false;
    return personImages_.isEmpty() || personImages_.contains(frame.id);
}

bool ReviewFilter::active() const {
    return minRating_ > 0 || labels_ != 0 || parts_ != 0 || category_.has_value() || !personImages_.isEmpty();
}

void ReviewFilter::clear() { *this = ReviewFilter(); }

void ReviewFilter::setMinRating(int stars) { minRating_ = isValidRating(stars) ? stars : 0; }

void ReviewFilter::setLabels(const QSet<ColorLabel>& labels) {
    labels_ = 0;
    for (ColorLabel label : labels)
        if (label != ColorLabel::None) labels_ |= bitOf(label);
}

bool ReviewFilter::hasLabel(ColorLabel label) const { return (labels_ & bitOf(label)) != 0; }

void ReviewFilter::setParts(const QSet<GridPart>& parts) {
    parts_ = 0;
    for (GridPart part : parts) parts_ |= bitOf(part);
}

bool ReviewFilter::hasPart(GridPart part) const { return (parts_ & bitOf(part)) != 0; }

void ReviewFilter::setPerson(int personId, const QString& name, const QSet<int>& imageIds) {
    const bool any = personId < 0 || imageIds.isEmpty();
    personId_ = any ? -1 : personId;
    personName_ = any ? QString() : name;
    personImages_ = any ? QSet<int>() : imageIds;
}

QVariantMap ReviewFilter::toMap() const {
    QStringList labels, parts;
    for (ColorLabel label : kLabels)
        if (hasLabel(label)) labels << colorLabelKey(label);
    for (GridPart part : kParts)
        if (hasPart(part)) parts << gridPartKey(part);
    return QVariantMap{{"minRating", minRating_},
                       {"labels", labels},
                       {"parts", parts},
                       {"category", category_ ? categoryLabel(*category_) : QString()},
                       {"personId", personId_},
                       {"personName", personName_}};
}

bool ReviewFilter::setFromMap(const QVariantMap& map) {
    const ReviewFilter before = *this;
    setMinRating(map.value("minRating").toInt());
    QSet<ColorLabel> labels;
    for (const QString& key : map.value("labels").toStringList())
        if (const auto label = colorLabelFromKey(key)) labels.insert(*label);
    setLabels(labels);
    QSet<GridPart> parts;
    for (const QString& key : map.value("parts").toStringList())
        if (const auto part = gridPartFromKey(key)) parts.insert(*part);
    setParts(parts);
    category_ = categoryFromLabel(map.value("category").toString());
    return before.minRating_ != minRating_ || before.labels_ != labels_ || before.parts_ != parts_ ||
           before.category_ != category_;
}

QString ReviewFilter::describe() const {
    QStringList parts;
    // Five stars is the top: "★ 5", not "★ 5+".
    if (minRating_ > 0) parts << QStringLiteral("★ %1").arg(minRating_) + (minRating_ < 5 ? "+" : "");
    QStringList labels;
    for (ColorLabel label : kLabels)
        if (hasLabel(label)) labels << colorLabelXmpName(label);
    if (!labels.isEmpty()) parts << labels.join(QStringLiteral(" or "));
    QStringList shown;
    for (GridPart part : kParts)
        if (hasPart(part))
            shown << (part == GridPart::Kept      ? QStringLiteral("Kept")
                      : part == GridPart::Removed ? QStringLiteral("Removed")
                                                  : QStringLiteral("For review"));
    if (!shown.isEmpty()) parts << shown.join(QStringLiteral(" or "));
    if (category_) parts << categoryLabel(*category_);
    if (!personImages_.isEmpty()) parts << (personName_.isEmpty() ? QStringLiteral("One person") : personName_);
    return parts.join(QStringLiteral(" · "));
}

}  // namespace keepframe
