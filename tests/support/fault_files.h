// Small generated files of the kinds that broke culls and keepframe-enhance:
// truncated and corrupt files, headers declaring huge or degenerate sizes (or
// hiding them), CMYK JPEGs, and garbage. Each is made from a real encoded
// image, or written out field by field, and patched where needed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <jpeglib.h>
#include <zlib.h>

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

// The JPEG with one stray byte in front of its frame header: libjpeg passes
// over it (with a warning) and reads the frame header behind it.
inline std::vector<uint8_t> withStrayByteBeforeFrameHeader(std::vector<uint8_t> jpeg) {
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg.insert(jpeg.begin() + std::ptrdiff_t(i), uint8_t(0x00));
            break;
        }
    return jpeg;
}

// A JPEG of four components written by libjpeg: CMYK, or YCCK with `ycck`
// (both with Adobe's marker, as Photoshop writes them). C, M and Y come from
// the image's R, G and B; K varies across the frame.
inline std::vector<uint8_t> cmykJpeg(const cv::Mat& bgr, bool ycck = false, int quality = 90) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(bgr.cols);
    cinfo.image_height = JDIMENSION(bgr.rows);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(bgr.cols) * 4);
    for (int y = 0; y < bgr.rows; ++y) {
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b p = bgr.at<cv::Vec3b>(y, x);
            const uint8_t cmyk[4] = {p[2], p[1], p[0], uint8_t(160 + (x + y) % 96)};
            std::copy(cmyk, cmyk + 4, row.begin() + std::ptrdiff_t(4 * x));
        }
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&cinfo, &line, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

// TIFF tags and field types the files below use.
enum TiffTag : uint16_t {
    kTiffImageWidth = 256,
    kTiffImageLength = 257,
    kTiffBitsPerSample = 258,
    kTiffCompression = 259,
    kTiffPhotometric = 262,
    kTiffStripOffsets = 273,
    kTiffSamplesPerPixel = 277,
    kTiffRowsPerStrip = 278,
    kTiffStripByteCounts = 279,
    kTiffTileWidth = 322,
    kTiffTileLength = 323,
    kTiffTileOffsets = 324,
    kTiffTileByteCounts = 325,
};
constexpr uint16_t kTiffShort = 3, kTiffLong = 4;
constexpr uint64_t kTiffNoCompression = 1, kTiffPackBits = 32773, kTiffMinIsBlack = 1;

struct TiffEntry {
    uint16_t tag;
    uint16_t type;
    uint64_t value;  // one value, held in the entry itself
};

// A little-endian TIFF (a BigTIFF with `big`) of one directory holding the
// entries in the order given, repeats included, and `data` behind it, where
// StripOffsets and TileOffsets point.
inline std::vector<uint8_t> tiffFile(const std::vector<TiffEntry>& entries, const std::vector<uint8_t>& data,
                                     bool big = false) {
    std::vector<uint8_t> out;
    const auto put = [&](uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) out.push_back(uint8_t(v >> (8 * k)));
    };
    const int word = big ? 8 : 4;  // offsets, counts and values
    const uint64_t directory = big ? 16 : 8;
    const uint64_t dataAt = directory + (big ? 8 : 2) + entries.size() * (big ? 20 : 12) + uint64_t(word);
    out = {'I', 'I'};
    if (big) {
        put(43, 2);
        put(8, 2);
        put(0, 2);
    } else {
        put(42, 2);
    }
    put(directory, word);
    put(entries.size(), big ? 8 : 2);
    for (const TiffEntry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, word);
        put(e.tag == kTiffStripOffsets || e.tag == kTiffTileOffsets ? dataAt : e.value, word);
    }
    put(0, word);  // no further directory
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The entries of a grey frame of width x height in one strip of
// `stripBytes` bytes made with `compression`.
inline std::vector<TiffEntry> greyStripEntries(uint64_t width, uint64_t height, uint64_t compression,
                                               uint64_t stripBytes) {
    return {{kTiffImageWidth, kTiffLong, width},
            {kTiffImageLength, kTiffLong, height},
            {kTiffBitsPerSample, kTiffShort, 8},
            {kTiffCompression, kTiffShort, compression},
            {kTiffPhotometric, kTiffShort, kTiffMinIsBlack},
            {kTiffStripOffsets, kTiffLong, 0},
            {kTiffSamplesPerPixel, kTiffShort, 1},
            {kTiffRowsPerStrip, kTiffLong, height},
            {kTiffStripByteCounts, kTiffLong, stripBytes}};
}

// PackBits data of `bytes` bytes all of `value`: runs of 128.
inline std::vector<uint8_t> packBitsRun(size_t bytes, uint8_t value) {
    std::vector<uint8_t> out;
    for (size_t left = bytes; left > 0;) {
        const size_t n = std::min<size_t>(left, 128);
        out.push_back(uint8_t(257 - n));  // -(n - 1): repeat the next byte n times
        out.push_back(value);
        left -= n;
    }
    return out;
}

// An uncompressed grey TIFF of one strip, its directory in front of the
// pixel data (so that a cut leaves the directory whole).
inline std::vector<uint8_t> greyTiff(const cv::Mat& grey) {
    const std::vector<uint8_t> pixels(grey.datastart, grey.dataend);
    return tiffFile(greyStripEntries(uint64_t(grey.cols), uint64_t(grey.rows), kTiffNoCompression, pixels.size()),
                    pixels);
}

// The PNG with a chunk of `type` and `payload` (its checksum computed) put
// right behind IHDR.
inline std::vector<uint8_t> withPngChunk(std::vector<uint8_t> png, const char* type,
                                         const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> chunk;
    const auto put32 = [&](uint32_t v) {
        for (int k = 3; k >= 0; --k) chunk.push_back(uint8_t(v >> (8 * k)));
    };
    put32(uint32_t(payload.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), payload.begin(), payload.end());
    put32(uint32_t(crc32(0, chunk.data() + 4, uInt(4 + payload.size()))));
    constexpr size_t kBehindHeader = 8 + 12 + 13;  // signature, then IHDR's frame and 13 bytes of data
    png.insert(png.begin() + std::ptrdiff_t(kBehindHeader), chunk.begin(), chunk.end());
    return png;
}

// Files cut short in every format the scan takes, made from `sharp`: each
// name ("cmyk.jpg", "cut.png", "cut.tif", "cut.bmp") with its bytes.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> cutFilesOfEveryFormat(const cv::Mat& sharp) {
    cv::Mat grey;
    cv::extractChannel(sharp, grey, 0);
    return {{"cmyk.jpg", truncated(cmykJpeg(sharp), 0.6)},
            {"cut.png", truncated(encoded(sharp, ".png"), 0.6)},
            {"cut.tif", truncated(greyTiff(grey), 0.6)},
            {"cut.bmp", truncated(encoded(sharp, ".bmp"), 0.6)}};
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
