#include "primary_target.h"

#include <algorithm>

namespace keepframe {
namespace {
// round(percent / 100 x n), half away from zero, in exact integer arithmetic.
int32_t roundedShare(int64_t percent, int32_t n) {
    const int64_t scaled = percent * std::max<int32_t>(n, 0);
    return static_cast<int32_t>((scaled + 50) / 100);
}
}  // namespace

PrimaryTarget computePrimaryTarget(int32_t requested, int32_t inputCount) {
    PrimaryTarget t;
    t.lower = roundedShare(10, inputCount);
    if (t.lower < 2) t.lower = 1;
    t.upper = std::max(roundedShare(40, inputCount), t.lower);
    if (requested <= 0) t.target = roundedShare(18, inputCount);
    else t.target = requested >= t.lower ? std::min(requested, t.upper) : t.lower;
    t.target = std::min(t.target, inputCount);
    if (t.target < 2) t.target = 1;
    return t;
}

}  // namespace keepframe
