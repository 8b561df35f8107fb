// Makes a folder of camera-like JPEG frames: bursts of three to five frames of
// one scene with small shifts, "DSC_nnnn.jpg" names and EXIF capture times.
#pragma once

#include <string>

#include "jpeg_encoder.h"

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

// A shoot as a camera writes it: 24 MP frames with sensor noise, 4:2:2
// chroma at quality 92 (about 8 MB a file), bursts of near-duplicates,
// portrait-held frames stored sideways with their EXIF orientation, and real
// faces: portraits and couples pasted from the labelled photographs of
// `photoFolder` (eyes/labels.tsv), groups from its group photographs. Scenes
// without faces are painted. Frames are named "DSC_nnnn.jpg".
struct CameraShootOptions {
    int count = 60;
    int width = 6000;  // the long side
    int height = 4000;
    std::string photoFolder;
    double noise = 7.0;  // standard deviation of the grain, in 8-bit steps
    unsigned seed = 11;
    JpegOptions encoding{92, false, false, false, true};  // quality 92, 4:2:2
};

// Writes the frames into `folder` (created when missing); returns how many.
// Throws std::runtime_error when a file cannot be written.
int generateCameraShoot(const std::string& folder, const CameraShootOptions& options);

}  // namespace keepframe::shootgen
