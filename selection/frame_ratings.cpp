#include "frame_ratings.h"

#include "project_store.h"

#include <algorithm>
#include <utility>

namespace keepframe {

FrameRatings::Writer FrameRatings::storeWriter(ProjectStore& store, int projectId) {
    return [&store, projectId](int imageId, const FrameMarks& marks, QString& error) {
        if (store.openProject(projectId) && store.setFrameMarks(imageId, marks)) return true;
        error = store.lastError();
        return false;
    };
}

void FrameRatings::clear() {
    frames_.clear();
    lastError_.clear();
}

void FrameRatings::addFrame(const QString& filename, int imageId, const FrameMarks& marks) {
    frames_.insert(filename, Frame{imageId, marks});
}

bool FrameRatings::loadFromProject(ProjectStore& store, int projectId) {
    const QList<HandoverRow> rows = store.loadHandoverRows(projectId);
    QHash<int, FrameMarks> marks;
    if (store.lastError().isEmpty()) marks = store.frameMarksForProject(projectId);
    if (!store.lastError().isEmpty()) return fail(store.lastError());
    frames_.clear();
    for (const HandoverRow& row : rows) addFrame(row.filename, row.id, marks.value(row.id));
    writer_ = storeWriter(store, projectId);
    lastError_.clear();
    return true;
}

FrameMarks FrameRatings::marksOf(const QString& filename) const {
    const auto it = frames_.constFind(filename);
    return it == frames_.constEnd() ? FrameMarks() : it->marks;
}

QVariantMap FrameRatings::marksMap(const QString& filename) const {
    const FrameMarks m = marksOf(filename);
    return QVariantMap{{"rating", m.rating.value_or(-1)}, {"label", colorLabelKey(m.label)}};
}

bool FrameRatings::fail(const QString& message) {
    lastError_ = message;
    return false;
}

bool FrameRatings::setMarks(const QString& filename, const FrameMarks& marks) {
    const auto it = frames_.find(filename);
    if (it == frames_.end()) return fail("No frame " + filename + " in this review.");
    if (marks.rating && !isValidRating(*marks.rating))
        return fail(QStringLiteral("%1 is no rating (0 to 5 stars).").arg(*marks.rating));
    if (it->marks == marks) return true;
    // Written first: the review never shows a mark the project does not hold.
    if (it->id >= 0 && writer_) {
        QString error;
        if (!writer_(it->id, marks, error)) return fail(error);
    }
    it->marks = marks;
    return true;
}

bool FrameRatings::setRating(const QString& filename, int stars) {
    FrameMarks m = marksOf(filename);
    m.rating = stars;
    return setMarks(filename, m);
}

bool FrameRatings::clearRating(const QString& filename) {
    FrameMarks m = marksOf(filename);
    m.rating.reset();
    return setMarks(filename, m);
}

bool FrameRatings::setLabel(const QString& filename, ColorLabel label) {
    FrameMarks m = marksOf(filename);
    m.label = label;
    return setMarks(filename, m);
}

bool FrameRatings::pressLabel(const QString& filename, ColorLabel label) {
    return pressLabel(QStringList{filename}, label);
}

bool FrameRatings::setRating(const QStringList& filenames, int stars) {
    for (const QString& f : filenames)
        if (!setRating(f, stars)) return false;
    return true;
}

bool FrameRatings::pressLabel(const QStringList& filenames, ColorLabel label) {
    const auto hasIt = [&](const QString& f) { return contains(f) && marksOf(f).label == label; };
    const bool allHaveIt = !filenames.isEmpty() && std::all_of(filenames.begin(), filenames.end(), hasIt);
    const ColorLabel next = allHaveIt ? ColorLabel::None : label;
    for (const QString& f : filenames)
        if (!setLabel(f, next)) return false;
    return true;
}

bool FrameRatings::pressDigit(const QStringList& filenames, int digit) {
    if (isValidRating(digit)) return setRating(filenames, digit);
    const std::optional<ColorLabel> label = labelOfDigit(digit);
    if (!label) return fail(QStringLiteral("The key %1 sets no rating or label.").arg(digit));
    return pressLabel(filenames, *label);
}

std::optional<ColorLabel> labelOfDigit(int digit) {
    switch (digit) {
    case 6: return ColorLabel::Red;
    case 7: return ColorLabel::Yellow;
    case 8: return ColorLabel::Green;
    case 9: return ColorLabel::Blue;
    default: return std::nullopt;
    }
}

}  // namespace keepframe
