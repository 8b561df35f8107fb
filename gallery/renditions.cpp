#include "renditions.h"

#include "blob_store.h"
#include "image_decode.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <fstream>

namespace keepframe::gallery {

namespace {

constexpr int kJpegQuality = 85;
// A photograph larger than this on disk is not read into memory to be shrunk.
constexpr std::uintmax_t kLargestSource = 256ull << 20;

}  // namespace

bool isRenditionKind(std::string_view kind) {
    return std::any_of(std::begin(kRenditionSizes), std::end(kRenditionSizes),
                       [&](const RenditionSize& s) { return kind == s.kind; });
}

RenditionsMade makeRenditions(const BlobStore& store, const std::string& galleryId, const std::string& fileId,
                           const std::filesystem::path& source) {
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(source, error);
    if (error) return {"the photograph cannot be read"};
    if (bytes > kLargestSource) return {"the photograph is too large to shrink"};
    std::vector<uint8_t> data(size_t(bytes), 0);
    std::ifstream in(source, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size())))
        return {"the photograph cannot be read"};
    const auto declared = readDeclaredSize(data.data(), data.size());
    if (!declared) return {"the photograph has no readable size"};
    int largest = 0;
    for (const RenditionSize& s : kRenditionSizes) largest = std::max(largest, s.longSide);
    // The decoder's reduction, as far as the largest rendition's sharpness allows.
    int reduction = 1;
    while (reduction < 8 && std::max(declared->width, declared->height) / (reduction * 2) >= largest) reduction *= 2;
    const DecodedImage decoded = decodeImage({data.data(), data.size()}, reduction);
    if (decoded.status != DecodeStatus::Ok && decoded.status != DecodeStatus::Damaged)
        return {"the photograph cannot be decoded: " + decoded.problem};
    data.clear();
    data.shrink_to_fit();
    for (const RenditionSize& s : kRenditionSizes) {
        const cv::Mat& full = decoded.image;
        const double scale = std::min(1.0, double(s.longSide) / std::max(full.cols, full.rows));
        cv::Mat shrunk;
        if (scale < 1.0)
            cv::resize(full, shrunk, cv::Size(), scale, scale, cv::INTER_AREA);
        else
            shrunk = full;
        std::vector<uint8_t> jpeg;
        if (!cv::imencode(".jpg", shrunk, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality}))
            return {"the rendition cannot be encoded"};
        BlobStore::Upload upload(store, BlobStore::keyFor(galleryId, fileId, s.kind), false);
        BlobStore::Checked checked;
        if (!upload.write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()) || !upload.finish(checked))
            return {"the rendition cannot be stored: " + upload.problem()};
    }
    return {"", decoded.frameSize.width, decoded.frameSize.height};
}

}  // namespace keepframe::gallery
