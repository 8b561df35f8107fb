// Turns one image file into one ImageRecord: quarter-size decode, perceptual
// hash, sharpness, exposure, contrast, EXIF, category and thumbnail.
#pragma once

#include <string>

#include "records.h"

namespace keepframe {

struct ModelSet;

// `models` is the calling thread's own model set; without one the face steps
// are skipped and every frame is "venue". `valid` is false, with the reason
// in `problem`, when the file cannot be read or decoded or its size is refused
// (image_decode.h); a frame the decoder reports damaged is analysed and
// marked `damaged`.
ImageRecord analyzeImage(const std::string& relativeName, const std::string& fullPath, ModelSet* models,
                         const EngineConfig& config);

}  // namespace keepframe
