#pragma once

#include <cstdint>

namespace keepframe {

struct PrimaryTarget {
    int32_t target = 1;
    int32_t lower = 1;
    int32_t upper = 1;
};

// The number of primary frames for `inputCount` frames and the allowed range.
// A request of 0 or less asks for 18 % of the shoot; a request is held within
// 10 % to 40 % of it; the target is never above the input count nor below 1.
PrimaryTarget computePrimaryTarget(int32_t requested, int32_t inputCount);

}  // namespace keepframe
