// Enhancement jobs and edited outputs: colour-correcting kept images into the
// project's "edited" (Enhance) and "edited_plus" (Enhance Plus) folders on a
// coordinator thread with a few workers, the questions the screens ask about
// edited versions, exporting them, and the list the delivery job uploads.
#include "enhance_jobs.h"

#include "enhance_buffers.h"
#include "enhance_pipeline.h"
#include "export_run.h"
#include "image_decode.h"
#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "path_safety.h"
#include "paths.h"
#include "project_file.h"
#include "project_store.h"
#include "selection_model.h"
#include "xmp_run.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

#include <opencv2/imgcodecs.hpp>

namespace keepframe {

namespace {

QString fileUrl(const QString& path) { return QUrl::fromLocalFile(path).toString(); }

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

// The edited file of an image in one level's folder; empty without a folder or id.
QString editedFile(const QString& folder, int imageId) {
    return folder.isEmpty() || imageId < 0 ? QString() : folder + "/" + QString::number(imageId) + ".jpg";
}

EnhanceJob makeJob(ProjectStore& store, const QString& inputFolder, const QString& folder, int imageId,
                   const QString& filename, bool plus) {
    EnhanceJob job;
    job.imageId = imageId;
    job.source = utf8(pathInside(inputFolder, filename));
    job.destination = utf8(editedFile(folder, imageId));
    job.plus = plus;
    for (const QVariant& v : store.facesWithConfidence(imageId)) {
        const QVariantList f = v.toList();
        if (f.size() <= 4) continue;
        job.faces.emplace_back(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
        job.confidences.push_back(f[4].toFloat());
    }
    return job;
}

void workerLoop(EnhanceBatch& b) {
    const int64_t count = int64_t(b.jobs.size());
    EnhanceBuffers buffers;  // this worker's, for all its photographs
    while (!b.cancel.load()) {
        const int64_t i = b.next.fetch_add(1);
        if (i >= count) return;
        const bool written = runEnhanceJob(b.jobs[size_t(i)], buffers);
        b.outcomes[size_t(i)].store(written ? JobOutcome::Written : JobOutcome::Failed);
        if (written) b.succeeded.fetch_add(1);
        b.done.fetch_add(1);
    }
}

}  // namespace

namespace {

// The source upright, in the pixels the face boxes refer to: a JPEG in the
// working images of the buffers, for the pipeline to work over in place.
// Empty for a frame that is too large, damaged or no image: it is not
// corrected but named as failed.
cv::Mat decodeSource(EnhanceBuffers& b) {
    const DecodedImage decoded = decodeImage(b.fileBytes, 1, &b.images[1], &b.images[0]);
    return decoded.status == DecodeStatus::Ok ? decoded.image : cv::Mat();
}

}  // namespace

bool runEnhanceJob(const EnhanceJob& job, EnhanceBuffers& buffers) {
    try {
        if (job.source.empty() || job.destination.empty()) return false;
        if (!readFileBytes(job.source, buffers.fileBytes) || buffers.fileBytes.empty()) return false;
        const cv::Mat image = decodeSource(buffers);
        if (image.empty()) return false;
        const EnhanceResult result =
            EnhancePipeline::run(image, job.faces, job.confidences, EnhanceSettings::forLevel(job.plus), buffers);
        if (!result.ok || result.image.empty()) return false;
        return encodeJpeg(result.image, enhancedJpegOptions(), buffers.jpeg) &&
               writeFileBytes(job.destination, buffers.jpeg);
    } catch (...) {
        return false;  // out of memory or a decoder error: no file, reported as failed
    }
}

int enhanceWorkerCount(unsigned hardwareThreads, int jobs) {
    const long h = std::max(1L, long(hardwareThreads));
    const long rounded = (3 * h + 5) / 10;  // round(0.3 x h), halves away from zero
    return int(std::clamp(rounded, 1L, long(std::max(1, jobs))));
}

// ---------------------------------------------------------------- batches

SelectionModel::~SelectionModel() {
    blockSignals(true);  // nobody hears the end of a batch stopped by the model's own end
    stopXmpSidecars();
    stopEnhance();
}

void SelectionModel::stopEnhance() {
    enhance_->cancel.store(true);
    if (enhance_->coordinator.joinable()) enhance_->coordinator.join();
    finishBatch(enhance_->serial);
}

void SelectionModel::stopEnhanceInto(int projectId) {
    if (projectId >= 0 && (projectId == projectId_ || projectId == enhance_->projectId)) stopEnhance();
}

void SelectionModel::finishBatch(int serial) {
    EnhanceBatch& b = *enhance_;
    if (serial != b.serial || b.finishedSerial == serial || b.running.load()) return;
    b.finishedSerial = serial;
    const int written = b.succeeded.load();
    if (store_ && written > 0) store_->bumpStat("lifetime_enhanced_images", written);
    emit enhanceFinished();
}

int SelectionModel::enhanceProgressDone() const { return enhance_->done.load(); }

int SelectionModel::enhanceProgressTotal() const { return enhance_->total.load(); }

bool SelectionModel::enhanceIsRunning() const { return enhance_->running.load(); }

void SelectionModel::cancelEnhance() { enhance_->cancel.store(true); }

QStringList SelectionModel::enhanceFailures() const {
    const EnhanceBatch& b = *enhance_;
    QStringList failed;
    for (qsizetype i = 0; i < b.names.size(); ++i)
        if (b.outcomes[size_t(i)].load() == JobOutcome::Failed) failed << b.names[i];
    return failed;
}

QString SelectionModel::editedFolder(bool plus) const {
    if (!projectOpen() || !store_->openProject(projectId_)) return {};
    const QString folder = store_->projectFolder();
    if (folder.isEmpty()) return {};
    return folder + (plus ? "/edited_plus" : "/edited");
}

QString SelectionModel::editedPath(int imageId, bool plus) const { return editedFile(editedFolder(plus), imageId); }

bool SelectionModel::enhanceImage(int imageId, const QString& filename, bool plus) {
    if (!projectOpen() || inputFolder_.isEmpty()) return false;
    const QString folder = editedFolder(plus);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return false;
    EnhanceBuffers buffers;
    if (!runEnhanceJob(makeJob(*store_, inputFolder_, folder, imageId, filename, plus), buffers)) return false;
    store_->bumpStat("lifetime_enhanced_images", 1);
    return true;
}

bool SelectionModel::enhanceImagesParallel(const QVariantList& imageIds, const QVariantList& filenames, bool plus) {
    EnhanceBatch& b = *enhance_;
    if (b.running.load() || !projectOpen() || inputFolder_.isEmpty() || imageIds.isEmpty() ||
        imageIds.size() != filenames.size())
        return false;
    const QString folder = editedFolder(plus);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return false;
    if (b.coordinator.joinable()) b.coordinator.join();
    finishBatch(b.serial);  // the previous batch's end, if its notice has not arrived yet

    b.jobs.clear();
    b.names.clear();
    for (qsizetype i = 0; i < imageIds.size(); ++i) {
        const QString name = filenames[i].toString();
        b.jobs.push_back(makeJob(*store_, inputFolder_, folder, imageIds[i].toInt(), name, plus));
        b.names << name;
    }
    b.outcomes = std::make_unique<std::atomic<JobOutcome>[]>(b.jobs.size());
    for (size_t i = 0; i < b.jobs.size(); ++i) b.outcomes[i].store(JobOutcome::Pending);
    b.done.store(0);
    b.succeeded.store(0);
    b.total.store(int(b.jobs.size()));
    b.cancel.store(false);
    b.next.store(0);
    b.running.store(true);
    b.projectId = projectId_;
    const int serial = b.serial + 1;
    const int workers = enhanceWorkerCount(std::thread::hardware_concurrency(), int(b.jobs.size()));
    try {
        b.coordinator = std::thread([this, &b, serial, workers] {
            std::vector<std::thread> pool;
            for (int w = 0; w < workers; ++w) {
                try {
                    pool.emplace_back(workerLoop, std::ref(b));
                } catch (const std::system_error&) {
                    break;  // fewer threads than wished; the coordinator works itself when none started
                }
            }
            if (pool.empty()) workerLoop(b);
            for (std::thread& t : pool) t.join();
            b.running.store(false);
            QMetaObject::invokeMethod(this, [this, serial] { finishBatch(serial); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        b.running.store(false);
        return false;
    }
    b.serial = serial;  // the end notice is queued to this thread, so it cannot arrive before this
    return true;
}

// ---------------------------------------------------------------- edited outputs

bool SelectionModel::hasEdited(int imageId, bool plus) const {
    const QString path = editedPath(imageId, plus);
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString SelectionModel::editedUrl(int imageId, bool plus) const {
    const QString path = editedPath(imageId, plus);
    return !path.isEmpty() && QFileInfo::exists(path) ? fileUrl(path) : QString();
}

QString SelectionModel::bestEditedUrl(int imageId) const {
    const QString plus = editedUrl(imageId, true);
    return plus.isEmpty() ? editedUrl(imageId, false) : plus;
}

QString SelectionModel::originalUrl(const QString& filename) const {
    const QString path = pathInside(inputFolder_, filename);
    return !path.isEmpty() && QFileInfo::exists(path) ? fileUrl(path) : QString();
}

QList<SelectionModel::EditedFiles> SelectionModel::editedFiles(const QList<int>& imageIds) const {
    const QString enhanceFolder = editedFolder(false), plusFolder = editedFolder(true);
    const auto existing = [](const QString& path) {
        return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
    };
    QList<EditedFiles> out;
    out.reserve(imageIds.size());
    for (int id : imageIds)
        out.push_back({existing(editedFile(enhanceFolder, id)), existing(editedFile(plusFolder, id))});
    return out;
}

int SelectionModel::exportLevel(const QString& base, bool plus) {
    const QString folder = editedFolder(plus);
    if (folder.isEmpty()) return 0;
    const QString root = joinPath(base, plus ? "enhanced_plus" : "enhanced");
    // Edited versions never replace a file, not even one of an earlier export.
    ExportRun run(inputFolder_, ExportRun::Earlier::Keep);
    int copied = 0;
    for (const Image& i : images_) {
        const QString edited = editedFile(folder, i.id);
        if (i.status == Removed || edited.isEmpty() || !QFileInfo::exists(edited)) continue;
        // The copy keeps the source's sub-folder, name and extension.
        const QString sub = subFolderOf(i.filename);
        if (run.copyVersion(edited, i.filename, sub.isEmpty() ? root : joinPath(root, sub))) ++copied;
    }
    return copied;
}

QVariantList SelectionModel::exportEdited(const QString& destBaseIn) {
    const QString base = localPathFromUrl(destBaseIn);
    if (base.isEmpty() || inputFolder_.isEmpty()) return QVariantList{0, 0};
    const int enhanced = exportLevel(base, false);
    const int plus = exportLevel(base, true);
    return QVariantList{enhanced, plus};
}

QVariantList SelectionModel::deliverableImages() {
    const QString plusFolder = editedFolder(true), enhanceFolder = editedFolder(false);
    QVariantList out;
    for (const Image& i : images_) {
        if (i.status == Removed) continue;
        QString path;
        for (const QString& folder : {plusFolder, enhanceFolder}) {
            const QString edited = editedFile(folder, i.id);
            if (path.isEmpty() && !edited.isEmpty() && QFileInfo::exists(edited)) path = edited;
        }
        if (path.isEmpty()) {
            const QString source = pathInside(inputFolder_, i.filename);
            if (!source.isEmpty() && QFileInfo::exists(source)) path = source;
        }
        if (path.isEmpty()) continue;
        QVariantMap image{{"id", i.id}, {"filename", i.filename}, {"sourcePath", path},
                          {"size", qint64(QFileInfo(path).size())}};
        // The project's own thumbnail serves the Deliver page's cover picker.
        if (!i.thumbUrl.isEmpty()) image.insert("thumbUrl", i.thumbUrl);
        out.push_back(image);
    }
    return out;
}

QVariantMap SelectionModel::usageCounters() const {
    const bool open = store_ && store_->registryOpen();
    return QVariantMap{{"lifetimeProjects", open ? store_->lifetimeProjects() : qint64(0)},
                       {"lifetimeCulledImages", open ? store_->lifetimeCulledImages() : qint64(0)},
                       {"lifetimeEnhancedImages", open ? store_->lifetimeEnhancedImages() : qint64(0)}};
}

}  // namespace keepframe
