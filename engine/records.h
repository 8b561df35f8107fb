// The records shared by the whole cull engine: one run's settings, one
// analysed frame with its faces and detections, and the run's result.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "category.h"
#include "engine_log.h"

namespace keepframe {

// Folder the engine looks in for its four models when the caller names none.
// The desktop program and keepframe-cull always supply their own paths.
std::string defaultModelsFolder();

struct AnalysisTimings;

struct EngineConfig {
    std::string inputFolder;
    std::string outputFolder;
    std::string recognizerModelPath = defaultModelsFolder() + "buffalo_l/w600k_r50.onnx";
    std::string expressionModelPath = defaultModelsFolder() + "emotion-ferplus-8.onnx";
    std::string eyeModelPath = defaultModelsFolder() + "open_closed_eye.onnx";
    std::string detectorModelPath = defaultModelsFolder() + "buffalo_l/det_10g.onnx";
    // An empty detector path runs the classical measures only: no faces are
    // looked for and every frame is a venue frame (used by benchmarks).

    // Face scoring.
    float portraitQualityWeight = 0.3f;
    float portraitExpressionWeight = 0.7f;
    bool groupExpressionEnabled = false;
    float groupExpressionWeight = 0.0f;
    float faceMatchThreshold = 0.5f;

    bool writeOutputs = false;

    // Face validity.
    float minFaceConfidence = 0.3f;
    float minFaceArea = 0.001f;
    float sharpFaceThreshold = 30.0f;
    float softFaceThreshold = 20.0f;
    float softFaceMinArea = 0.01f;
    int32_t edgeMargin = 2;
    bool humanCheckEnabled = true;
    float minSkinRatio = 0.12f;
    float minFaceBrightness = 25.0f;

    int32_t primaryTarget = 75;           // written by the driver from the input count
    int32_t requestedPrimaryCount = -1;   // 0 or less: automatic
    int32_t workerThreads = 0;            // 0 or less: automatic
    bool verbose = true;
    int32_t thumbnailLongSide = 640;      // 0 or less: 400
    bool makeThumbnails = true;           // false when the result is not stored: no thumbnail is encoded
    // ONNX Runtime's full graph optimisation (layout changes and fused kernels
    // for this processor) instead of the extended level: faster sessions whose
    // outputs differ from the extended level's in the last float digits.
    bool fullGraphOptimization = false;
    // RAW input: keep each RAW file's embedded JPEG preview as it is (with the
    // RAW's EXIF and a 300 dpi density) instead of re-encoding it.
    bool keepRawPreviews = false;
    // When set, the analysis adds the time each of its steps takes (benchmarks).
    AnalysisTimings* timings = nullptr;
    // Where the run's log lines go; the console unless given a sink.
    EngineLog log;
    // When given and set, the analysis takes no further frame and the run
    // raises CullStopped (frame_analysis.h): nothing of it is returned.
    const std::atomic<bool>* stop = nullptr;

    // Moment clustering.
    int32_t phashThreshold = 15;
    int32_t maxClusterSize = 50;
    int32_t nearMissMinDistance = 16;
    int32_t nearMissMaxDistance = 20;
    float nearMissFaceSimilarity = 0.4f;
    float nearMissMatchRatio = 0.7f;
    int32_t proximityMaxGap = 8;
    float proximitySharpnessTolerance = 0.5f;
    float proximityExposureTolerance = 0.2f;
    int32_t proximityMaxClusterSize = 4;
    int32_t proximityMaxMergedSize = 50;
    float faceMergeRatio = 0.7f;
    float portraitSplitRatio = 0.8f;
    float groupSplitRatio = 0.6f;

    // Selection.
    float minSelectExposure = 0.35f;
    float scoreTieTolerance = 0.05f;
    float eyeTieMargin = 0.01f;
    int32_t sameShotDistance = 12;
    bool groupCoverageEnabled = true;
    int32_t groupCoverageMinClusterSize = 4;
    int32_t coverageNewFacesNear = 2;
    int32_t coverageDistinctDistance = 20;
    int32_t coverageNewFacesDistinct = 1;
    int32_t nearDuplicateDistance = 6;
    int32_t newFaceTieBand = 1;

    // Output reduction.
    float portraitScoreFloor = 0.395f;
    float groupScoreFloor = 0.28f;
};

struct DetectionRecord {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    float confidence = 0;
    bool ok = false;
    std::string reason;  // "", "low_conf", "small_area", "edge", "blurry", "not_human"
};

struct FaceRecord {
    float confidence = 0;
    float area = 0;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    float gradient = 0;
    float eyesOpen = 0;
    bool hasLandmarks = false;
    // Left eye, right eye, nose, left and right mouth corner: x then y each.
    std::array<float, 10> landmarks{};
};

// What every record of a frame carries, from the analysis to the result rows.
struct FrameFacts {
    std::string filename;  // relative to the input folder, "/" separators
    Category category = Category::Venue;  // venue until faces are found
    std::string captureTime;
    int32_t fullW = 0, fullH = 0;  // the upright frame's size, as the file's header declares it
    int32_t orientation = 1;
    std::string reason;  // why the frame was picked or left
};

struct ImageRecord : FrameFacts {
    std::string path;
    uint64_t phash = 0;
    int32_t appliedRotation = 0;
    int32_t faceCount = 0;
    int32_t detectionCount = 0;
    std::vector<DetectionRecord> detections;
    float sharpness = 0;
    float exposure = 0;
    float contrast = 0;
    float eyeSharpness = 0;
    float expression = 0;
    std::vector<FaceRecord> faces;
    std::vector<std::vector<float>> embeddings;
    int32_t clusterId = -1;
    bool proximityProtected = false;
    int32_t clusterNumber = 0;
    int32_t selected = 0;
    int32_t personIndex = -1;
    bool personFlag = false;
    int32_t pickClusterId = -1;
    int32_t clusterSize = 0;
    float finalScore = 0;
    std::vector<uint8_t> thumbnailJpeg;
    bool valid = false;
    // The decoder reported corrupt or truncated data: the frame is analysed
    // and shown, but never picked.
    bool damaged = false;
    // Why a frame that is not valid was left out ("undecodable", "too large:
    // ..."), or what the decoder reported on a damaged one.
    std::string problem;
};

// The analysis image is the frame decoded at a quarter of its size: face,
// detection and landmark coordinates are in its pixels, and this many
// full-resolution pixels make one of them.
constexpr int32_t kAnalysisScale = 4;

// x, y, width, height in upright full-resolution pixels.
using FaceBox = std::array<int32_t, 4>;

// A box of analysis pixels (corners x1, y1, x2, y2) in the upright frame of
// fullW x fullH pixels. The decoder rounds the frame's sides up to whole
// analysis pixels, so the box is kept inside the frame.
FaceBox fullResolutionBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t fullW, int32_t fullH);

struct SelectedImage : FrameFacts {
    float score = 0;
    int32_t clusterSize = 0;
    bool primary = false;
    std::vector<FaceBox> faceBoxes;
};

struct ResultImage : FrameFacts {
    std::string path;
    int32_t clusterNumber = 0;
    bool engineSelected = false;
    bool isPrimary = false;
    int32_t appliedRotation = 0;
    float score = 0;
    float sharpness = 0;
    float eyeSharpness = 0;
    float exposure = 0;
    float contrast = 0;
    float expression = 0;
    float bestVipSimilarity = 0;
    bool hasVip = false;
    std::vector<FaceBox> faceBoxes;
    int32_t detectionCount = 0;
    std::vector<DetectionRecord> detections;
    std::vector<int32_t> facePersons;
    std::vector<float> faceConfidences;
    bool onlyTopPersons = false;
    std::vector<uint8_t> thumbnailJpeg;
};

// Frames counted by category: featured frames (a display category) count as
// portraits.
struct CategoryCounts {
    int32_t venue = 0;
    int32_t portrait = 0;
    int32_t group = 0;
    void add(Category category) {
        if (category == Category::Venue) ++venue;
        else if (category == Category::Group) ++group;
        else ++portrait;
    }
};

// A file of the shoot that was not analysed, and why: "unreadable",
// "undecodable", "too large: W x H pixels (limit 200 megapixels)",
// "degenerate size: W x H pixels", "analysis failed: …" or "file name is not
// valid UTF-8".
struct SkippedFile {
    std::string filename;  // relative to the input folder, "/" separators
    std::string reason;
};

struct CullResult {
    int32_t totalInput = 0;
    int32_t totalSelected = 0;
    int32_t primaryCount = 0;
    int32_t reviewCount = 0;
    int32_t venueCount = 0;
    int32_t portraitCount = 0;
    int32_t groupCount = 0;
    int32_t persons = 0;
    std::string outputBase;
    std::vector<SelectedImage> selected;
    std::vector<ResultImage> images;
    int32_t coverIndex = -1;
    // Files left out of the analysis, with their reasons.
    std::vector<SkippedFile> skipped;
    // Frames whose decoder reported corrupt or truncated data: stored with the
    // reason "damaged" and never picked.
    std::vector<std::string> damaged;
};

// Face boxes of a frame in upright full-resolution pixels.
std::vector<FaceBox> fullResolutionFaceBoxes(const ImageRecord& frame);

}  // namespace keepframe
