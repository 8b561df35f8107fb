// Camera RAW input: each RAW file becomes a JPEG made from the preview image
// embedded in it, in a folder of its own inside the input folder. No RAW
// decoding takes place.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "raw_names.h"

namespace keepframe {

// RAW files below the folder, never looking inside the conversion folder.
bool hasRawFiles(const std::string& inputFolder);
int countRawFiles(const std::string& inputFolder);

struct RawJob {
    std::string source;
    std::string target;
    std::string fileName;
    // A JPEG preview is kept as the camera wrote it, with the RAW's EXIF and
    // the density added, instead of being decoded and encoded again.
    bool keepPreview = false;
};

// One file: its embedded preview as a 300 dpi JPEG with the RAW's EXIF. A
// JPEG preview is decoded and encoded again at full quality unless the job
// keeps it; one that does not decode is always kept. The target is written
// once, replaced whole.
bool convertRawFile(const RawJob& job);
// The same, decoding the preview into `preview`, which a conversion thread
// keeps from file to file so that its memory is taken once.
bool convertRawFile(const RawJob& job, cv::Mat& preview);

using RawProgress = std::function<void(int done, int total, const std::string& fileName)>;

// Converts every RAW file on up to four threads, mirroring sub-folders inside
// the conversion folder; returns how many were converted. The callback is
// called after each file, one call at a time. Files are named by their path
// below the input folder (a linked file by its link; links to folders are not
// followed); two RAW files of one name but different extensions get distinct
// previews (DSC_0001.jpg, DSC_0001_CR2.jpg). `failedFiles`, when given,
// receives the relative names of the files not converted. Folders of the
// conversion folder that stay empty, and the folder itself, are removed.
// `keepPreviews` keeps the JPEG previews as the cameras wrote them (RawJob).
// Once `stop` is set no further file is started; the files not converted
// then are not named in `failedFiles`.
int convertRawFolder(const std::string& inputFolder, const std::string& conversionFolder, const RawProgress& progress,
                     std::vector<std::string>* failedFiles = nullptr, bool keepPreviews = false,
                     const std::atomic<bool>* stop = nullptr);

}  // namespace keepframe
