// What libtiff, the library OpenCV reads TIFF files with, makes of a TIFF held
// in memory, and the errors it reports while OpenCV decodes one. Kept apart
// from OpenCV: libtiff's headers mark integer type names that OpenCV's use as
// deprecated.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace keepframe {

// The first image of a TIFF, as libtiff reads it for the decoder: where a tag
// appears twice, the first one counts.
struct TiffLayout {
    int64_t width = 0;
    int64_t height = 0;
    int64_t tileWidth = 0;  // 0 and 0 for an image stored in strips
    int64_t tileHeight = 0;
    // libtiff's colour reader, the one OpenCV decodes 8-bit colour pixels
    // with, takes this image (not, for instance, floating-point samples).
    bool colourReadable = false;
};

// Nothing when libtiff cannot read the first image directory. Reads only the
// header and the directory; every message libtiff has is kept quiet.
std::optional<TiffLayout> readTiffLayout(std::span<const uint8_t> bytes);

// While one lives, the first error libtiff reports on this thread is kept:
// a strip cut short or corrupt compressed data, which OpenCV's TIFF reader
// only logs. Captures nest; the innermost one hears the errors.
class TiffErrorCapture {
public:
    TiffErrorCapture();
    ~TiffErrorCapture();
    TiffErrorCapture(const TiffErrorCapture&) = delete;
    TiffErrorCapture& operator=(const TiffErrorCapture&) = delete;

    // Empty when libtiff reported no error.
    const std::string& firstError() const { return first_; }
    void record(const char* message);

private:
    TiffErrorCapture* outer_;
    std::string first_;
};

}  // namespace keepframe
