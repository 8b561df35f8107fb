// The project's own tiny test models (written at build time by
// tools/testmodels/make_test_models.py) and helpers that paint images which
// steer them. See that script for what each model computes.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include <opencv2/core.hpp>

#include "records.h"

namespace keepframe::testing {

inline std::string testModelsDir() { return KEEPFRAME_TEST_MODELS_DIR "/"; }

inline EngineConfig testModelConfig() {
    EngineConfig c;
    const std::string dir = testModelsDir();
    c.detectorModelPath = dir + "buffalo_l/det_10g.onnx";
    c.recognizerModelPath = dir + "buffalo_l/w600k_r50.onnx";
    c.expressionModelPath = dir + "emotion-ferplus-8.onnx";
    c.eyeModelPath = dir + "open_closed_eye.onnx";
    return c;
}

// One detector anchor, in the detector's own units: score 0..255/256,
// distances 0..255/16 stride units, landmark offsets -8..7.9375 stride units.
struct PaintedAnchor {
    int stride = 8;  // 8, 16 or 32
    int row = 0, col = 0;
    float score = 0.75f;
    std::array<float, 4> distances{2, 2, 2, 2};
    std::array<float, 10> offsets{};  // x, y per landmark
};

// Paints the anchor's control pixels into a BGR image that the detector sees
// unscaled (640 x 640, or any image whose letterbox scale is 1).
inline void paintAnchor(cv::Mat& bgr, const PaintedAnchor& a) {
    const int channel = a.stride == 8 ? 0 : a.stride == 16 ? 1 : 2;
    const int y = a.row * a.stride, x = a.col * a.stride;
    auto put = [&](int yy, int xx, double v) {
        bgr.at<cv::Vec3b>(yy, xx)[channel] = cv::saturate_cast<uchar>(std::lround(v));
    };
    put(y, x, a.score * 256);
    for (int k = 0; k < 4; ++k) put(y + 1 + k, x, a.distances[size_t(k)] * 16);
    for (int j = 0; j < 5; ++j) {
        put(y + 5, x + j, a.offsets[size_t(2 * j)] * 16 + 128);
        put(y + 6, x + j, a.offsets[size_t(2 * j + 1)] * 16 + 128);
    }
}

// Landmark offsets (stride units) that put the eyes, nose and mouth corners
// of a face centred on the anchor at plausible places for a box of `half`
// stride units on each side.
inline std::array<float, 10> faceOffsets(float half) {
    return {-0.35f * half, -0.25f * half, 0.35f * half, -0.25f * half, 0.0f, 0.1f * half,
            -0.3f * half,  0.45f * half,  0.3f * half,  0.45f * half};
}

// Skin-toned, textured patch (every channel below 128, so it never triggers
// the test detector by itself) for faces that pass the validity checks.
inline void paintSkin(cv::Mat& bgr, const cv::Rect& r) {
    const cv::Rect clipped = r & cv::Rect(0, 0, bgr.cols, bgr.rows);
    for (int y = clipped.y; y < clipped.y + clipped.height; ++y)
        for (int x = clipped.x; x < clipped.x + clipped.width; ++x)
            bgr.at<cv::Vec3b>(y, x) = ((x / 2 + y / 2) % 2) ? cv::Vec3b(60, 80, 120) : cv::Vec3b(40, 60, 100);
}

}  // namespace keepframe::testing
