#include "jpeg_output.h"

#include "jpeg_encoder.h"
#include "jpeg_segments.h"
#include "paths.h"

#include <algorithm>

#include <opencv2/imgcodecs.hpp>

namespace keepframe {

namespace {

// Writes `dpi` dots per inch into the JFIF segment whose identifier starts at `i`.
bool stampJfifAt(std::vector<uint8_t>& jpeg, size_t i, int dpi) {
    if (i + 11 >= jpeg.size()) return false;
    jpeg[i + 7] = 1;  // dots per inch
    jpeg[i + 8] = jpeg[i + 10] = uint8_t((dpi >> 8) & 0xFF);
    jpeg[i + 9] = jpeg[i + 11] = uint8_t(dpi & 0xFF);
    return true;
}

bool isJfifIdentifier(const std::vector<uint8_t>& jpeg, size_t i) {
    return i + 4 < jpeg.size() && jpeg[i] == 'J' && jpeg[i + 1] == 'F' && jpeg[i + 2] == 'I' && jpeg[i + 3] == 'F' &&
           jpeg[i + 4] == 0;
}

// Where the identifier of the buffer's JFIF segment starts, found by walking
// its header segments (a camera may put its EXIF first); 0 when there is none.
size_t jfifSegmentIdentifier(const std::vector<uint8_t>& jpeg) {
    size_t at = 0;
    walkJpegSegments(jpeg.data(), jpeg.size(), [&](uint8_t marker, size_t pos, size_t length) {
        if (marker != 0xE0 || length < 16 || pos + 2 + length > jpeg.size() || !isJfifIdentifier(jpeg, pos + 4))
            return false;
        at = pos + 4;
        return true;
    });
    return at;
}

}  // namespace

bool applyDensityStamp(std::vector<uint8_t>& jpeg, int dpi) {
    const size_t n = jpeg.size();
    if (n < 20) return false;
    const size_t limit = std::min<size_t>(n - 14, 64);
    for (size_t i = 2; i < limit; ++i)
        if (isJfifIdentifier(jpeg, i)) return stampJfifAt(jpeg, i, dpi);
    return false;
}

bool setJfifDensity(std::vector<uint8_t>& jpeg, int dpi) {
    if (applyDensityStamp(jpeg, dpi)) return true;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    // A JFIF segment further on is stamped where it is: a second one would be
    // read after the first and its density would win.
    if (const size_t at = jfifSegmentIdentifier(jpeg); at > 0) return stampJfifAt(jpeg, at, dpi);
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
