// ONNX Runtime's two graph optimisation levels with the real face models, on a
// shoot made from photographs of real faces: the cull's frames per second at
// each level, the detector's and the recogniser's time per call, and how far
// the results move: the largest difference in any stored number (boxes,
// confidences, scores, landmarks, embeddings) and whether categories,
// clusters and the selection are the same.
#include "bench_common.h"
#include "bench_sections.h"

#include "cull.h"
#include "faces.h"
#include "frame_analysis.h"
#include "image_decode.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace keepframe::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The largest difference seen and the value it was seen in.
struct Drift {
    double largest = 0;
    std::string where = "none";
    void add(double a, double b, const char* what) {
        const double d = std::abs(a - b);
        if (d > largest) {
            largest = d;
            where = what;
        }
    }
};

// What the two levels decided differently: categories, clusters, selection.
struct Decisions {
    int categories = 0, clusters = 0, selection = 0, structure = 0;
};

void compareResults(const CullResult& a, const CullResult& b, Drift& drift, Decisions& decisions) {
    if (a.images.size() != b.images.size()) {
        ++decisions.structure;
        return;
    }
    for (size_t i = 0; i < a.images.size(); ++i) {
        const ResultImage &x = a.images[i], &y = b.images[i];
        if (x.filename != y.filename || x.detections.size() != y.detections.size() ||
            x.faceBoxes.size() != y.faceBoxes.size() || x.faceConfidences.size() != y.faceConfidences.size()) {
            ++decisions.structure;
            continue;
        }
        decisions.categories += x.category != y.category;
        decisions.clusters += x.clusterNumber != y.clusterNumber;
        decisions.selection += x.engineSelected != y.engineSelected || x.isPrimary != y.isPrimary ||
                               x.reason != y.reason || x.facePersons != y.facePersons;
        drift.add(x.score, y.score, "final score");
        drift.add(x.sharpness, y.sharpness, "sharpness");
        drift.add(x.eyeSharpness, y.eyeSharpness, "eye sharpness");
        drift.add(x.expression, y.expression, "expression");
        drift.add(x.bestVipSimilarity, y.bestVipSimilarity, "person similarity");
        for (size_t f = 0; f < x.faceBoxes.size(); ++f)
            for (int k = 0; k < 4; ++k) drift.add(x.faceBoxes[f][k], y.faceBoxes[f][k], "face box (whole pixels)");
        for (size_t f = 0; f < x.faceConfidences.size(); ++f)
            drift.add(x.faceConfidences[f], y.faceConfidences[f], "face confidence");
        for (size_t d = 0; d < x.detections.size(); ++d) {
            const DetectionRecord &p = x.detections[d], &q = y.detections[d];
            drift.add(p.confidence, q.confidence, "detection confidence");
            drift.add(p.x1, q.x1, "detection box (whole pixels)");
            drift.add(p.y2, q.y2, "detection box (whole pixels)");
            decisions.structure += p.reason != q.reason;
        }
    }
}

// The per-face values the analysis keeps in memory: landmarks (sub-pixel
// positions of the detector), eye state and embeddings.
void compareFrames(const std::vector<ImageRecord>& a, const std::vector<ImageRecord>& b, Drift& drift,
                   Decisions& decisions) {
    if (a.size() != b.size()) {
        ++decisions.structure;
        return;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].faces.size() != b[i].faces.size() || a[i].embeddings.size() != b[i].embeddings.size()) {
            ++decisions.structure;
            continue;
        }
        for (size_t f = 0; f < a[i].faces.size(); ++f) {
            const FaceRecord &p = a[i].faces[f], &q = b[i].faces[f];
            for (size_t k = 0; k < p.landmarks.size(); ++k)
                drift.add(p.landmarks[k], q.landmarks[k], "landmark (sub-pixel)");
            drift.add(p.eyesOpen, q.eyesOpen, "eyes open");
            drift.add(p.gradient, q.gradient, "face gradient");
        }
        for (size_t e = 0; e < a[i].embeddings.size(); ++e) {
            if (a[i].embeddings[e].size() != b[i].embeddings[e].size()) {
                ++decisions.structure;
                continue;
            }
            for (size_t k = 0; k < a[i].embeddings[e].size(); ++k)
                drift.add(a[i].embeddings[e][k], b[i].embeddings[e][k], "embedding");
        }
    }
}

// Sub-pixel detector output on the same frames at both levels.
void compareDetections(const std::vector<std::vector<FaceCandidate>>& a,
                       const std::vector<std::vector<FaceCandidate>>& b, Drift& drift, Decisions& decisions) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i].size() != b[i].size()) {
            ++decisions.structure;
            continue;
        }
        for (size_t f = 0; f < a[i].size(); ++f)
            for (int k = 0; k < 4; ++k) drift.add(a[i][f][size_t(k)], b[i][f][size_t(k)], "detector box (sub-pixel)");
    }
}

struct LevelRun {
    double detectorMs = 0, recogniserMs = 0, framesPerSecond = 0;
    std::vector<std::vector<FaceCandidate>> found;
    std::vector<ImageRecord> frames;
    CullResult result;
};

LevelRun runLevel(EngineConfig config, bool full, const std::vector<cv::Mat>& sample,
                  const std::vector<InputFile>& files) {
    config.fullGraphOptimization = full;
    LevelRun run;
    // Per call, one thread, sessions loaded first.
    const OnnxModel detector = loadDetector(config.detectorModelPath, 640, full);
    const OnnxModel recogniser = loadRecognizer(config.recognizerModelPath, full);
    detectFaces(detector, sample.front(), 0.5f);  // the first run of a session prepares it
    auto start = Clock::now();
    for (const cv::Mat& frame : sample) run.found.push_back(detectFaces(detector, frame, 0.5f));
    run.detectorMs = secondsSince(start) * 1000 / double(sample.size());
    int embeddings = 0;
    start = Clock::now();
    for (size_t i = 0; i < sample.size(); ++i)
        for (const FaceCandidate& c : run.found[i]) {
            Landmarks lm;
            std::copy(c.begin() + 5, c.end(), lm.begin());
            embedFace(recogniser, sample[i], lm, int(c[0]), int(c[1]), int(c[2]), int(c[3]));
            ++embeddings;
        }
    run.recogniserMs = embeddings > 0 ? secondsSince(start) * 1000 / embeddings : 0;

    const int threads = analysisThreadCount(0, files.size(), std::thread::hardware_concurrency());
    run.frames = analyzeFrames(files, config, threads, {});
    start = Clock::now();
    run.result = runCull(config);
    run.framesPerSecond = run.result.totalInput / secondsSince(start);
    return run;
}

}  // namespace

void graphOptimizationBench() {
    const std::string models = benchModelsFolder();
    EngineConfig config = realModelConfig(models);
    if (!fs::exists(utf8ToPath(config.detectorModelPath))) {
        std::printf("graphopt: no models in %s (build them with the model kit); section skipped\n", models.c_str());
        return;
    }
    config.inputFolder = cachedShoot(24, 3000, 2000);
    config.verbose = false;
    const auto files = scanInputImages(config);
    std::vector<cv::Mat> sample;  // quarter-size frames, as the analysis gives the detector
    for (size_t i = 0; i < files.size() && sample.size() < 8; ++i) {
        std::vector<uint8_t> bytes;
        if (!readFileBytes(files[i].fullPath, bytes)) continue;
        const cv::Mat frame = decodeImage(bytes, 4).image;
        if (!frame.empty()) sample.push_back(frame);
    }
    if (sample.empty()) throw std::runtime_error("no decodable frame in " + config.inputFolder);

    const LevelRun extended = runLevel(config, false, sample, files);
    const LevelRun all = runLevel(config, true, sample, files);

    Drift stored, inMemory, boxes;
    Decisions decisions;
    compareResults(extended.result, all.result, stored, decisions);
    compareFrames(extended.frames, all.frames, inMemory, decisions);
    compareDetections(extended.found, all.found, boxes, decisions);
    int faces = 0;
    for (const auto& f : extended.found) faces += int(f.size());

    std::printf("graphopt: %d frames of 3000x2000 from the test photographs, real models in %s\n",
                extended.result.totalInput, models.c_str());
    std::printf("  %-9s %9s %14s %16s\n", "level", "cull fps", "detector ms", "recogniser ms");
    std::printf("  %-9s %9.2f %14.1f %16.1f\n", "extended", extended.framesPerSecond, extended.detectorMs,
                extended.recogniserMs);
    std::printf("  %-9s %9.2f %14.1f %16.1f\n", "all", all.framesPerSecond, all.detectorMs, all.recogniserMs);
    std::printf("  speed-up per call: detector %.2fx, recogniser %.2fx (%zu frames, %d faces, 1 thread); "
                "cull %.2fx\n",
                extended.detectorMs / all.detectorMs,
                all.recogniserMs > 0 ? extended.recogniserMs / all.recogniserMs : 0.0, sample.size(), faces,
                all.framesPerSecond / extended.framesPerSecond);
    std::printf("  largest difference in a stored value: %.6g (%s)\n", stored.largest, stored.where.c_str());
    std::printf("  largest difference in the analysis:   %.6g (%s)\n", inMemory.largest, inMemory.where.c_str());
    std::printf("  largest difference in a detector box:  %.6g pixel\n", boxes.largest);
    const bool same = decisions.categories + decisions.clusters + decisions.selection + decisions.structure == 0;
    std::printf("  categories, clusters and selection: %s", same ? "identical\n" : "DIFFERENT");
    if (!same)
        std::printf(" (frames differing: %d in category, %d in cluster, %d in selection, %d in faces found)\n",
                    decisions.categories, decisions.clusters, decisions.selection, decisions.structure);
}

}  // namespace keepframe::bench
