// Hand-made ImageRecords for tests of clustering, persons and selection, and
// result rows for tests of what is stored of a cull.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "records.h"

namespace keepframe::testing {

// Unit embedding of length 8 pointing at axis `k`.
inline std::vector<float> person(int k) {
    std::vector<float> e(8, 0.0f);
    e[size_t(k)] = 1.0f;
    return e;
}

// Unit embedding with similarity `s` to person(k) and to nothing else of the
// basis (it leans towards axis 7).
inline std::vector<float> near(int k, float s) {
    std::vector<float> e(8, 0.0f);
    e[size_t(k)] = s;
    e[7] = std::sqrt(1.0f - s * s);
    return e;
}

inline ImageRecord frame(const std::string& name, Category category, uint64_t phash = 0,
                         std::vector<std::vector<float>> embeddings = {}, const std::string& time = "") {
    ImageRecord f;
    f.filename = name;
    f.path = "/shoot/" + name;
    f.category = category;
    f.phash = phash;
    f.captureTime = time;
    f.sharpness = 100;
    f.exposure = 0.8f;
    f.expression = 0.75f;
    f.embeddings = std::move(embeddings);
    for (size_t i = 0; i < f.embeddings.size(); ++i) {
        FaceRecord face;
        face.confidence = 0.9f;
        face.area = 0.02f;
        face.x1 = int32_t(10 + 40 * i);
        face.y1 = 10;
        face.x2 = face.x1 + 30;
        face.y2 = 40;
        face.hasLandmarks = true;
        f.faces.push_back(face);
    }
    f.faceCount = int32_t(f.faces.size());
    f.valid = true;
    return f;
}

// The result row of `name` below `folder`: its category, its moment, and
// whether the engine picked it and as primary.
inline ResultImage resultRow(const std::string& folder, const std::string& name, Category category, int cluster,
                             bool picked, bool primary) {
    ResultImage r;
    r.filename = name;
    r.path = folder + "/" + name;
    r.category = category;
    r.clusterNumber = cluster;
    r.engineSelected = picked;
    r.isPrimary = primary;
    return r;
}

// A hash `bits` set bits away from `base`.
inline uint64_t flip(uint64_t base, int bits) {
    uint64_t mask = 0;
    for (int i = 0; i < bits; ++i) mask |= uint64_t(1) << i;
    return base ^ mask;
}

}  // namespace keepframe::testing
