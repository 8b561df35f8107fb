#include "tiff_reading.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

namespace keepframe {
namespace {

// A TIFF held in memory, opened by libtiff without a copy: reads and seeks
// stay within the bytes, and the whole of them is mapped.
struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
};

MemoryFile& fileOf(thandle_t handle) { return *static_cast<MemoryFile*>(handle); }

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t count) {
    MemoryFile& file = fileOf(handle);
    const uint64_t size = file.bytes.size();
    if (count <= 0 || file.position >= size) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(count), size - file.position);
    std::memcpy(buffer, file.bytes.data() + file.position, size_t(n));
    file.position += n;
    return tmsize_t(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = fileOf(handle);
    // Unsigned arithmetic: a step back from SEEK_CUR or SEEK_END wraps round
    // to the place it names, as libtiff expects.
    if (whence == SEEK_SET) file.position = offset;
    else if (whence == SEEK_CUR) file.position += offset;
    else if (whence == SEEK_END) file.position = file.bytes.size() + offset;
    return file.position;
}

int closeNothing(thandle_t) { return 0; }

toff_t sizeOfMemory(thandle_t handle) { return fileOf(handle).bytes.size(); }

int mapMemory(thandle_t handle, void** base, toff_t* size) {
    MemoryFile& file = fileOf(handle);
    *base = const_cast<uint8_t*>(file.bytes.data());
    *size = file.bytes.size();
    return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// The capture of the innermost TiffErrorCapture alive on this thread.
thread_local TiffErrorCapture* currentCapture = nullptr;
TIFFErrorHandlerExt previousErrorHandler = nullptr;

// libtiff's process-wide error hook, which sees the errors of every reader,
// OpenCV's included; handlers installed before it still hear every error.
void onTiffError(thandle_t client, const char* module, const char* format, va_list args) {
    if (currentCapture != nullptr && currentCapture->firstError().empty()) {
        char text[512];
        va_list copy;
        va_copy(copy, args);
        std::vsnprintf(text, sizeof text, format, copy);
        va_end(copy);
        currentCapture->record(text);
    }
    if (previousErrorHandler != nullptr) previousErrorHandler(client, module, format, args);
}

void installErrorHook() {
    static const bool installed = [] {
        previousErrorHandler = TIFFSetErrorHandlerExt(onTiffError);
        return true;
    }();
    (void)installed;
}

}  // namespace

std::optional<TiffLayout> readTiffLayout(std::span<const uint8_t> bytes) {
    MemoryFile file{bytes};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return std::nullopt;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    const std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("", "r", &file, readMemory, writeNothing, seekMemory,
                                                                  closeNothing, sizeOfMemory, mapMemory,
                                                                  unmapNothing, options));
    TIFFOpenOptionsFree(options);
    if (!tif) return std::nullopt;

    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return std::nullopt;
    TiffLayout layout;
    layout.width = width;
    layout.height = height;
    if (TIFFIsTiled(tif.get())) {
        uint32_t tileWidth = 0, tileHeight = 0;
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &tileHeight);
        layout.tileWidth = tileWidth;
        layout.tileHeight = tileHeight;
    }
    char reason[1024] = "";
    layout.colourReadable = TIFFRGBAImageOK(tif.get(), reason) != 0;
    return layout;
}

TiffErrorCapture::TiffErrorCapture() : outer_(currentCapture) {
    installErrorHook();
    currentCapture = this;
}

TiffErrorCapture::~TiffErrorCapture() { currentCapture = outer_; }

void TiffErrorCapture::record(const char* message) { first_ = message; }

}  // namespace keepframe
