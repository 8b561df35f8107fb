#include "phash.h"

#include <bit>
#include <limits>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {

uint64_t computePhash(const cv::Mat& bgr) {
    if (bgr.empty()) return 0;
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    return computePhashFromGrey(grey);
}

uint64_t computePhashFromGrey(const cv::Mat& grey) {
    if (grey.empty()) return 0;
    cv::Mat small, floats, dct;
    cv::resize(grey, small, cv::Size(32, 32), 0, 0, cv::INTER_AREA);
    small.convertTo(floats, CV_32F, 1.0, 0.0);
    cv::dct(floats, dct, 0);

    double sum = 0.0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) sum += dct.at<float>(r, c);
    const float mean = (static_cast<float>(sum) - dct.at<float>(0, 0)) / 63.0f;

    uint64_t hash = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            if (dct.at<float>(r, c) > mean) hash |= uint64_t(1) << (8 * r + c);
    return hash;
}

int32_t phashDistance(uint64_t a, uint64_t b) { return std::popcount(a ^ b); }

int32_t dscFileNumber(const std::string& filename) {
    static const std::string kPrefix = "DSC_";
    for (size_t at = filename.find(kPrefix); at != std::string::npos; at = filename.find(kPrefix, at + 1)) {
        size_t i = at + kPrefix.size();
        if (i >= filename.size() || filename[i] < '0' || filename[i] > '9') continue;
        int64_t value = 0;
        for (; i < filename.size() && filename[i] >= '0' && filename[i] <= '9'; ++i) {
            value = value * 10 + (filename[i] - '0');
            if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
        }
        return static_cast<int32_t>(value);
    }
    return 0;
}

}  // namespace keepframe
