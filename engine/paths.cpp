#include "paths.h"

#include <fstream>

namespace keepframe {

std::filesystem::path utf8ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
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

}  // namespace keepframe
