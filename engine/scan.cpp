#include "scan.h"

#include "paths.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
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

// Length of the well-formed UTF-8 character at `i`, or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate,
// anything above U+10FFFF, or a cut-off sequence).
size_t utf8CharLength(const std::string& text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return 0;
    if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return 0;
    return length;
}

bool isUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8CharLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Whether the name survives the trip to UTF-8 and back unchanged: names the
// platform hands over in another encoding could not be stored or found again.
bool roundTrips(const fs::path& file, const std::string& utf8) {
    try {
        return isUtf8(utf8) && utf8ToPath(utf8) == file;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

std::string printableName(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8CharLength(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(text[i])));
            out += hex;
            ++i;
        }
    }
    return out;
}

std::vector<InputFile> scanInputImages(const EngineConfig& config, std::vector<SkippedFile>* skipped) {
    const fs::path root = utf8ToPath(config.inputFolder);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        throw std::runtime_error(fs::exists(root, ec) ? "Input is not a folder: " + config.inputFolder
                                                      : "Input folder not found: " + config.inputFolder);
    }

    std::vector<InputFile> files;
    // Links to folders are never entered (the iterator does not follow them),
    // so the scan stays inside the input folder.
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) throw std::runtime_error("Cannot read input folder: " + config.inputFolder);
    for (; it != end; it.increment(ec)) {
        if (ec) {
            config.log.warning("  WARNING: scan of %s stopped early: %s\n", config.inputFolder.c_str(),
                               ec.message().c_str());
            break;
        }
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc)) continue;
        const fs::path& file = it->path();
        std::string rel;
        std::string full;
        bool converted = true;
        try {
            rel = relativeName(file, root);
            full = pathToUtf8(file);
        } catch (const std::exception&) {
            converted = false;  // a name the platform cannot express in UTF-8 at all
        }
        if (converted && !isImageExtension(fileExtension(rel.substr(rel.rfind('/') + 1)))) continue;
        if (!converted || !roundTrips(file, full)) {
            if (skipped) skipped->push_back({converted ? printableName(rel) : "(unreadable name)",
                                             "file name is not valid UTF-8"});
            continue;
        }
        // A name every later path is built from must stay inside the shoot
        // wherever the project is opened: "..\\x.jpg" is a plain name here
        // but climbs out of the folder on Windows.
        if (!nameStaysInside(rel)) {
            if (skipped) skipped->push_back({rel, "file name cannot be stored safely"});
            continue;
        }
        files.push_back({std::move(rel), std::move(full)});
    }
    std::sort(files.begin(), files.end(),
              [](const InputFile& a, const InputFile& b) { return a.relativeName < b.relativeName; });
    return files;
}

}  // namespace keepframe
