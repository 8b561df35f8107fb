// A zip archive written as it goes, for the whole-gallery download: every
// entry stored (photographs do not shrink), its CRC-32 and sizes in a data
// descriptor after its bytes, so nothing is held back or read twice. Sizes
// and offsets past the classic format's 32-bit fields get zip64 records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keepframe::gallery {

uint32_t crc32Update(uint32_t crc, const void* data, size_t size);

class ZipStream {
public:
    // `out` takes each piece of the archive in order; false stops the archive.
    // `zip64From`: sizes and offsets from this value on are written as zip64
    // (tests lower it to reach those records with small files).
    explicit ZipStream(std::function<bool(const char*, size_t)> out, uint64_t zip64From = 0xFFFFFFFFull);

    // Starts an entry of exactly `size` bytes (a file's size, known before its
    // bytes), stamped with `modified` (seconds since 1970, UTC). The name is
    // made safe (no folders, no control characters) and unique in the archive.
    bool begin(const std::string& name, uint64_t size, int64_t modified);
    bool write(const char* data, size_t size);
    // Ends the entry; false when its bytes were not `size`.
    bool end();
    // The central directory and the end records.
    bool finish();

    // The name `name` gets in an archive that holds `taken` (all lower case).
    static std::string entryName(const std::string& name, std::vector<std::string>& taken);

private:
    struct Entry {
        std::string name;
        uint32_t crc = 0;
        uint64_t size = 0, offset = 0;
        uint16_t time = 0, date = 0;
        bool zip64 = false;
    };
    bool emit(const std::string& bytes);

    std::function<bool(const char*, size_t)> out_;
    uint64_t zip64From_;
    uint64_t written_ = 0, entryBytes_ = 0;
    std::vector<Entry> entries_;
    std::vector<std::string> taken_;
    bool open_ = false;
};

}  // namespace keepframe::gallery
