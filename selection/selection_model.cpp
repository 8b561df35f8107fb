#include "selection_model.h"

#include "path_safety.h"
#include "enhance_jobs.h"
#include "exif.h"
#include "project_store.h"
#include "records.h"
#include "xmp_run.h"

#include <algorithm>

namespace keepframe {

SelectionModel::SelectionModel(QObject* parent)
    : QObject(parent), enhance_(std::make_unique<EnhanceBatch>()), xmp_(std::make_unique<XmpRun>()) {}

int SelectionModel::countStatus(Status s) const {
    return int(std::count_if(images_.begin(), images_.end(), [s](const Image& i) { return i.status == s; }));
}

int SelectionModel::indexOf(const QString& filename) const {
    for (int i = 0; i < images_.size(); ++i)
        if (images_[i].filename == filename) return i;
    return -1;
}

bool SelectionModel::projectOpen() const { return store_ && projectId_ >= 0; }

QString SelectionModel::displayCategory(const Image& image) {
    return displayCategoryOf(image.category, image.totalDetectedFaces, image.isFeatured);
}

QString SelectionModel::joinPath(const QString& folder, const QString& name) { return joinFolder(folder, name); }

QString SelectionModel::subFolderOf(const QString& filename) {
    const int slash = filename.lastIndexOf('/');
    return slash < 0 ? QString() : filename.left(slash);
}

QString SelectionModel::categoryLabel(const QString& displayCategory) {
    if (displayCategory == "venue") return "Details";
    if (displayCategory == "featured") return "Featured";
    if (displayCategory == "portrait") return "Portraits";
    return "Group";
}

QVariantMap SelectionModel::imageMap(const Image& i) const {
    return QVariantMap{{"id", i.id},
                       {"filename", i.filename},
                       {"category", i.category},
                       {"reason", i.reason},
                       {"captureTime", i.captureTime},
                       {"fullW", i.fullW},
                       {"fullH", i.fullH},
                       {"orientation", i.orientation},
                       {"appliedRotation", i.appliedRotation},
                       {"score", i.score},
                       {"clusterSize", i.clusterSize},
                       {"clusterImageCount", i.clusterImageCount},
                       {"faceBoxes", i.faceBoxes},
                       {"thumbUrl", i.thumbUrl},
                       {"original", int(i.original)},
                       {"status", int(i.status)},
                       {"primary", i.status == Primary}};
}

void sortImageMaps(QVariantList& maps) {
    // Stored times are used as written; one a camera did not know sorts with the undated frames.
    auto timeOf = [](const QVariantMap& m) {
        const QString time = m["captureTime"].toString();
        return isKnownCaptureTime(time.toStdString()) ? time : QString();
    };
    std::stable_sort(maps.begin(), maps.end(), [&timeOf](const QVariant& a, const QVariant& b) {
        const QVariantMap ma = a.toMap(), mb = b.toMap();
        const QString ta = timeOf(ma), tb = timeOf(mb);
        if (ta.isEmpty() != tb.isEmpty()) return !ta.isEmpty();
        if (ta != tb) return ta < tb;
        return ma["filename"].toString() < mb["filename"].toString();
    });
}

// ---------------------------------------------------------------- loading

bool SelectionModel::loadFromProject(int projectId, const QString& inputFolder) {
    if (!store_) return false;
    const QVariantList rows = store_->loadProjectImages(projectId);
    // A project that cannot be read whole shows nothing of itself (and
    // nothing of the project open before): the caller says why.
    const bool readable = store_->lastError().isEmpty();
    projectId_ = readable ? projectId : -1;
    inputFolder_ = readable ? inputFolder : QString();
    outputBase_.clear();
    images_.clear();
    for (const QVariant& v : rows) {
        const QVariantMap r = v.toMap();
        const bool engine = r["engineSelected"].toBool(), user = r["userSelected"].toBool();
        if (!engine && !user) continue;
        Image i;
        i.id = r["id"].toInt();
        i.filename = r["filename"].toString();
        i.category = r["category"].toString();
        i.reason = r["reason"].toString();
        i.captureTime = r["captureTime"].toString();
        i.fullW = r["fullW"].toInt();
        i.fullH = r["fullH"].toInt();
        i.orientation = r.contains("orientation") ? r["orientation"].toInt() : 1;
        i.score = r["score"].toDouble();
        i.clusterSize = r["clusterNumber"].toInt();
        i.clusterImageCount = r["clusterImageCount"].toInt();
        i.totalDetectedFaces = r["totalDetectedFaces"].toInt();
        i.isFeatured = r["isFeatured"].toBool();
        i.appliedRotation = r.value("appliedRotation", 0).toInt();
        i.faceBoxes = r["faceBoxes"].toList();
        i.thumbUrl = r["thumbUrl"].toString();
        if (engine) {
            i.original = r["isPrimary"].toBool() ? Primary : Review;
            i.status = user ? i.original : Removed;
        } else {
            i.original = None;
            i.status = Added;
        }
        images_.push_back(i);
    }
    emit changed();
    return readable;
}

void SelectionModel::load(const QVariantList& items, const QString& inputFolder, const QString& outputBase) {
    images_.clear();
    projectId_ = -1;  // these records belong to no stored project: nothing may write into the one open before
    inputFolder_ = inputFolder;
    outputBase_ = outputBase;
    CategoryCounts counts;
    for (const QVariant& v : items) {
        const QVariantMap m = v.toMap();
        Image i;
        i.filename = m["filename"].toString();
        i.category = m["category"].toString();
        i.reason = m["reason"].toString();
        i.captureTime = m["captureTime"].toString();
        i.fullW = m["fullW"].toInt();
        i.fullH = m["fullH"].toInt();
        i.orientation = m.contains("orientation") ? m["orientation"].toInt() : 1;
        i.score = m["score"].toDouble();
        i.clusterSize = m["clusterSize"].toInt();
        i.totalDetectedFaces = m["totalDetectedFaces"].toInt();
        i.isFeatured = m["isFeatured"].toBool();
        i.faceBoxes = m["faceBoxes"].toList();
        i.original = i.status = m["primary"].toBool() ? Primary : Review;
        counts.add(displayCategory(i).toStdString());
        images_.push_back(i);
    }
    summary_ = QVariantMap{{"totalSelected", int(images_.size())}, {"totalInput", int(images_.size())},
                           {"venue", counts.venue}, {"portrait", counts.portrait}, {"group", counts.group}};
    emit changed();
}

void SelectionModel::clear() {
    images_.clear();
    projectId_ = -1;
    summary_.clear();
    emit changed();
}

// ---------------------------------------------------------------- status changes

bool SelectionModel::applyRemove(Image& image) {
    if (image.status == Removed) return false;
    image.status = Removed;
    return true;
}

bool SelectionModel::applyRestore(Image& image) {
    if (image.status != Removed) return false;
    image.status = image.original != None ? image.original : Added;
    return true;
}

void SelectionModel::writeSelected(const QList<int>& ids, bool selected) {
    if (!projectOpen() || ids.isEmpty()) return;
    if (ids.size() == 1) store_->setUserSelected(ids.front(), selected);
    else store_->setUserSelectedMany(ids, selected);
}

void SelectionModel::removeImage(const QString& filename) {
    const int k = indexOf(filename);
    if (k < 0 || !applyRemove(images_[k])) return;
    if (images_[k].id >= 0) writeSelected({images_[k].id}, false);
    emit changed();
}

void SelectionModel::restoreImage(const QString& filename) {
    const int k = indexOf(filename);
    if (k < 0 || !applyRestore(images_[k])) return;
    if (images_[k].id >= 0) writeSelected({images_[k].id}, true);
    emit changed();
}

void SelectionModel::changeMany(const QStringList& files, bool restore) {
    QList<int> ids;
    bool any = false;
    for (const QString& f : files) {
        const int k = indexOf(f);
        if (k < 0 || !(restore ? applyRestore(images_[k]) : applyRemove(images_[k]))) continue;
        any = true;
        if (images_[k].id >= 0) ids.push_back(images_[k].id);
    }
    if (!any) return;
    if (projectOpen() && !ids.isEmpty()) store_->setUserSelectedMany(ids, restore);
    emit changed();
}

void SelectionModel::removeMany(const QStringList& files) { changeMany(files, false); }

void SelectionModel::restoreMany(const QStringList& files) { changeMany(files, true); }

void SelectionModel::addImage(const QString& filename, const QString& category, int clusterSize) {
    if (indexOf(filename) >= 0) return;
    Image i;
    i.filename = filename;
    i.category = category;
    i.clusterSize = clusterSize;
    i.reason = "user_added";
    i.original = None;
    i.status = Added;
    images_.push_back(i);
    emit changed();
}

void SelectionModel::addMany(const QVariantList& items) {
    QList<int> ids;
    bool any = false;
    for (const QVariant& v : items) {
        const QVariantMap m = v.toMap();
        const QString name = m["filename"].toString();
        if (name.isEmpty() || indexOf(name) >= 0) continue;
        Image i;
        i.id = m.contains("id") ? m["id"].toInt() : -1;
        i.filename = name;
        i.category = m["category"].toString();
        i.reason = "user_added";
        i.captureTime = m["captureTime"].toString();
        i.fullW = m["fullW"].toInt();
        i.fullH = m["fullH"].toInt();
        i.orientation = m.contains("orientation") ? m["orientation"].toInt() : 1;
        i.score = m["score"].toDouble();
        i.clusterSize = m.contains("clusterNumber") ? m["clusterNumber"].toInt() : m["clusterSize"].toInt();
        i.faceBoxes = m["faceBoxes"].toList();
        i.thumbUrl = m["thumbUrl"].toString();
        i.original = None;
        i.status = Added;
        images_.push_back(i);
        any = true;
        if (i.id >= 0) ids.push_back(i.id);
    }
    if (!any) return;
    if (projectOpen() && !ids.isEmpty()) store_->setUserSelectedMany(ids, true);
    emit changed();
}

void SelectionModel::setImageSelected(int imageId, bool selected) {
    if (projectOpen()) store_->setUserSelected(imageId, selected);
    for (Image& i : images_) {
        if (i.id != imageId) continue;
        i.status = selected ? (i.original != None ? i.original : Added) : Removed;
        emit changed();
        return;
    }
    if (selected && projectOpen()) loadFromProject(projectId_, inputFolder_);
}

void SelectionModel::resetAll() {
    if (projectOpen()) {
        store_->resetToEngine(projectId_);
        loadFromProject(projectId_, inputFolder_);
        return;
    }
    QList<Image> kept;
    for (Image i : images_) {
        if (i.original == None) continue;
        i.status = i.original;
        kept.push_back(i);
    }
    images_ = kept;
    emit changed();
}

// ---------------------------------------------------------------- library wrappers

QVariantList SelectionModel::listProjects() { return store_ ? store_->listProjects() : QVariantList{}; }

QString SelectionModel::storeError() const { return store_ ? store_->lastError() : QString(); }

bool SelectionModel::renameProject(int projectId, const QString& newName) {
    if (!store_) return false;
    stopEnhanceInto(projectId);  // the batch writes into the folder that moves
    if (!store_->renameProject(projectId, newName)) return false;
    // The project's folder moved with its name and the store let go of its
    // database: the open project is read again from its new place, so that
    // its thumbnails show and later changes are written.
    if (projectId == projectId_) loadFromProject(projectId_, inputFolder_);
    return true;
}

bool SelectionModel::deleteProject(int projectId) {
    if (!store_) return false;
    stopEnhanceInto(projectId);
    if (!store_->deleteProject(projectId)) return false;
    if (projectId == projectId_) {
        images_.clear();
        projectId_ = -1;
        emit changed();
    }
    return true;
}

bool SelectionModel::setCover(int imageId) { return projectOpen() && store_->setCoverImage(projectId_, imageId); }

void SelectionModel::touchOpenProject() {
    if (projectOpen()) store_->touchProject(projectId_);
}

QVariantList SelectionModel::facesForImage(int imageId) {
    return store_ ? store_->displayFacesForImage(imageId) : QVariantList{};
}

QVariantList SelectionModel::detectionsForImage(int imageId) {
    return store_ ? store_->detectionsForImage(imageId) : QVariantList{};
}

}  // namespace keepframe
