// keepframe-make-shoot DIR [--camera] [--count N] [--size WxH] [--from PHOTOS] [--seed N]
// --camera: camera-like frames (grain, 4:2:2, EXIF orientations, faces pasted from PHOTOS).
#include "shoot.h"
#include "terminal.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: keepframe-make-shoot DIR [--camera] [--count N] [--size WxH] [--from PHOTOS] [--seed N]\n"
    "  Writes a generated shoot into DIR: painted frames, or with --camera camera-like 4:2:2 JPEGs with grain,\n"
    "  EXIF orientations and faces pasted from the photographs in PHOTOS.";

}  // namespace

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    keepframe::useUtf8Console();
    const std::vector<std::string> args = keepframe::commandLineArguments();
    const std::string first = args.empty() ? "" : args[0];
    if (first == "--help" || first == "-h") {
        std::printf("%s\n", kUsage);
        return 0;
    }
    // The folder comes first; an option in its place is a mistake, never a folder's name.
    if (first.empty() || first[0] == '-') {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    keepframe::shootgen::ShootOptions options;
    const std::string& folder = first;
    bool camera = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--camera") {
            camera = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "keepframe-make-shoot: %s needs a value\n", arg.c_str());
            return 2;
        }
        const std::string& value = args[++i];
        if (arg == "--count") options.count = std::atoi(value.c_str());
        else if (arg == "--seed") options.seed = unsigned(std::atoi(value.c_str()));
        else if (arg == "--from") options.sourceFolder = value;
        else if (arg == "--size" && std::sscanf(value.c_str(), "%dx%d", &options.width, &options.height) == 2) {
        } else {
            std::fprintf(stderr, "keepframe-make-shoot: bad option %s %s\n", arg.c_str(), value.c_str());
            return 2;
        }
    }
    if (options.count < 0 || options.width < 16 || options.height < 16) {
        std::fprintf(stderr, "keepframe-make-shoot: count must be 0 or more and the size at least 16x16\n");
        return 2;
    }
    try {
        keepframe::shootgen::CameraShootOptions cameraOptions;
        cameraOptions.count = options.count;
        cameraOptions.width = options.width;
        cameraOptions.height = options.height;
        cameraOptions.photoFolder = options.sourceFolder;
        cameraOptions.seed = options.seed;
        const int n = camera ? keepframe::shootgen::generateCameraShoot(folder, cameraOptions)
                             : keepframe::shootgen::generateShoot(folder, options);
        std::printf("Wrote %d frames of %dx%d to %s\n", n, options.width, options.height, folder.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "keepframe-make-shoot: %s\n", e.what());
        return 1;
    }
    return 0;
}
