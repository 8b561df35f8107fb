#include "face_search.h"

#include "face_worker.h"
#include "faces.h"
#include "image_decode.h"
#include "onnx_model.h"

#include <algorithm>
#include <map>

namespace keepframe::gallery {

namespace {

constexpr int kDetectorInput = 640;
constexpr float kDetectionThreshold = 0.5f;  // the cull's
// A second face counts only when it is at least this share of the largest
// face's area: a stranger far behind the guest does not spoil the selfie.
constexpr float kSecondFaceShare = 0.25f;
// A selfie is decoded at a reduced size whose long side stays above this
// many pixels (the detector sees 640).
constexpr int64_t kDecodedLongSide = 1280;
// Galleries whose faces stay in memory between searches (10,000 faces take 20 MB).
constexpr size_t kCachedGalleries = 8;

float boxArea(const FaceCandidate& c) { return std::max(0.0f, c[2] - c[0]) * std::max(0.0f, c[3] - c[1]); }

}  // namespace

struct FaceSearcher::Models {
    OnnxModel detector;
    OnnxModel recognizer;
};

FaceSearcher::FaceSearcher(const std::string& modelsDir) : models_(std::make_unique<Models>()) {
    models_->detector = loadDetector(modelsDir + "/buffalo_l/det_10g.onnx", kDetectorInput);
    models_->recognizer = loadRecognizer(recogniserPath(modelsDir));
    // One run of each model now: ONNX Runtime prepares a session at its first
    // run, which the first guest would otherwise wait for.
    const cv::Mat grey(kDetectorInput, kDetectorInput, CV_8UC3, cv::Scalar::all(128));
    detectFaces(models_->detector, grey, kDetectionThreshold);
    embedAlignedFace(models_->recognizer, grey(cv::Rect(0, 0, 112, 112)).clone());
}

FaceSearcher::~FaceSearcher() = default;

SelfieFace FaceSearcher::embedSelfie(const std::string& jpeg) const {
    const auto* data = reinterpret_cast<const uint8_t*>(jpeg.data());
    const auto size = readDeclaredSize(data, jpeg.size());
    if (jpeg.size() < 3 || data[0] != 0xFF || data[1] != 0xD8) return {{}, 415, "The selfie must be a JPEG photo."};
    // A JPEG whose header is cut or damaged.
    if (!size) return {{}, 422, "The selfie cannot be read as a photo."};
    if (const std::string problem = frameSizeProblem(size->width, size->height); !problem.empty())
        return {{}, 422, "The selfie cannot be read: " + problem + "."};
    int reduction = 1;
    while (reduction < 8 && std::max(size->width, size->height) / (reduction * 2) >= kDecodedLongSide) reduction *= 2;

    std::lock_guard lock(mutex_);
    const DecodedImage selfie = decodeImage({data, jpeg.size()}, reduction);
    if (selfie.status != DecodeStatus::Ok && selfie.status != DecodeStatus::Damaged)
        return {{}, 422, "The selfie cannot be read as a photo."};
    std::vector<FaceCandidate> faces = detectFaces(models_->detector, selfie.image, kDetectionThreshold);
    if (faces.empty()) return {{}, 422, "No face was found in the selfie. Take one of your face, in good light."};
    std::sort(faces.begin(), faces.end(), [](const auto& a, const auto& b) { return boxArea(a) > boxArea(b); });
    if (faces.size() > 1 && boxArea(faces[1]) >= kSecondFaceShare * boxArea(faces[0]))
        return {{}, 422, "The selfie shows more than one face. Take one of yourself alone."};
    const FaceCandidate& face = faces[0];
    Landmarks landmarks;
    std::copy(face.begin() + 5, face.end(), landmarks.begin());
    std::vector<float> embedding = embedFace(models_->recognizer, selfie.image, landmarks, int(face[0]), int(face[1]),
                                             int(face[2]), int(face[3]));
    if (embedding.empty()) return {{}, 422, "The face in the selfie is too small. Come closer to the camera."};
    return {std::move(embedding), 200, ""};
}

FaceSearcher::Faces FaceSearcher::galleryFaces(const std::string& galleryId, int64_t version,
                                              const std::function<std::vector<StoredFace>()>& load) const {
    {
        std::lock_guard lock(cacheMutex_);
        const auto it = cache_.find(galleryId);
        if (it != cache_.end() && it->second.version == version) {
            it->second.used = ++uses_;
            return it->second.faces;
        }
    }
    // Read outside the lock: searches of other galleries need not wait for it.
    Faces faces = std::make_shared<const std::vector<StoredFace>>(load());
    std::lock_guard lock(cacheMutex_);
    cache_[galleryId] = {version, faces, ++uses_};
    while (cache_.size() > kCachedGalleries) {
        auto oldest = cache_.begin();
        for (auto it = cache_.begin(); it != cache_.end(); ++it)
            if (it->second.used < oldest->second.used) oldest = it;
        cache_.erase(oldest);
    }
    return faces;
}

std::vector<FaceMatch> matchFaces(const std::vector<float>& probe, const std::vector<StoredFace>& faces,
                                  float threshold) {
    std::map<std::string, float> best;
    for (const StoredFace& f : faces) {
        if (f.embedding.size() != probe.size()) continue;
        float dot = 0;
        for (size_t i = 0; i < probe.size(); ++i) dot += probe[i] * f.embedding[i];
        if (dot < threshold) continue;
        auto [it, added] = best.emplace(f.fileId, dot);
        if (!added) it->second = std::max(it->second, dot);
    }
    std::vector<FaceMatch> matches;
    for (const auto& [file, score] : best) matches.push_back({file, score});
    std::stable_sort(matches.begin(), matches.end(), [](const auto& a, const auto& b) { return a.score > b.score; });
    return matches;
}

}  // namespace keepframe::gallery
