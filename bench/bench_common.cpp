#include "bench_common.h"

#include "paths.h"
#include "shoot.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace keepframe::bench {

std::string cacheFolder() {
    const char* cache = std::getenv("KEEPFRAME_CACHE");
    const char* home = std::getenv("HOME");
    fs::path base = cache && *cache ? fs::path(cache) : fs::path(home ? home : ".") / ".cache" / "keepframe";
    return pathToUtf8(base / "bench");
}

namespace {

fs::path sharedPhotos() { return fs::path(KEEPFRAME_SOURCE_DIR).parent_path() / "shared" / "testphotos"; }

// `folder` of the cache, made by `make` unless a finished one is there.
std::string cachedFolder(const std::string& name, const std::string& what,
                         const std::function<void(const std::string&)>& make) {
    const fs::path folder = utf8ToPath(cacheFolder()) / name;
    if (fs::exists(folder / ".complete")) return pathToUtf8(folder);
    std::printf("Generating %s into %s (once)...\n", what.c_str(), folder.c_str());
    std::fflush(stdout);
    fs::remove_all(folder);
    make(pathToUtf8(folder));
    std::FILE* done = std::fopen(pathToUtf8(folder / ".complete").c_str(), "w");
    if (done) std::fclose(done);
    return pathToUtf8(folder);
}

std::string sizeName(int count, int width, int height) {
    return std::to_string(count) + "x" + std::to_string(width) + "x" + std::to_string(height);
}

// `count` generated frames of width x height, kept in the cache folder
// "<prefix>-<count>x<width>x<height>": `make` writes them into the folder,
// from the shared test photographs when there are any ("" otherwise).
std::string cachedFrames(const std::string& prefix, const std::string& kind, int count, int width, int height,
                         const std::function<void(const std::string& folder, const std::string& photos)>& make) {
    const std::string what =
        std::to_string(count) + " " + kind + " of " + std::to_string(width) + "x" + std::to_string(height);
    return cachedFolder(prefix + "-" + sizeName(count, width, height), what, [&](const std::string& folder) {
        make(folder, fs::is_directory(sharedPhotos()) ? pathToUtf8(sharedPhotos()) : std::string());
    });
}

}  // namespace

std::string cachedShoot(int count, int width, int height) {
    const auto make = [&](const std::string& folder, const std::string& photos) {
        shootgen::generateShoot(folder, shootgen::ShootOptions{count, width, height, photos});
    };
    return cachedFrames("shoot", "frames", count, width, height, make);
}

std::string cachedCameraShoot(int count, int width, int height) {
    const auto make = [&](const std::string& folder, const std::string& photos) {
        shootgen::generateCameraShoot(folder, shootgen::CameraShootOptions{count, width, height, photos});
    };
    return cachedFrames("camera", "camera-like frames", count, width, height, make);
}

std::string benchModelsFolder() {
    const char* env = std::getenv("KEEPFRAME_MODELS");
    return env && *env ? env : KEEPFRAME_BUILD_MODELS_DIR;
}

EngineConfig realModelConfig(const std::string& folder) {
    EngineConfig c;
    c.detectorModelPath = folder + "/buffalo_l/det_10g.onnx";
    c.recognizerModelPath = folder + "/buffalo_l/w600k_r50.onnx";
    c.expressionModelPath = folder + "/emotion-ferplus-8.onnx";
    c.eyeModelPath = folder + "/open_closed_eye.onnx";
    return c;
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    in >> load;
    return load;
}

// Linux keeps the peak in /proc/self/status (VmHWM) and resets it on request.
double peakMemoryMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

void resetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

}  // namespace keepframe::bench
