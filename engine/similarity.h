#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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
inline int matchingEmbeddings(const std::vector<Embedding>& from, const std::vector<Embedding>& in,
                              float threshold) {
    int n = 0;
    for (const auto& e : from)
        for (const auto& f : in)
            if (embeddingSimilarity(e, f) >= threshold) {
                ++n;
                break;
            }
    return n;
}

// A share threshold ("at least 60 % of the faces") held as an exact fraction
// of a million. Counts are compared with it in integers, shared x 1000000 >=
// numerator x count, so 3 of 5 reaches 0.6 whatever binary value the float
// 0.6 has. Every share rule of clustering and selection goes through it.
class ShareRatio {
public:
    static constexpr int64_t kDenominator = 1'000'000;

    explicit ShareRatio(double ratio) : numerator_(std::llround(ratio * double(kDenominator))) {}

    // shared / count >= ratio; never for a count of 0.
    bool reachedBy(size_t shared, size_t count) const {
        return count > 0 && int64_t(shared) * kDenominator >= numerator_ * int64_t(count);
    }

    // The smallest number of `count` that reaches the ratio; count + 1 when
    // no number does (a count of 0, or a ratio above 1).
    size_t neededOf(size_t count) const {
        if (count == 0) return 1;
        if (numerator_ <= 0) return 0;
        const int64_t needed = (numerator_ * int64_t(count) + kDenominator - 1) / kDenominator;
        return needed > int64_t(count) ? count + 1 : size_t(needed);
    }

private:
    int64_t numerator_;
};

// Whether the embeddings of `a` that have a match in `b` at or above
// `threshold` reach `ratio` of `total`. Stops as soon as the answer is certain.
inline bool matchedShareAtLeast(const std::vector<Embedding>& a, const std::vector<Embedding>& b, float threshold,
                                ShareRatio ratio, size_t total) {
    const size_t needed = ratio.neededOf(total);
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
inline bool shareFaces(const std::vector<Embedding>& a, const std::vector<Embedding>& b, float threshold,
                       ShareRatio ratio) {
    return matchedShareAtLeast(a, b, threshold, ratio, std::max(a.size(), b.size()));
}

}  // namespace keepframe
