// The few things Exiv2 0.27 and 0.28 name differently, in one place, and the
// one way the program hands Exiv2 a file: as bytes in memory, never as a
// name (Exiv2 takes a name in the ANSI code page on Windows, where a folder
// named with other letters would not open).
#pragma once

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/basicio.hpp>
#include <exiv2/error.hpp>
#include <exiv2/image.hpp>
#include <exiv2/version.hpp>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keepframe {

#if EXIV2_TEST_VERSION(0, 28, 0)
using Exiv2Error = Exiv2::Error;
using Exiv2Image = Exiv2::Image::UniquePtr;
#else
using Exiv2Error = Exiv2::AnyError;
using Exiv2Image = Exiv2::Image::AutoPtr;
#endif

// The image in `size` bytes at `data`, which the caller keeps until the image
// is gone: Exiv2 reads them where they are and copies them only to write.
// Throws Exiv2's error when the bytes are no image it knows.
inline Exiv2Image openExiv2Image(const uint8_t* data, size_t size) {
#if EXIV2_TEST_VERSION(0, 28, 0)
    return Exiv2::ImageFactory::open(data, size);
#else
    return Exiv2::ImageFactory::open(data, long(size));
#endif
}

// The bytes a buffer holds.
inline std::vector<uint8_t> exiv2Bytes(const Exiv2::DataBuf& buffer) {
#if EXIV2_TEST_VERSION(0, 28, 0)
    return {buffer.c_data(), buffer.c_data() + buffer.size()};
#else
    if (buffer.size_ <= 0) return {};
    return {buffer.pData_, buffer.pData_ + buffer.size_};
#endif
}

// Everything the image's data holds now (after writeMetadata: the file with
// its new metadata); empty when it cannot be read.
inline std::vector<uint8_t> exiv2Contents(Exiv2::Image& image) {
    Exiv2::BasicIo& io = image.io();
    if (io.open() != 0) return {};
    io.seek(0, Exiv2::BasicIo::beg);
    std::vector<uint8_t> bytes = exiv2Bytes(io.read(io.size()));
    io.close();
    return bytes;
}

}  // namespace keepframe
