// The platform's own calls for mapping a file: the only place the engine
// makes them.
#include "mapped_file.h"

#include "paths.h"

#include "windows_api.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace keepframe {

#ifdef _WIN32

MappedFile::MappedFile(const std::string& path) {
    if (!isRegularFile(path)) return;
    // Other programs may go on reading, writing or renaming the file meanwhile.
    const HANDLE file = CreateFileW(utf8ToPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    const bool sized = GetFileSizeEx(file, &size) && size.QuadPart > 0;
    const HANDLE mapping = sized ? CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr;
    CloseHandle(file);
    if (!mapping) return;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);  // the view keeps the mapping
    if (!view) return;
    data_ = static_cast<const uint8_t*>(view);
    size_ = size_t(size.QuadPart);
}

MappedFile::~MappedFile() {
    if (data_) UnmapViewOfFile(data_);
}

#else

MappedFile::MappedFile(const std::string& path) {
    if (!isRegularFile(path)) return;
    const int fd = ::open(utf8ToPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    const bool sized = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    void* view = sized ? ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    ::close(fd);  // the mapping keeps the file
    if (view == MAP_FAILED) return;
    data_ = static_cast<const uint8_t*>(view);
    size_ = size_t(info.st_size);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

#endif

}  // namespace keepframe
