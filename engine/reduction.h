// Trimming the selection: a score floor that never drops a cluster's best
// frame, a strict duplicate filter, and the primary/review split.
#pragma once

#include <utility>

#include "clustering.h"
#include "records.h"

namespace keepframe {

FrameList reduceSelection(const FrameList& selected, const EngineConfig& config);

// Sorted by final score, highest first: the first min(n, target) are primary.
std::pair<FrameList, FrameList> splitPrimaryReview(FrameList frames, int32_t primaryTarget);

}  // namespace keepframe
