// The scores frames are ranked by.
#pragma once

#include <string>
#include <vector>

#include "records.h"

namespace keepframe {

// Face score of a frame judged as a portrait or as a group (any other
// category); 0.05 for a frame without faces.
float faceScore(const ImageRecord& frame, Category category, const EngineConfig& config);

struct PersonRecord;

// Sets `finalScore` of a selected frame: sharpness / 500 for venue; face score
// plus the importance of the frame's person (and 0.2 for a group pick from a
// cluster showing Person 0) otherwise.
void computeFinalScore(ImageRecord& frame, const std::vector<PersonRecord>& persons, const EngineConfig& config);

}  // namespace keepframe
