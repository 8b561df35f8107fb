#include "scan.h"

#include "paths.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace keepframe {

std::string fileExtension(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = fileName.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool isImageExtension(const std::string& extension) {
    static const char* const kExtensions[] = {".jpg", ".jpeg", ".png", ".tif", ".tiff", ".bmp"};
    return std::any_of(std::begin(kExtensions), std::end(kExtensions),
                       [&](const char* e) { return extension == e; });
}

namespace {

std::string relativeName(const fs::path& file, const fs::path& canonicalRoot, bool rootOk) {
    std::error_code ec;
    if (rootOk) {
        const fs::path canonicalFile = fs::canonical(file, ec);
        if (!ec) {
            const fs::path rel = canonicalFile.lexically_relative(canonicalRoot);
            if (!rel.empty()) return pathToUtf8(rel.generic_u8string());
        }
    }
    std::string name = pathToUtf8(file.filename());
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace

std::vector<InputFile> scanInputImages(const EngineConfig& config) {
    const fs::path root = utf8ToPath(config.inputFolder);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        throw std::runtime_error(fs::exists(root, ec) ? "Input is not a folder: " + config.inputFolder
                                                      : "Input folder not found: " + config.inputFolder);
    }
    const fs::path canonicalRoot = fs::canonical(root, ec);
    const bool rootOk = !ec;

    std::vector<InputFile> files;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) throw std::runtime_error("Cannot read input folder: " + config.inputFolder);
    for (; it != end; it.increment(ec)) {
        if (ec) {
            std::fprintf(stderr, "  WARNING: scan of %s stopped early: %s\n", config.inputFolder.c_str(),
                         ec.message().c_str());
            break;
        }
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc)) continue;
        const fs::path& file = it->path();
        if (!isImageExtension(fileExtension(pathToUtf8(file.filename())))) continue;
        std::string rel = relativeName(file, canonicalRoot, rootOk);
        std::replace(rel.begin(), rel.end(), '\\', '/');
        files.push_back({std::move(rel), pathToUtf8(file)});
    }
    std::sort(files.begin(), files.end(),
              [](const InputFile& a, const InputFile& b) { return a.relativeName < b.relativeName; });
    return files;
}

}  // namespace keepframe
