#include "enhance_jobs.h"

#include "enhance_buffers.h"
#include "enhance_pipeline.h"
#include "image_decode.h"
#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "path_safety.h"
#include "paths.h"
#include "project_file.h"
#include "project_store.h"
#include "review_state.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <thread>

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

EnhanceJobs::EnhanceJobs(const ReviewState& state, QObject* parent)
    : QObject(parent), state_(state), job_(new BackgroundJob(QStringLiteral("The batch stopped unexpectedly."), this)) {
    // A batch ends the same way whatever ended it: what was written is counted.
    connect(job_, &BackgroundJob::finished, this, &EnhanceJobs::batchEnded);
    connect(job_, &BackgroundJob::failed, this, &EnhanceJobs::batchEnded);
}

void EnhanceJobs::stop() { job_->stop(BackgroundJob::End::Deliver); }

void EnhanceJobs::stopInto(int projectId) {
    if (projectId >= 0 && (projectId == state_.projectId() || projectId == projectId_)) stop();
}

void EnhanceJobs::batchEnded() {
    const int written = written_.load();
    if (state_.store() && written > 0) state_.store()->bumpStat("lifetime_enhanced_images", written);
    emit finished();
}

QStringList EnhanceJobs::failures() const {
    QStringList failed;
    for (qsizetype i = 0; i < names_.size(); ++i)
        if (outcomes_[size_t(i)].load() == Outcome::Failed) failed << names_[i];
    return failed;
}

QString EnhanceJobs::editedFolder(bool plus) const {
    ProjectStore* store = state_.store();
    if (!state_.projectOpen() || !store->openProject(state_.projectId())) return {};
    const QString folder = store->projectFolder();
    if (folder.isEmpty()) return {};
    return folder + (plus ? "/edited_plus" : "/edited");
}

QString EnhanceJobs::editedPath(int imageId, bool plus) const { return editedFile(editedFolder(plus), imageId); }

bool EnhanceJobs::enhanceImage(int imageId, const QString& filename, bool plus) {
    if (!state_.projectOpen() || state_.inputFolder().isEmpty()) return false;
    const QString folder = editedFolder(plus);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return false;
    EnhanceBuffers buffers;
    if (!runEnhanceJob(makeJob(*state_.store(), state_.inputFolder(), folder, imageId, filename, plus), buffers))
        return false;
    state_.store()->bumpStat("lifetime_enhanced_images", 1);
    return true;
}

bool EnhanceJobs::startBatch(const QVariantList& imageIds, const QVariantList& filenames, bool plus) {
    if (isRunning() || !state_.projectOpen() || state_.inputFolder().isEmpty() || imageIds.isEmpty() ||
        imageIds.size() != filenames.size())
        return false;
    const QString folder = editedFolder(plus);
    if (folder.isEmpty() || !QDir().mkpath(folder)) return false;
    job_->wait(BackgroundJob::End::Deliver);  // the previous batch's end, if its notice has not arrived yet

    jobs_.clear();
    names_.clear();
    for (qsizetype i = 0; i < imageIds.size(); ++i) {
        const QString name = filenames[i].toString();
        jobs_.push_back(makeJob(*state_.store(), state_.inputFolder(), folder, imageIds[i].toInt(), name, plus));
        names_ << name;
    }
    outcomes_ = std::make_unique<std::atomic<Outcome>[]>(jobs_.size());
    for (size_t i = 0; i < jobs_.size(); ++i) outcomes_[i].store(Outcome::Pending);
    written_.store(0);
    projectId_ = state_.projectId();
    const auto work = [this](JobControl& control) {
        const auto makeWorker = [this, &control] {
            // This worker's buffers, for all its photographs.
            return [this, &control, buffers = EnhanceBuffers()](size_t i) mutable {
                const bool written = runEnhanceJob(jobs_[i], buffers);
                outcomes_[i].store(written ? Outcome::Written : Outcome::Failed);
                if (written) written_.fetch_add(1);
                control.addDone();
            };
        };
        control.forEach(jobs_.size(), makeWorker);
        return QVariant();
    };
    const int workers = enhanceWorkerCount(std::thread::hardware_concurrency(), int(jobs_.size()));
    return job_->start(work, workers, int(jobs_.size()));
}

// ---------------------------------------------------------------- edited outputs

bool EnhanceJobs::hasEdited(int imageId, bool plus) const {
    const QString path = editedPath(imageId, plus);
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString EnhanceJobs::editedUrl(int imageId, bool plus) const {
    const QString path = editedPath(imageId, plus);
    return !path.isEmpty() && QFileInfo::exists(path) ? fileUrl(path) : QString();
}

QString EnhanceJobs::bestEditedUrl(int imageId) const {
    const QString plus = editedUrl(imageId, true);
    return plus.isEmpty() ? editedUrl(imageId, false) : plus;
}

QString EnhanceJobs::originalUrl(const QString& filename) const {
    const QString path = pathInside(state_.inputFolder(), filename);
    return !path.isEmpty() && QFileInfo::exists(path) ? fileUrl(path) : QString();
}

QList<SelectionModel::EditedFiles> EnhanceJobs::editedFiles(const QList<int>& imageIds) const {
    const QString enhanceFolder = editedFolder(false), plusFolder = editedFolder(true);
    const auto existing = [](const QString& path) {
        return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
    };
    QList<SelectionModel::EditedFiles> out;
    out.reserve(imageIds.size());
    for (int id : imageIds)
        out.push_back({existing(editedFile(enhanceFolder, id)), existing(editedFile(plusFolder, id))});
    return out;
}

QVariantList EnhanceJobs::deliverableImages() const {
    const QString plusFolder = editedFolder(true), enhanceFolder = editedFolder(false);
    QVariantList out;
    for (const ReviewState::Image& i : state_.images()) {
        if (i.status == SelectionModel::Removed) continue;
        QString path;
        for (const QString& folder : {plusFolder, enhanceFolder}) {
            const QString edited = editedFile(folder, i.id);
            if (path.isEmpty() && !edited.isEmpty() && QFileInfo::exists(edited)) path = edited;
        }
        if (path.isEmpty()) {
            const QString source = pathInside(state_.inputFolder(), i.filename);
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

}  // namespace keepframe
