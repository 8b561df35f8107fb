// EXIF copy through Exiv2, kept apart so that only this file sees its headers.
#include "jpeg_output.h"

#include "exiv2_lock.h"
#include "paths.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

namespace keepframe {

void copyExifWithResolution(const std::string& sourcePath, const std::string& targetPath, int dpi) {
    try {
        auto exiv2 = lockExiv2();
        auto source = Exiv2::ImageFactory::open(sourcePath);
        source->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        exif["Exif.Image.XResolution"] = Exiv2::URational(dpi, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(dpi, 1);
        // The metadata is written into a copy in memory, which then replaces
        // the file through writeFileBytes: Exiv2 itself would truncate the file
        // before writing it back.
        std::vector<uint8_t> bytes;
        if (!readFileBytes(targetPath, bytes) || bytes.empty()) return;
        auto target = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
        target->readMetadata();
        target->setExifData(exif);
        target->writeMetadata();
        Exiv2::BasicIo& io = target->io();
        if (io.open() != 0) return;
        const Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        if (written.size_ <= 0) return;
        exiv2.unlock();
        writeFileBytes(targetPath, std::vector<uint8_t>(written.pData_, written.pData_ + written.size_));
    } catch (...) {
        // The JPEG already written stays as it is.
    }
}

}  // namespace keepframe
