// Small generated files of the kinds that broke culls and keepframe-enhance:
// truncated and corrupt JPEGs, headers declaring huge or degenerate sizes, and
// garbage. Each is made from a real encoded image and patched where needed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace keepframe::testing {

// A noisy (hard to compress, sharp) colour image.
inline cv::Mat noise(int width, int height, uint64_t seed = 1) {
    cv::Mat img(height, width, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(img, cv::RNG::UNIFORM, cv::Scalar::all(0), cv::Scalar::all(256));
    return img;
}

inline std::vector<uint8_t> encoded(const cv::Mat& image, const std::string& extension,
                                    const std::vector<int>& params = {}) {
    std::vector<uint8_t> bytes;
    cv::imencode(extension, image, bytes, params);
    return bytes;
}

// The first `keep` share of the bytes.
inline std::vector<uint8_t> truncated(std::vector<uint8_t> bytes, double keep) {
    bytes.resize(size_t(double(bytes.size()) * keep));
    return bytes;
}

// The JPEG with the width and height of its frame header replaced.
inline std::vector<uint8_t> withJpegSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            break;
        }
    return jpeg;
}

// A small PNG whose header declares another size (its checksum no longer fits).
inline std::vector<uint8_t> pngDeclaring(uint32_t width, uint32_t height) {
    std::vector<uint8_t> png = encoded(noise(8, 8), ".png");
    for (int k = 0; k < 4; ++k) {
        png[16 + size_t(k)] = uint8_t(width >> (24 - 8 * k));
        png[20 + size_t(k)] = uint8_t(height >> (24 - 8 * k));
    }
    return png;
}

// A small BMP whose header declares another size.
inline std::vector<uint8_t> bmpDeclaring(int32_t width, int32_t height) {
    std::vector<uint8_t> bmp = encoded(noise(8, 8), ".bmp");
    for (int k = 0; k < 4; ++k) {
        bmp[18 + size_t(k)] = uint8_t(uint32_t(width) >> (8 * k));
        bmp[22 + size_t(k)] = uint8_t(uint32_t(height) >> (8 * k));
    }
    return bmp;
}

// A small TIFF whose first directory declares another size.
inline std::vector<uint8_t> tiffDeclaring(uint32_t width, uint32_t height) {
    std::vector<uint8_t> tiff = encoded(noise(8, 8), ".tiff");
    const bool little = tiff[0] == 'I';
    auto get = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v |= uint32_t(tiff[at + size_t(k)]) << (little ? 8 * k : 8 * (n - 1 - k));
        return v;
    };
    auto put = [&](size_t at, int n, uint32_t v) {
        for (int k = 0; k < n; ++k) tiff[at + size_t(k)] = uint8_t(v >> (little ? 8 * k : 8 * (n - 1 - k)));
    };
    const size_t ifd = get(4, 4);
    for (size_t i = 0; i < get(ifd, 2); ++i) {
        const size_t at = ifd + 2 + 12 * i;
        const uint32_t tag = get(at, 2);
        if (tag != 256 && tag != 257) continue;
        put(at + 2, 2, 4);  // LONG
        put(at + 8, 4, tag == 256 ? width : height);
    }
    return tiff;
}

inline std::vector<uint8_t> garbage(size_t size, uint64_t seed = 7) {
    std::vector<uint8_t> bytes(size);
    cv::RNG rng(seed);
    for (auto& b : bytes) b = uint8_t(rng.uniform(0, 256));
    return bytes;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace keepframe::testing
