#include "jpeg_output.h"

#include "jpeg_encoder.h"
#include "paths.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <opencv2/imgcodecs.hpp>

namespace keepframe {
namespace {

// A name beside the target that no other write uses: hidden, and ending in
// ".tmp" so that a scan never takes a leftover for a photograph.
std::filesystem::path temporarySibling(const std::filesystem::path& target) {
    static std::atomic<uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%016llx%llx.tmp", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(counter.fetch_add(1)));
    std::filesystem::path name = std::filesystem::path(".") += target.filename();
    name += suffix;
    return target.parent_path() / name;
}

}  // namespace

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

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    namespace fs = std::filesystem;
    const fs::path target = utf8ToPath(path);
    std::error_code ec;
    if (target.filename().empty() || fs::is_directory(target, ec)) return false;
    const fs::path temp = temporarySibling(target);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();  // flushes: a full disk shows up here at the latest
    if (out.fail()) {
        fs::remove(temp, ec);
        return false;
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

bool writeJpeg(const std::string& path, const cv::Mat& image, const JpegOptions& options) {
    std::vector<uint8_t> buffer;
    return encodeJpeg(image, options, buffer) && writeBytes(path, buffer);
}

bool writeJpegWithDensity(const std::string& path, const cv::Mat& image, int dpi) {
    std::vector<uint8_t> buffer;
    if (!encodeJpeg(image, rawPreviewJpegOptions(), buffer)) return false;
    applyDensityStamp(buffer, dpi);
    return writeBytes(path, buffer);
}

void restampDensity(const std::string& path, int dpi) {
    try {
        std::vector<uint8_t> bytes;
        if (!readFileBytes(path, bytes) || bytes.empty()) return;
        if (applyDensityStamp(bytes, dpi)) writeBytes(path, bytes);
    } catch (...) {
    }
}

}  // namespace keepframe
