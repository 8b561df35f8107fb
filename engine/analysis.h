// Turns one image file into one ImageRecord: quarter-size decode, perceptual
// hash, sharpness, exposure, contrast, EXIF, category and thumbnail.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "records.h"

namespace keepframe {

struct ModelSet;

// One detection as the analysis judged it, rejected ones included: one entry
// per DetectionRecord, in the same order. The eye and expression scores are
// the ones a usable face gets (the cull itself scores only usable faces, and
// the expression only of a frame's main face).
struct DetectionDetail {
    std::array<float, 10> landmarks{};  // analysis-image pixels, as FaceRecord::landmarks
    float area = 0;                     // of the analysis image (the "small_area" test)
    float sharpness = 0;                // Laplacian variance in the box (the "blurry" test)
    float eyesOpen = 1;
    float expression = 0.75f;
};

// The thread time of each step of the analysis, summed over frames and
// threads (EngineConfig::timings).
struct AnalysisTimings {
    enum Step {
        Read,               // the file into memory
        QuarterDecode,      // the quarter-size frame
        Measures,           // grey, perceptual hash, sharpness, exposure, contrast, EXIF
        Detector,
        FaceChecks,         // each detection's sharpness, skin and edge checks
        Recogniser,         // alignment and embedding of each usable face
        HalfSizeDecode,     // the part of the half-size frame with the eyes and the expression crop
        EyesAndExpression,  // the eye-state and expression models
        Thumbnail,
        StepCount
    };
    static const char* name(Step step);
    std::array<std::atomic<int64_t>, StepCount> nanoseconds{};
    std::atomic<int> frames{0};
    std::atomic<int> faces{0};  // usable faces
};

// `models` is the calling thread's own model set; without one the face steps
// are skipped and every frame is a venue frame. `valid` is false, with the reason
// in `problem`, when the file cannot be read or decoded or its size is refused
// (image_decode.h); a frame the decoder reports damaged is analysed and
// marked `damaged`. With `details`, it also receives what the analysis saw of
// every detection (keepframe-cull --inspect).
ImageRecord analyzeImage(const std::string& relativeName, const std::string& fullPath, ModelSet* models,
                         const EngineConfig& config, std::vector<DetectionDetail>* details = nullptr);

}  // namespace keepframe
