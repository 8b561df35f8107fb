// Enhance and Enhance Plus on camera-like 24-megapixel photographs, one core,
// against their floor measured in the same run: reading, decoding, encoding
// at the program's own settings for enhanced images and writing the same
// files, which any correction of them must do. Each photograph goes through
// the floor and both levels in turn, as the enhancement jobs do it (file to
// file, the worker's buffers kept from photograph to photograph), and the
// best of the rounds counts. Enhance Plus runs once more on a worker thread,
// which must cost what it costs on the main thread.
#include "bench_common.h"
#include "bench_sections.h"

#include "enhance_buffers.h"
#include "enhance_jobs.h"
#include "enhance_pipeline.h"
#include "jpeg_encoder.h"
#include "paths.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace keepframe::bench {

namespace {

constexpr int kShootFrames = 20;  // the shoot of the enhancejobs section; this one takes the first few
constexpr int kPhotos = 6;

int rounds() {
    const char* env = std::getenv("KEEPFRAME_BENCH_ROUNDS");
    return env && std::atoi(env) > 0 ? std::atoi(env) : 2;
}

// The floor of one photograph: the file read, decoded as stored (libjpeg-turbo,
// as djpeg), encoded with the enhanced-image settings (as cjpeg) and written.
bool floorOf(const std::string& source, const std::string& target, std::vector<uint8_t>& bytes, cv::Mat& decoded,
             std::vector<uint8_t>& jpeg) {
    if (!readFileBytes(source, bytes)) return false;
    const cv::Mat image = cv::imdecode(bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION, &decoded);
    return !image.empty() && encodeJpeg(image, enhancedJpegOptions(), jpeg) && writeFileBytes(target, jpeg);
}

// Kernel time and page faults of the calling thread so far (zero where the system does not tell).
struct ThreadCost {
    double kernelMs = 0;
    double faults = 0;
};

ThreadCost threadCost() {
    ThreadCost c;
#ifdef RUSAGE_THREAD
    rusage u{};
    if (getrusage(RUSAGE_THREAD, &u) == 0) {
        c.kernelMs = double(u.ru_stime.tv_sec) * 1000 + double(u.ru_stime.tv_usec) / 1000;
        c.faults = double(u.ru_minflt + u.ru_majflt);
    }
#endif
    return c;
}

// Adds the thread's cost of `work` to `sum`.
bool costed(const std::function<bool()>& work, ThreadCost& sum) {
    const ThreadCost before = threadCost();
    const bool ok = work();
    const ThreadCost after = threadCost();
    sum.kernelMs += after.kernelMs - before.kernelMs;
    sum.faults += after.faults - before.faults;
    return ok;
}

double timed(const std::function<bool()>& work, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    return secondsSince(start) * 1000;
}

// Processor time of the calling thread in ms: on a machine busy with other
// work it counts this thread's own work alone. Wall time where the system
// does not tell.
double threadCpuMs() {
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0) return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
#endif
    return double(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count()) /
           1000;
}

// The parts of one Enhance Plus photograph, file to file, in the order they run.
enum Part { Read, Decode, Stage1, Stage2, Stage3, Stage4, Stage5, Stage6, Tables, Stage7, Stage8, Stage9, Encode,
            Write, Parts };
using PartTimes = std::array<double, Parts>;

// One photograph through Enhance Plus as the pipeline runs it, each part
// timed in processor time of this thread (ms). False when a part failed.
bool timeParts(const std::string& source, const std::string& target, const std::vector<cv::Rect>& faces,
               const std::vector<float>& confidences, EnhanceBuffers& buffers, PartTimes& times) {
    const EnhanceSettings s = EnhanceSettings::forLevel(true);
    const FaceInput f{faces, confidences};
    double mark = threadCpuMs();
    const auto lap = [&](Part part) {
        const double now = threadCpuMs();
        times[part] = now - mark;
        mark = now;
    };
    const bool read = readFileBytes(source, buffers.fileBytes);
    lap(Read);
    if (!read) return false;
    cv::Mat work =
        cv::imdecode(buffers.fileBytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION, &buffers.images[1]);
    lap(Decode);
    if (work.empty()) return false;
    work = skinColourBalance(work, f, s, buffers);
    lap(Stage1);
    ChannelTables tones(work);
    baseToneCurve(tones, s);
    lap(Stage2);
    work = skinGuidedSaturation(tones.applied(buffers), f, s, buffers);  // the tables of stage 2 applied first
    tones = ChannelTables(work);
    lap(Stage3);
    skinToneBalance(tones, f, s);
    lap(Stage4);
    skinExposure(tones, f, s);
    lap(Stage5);
    secondPassCurves(tones, f, s);
    lap(Stage6);
    work = tones.applied(buffers);
    lap(Tables);
    work = shadowLift(work, s, buffers);
    lap(Stage7);
    work = highlightRecovery(work, s, buffers);
    lap(Stage8);
    work = finalSharpening(work, s, buffers);
    lap(Stage9);
    const bool encoded = encodeJpeg(work, enhancedJpegOptions(), buffers.jpeg);
    lap(Encode);
    const bool written = encoded && writeFileBytes(target, buffers.jpeg);
    lap(Write);
    return written;
}

struct PartsReport {
    bool ok = false;
    PartTimes mean{};
    double loadBefore = -1, loadAfter = -1;
};

// Enhance Plus part by part on one core: where its time goes.
PartsReport measureParts(const std::vector<std::string>& sources, const std::string& target,
                         const std::vector<cv::Rect>& faces, const std::vector<float>& confidences) {
    PartsReport report;
    report.loadBefore = loadAverage();
    EnhanceBuffers buffers;
    PartTimes scratch{};
    report.ok = timeParts(sources.front(), target, faces, confidences, buffers, scratch);  // the buffers take memory
    std::vector<PartTimes> best(sources.size());
    for (auto& b : best) b.fill(1e30);
    for (int round = 0; round < rounds(); ++round) {
        for (size_t i = 0; i < sources.size(); ++i) {
            PartTimes times{};
            report.ok = timeParts(sources[i], target, faces, confidences, buffers, times) && report.ok;
            for (int p = 0; p < Parts; ++p) best[i][size_t(p)] = std::min(best[i][size_t(p)], times[size_t(p)]);
        }
    }
    for (const auto& b : best)
        for (int p = 0; p < Parts; ++p) report.mean[size_t(p)] += b[size_t(p)] / double(best.size());
    report.loadAfter = loadAverage();
    return report;
}

void printParts(const PartsReport& r) {
    if (!r.ok) {
        std::printf("  Enhance Plus by part: a photograph could not be corrected\n");
        return;
    }
    const PartTimes& m = r.mean;
    double stages = 0;
    for (int p = Stage1; p <= Stage9; ++p) stages += m[size_t(p)];
    std::printf("  Enhance Plus by part, processor time of this thread (ms an image, best of %d rounds; load average "
                "%.1f before, %.1f after):\n",
                rounds(), r.loadBefore, r.loadAfter);
    std::printf("    read %.0f, decode %.0f, stage 1 %.0f, 2 %.0f, 3 %.0f (the tables of 2 applied first), 4 %.0f, "
                "5 %.0f, 6 %.0f, tables of 4-6 applied %.0f, 7 %.0f, 8 %.0f, 9 %.0f, encode %.0f, write %.0f; "
                "stages %.0f in all\n",
                m[Read], m[Decode], m[Stage1], m[Stage2], m[Stage3], m[Stage4], m[Stage5], m[Stage6], m[Tables],
                m[Stage7], m[Stage8], m[Stage9], m[Encode], m[Write], stages);
}

}  // namespace

void enhanceBench() {
    const std::string folder = cachedCameraShoot(kShootFrames, 6000, 4000);
    std::vector<std::string> sources;
    for (const auto& e : fs::directory_iterator(utf8ToPath(folder)))
        if (e.path().extension() == ".jpg") sources.push_back(pathToUtf8(e.path()));
    std::sort(sources.begin(), sources.end());
    if (sources.size() < size_t(kPhotos)) {
        std::printf("enhance: the camera-like shoot has too few photographs\n");
        return;
    }
    sources.resize(kPhotos);
    double megabytes = 0;
    for (const std::string& s : sources) megabytes += double(fs::file_size(utf8ToPath(s))) / 1e6;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path out = fs::temp_directory_path() / ("keepframe-enhance-bench-" + std::to_string(stamp));
    fs::create_directories(out);
    const std::string target = pathToUtf8(out / "out.jpg");

    // Two face boxes inside frames of either orientation.
    const std::vector<cv::Rect> faces = {cv::Rect(1500, 1200, 600, 700), cv::Rect(2700, 1300, 550, 650)};
    const std::vector<float> confidences = {0.95f, 0.9f};
    const double loadBefore = loadAverage();
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    enum { Floor, Enhance, Plus, PlusOnWorker, Kinds };
    std::vector<std::array<double, Kinds>> best(sources.size());
    for (auto& b : best) b.fill(1e30);
    std::vector<uint8_t> bytes, jpeg;
    cv::Mat decoded;
    EnhanceBuffers buffers;
    bool ok = true;
    ThreadCost mainCost, workerCost;  // of Enhance Plus, summed over every run
    resetPeakMemory();
    for (int round = 0; round < rounds(); ++round) {
        for (size_t i = 0; i < sources.size(); ++i) {
            EnhanceJob job{int(i), sources[i], target, faces, confidences, false};
            const auto enhance = [&job, &buffers](bool plus) {
                job.plus = plus;
                return runEnhanceJob(job, buffers);
            };
            auto& b = best[i];
            b[Floor] = std::min(b[Floor], timed([&] { return floorOf(sources[i], target, bytes, decoded, jpeg); }, ok));
            b[Enhance] = std::min(b[Enhance], timed([&] { return enhance(false); }, ok));
            b[Plus] = std::min(b[Plus], timed([&] { return costed([&] { return enhance(true); }, mainCost); }, ok));
        }
    }
    const double peakMb = peakMemoryMb();
    // Then each photograph on a worker thread of its own, with buffers of its
    // own, as a batch worker has (after the peak: its memory stays with the process).
    for (int round = 0; round < rounds(); ++round) {
        for (size_t i = 0; i < sources.size(); ++i) {
            double onWorker = 0;
            std::thread worker([&] {
                EnhanceBuffers own;
                const EnhanceJob job{int(i), sources[i], target, faces, confidences, true};
                runEnhanceJob(job, own);  // the worker's first photograph takes its memory
                onWorker = timed([&] { return costed([&] { return runEnhanceJob(job, own); }, workerCost); }, ok);
            });
            worker.join();
            best[i][PlusOnWorker] = std::min(best[i][PlusOnWorker], onWorker);
        }
    }
    const PartsReport parts = measureParts(sources, target, faces, confidences);
    cv::setNumThreads(threads);
    fs::remove_all(out);
    if (!ok) {
        std::printf("enhance: a photograph could not be corrected\n");
        return;
    }
    std::array<double, Kinds> mean{};
    for (const auto& b : best)
        for (int k = 0; k < Kinds; ++k) mean[size_t(k)] += b[size_t(k)] / double(best.size());
    std::printf("enhance: %d camera-like photographs of 6000x4000 (4:2:2, quality 92, %.1f MB each), 2 face boxes, "
                "1 core, best of %d rounds; load average %.1f before, %.1f after\n",
                kPhotos, megabytes / kPhotos, rounds(), loadBefore, loadAverage());
    std::printf("  floor (read, decode, encode 4:4:4 q98 optimised, write): %6.0f ms an image\n", mean[Floor]);
    std::printf("  Enhance:                  %6.0f ms an image, %.2fx the floor (aim: 1100 ms)\n", mean[Enhance],
                mean[Enhance] / mean[Floor]);
    std::printf("  Enhance Plus:             %6.0f ms an image, %.2fx the floor (aim: 1600 ms, 1.9x)\n", mean[Plus],
                mean[Plus] / mean[Floor]);
    std::printf("  Enhance Plus on a worker: %6.0f ms an image, %.2fx the main thread's\n", mean[PlusOnWorker],
                mean[PlusOnWorker] / mean[Plus]);
    const double runs = double(rounds()) * double(sources.size());
    std::printf("  Enhance Plus, kernel time and page faults an image: main thread %.0f ms, %.0f; "
                "worker %.0f ms, %.0f\n",
                mainCost.kernelMs / runs, mainCost.faults / runs, workerCost.kernelMs / runs, workerCost.faults / runs);
    std::printf("  peak memory of the process while correcting on the main thread: %.0f MB (VmHWM; the floor's "
                "frame included)\n",
                peakMb);
    printParts(parts);
}

}  // namespace keepframe::bench
