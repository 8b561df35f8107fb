// "Find my photos": the one face of a guest's selfie, found, aligned and
// embedded with the models the cull uses, compared with a gallery's face
// data. The selfie lives only in memory for the length of one search.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace keepframe::gallery {

// A stored face at least this alike to the selfie's (the dot product of the
// two unit-length embeddings) is the guest's. Chosen with
// keepframe-gallery-quality-bench on the identity-labelled test photographs:
// every threshold from 0.30 to 0.50 found every photograph of each person and
// nothing else; 0.40 keeps the widest margin on both sides (below 0.30 other
// people come in, above 0.50 photographs of the person are missed).
constexpr float kFaceMatchThreshold = 0.40f;

// The selfie's embedding, or why there is none (a message for the guest).
struct SelfieFace {
    std::vector<float> embedding;
    int status = 200;  // 422 for a selfie without exactly one face, 415 for one that is not a JPEG
    std::string problem;
};

struct StoredFace {
    std::string fileId;
    std::vector<float> embedding;
};

class FaceSearcher {
public:
    // Loads the detector and the recogniser below `modelsDir`; throws
    // std::runtime_error when either cannot be loaded.
    explicit FaceSearcher(const std::string& modelsDir);
    ~FaceSearcher();
    FaceSearcher(const FaceSearcher&) = delete;
    FaceSearcher& operator=(const FaceSearcher&) = delete;

    // One search at a time uses the models; the others wait.
    SelfieFace embedSelfie(const std::string& jpeg) const;

    // The stored faces of a gallery at `version` (galleries.face_version):
    // kept in memory from an earlier search of that version, else read with `load`.
    using Faces = std::shared_ptr<const std::vector<StoredFace>>;
    Faces galleryFaces(const std::string& galleryId, int64_t version,
                       const std::function<std::vector<StoredFace>()>& load) const;

private:
    struct Models;
    std::unique_ptr<Models> models_;
    mutable std::mutex mutex_;
    struct Cached {
        int64_t version = 0;
        Faces faces;
        uint64_t used = 0;
    };
    mutable std::mutex cacheMutex_;
    mutable std::map<std::string, Cached> cache_;
    mutable uint64_t uses_ = 0;
};

struct FaceMatch {
    std::string fileId;
    float score = 0;
};

// Each file whose best face is at least `threshold` alike to `probe`, once,
// best first (equal scores by file id).
std::vector<FaceMatch> matchFaces(const std::vector<float>& probe, const std::vector<StoredFace>& faces,
                                  float threshold);

}  // namespace keepframe::gallery
