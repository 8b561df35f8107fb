// Shared helpers of the benchmark program: timing, cached input folders.
#pragma once

#include <chrono>
#include <string>

#include "records.h"

namespace keepframe::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ~/.cache/keepframe/bench (or $KEEPFRAME_CACHE/bench).
std::string cacheFolder();

// A folder of `count` camera-like JPEGs of width x height, made once from the
// shared test photographs when present (painted scenes otherwise) and kept in
// the cache for later runs.
std::string cachedShoot(int count, int width, int height);

// A folder of `count` frames of the camera-like generator (grain, 4:2:2,
// quality 92, EXIF orientations, bursts, real faces), made once and kept.
std::string cachedCameraShoot(int count, int width, int height);

// The real face models: $KEEPFRAME_MODELS, else the folder the build makes.
std::string benchModelsFolder();
// A configuration naming the four real models of `folder`.
EngineConfig realModelConfig(const std::string& folder);

// The process's peak resident memory in megabytes since the last reset;
// negative where the system does not tell.
double peakMemoryMb();
void resetPeakMemory();

}  // namespace keepframe::bench
