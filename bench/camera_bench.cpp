// Culls of camera-like shoots as the photographer runs them (CullWorker:
// cull, project saved with its thumbnails):
//   camera  24 MP JPEGs against their floor, a quarter-size libjpeg-turbo
//           decode of every file plus the face detector alone on those frames
//   scale   1,000 and 5,000 frames of 6 MP: time per frame and peak memory
// Each cull prints a digest of the project database and of the thumbnails, so
// that two builds can be shown to store the same project.
#include "bench_common.h"
#include "bench_sections.h"

#include "analysis.h"
#include "background_job.h"
#include "cull_worker.h"
#include "faces.h"
#include "frame_analysis.h"
#include "image_decode.h"
#include "paths.h"
#include "scan.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace keepframe::bench {
namespace {

constexpr int kThreads = 2;  // the floor and the cull run on the same number of threads
constexpr int kCameraFrames = 80;

struct CullRun {
    double seconds = 0;
    double analysisSeconds = 0;  // until clustering starts
    double savingSeconds = 0;    // the project and its thumbnails stored
    double peakMb = 0;
    int frames = 0;
    std::string databaseDigest;
    std::string thumbnailsDigest;
    std::array<double, AnalysisTimings::StepCount> stepMs{};  // thread time a frame
    double facesPerFrame = 0;
};

std::string fileDigest(const fs::path& path, QCryptographicHash& all) {
    QFile file(QString::fromStdString(pathToUtf8(path)));
    if (!file.open(QIODevice::ReadOnly)) return "unreadable";
    const QByteArray bytes = file.readAll();
    all.addData(bytes);
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16).toStdString();
}

// The digests of the one project in `library`: its database, and its
// thumbnails in name order.
void digestProject(const fs::path& library, CullRun& run) {
    for (const auto& e : fs::recursive_directory_iterator(library)) {
        if (e.path().filename() != "project.db") continue;
        QCryptographicHash none(QCryptographicHash::Sha256), thumbs(QCryptographicHash::Sha256);
        run.databaseDigest = fileDigest(e.path(), none);
        std::vector<fs::path> names;
        for (const auto& t : fs::directory_iterator(e.path().parent_path() / "thumbnails")) names.push_back(t.path());
        std::sort(names.begin(), names.end());
        for (const auto& t : names) {
            thumbs.addData(QByteArray::fromStdString(pathToUtf8(t.filename())));
            fileDigest(t, thumbs);
        }
        run.thumbnailsDigest = thumbs.result().toHex().left(16).toStdString();
        return;
    }
    throw std::runtime_error("no project saved in " + pathToUtf8(library));
}

// One cull as the desktop program runs it, saved into a library of its own.
CullRun cull(EngineConfig config, const std::string& name) {
    const fs::path library = utf8ToPath(cacheFolder()) / ("library-" + name);
    fs::remove_all(library);
    qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(pathToUtf8(library)));
    config.workerThreads = kThreads;
    config.verbose = false;
    AnalysisTimings timings;
    config.timings = &timings;
    CullRun run;
    QString failure;
    CullWorker worker(config, true);
    std::fflush(stdout);
    resetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    // The worker's progress marks the start of clustering (67 %) and of saving (82 %).
    JobControl control(1, {}, [&](int percent, const QString&) {
        if (percent >= 67 && run.analysisSeconds == 0) run.analysisSeconds = secondsSince(start);
        if (percent >= 82 && run.savingSeconds == 0) run.savingSeconds = secondsSince(start);
    });
    try {
        run.frames = worker.run(control).value("totalInput").toInt();
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    run.seconds = secondsSince(start);
    run.savingSeconds = run.savingSeconds > 0 ? run.seconds - run.savingSeconds : 0;
    run.peakMb = peakMemoryMb();
    if (!failure.isEmpty()) throw std::runtime_error(failure.toStdString());
    digestProject(library, run);
    const double frames = std::max(1, timings.frames.load());
    for (size_t i = 0; i < run.stepMs.size(); ++i) run.stepMs[i] = double(timings.nanoseconds[i].load()) / 1e6 / frames;
    run.facesPerFrame = timings.faces.load() / frames;
    return run;
}

void warmPageCache(const std::vector<std::string>& paths) {
    std::vector<uint8_t> bytes;
    for (const auto& p : paths) readFileBytes(p, bytes);
}

std::vector<std::string> filesOf(const std::string& folder, const char* extension) {
    std::vector<std::string> paths;
    for (const auto& e : fs::directory_iterator(utf8ToPath(folder)))
        if (e.path().extension() == extension) paths.push_back(pathToUtf8(e.path()));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Runs `work(index, thread)` for every index on kThreads threads; seconds.
double onThreads(size_t count, const std::function<void(size_t, int)>& work) {
    const auto start = std::chrono::steady_clock::now();
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t)
        pool.emplace_back([&, t] {
            for (size_t i; (i = next.fetch_add(1)) < count;) work(i, t);
        });
    for (auto& t : pool) t.join();
    return secondsSince(start);
}

// The floor of a JPEG cull: every file read and decoded at a quarter of its
// size by libjpeg-turbo, and the detector run on the frame. Seconds.
double jpegFloor(const std::vector<std::string>& paths, const EngineConfig& config, double& peakMb) {
    std::vector<std::unique_ptr<ModelSet>> models;
    for (int t = 0; t < kThreads; ++t) models.push_back(loadModelSet(config));
    resetPeakMemory();
    const double seconds = onThreads(paths.size(), [&](size_t i, int t) {
        std::vector<uint8_t> bytes;
        readFileBytes(paths[i], bytes);
        const cv::Mat frame = cv::imdecode(bytes, cv::IMREAD_REDUCED_COLOR_4);
        if (frame.empty()) throw std::runtime_error("cannot decode " + paths[i]);
        detectFaces(models[size_t(t)]->detector, frame, 0.5f);
    });
    peakMb = peakMemoryMb();
    return seconds;
}

// Rounds of the floor and the cull ($KEEPFRAME_BENCH_ROUNDS, 2 unless set).
int rounds() {
    const char* env = std::getenv("KEEPFRAME_BENCH_ROUNDS");
    const int n = env ? std::atoi(env) : 2;
    return std::max(1, n);
}

void printRun(const char* label, const CullRun& run, int files) {
    std::printf("  %-34s %6.2f frames/s  %7.1f ms/frame  peak %6.0f MB  (%d of %d frames culled)\n", label,
                files / run.seconds, run.seconds * 1000 / files, run.peakMb, run.frames, files);
    std::printf("  %-34s analysis %.1f ms/frame, saving %.1f ms/frame\n", "", run.analysisSeconds * 1000 / files,
                run.savingSeconds * 1000 / files);
    std::printf("  %-34s database %s  thumbnails %s\n", "", run.databaseDigest.c_str(), run.thumbnailsDigest.c_str());
}

// The analysis step by step: the steps the floor also takes, and the rest as
// a share of them (on busy cores, close to the ratio of the wall times).
void printSteps(const CullRun& run) {
    using T = AnalysisTimings;
    std::printf("  analysis steps, thread time a frame (%.2f usable faces a frame):\n", run.facesPerFrame);
    double floorSteps = 0, rest = 0;
    for (int i = 0; i < T::StepCount; ++i) {
        const bool inFloor = i == T::Read || i == T::QuarterDecode || i == T::Detector;
        (inFloor ? floorSteps : rest) += run.stepMs[size_t(i)];
        std::printf("    %-22s %7.1f ms%s\n", T::name(T::Step(i)), run.stepMs[size_t(i)], inFloor ? "  (floor)" : "");
    }
    std::printf("    %-22s %7.1f ms = %.2f of the floor's steps\n", "beyond the floor", rest,
                floorSteps > 0 ? rest / floorSteps : 0.0);
}

bool haveModels(const EngineConfig& config, const char* section) {
    if (fs::exists(config.detectorModelPath)) return true;
    std::printf("%s: no models in %s (build them with the model kit); section skipped\n", section,
                benchModelsFolder().c_str());
    return false;
}

uint64_t folderBytes(const fs::path& folder) {
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

void scaleRun(int frames) {
    const EngineConfig models = realModelConfig(benchModelsFolder());
    if (!haveModels(models, "scale")) return;
    EngineConfig config = models;
    config.inputFolder = cachedCameraShoot(frames, 3000, 2000);
    warmPageCache(filesOf(config.inputFolder, ".jpg"));
    const CullRun run = cull(config, "scale");
    std::printf("scale: %d camera-like frames of 3000x2000, %d threads\n", frames, kThreads);
    printRun("cull (saved project)", run, frames);
}

}  // namespace

void cameraBench() {
    EngineConfig config = realModelConfig(benchModelsFolder());
    if (!haveModels(config, "camera")) return;
    config.inputFolder = cachedCameraShoot(kCameraFrames, 6000, 4000);
    const auto paths = filesOf(config.inputFolder, ".jpg");
    warmPageCache(paths);
    const auto megabytes = double(folderBytes(utf8ToPath(config.inputFolder))) / 1e6 / double(paths.size());
    const double n = double(paths.size());

    // Floor and cull in turn, the best of each kept: the machine is shared.
    double floor = 0, floorPeak = 0;
    CullRun best;
    for (int round = 1; round <= rounds(); ++round) {
        double peak = 0;
        const double seconds = jpegFloor(paths, config, peak);
        const CullRun run = cull(config, "camera");
        std::printf("camera round %d: floor %.1f ms/frame, cull %.1f ms/frame, ratio %.2f\n", round,
                    seconds * 1000 / n, run.seconds * 1000 / n, run.seconds / seconds);
        if (round == 1 || seconds < floor) floor = seconds;
        floorPeak = std::max(floorPeak, peak);
        if (round == 1 || run.seconds < best.seconds) best = run;
    }
    std::printf("camera: %zu camera-like JPEGs of 6000x4000 (%.1f MB each), %d threads, best of %d\n", paths.size(),
                megabytes, kThreads, rounds());
    std::printf("  %-34s %6.2f frames/s  %7.1f ms/frame  peak %6.0f MB\n", "floor (quarter decode + detector)",
                n / floor, floor * 1000 / n, floorPeak);
    printRun("cull (saved project)", best, int(paths.size()));
    printSteps(best);
    std::printf("  ratio cull/floor:                  %6.2f  (goal: 1.3 or less)\n", best.seconds / floor);
}

void scaleBench() {
    scaleRun(1000);
    if (std::getenv("KEEPFRAME_BENCH_QUICK")) {
        std::printf("scale: 5,000 frames skipped (KEEPFRAME_BENCH_QUICK is set)\n");
        return;
    }
    scaleRun(5000);
}

}  // namespace keepframe::bench
