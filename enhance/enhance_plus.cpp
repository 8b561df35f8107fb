// Stages 5 to 9, run only at the Enhance Plus level.
#include "enhance_pipeline.h"

#include "blend_rows.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace keepframe {

namespace {

double clampd(double v, double lo, double hi) { return std::max(std::min(v, hi), lo); }
int roundClamp(double v, int lo, int hi) { return int(clampd(std::round(v), lo, hi)); }

// A skin sample with the substitutes used when no skin was found.
SkinSample skinOrDefault(const ChannelTables& image, const FaceInput& f, const EnhanceSettings& s) {
    SkinSample skin = image.sampleSkin(f.faces, f.confidences, s);
    if (skin.brightness <= 0) skin = {1, 1, 1, 1};
    return skin;
}

float kneePower(double brightness) { return float(clampd((brightness - 150) * 0.06 + 1, 1, 2.2)); }

// Calls `row(y, blurredRow)` for every row of `weight` blurred by `blur`,
// one strip of rows at a time. Each strip is blurred as a view into the whole
// weight image, whose rows beyond the strip serve as the strip's neighbours,
// so every value is the one a blur of the whole image gives.
// The blur's pass along the rows is repeated over the kernel's reach above
// and below each strip (20 rows for the highlight mask), so these strips are
// taller than those of the colour conversions.
template <typename Blur, typename Row>
void forBlurredRows(const cv::Mat& weight, cv::Mat& strip, Blur&& blur, Row&& row) {
    constexpr int kBlurStripRows = 4 * EnhanceBuffers::kStripRows;
    for (int top = 0; top < weight.rows; top += kBlurStripRows) {
        const int rows = std::min(kBlurStripRows, weight.rows - top);
        blur(weight.rowRange(top, top + rows), strip);
        for (int y = 0; y < rows; ++y) row(top + y, strip.ptr<float>(y));
    }
}

// A Gaussian blur with a square kernel of side max(2 radius + 1, 3), sigma radius.
auto squareBlur(int radius) {
    return [radius](const cv::Mat& in, cv::Mat& out) {
        const int side = std::max(2 * radius + 1, 3);
        cv::GaussianBlur(in, out, cv::Size(side, side), radius, 0, cv::BORDER_REFLECT_101);
    };
}

}  // namespace

void skinExposure(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s) {
    if (image.image().empty()) return;
    const SkinSample skin = image.sampleSkin(f.faces, f.confidences, s);
    if (skin.brightness <= 0) return;
    const float g = float(clampd(s.exposureTarget / skin.brightness, s.exposureGammaMin, s.exposureGammaMax));
    image.then(levelsTable(s.exposureBlack, s.exposureWhite, g));
}

// Each step samples the skin of the image as the step before left it.
void secondPassCurves(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s) {
    if (image.image().empty()) return;
    // A: highlight knee.
    SkinSample k = skinOrDefault(image, f, s);
    int y = roundClamp(175 - k.brightness + 192, 192, 196);
    image.then(curveTable({{0, 0}, {192, float(y)}, {255, 255}}, kneePower(k.brightness)));

    // B: per-channel black and white points.
    k = skinOrDefault(image, f, s);
    const int bB = roundClamp(k.blue * 0.25, 10, 12), bG = roundClamp(k.green / 5, 10, 12),
              bR = roundClamp(k.red / 7, 10, 12);
    const int wB = roundClamp(255 - (145 - k.blue), 253, 255), wG = roundClamp(255 - (165 - k.green), 254, 255),
              wR = roundClamp(255 - (215 - k.red), 254, 255);
    image.then(curveTable({{float(bB), 0}, {float(wB), 255}}, 2.2f),
               curveTable({{float(bG), 0}, {float(wG), 255}}, 2.2f),
               curveTable({{float(bR), 0}, {float(wR), 255}}, 2.2f));

    // C: per-channel highlight knees.
    k = skinOrDefault(image, f, s);
    const float p = kneePower(k.brightness);
    const int yB = roundClamp(145 - k.blue + 192, 192, 196), yG = roundClamp(165 - k.green + 192, 192, 195),
              yR = roundClamp(215 - k.red + 192, 192, 194);
    image.then(curveTable({{0, 0}, {192, float(yB)}, {255, 255}}, p),
               curveTable({{0, 0}, {192, float(yG)}, {255, 255}}, p),
               curveTable({{0, 0}, {192, float(yR)}, {255, 255}}, p));

    // D: mid-tone knee.
    k = skinOrDefault(image, f, s);
    y = roundClamp(170 - k.brightness + 128, 128, 136);
    image.then(curveTable({{0, 0}, {128, float(y)}, {255, 255}}, kneePower(k.brightness)));
}

cv::Mat shadowLift(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    cv::cvtColor(image, buffers.grey, cv::COLOR_BGR2GRAY);
    const int half = int(s.shadowWidth) / 2;
    const float lo = s.shadowCenter - float(half);
    float range = (s.shadowCenter + float(half)) - lo;
    if (range == 0) range = 1;
    // The weight 1 - clamp((Y - lo) / range, 0, 1) of every grey level.
    cv::Mat weightOf(1, 256, CV_32F);
    for (int v = 0; v < 256; ++v)
        weightOf.at<float>(v) = 1.0f - std::min(std::max((float(v) - lo) / range, 0.0f), 1.0f);
    cv::Mat& weight = buffers.floats[0];
    cv::LUT(buffers.grey, weightOf, weight);

    // The grey image is taken whole before any pixel changes: the blend may write over its input.
    cv::Mat& out = buffers.reusable(image);
    out.create(image.size(), CV_8UC3);
    const auto blend = [&](int y, const float* k) {
        screenBlendRow(image.ptr<uchar>(y), k, s.shadowAmount, out.ptr<uchar>(y), image.cols);
    };
    if (s.shadowBlurRadius > 0) {
        forBlurredRows(weight, buffers.floats[1], squareBlur(s.shadowBlurRadius), blend);
    } else {
        for (int y = 0; y < image.rows; ++y) blend(y, weight.ptr<float>(y));
    }
    return out;
}

cv::Mat highlightRecovery(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    // HSV value is the largest of B, G and R: no full conversion is needed to read it.
    cv::Mat& value = buffers.grey;
    value.create(image.size(), CV_8U);
    for (int y = 0; y < image.rows; ++y) largestChannelRow(image.ptr<uchar>(y), value.ptr<uchar>(y), image.cols);
    cv::compare(value, s.highlightThreshold, value, cv::CMP_GT);
    cv::Mat& mask = buffers.floats[0];
    value.convertTo(mask, CV_32F, 1.0 / 255.0);

    // Blend each pixel towards its darkened level by the blurred mask. The
    // mask is taken whole before any pixel changes: the blend may write over its input.
    const std::vector<uchar> dark = levelsTable(s.highlightBlack, s.highlightWhite, s.highlightGamma);
    cv::Mat& out = buffers.reusable(image);
    out.create(image.size(), CV_8UC3);
    forBlurredRows(mask, buffers.floats[1], squareBlur(s.highlightBlurRadius), [&](int y, const float* m) {
        darkenBlendRow(image.ptr<uchar>(y), m, dark.data(), out.ptr<uchar>(y), image.cols);
    });
    return out;
}

cv::Mat finalSharpening(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    cv::Mat& out = buffers.reusable(image);
    cv::Mat& lab = buffers.other(out);
    cv::cvtColor(image, lab, cv::COLOR_BGR2Lab);
    cv::Mat& lightness = buffers.floats[0];
    lightness.create(lab.size(), CV_32F);
    for (int y = 0; y < lab.rows; ++y) firstChannelRow(lab.ptr<uchar>(y), lightness.ptr<float>(y), lab.cols);
    const auto blur = [sigma = s.sharpenSigma](const cv::Mat& in, cv::Mat& blurred) {
        cv::GaussianBlur(in, blurred, cv::Size(0, 0), sigma, 0, cv::BORDER_REFLECT_101);
    };
    const SharpenParameters parameters{s.sharpenThreshold, s.sharpenAmount};
    forBlurredRows(lightness, buffers.floats[1], blur, [&](int y, const float* blurred) {
        sharpenLightnessRow(lightness.ptr<float>(y), blurred, parameters, lab.ptr<uchar>(y), lab.cols);
    });
    cv::cvtColor(lab, out, cv::COLOR_Lab2BGR);
    return out;
}

}  // namespace keepframe
