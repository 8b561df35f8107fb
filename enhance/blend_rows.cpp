#include "blend_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

namespace keepframe {

namespace {

// One pixel's arithmetic, for the pixels of a row past its last sixteen.
uchar screenBlend(uchar value, float k) {
    const float x = value * (1.0f / 255.0f);
    const float screen = 1.0f - (1.0f - x) * (1.0f - x);
    return cv::saturate_cast<uchar>((x * (1.0f - k) + screen * k) * 255.0f);
}

uchar darkenBlend(uchar value, float k, const uchar* dark) {
    return cv::saturate_cast<uchar>(float(value) * (1.0f - k) + float(dark[value]) * k);
}

uchar sharpened(float l, float blur, const SharpenParameters& p) {
    float detail = l - blur;
    const float magnitude = std::abs(detail);
    // Differences up to the threshold are dropped; larger ones keep what
    // exceeds it, damped towards the strongest edges.
    const float gate = std::min(std::max((magnitude - p.threshold) / (magnitude + 0.00001f), 0.0f), 1.0f);
    detail *= gate;
    detail *= 1.0f - std::abs(detail) / 255.0f;
    return cv::saturate_cast<uchar>(std::min(std::max(l + p.amount * detail, 0.0f), 255.0f));
}

#if CV_SIMD128
using cv::v_float32x4;
using cv::v_uint8x16;

constexpr int kLanes = 16;  // pixels a step: one register of bytes per channel

// Sixteen bytes as four registers of floats, in order.
void toFloats(const v_uint8x16& bytes, v_float32x4 (&f)[4]) {
    cv::v_uint16x8 low, high;
    cv::v_expand(bytes, low, high);
    cv::v_uint32x4 a, b, c, d;
    cv::v_expand(low, a, b);
    cv::v_expand(high, c, d);
    f[0] = cv::v_cvt_f32(cv::v_reinterpret_as_s32(a));
    f[1] = cv::v_cvt_f32(cv::v_reinterpret_as_s32(b));
    f[2] = cv::v_cvt_f32(cv::v_reinterpret_as_s32(c));
    f[3] = cv::v_cvt_f32(cv::v_reinterpret_as_s32(d));
}

// Rounded to the nearest (ties to even, as cvRound) and saturated, as cv::saturate_cast<uchar>.
v_uint8x16 toBytes(const v_float32x4 (&f)[4]) {
    return cv::v_pack_u(cv::v_pack(cv::v_round(f[0]), cv::v_round(f[1])),
                        cv::v_pack(cv::v_round(f[2]), cv::v_round(f[3])));
}
#endif

}  // namespace

void screenBlendRow(const uchar* in, const float* weight, float amount, uchar* out, int pixels) {
    int x = 0;
#if CV_SIMD128
    const v_float32x4 one = cv::v_setall_f32(1.0f), scale = cv::v_setall_f32(1.0f / 255.0f),
                      full = cv::v_setall_f32(255.0f), amountV = cv::v_setall_f32(amount);
    const v_float32x4 zero = cv::v_setzero_f32();
    for (; x + kLanes <= pixels; x += kLanes) {
        v_float32x4 k[4], keep[4];
        for (int i = 0; i < 4; ++i) {
            k[i] = cv::v_load(weight + x + 4 * i) * amountV;
            keep[i] = one - k[i];
        }
        // Where no pixel is lifted, (v / 255 (1 - 0) + screen 0) 255 rounds to v.
        if (cv::v_check_all((k[0] == zero) & (k[1] == zero) & (k[2] == zero) & (k[3] == zero))) {
            if (out != in) std::memcpy(out + 3 * x, in + 3 * x, 3 * kLanes);
            continue;
        }
        v_uint8x16 channel[3];
        cv::v_load_deinterleave(in + 3 * x, channel[0], channel[1], channel[2]);
        for (v_uint8x16& c : channel) {
            v_float32x4 v[4];
            toFloats(c, v);
            for (int i = 0; i < 4; ++i) {
                const v_float32x4 t = v[i] * scale;
                const v_float32x4 screen = one - (one - t) * (one - t);
                v[i] = (t * keep[i] + screen * k[i]) * full;
            }
            c = toBytes(v);
        }
        cv::v_store_interleave(out + 3 * x, channel[0], channel[1], channel[2]);
    }
#endif
    for (; x < pixels; ++x) {
        const float k = weight[x] * amount;
        for (int c = 0; c < 3; ++c) out[3 * x + c] = screenBlend(in[3 * x + c], k);
    }
}

void darkenBlendRow(const uchar* in, const float* mask, const uchar* dark, uchar* out, int pixels) {
    int x = 0;
#if CV_SIMD128
    const v_float32x4 zero = cv::v_setzero_f32(), one = cv::v_setall_f32(1.0f);
    alignas(16) uchar darkened[3 * kLanes];
    for (; x + kLanes <= pixels; x += kLanes) {
        v_float32x4 k[4], keep[4];
        for (int i = 0; i < 4; ++i) {
            k[i] = cv::v_min(cv::v_max(cv::v_load(mask + x + 4 * i), zero), one);
            keep[i] = one - k[i];
        }
        // Far from any highlight the mask is 0, and v (1 - 0) + dark[v] 0 is v itself.
        if (cv::v_check_all((k[0] == zero) & (k[1] == zero) & (k[2] == zero) & (k[3] == zero))) {
            if (out != in) std::memcpy(out + 3 * x, in + 3 * x, 3 * kLanes);
            continue;
        }
        for (int i = 0; i < 3 * kLanes; ++i) darkened[i] = dark[in[3 * x + i]];
        v_uint8x16 channel[3], target[3];
        cv::v_load_deinterleave(in + 3 * x, channel[0], channel[1], channel[2]);
        cv::v_load_deinterleave(darkened, target[0], target[1], target[2]);
        for (int c = 0; c < 3; ++c) {
            v_float32x4 v[4], d[4];
            toFloats(channel[c], v);
            toFloats(target[c], d);
            for (int i = 0; i < 4; ++i) v[i] = v[i] * keep[i] + d[i] * k[i];
            channel[c] = toBytes(v);
        }
        cv::v_store_interleave(out + 3 * x, channel[0], channel[1], channel[2]);
    }
#endif
    for (; x < pixels; ++x) {
        const float k = std::min(std::max(mask[x], 0.0f), 1.0f);
        for (int c = 0; c < 3; ++c) out[3 * x + c] = darkenBlend(in[3 * x + c], k, dark);
    }
}

void highlightRow(const uchar* bgr, int cut, uchar* hot, float* mask, int pixels) {
    int x = 0;
#if CV_SIMD128
    if (cut > 0 && cut <= 255) {
        const v_uint8x16 below = cv::v_setall_u8(uchar(cut - 1)), one = cv::v_setall_u8(1);
        for (; x + kLanes <= pixels; x += kLanes) {
            v_uint8x16 b, g, r;
            cv::v_load_deinterleave(bgr + 3 * x, b, g, r);
            const v_uint8x16 h = (cv::v_max(cv::v_max(b, g), r) > below) & one;
            cv::v_store(hot + x, h);
            v_float32x4 f[4];
            toFloats(h, f);
            for (int i = 0; i < 4; ++i) cv::v_store(mask + x + 4 * i, f[i]);
        }
    }
#endif
    for (; x < pixels; ++x) {
        hot[x] = std::max({bgr[3 * x], bgr[3 * x + 1], bgr[3 * x + 2]}) >= cut ? 1 : 0;
        mask[x] = float(hot[x]);
    }
}

void firstChannelRow(const uchar* pixels3, float* out, int pixels) {
    int x = 0;
#if CV_SIMD128
    for (; x + kLanes <= pixels; x += kLanes) {
        v_uint8x16 first, second, third;
        cv::v_load_deinterleave(pixels3 + 3 * x, first, second, third);
        v_float32x4 f[4];
        toFloats(first, f);
        for (int i = 0; i < 4; ++i) cv::v_store(out + x + 4 * i, f[i]);
    }
#endif
    for (; x < pixels; ++x) out[x] = float(pixels3[3 * x]);
}

void sharpenLightnessRow(const float* lightness, const float* blur, const SharpenParameters& p, uchar* lab,
                         int pixels) {
    int x = 0;
#if CV_SIMD128
    const v_float32x4 zero = cv::v_setzero_f32(), one = cv::v_setall_f32(1.0f), full = cv::v_setall_f32(255.0f),
                      tiny = cv::v_setall_f32(0.00001f), threshold = cv::v_setall_f32(p.threshold),
                      amount = cv::v_setall_f32(p.amount);
    for (; x + kLanes <= pixels; x += kLanes) {
        v_float32x4 l[4], detail[4];
        // All bits set in every lane while each difference is within the threshold.
        v_float32x4 flat = cv::v_reinterpret_as_f32(cv::v_setall_s32(-1));
        for (int i = 0; i < 4; ++i) {
            l[i] = cv::v_load(lightness + x + 4 * i);
            detail[i] = l[i] - cv::v_load(blur + x + 4 * i);
            flat = flat & (cv::v_abs(detail[i]) <= threshold);
        }
        // Differences within the threshold are dropped: L + amount 0 is L,
        // and the pixels keep the lightness they have.
        if (cv::v_check_all(cv::v_reinterpret_as_s32(flat))) continue;
        for (int i = 0; i < 4; ++i) {
            const v_float32x4 magnitude = cv::v_abs(detail[i]);
            const v_float32x4 gate = cv::v_min(cv::v_max((magnitude - threshold) / (magnitude + tiny), zero), one);
            v_float32x4 kept = detail[i] * gate;
            kept = kept * (one - cv::v_abs(kept) / full);
            l[i] = cv::v_min(cv::v_max(l[i] + amount * kept, zero), full);
        }
        v_uint8x16 channel[3];
        cv::v_load_deinterleave(lab + 3 * x, channel[0], channel[1], channel[2]);
        channel[0] = toBytes(l);
        cv::v_store_interleave(lab + 3 * x, channel[0], channel[1], channel[2]);
    }
#endif
    for (; x < pixels; ++x) lab[3 * x] = sharpened(lightness[x], blur[x], p);
}

}  // namespace keepframe
