// A RAW shoot for the cull: DNG files whose embedded previews show one face,
// as the cull converts them into the shoot's "_JPG" folder.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "dng_writer.h"
#include "painted_frames.h"
#include "temp_dir.h"

namespace keepframe::testing {

// Writes `files` DNG files DSC_2000.dng, DSC_2001.dng, … into `folder` of `dir`.
inline void writeRawShoot(const TempDir& dir, const std::string& folder, int files) {
    cv::Mat full;
    cv::resize(analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 110), full, {1280, 960}, 0, 0, cv::INTER_NEAREST);
    DngPreview preview;
    cv::imencode(".jpg", full, preview.jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
    preview.width = full.cols;
    preview.height = full.rows;
    const std::vector<uint8_t> bytes = makeDng(preview);
    for (int i = 0; i < files; ++i)
        std::ofstream(dir.file(folder + "/DSC_" + std::to_string(2000 + i) + ".dng"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace keepframe::testing
