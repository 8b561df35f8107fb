// The per-pixel arithmetic of stages 7 to 9, one image row at a time. Each
// row is worked sixteen pixels at a time in OpenCV's vector registers and the
// rest one by one, with the same single-precision operations in the same
// order either way, so the result does not depend on a pixel's position.
#pragma once

#include <opencv2/core/hal/interface.h>

namespace keepframe {

// Stage 7: x = v / 255 blended with its screen 1 - (1 - x)^2 by k = weight * amount,
// back to 8 bits: (x (1 - k) + screen k) * 255. Rows of BGR pixels.
void screenBlendRow(const uchar* in, const float* weight, float amount, uchar* out, int pixels);

// Stage 8: each value v blended with dark[v] by the mask m clamped to [0, 1]:
// v (1 - m) + dark[v] m. Rows of BGR pixels.
void darkenBlendRow(const uchar* in, const float* mask, const uchar* dark, uchar* out, int pixels);

// 1 for every pixel whose largest channel (its HSV value) is at least `cut`,
// else 0: as a byte into `hot` and as a float into `mask`.
void highlightRow(const uchar* bgr, int cut, uchar* hot, float* mask, int pixels);

// The first channel of three-channel pixels, as float.
void firstChannelRow(const uchar* pixels3, float* out, int pixels);

struct SharpenParameters {
    float threshold;
    float amount;
};
// Stage 9: the lightness L plus `amount` times its detail L - blur, where the
// detail keeps only what exceeds the threshold and is damped by
// 1 - |detail| / 255; written, clamped, into the first channel of `lab`,
// which holds L already: where no detail is kept, that is the result, and
// sixteen such pixels in a row are not written again.
void sharpenLightnessRow(const float* lightness, const float* blur, const SharpenParameters& p, uchar* lab,
                         int pixels);

}  // namespace keepframe
