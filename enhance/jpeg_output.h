// How the program writes the JPEG files a photographer keeps: enhanced
// images, and RAW previews stamped with a print resolution in both the JFIF
// header and the EXIF block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace keepframe {

// Sets the JFIF density of a JPEG buffer to `dpi` dots per inch when its JFIF
// identifier lies within the first 64 bytes; returns whether it did.
bool applyDensityStamp(std::vector<uint8_t>& jpeg, int dpi);

// Encodes with the RAW-preview settings, stamps the density and writes the file.
bool writeJpegWithDensity(const std::string& path, const cv::Mat& image, int dpi);
// Writes the bytes unchanged (created or truncated); true when all were written.
bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Copies the source's EXIF block into the target JPEG with the resolution set
// to dpi/1 inches. Errors are swallowed: the target then stays as it was.
void copyExifWithResolution(const std::string& sourcePath, const std::string& targetPath, int dpi);
// Re-applies the density stamp to a JPEG on disk. Errors are swallowed.
void restampDensity(const std::string& path, int dpi);

}  // namespace keepframe
