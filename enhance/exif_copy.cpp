// EXIF copy through Exiv2, kept apart so that only this file sees its headers.
#include "jpeg_output.h"

#include "exiv2_lock.h"
#include "paths.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

namespace keepframe {

bool insertExifWithResolution(const std::string& sourcePath, std::vector<uint8_t>& jpeg, int dpi) {
    if (jpeg.empty()) return false;
    try {
        // The source's own XMP is read too; whatever it declares ends with the scope.
        const Exiv2FileScope exiv2;
        auto source = Exiv2::ImageFactory::open(sourcePath);
        source->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.XResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(dpi, 1);
        // Exiv2 writes into its own copy of the bytes, which replaces the
        // buffer only once it is complete.
        auto target = Exiv2::ImageFactory::open(jpeg.data(), long(jpeg.size()));
        target->readMetadata();
        target->setExifData(exif);
        target->writeMetadata();
        Exiv2::BasicIo& io = target->io();
        if (io.open() != 0) return false;
        const Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        if (written.size_ <= 0) return false;
        jpeg.assign(written.pData_, written.pData_ + written.size_);
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
