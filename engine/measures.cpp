#include "measures.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {

double imageSharpness(const cv::Mat& grey) {
    cv::Mat lap;
    cv::Laplacian(grey, lap, CV_64F, 1, 1, 0);
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
    const int x1 = std::max(0, box.x1), y1 = std::max(0, box.y1);
    const int x2 = std::min(box.x2, grey.cols), y2 = std::min(box.y2, grey.rows);
    if (x2 - x1 <= 3 || y2 - y1 <= 3) return 0.0;
    return imageSharpness(grey(cv::Rect(x1, y1, x2 - x1, y2 - y1)));
}

}  // namespace keepframe
