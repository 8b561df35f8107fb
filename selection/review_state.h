// The open review: the project store, the project, its folders, the last
// run's summary and every reviewed image with its status and counts. Every
// status change of a stored image is written to the project database at once;
// a failed write leaves the in-memory status changed and the reason in the
// store's lastError(). Names and ids that match no image are ignored. The
// user interface thread only.
#pragma once

#include "category.h"
#include "frame_ratings.h"
#include "selection_model.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace keepframe {

class ProjectStore;

class ReviewState {
public:
    using Image = SelectionModel::Image;
    using Status = SelectionModel::Status;

    void setStore(ProjectStore* store) { store_ = store; }
    ProjectStore* store() const { return store_; }
    // A store is set and a stored project is open.
    bool projectOpen() const { return store_ != nullptr && projectId_ >= 0; }
    int projectId() const { return projectId_; }
    const QString& inputFolder() const { return inputFolder_; }
    const QString& outputBase() const { return outputBase_; }
    const QVariantMap& summary() const { return summary_; }
    const QList<Image>& images() const { return images_; }

    // The photographer's stars and labels of every frame of the project (the
    // frames not in the review too), read and written with the review.
    FrameRatings& ratings() { return ratings_; }
    const FrameRatings& ratings() const { return ratings_; }

    int countStatus(Status status) const;
    // The first image of that name, or -1.
    int indexOf(const QString& filename) const;
    // The image with that database id, or -1.
    int indexOfId(int imageId) const;

    // Every image the engine or the user selected. False, with no project open
    // and no images, when the project cannot be read whole (the store says why).
    bool loadFromProject(int projectId, const QString& inputFolder);
    // The picks of a cull that stored no project; they are never written anywhere.
    void load(const QVariantList& items, const QString& inputFolder, const QString& outputBase);
    // A review read from a project file, in place of the open one.
    void replace(const QList<Image>& images, const QString& inputFolder, const QString& outputBase, int projectId,
                 const QVariantMap& summary);
    void clear();
    // No project open and no images; folders and summary stay (the project was deleted).
    void closeProject();
    void setSummary(const QVariantMap& summary) { summary_ = summary; }

    // Each of these returns whether an image or a status changed.
    bool removeImage(const QString& filename);
    bool restoreImage(const QString& filename);
    // Several at once: one write for all of them.
    bool removeMany(const QStringList& files);
    bool restoreMany(const QStringList& files);
    bool addImage(const QString& filename, const QString& category, int clusterNumber);
    bool addMany(const QVariantList& items);
    // The cluster browser's tick: written first; an image ticked on that is
    // not in the list brings the project in again.
    bool setImageSelected(int imageId, bool selected);
    // Every image back to the engine's verdict; the user's additions go.
    void resetAll();

    // Some frames as they are now, for taking a decision back: each one's
    // record, or none where it is not in the review.
    struct FrameRecord {
        QString filename;
        std::optional<Image> image;
    };
    QList<FrameRecord> records(const QStringList& files) const;
    // Whether two such lists hold the same frames in the same places and statuses.
    static bool sameDecisions(const QList<FrameRecord>& a, const QList<FrameRecord>& b);
    // Puts frames back as `records` hold them: the project is written first
    // (a frame taken out of the review is no longer selected); false, with
    // the review as it was, when it cannot be.
    bool restoreRecords(const QList<FrameRecord>& records);

private:
    // Removes or restores several images; one batch write.
    bool changeMany(const QStringList& files, bool restore);
    void writeSelected(const QList<int>& ids, bool selected);

    ProjectStore* store_ = nullptr;
    int projectId_ = -1;
    QString inputFolder_;
    QString outputBase_;
    QVariantMap summary_;
    QList<Image> images_;
    FrameRatings ratings_;
};

// The fields of an image that its map for the screens and its item in a
// project file share, under the names both use: "filename", "category",
// "reason", "captureTime", "fullW", "fullH", "orientation", "score",
// "faceBoxes", and "clusterSize", which holds the cluster number.
QVariantMap sharedImageFields(const SelectionModel::Image& image);
// The part of a relative name before its last "/" (empty for the input folder itself).
QString subFolderOf(const QString& filename);
// The category the review screens group an image by (keepframe::displayCategory).
Category displayCategoryOf(const SelectionModel::Image& image);
// "Details", "Featured", "Portraits" or "Group": the review screens' name of a display category.
QString categoryLabel(Category category);

}  // namespace keepframe
