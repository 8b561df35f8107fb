#include "faces.h"

#include <algorithm>
#include <cmath>

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
    // The similarity transform (rotation, uniform scale, shift) that maps the
    // five landmarks onto the template with the least squared error, all five
    // counting. A consensus fit that drops landmarks beyond a few template
    // pixels picks different subsets for the same face a few pixels apart
    // (a smile moves the mouth corners that far), and the recogniser then sees
    // differently warped faces of one person.
    double px = 0, py = 0, qx = 0, qy = 0;
    for (int j = 0; j < 5; ++j) {
        px += lm[2 * j] / 5.0;
        py += lm[2 * j + 1] / 5.0;
        qx += kTemplate[j].x / 5.0;
        qy += kTemplate[j].y / 5.0;
    }
    double spread = 0, a = 0, b = 0;
    for (int j = 0; j < 5; ++j) {
        const double ux = lm[2 * j] - px, uy = lm[2 * j + 1] - py, vx = kTemplate[j].x - qx, vy = kTemplate[j].y - qy;
        spread += ux * ux + uy * uy;
        a += ux * vx + uy * vy;
        b += ux * vy - uy * vx;
    }
    if (!(spread > 0)) return {};
    a /= spread;
    b /= spread;
    const cv::Mat m = (cv::Mat_<double>(2, 3) << a, -b, qx - (a * px - b * py), b, a, qy - (b * px + a * py));
    const double s = std::hypot(a, b);
    if (!(s >= 0.1 && s <= 100.0)) return {};

    cv::Mat face;
    cv::warpAffine(bgr, face, m, cv::Size(112, 112), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return face;
}

}  // namespace keepframe
