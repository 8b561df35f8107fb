#include "cull_worker.h"

#include "background_job.h"
#include "cull.h"
#include "paths.h"
#include "project_store.h"
#include "raw_conversion.h"
#include "scan.h"

#include <QDateTime>
#include <QHash>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace keepframe {

namespace {

// The conversion folder of a run that made it, removed with everything in it
// unless the run kept its result: a stopped or failed cull leaves no JPEG
// copies in the shoot. A folder an earlier cull made (its project reads the
// copies) is never taken.
class MadeFolder {
public:
    MadeFolder() = default;
    MadeFolder(const MadeFolder&) = delete;
    MadeFolder& operator=(const MadeFolder&) = delete;
    ~MadeFolder() {
        if (folder_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(utf8ToPath(folder_), ec);
    }
    // `folder` is to be made by this run: it is taken back unless kept.
    void watch(const std::string& folder) {
        std::error_code ec;
        if (!std::filesystem::exists(utf8ToPath(folder), ec)) folder_ = folder;
    }
    void keep() { folder_.clear(); }

private:
    std::string folder_;
};

}  // namespace

CullWorker::CullWorker(EngineConfig config, bool saveProject, std::shared_ptr<std::atomic<CullPhase>> phase)
    : config_(std::move(config)), saveProject_(saveProject), phase_(std::move(phase)) {
    if (!phase_) phase_ = std::make_shared<std::atomic<CullPhase>>();
    phase_->store(CullPhase::Analysing);
    // Thumbnails are only for the stored project.
    config_.makeThumbnails = config_.makeThumbnails && saveProject_;
}

QVariantMap cullSummary(const CullResult& r, const EngineConfig& config, int projectId) {
    // The face count and the featured flag of a pick, so that the in-memory
    // review can tell Group and Featured frames apart.
    QHash<QString, const ResultImage*> stored;
    for (const ResultImage& image : r.images) stored.insert(QString::fromStdString(image.filename), &image);
    QVariantList selected;
    for (const SelectedImage& s : r.selected) {
        QVariantList boxes;
        for (const FaceBox& b : s.faceBoxes) boxes.push_back(QVariantList{b[0], b[1], b[2], b[3]});
        const QString filename = QString::fromStdString(s.filename);
        const ResultImage* image = stored.value(filename, nullptr);
        selected.push_back(QVariantMap{{"filename", filename},
                                       {"category", QString::fromUtf8(categoryText(s.category))},
                                       {"reason", QString::fromStdString(s.reason)},
                                       {"captureTime", QString::fromStdString(s.captureTime)},
                                       {"fullW", s.fullW},
                                       {"fullH", s.fullH},
                                       {"orientation", s.orientation},
                                       {"score", double(s.score)},
                                       {"clusterSize", s.clusterSize},
                                       {"primary", s.primary},
                                       {"faceBoxes", boxes},
                                       {"totalDetectedFaces", image ? image->detectionCount : 0},
                                       {"isFeatured", image ? image->onlyTopPersons : false}});
    }
    QVariantList skipped, damaged;
    for (const SkippedFile& f : r.skipped)
        skipped.push_back(
            QVariantMap{{"file", QString::fromStdString(f.filename)}, {"reason", QString::fromStdString(f.reason)}});
    for (const std::string& name : r.damaged) damaged.push_back(QString::fromStdString(name));
    const QString base = QString::fromStdString(r.outputBase);
    return QVariantMap{{"outputBase", base},
                       {"inputFolder", QString::fromStdString(config.inputFolder)},
                       {"totalInput", r.totalInput},
                       {"totalSelected", r.totalSelected},
                       {"primaryCount", r.primaryCount},
                       {"reviewCount", r.reviewCount},
                       {"venue", r.venueCount},
                       {"portrait", r.portraitCount},
                       {"group", r.groupCount},
                       {"persons", r.persons},
                       {"projectId", projectId},
                       {"selected", selected},
                       {"selectedDir", base + "/selected"},
                       {"primaryDir", base + "/selected_primary"},
                       {"reviewDir", base + "/selected_review"},
                       {"skipped", skipped},
                       {"damaged", damaged},
                       {"coverFilename", r.coverIndex >= 0 && size_t(r.coverIndex) < r.images.size()
                                             ? QString::fromStdString(r.images[size_t(r.coverIndex)].filename)
                                             : QString()}};
}

QVariantMap CullWorker::run(JobControl& control) {
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    config_.stop = &control.stopFlag();
    const auto stopHere = [&control] {
        if (control.stopRequested()) throw CullStopped();
    };
    // This thread's own store and connections. A library that cannot take
    // the project fails the run before any analysis, with the store's reason.
    std::optional<ProjectStore> store;
    if (saveProject_) {
        store.emplace();
        if (!store->openRegistry() || !store->checkCanSave())
            throw std::runtime_error(("Could not save the project: " + store->lastError()).toStdString());
    }
    std::vector<SkippedFile> unconverted;
    MadeFolder conversion;
    if (hasRawFiles(config_.inputFolder)) {
        const std::string jpegFolder =
            pathToUtf8(utf8ToPath(config_.inputFolder) / utf8ToPath(conversionFolderName(config_.inputFolder)));
        conversion.watch(jpegFolder);
        const int total = countRawFiles(config_.inputFolder);
        control.report(1, QStringLiteral("Converting RAW files to JPG…"));
        std::vector<std::string> failedRaw;
        const auto progress = [&](int done, int all, const std::string&) {
            control.report(all < 1 ? 1 : 1 + done * 4 / all,
                           QStringLiteral("Converting RAW %1 of %2…").arg(done).arg(total));
        };
        const int converted = convertRawFolder(config_.inputFolder, jpegFolder, progress, &failedRaw,
                                               config_.keepRawPreviews, config_.stop);
        stopHere();
        for (const std::string& name : failedRaw) unconverted.push_back({name, "RAW preview could not be read"});
        // With no RAW file converted, a folder that holds other images is
        // culled from those, and the RAW files are named as skipped.
        if (converted == 0 && scanInputImages(config_).empty())
            throw std::runtime_error(
                "Could not convert any RAW files. Please check the files and try again, or use JPG input.");
        if (converted > 0) config_.inputFolder = jpegFolder;
        control.report(5, QStringLiteral("Processing images (detect, score, cluster)…"));
    }

    CullResult result = runCull(config_, [&control](int percent, const std::string& message) {
        control.report(percent, QString::fromStdString(message));
    });
    result.skipped.insert(result.skipped.begin(), unconverted.begin(), unconverted.end());
    stopHere();

    phase_->store(CullPhase::Saving);
    control.report(82, QStringLiteral("Saving project & thumbnails…"));
    int projectId = -1;
    if (store) {
        const int seconds = int((QDateTime::currentMSecsSinceEpoch() - start) / 1000);
        projectId = store->saveCullResult(result, QString::fromStdString(config_.inputFolder), {}, seconds);
        if (projectId < 0)
            throw std::runtime_error(("Could not save the project: " + store->lastError()).toStdString());
    }
    conversion.keep();
    phase_->store(CullPhase::Finishing);
    control.report(99, QStringLiteral("Finishing up…"));
    return cullSummary(result, config_, projectId);
}

}  // namespace keepframe
