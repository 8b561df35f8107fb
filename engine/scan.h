// Finding the frames of a shoot: every JPEG, PNG, TIFF and BMP file below the
// input folder, named relative to it and sorted byte-wise.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "records.h"

namespace keepframe {

struct InputFile {
    std::string relativeName;  // "/" for the platform's separators
    std::string fullPath;
};

// Lower-cased text from the file name's last "." to its end; empty without ".".
std::string fileExtension(const std::string& fileName);
bool isImageExtension(const std::string& extension);

// The name as it can be shown and stored: bytes that are not UTF-8 become "\xNN".
std::string printableName(const std::string& text);

// Every image file below the input folder, sorted by relative name. A file
// reached through a link is named by the link's own place in the shoot; links
// to folders are not entered. Files whose names cannot be held as UTF-8, or
// would not stay inside the shoot on every platform (nameStaysInside), are
// left out and, when `skipped` is given, added to it with their reason.
// Throws std::runtime_error when the input folder is missing or not a folder.
// Sub-folders that cannot be read are passed over.
std::vector<InputFile> scanInputImages(const EngineConfig& config, std::vector<SkippedFile>* skipped = nullptr);

}  // namespace keepframe
