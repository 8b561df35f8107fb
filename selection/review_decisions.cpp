#include "review_decisions.h"

#include "decision_history.h"
#include "review_state.h"

#include <QFileInfo>

#include <functional>

namespace keepframe {

namespace {

using Records = QList<ReviewState::FrameRecord>;

QList<FrameMarks> marksOf(const FrameRatings& ratings, const QStringList& files) {
    QList<FrameMarks> out;
    for (const QString& f : files) out.push_back(ratings.marksOf(f));
    return out;
}

// Puts each frame's marks back, all of them even when one fails.
bool putMarks(FrameRatings& ratings, const QStringList& files, const QList<FrameMarks>& marks) {
    bool all = true;
    for (int i = 0; i < files.size(); ++i)
        if (ratings.contains(files[i]) && !ratings.setMarks(files[i], marks[i])) all = false;
    return all;
}

QString digitText(int digit) {
    if (isValidRating(digit)) return digit == 1 ? QStringLiteral("1 star") : QStringLiteral("%1 stars").arg(digit);
    const std::optional<ColorLabel> label = labelOfDigit(digit);
    return label ? colorLabelXmpName(*label) + QStringLiteral(" label") : QString();
}

}  // namespace

QString framesText(const QStringList& files) {
    if (files.size() == 1) return QFileInfo(files.front()).fileName();
    return QStringLiteral("%1 frames").arg(files.size());
}

bool ReviewDecisions::changeStatuses(const QString& label, const QStringList& files,
                                     const std::function<bool()>& change) {
    const Records before = state_.records(files);
    if (!change()) return false;
    const Records after = state_.records(files);
    if (ReviewState::sameDecisions(before, after)) return true;
    ReviewState& state = state_;
    history_.push(DecisionHistory::Entry{label, [&state, before] { return state.restoreRecords(before); },
                                         [&state, after] { return state.restoreRecords(after); }});
    return true;
}

bool ReviewDecisions::remove(const QStringList& files) {
    return changeStatuses("Remove " + framesText(files), files, [&] { return state_.removeMany(files); });
}

bool ReviewDecisions::restore(const QStringList& files) {
    return changeStatuses("Restore " + framesText(files), files, [&] { return state_.restoreMany(files); });
}

bool ReviewDecisions::add(const QString& filename, const QString& category, int clusterNumber) {
    return changeStatuses("Add " + framesText({filename}), {filename},
                          [&] { return state_.addImage(filename, category, clusterNumber); });
}

bool ReviewDecisions::addMany(const QVariantList& items) {
    QStringList files;
    for (const QVariant& v : items) files << v.toMap().value("filename").toString();
    return changeStatuses("Add " + framesText(files), files, [&] { return state_.addMany(items); });
}

bool ReviewDecisions::setSelected(int imageId, bool selected) {
    const int k = state_.indexOfId(imageId);
    if (k >= 0) {
        const QString file = state_.images()[k].filename;
        return changeStatuses((selected ? "Keep " : "Drop ") + framesText({file}), {file},
                              [&] { return state_.setImageSelected(imageId, selected); });
    }
    // Not in the review: a frame kept now brings the project in again, and
    // with it the frame, whose name is known only then.
    if (!state_.setImageSelected(imageId, selected)) return false;
    const int now = state_.indexOfId(imageId);
    if (now < 0) return true;
    const QString file = state_.images()[now].filename;
    const Records before{ReviewState::FrameRecord{file, std::nullopt}};
    const Records after = state_.records({file});
    ReviewState& state = state_;
    history_.push(DecisionHistory::Entry{(selected ? "Keep " : "Drop ") + framesText({file}),
                                         [&state, before] { return state.restoreRecords(before); },
                                         [&state, after] { return state.restoreRecords(after); }});
    return true;
}

bool ReviewDecisions::pressDigit(const QStringList& files, int digit) {
    FrameRatings& ratings = state_.ratings();
    QStringList known;
    for (const QString& f : files)
        if (ratings.contains(f) && !known.contains(f)) known << f;
    if (known.isEmpty()) return false;
    const QList<FrameMarks> before = marksOf(ratings, known);
    ratings.pressDigit(known, digit);
    const QList<FrameMarks> after = marksOf(ratings, known);
    if (before == after) return false;
    history_.push(DecisionHistory::Entry{digitText(digit) + " on " + framesText(known),
                                         [&ratings, known, before] { return putMarks(ratings, known, before); },
                                         [&ratings, known, after] { return putMarks(ratings, known, after); }});
    return true;
}

}  // namespace keepframe
