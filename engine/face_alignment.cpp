#include "faces.h"

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {

cv::Mat alignFace(const cv::Mat& bgr, const Landmarks& lm) {
    if (bgr.empty()) return {};
    const float W = float(bgr.cols), H = float(bgr.rows);
    for (int j = 0; j < 5; ++j) {
        const float x = lm[2 * j], y = lm[2 * j + 1];
        if (!(x >= -W && x <= 2 * W && y >= -H && y <= 2 * H)) return {};
    }
    const float eyeDistance = std::hypot(lm[2] - lm[0], lm[3] - lm[1]);
    if (!(eyeDistance >= 5.0f && eyeDistance <= 0.8f * std::min(W, H))) return {};

    static const cv::Point2f kTemplate[5] = {{38.2946f, 51.6963f}, {73.5318f, 51.5014f}, {56.0252f, 71.7366f},
                                             {41.5493f, 92.3655f}, {70.7299f, 92.2041f}};
    std::vector<cv::Point2f> from, to(kTemplate, kTemplate + 5);
    for (int j = 0; j < 5; ++j) from.emplace_back(lm[2 * j], lm[2 * j + 1]);
    cv::Mat inliers;
    const cv::Mat m = cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, 3.0, 2000, 0.99, 10);
    if (m.empty() || m.rows != 2 || m.cols != 3) return {};
    const double s = std::hypot(m.at<double>(0, 0), m.at<double>(0, 1));
    if (!(s >= 0.1 && s <= 100.0)) return {};

    cv::Mat face;
    cv::warpAffine(bgr, face, m, cv::Size(112, 112), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return face;
}

}  // namespace keepframe
