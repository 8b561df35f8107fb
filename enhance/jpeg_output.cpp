#include "jpeg_output.h"

#include "jpeg_encoder.h"
#include "paths.h"

#include <algorithm>

#include <opencv2/imgcodecs.hpp>

namespace keepframe {

bool applyDensityStamp(std::vector<uint8_t>& jpeg, int dpi) {
    const size_t n = jpeg.size();
    if (n < 20) return false;
    const size_t limit = std::min<size_t>(n - 14, 64);
    for (size_t i = 2; i < limit; ++i) {
        const bool jfif =
            jpeg[i] == 'J' && jpeg[i + 1] == 'F' && jpeg[i + 2] == 'I' && jpeg[i + 3] == 'F' && jpeg[i + 4] == 0;
        if (!jfif) continue;
        if (i + 11 >= n) return false;
        jpeg[i + 7] = 1;  // dots per inch
        jpeg[i + 8] = jpeg[i + 10] = uint8_t((dpi >> 8) & 0xFF);
        jpeg[i + 9] = jpeg[i + 11] = uint8_t(dpi & 0xFF);
        return true;
    }
    return false;
}

bool writeJpeg(const std::string& path, const cv::Mat& image, const JpegOptions& options) {
    std::vector<uint8_t> buffer;
    return encodeJpeg(image, options, buffer) && writeFileBytes(path, buffer);
}

bool writeJpegWithDensity(const std::string& path, const cv::Mat& image, int dpi) {
    std::vector<uint8_t> buffer;
    if (!encodeJpeg(image, rawPreviewJpegOptions(), buffer)) return false;
    applyDensityStamp(buffer, dpi);
    return writeFileBytes(path, buffer);
}

void restampDensity(const std::string& path, int dpi) {
    try {
        std::vector<uint8_t> bytes;
        if (!readFileBytes(path, bytes) || bytes.empty()) return;
        if (applyDensityStamp(bytes, dpi)) writeFileBytes(path, bytes);
    } catch (...) {
    }
}

}  // namespace keepframe
