#include "faces.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace keepframe {
namespace {

// Planar 1 x 3 x n x n tensor (planes B, G, R) of value * scale + offset.
std::vector<float> planarTensor(const cv::Mat& bgr, double scale, double offset) {
    const int n = bgr.rows;
    cv::Mat floats;
    bgr.convertTo(floats, CV_32FC3, scale, offset);
    std::vector<float> input(size_t(3) * n * bgr.cols);
    std::vector<cv::Mat> planes;
    for (int c = 0; c < 3; ++c) planes.emplace_back(n, bgr.cols, CV_32F, input.data() + size_t(c) * n * bgr.cols);
    cv::split(floats, planes);
    return input;
}

}  // namespace

std::vector<float> embedFace(const OnnxModel& recognizer, const cv::Mat& bgr, const Landmarks& landmarks, int x1,
                             int y1, int x2, int y2) {
    cv::Mat face = alignFace(bgr, landmarks);
    if (face.empty()) {
        // Unusable landmarks: the face box itself stands in for the aligned face.
        x1 = std::max(0, x1);
        y1 = std::max(0, y1);
        x2 = std::min(x2, bgr.cols);
        y2 = std::min(y2, bgr.rows);
        if (x2 <= x1 || y2 <= y1) return {};
        cv::resize(bgr(cv::Rect(x1, y1, x2 - x1, y2 - y1)), face, cv::Size(112, 112), 0, 0, cv::INTER_LINEAR);
    }
    return embedAlignedFace(recognizer, face);
}

std::vector<float> embedAlignedFace(const OnnxModel& recognizer, const cv::Mat& aligned) {
    cv::Mat face = aligned;
    if (face.cols < 10 || face.rows < 10) return {};
    if (face.cols != 112 || face.rows != 112) cv::resize(face, face, cv::Size(112, 112), 0, 0, cv::INTER_LINEAR);

    std::vector<float> input = planarTensor(face, 1.0 / 127.5, -1.0);
    const std::vector<Ort::Value> out = recognizer.run(input, {1, 3, 112, 112});
    if (out.empty() || tensorSize(out[0]) < 512) throw std::runtime_error("face recogniser gave fewer than 512 values");
    const float* data = out[0].GetTensorData<float>();
    std::vector<float> embedding(data, data + 512);
    double norm = 0.0;
    for (float v : embedding) norm += double(v) * v;
    norm = std::sqrt(norm);
    if (norm > 1e-6)
        for (float& v : embedding) v = float(v / norm);
    return embedding;
}

float expressionScore(const OnnxModel& expression, const cv::Mat& faceCrop) {
    if (faceCrop.empty() || faceCrop.cols < 10 || faceCrop.rows < 10) return 0.75f;
    cv::Mat grey, small, floats;
    if (faceCrop.channels() == 3) cv::cvtColor(faceCrop, grey, cv::COLOR_BGR2GRAY);
    else grey = faceCrop;
    cv::resize(grey, small, cv::Size(64, 64), 0, 0, cv::INTER_LINEAR);
    small.convertTo(floats, CV_32F);
    std::vector<float> input(floats.begin<float>(), floats.end<float>());

    const std::vector<Ort::Value> out = expression.run(input, {1, 1, 64, 64});
    if (out.empty() || tensorSize(out[0]) < 8) throw std::runtime_error("expression model gave fewer than 8 values");
    const float* logits = out[0].GetTensorData<float>();
    const float top = *std::max_element(logits, logits + 8);
    double p[8], sum = 0.0;
    for (int i = 0; i < 8; ++i) sum += (p[i] = std::exp(double(logits[i]) - top));
    for (double& v : p) v /= sum;
    return float(0.75 * p[0] + 1.0 * p[1] + 0.3 * p[2] + 0.05 * p[3]);
}

std::array<cv::Rect, 2> eyeStateWindows(const Landmarks& landmarks, cv::Size frame) {
    // Landmarks are quarter-size coordinates; the windows are cut from the
    // half-size frame, where an eye has twice the pixels (quarter pixel x
    // covers half pixels 2x and 2x + 1, centred on 2x + 0.5).
    const float distance = 2.0f * std::hypot(landmarks[2] - landmarks[0], landmarks[3] - landmarks[1]);
    std::array<cv::Rect, 2> windows;
    for (int e = 0; e < 2; ++e)
        windows[size_t(e)] = eyeStateWindow(2.0f * landmarks[2 * e] + 0.5f, 2.0f * landmarks[2 * e + 1] + 0.5f,
                                            distance, frame.width, frame.height);
    return windows;
}

float eyeOpenScore(const OnnxModel& eye, const FrameRegion& half, const Landmarks& landmarks) {
    if (!eye.loaded || half.frameSize.empty()) return 1.0f;
    float scores[2];
    int used = 0;
    for (const cv::Rect& window : eyeStateWindows(landmarks, half.frameSize)) {
        if (window.empty()) continue;
        float score = 1.0f;
        try {
            cv::Mat small;
            const bool shrinking = window.width >= 32 && window.height >= 32;
            cv::resize(half.cut(window), small, cv::Size(32, 32), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
            std::vector<float> input = planarTensor(small, 1.0 / 255.0, -127.0 / 255.0);
            const std::vector<Ort::Value> out = eye.run(input, {1, 3, 32, 32});
            if (!out.empty() && tensorSize(out[0]) >= 2) score = out[0].GetTensorData<float>()[1];
        } catch (const std::exception&) {
            score = 1.0f;  // an eye the model cannot judge counts as open
        }
        scores[used++] = score;
    }
    if (used == 0) return 1.0f;
    return used == 2 ? std::min(scores[0], scores[1]) : scores[0];
}

std::unique_ptr<ModelSet> loadModelSet(const EngineConfig& config) {
    auto set = std::make_unique<ModelSet>();
    const bool full = config.fullGraphOptimization;
    set->detector = loadDetector(config.detectorModelPath, 640, full);
    set->recognizer = loadRecognizer(config.recognizerModelPath, full);
    set->expression = loadExpressionModel(config.expressionModelPath, full);
    set->eye = loadEyeModel(config.eyeModelPath, full);
    return set;
}

}  // namespace keepframe
