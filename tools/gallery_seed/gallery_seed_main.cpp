// keepframe-gallery-seed: delivers photographs to a running keepframe-gallery
// as the desktop client does, and prints the gallery as JSON
// ({"gallery_id", "slug", "files": [{"file_id", "filename", "path", "faces"}]}).
//   keepframe-gallery-seed --url URL --token TOKEN --password P [--title T]
//       [--models DIR --face-search] [--no-download] PHOTO...
#include "gallery_seed.h"

#include <nlohmann/json.hpp>

#include <iostream>

int main(int argc, char** argv) {
    keepframe::gallery::SeedOptions options;
    std::vector<std::string> photos;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* value = a == "--url"        ? &options.url
                             : a == "--token"    ? &options.token
                             : a == "--password" ? &options.password
                             : a == "--title"    ? &options.title
                             : a == "--models"   ? &options.modelsDir
                                                 : nullptr;
        if (value) {
            if (i + 1 >= args.size()) {
                std::cerr << "keepframe-gallery-seed: " << a << " needs a value\n";
                return 2;
            }
            *value = args[++i];
        } else if (a == "--face-search") {
            options.faceSearch = true;
        } else if (a == "--no-download") {
            options.allowDownload = false;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "keepframe-gallery-seed: unknown option " << a << "\n";
            return 2;
        } else {
            photos.push_back(a);
        }
    }
    if (options.url.empty() || options.token.empty() || options.password.empty() || photos.empty() ||
        (options.faceSearch && options.modelsDir.empty())) {
        std::cerr << "usage: keepframe-gallery-seed --url URL --token TOKEN --password P [--title T] "
                     "[--models DIR --face-search] [--no-download] PHOTO...\n";
        return 2;
    }
    try {
        const keepframe::gallery::Seeded seeded = keepframe::gallery::seedGallery(options, photos);
        nlohmann::json files = nlohmann::json::array();
        for (const auto& f : seeded.files)
            files.push_back({{"file_id", f.fileId}, {"filename", f.filename}, {"path", f.path}, {"faces", f.faces}});
        std::cout << nlohmann::json{{"gallery_id", seeded.galleryId}, {"slug", seeded.slug}, {"files", files}}.dump()
                  << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "keepframe-gallery-seed: " << e.what() << "\n";
        return 1;
    }
}
