// EXIF copy through Exiv2, kept apart so that only this file sees its headers.
#include "jpeg_output.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

namespace keepframe {

void copyExifWithResolution(const std::string& sourcePath, const std::string& targetPath, int dpi) {
    try {
        auto source = Exiv2::ImageFactory::open(sourcePath);
        source->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.XResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(dpi, 1);
        auto target = Exiv2::ImageFactory::open(targetPath);
        target->readMetadata();
        target->setExifData(exif);
        target->writeMetadata();
    } catch (...) {
        // The JPEG already written stays as it is.
    }
}

}  // namespace keepframe
