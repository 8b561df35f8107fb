// Which frames the engine keeps: every moment represented, extra group frames
// only when they show people the picks so far do not.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "persons.h"
#include "records.h"

namespace keepframe {

// Mean eyesOpen of the frame's faces; 1 without faces.
float eyeScore(const ImageRecord& frame);
// The one eye tie-break rule: eye score `a` beats `b` when it is higher by
// more than `margin` (their difference is compared, never b + margin).
bool eyesClearlyBetter(float a, float b, float margin);
// Both frames have faces and at least half of a's embeddings match one of b's.
bool sharesPeople(const ImageRecord& a, const ImageRecord& b, float threshold);
// Embeddings of the frame with no match in any reference frame.
int newFaces(const ImageRecord& frame, const FrameList& references, float threshold);

// The frames kept from the clustered shoot, in pick order (venue, portrait,
// group, singles), each at most once. Writes the pick fields of each frame.
FrameList selectFrames(std::vector<ImageRecord>& frames, const ClusterMap& venue, const ClusterMap& portrait,
                       const ClusterMap& group, const std::vector<PersonRecord>& persons, const EngineConfig& config);

// The picks of one portrait or group cluster: the best frame of every run of
// five well-exposed frames in camera order, plus people-coverage picks.
FrameList pickFromCluster(const FrameList& cluster, Category category, int quota, const EngineConfig& config);

// The run candidate (not excluded) adding the most faces not seen in the
// references, and that count; nullptr when every candidate is excluded.
std::pair<ImageRecord*, int> mostNewFaces(const FrameList& run, const FrameList& references, const FrameList& excluded,
                                          const EngineConfig& config);

}  // namespace keepframe
