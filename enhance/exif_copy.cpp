// EXIF copy through Exiv2, kept apart so that only this file sees its headers.
#include "jpeg_output.h"

#include "exiv2_compat.h"
#include "exiv2_lock.h"
#include "mapped_file.h"
#include "paths.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

namespace keepframe {

bool insertExifWithResolution(const std::string& sourcePath, std::vector<uint8_t>& jpeg, int dpi) {
    if (jpeg.empty()) return false;
    try {
        // Only the blocks that hold the metadata are read from the disk.
        const MappedFile mapped(sourcePath);
        if (!mapped.mapped()) return false;
        // The source's own XMP is read too; whatever it declares ends with the scope.
        const Exiv2FileScope exiv2;
        auto source = openExiv2Image(mapped.data(), mapped.size());
        source->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.XResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(dpi, 1);
        // Exiv2 writes into its own copy of the bytes, which replaces the
        // buffer only once it is complete.
        auto target = openExiv2Image(jpeg.data(), jpeg.size());
        target->readMetadata();
        target->setExifData(exif);
        target->writeMetadata();
        std::vector<uint8_t> written = exiv2Contents(*target);
        if (written.empty()) return false;
        jpeg = std::move(written);
        return true;
    } catch (...) {
        return false;
    }
}

void copyExifWithResolution(const std::string& sourcePath, const std::string& targetPath, int dpi) {
    try {
        // Written through writeFileBytes: Exiv2 itself would truncate the file
        // before writing it back.
        std::vector<uint8_t> bytes;
        if (!readFileBytes(targetPath, bytes) || bytes.empty()) return;
        if (insertExifWithResolution(sourcePath, bytes, dpi)) writeFileBytes(targetPath, bytes);
    } catch (...) {
        // The JPEG already written stays as it is.
    }
}

}  // namespace keepframe
