// keepframe-gallery-bench: one delivery of 300 camera-like 24 MP JPEGs from
// the desktop client's delivery job (DeliveryManager, as the Deliver page runs
// it) to keepframe-gallery on loopback, once alone and once while 50 clients
// read the gallery pages and photographs of another gallery. Prints the time,
// the throughput and the service's peak memory (Linux: VmHWM of its process),
// and the readers' answers and latencies.
//   keepframe-gallery-bench [FILES]     (default 300)
#include "account_token.h"
#include "bench_common.h"
#include "delivery_manager.h"
#include "gallery_service.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace keepframe;
using json = nlohmann::json;

namespace {

constexpr int kReaders = 50;
constexpr int kDistinctFrames = 20;  // the camera-like frames made once; each is sent several times

struct FixedToken : AccountTokenProvider {
    QString token;
    QString accessToken() const override { return token; }
};

// The peak resident memory of process `pid` in MB (VmHWM); -1 where unknown.
double peakMb(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// `count` images for the job: the distinct frames linked under new names (copied where links cannot be made).
QVariantList images(const std::string& frames, const fs::path& folder, int count) {
    std::vector<fs::path> sources;
    for (const auto& e : fs::directory_iterator(frames))
        if (e.path().extension() == ".jpg" || e.path().extension() == ".JPG") sources.push_back(e.path());
    std::sort(sources.begin(), sources.end());
    fs::create_directories(folder);
    QVariantList list;
    for (int i = 0; i < count && !sources.empty(); ++i) {
        const fs::path target = folder / ("DSC_" + std::to_string(10000 + i) + ".jpg");
        std::error_code error;
        if (!fs::exists(target)) {
            fs::create_hard_link(sources[size_t(i) % sources.size()], target, error);
            if (error) fs::copy_file(sources[size_t(i) % sources.size()], target, error);
        }
        list.push_back(QVariantMap{{"filename", QString::fromStdString(target.filename().string())},
                                   {"sourcePath", QString::fromStdString(target.string())}});
    }
    return list;
}

struct Delivery {
    bool ok = false;
    double seconds = 0;
    int succeeded = 0;
    QString slug, reason;
};

Delivery deliver(DeliveryManager& manager, const QString& title, const QVariantList& list) {
    Delivery d;
    QElapsedTimer clock;
    clock.start();
    bool done = false;
    auto finished = QObject::connect(&manager, &DeliveryManager::deliveryFinished, &manager,
                                     [&](const QString&, const QString& slug, int succeeded, int) {
                                         d.ok = true;
                                         d.slug = slug;
                                         d.succeeded = succeeded;
                                         done = true;
                                     });
    auto failed = QObject::connect(&manager, &DeliveryManager::deliveryFailed, &manager, [&](const QString& why) {
        d.reason = why;
        done = true;
    });
    manager.startDelivery(title, "rose-garden", 100, list);
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    d.seconds = clock.elapsed() / 1000.0;
    QObject::disconnect(finished);
    QObject::disconnect(failed);
    return d;
}

struct ReaderStats {
    std::mutex mutex;
    std::vector<double> pageMs, photoMs;
    int64_t bytes = 0;
    int failures = 0;
};

// One gallery-page reader: the page, then one of its photographs as the
// viewer shows it (the large rendition), two seconds to look at it, and again.
void readGallery(const std::string& url, const std::string& slug, const std::string& cookie,
          const std::vector<std::string>& photos, const std::atomic<bool>& stop, ReaderStats& stats, int seed) {
    httplib::Client c(url);
    c.set_read_timeout(60);
    std::mt19937 pick{unsigned(seed)};
    const httplib::Headers session{{"Cookie", cookie}};
    while (!stop) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto page = c.Get(("/gallery.html?g=" + slug).c_str(), session);
        const auto t1 = std::chrono::steady_clock::now();
        const auto photo = c.Get(photos[pick() % photos.size()].c_str(), session);
        const auto t2 = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(stats.mutex);
            if (!page || page->status != 200 || !photo || photo->status != 200) {
                ++stats.failures;
            } else {
                stats.pageMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                stats.photoMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
                stats.bytes += int64_t(photo->body.size() + page->body.size());
            }
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const std::string frames = bench::cachedCameraShoot(kDistinctFrames, 6000, 4000);
    const fs::path work = fs::path(bench::cacheFolder()) / "gallery-bench";
    const QVariantList list = images(frames, work / "shoot", count);
    int64_t total = 0;
    for (const QVariant& v : list) total += QFileInfo(v.toMap()["sourcePath"].toString()).size();
    std::printf("gallery: %d files, %.1f MB (%d distinct 6000x4000 camera-like frames)\n", int(list.size()),
                double(total) / 1e6, kDistinctFrames);

    for (const bool withReaders : {false, true}) {
        fs::remove_all(work / "service");
        GalleryService service;
        if (!service.start(QString::fromStdString((work / "service").string()))) {
            std::fprintf(stderr, "keepframe-gallery-bench: %s\n", service.error().toUtf8().constData());
            return 1;
        }
        FixedToken token;
        token.token = service.token();
        DeliveryManager manager;
        manager.setBaseUrl(service.url());
        manager.setTokenProvider(&token);

        std::atomic<bool> stop{false};
        ReaderStats stats;
        std::vector<std::thread> readers;
        if (withReaders) {
            // The readers' gallery: 20 photographs delivered first.
            const Delivery first = deliver(manager, "Readers", list.mid(0, kDistinctFrames));
            if (!first.ok) {
                std::fprintf(stderr, "keepframe-gallery-bench: %s\n", first.reason.toUtf8().constData());
                return 1;
            }
            const std::string url = service.url().toStdString(), slug = first.slug.toStdString();
            httplib::Client c(url);
            const auto login =
                c.Post(("/gallery.html?g=" + slug).c_str(), httplib::Params{{"password", "rose-garden"}});
            const std::string cookie = login ? login->get_header_value("Set-Cookie") : "";
            const auto listed = c.Get(("/gallery/" + slug + "/photos.json").c_str(),
                                      {{"Cookie", cookie.substr(0, cookie.find(';'))}});
            std::vector<std::string> photos;
            const json list = listed ? json::parse(listed->body, nullptr, false) : json();
            if (list.is_object())
                for (const json& p : list["photos"])
                    photos.push_back("/gallery/" + slug + "/image/" + p["file_id"].get<std::string>() + "/large");
            if (photos.empty()) {
                std::fprintf(stderr, "keepframe-gallery-bench: the readers' gallery shows no photographs\n");
                return 1;
            }
            for (int i = 0; i < kReaders; ++i)
                readers.emplace_back(readGallery, url, slug, cookie.substr(0, cookie.find(';')), photos,
                                     std::cref(stop), std::ref(stats), i);
        }
        const double before = peakMb(service.pid());
        const Delivery d = deliver(manager, "Benchmark", list);
        stop = true;
        for (std::thread& t : readers) t.join();
        const double peak = peakMb(service.pid());
        if (!d.ok) {
            std::fprintf(stderr, "keepframe-gallery-bench: %s\n", d.reason.toUtf8().constData());
            return 1;
        }
        std::printf("\n%s\n", withReaders ? "delivery with 50 gallery readers" : "delivery alone");
        std::printf("  %d of %d delivered in %.1f s: %.1f files/s, %.1f MB/s\n", d.succeeded, int(list.size()),
                    d.seconds, d.succeeded / d.seconds, double(total) / 1e6 / d.seconds);
        std::printf("  service peak memory: %.1f MB (%.1f MB before this delivery)\n", peak, before);
        if (withReaders)
            std::printf("  readers: %zu pages and %zu photographs (%.1f MB) read, %d failed; page median %.0f ms, "
                        "p95 %.0f ms; photograph median %.0f ms, p95 %.0f ms\n",
                        stats.pageMs.size(), stats.photoMs.size(), double(stats.bytes) / 1e6, stats.failures,
                        percentile(stats.pageMs, 0.5), percentile(stats.pageMs, 0.95), percentile(stats.photoMs, 0.5),
                        percentile(stats.photoMs, 0.95));
        std::fflush(stdout);
        service.stop();
    }
    fs::remove_all(work / "service");
    return 0;
}
