// The gallery page's images of each photograph, made once after its upload
// and stored beside it: "small" for the grid, "large" for the full-screen
// viewer. The page asks for either by kind; until one exists the photograph
// itself is sent in its place.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace keepframe::gallery {

class BlobStore;

struct RenditionSize {
    const char* kind;
    int longSide;  // pixels; a smaller photograph keeps its size
};
constexpr RenditionSize kRenditionSizes[] = {{"small", 640}, {"large", 1920}};

bool isRenditionKind(std::string_view kind);

struct RenditionsMade {
    std::string problem;   // empty when both were stored
    int width = 0, height = 0;  // the photograph's upright size (its EXIF orientation applied)
};

// Decodes the stored photograph at `source` with the engine's decoder and
// stores its renditions under the keys of `galleryId`/`fileId`; on failure
// the photograph stays servable as it is.
RenditionsMade makeRenditions(const BlobStore& store, const std::string& galleryId, const std::string& fileId,
                           const std::filesystem::path& source);

}  // namespace keepframe::gallery
