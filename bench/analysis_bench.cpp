// Analysis throughput: a bare quarter-size decode loop against runCull on the
// same folder and the same number of threads.
#include "bench_common.h"
#include "bench_sections.h"

#include "cull.h"
#include "frame_analysis.h"
#include "image_decode.h"
#include "paths.h"
#include "scan.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

namespace keepframe::bench {

void analysisBench() {
    const std::string folder = cachedShoot(60, 6000, 4000);
    EngineConfig config;
    config.inputFolder = folder;
    config.verbose = false;
    config.detectorModelPath.clear();  // no face models: classical measures only
    const auto files = scanInputImages(config);
    const int threads = analysisThreadCount(0, files.size(), std::thread::hardware_concurrency());

    // Warm the page cache so both loops read from memory.
    for (const auto& f : files) {
        std::vector<uint8_t> bytes;
        readFileBytes(f.fullPath, bytes);
    }

    // Seconds per frame of one decode of every file on all threads.
    const auto decodeAll = [&](const std::function<cv::Mat(const std::vector<uint8_t>&)>& decodeOne) {
        const auto start = std::chrono::steady_clock::now();
        std::atomic<size_t> next{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                for (size_t i; (i = next.fetch_add(1)) < files.size();) {
                    std::vector<uint8_t> bytes;
                    readFileBytes(files[i].fullPath, bytes);
                    if (decodeOne(bytes).empty()) std::fprintf(stderr, "cannot decode %s\n", files[i].fullPath.c_str());
                }
            });
        for (auto& t : pool) t.join();
        return secondsSince(start) / double(files.size());
    };
    const double decode = decodeAll([](const auto& bytes) { return cv::imdecode(bytes, cv::IMREAD_REDUCED_COLOR_4); });
    // The engine's own decode: declared-size check, libjpeg with the damage check, EXIF orientation.
    const double checked = decodeAll([](const auto& bytes) { return decodeImage(bytes, 4).image; });

    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const CullResult result = runCull(config);
    const double cull = secondsSince(start) / double(files.size());

    std::printf("analysis: %zu frames of 6000x4000, %d threads, no face models\n", files.size(), threads);
    std::printf("  bare quarter-size decode: %7.1f ms/frame\n", decode * 1000);
    std::printf("  checked decode:           %7.1f ms/frame (size limits, damage check)\n", checked * 1000);
    std::printf("  runCull:                  %7.1f ms/frame (%d frames analysed)\n", cull * 1000, result.totalInput);
    std::printf("  ratio runCull/decode:     %7.2f  (goal: below 1.5)\n", cull / decode);
}

}  // namespace keepframe::bench
