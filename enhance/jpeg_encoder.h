// JPEG encoding with full control of chroma sampling. The OpenCV version
// shipped with the supported platforms always subsamples colour (4:2:0);
// photographs that leave the program are written 4:4:4 through libjpeg.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace keepframe {

struct JpegOptions {
    int quality = 95;
    bool fullChroma = true;  // 4:4:4
    bool optimize = false;
    bool progressive = false;
    bool halfChroma = false;  // without fullChroma: colour halved across only (4:2:2, as cameras write)
    int restartRows = 0;      // a restart marker every N rows of blocks, as some cameras write; 0: none
};

// Encodes an 8-bit BGR (or grey) image; false on any encoder error.
bool encodeJpeg(const cv::Mat& image, const JpegOptions& options, std::vector<uint8_t>& out);

// The program's settings: enhanced images (quality 98, 4:4:4, optimised),
// RAW previews (quality 100, baseline, 4:4:4) and delivery copies (98, 4:4:4).
JpegOptions enhancedJpegOptions();
JpegOptions rawPreviewJpegOptions();
JpegOptions deliveryCopyJpegOptions();

}  // namespace keepframe
