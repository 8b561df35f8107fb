#include "analysis.h"

#include "exif.h"
#include "measures.h"
#include "paths.h"
#include "phash.h"

#include <algorithm>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {
namespace {

constexpr float kUnmeasuredExpression = 0.75f;

std::vector<uint8_t> encodeThumbnail(const cv::Mat& analysis, int longSide) {
    const int side = longSide > 0 ? longSide : 400;
    const double s = double(side) / std::max(analysis.cols, analysis.rows);
    cv::Mat thumb;
    if (s < 1.0) cv::resize(analysis, thumb, cv::Size(), s, s, cv::INTER_AREA);
    else thumb = analysis;
    std::vector<uint8_t> jpeg;
    try {
        if (!cv::imencode(".jpg", thumb, jpeg, {cv::IMWRITE_JPEG_QUALITY, 85})) jpeg.clear();
    } catch (const cv::Exception&) {
        jpeg.clear();
    }
    return jpeg;
}

cv::Mat decode(const std::vector<uint8_t>& bytes, int flags) {
    if (bytes.empty()) return {};
    try {
        return cv::imdecode(bytes, flags);
    } catch (const cv::Exception&) {
        return {};
    }
}

}  // namespace

ImageRecord analyzeImage(const std::string& relativeName, const std::string& fullPath, ModelSet* models,
                         const EngineConfig& config) {
    ImageRecord rec;
    rec.filename = relativeName;
    rec.path = fullPath;

    // The file is read once; decoding and the EXIF walk share the bytes.
    std::vector<uint8_t> bytes;
    if (!readFileBytes(fullPath, bytes)) return rec;
    const cv::Mat analysis = decode(bytes, cv::IMREAD_REDUCED_COLOR_4);
    if (analysis.empty() || analysis.type() != CV_8UC3) return rec;

    cv::Mat grey;
    cv::cvtColor(analysis, grey, cv::COLOR_BGR2GRAY);
    rec.phash = computePhash(analysis);
    rec.sharpness = float(imageSharpness(grey));
    rec.exposure = float(imageExposure(grey));
    rec.contrast = float(imageContrast(grey));

    // Face analysis needs the thread's model set; without it the frame has no
    // faces and counts as venue.
    (void)models;
    rec.eyeSharpness = 0.0f;
    rec.category = "venue";
    rec.expression = kUnmeasuredExpression;

    const ExifInfo exif = parseJpegExif(bytes.data(), bytes.size());
    rec.captureTime = exif.captureTime;
    rec.orientation = exif.orientation;
    rec.fullW = analysis.cols * 4;
    rec.fullH = analysis.rows * 4;
    rec.faceCount = int32_t(rec.faces.size());
    rec.detectionCount = int32_t(rec.detections.size());
    rec.clusterId = -1;

    rec.thumbnailJpeg = encodeThumbnail(analysis, config.thumbnailLongSide);
    rec.valid = true;
    return rec;
}

}  // namespace keepframe
