#include "cull.h"

#include "clustering.h"
#include "faces.h"
#include "persons.h"
#include "reduction.h"
#include "reports.h"
#include "scores.h"
#include "selection.h"
#include "paths.h"
#include "primary_target.h"
#include "scan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

#ifndef KEEPFRAME_BUILD_TAG
#define KEEPFRAME_BUILD_TAG "dev"
#endif

namespace keepframe {
namespace {

void report(const ProgressCallback& progress, int percent, const char* message) {
    if (progress) progress(percent, message);
}

// Every file that is not judged like the others is named on the console.
void warnAboutLeftOut(const EngineLog& log, const std::vector<SkippedFile>& skipped,
                      const std::vector<ImageRecord>& damaged) {
    for (const auto& f : skipped)
        log.warning("  WARNING: skipped %s: %s\n", f.filename.c_str(), f.reason.c_str());
    for (const auto& f : damaged)
        log.warning("  WARNING: %s is damaged (%s): kept, never picked\n", f.filename.c_str(),
                    f.problem.c_str());
}

ResultImage toResultImage(ImageRecord& f) {
    ResultImage r;
    static_cast<FrameFacts&>(r) = f;
    r.path = f.path;
    r.clusterNumber = f.clusterNumber;
    r.appliedRotation = f.appliedRotation;
    r.score = f.finalScore;
    r.sharpness = f.sharpness;
    r.eyeSharpness = f.eyeSharpness;
    r.exposure = f.exposure;
    r.contrast = f.contrast;
    r.expression = f.expression;
    r.faceBoxes = fullResolutionFaceBoxes(f);
    r.detectionCount = f.detectionCount;
    r.detections = f.detections;
    for (const auto& face : f.faces) r.faceConfidences.push_back(face.confidence);
    r.thumbnailJpeg = std::move(f.thumbnailJpeg);
    return r;
}

}  // namespace

CullResult runCull(EngineConfig config, const ProgressCallback& progress) {
    CullResult result;

    // Step 1: the output folder exists only when outputs are written.
    result.outputBase = config.outputFolder;
    if (config.writeOutputs) {
        std::error_code ec;
        std::filesystem::create_directories(utf8ToPath(config.outputFolder), ec);
        if (ec) throw std::runtime_error("Cannot create output folder " + config.outputFolder + ": " + ec.message());
    }

    // Step 2: banner and models.
    if (config.verbose) {
        config.log.info("Orvo KeepframeEngine v1.0 (%s)\n", KEEPFRAME_BUILD_TAG);
        config.log.info("  Input:  %s\n", config.inputFolder.c_str());
        config.log.info("  Output: %s\n\n", config.outputFolder.c_str());
        config.log.info("Loading models...\n");
    }
    // The driver's own model set proves the files load before any frame is
    // touched; the analysis threads then load their own.
    if (faceAnalysisEnabled(config)) loadModelSet(config);
    if (config.verbose) {
        config.log.info("Ready.\n\n");
        config.log.info("Step 1: Processing all images...\n");
    }
    report(progress, 2, "Scanning images…");

    // Step 3: scan and analyse.
    const std::vector<InputFile> files = scanInputImages(config, &result.skipped);
    config.log.info("Found %d images (recursive scan incl. subfolders).\n\n", int(files.size()));
    const int threads = analysisThreadCount(config.workerThreads, files.size(), std::thread::hardware_concurrency());
    config.log.info("Step 1: Processing %d images on %d threads...\n", int(files.size()), threads);
    // Frames the decoder reported damaged are kept for the photographer to
    // see but take no part in clustering, people or selection: they are never
    // picked.
    std::vector<ImageRecord> frames, damaged;
    for (ImageRecord& f : analyzeFrames(files, config, threads, progress, &result.skipped)) {
        if (f.damaged) damaged.push_back(std::move(f));
        else frames.push_back(std::move(f));
    }
    result.totalInput = int32_t(frames.size() + damaged.size());
    std::sort(result.skipped.begin(), result.skipped.end(),
              [](const SkippedFile& a, const SkippedFile& b) { return a.filename < b.filename; });
    warnAboutLeftOut(config.log, result.skipped, damaged);

    // Step 4: primary target, from the frames that can be picked.
    const int32_t usable = int32_t(frames.size());
    const PrimaryTarget target = computePrimaryTarget(config.requestedPrimaryCount, usable);
    config.primaryTarget = target.target;
    if (config.verbose)
        config.log.info("  selected_primary target: %d images (input=%d, allowed %d-%d)\n", target.target, usable,
                        target.lower, target.upper);

    // Step 5: categories.
    CategoryCounts categories;
    for (const auto& f : frames) categories.add(f.category);
    if (config.verbose)
        config.log.info("\nCategories: venue=%d portrait=%d group=%d\n\n", categories.venue, categories.portrait,
                        categories.group);

    // Steps 6 to 8: moments, per-category cluster maps, chronological numbers.
    report(progress, 67, "Clustering…");
    int32_t nextClusterId = 0;
    clusterFrames(frames, config, nextClusterId);
    std::map<Category, ClusterMap> maps = {{Category::Venue, {}}, {Category::Portrait, {}}, {Category::Group, {}}};
    for (auto& f : frames) {
        auto it = maps.find(f.category);
        if (it != maps.end()) it->second[f.clusterId].push_back(&f);
    }
    if (config.verbose)
        config.log.info("\nClusters: venue=%d portrait=%d group=%d\n", int(maps[Category::Venue].size()),
                        int(maps[Category::Portrait].size()), int(maps[Category::Group].size()));
    numberClustersByTime(frames);

    // Step 9: cluster folders and category reports.
    if (config.writeOutputs) {
        if (config.verbose) config.log.info("\nExporting cluster folders...\n");
        try {
            for (const Category category : {Category::Venue, Category::Portrait, Category::Group})
                writeCategoryReport(maps[category], category, config.outputFolder, config.log);
        } catch (const std::exception& e) {
            config.log.warning("  WARNING: Cluster export failed: %s\n", e.what());
        }
    }

    // Step 10: the recurring people.
    if (config.verbose) config.log.info("\nPhase 1: Building person identities...\n");
    report(progress, 73, "Identifying people…");
    const std::vector<PersonRecord> persons =
        buildPersons(maps[Category::Portrait], maps[Category::Group], config.faceMatchThreshold, config.log);
    result.persons = int32_t(persons.size());

    // Steps 11 to 14: selection, final scores, reduction, primary/review split.
    report(progress, 78, "Selecting best images…");
    const FrameList picked =
        selectFrames(frames, maps[Category::Venue], maps[Category::Portrait], maps[Category::Group], persons, config);
    for (ImageRecord* f : picked) computeFinalScore(*f, persons, config);
    const auto [primary, review] = splitPrimaryReview(reduceSelection(picked, config), config.primaryTarget);

    // Steps 15 and 16: copies and the selection report.
    if (config.writeOutputs) {
        copyFramesToFolder(primary, config.outputFolder, "selected_primary", config.log);
        copyFramesToFolder(review, config.outputFolder, "selected_review", config.log);
        if (config.verbose) {
            config.log.info("\n  selected_primary: %d images (top %d by score)\n", int(primary.size()),
                            config.primaryTarget);
            config.log.info("  selected_review:  %d images (review these for missed moments)\n", int(review.size()));
        }
    }
    FrameList kept = primary;
    kept.insert(kept.end(), review.begin(), review.end());
    if (config.writeOutputs) {
        writeSelectionReport(kept, persons, config.outputFolder, config.log);
        writeSkippedReport(result.skipped, damaged, config.outputFolder, config.log);
    }

    // Step 17: the kept frames, primary first.
    CategoryCounts selectedCounts;
    std::map<const ImageRecord*, bool> keptPrimary;
    for (size_t i = 0; i < kept.size(); ++i) {
        const ImageRecord& f = *kept[i];
        const bool isPrimary = i < primary.size();
        keptPrimary[&f] = isPrimary;
        SelectedImage s;
        static_cast<FrameFacts&>(s) = f;
        s.score = f.finalScore;
        s.clusterSize = f.clusterSize;
        s.primary = isPrimary;
        s.faceBoxes = fullResolutionFaceBoxes(f);
        selectedCounts.add(f.category);
        result.selected.push_back(std::move(s));
    }
    result.venueCount = selectedCounts.venue;
    result.portraitCount = selectedCounts.portrait;
    result.groupCount = selectedCounts.group;
    result.totalSelected = int32_t(kept.size());
    result.primaryCount = int32_t(primary.size());
    result.reviewCount = int32_t(review.size());

    // Step 18: one row per analysed frame, damaged ones included, in scan
    // order, with its people.
    const auto addRow = [&](ImageRecord& f) {
        ResultImage row = toResultImage(f);
        const auto k = keptPrimary.find(&f);
        row.engineSelected = k != keptPrimary.end();
        row.isPrimary = row.engineSelected && k->second;
        row.facePersons = facePersonsOf(f, persons, config.faceMatchThreshold);
        row.bestVipSimilarity = vipSimilarityOf(f, persons);
        row.hasVip = row.bestVipSimilarity >= config.faceMatchThreshold;
        row.onlyTopPersons = onlyTopPersonsOf(row.facePersons, persons.size());
        if (f.damaged) row.reason = "damaged";
        result.images.push_back(std::move(row));
    };
    result.images.reserve(frames.size() + damaged.size());
    size_t nextDamaged = 0;
    for (auto& f : frames) {
        while (nextDamaged < damaged.size() && damaged[nextDamaged].filename < f.filename)
            addRow(damaged[nextDamaged++]);
        addRow(f);
    }
    while (nextDamaged < damaged.size()) addRow(damaged[nextDamaged++]);
    for (const auto& f : damaged) result.damaged.push_back(f.filename);

    // Step 19: the suggested cover.
    result.coverIndex = chooseCover(result.images);

    // Step 20.
    report(progress, 80, "Finalizing selection…");
    if (config.verbose) {
        config.log.info("\n%s\n", std::string(60, '=').c_str());
        config.log.info("DONE. Output: %s\n", config.outputFolder.c_str());
        config.log.info("  Selected: %d images (V:%d P:%d G:%d)\n", result.totalSelected, result.venueCount,
                        result.portraitCount, result.groupCount);
        if (!persons.empty())
            config.log.info("  VIP Person_000: portrait=%d group=%d\n", persons.front().portraitCount,
                            persons.front().groupCount);
    }
    return result;
}

}  // namespace keepframe
