// How the program writes the JPEG files a photographer keeps: enhanced
// images, and RAW previews stamped with a print resolution in both the JFIF
// header and the EXIF block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "jpeg_encoder.h"

namespace keepframe {

// Sets the JFIF density of a JPEG buffer to `dpi` dots per inch when its JFIF
// identifier lies within the first 64 bytes; returns whether it did.
bool applyDensityStamp(std::vector<uint8_t>& jpeg, int dpi);

// Sets the JFIF density of a JPEG buffer to `dpi` dots per inch: stamps its
// JFIF segment (within the first 64 bytes as applyDensityStamp, or further on
// behind other segments) or, when it has none, inserts one right after the
// start-of-image marker. False, with the buffer unchanged, when the
// buffer does not begin with that marker.
bool setJfifDensity(std::vector<uint8_t>& jpeg, int dpi);

// Replaces the EXIF block of a JPEG buffer by the source file's EXIF with the
// resolution set to dpi/1 inches. Returns whether it did; on any error the
// buffer stays as it was.
bool insertExifWithResolution(const std::string& sourcePath, std::vector<uint8_t>& jpeg, int dpi);

// The metadata of a JPEG made from a RAW file, added in memory: the JFIF
// density, the RAW's EXIF with the resolution, then the density stamp again
// (writing the EXIF may rewrite the JFIF segment). A RAW whose EXIF cannot be
// read leaves the JPEG without EXIF.
void addRawPreviewMetadata(const std::string& rawPath, std::vector<uint8_t>& jpeg, int dpi);

// Every file written here replaces its target through writeFileBytes (paths.h):
// only after a complete, checked write, so a full disk or a failed write
// leaves the target as it was, even when it is the source being replaced.

// Encodes the image with the given settings and writes it.
bool writeJpeg(const std::string& path, const cv::Mat& image, const JpegOptions& options);
// Encodes with the RAW-preview settings, stamps the density and writes the file.
bool writeJpegWithDensity(const std::string& path, const cv::Mat& image, int dpi);
// Copies the source's EXIF block into the target JPEG file with the resolution
// set to dpi/1 inches (insertExifWithResolution). Errors are swallowed: the
// target then stays as it was.
void copyExifWithResolution(const std::string& sourcePath, const std::string& targetPath, int dpi);
// Re-applies the density stamp to a JPEG on disk. Errors are swallowed.
void restampDensity(const std::string& path, int dpi);

}  // namespace keepframe
