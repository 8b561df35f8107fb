// The stored photographs: one folder per gallery below the storage folder,
// "<gallery>/<file>/<kind>.jpg". A file arrives under a temporary name
// ending in ".part" and takes its own name only when it is complete and
// checked, so a reader never sees half a photograph and a crash leaves
// nothing but a ".part" file, which the next start removes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace keepframe::gallery {

// The kinds of file a gallery stores for one photograph.
bool isStoredKind(std::string_view kind);

class BlobStore {
public:
    // `root` is created when missing. Throws std::runtime_error when it cannot be.
    explicit BlobStore(std::filesystem::path root);

    const std::filesystem::path& root() const { return root_; }

    // "<gallery>/<file>/<kind>.jpg" for identifiers the service made; empty
    // when any part is not such an identifier or kind (a stored kind or a
    // rendition's, renditions.h).
    static std::string keyFor(std::string_view galleryId, std::string_view fileId, std::string_view kind);
    // The file of a key made by keyFor, inside the storage folder; empty for
    // any other text (the key is checked again, whatever its source).
    std::filesystem::path pathOf(std::string_view key) const;

    // Removes a gallery's folder with everything in it (links are removed,
    // never followed). True when nothing of it is left.
    bool removeGallery(std::string_view galleryId) const;
    // The gallery folders present, by name.
    std::vector<std::string> galleryFolders() const;
    // Removes the ".part" files an interrupted upload left; how many.
    int removePartials() const;

    struct Checked {
        int64_t bytes = 0;
        int width = 0, height = 0;
    };

    // One file arriving in pieces. Nothing is visible under the key until
    // finish() succeeds; destroying an unfinished upload removes its
    // temporary file.
    class Upload {
    public:
        // `makeFolders`: create the key's folders when missing. A rendition
        // passes false, so that it never brings back the folder of a gallery
        // deleted while it was being made.
        Upload(const BlobStore& store, const std::string& key, bool makeFolders = true);
        ~Upload();
        Upload(const Upload&) = delete;
        Upload& operator=(const Upload&) = delete;

        // False once opening or any write failed (problem() says why).
        bool write(const char* data, size_t size);
        // Checks that the bytes are a JPEG within the decoder's limits, flushes
        // them to the disk and gives them the key's name (replacing an earlier
        // upload of the same key). False, with problem() set, when anything fails.
        bool finish(Checked& checked);
        int64_t written() const { return written_; }
        const std::string& problem() const { return problem_; }
        // True when the problem lies with the data (not a JPEG), not the disk.
        bool refusedData() const { return refusedData_; }

    private:
        void fail(const std::string& why);

        std::filesystem::path target_, temporary_;
        std::FILE* file_ = nullptr;
        int64_t written_ = 0;
        std::string head_;  // the first bytes, kept for the JPEG check
        std::string problem_;
        bool refusedData_ = false;
        bool finished_ = false;
    };

private:
    std::filesystem::path root_;
};

// Why `head` (the first bytes of a file) is not a JPEG the service stores:
// not JPEG data, no readable frame header, or a size the decoder refuses;
// empty when it is one. The frame's width and height are set.
std::string jpegProblem(std::string_view head, int& width, int& height);

}  // namespace keepframe::gallery
