// Feeds arbitrary bytes to the EXIF walker; any crash or sanitizer report is a bug.
#include "exif.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const keepframe::ExifInfo info = keepframe::parseJpegExif(data, size);
    if (info.orientation < 1 || info.orientation > 8) __builtin_trap();
    return 0;
}
