// The ready-made lists the review screens bind to, computed afresh on every
// call from the open review and, for clusters and unselected images, from the
// project database. Without an open project the database views are empty.
// The grid's views (its sections, the removed frames, the frames for review
// and the viewer's list made from them) show only the frames the filter lets
// through; every image map carries the frame's "rating" (-1 when not rated)
// and "label" ("" when none).
#pragma once

#include "review_filter.h"
#include "selection_model.h"

#include <QVariant>

namespace keepframe {

class ReviewState;

class ReviewViews {
public:
    explicit ReviewViews(const ReviewState& state) : state_(state) {}

    ReviewFilter& filter() { return filter_; }
    const ReviewFilter& filter() const { return filter_; }

    // Image maps of the kept images (every one: the export and the other pages
    // read it), and of the removed ones, in image order.
    QVariantList keptImages() const;
    QVariantList removedView() const;
    // One section per sub-folder; one per sub-folder and display category.
    QVariantList groupedView() const;
    QVariantList categoryView() const;
    // The sections' kept images, then their removed ones: the review grid's order.
    QVariantList flatView() const;
    QVariantList flatViewByCategory() const;

    QVariantList clustersFromDb(const QString& category, bool onlyOrphans) const;
    // Every frame of the moment of one stored image, in capture order, for the
    // compare view: the cluster images of clustersFromDb with "status" (as the
    // grid counts it; 0 for a frame neither the engine nor the user keeps),
    // "eyeScore" and "faces" (the confident faces, else all face boxes).
    QVariantList momentFrames(int imageId) const;
    QVariantList notSelectedImages() const;
    QVariantList unselectedClusterImages() const;
    int unselectedClusterCount() const;
    QVariantMap unselectedExportPreview() const;
    // The frames of `frames` (image maps of any of these views) as they are
    // now: their "rating" and "label", and for a frame in the review its
    // "status" and "userSelected" (status 0 and not selected for one that is not).
    QVariantList currentFrames(const QVariantList& frames) const;
    // The clusters of the category report a cull wrote into its output folder;
    // empty when there is none (always for a project loaded from the library).
    QVariantList loadClusters(const QString& category) const;

private:
    // Whether the filter lets a frame of the review, or one of the frames for review, through.
    bool passes(const SelectionModel::Image& image) const;
    bool passesForReview(int id, const QString& filename, const QString& category, int faceCount) const;

    const ReviewState& state_;
    ReviewFilter filter_;
};

// Sorted in image order: timed images first by capture time, then by name.
void sortImageMaps(QVariantList& maps);

}  // namespace keepframe
