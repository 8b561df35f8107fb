#include "review_state.h"

#include "project_store.h"
#include "records.h"

#include <algorithm>

namespace keepframe {

namespace {

using Image = ReviewState::Image;

// Applies a single remove or restore without writing; true when it changed.
bool applyRemove(Image& image) {
    if (image.status == SelectionModel::Removed) return false;
    image.status = SelectionModel::Removed;
    return true;
}

bool applyRestore(Image& image) {
    if (image.status != SelectionModel::Removed) return false;
    image.status = image.original != SelectionModel::None ? image.original : SelectionModel::Added;
    return true;
}

// The fields that a stored row, a cull's pick and an added image all name alike.
Image imageFrom(const QVariantMap& m) {
    Image i;
    i.filename = m["filename"].toString();
    i.category = m["category"].toString();
    i.captureTime = m["captureTime"].toString();
    i.fullW = m["fullW"].toInt();
    i.fullH = m["fullH"].toInt();
    i.orientation = m.contains("orientation") ? m["orientation"].toInt() : 1;
    i.score = m["score"].toDouble();
    i.faceBoxes = m["faceBoxes"].toList();
    return i;
}

}  // namespace

QVariantMap sharedImageFields(const SelectionModel::Image& i) {
    return QVariantMap{{"filename", i.filename},       {"category", i.category}, {"reason", i.reason},
                       {"captureTime", i.captureTime}, {"fullW", i.fullW},       {"fullH", i.fullH},
                       {"orientation", i.orientation}, {"score", i.score},       {"clusterSize", i.clusterNumber},
                       {"faceBoxes", i.faceBoxes}};
}

QString subFolderOf(const QString& filename) {
    const int slash = filename.lastIndexOf('/');
    return slash < 0 ? QString() : filename.left(slash);
}

Category displayCategoryOf(const SelectionModel::Image& image) {
    return displayCategory(categoryOf(image.category.toStdString()), image.totalDetectedFaces, image.isFeatured);
}

QString categoryLabel(Category category) {
    switch (category) {
    case Category::Venue: return QStringLiteral("Details");
    case Category::Featured: return QStringLiteral("Featured");
    case Category::Portrait: return QStringLiteral("Portraits");
    case Category::Group: break;
    }
    return QStringLiteral("Group");
}

int ReviewState::countStatus(Status status) const {
    return int(std::count_if(images_.begin(), images_.end(), [status](const Image& i) { return i.status == status; }));
}

int ReviewState::indexOf(const QString& filename) const {
    for (int i = 0; i < images_.size(); ++i)
        if (images_[i].filename == filename) return i;
    return -1;
}

int ReviewState::indexOfId(int imageId) const {
    if (imageId < 0) return -1;
    for (int i = 0; i < images_.size(); ++i)
        if (images_[i].id == imageId) return i;
    return -1;
}

// ---------------------------------------------------------------- loading

bool ReviewState::loadFromProject(int projectId, const QString& inputFolder) {
    const QVariantList rows = store_->loadProjectImages(projectId);
    // A project that cannot be read whole shows nothing of itself (and
    // nothing of the project open before): the caller says why.
    const bool readable = store_->lastError().isEmpty();
    projectId_ = readable ? projectId : -1;
    inputFolder_ = readable ? inputFolder : QString();
    outputBase_.clear();
    images_.clear();
    ratings_ = FrameRatings();
    // A project whose marks cannot be read still opens: its frames show no
    // marks, and a mark set now is written as usual.
    const QHash<int, FrameMarks> marks = readable ? store_->frameMarksForProject(projectId) : QHash<int, FrameMarks>();
    if (readable) ratings_.setWriter(FrameRatings::storeWriter(*store_, projectId));
    for (const QVariant& v : rows) {
        const QVariantMap r = v.toMap();
        if (readable) ratings_.addFrame(r["filename"].toString(), r["id"].toInt(), marks.value(r["id"].toInt()));
        const bool engine = r["engineSelected"].toBool(), user = r["userSelected"].toBool();
        if (!engine && !user) continue;
        Image i = imageFrom(r);
        i.id = r["id"].toInt();
        i.reason = r["reason"].toString();
        i.clusterNumber = r["clusterNumber"].toInt();
        i.clusterImageCount = r["clusterImageCount"].toInt();
        i.totalDetectedFaces = r["totalDetectedFaces"].toInt();
        i.isFeatured = r["isFeatured"].toBool();
        i.appliedRotation = r.value("appliedRotation", 0).toInt();
        i.thumbUrl = r["thumbUrl"].toString();
        if (engine) {
            i.original = r["isPrimary"].toBool() ? SelectionModel::Primary : SelectionModel::Review;
            i.status = user ? i.original : SelectionModel::Removed;
        } else {
            i.original = SelectionModel::None;
            i.status = SelectionModel::Added;
        }
        images_.push_back(i);
    }
    return readable;
}

void ReviewState::load(const QVariantList& items, const QString& inputFolder, const QString& outputBase) {
    images_.clear();
    projectId_ = -1;  // these records belong to no stored project: nothing may write into the one open before
    inputFolder_ = inputFolder;
    outputBase_ = outputBase;
    ratings_ = FrameRatings();
    CategoryCounts counts;
    for (const QVariant& v : items) {
        const QVariantMap m = v.toMap();
        Image i = imageFrom(m);
        i.reason = m["reason"].toString();
        i.clusterNumber = m["clusterSize"].toInt();
        i.totalDetectedFaces = m["totalDetectedFaces"].toInt();
        i.isFeatured = m["isFeatured"].toBool();
        i.original = i.status = m["primary"].toBool() ? SelectionModel::Primary : SelectionModel::Review;
        counts.add(displayCategoryOf(i));
        ratings_.addFrame(i.filename, -1);
        images_.push_back(i);
    }
    summary_ = QVariantMap{{"totalSelected", int(images_.size())}, {"totalInput", int(images_.size())},
                           {"venue", counts.venue}, {"portrait", counts.portrait}, {"group", counts.group}};
}

void ReviewState::replace(const QList<Image>& images, const QString& inputFolder, const QString& outputBase,
                          int projectId, const QVariantMap& summary) {
    images_ = images;
    inputFolder_ = inputFolder;
    outputBase_ = outputBase;
    projectId_ = projectId;
    summary_ = summary;
    ratings_ = FrameRatings();
}

void ReviewState::clear() {
    images_.clear();
    projectId_ = -1;
    summary_.clear();
    ratings_ = FrameRatings();
}

void ReviewState::closeProject() {
    images_.clear();
    projectId_ = -1;
    ratings_ = FrameRatings();
}

// ---------------------------------------------------------------- status changes

void ReviewState::writeSelected(const QList<int>& ids, bool selected) {
    if (!projectOpen() || ids.isEmpty()) return;
    if (ids.size() == 1) store_->setUserSelected(ids.front(), selected);
    else store_->setUserSelectedMany(ids, selected);
}

bool ReviewState::removeImage(const QString& filename) {
    const int k = indexOf(filename);
    if (k < 0 || !applyRemove(images_[k])) return false;
    if (images_[k].id >= 0) writeSelected({images_[k].id}, false);
    return true;
}

bool ReviewState::restoreImage(const QString& filename) {
    const int k = indexOf(filename);
    if (k < 0 || !applyRestore(images_[k])) return false;
    if (images_[k].id >= 0) writeSelected({images_[k].id}, true);
    return true;
}

bool ReviewState::changeMany(const QStringList& files, bool restore) {
    QList<int> ids;
    bool any = false;
    for (const QString& f : files) {
        const int k = indexOf(f);
        if (k < 0 || !(restore ? applyRestore(images_[k]) : applyRemove(images_[k]))) continue;
        any = true;
        if (images_[k].id >= 0) ids.push_back(images_[k].id);
    }
    if (any && projectOpen() && !ids.isEmpty()) store_->setUserSelectedMany(ids, restore);
    return any;
}

bool ReviewState::removeMany(const QStringList& files) { return changeMany(files, false); }

bool ReviewState::restoreMany(const QStringList& files) { return changeMany(files, true); }

bool ReviewState::addImage(const QString& filename, const QString& category, int clusterNumber) {
    if (indexOf(filename) >= 0) return false;
    Image i;
    i.filename = filename;
    i.category = category;
    i.clusterNumber = clusterNumber;
    i.reason = "user_added";
    i.original = SelectionModel::None;
    i.status = SelectionModel::Added;
    images_.push_back(i);
    if (!ratings_.contains(filename)) ratings_.addFrame(filename, -1);
    return true;
}

bool ReviewState::addMany(const QVariantList& items) {
    QList<int> ids;
    bool any = false;
    for (const QVariant& v : items) {
        const QVariantMap m = v.toMap();
        const QString name = m["filename"].toString();
        if (name.isEmpty() || indexOf(name) >= 0) continue;
        Image i = imageFrom(m);
        i.id = m.contains("id") ? m["id"].toInt() : -1;
        i.reason = "user_added";
        i.clusterNumber = m.contains("clusterNumber") ? m["clusterNumber"].toInt() : m["clusterSize"].toInt();
        i.thumbUrl = m["thumbUrl"].toString();
        i.original = SelectionModel::None;
        i.status = SelectionModel::Added;
        images_.push_back(i);
        if (!ratings_.contains(name)) ratings_.addFrame(name, i.id);
        any = true;
        if (i.id >= 0) ids.push_back(i.id);
    }
    if (any && projectOpen() && !ids.isEmpty()) store_->setUserSelectedMany(ids, true);
    return any;
}

bool ReviewState::setImageSelected(int imageId, bool selected) {
    if (projectOpen()) store_->setUserSelected(imageId, selected);
    for (Image& i : images_) {
        if (i.id != imageId) continue;
        i.status = selected ? (i.original != SelectionModel::None ? i.original : SelectionModel::Added)
                            : SelectionModel::Removed;
        return true;
    }
    if (!selected || !projectOpen()) return false;
    loadFromProject(projectId_, inputFolder_);
    return true;
}

QList<ReviewState::FrameRecord> ReviewState::records(const QStringList& files) const {
    QList<FrameRecord> out;
    for (const QString& f : files) {
        const int k = indexOf(f);
        out.push_back(FrameRecord{f, k >= 0 ? std::optional<Image>(images_[k]) : std::nullopt});
    }
    return out;
}

bool ReviewState::sameDecisions(const QList<FrameRecord>& a, const QList<FrameRecord>& b) {
    if (a.size() != b.size()) return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].filename != b[i].filename || a[i].image.has_value() != b[i].image.has_value()) return false;
        if (a[i].image && a[i].image->status != b[i].image->status) return false;
    }
    return true;
}

bool ReviewState::restoreRecords(const QList<FrameRecord>& records) {
    QList<int> selected, unselected;
    for (const FrameRecord& r : records) {
        const int k = indexOf(r.filename);
        const int id = r.image ? r.image->id : k >= 0 ? images_[k].id : -1;
        if (id < 0) continue;
        (r.image && r.image->status != SelectionModel::Removed ? selected : unselected).push_back(id);
    }
    if (projectOpen()) {
        // Written before anything changes here: the review never shows a
        // decision the project does not hold.
        if (!selected.isEmpty() && !store_->setUserSelectedMany(selected, true)) return false;
        if (!unselected.isEmpty() && !store_->setUserSelectedMany(unselected, false)) return false;
    }
    for (const FrameRecord& r : records) {
        const int k = indexOf(r.filename);
        if (!r.image) {
            if (k >= 0) images_.removeAt(k);
        } else if (k >= 0) {
            images_[k].status = r.image->status;
        } else {
            images_.push_back(*r.image);
        }
    }
    return true;
}

void ReviewState::resetAll() {
    if (projectOpen()) {
        store_->resetToEngine(projectId_);
        loadFromProject(projectId_, inputFolder_);
        return;
    }
    QList<Image> kept;
    for (Image i : images_) {
        if (i.original == SelectionModel::None) continue;
        i.status = i.original;
        kept.push_back(i);
    }
    images_ = kept;
}

}  // namespace keepframe
