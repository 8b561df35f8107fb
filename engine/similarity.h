#pragma once

#include <algorithm>
#include <vector>

namespace keepframe {

using Embedding = std::vector<float>;

// Dot product of two embeddings (unit length: their cosine similarity); 0 for
// embeddings of different lengths or an empty one.
inline float embeddingSimilarity(const Embedding& a, const Embedding& b) {
    if (a.empty() || a.size() != b.size()) return 0.0f;
    // Eight independent partial sums let the compiler use vector registers;
    // clustering compares millions of pairs on a large shoot.
    const size_t n = a.size(), blocks = n / 8 * 8;
    const float* pa = a.data();
    const float* pb = b.data();
    float acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < blocks; i += 8)
        for (size_t k = 0; k < 8; ++k) acc[k] += pa[i + k] * pb[i + k];
    float dot = ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
    for (size_t i = blocks; i < n; ++i) dot += pa[i] * pb[i];
    return dot;
}

// Number of embeddings of `from` that have at least one embedding in `in`
// with similarity at or above `threshold`.
inline int matchingEmbeddings(const std::vector<Embedding>& from, const std::vector<Embedding>& in, float threshold) {
    int n = 0;
    for (const auto& e : from)
        for (const auto& f : in)
            if (embeddingSimilarity(e, f) >= threshold) {
                ++n;
                break;
            }
    return n;
}

// Smallest count k of `total` with k / total >= ratio (as the callers
// compute it), or total + 1 when no count reaches the ratio.
inline size_t countNeeded(size_t total, double ratio) {
    for (size_t k = 0; k <= total; ++k)
        if (double(k) / double(total) >= ratio) return k;
    return total + 1;
}

// Whether the embeddings of `a` that have a match in `b` at or above
// `threshold` are at least `ratio` of `total`. Stops as soon as the answer is
// certain.
inline bool matchedShareAtLeast(const std::vector<Embedding>& a, const std::vector<Embedding>& b, float threshold,
                                double ratio, size_t total) {
    const size_t needed = countNeeded(total, ratio);
    size_t found = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (found >= needed) return true;
        if (found + (a.size() - i) < needed) return false;
        for (const auto& f : b)
            if (embeddingSimilarity(a[i], f) >= threshold) {
                ++found;
                break;
            }
    }
    return found >= needed;
}

// The share is taken over the larger of the two embedding counts.
inline bool shareFaces(const std::vector<Embedding>& a, const std::vector<Embedding>& b, float threshold, double ratio) {
    return matchedShareAtLeast(a, b, threshold, ratio, std::max(a.size(), b.size()));
}

}  // namespace keepframe
