// Reading the parts of a JPEG byte buffer that tests check.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace keepframe::testing {

// Density units and values of the JFIF header; all -1 without one.
inline std::array<int, 3> jfifDensity(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 11 < jpeg.size() && i < 64; ++i)
        if (jpeg[i] == 'J' && jpeg[i + 1] == 'F' && jpeg[i + 2] == 'I' && jpeg[i + 3] == 'F' && jpeg[i + 4] == 0)
            return {jpeg[i + 7], jpeg[i + 8] << 8 | jpeg[i + 9], jpeg[i + 10] << 8 | jpeg[i + 11]};
    return {-1, -1, -1};
}

}  // namespace keepframe::testing
