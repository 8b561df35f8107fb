// The scores frames are ranked by.
#pragma once

#include <string>

#include "records.h"

namespace keepframe {

// Face score of a frame judged as "portrait" or as a group ("group" or any
// other name); 0.05 for a frame without faces.
float faceScore(const ImageRecord& frame, const std::string& category, const EngineConfig& config);

}  // namespace keepframe
