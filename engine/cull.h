// The single entry point of the cull engine.
#pragma once

#include "frame_analysis.h"
#include "records.h"

namespace keepframe {

// Runs one cull. Errors (an unreadable input folder, a model that cannot be
// loaded, a failed analysis thread) are raised as exceptions; no partial
// result is returned. `progress` may be called from several threads at once.
CullResult runCull(EngineConfig config, const ProgressCallback& progress = {});

}  // namespace keepframe
