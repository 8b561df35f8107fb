#include "raw_names.h"

#include "paths.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

namespace fs = std::filesystem;

namespace keepframe {

bool isRawExtension(const std::string& extension) {
    static const char* const kRaw[] = {".arw", ".cr2", ".cr3", ".nef", ".dng", ".raf", ".rw2", ".orf", ".pef"};
    return std::any_of(std::begin(kRaw), std::end(kRaw), [&](const char* e) { return extension == e; });
}

std::string conversionFolderName(const std::string& inputFolder) {
    fs::path p = utf8ToPath(inputFolder);
    std::string name = pathToUtf8(p.filename());
    if (name.empty()) name = pathToUtf8(p.parent_path().filename());
    if (name.empty()) name = "Keepframe";
    return name + "_JPG";
}

}  // namespace keepframe
