// The engine's own EXIF reader: a bounded walk over a JPEG's first EXIF APP1
// segment (TIFF structure in either byte order), reading IFD0 and the EXIF
// sub-IFD. Every failure yields the defaults; it never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keepframe {

struct ExifInfo {
    std::string captureTime;  // "YYYY:MM:DD HH:MM:SS[.sub]" or empty
    int32_t orientation = 1;  // 1 to 8
};

// Parses JPEG bytes held in memory. Non-JPEG data gives the defaults.
ExifInfo parseJpegExif(const uint8_t* data, size_t size);

// DateTimeOriginal (else DateTime), with "." + SubSecTimeOriginal when present.
std::string readCaptureTime(const std::string& path);
// Orientation of IFD0; anything outside 1 to 8 gives 1.
int32_t readOrientation(const std::string& path);

}  // namespace keepframe
