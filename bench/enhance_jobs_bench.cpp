// An Enhance Plus batch of 20 camera-like 24-megapixel photographs through
// SelectionModel::enhanceImagesParallel, as the Enhance screen starts it: time
// in all and per image, peak memory, and the longest stall of the event loop
// (the user interface thread) while the batch runs.
#include "bench_common.h"
#include "bench_sections.h"

#include "enhance_jobs.h"
#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "paths.h"
#include "project_store.h"
#include "selection_model.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace keepframe::bench {

namespace {

constexpr int kPhotos = 20;

// The camera-like shoot (grain, 4:2:2, quality 92, about 8 MB a file) of the enhance section.
std::string cameraShoot(double& megabytes) {
    const std::string folder = cachedCameraShoot(kPhotos, 6000, 4000);
    megabytes = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(utf8ToPath(folder), ec))
        if (e.path().extension() == ".jpg") megabytes += double(e.file_size(ec)) / 1e6;
    return folder;
}

// Peak resident memory of the process in MB (VmHWM); -1 where the system does not report it.
double peakResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// Starts the peak over from the current resident size, where the system allows it.
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

void enhanceJobsBench() {
    double megabytes = 0;
    const std::string folder = cameraShoot(megabytes);
    if (folder.empty()) {
        std::printf("enhancejobs: cannot prepare the benchmark photographs\n");
        return;
    }
    QTemporaryDir library;
    qputenv("KEEPFRAME_DATA_DIR", library.path().toUtf8());
    CullResult result;
    for (int i = 1; i <= kPhotos; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", i);
        ResultImage r;
        r.filename = name;
        r.path = folder + "/" + name;
        r.category = Category::Portrait;
        r.clusterNumber = i;
        r.engineSelected = r.isPrimary = true;
        r.faceBoxes = {{1500, 1200, 600, 700}, {2700, 1300, 550, 650}};  // inside frames of either orientation
        r.faceConfidences = {0.95f, 0.9f};
        result.images.push_back(r);
    }
    result.totalInput = kPhotos;
    ProjectStore store;
    store.openRegistry();
    const QString input = QString::fromStdString(folder);
    const int projectId = store.saveCullResult(result, input, {}, 1);
    SelectionModel model;
    model.setStore(&store);
    model.loadFromProject(projectId, input);
    QVariantList ids, names;
    for (const QVariant& v : model.keptImages()) {
        ids << v.toMap()["id"];
        names << v.toMap()["filename"];
    }

    // The user interface thread: a timer ticking on the event loop measures every gap.
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QElapsedTimer clock, sinceTick;
    qint64 longestGap = 0, longestAt = 0, startCall = 0;
    int ticks = 0, over50 = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (gap > longestGap) {
            longestGap = gap;
            longestAt = clock.elapsed();
        }
        over50 += gap > 50;
        ++ticks;
    });
    QObject::connect(&model, &SelectionModel::enhanceFinished, &loop, &QEventLoop::quit);
    bool started = false;
    QTimer::singleShot(0, [&] {
        sinceTick.start();
        clock.start();
        ticker.start();
        started = model.enhanceImagesParallel(ids, names, true);
        startCall = clock.elapsed();
        if (!started) loop.quit();
    });
    resetPeakResident();
    const double loadBefore = loadAverage();
    const std::clock_t cpuStart = std::clock();
    loop.exec();
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    ticker.stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!started) {
        std::printf("enhancejobs: the batch did not start\n");
        return;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    std::printf("enhancejobs: Enhance Plus batch of %d camera-like photographs of 6000x4000 (4:2:2, quality 92, "
                "%.1f MB each), %d worker(s) on %u hardware threads; load average %.1f before, %.1f after\n",
                kPhotos, megabytes / kPhotos, enhanceWorkerCount(hardware, kPhotos), hardware, loadBefore,
                loadAverage());
    std::printf("  written:              %d of %d\n", model.enhanceProgressDone() - int(model.enhanceFailures().size()),
                model.enhanceProgressTotal());
    std::printf("  in all:               %7.1f s (process CPU time %.1f s)\n", seconds, cpuSeconds);
    std::printf("  per image:            %7.2f s\n", seconds / kPhotos);
    std::printf("  peak memory (VmHWM):  %7.0f MB\n", peakResidentMb());
    std::printf("  starting the batch:   %7lld ms on the GUI thread\n", static_cast<long long>(startCall));
    std::printf("  longest GUI stall:    %7lld ms at %.1f s (gaps between 5 ms timer ticks; %d of %d over 50 ms; "
                "aim: none over 50 ms)\n",
                static_cast<long long>(longestGap), longestAt / 1000.0, over50, ticks);
    qunsetenv("KEEPFRAME_DATA_DIR");
}

}  // namespace keepframe::bench
