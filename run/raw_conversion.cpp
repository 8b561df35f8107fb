#include "raw_conversion.h"

#include "jpeg_output.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <libraw/libraw.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace keepframe {

namespace {

// Calls `visit` for every RAW file below the folder, not descending into the
// conversion folder; stops when `visit` returns false.
template <typename Visit>
void walkRawFiles(const std::string& inputFolder, Visit&& visit) {
    const std::string skip = conversionFolderName(inputFolder);
    std::error_code ec;
    fs::recursive_directory_iterator it(utf8ToPath(inputFolder), fs::directory_options::skip_permission_denied, ec), end;
    if (ec) return;
    for (; it != end; it.increment(ec)) {
        if (ec) return;
        std::error_code typeEc;
        if (it->is_directory(typeEc)) {
            if (pathToUtf8(it->path().filename()) == skip) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(typeEc)) continue;
        if (!isRawExtension(fileExtension(pathToUtf8(it->path().filename())))) continue;
        if (!visit(it->path())) return;
    }
}

cv::Mat decodePreview(const libraw_thumbnail_t& t, bool& isJpeg, std::vector<uint8_t>& jpegBytes) {
    isJpeg = false;
    if (t.tformat == LIBRAW_THUMBNAIL_JPEG && t.thumb && t.tlength > 0) {
        isJpeg = true;
        jpegBytes.assign(reinterpret_cast<const uint8_t*>(t.thumb), reinterpret_cast<const uint8_t*>(t.thumb) + t.tlength);
        try {
            return cv::imdecode(jpegBytes, cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
            return {};
        }
    }
    if (t.tformat == LIBRAW_THUMBNAIL_BITMAP && t.tcolors == 3 && t.twidth > 0 && t.theight > 0 && t.thumb &&
        size_t(t.tlength) >= size_t(t.twidth) * t.theight * 3) {
        const cv::Mat rgb(t.theight, t.twidth, CV_8UC3, t.thumb);
        cv::Mat bgr;
        cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
        return bgr;
    }
    return {};
}

}  // namespace

bool hasRawFiles(const std::string& inputFolder) {
    bool found = false;
    walkRawFiles(inputFolder, [&](const fs::path&) {
        found = true;
        return false;
    });
    return found;
}

int countRawFiles(const std::string& inputFolder) {
    int n = 0;
    walkRawFiles(inputFolder, [&](const fs::path&) {
        ++n;
        return true;
    });
    return n;
}

bool convertRawFile(const RawJob& job) {
    try {
        // LibRaw's state is large: keep it off the stack.
        auto raw = std::make_unique<LibRaw>();
#ifdef _WIN32
        const int opened = raw->open_file(utf8ToPath(job.source).wstring().c_str());
#else
        const int opened = raw->open_file(job.source.c_str());
#endif
        if (opened != LIBRAW_SUCCESS || raw->unpack_thumb() != LIBRAW_SUCCESS) return false;

        bool isJpeg = false;
        std::vector<uint8_t> jpegBytes;
        const cv::Mat preview = decodePreview(raw->imgdata.thumbnail, isJpeg, jpegBytes);
        bool written = false;
        if (!preview.empty()) written = writeJpegWithDensity(job.target, preview, 300);
        else if (isJpeg) written = writeBytes(job.target, jpegBytes);  // a damaged preview is kept byte for byte
        raw->recycle();
        if (!written) return false;
        copyExifWithResolution(job.source, job.target, 300);
        restampDensity(job.target, 300);
        return true;
    } catch (...) {
        return false;
    }
}

int convertRawFolder(const std::string& inputFolder, const std::string& conversionFolder, const RawProgress& progress) {
    std::error_code ec;
    fs::create_directories(utf8ToPath(conversionFolder), ec);

    std::vector<RawJob> jobs;
    const fs::path root = utf8ToPath(inputFolder);
    const fs::path canonicalRoot = fs::canonical(root, ec);
    const bool rootOk = !ec;
    walkRawFiles(inputFolder, [&](const fs::path& file) {
        std::error_code e;
        fs::path relative;
        if (rootOk) {
            const fs::path canonicalFile = fs::canonical(file, e);
            if (!e) relative = canonicalFile.lexically_relative(canonicalRoot);
        }
        if (relative.empty()) relative = file.filename();
        fs::path target = utf8ToPath(conversionFolder) / relative;
        target.replace_extension(".jpg");
        fs::create_directories(target.parent_path(), e);
        jobs.push_back({pathToUtf8(file), pathToUtf8(target), pathToUtf8(file.filename())});
        return true;
    });
    if (jobs.empty()) return 0;

    const unsigned hw = std::thread::hardware_concurrency();
    const int threads = std::min<int>(std::min<int>(hw == 0 ? 2 : int(hw), 4), int(jobs.size()));
    std::atomic<size_t> next{0};
    std::atomic<int> finished{0}, converted{0};
    std::mutex progressMutex;
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            const bool ok = convertRawFile(jobs[i]);
            if (ok) converted.fetch_add(1);
            // Counted under the lock so that the reports arrive in order.
            std::lock_guard<std::mutex> lock(progressMutex);
            const int done = finished.fetch_add(1) + 1;
            if (progress) progress(done, int(jobs.size()), jobs[i].fileName);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (auto& t : pool) t.join();
    return converted.load();
}

}  // namespace keepframe
