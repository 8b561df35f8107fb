#include "paths.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

namespace keepframe {
namespace {

// A name beside the target that no other write of this or another process
// picks at the same time.
std::filesystem::path temporarySibling(const std::filesystem::path& target) {
    static std::atomic<uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%016llx%llx.tmp", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(counter.fetch_add(1)));
    std::filesystem::path name = std::filesystem::path(".") += target.filename();
    name += suffix;
    return target.parent_path() / name;
}

// About three seconds in all: long enough for a scanner to let go of a file,
// short enough not to hold a batch up when it does not.
constexpr std::chrono::milliseconds kReplaceWaits[] = {
    std::chrono::milliseconds(10),  std::chrono::milliseconds(20),  std::chrono::milliseconds(40),
    std::chrono::milliseconds(80),  std::chrono::milliseconds(160), std::chrono::milliseconds(320),
    std::chrono::milliseconds(640), std::chrono::milliseconds(1000), std::chrono::milliseconds(1000)};

}  // namespace

std::filesystem::path utf8ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

std::string relativeName(const std::filesystem::path& file, const std::filesystem::path& root) {
    const std::filesystem::path rel = file.lexically_relative(root);
    const bool outside = rel.empty() || *rel.begin() == "..";
    // The generic form has "/" for the platform's separators and nothing else.
    const std::u8string name = outside ? file.filename().generic_u8string() : rel.generic_u8string();
    return std::string(name.begin(), name.end());
}

bool nameStaysInside(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    const char first = name.front();
    const bool asciiLetter = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
    if (name.size() >= 2 && asciiLetter && name[1] == ':') return false;  // a drive
    int depth = 0;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find_first_of("/\\", start), name.size());
        const std::string_view part = name.substr(start, end - start);
        start = end + 1;
#ifdef _WIN32
        if (part.find(':') != std::string_view::npos) return false;  // a drive or an alternate data stream
#endif
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (--depth < 0) return false;
            continue;
        }
        ++depth;
    }
    return depth > 0;
}

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(utf8ToPath(path), ec);
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!isRegularFile(path)) return false;
    std::ifstream in(utf8ToPath(path), std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        bytes.clear();
        return false;
    }
    return true;
}

bool FileBuffer::read(const std::string& path) {
    size_ = 0;
    if (!isRegularFile(path)) return false;
    std::ifstream in(utf8ToPath(path), std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    if (size_t(size) > capacity_) {
        data_.reset();  // the old buffer goes before the larger one is taken
        data_.reset(new uint8_t[size_t(size)]);
        capacity_ = size_t(size);
    }
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(data_.get()), size)) return false;
    size_ = size_t(size);
    return true;
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    namespace fs = std::filesystem;
    const fs::path target = utf8ToPath(path);
    std::error_code ec;
    if (target.filename().empty() || fs::is_directory(target, ec)) return false;
    const fs::path temp = temporarySibling(target);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();  // flushes: a full disk shows up here at the latest
    if (out.fail()) {
        fs::remove(temp, ec);
        return false;
    }
    if (!replaceFile(pathToUtf8(temp), path, ec)) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

bool heldByAnotherProgram(const std::error_code& error) {
    if (error == std::errc::device_or_resource_busy) return true;
#ifdef _WIN32
    // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE
    if (error.category() == std::system_category()) {
        const int code = error.value();
        return code == 5 || code == 32 || code == 33 || code == 1224;
    }
#endif
    return false;
}

std::error_code retryWhileHeld(const std::function<std::error_code()>& attempt,
                               std::span<const std::chrono::milliseconds> waits) {
    std::error_code result = attempt();
    for (const std::chrono::milliseconds wait : waits) {
        if (!result || !heldByAnotherProgram(result)) break;
        std::this_thread::sleep_for(wait);
        result = attempt();
    }
    return result;
}

bool replaceFile(const std::string& from, const std::string& to, std::error_code& error) {
    const std::filesystem::path source = utf8ToPath(from), target = utf8ToPath(to);
    error = retryWhileHeld(
        [&] {
            std::error_code ec;
            std::filesystem::rename(source, target, ec);
            return ec;
        },
        kReplaceWaits);
    return !error;
}

}  // namespace keepframe
