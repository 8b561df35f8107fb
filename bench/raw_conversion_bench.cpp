// RAW input on a shoot of DNG files whose previews are camera-like 24 MP JPEGs
// (embedded byte for byte): the conversion's steps on one thread, the disk
// each mode writes, and the cull of the shoot in both modes against its floor
// (extracting the previews as they are and culling them).
#include "bench_common.h"
#include "bench_sections.h"

#include "cull.h"
#include "dng_writer.h"
#include "jpeg_output.h"
#include "paths.h"
#include "raw_conversion.h"
#include "raw_names.h"
#include "scan.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include <libraw/libraw.h>
#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace keepframe::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 24;

// DNG files made once from the cached shoot, each holding one of its frames
// as a camera writes its preview: grain, 4:2:2, quality 92 (about 8 MB).
std::string cachedDngShoot() {
    const fs::path folder = utf8ToPath(cacheFolder()) / ("dng-camera-" + std::to_string(kFrames) + "x6000x4000");
    if (fs::exists(folder / ".complete")) return pathToUtf8(folder);
    EngineConfig source;
    source.inputFolder = cachedShoot(60, 6000, 4000);
    const auto files = scanInputImages(source);
    std::printf("Making %d DNG files into %s (once)...\n", kFrames, pathToUtf8(folder).c_str());
    std::fflush(stdout);
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < kFrames && size_t(i) < files.size(); ++i) {
        testing::DngPreview preview;
        cv::Mat frame = cv::imread(files[size_t(i)].fullPath, cv::IMREAD_COLOR);
        if (frame.empty()) throw std::runtime_error("cannot read " + files[size_t(i)].fullPath);
        cv::Mat grain(frame.size(), CV_16SC3);
        cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(7));
        frame.convertTo(frame, CV_16SC3);
        cv::Mat(frame + grain).convertTo(frame, CV_8UC3);
        if (!encodeJpeg(frame, JpegOptions{92, false, false, false, true}, preview.jpeg))
            throw std::runtime_error("cannot encode a preview");
        preview.width = 6000;
        preview.height = 4000;
        char when[32];
        std::snprintf(when, sizeof when, "2024:06:01 14:%02d:%02d", i / 60, i % 60);
        preview.dateTime = when;
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.dng", i + 1);
        if (!writeFileBytes(pathToUtf8(folder / name), testing::makeDng(preview)))
            throw std::runtime_error("cannot write " + pathToUtf8(folder / name));
    }
    if (!writeFileBytes(pathToUtf8(folder / ".complete"), {})) throw std::runtime_error("cannot finish the shoot");
    return pathToUtf8(folder);
}

std::vector<std::string> rawFiles(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(utf8ToPath(folder)))
        if (isRawExtension(fileExtension(pathToUtf8(e.path().filename())))) out.push_back(pathToUtf8(e.path()));
    std::sort(out.begin(), out.end());
    return out;
}

uintmax_t folderBytes(const std::string& folder) {
    uintmax_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(utf8ToPath(folder), ec))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

// Milliseconds per file of each step of the conversion, one thread.
void conversionSteps(const std::vector<std::string>& files, const std::string& scratch) {
    double open = 0, decode = 0, encode = 0, exif = 0, write = 0, oldPasses = 0, keepMetadata = 0;
    int sameBytes = 0;  // files the single write gives exactly as the three passes did
    const int n = std::min<int>(6, int(files.size()));
    for (int i = 0; i < n; ++i) {
        const std::string& file = files[size_t(i)];
        const std::string target = scratch + "/step.jpg";
        auto t = Clock::now();
        auto raw = std::make_unique<LibRaw>();
        if (raw->open_file(file.c_str()) != LIBRAW_SUCCESS || raw->unpack_thumb() != LIBRAW_SUCCESS)
            throw std::runtime_error("LibRaw cannot open " + file);
        const auto& thumb = raw->imgdata.thumbnail;
        const auto* bytes = reinterpret_cast<const uint8_t*>(thumb.thumb);
        const std::vector<uint8_t> preview(bytes, bytes + thumb.tlength);
        open += secondsSince(t);
        t = Clock::now();
        const cv::Mat image = cv::imdecode(preview, cv::IMREAD_COLOR);
        decode += secondsSince(t);
        t = Clock::now();
        std::vector<uint8_t> jpeg;
        encodeJpeg(image, rawPreviewJpegOptions(), jpeg);
        applyDensityStamp(jpeg, 300);
        encode += secondsSince(t);
        t = Clock::now();
        std::vector<uint8_t> withExif = jpeg;
        addRawPreviewMetadata(file, withExif, 300);
        exif += secondsSince(t);
        t = Clock::now();
        writeFileBytes(target, withExif);
        write += secondsSince(t);
        // The two passes over the written file that the single write replaces.
        writeFileBytes(target, jpeg);
        t = Clock::now();
        copyExifWithResolution(file, target, 300);
        restampDensity(target, 300);
        oldPasses += secondsSince(t);
        std::vector<uint8_t> threePasses;
        sameBytes += readFileBytes(target, threePasses) && threePasses == withExif;
        t = Clock::now();
        std::vector<uint8_t> kept = preview;
        addRawPreviewMetadata(file, kept, 300);
        keepMetadata += secondsSince(t);
    }
    // Whole files through convertRawFile, both ways.
    double converted = 0, keptWhole = 0, cpu = 0;  // cpu: processor seconds, below the wall time under load
    for (int i = 0; i < n; ++i) {
        auto t = Clock::now();
        const std::clock_t cpuStart = std::clock();
        if (!convertRawFile({files[size_t(i)], scratch + "/whole.jpg", "whole", false}))
            throw std::runtime_error("cannot convert " + files[size_t(i)]);
        cpu += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        converted += secondsSince(t);
        t = Clock::now();
        if (!convertRawFile({files[size_t(i)], scratch + "/kept.jpg", "kept", true}))
            throw std::runtime_error("cannot convert " + files[size_t(i)]);
        keptWhole += secondsSince(t);
    }
    const double ms = 1000.0 / n;
    std::printf("  one thread, ms per file (%d files):\n", n);
    std::printf("    open and unpack the preview %6.1f\n", open * ms);
    std::printf("    decode                      %6.1f\n", decode * ms);
    std::printf("    encode, density             %6.1f\n", encode * ms);
    std::printf("    EXIF and density in memory  %6.1f\n", exif * ms);
    std::printf("    write once                  %6.1f\n", write * ms);
    std::printf("    convertRawFile              %6.1f  (goal: 550 or less; processor time about %.1f; the passes "
                "over the written file it no longer makes: %.1f)\n",
                converted * ms, cpu * ms, oldPasses * ms);
    std::printf("    convertRawFile, preview kept %5.1f  (of which EXIF and density %.1f)\n", keptWhole * ms,
                keepMetadata * ms);
    std::printf("  the single write gives the bytes of the three passes for %d of %d files\n", sameBytes, n);
}

// Seconds to extract every preview as it is into `folder`, on the
// conversion's threads: the floor of any conversion.
double extractPreviews(const std::vector<std::string>& files, const std::string& folder) {
    fs::create_directories(utf8ToPath(folder));
    const auto start = Clock::now();
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    const unsigned hw = std::thread::hardware_concurrency();
    for (unsigned t = 0; t < std::min(hw == 0 ? 2u : hw, 4u); ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = next.fetch_add(1)) < files.size();) {
                auto raw = std::make_unique<LibRaw>();
                if (raw->open_file(files[i].c_str()) != LIBRAW_SUCCESS || raw->unpack_thumb() != LIBRAW_SUCCESS)
                    continue;
                const auto& thumb = raw->imgdata.thumbnail;
                const auto* bytes = reinterpret_cast<const uint8_t*>(thumb.thumb);
                const fs::path name = utf8ToPath(files[i]).filename().replace_extension(".jpg");
                writeFileBytes(pathToUtf8(utf8ToPath(folder) / name), {bytes, bytes + thumb.tlength});
            }
        });
    for (auto& t : pool) t.join();
    return secondsSince(start);
}

double cullSeconds(EngineConfig config, const std::string& folder, int& frames) {
    config.inputFolder = folder;
    const auto start = Clock::now();
    frames = runCull(config).totalInput;
    return secondsSince(start);
}

}  // namespace

void rawConversionBench() {
    const std::string shoot = cachedDngShoot();
    const auto files = rawFiles(shoot);
    const auto stamp = std::to_string(Clock::now().time_since_epoch().count());
    const fs::path scratch = fs::temp_directory_path() / ("keepframe-raw-bench-" + stamp);
    fs::create_directories(scratch);
    std::printf("raw: %zu DNG files with 6000x4000 JPEG previews (%.1f MB each on average) in %s\n", files.size(),
                double(folderBytes(shoot)) / double(files.size()) / 1e6, shoot.c_str());
    conversionSteps(files, pathToUtf8(scratch));

    const std::string models = benchModelsFolder();
    EngineConfig config = realModelConfig(models);
    if (!fs::exists(utf8ToPath(config.detectorModelPath))) config.detectorModelPath.clear();
    config.verbose = false;

    // The floor, then each mode: conversion plus the cull of its output.
    const std::string extracted = pathToUtf8(scratch / "extracted");
    int frames = 0;
    const double extract = extractPreviews(files, extracted);
    const double floorCull = cullSeconds(config, extracted, frames);
    const double floor = extract + floorCull;
    const uintmax_t previewBytes = folderBytes(extracted);
    std::printf("  floor: extract %.2f s + cull %.2f s = %.2f frames/s\n", extract, floorCull, frames / floor);
    for (const bool keep : {true, false}) {
        const std::string out = pathToUtf8(scratch / (keep ? "kept" : "converted"));
        auto start = Clock::now();
        const int converted = convertRawFolder(shoot, out, {}, nullptr, keep);
        const double convert = secondsSince(start);
        const double cull = cullSeconds(config, out, frames);
        const uintmax_t written = folderBytes(out);
        std::printf("  %-16s convert %.2f s + cull %.2f s = %.2f frames/s, %.2fx the floor; %d converted; "
                    "%.1f GB written per 1,000 RAW files (the previews themselves: %.1f GB)\n",
                    keep ? "previews kept:" : "re-encoded:", convert, cull, frames / (convert + cull),
                    (convert + cull) / floor, converted, double(written) / double(files.size()) * 1000 / 1e9,
                    double(previewBytes) / double(files.size()) * 1000 / 1e9);
    }
    std::printf("  culls %s\n", config.detectorModelPath.empty() ? "without face models (none built)"
                                                                 : ("with the real models in " + models).c_str());
    std::error_code ec;
    fs::remove_all(scratch, ec);
}

}  // namespace keepframe::bench
