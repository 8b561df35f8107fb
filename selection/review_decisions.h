// The photographer's decisions on the open review that can be taken back:
// removing, restoring, adding, keeping or dropping frames, and their stars
// and colour labels. Each is made through the review (and so written to the
// project at once) and recorded in the history with the state of the frames
// it touched before and after; undoing or redoing it writes that state back.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

namespace keepframe {

class DecisionHistory;
class ReviewState;

class ReviewDecisions {
public:
    ReviewDecisions(ReviewState& state, DecisionHistory& history) : state_(state), history_(history) {}

    // Each returns whether a frame changed; a change is recorded when it did.
    bool remove(const QStringList& files);
    bool restore(const QStringList& files);
    bool add(const QString& filename, const QString& category, int clusterNumber);
    bool addMany(const QVariantList& items);
    // The cluster browser's keep or drop of a stored image.
    bool setSelected(int imageId, bool selected);
    // The keys 0 to 9 on some frames (stars, then the label keys). False when
    // nothing changed; a failed write leaves the reason in the ratings'
    // lastError(), and what was written before it is recorded.
    bool pressDigit(const QStringList& files, int digit);

private:
    bool changeStatuses(const QString& label, const QStringList& files, const std::function<bool()>& change);

    ReviewState& state_;
    DecisionHistory& history_;
};

// "DSC_0001.jpg" for one frame, "3 frames" for more: the object of a decision's label.
QString framesText(const QStringList& files);

}  // namespace keepframe
