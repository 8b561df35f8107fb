// Where face analysis spends its time: per-frame split into decode, detection
// and the per-face models; single-thread milliseconds per call of each model;
// and end-to-end frames per second of the whole analysis with face models.
#include "bench_common.h"
#include "bench_sections.h"

#include "cull.h"
#include "faces.h"
#include "paths.h"
#include "scan.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace keepframe::bench {
namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double msPerCall(int calls, F&& f) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    return secondsSince(start) * 1000 / calls;
}

}  // namespace

void facesBench() {
    const std::string models = benchModelsFolder();
    EngineConfig config = realModelConfig(models);
    if (!fs::exists(config.detectorModelPath)) {
        std::printf("faces: no models in %s (build them with the model kit); section skipped\n", models.c_str());
        return;
    }
    const auto set = loadModelSet(config);
    const std::string folder = cachedShoot(40, 6000, 4000);
    config.inputFolder = folder;
    const auto files = scanInputImages(config);

    // Per-frame split, one thread.
    double decode = 0, detect = 0, embed = 0, eyes = 0, expression = 0;
    int faces = 0;
    const int frames = std::min<int>(10, int(files.size()));
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> bytes;
        readFileBytes(files[size_t(i)].fullPath, bytes);
        auto t = Clock::now();
        const cv::Mat img = cv::imdecode(bytes, cv::IMREAD_REDUCED_COLOR_4);
        decode += secondsSince(t);
        t = Clock::now();
        const auto found = detectFaces(set->detector, img, 0.5f);
        detect += secondsSince(t);
        const cv::Mat half = cv::imdecode(bytes, cv::IMREAD_REDUCED_COLOR_2);
        for (const auto& c : found) {
            Landmarks lm;
            std::copy(c.begin() + 5, c.end(), lm.begin());
            t = Clock::now();
            embedFace(set->recognizer, img, lm, int(c[0]), int(c[1]), int(c[2]), int(c[3]));
            embed += secondsSince(t);
            t = Clock::now();
            eyeOpenScore(set->eye, half, lm);
            eyes += secondsSince(t);
            const cv::Rect box = cv::Rect(int(c[0]) * 2, int(c[1]) * 2, int(c[2] - c[0]) * 2, int(c[3] - c[1]) * 2) &
                                 cv::Rect(0, 0, half.cols, half.rows);
            t = Clock::now();
            if (!box.empty()) expressionScore(set->expression, half(box));
            expression += secondsSince(t);
            ++faces;
        }
    }
    std::printf("faces: models in %s; %d frames of 6000x4000 made from the test photographs, %d faces, 1 thread\n",
                models.c_str(), frames, faces);
    std::printf("  per frame:  decode %.1f ms, detection %.1f ms, recogniser %.1f ms, eyes %.1f ms, "
                "expression %.1f ms\n",
                decode * 1000 / frames, detect * 1000 / frames, embed * 1000 / frames, eyes * 1000 / frames,
                expression * 1000 / frames);

    // Milliseconds per call of each model, one thread.
    const cv::Mat square(640, 640, CV_8UC3, cv::Scalar(90, 120, 150));
    const cv::Mat face(112, 112, CV_8UC3, cv::Scalar(90, 120, 150)), crop(64, 64, CV_8UC3, cv::Scalar::all(120));
    const Landmarks lm = {38.3f, 51.7f, 73.5f, 51.5f, 56.0f, 71.7f, 41.5f, 92.4f, 70.7f, 92.2f};
    std::printf("  per call:   detector %.1f ms, recogniser %.2f ms, expression %.2f ms, eye pair %.2f ms\n",
                msPerCall(10, [&] { detectFaces(set->detector, square, 0.5f); }),
                msPerCall(50, [&] { embedFace(set->recognizer, face, lm, 0, 0, 112, 112); }),
                msPerCall(50, [&] { expressionScore(set->expression, crop); }),
                msPerCall(50, [&] { eyeOpenScore(set->eye, face, lm); }));
    const std::string scrfd = std::string(KEEPFRAME_MODEL_SOURCES_DIR) + "/scrfd_2.5g_bnkps_det_2.5g.onnx";
    if (fs::exists(scrfd)) {
        const OnnxModel alt = loadDetector(scrfd, 640);
        std::printf("  SCRFD 2.5G detector (alternative, non-commercial weights): %.1f ms per call\n",
                    msPerCall(10, [&] { detectFaces(alt, square, 0.5f); }));
    }

    // End to end: the whole analysis with face models on every thread.
    config.verbose = false;
    const auto start = Clock::now();
    const CullResult r = runCull(config);
    const double seconds = secondsSince(start);
    std::printf("  end to end: %d frames in %.2f s = %.2f frames/s on %d threads\n", r.totalInput, seconds,
                r.totalInput / seconds, analysisThreadCount(0, files.size(), std::thread::hardware_concurrency()));
}

}  // namespace keepframe::bench
