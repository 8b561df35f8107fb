// A regular file's bytes mapped into memory and read from the disk only as
// far as they are touched: how the program hands a photograph to a library
// that reads a few blocks of it (Exiv2 reading the EXIF of a 60 MB RAW file)
// without reading all of it, and without handing over its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keepframe {

class MappedFile {
public:
    // Maps the file at the UTF-8 path; a missing, empty or unreadable file,
    // a folder or a pipe maps nothing.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool mapped() const { return data_ != nullptr; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace keepframe
