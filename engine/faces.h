// Face inference over the four models: detection with five landmarks,
// alignment, identity embedding, expression and eye state.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "image_decode.h"
#include "measures.h"
#include "onnx_model.h"
#include "records.h"

namespace keepframe {

// x1, y1, x2, y2, score, then five landmarks as x, y pairs (eyes first), in
// the pixels of the image given to the detector.
using FaceCandidate = std::array<float, 15>;
using Landmarks = std::array<float, 10>;

// One thread's four models.
struct ModelSet {
    OnnxModel detector;
    OnnxModel recognizer;
    OnnxModel expression;
    OnnxModel eye;
};

// False when the configuration names no detector: frames are then measured
// without faces.
inline bool faceAnalysisEnabled(const EngineConfig& config) { return !config.detectorModelPath.empty(); }

// Loads the four models named by the configuration (detector input 640).
// Throws std::runtime_error when the detector, recogniser or expression model
// cannot be loaded; a missing eye model only disables eye scoring.
std::unique_ptr<ModelSet> loadModelSet(const EngineConfig& config);

// Intersection over union with widths x2 - x1 (no +1); 0 for an empty union.
float boxIou(const FaceCandidate& a, const FaceCandidate& b);

std::vector<FaceCandidate> detectFaces(const OnnxModel& detector, const cv::Mat& bgr, float threshold);

// 112 x 112 BGR face, or an empty matrix when the landmarks are unusable.
cv::Mat alignFace(const cv::Mat& bgr, const Landmarks& landmarks);

// Unit-length embedding (512 floats), or empty when no face image can be made.
std::vector<float> embedFace(const OnnxModel& recognizer, const cv::Mat& bgr, const Landmarks& landmarks, int x1,
                             int y1, int x2, int y2);

// Unit-length embedding of a face already aligned as alignFace makes it (other
// sizes are resized to 112 x 112); empty for an image under 10 pixels a side.
std::vector<float> embedAlignedFace(const OnnxModel& recognizer, const cv::Mat& face);

// 0 to 1; 0.75 for crops too small to judge.
float expressionScore(const OnnxModel& expression, const cv::Mat& faceCrop);

// The eyeStateWindow squares of both eyes (either may be empty) in a
// half-size frame of `frame` size, with `landmarks` in quarter-size coordinates.
std::array<cv::Rect, 2> eyeStateWindows(const Landmarks& landmarks, cv::Size frame);

// 0 to 1 (the less open eye), judged on the eyeStateWindows of the half-size
// frame `half` (the whole frame, or the part of it that holds the windows),
// with `landmarks` in quarter-size coordinates; 1.0 without an eye model, a
// frame or a usable eye window.
float eyeOpenScore(const OnnxModel& eye, const FrameRegion& half, const Landmarks& landmarks);


}  // namespace keepframe
