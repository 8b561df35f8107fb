#include "frame_analysis.h"

#include "analysis.h"
#include "faces.h"

#include "parallel_for.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace keepframe {

int analysisThreadCount(int workerThreads, size_t fileCount, unsigned hardwareThreads) {
    int n = workerThreads >= 1 ? workerThreads : (hardwareThreads == 0 ? 4 : int(hardwareThreads));
    n = std::clamp(n, 1, 8);
    if (fileCount < size_t(n)) n = fileCount == 0 ? 1 : int(fileCount);
    return n;
}

namespace {

// One frame, whatever it holds: an error raised while analysing it (an odd
// size deep in OpenCV, memory) leaves that frame out with its reason and never
// reaches the other frames or threads.
ImageRecord analyzeOne(const InputFile& file, ModelSet* models, const EngineConfig& config) {
    try {
        return analyzeImage(file.relativeName, file.fullPath, models, config);
    } catch (const std::exception& e) {
        ImageRecord failed;
        failed.filename = file.relativeName;
        failed.path = file.fullPath;
        failed.problem = std::string("analysis failed: ") + e.what();
        return failed;
    } catch (...) {
        ImageRecord failed;
        failed.filename = file.relativeName;
        failed.path = file.fullPath;
        failed.problem = "analysis failed";
        return failed;
    }
}

}  // namespace

std::vector<ImageRecord> analyzeFrames(const std::vector<InputFile>& files, const EngineConfig& config,
                                       int threadCount, const ProgressCallback& progress,
                                       std::vector<SkippedFile>* skipped) {
    const int total = int(files.size());
    std::vector<ImageRecord> slots(files.size());
    std::atomic<int> finished{0};
    const auto makeTask = [&] {
        // Every thread has its own model set; nothing of ONNX Runtime is shared.
        std::shared_ptr<ModelSet> models;
        if (faceAnalysisEnabled(config)) models = loadModelSet(config);
        return [&, models](size_t i) {
            slots[i] = analyzeOne(files[i], models.get(), config);
            const int done = finished.fetch_add(1) + 1;
            if (done % 50 == 0 || done == total) config.log.info("  [%4d/%d] done\n", done, total);
            if ((done % 5 == 0 || done == total) && progress) progress(2 + done * 63 / total, "Processing images…");
        };
    };
    parallelFor(files.size(), threadCount, makeTask, config.stop);
    if (config.stop != nullptr && config.stop->load()) throw CullStopped();

    std::vector<ImageRecord> frames;
    frames.reserve(slots.size());
    for (auto& rec : slots) {
        if (rec.valid) frames.push_back(std::move(rec));
        else if (skipped) skipped->push_back({rec.filename, rec.problem.empty() ? "undecodable" : rec.problem});
    }
    return frames;
}

}  // namespace keepframe
