#include "faces.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace keepframe {

float boxIou(const FaceCandidate& a, const FaceCandidate& b) {
    const float iw = std::max(0.0f, std::min(a[2], b[2]) - std::max(a[0], b[0]));
    const float ih = std::max(0.0f, std::min(a[3], b[3]) - std::max(a[1], b[1]));
    const float inter = iw * ih;
    const float uni = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter;
    return uni > 0.0f ? inter / uni : 0.0f;
}

std::vector<FaceCandidate> detectFaces(const OnnxModel& detector, const cv::Mat& bgr, float threshold) {
    const int S = detector.inputSize;
    if (bgr.empty() || S <= 0) return {};

    // Letterbox into the top-left corner of an S x S black square.
    const float scale = std::min(float(S) / bgr.cols, float(S) / bgr.rows);
    const int w = std::max(1, int(bgr.cols * scale)), h = std::max(1, int(bgr.rows * scale));
    cv::Mat resized;
    cv::resize(bgr, resized, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::Mat square(S, S, CV_8UC3, cv::Scalar::all(0));
    resized.copyTo(square(cv::Rect(0, 0, w, h)));
    cv::Mat floats;
    square.convertTo(floats, CV_32FC3, 1.0 / 128.0, -0.99609375);

    std::vector<float> input(size_t(3) * S * S);
    std::vector<cv::Mat> planes;
    for (int c = 0; c < 3; ++c) planes.emplace_back(S, S, CV_32F, input.data() + size_t(c) * S * S);
    cv::split(floats, planes);

    const std::vector<Ort::Value> out = detector.run(input, {1, 3, S, S});
    if (out.size() < 9)
        throw std::runtime_error("face detector gave " + std::to_string(out.size()) + " outputs, 9 expected");

    std::vector<FaceCandidate> found;
    const int strides[3] = {8, 16, 32};
    for (int k = 0; k < 3; ++k) {
        const int stride = strides[k], G = S / stride;
        const size_t anchors = size_t(G) * G * 2;
        if (tensorSize(out[k]) < anchors || tensorSize(out[k + 3]) < anchors * 4 ||
            tensorSize(out[k + 6]) < anchors * 10)
            throw std::runtime_error("face detector output for stride " + std::to_string(stride) + " is too small");
        const float* scores = out[k].GetTensorData<float>();
        const float* dist = out[k + 3].GetTensorData<float>();
        const float* kps = out[k + 6].GetTensorData<float>();
        for (int row = 0; row < G; ++row) {
            for (int col = 0; col < G; ++col) {
                const float cx = float(col * stride), cy = float(row * stride);
                for (int a = 0; a < 2; ++a) {
                    const size_t i = (size_t(row) * G + col) * 2 + a;
                    if (!(scores[i] >= threshold)) continue;
                    const float* d = dist + i * 4;
                    const float* o = kps + i * 10;
                    FaceCandidate c;
                    c[0] = (cx - d[0] * stride) / scale;
                    c[1] = (cy - d[1] * stride) / scale;
                    c[2] = (cx + d[2] * stride) / scale;
                    c[3] = (cy + d[3] * stride) / scale;
                    c[4] = scores[i];
                    for (int j = 0; j < 5; ++j) {
                        c[5 + 2 * j] = (cx + o[2 * j] * stride) / scale;
                        c[6 + 2 * j] = (cy + o[2 * j + 1] * stride) / scale;
                    }
                    found.push_back(c);
                }
            }
        }
    }

    std::stable_sort(found.begin(), found.end(),
                     [](const FaceCandidate& a, const FaceCandidate& b) { return a[4] > b[4]; });
    std::vector<FaceCandidate> kept;
    std::vector<bool> suppressed(found.size(), false);
    for (size_t i = 0; i < found.size(); ++i) {
        if (suppressed[i]) continue;
        kept.push_back(found[i]);
        for (size_t j = i + 1; j < found.size(); ++j)
            if (!suppressed[j] && boxIou(found[i], found[j]) > 0.4f) suppressed[j] = true;
    }
    return kept;
}

}  // namespace keepframe
