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
// and below each strip, so these strips are taller than those of the colour
// conversions.
constexpr int kBlurStripRows = 4 * EnhanceBuffers::kStripRows;

template <typename Blur, typename Row>
void forBlurredRows(const cv::Mat& weight, cv::Mat& strip, Blur&& blur, Row&& row) {
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

int squareBlurReach(int radius) { return std::max(2 * radius + 1, 3) / 2; }

// Where a blur and blend stage's weight is 0 throughout the kernel's reach,
// its blurred weight is 0 and the blend keeps the pixels: neither needs to be
// worked out there. The image is looked at in blocks of this many columns, a
// multiple of every vector width OpenCV's filters step by. A filter steps
// from the left of the region it is given, so a region that starts at a block
// and ends at one or at the image's right edge is stepped through as the
// whole image is there: its blur is that of the whole image.
constexpr int kBlockColumns = 128;

// Which blocks of columns of each row have a nonzero weight.
class WeightedBlocks {
public:
    WeightedBlocks(int rows, int columns)
        : columns_(columns), blocks_((columns + kBlockColumns - 1) / kBlockColumns),
          weighted_(size_t(rows) * size_t(blocks_)) {}

    int blocks() const { return blocks_; }
    // Marks the blocks of row y for which `weighted(x0, x1)` tells that
    // columns [x0, x1) hold a nonzero weight.
    template <typename Weighted>
    void addRow(int y, Weighted&& weighted) {
        for (int b = 0; b < blocks_; ++b)
            weighted_[index(y, b)] = weighted(b * kBlockColumns, std::min((b + 1) * kBlockColumns, columns_));
    }
    // Whether a nonzero weight lies in rows [top, bottom) within `reach`
    // columns of block b.
    bool near(int top, int bottom, int b, int reach) const {
        const int first = std::max(b * kBlockColumns - reach, 0) / kBlockColumns;
        const int last = std::min((b + 1) * kBlockColumns + reach, columns_ - 1) / kBlockColumns;
        for (int y = top; y < bottom; ++y)
            for (int k = first; k <= last; ++k)
                if (weighted_[index(y, k)]) return true;
        return false;
    }

private:
    size_t index(int y, int b) const { return size_t(y) * size_t(blocks_) + size_t(b); }
    int columns_, blocks_;
    std::vector<uchar> weighted_;
};

// Blends every pixel of `image` into `out` by `weight` blurred by `blur`
// (whose kernel reaches `reach` pixels), one strip of rows at a time:
// `blend(y, x, blurred, n)` for n pixels of row y from column x. Each run of
// blocks that needs it is blurred as a view into the whole weight image,
// whose pixels beyond the run serve as its neighbours, so every value is the
// one a blur of the whole image gives; the other blocks keep their pixels.
template <typename Blur, typename Blend>
void blendBlurred(const cv::Mat& image, const cv::Mat& weight, const WeightedBlocks& blocks, int reach, Blur&& blur,
                  cv::Mat& strip, cv::Mat& out, Blend&& blend) {
    strip.create(std::min(kBlurStripRows, weight.rows), weight.cols, CV_32F);
    const bool inPlace = out.data == image.data && out.step == image.step;
    for (int top = 0; top < weight.rows; top += kBlurStripRows) {
        const int bottom = std::min(top + kBlurStripRows, weight.rows);
        const int above = std::max(top - reach, 0), below = std::min(bottom + reach, weight.rows);
        for (int b = 0; b < blocks.blocks();) {
            const bool needed = blocks.near(above, below, b, reach);
            int end = b + 1;
            while (end < blocks.blocks() && blocks.near(above, below, end, reach) == needed) ++end;
            const int x = b * kBlockColumns;
            const cv::Rect run(x, top, std::min(end * kBlockColumns, weight.cols) - x, bottom - top);
            b = end;
            if (!needed) {
                if (!inPlace) image(run).copyTo(out(run));
                continue;
            }
            cv::Mat blurred = strip(cv::Rect(0, 0, run.width, run.height));
            blur(weight(run), blurred);
            for (int y = 0; y < run.height; ++y) blend(top + y, x, blurred.ptr<float>(y), run.width);
        }
    }
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
    // The mask: 1 where the HSV value, the largest of B, G and R, is above
    // the threshold (a level of 255 scaled by 1 / 255), else 0.
    int cut = 0;  // the lowest level above the threshold
    while (cut < 256 && !(float(cut) > s.highlightThreshold)) ++cut;
    cv::Mat& hot = buffers.grey;
    hot.create(image.size(), CV_8U);
    cv::Mat& mask = buffers.floats[0];
    mask.create(image.size(), CV_32F);
    WeightedBlocks blocks(image.rows, image.cols);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* row = hot.ptr<uchar>(y);
        highlightRow(image.ptr<uchar>(y), cut, hot.ptr<uchar>(y), mask.ptr<float>(y), image.cols);
        blocks.addRow(y, [row](int x0, int x1) { return std::find(row + x0, row + x1, 1) != row + x1; });
    }

    // Blend each pixel towards its darkened level by the blurred mask. The
    // mask is taken whole before any pixel changes: the blend may write over its input.
    const std::vector<uchar> dark = levelsTable(s.highlightBlack, s.highlightWhite, s.highlightGamma);
    cv::Mat& out = buffers.reusable(image);
    out.create(image.size(), CV_8UC3);
    blendBlurred(image, mask, blocks, squareBlurReach(s.highlightBlurRadius), squareBlur(s.highlightBlurRadius),
                 buffers.floats[1], out, [&](int y, int x, const float* m, int n) {
                     darkenBlendRow(image.ptr<uchar>(y) + 3 * x, m, dark.data(), out.ptr<uchar>(y) + 3 * x, n);
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
