// The engine's own EXIF reader: a bounded walk over a JPEG's first EXIF APP1
// segment (TIFF structure in either byte order), reading IFD0 and the EXIF
// sub-IFD. Every failure yields the defaults; it never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace keepframe {

struct ExifInfo {
    std::string captureTime;  // "YYYY:MM:DD HH:MM:SS[.sub]" or empty
    int32_t orientation = 1;  // 1 to 8
};

// Parses JPEG bytes held in memory. Non-JPEG data gives the defaults.
ExifInfo parseJpegExif(const uint8_t* data, size_t size);

// DateTimeOriginal (else DateTime), with "." + SubSecTimeOriginal when present.
// A date-time that is not known counts as absent.
std::string readCaptureTime(const std::string& path);

// Whether an EXIF date-time names a real moment: its date holds a digit other
// than 0. Cameras that do not know the time write blanks (keeping the colons)
// or zeros, which would sort before every dated frame.
bool isKnownCaptureTime(std::string_view time);
// Orientation of IFD0; anything outside 1 to 8 gives 1.
int32_t readOrientation(const std::string& path);

}  // namespace keepframe
