// Shared helpers of the benchmark programs: timing, cached input folders, synthetic projects.
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

// The one-minute load average, or -1 where the system does not tell.
double loadAverage();

// The process's peak resident memory in megabytes since the last reset;
// negative where the system does not tell.
double peakMemoryMb();
void resetPeakMemory();

// Row `i` of a synthetic project of photographs below `folder`: four
// sub-folders and the three categories in turn, six frames a moment, every
// sixth frame primary.
inline ResultImage syntheticRow(int i, const std::string& folder) {
    static const char* const subFolders[] = {"ceremony", "reception", "portraits", ""};
    ResultImage r;
    const std::string sub = subFolders[i % 4];
    r.filename = (sub.empty() ? "" : sub + "/") + "DSC_" + std::to_string(10000 + i) + ".jpg";
    r.path = folder + "/" + r.filename;
    r.category = i % 3 == 0 ? Category::Venue : i % 3 == 1 ? Category::Portrait : Category::Group;
    r.clusterNumber = 1 + i / 6;
    r.isPrimary = i % 6 == 0;
    return r;
}

}  // namespace keepframe::bench
