// Writes JPEG files with a small EXIF block (capture time, sub-seconds,
// orientation) in either byte order. Used to make demo shoots, benchmark
// folders and test files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace keepframe::shootgen {

struct ExifFields {
    std::string dateTime;            // IFD0 DateTime
    std::string dateTimeOriginal;    // EXIF DateTimeOriginal
    std::string subSecTimeOriginal;  // EXIF SubSecTimeOriginal
    int orientation = 0;             // 0: no Orientation tag
};

// The complete APP1 segment (FF E1, length, "Exif\0\0", TIFF structure).
std::vector<uint8_t> makeExifApp1(const ExifFields& fields, bool bigEndian);

// Puts an APP1 segment right after the start-of-image marker.
std::vector<uint8_t> insertSegment(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& segment);

// Encodes `image` as JPEG, adds the EXIF block unless `fields` is empty, and
// writes the file. False when encoding or writing fails.
bool writeJpeg(const std::string& path, const cv::Mat& image, const ExifFields& fields, int quality = 92,
               bool bigEndian = false);

// `jpeg` with the EXIF block of `fields` (none when they are empty), written to `path`.
bool writeJpegBytes(const std::string& path, std::vector<uint8_t> jpeg, const ExifFields& fields,
                    bool bigEndian = false);

}  // namespace keepframe::shootgen
