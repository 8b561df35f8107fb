// Makes a folder of camera-like JPEG frames: bursts of three to five frames of
// one scene with small shifts, "DSC_nnnn.jpg" names and EXIF capture times.
#pragma once

#include <string>

namespace keepframe::shootgen {

struct ShootOptions {
    int count = 24;
    int width = 3000;
    int height = 2000;
    // Folder of photographs to build the scenes from; empty or missing: the
    // scenes are painted.
    std::string sourceFolder;
    unsigned seed = 7;
};

// Writes the frames into `folder` (created when missing). Returns the number
// of frames written; throws std::runtime_error when a file cannot be written.
int generateShoot(const std::string& folder, const ShootOptions& options);

}  // namespace keepframe::shootgen
