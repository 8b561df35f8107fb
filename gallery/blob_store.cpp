#include "blob_store.h"

#include "crypto.h"
#include "image_decode.h"
#include "paths.h"
#include "platform.h"
#include "renditions.h"

#include <stdexcept>
#include <system_error>

namespace keepframe::gallery {

namespace fs = std::filesystem;

namespace {

// The JPEG check reads the frame header from the first bytes: EXIF, ICC and
// XMP segments come before it and together stay well below this.
constexpr size_t kHeadBytes = 1024 * 1024;

// Whether `path` lies below `root` once both are written without "." and "..".
bool lexicallyInside(const fs::path& root, const fs::path& path) {
    const fs::path relative = path.lexically_normal().lexically_relative(root.lexically_normal());
    return !relative.empty() && *relative.begin() != ".." && relative.is_relative();
}

}  // namespace

bool isStoredKind(std::string_view kind) { return kind == "original" || kind == "compressed"; }

BlobStore::BlobStore(fs::path root) : root_(std::move(root)) {
    std::error_code error;
    fs::create_directories(root_, error);
    if (!fs::is_directory(root_)) throw std::runtime_error("cannot create the storage folder " + pathToUtf8(root_));
}

std::string BlobStore::keyFor(std::string_view galleryId, std::string_view fileId, std::string_view kind) {
    if (!isServiceId(galleryId) || !isServiceId(fileId) || !(isStoredKind(kind) || isRenditionKind(kind))) return {};
    return std::string(galleryId) + "/" + std::string(fileId) + "/" + std::string(kind) + ".jpg";
}

fs::path BlobStore::pathOf(std::string_view key) const {
    const size_t first = key.find('/'), second = key.find('/', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) return {};
    std::string_view file = key.substr(second + 1);
    if (file.size() < 5 || file.substr(file.size() - 4) != ".jpg") return {};
    const std::string remade =
        keyFor(key.substr(0, first), key.substr(first + 1, second - first - 1), file.substr(0, file.size() - 4));
    if (remade.empty() || remade != key || !nameStaysInside(key)) return {};
    const fs::path path = root_ / utf8ToPath(remade);
    return lexicallyInside(root_, path) ? path : fs::path();
}

bool BlobStore::removeGallery(std::string_view galleryId) const {
    if (!isServiceId(galleryId)) return false;
    const fs::path folder = root_ / utf8ToPath(std::string(galleryId));
    if (!lexicallyInside(root_, folder)) return false;
    std::error_code error;
    fs::remove_all(folder, error);  // removes links themselves, never what they point to
    return !error && !fs::exists(fs::symlink_status(folder));
}

std::vector<std::string> BlobStore::galleryFolders() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root_, error))
        names.push_back(pathToUtf8(entry.path().filename()));
    return names;
}

int BlobStore::removePartials() const {
    int removed = 0;
    std::error_code error;
    fs::recursive_directory_iterator it(root_, fs::directory_options::skip_permission_denied, error), end;
    std::vector<fs::path> partials;
    for (; !error && it != end; it.increment(error))
        if (it->path().extension() == ".part") partials.push_back(it->path());
    for (const fs::path& p : partials) removed += fs::remove(p, error) ? 1 : 0;
    return removed;
}

// ---------------------------------------------------------------- upload

BlobStore::Upload::Upload(const BlobStore& store, const std::string& key, bool makeFolders)
    : target_(store.pathOf(key)) {
    if (target_.empty()) {
        fail("not a storage key");
        return;
    }
    std::error_code error;
    if (makeFolders) fs::create_directories(target_.parent_path(), error);
    if (error) {
        fail("cannot create " + pathToUtf8(target_.parent_path()) + ": " + error.message());
        return;
    }
    temporary_ = target_;
    temporary_ += "." + randomHex(6) + ".part";
#ifdef _WIN32
    file_ = _wfopen(temporary_.c_str(), L"wbx");
#else
    file_ = std::fopen(temporary_.c_str(), "wbx");  // never through a file or link already there
#endif
    if (!file_) fail("cannot create " + pathToUtf8(temporary_));
}

BlobStore::Upload::~Upload() {
    if (file_) std::fclose(file_);
    if (!finished_ && !temporary_.empty()) {
        std::error_code error;
        fs::remove(temporary_, error);
    }
}

void BlobStore::Upload::fail(const std::string& why) {
    if (problem_.empty()) problem_ = why;
}

bool BlobStore::Upload::write(const char* data, size_t size) {
    if (!file_ || !problem_.empty()) return false;
    if (head_.size() < kHeadBytes) head_.append(data, std::min(size, kHeadBytes - head_.size()));
    if (std::fwrite(data, 1, size, file_) != size) {
        fail("writing the file failed (disk full?)");
        return false;
    }
    written_ += int64_t(size);
    return true;
}

bool BlobStore::Upload::finish(Checked& checked) {
    if (!file_ || !problem_.empty()) return false;
    const std::string notJpeg = jpegProblem(head_, checked.width, checked.height);
    if (!notJpeg.empty()) {
        refusedData_ = true;
        fail(notJpeg);
        return false;
    }
    const bool synced = syncFile(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!synced || !closed) {
        fail("writing the file failed (disk full?)");
        return false;
    }
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error) {
        fail("cannot give the file its name: " + error.message());
        return false;
    }
    finished_ = true;
    checked.bytes = written_;
    return true;
}

std::string jpegProblem(std::string_view head, int& width, int& height) {
    if (head.size() < 4 || uint8_t(head[0]) != 0xFF || uint8_t(head[1]) != 0xD8 || uint8_t(head[2]) != 0xFF)
        return "not a JPEG file";
    const auto size = readDeclaredSize(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    if (!size) return "not a JPEG file: no frame header";
    const std::string refused = frameSizeProblem(size->width, size->height);
    if (!refused.empty()) return "JPEG refused: " + refused;
    width = int(size->width);
    height = int(size->height);
    return {};
}

}  // namespace keepframe::gallery
