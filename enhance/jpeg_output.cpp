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

bool setJfifDensity(std::vector<uint8_t>& jpeg, int dpi) {
    if (applyDensityStamp(jpeg, dpi)) return true;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    // An APP0 segment of 16 bytes: identifier, version 1.1, dots per inch,
    // both densities, no thumbnail.
    const uint8_t high = uint8_t((dpi >> 8) & 0xFF), low = uint8_t(dpi & 0xFF);
    const uint8_t app0[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 1, high, low, high, low, 0, 0};
    jpeg.insert(jpeg.begin() + 2, std::begin(app0), std::end(app0));
    return true;
}

void addRawPreviewMetadata(const std::string& rawPath, std::vector<uint8_t>& jpeg, int dpi) {
    setJfifDensity(jpeg, dpi);
    insertExifWithResolution(rawPath, jpeg, dpi);
    applyDensityStamp(jpeg, dpi);
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
