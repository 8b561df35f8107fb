// Moments: near-duplicate frames grouped into clusters per category by
// perceptual hash, file number, capture order and the people in them.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "records.h"

namespace keepframe {

using FrameList = std::vector<ImageRecord*>;

// Runs the five clustering steps over all frames (scan order). Sets
// `clusterId` and `proximityProtected`; `nextClusterId` is the run's id
// counter. Returns the ids of the group clusters that absorbed another cluster
// by file-number proximity (never split afterwards).
std::set<int32_t> clusterFrames(std::vector<ImageRecord>& frames, const EngineConfig& config, int32_t& nextClusterId);

// The two clusters show the same people.
bool clusterFaceMatch(const FrameList& a, const FrameList& b, float similarity, float ratio);

// The sub-clusters of one cluster by the faces in its frames.
std::vector<FrameList> splitClusterByFaces(const FrameList& frames, float ratio, float similarity);

// Numbers the clusters of each category 1, 2, ... by their earliest capture time.
void numberClustersByTime(std::vector<ImageRecord>& frames);

}  // namespace keepframe
