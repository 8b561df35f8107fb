#include "measures.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {
namespace {

// The box clamped to the image, or an empty rectangle when 3 pixels or less
// remain in either direction.
cv::Rect measurableRegion(const cv::Mat& img, const Box& box) {
    const int x1 = std::max(0, box.x1), y1 = std::max(0, box.y1);
    const int x2 = std::min(box.x2, img.cols), y2 = std::min(box.y2, img.rows);
    if (x2 - x1 <= 3 || y2 - y1 <= 3) return {};
    return cv::Rect(x1, y1, x2 - x1, y2 - y1);
}

// The clamped window from x1..x2, y1..y2, or an empty one when it is too
// small to show an eye (9 pixels wide or less, 7 pixels tall or less).
cv::Rect usableEyeWindow(int x1, int y1, int x2, int y2, int width, int height) {
    x1 = std::max(0, x1);
    y1 = std::max(0, y1);
    x2 = std::min(x2, width);
    y2 = std::min(y2, height);
    if (x2 - x1 <= 9 || y2 - y1 <= 7) return {};
    return cv::Rect(x1, y1, x2 - x1, y2 - y1);
}

}  // namespace

double imageSharpness(const cv::Mat& grey) {
    // With kernel 1 the Laplacian of 8-bit pixels is an integer within
    // +-1020, so 16-bit output holds it exactly and the variance equals that
    // of a 64-bit float Laplacian, at a fraction of the memory traffic.
    // A region of a larger image is measured on its own pixels only, like
    // the gradient: the border is reflected inside the crop, never read from
    // around it.
    cv::Mat lap;
    cv::Laplacian(grey, lap, CV_16S, 1, 1, 0, cv::BORDER_DEFAULT | cv::BORDER_ISOLATED);
    cv::Scalar mean, stddev;
    cv::meanStdDev(lap, mean, stddev);
    return stddev[0] * stddev[0];
}

double imageExposure(const cv::Mat& grey) {
    const double m = cv::mean(grey)[0];
    return std::max(0.0, 1.0 - 2.0 * std::abs(m / 255.0 - 0.5));
}

double imageContrast(const cv::Mat& grey) {
    cv::Scalar mean, stddev;
    cv::meanStdDev(grey, mean, stddev);
    return stddev[0] / 128.0;
}

double laplacianVariance(const cv::Mat& grey, const Box& box) {
    const cv::Rect r = measurableRegion(grey, box);
    return r.empty() ? 0.0 : imageSharpness(grey(r));
}

double gradientMean(const cv::Mat& grey, const Box& box) {
    const cv::Rect r = measurableRegion(grey, box);
    if (r.empty()) return 0.0;
    cv::Mat crop, gx, gy, magnitude;
    grey(r).convertTo(crop, CV_64F);
    cv::Sobel(crop, gx, CV_64F, 1, 0, 3);
    cv::Sobel(crop, gy, CV_64F, 0, 1, 3);
    cv::magnitude(gx, gy, magnitude);
    return cv::mean(magnitude)[0];
}

cv::Rect eyeWindow(float lx, float ly, int width, int height) {
    const int x = int(lx), y = int(ly);
    return usableEyeWindow(x - 25, y - 17, x + 25, y + 17, width, height);
}

cv::Rect eyeStateWindow(float ex, float ey, float eyeDistance, int width, int height) {
    const double half = 0.35 * double(eyeDistance);
    if (!(half > 0.0) || !std::isfinite(ex) || !std::isfinite(ey) || !std::isfinite(half)) return {};
    const auto at = [](double v) { return int(std::clamp(std::lround(v), -(1L << 30), 1L << 30)); };
    return usableEyeWindow(at(ex - half), at(ey - half), at(ex + half), at(ey + half), width, height);
}

double eyeSharpness(const cv::Mat& grey, const float* landmarks) {
    double sum = 0.0;
    int used = 0;
    for (int e = 0; e < 2; ++e) {
        const cv::Rect w = eyeWindow(landmarks[2 * e], landmarks[2 * e + 1], grey.cols, grey.rows);
        if (w.empty()) continue;
        sum += laplacianVariance(grey, Box{w.x, w.y, w.x + w.width, w.y + w.height});
        ++used;
    }
    return used ? sum / used : 0.0;
}

bool looksHuman(const cv::Mat& bgrCrop, const SkinCheck& check) {
    if (!check.enabled || bgrCrop.empty()) return true;
    cv::Mat grey;
    cv::cvtColor(bgrCrop, grey, cv::COLOR_BGR2GRAY);
    if (cv::mean(grey)[0] < check.minBrightness) return false;
    cv::Mat ycrcb, skin;
    cv::cvtColor(bgrCrop, ycrcb, cv::COLOR_BGR2YCrCb);
    cv::inRange(ycrcb, cv::Scalar(0, 133, 77), cv::Scalar(255, 173, 127), skin);
    const double ratio = double(cv::countNonZero(skin)) / double(bgrCrop.total());
    return ratio >= check.minSkinRatio;
}

}  // namespace keepframe
