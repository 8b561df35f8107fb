// Shared helpers of the benchmark program: timing, cached input folders.
#pragma once

#include <chrono>
#include <string>

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

}  // namespace keepframe::bench
