// Perceptual hash, Hamming distance and the camera file number: the three
// small measures that moment clustering, selection and reduction share.
#pragma once

#include <cstdint>
#include <string>

#include <opencv2/core/mat.hpp>

namespace keepframe {

// 64-bit DCT hash of an 8-bit BGR image; bit 8r + c is set when the DCT
// coefficient (r, c) of the 8 x 8 low-frequency block exceeds the block mean
// taken without the DC term. An all-black image hashes to 0.
uint64_t computePhash(const cv::Mat& bgr);
// The same hash from the frame already converted to 8-bit grey.
uint64_t computePhashFromGrey(const cv::Mat& grey);

int32_t phashDistance(uint64_t a, uint64_t b);

// Decimal number after the first "DSC_" that is followed by digits, anywhere
// in the relative file name; 0 when there is none. Numbers beyond the int32
// range saturate at INT32_MAX.
int32_t dscFileNumber(const std::string& filename);

}  // namespace keepframe
