#include "analysis.h"

#include "exif.h"
#include "faces.h"
#include "image_decode.h"
#include "measures.h"
#include "paths.h"
#include "phash.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace keepframe {

const char* AnalysisTimings::name(Step step) {
    static const char* const names[StepCount] = {"read",       "quarter-size decode", "measures",
                                                 "detector",   "face checks",         "recogniser",
                                                 "half-size decode", "eyes and expression", "thumbnail"};
    return names[step];
}

namespace {

// Adds the time since its last mark to a step of the timings, when there are any.
class StepClock {
public:
    // The clock is read only when there are timings to add to.
    explicit StepClock(AnalysisTimings* timings) : timings_(timings) {
        if (timings_ != nullptr) last_ = std::chrono::steady_clock::now();
    }
    void mark(AnalysisTimings::Step step) {
        if (timings_ == nullptr) return;
        const auto now = std::chrono::steady_clock::now();
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_);
        timings_->nanoseconds[step].fetch_add(elapsed.count());
        last_ = now;
    }

private:
    AnalysisTimings* timings_;
    std::chrono::steady_clock::time_point last_;
};

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

// First reason a detection is not a usable face, or "" when it is one.
std::string rejection(const FaceCandidate& c, const Box& box, float area, double sharp, const cv::Mat& analysis,
                      const EngineConfig& config) {
    const int W = analysis.cols, H = analysis.rows, m = config.edgeMargin;
    if (c[4] < config.minFaceConfidence) return "low_conf";
    if (area < config.minFaceArea) return "small_area";
    if (box.x1 <= m || box.y1 <= m || box.x2 >= W - m || box.y2 >= H - m) return "edge";
    if (sharp < config.sharpFaceThreshold && (sharp < config.softFaceThreshold || area < config.softFaceMinArea))
        return "blurry";
    const SkinCheck skin{config.humanCheckEnabled, config.minFaceBrightness, config.minSkinRatio};
    if (!looksHuman(analysis(cv::Rect(box.x1, box.y1, box.x2 - box.x1, box.y2 - box.y1)), skin)) return "not_human";
    return {};
}

// Detections, their verdicts, and the usable faces with their embeddings.
void analyzeFaces(ImageRecord& rec, const cv::Mat& analysis, const cv::Mat& grey, const ModelSet& models,
                  const EngineConfig& config, std::vector<DetectionDetail>* details, StepClock& clock) {
    const int W = analysis.cols, H = analysis.rows;
    const std::vector<FaceCandidate> candidates = detectFaces(models.detector, analysis, 0.5f);
    clock.mark(AnalysisTimings::Detector);
    for (const FaceCandidate& c : candidates) {
        const Box box{std::max(0, int(c[0])), std::max(0, int(c[1])), std::min(int(c[2]), W), std::min(int(c[3]), H)};
        if (box.x1 >= box.x2 || box.y1 >= box.y2) continue;
        const float area = (float(box.x2 - box.x1) / W) * (float(box.y2 - box.y1) / H);
        const double sharp = laplacianVariance(grey, box);
        DetectionRecord d{
            box.x1, box.y1, box.x2, box.y2, c[4], false, rejection(c, box, area, sharp, analysis, config)};
        d.ok = d.reason.empty();
        rec.detections.push_back(d);
        Landmarks landmarks;
        std::copy(c.begin() + 5, c.end(), landmarks.begin());
        if (details != nullptr) details->push_back({landmarks, area, float(sharp)});
        clock.mark(AnalysisTimings::FaceChecks);
        if (!d.ok) continue;

        FaceRecord f;
        f.confidence = c[4];
        f.area = area;
        f.x1 = box.x1;
        f.y1 = box.y1;
        f.x2 = box.x2;
        f.y2 = box.y2;
        f.gradient = float(gradientMean(grey, box));
        f.landmarks = landmarks;
        f.hasLandmarks = true;
        rec.faces.push_back(f);
        std::vector<float> embedding =
            embedFace(models.recognizer, analysis, f.landmarks, box.x1, box.y1, box.x2, box.y2);
        if (!embedding.empty()) rec.embeddings.push_back(std::move(embedding));
        clock.mark(AnalysisTimings::Recogniser);
    }
}

// The main face for the expression: the first of a portrait, the largest of a group.
const FaceRecord& expressionFace(const ImageRecord& rec) {
    const FaceRecord* face = &rec.faces.front();
    if (rec.category != Category::Portrait)
        for (const auto& f : rec.faces)
            if (f.area > face->area) face = &f;
    return *face;
}

// An analysis-image box in the half-size frame of `frame` size; empty when none of it is inside.
cv::Rect halfSizeBox(int bx1, int by1, int bx2, int by2, cv::Size frame) {
    const int x1 = std::min(2 * bx1, frame.width - 1), x2 = std::min(2 * bx2, frame.width);
    const int y1 = std::min(2 * by1, frame.height - 1), y2 = std::min(2 * by2, frame.height);
    if (x2 <= x1 || y2 <= y1) return {};
    return cv::Rect(x1, y1, x2 - x1, y2 - y1);
}

// Expression of the face in an analysis-image box, judged on the half-size frame.
float boxExpression(int bx1, int by1, int bx2, int by2, const FrameRegion& half, const ModelSet& models) {
    if (half.frameSize.empty()) return kUnmeasuredExpression;
    const cv::Rect area = halfSizeBox(bx1, by1, bx2, by2, half.frameSize);
    if (area.empty()) return kUnmeasuredExpression;
    return expressionScore(models.expression, half.cut(area));
}

// Expression of the main face, judged on the half-size frame.
float measureExpression(const ImageRecord& rec, const FrameRegion& half, const ModelSet& models) {
    const FaceRecord& face = expressionFace(rec);
    return boxExpression(face.x1, face.y1, face.x2, face.y2, half, models);
}

// The part of the half-size frame of `frame` size that holds the eye windows
// of every face (with `eyes`) and the expression crop (with `expression`).
cv::Rect halfSizeArea(const ImageRecord& rec, cv::Size frame, bool eyes, bool expression) {
    cv::Rect needed;
    const auto add = [&](const cv::Rect& r) {
        if (!r.empty()) needed = needed.empty() ? r : (needed | r);
    };
    if (eyes)
        for (const FaceRecord& f : rec.faces)
            for (const cv::Rect& window : eyeStateWindows(f.landmarks, frame)) add(window);
    if (expression) {
        const FaceRecord& face = expressionFace(rec);
        add(halfSizeBox(face.x1, face.y1, face.x2, face.y2, frame));
    }
    return needed;
}

}  // namespace

ImageRecord analyzeImage(const std::string& relativeName, const std::string& fullPath, ModelSet* models,
                         const EngineConfig& config, std::vector<DetectionDetail>* details) {
    ImageRecord rec;
    rec.filename = relativeName;
    rec.path = fullPath;

    // The file is read once; decoding and the EXIF walk share the bytes. Each
    // analysis thread reads and decodes frame after frame into its own memory.
    StepClock clock(config.timings);
    thread_local FileBuffer file;
    thread_local cv::Mat quarter;
    if (!file.read(fullPath)) {
        rec.problem = "unreadable";
        return rec;
    }
    const std::span<const uint8_t> bytes = file.bytes();
    clock.mark(AnalysisTimings::Read);
    DecodedImage decoded = decodeImage(bytes, kAnalysisScale, &quarter);
    if (decoded.status != DecodeStatus::Ok && decoded.status != DecodeStatus::Damaged) {
        rec.problem = decoded.problem;
        return rec;
    }
    rec.damaged = decoded.status == DecodeStatus::Damaged;
    rec.problem = decoded.problem;
    rec.fullW = decoded.frameSize.width;
    rec.fullH = decoded.frameSize.height;
    const cv::Mat analysis = std::move(decoded.image);
    clock.mark(AnalysisTimings::QuarterDecode);

    cv::Mat grey;
    cv::cvtColor(analysis, grey, cv::COLOR_BGR2GRAY);
    rec.phash = computePhashFromGrey(grey);
    rec.sharpness = float(imageSharpness(grey));
    rec.exposure = float(imageExposure(grey));
    rec.contrast = float(imageContrast(grey));

    clock.mark(AnalysisTimings::Measures);
    if (models != nullptr) analyzeFaces(rec, analysis, grey, *models, config, details, clock);
    rec.eyeSharpness = rec.faces.empty() ? 0.0f : float(eyeSharpness(grey, rec.faces.front().landmarks.data()));
    clock.mark(AnalysisTimings::Measures);
    const size_t faceCount = rec.faces.size();
    rec.category = faceCount == 0 ? Category::Venue : faceCount <= 2 ? Category::Portrait : Category::Group;
    rec.expression = kUnmeasuredExpression;
    const bool scoreExpression =
        models != nullptr && faceCount > 0 &&
        (rec.category == Category::Portrait || (rec.category == Category::Group && config.groupExpressionEnabled));
    // Eyes and expression are judged at half size: the quarter-size frame has
    // too few pixels on the eyes of a group photograph's faces. Only the part
    // of the half-size frame that holds them is decoded.
    const bool scoreEyes = models != nullptr && faceCount > 0 && models->eye.loaded;
    FrameRegion half;
    if (scoreEyes || scoreExpression)
        half = decodeRegion(bytes, 2, [&](cv::Size frame) {
            return halfSizeArea(rec, frame, scoreEyes, scoreExpression);
        });
    clock.mark(AnalysisTimings::HalfSizeDecode);
    for (FaceRecord& f : rec.faces) f.eyesOpen = eyeOpenScore(models->eye, half, f.landmarks);
    if (scoreExpression) rec.expression = measureExpression(rec, half, *models);
    clock.mark(AnalysisTimings::EyesAndExpression);
    if (details != nullptr && !details->empty()) {
        // Rejected detections lie anywhere: judged on the whole half-size frame,
        // whose pixels equal those of the part decoded above.
        const FrameRegion whole(decodeImage(bytes, 2).image);
        for (size_t i = 0; i < details->size(); ++i) {
            const DetectionRecord& d = rec.detections[i];
            (*details)[i].eyesOpen = eyeOpenScore(models->eye, whole, (*details)[i].landmarks);
            (*details)[i].expression = boxExpression(d.x1, d.y1, d.x2, d.y2, whole, *models);
        }
    }

    const ExifInfo exif = parseJpegExif(bytes.data(), bytes.size());
    rec.captureTime = exif.captureTime;
    rec.orientation = exif.orientation;
    rec.faceCount = int32_t(rec.faces.size());
    rec.detectionCount = int32_t(rec.detections.size());
    rec.clusterId = -1;
    clock.mark(AnalysisTimings::Measures);

    if (config.makeThumbnails) rec.thumbnailJpeg = encodeThumbnail(analysis, config.thumbnailLongSide);
    clock.mark(AnalysisTimings::Thumbnail);
    if (config.timings != nullptr) {
        config.timings->frames.fetch_add(1);
        config.timings->faces.fetch_add(int(rec.faces.size()));
    }
    rec.valid = true;
    return rec;
}

}  // namespace keepframe
