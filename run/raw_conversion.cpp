#include "raw_conversion.h"

#include "image_decode.h"

#include "jpeg_output.h"
#include "parallel_for.h"
#include "paths.h"
#include "scan.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
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
    fs::recursive_directory_iterator it(utf8ToPath(inputFolder), fs::directory_options::skip_permission_denied, ec);
    const fs::recursive_directory_iterator end;
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

// The JPEG bytes made from an embedded preview, before any metadata: a JPEG
// preview decoded and encoded again with the RAW-preview settings and the
// density stamp, or kept byte for byte when `keep` is set or it does not
// decode; a 3-colour bitmap encoded. False for any other preview. The pixels
// go through `image`, whose memory is reused when the size fits.
bool previewJpeg(const libraw_thumbnail_t& t, bool keep, std::vector<uint8_t>& out, cv::Mat& image) {
    if (t.tformat == LIBRAW_THUMBNAIL_JPEG && t.thumb && t.tlength > 0) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(t.thumb);
        out.assign(bytes, bytes + t.tlength);
        if (keep) return true;
        // A preview whose header declares a frame the program never decodes
        // (more than 200 megapixels, a degenerate size) is kept as it is.
        const std::optional<DeclaredSize> declared = readDeclaredSize(out.data(), out.size());
        if (!declared || !frameSizeProblem(declared->width, declared->height).empty()) return true;
        try {
            // The pixels as the preview stores them: the RAW's orientation,
            // copied with its EXIF, turns them upright. Turned here by an
            // orientation of the preview's own, they would be turned twice.
            if (cv::imdecode(out, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION, &image).empty()) image.release();
        } catch (const cv::Exception&) {
            image.release();
        }
        if (image.empty()) return true;  // a damaged preview is kept byte for byte
    } else if (t.tformat == LIBRAW_THUMBNAIL_BITMAP && t.tcolors == 3 && t.twidth > 0 && t.theight > 0 && t.thumb &&
               size_t(t.tlength) >= size_t(t.twidth) * t.theight * 3) {
        const cv::Mat rgb(t.theight, t.twidth, CV_8UC3, t.thumb);
        cv::cvtColor(rgb, image, cv::COLOR_RGB2BGR);
    } else {
        return false;
    }
    if (!encodeJpeg(image, rawPreviewJpegOptions(), out)) return false;
    applyDensityStamp(out, 300);
    return true;
}

// The preview's name inside the conversion folder for the RAW file `relative`:
// its name with ".jpg" for the extension. When another RAW file of the folder
// already has that name (DSC_0001.dng beside DSC_0001.CR2, or .DNG on a file
// system that tells them apart), the RAW extension is kept in the name
// (DSC_0001_CR2.jpg), then a number. `taken` holds the names given so far,
// lower-cased, as some file systems do not tell case apart.
std::string previewName(const std::string& relative, std::set<std::string>& taken) {
    const size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash + 1);
    const std::string file = relative.substr(folder.size());
    const size_t dot = file.rfind('.');
    const std::string stem = file.substr(0, dot), extension = dot == std::string::npos ? "" : file.substr(dot + 1);
    auto lower = [](std::string text) {
        for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::string name = folder + stem + ".jpg";
    for (int n = 1; taken.count(lower(name)); ++n)
        name = folder + stem + "_" + extension + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ".jpg";
    taken.insert(lower(name));
    return name;
}

// Removes the folders below `folder`, and `folder` itself, that hold no file,
// deepest first. Files are never removed: removing a folder that is not empty fails.
void removeEmptyFolders(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> folders;
    fs::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc) && !it->is_symlink(typeEc)) folders.push_back(it->path());
    }
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) fs::remove(*f, ec);
    fs::remove(folder, ec);
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
    cv::Mat preview;
    return convertRawFile(job, preview);
}

bool convertRawFile(const RawJob& job, cv::Mat& preview) {
    try {
        // LibRaw's state is large: keep it off the stack.
        auto raw = std::make_unique<LibRaw>();
#ifdef _WIN32
        const int opened = raw->open_file(utf8ToPath(job.source).wstring().c_str());
#else
        const int opened = raw->open_file(job.source.c_str());
#endif
        if (opened != LIBRAW_SUCCESS || raw->unpack_thumb() != LIBRAW_SUCCESS) return false;
        std::vector<uint8_t> jpeg;
        const bool made = previewJpeg(raw->imgdata.thumbnail, job.keepPreview, jpeg, preview);
        raw.reset();
        if (!made) return false;
        addRawPreviewMetadata(job.source, jpeg, 300);
        return writeFileBytes(job.target, jpeg);
    } catch (...) {
        return false;
    }
}

int convertRawFolder(const std::string& inputFolder, const std::string& conversionFolder, const RawProgress& progress,
                     std::vector<std::string>* failedFiles, bool keepPreviews, const std::atomic<bool>* stop) {
    const fs::path root = utf8ToPath(inputFolder), outRoot = utf8ToPath(conversionFolder);
    std::error_code ec;
    fs::create_directories(outRoot, ec);

    // Each RAW file by its enumerated path relative to the input folder: a
    // linked file keeps the name and place of its link, wherever it points.
    std::vector<std::pair<std::string, fs::path>> sources;
    walkRawFiles(inputFolder, [&](const fs::path& file) {
        sources.emplace_back(relativeName(file, root), file);
        return true;
    });
    std::sort(sources.begin(), sources.end());
    std::vector<RawJob> jobs;
    std::vector<std::string> names;
    std::set<std::string> targets;
    for (const auto& [name, file] : sources) {
        const fs::path target = outRoot / utf8ToPath(previewName(name, targets));
        fs::create_directories(target.parent_path(), ec);
        jobs.push_back({pathToUtf8(file), pathToUtf8(target), pathToUtf8(file.filename()), keepPreviews});
        names.push_back(name);
    }

    std::atomic<int> converted{0};
    if (!jobs.empty()) {
        const unsigned hw = std::thread::hardware_concurrency();
        const int threads = std::min<int>(hw == 0 ? 2 : int(hw), 4);
        enum Outcome : char { NotStarted, Converted, Failed };
        std::vector<Outcome> outcomes(jobs.size(), NotStarted);
        std::mutex progressMutex;
        int finished = 0;
        const auto makeTask = [&] {
            // This thread's, for all its files: a 24 MP preview takes 72 MB.
            return [&, preview = cv::Mat()](size_t i) mutable {
                outcomes[i] = convertRawFile(jobs[i], preview) ? Converted : Failed;
                if (outcomes[i] == Converted) converted.fetch_add(1);
                // Counted under the lock so that the reports arrive in order.
                const std::lock_guard<std::mutex> lock(progressMutex);
                ++finished;
                if (progress) progress(finished, int(jobs.size()), jobs[i].fileName);
            };
        };
        parallelFor(jobs.size(), threads, makeTask, stop);
        if (failedFiles)
            for (size_t i = 0; i < jobs.size(); ++i)
                if (outcomes[i] == Failed) failedFiles->push_back(names[i]);
    }
    removeEmptyFolders(outRoot);
    return converted.load();
}

}  // namespace keepframe
