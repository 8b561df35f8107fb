// How camera RAW files are recognised and where their JPEG previews go: the
// rules shared by the RAW conversion and by everything that has to find the
// RAW original behind a preview.
#pragma once

#include <string>

namespace keepframe {

bool isRawExtension(const std::string& extension);  // lower-case, with the "."

// The input folder's own name + "_JPG" ("Keepframe_JPG" when it has none).
std::string conversionFolderName(const std::string& inputFolder);

}  // namespace keepframe
