// Finding the frames of a shoot: every JPEG, PNG, TIFF and BMP file below the
// input folder, named relative to it and sorted byte-wise.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "records.h"

namespace keepframe {

struct InputFile {
    std::string relativeName;  // "/" separators
    std::string fullPath;
};

// Lower-cased text from the file name's last "." to its end; empty without ".".
std::string fileExtension(const std::string& fileName);
bool isImageExtension(const std::string& extension);

// Throws std::runtime_error when the input folder is missing or not a folder.
// Sub-folders that cannot be read are passed over.
std::vector<InputFile> scanInputImages(const EngineConfig& config);

}  // namespace keepframe
