#include "bench_common.h"

#include "paths.h"
#include "shoot.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace keepframe::bench {

std::string cacheFolder() {
    const char* cache = std::getenv("KEEPFRAME_CACHE");
    const char* home = std::getenv("HOME");
    fs::path base = cache && *cache ? fs::path(cache) : fs::path(home ? home : ".") / ".cache" / "keepframe";
    return pathToUtf8(base / "bench");
}

std::string cachedShoot(int count, int width, int height) {
    const fs::path folder = utf8ToPath(cacheFolder()) / ("shoot-" + std::to_string(count) + "x" +
                                                         std::to_string(width) + "x" + std::to_string(height));
    if (fs::exists(folder / ".complete")) return pathToUtf8(folder);

    shootgen::ShootOptions options;
    options.count = count;
    options.width = width;
    options.height = height;
    const fs::path photos = fs::path(KEEPFRAME_SOURCE_DIR).parent_path() / "shared" / "testphotos";
    if (fs::is_directory(photos)) options.sourceFolder = pathToUtf8(photos);
    std::printf("Generating %d frames of %dx%d into %s (once)...\n", count, width, height, folder.c_str());
    std::fflush(stdout);
    fs::remove_all(folder);
    shootgen::generateShoot(pathToUtf8(folder), options);
    std::FILE* done = std::fopen(pathToUtf8(folder / ".complete").c_str(), "w");
    if (done) std::fclose(done);
    return pathToUtf8(folder);
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

}  // namespace keepframe::bench
