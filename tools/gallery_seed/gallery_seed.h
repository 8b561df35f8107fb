// A delivery to a running keepframe-gallery as the desktop client makes one:
// each photograph uploaded as it is, with the aligned crops of the faces the
// engine's detector finds in it. For the gallery page's browser tests, its
// screenshots and the face search's quality bench.
#pragma once

#include <string>
#include <vector>

namespace keepframe::gallery {

struct SeedOptions {
    std::string url;      // the service's origin, http://127.0.0.1:PORT
    std::string token;    // a photographer's token
    std::string modelsDir;
    std::string title = "Gallery";
    std::string password;
    bool faceSearch = false;
    bool allowDownload = true;
};

struct SeededFile {
    std::string fileId, filename, path;
    int faces = 0;
};

struct Seeded {
    std::string galleryId, slug;
    std::vector<SeededFile> files;
};

// Delivers `photos` (the first is the cover); each is named "<folder>-<name>"
// after its folder and file name. Throws std::runtime_error naming the step
// that failed.
Seeded seedGallery(const SeedOptions& options, const std::vector<std::string>& photos);

}  // namespace keepframe::gallery
