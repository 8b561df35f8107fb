// Stages 5 to 9, run only at the Enhance Plus level.
#include "enhance_pipeline.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace keepframe {

namespace {

double clampd(double v, double lo, double hi) { return std::max(std::min(v, hi), lo); }
int roundClamp(double v, int lo, int hi) { return int(clampd(std::round(v), lo, hi)); }

// A skin sample with the substitutes used when no skin was found.
SkinSample skinOrDefault(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s) {
    SkinSample skin = sampleSkin(image, f.faces, f.confidences, s);
    if (skin.brightness <= 0) skin = {1, 1, 1, 1};
    return skin;
}

float kneePower(double brightness) { return float(clampd((brightness - 150) * 0.06 + 1, 1, 2.2)); }

cv::Mat blurredWeight(const cv::Mat& weight, int radius) {
    cv::Mat out;
    const int side = std::max(2 * radius + 1, 3);
    cv::GaussianBlur(weight, out, cv::Size(side, side), radius, 0, cv::BORDER_REFLECT_101);
    return out;
}

}  // namespace

cv::Mat skinExposure(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s) {
    if (image.empty()) return image;
    const SkinSample skin = sampleSkin(image, f.faces, f.confidences, s);
    if (skin.brightness <= 0) return image;
    const float g = float(clampd(s.exposureTarget / skin.brightness, s.exposureGammaMin, s.exposureGammaMax));
    return applyLevels(image, s.exposureBlack, s.exposureWhite, g);
}

cv::Mat secondPassCurves(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s) {
    if (image.empty()) return image;
    // A: highlight knee.
    SkinSample k = skinOrDefault(image, f, s);
    int y = roundClamp(175 - k.brightness + 192, 192, 196);
    cv::Mat out = applyCurve(image, {{0, 0}, {192, float(y)}, {255, 255}}, kneePower(k.brightness));

    // B: per-channel black and white points.
    k = skinOrDefault(out, f, s);
    const int bB = roundClamp(k.blue * 0.25, 10, 12), bG = roundClamp(k.green / 5, 10, 12),
              bR = roundClamp(k.red / 7, 10, 12);
    const int wB = roundClamp(255 - (145 - k.blue), 253, 255), wG = roundClamp(255 - (165 - k.green), 254, 255),
              wR = roundClamp(255 - (215 - k.red), 254, 255);
    out = applyPerChannel(out, curveTable({{float(bB), 0}, {float(wB), 255}}, 2.2f),
                          curveTable({{float(bG), 0}, {float(wG), 255}}, 2.2f),
                          curveTable({{float(bR), 0}, {float(wR), 255}}, 2.2f));

    // C: per-channel highlight knees.
    k = skinOrDefault(out, f, s);
    const float p = kneePower(k.brightness);
    const int yB = roundClamp(145 - k.blue + 192, 192, 196), yG = roundClamp(165 - k.green + 192, 192, 195),
              yR = roundClamp(215 - k.red + 192, 192, 194);
    out = applyPerChannel(out, curveTable({{0, 0}, {192, float(yB)}, {255, 255}}, p),
                          curveTable({{0, 0}, {192, float(yG)}, {255, 255}}, p),
                          curveTable({{0, 0}, {192, float(yR)}, {255, 255}}, p));

    // D: mid-tone knee.
    k = skinOrDefault(out, f, s);
    y = roundClamp(170 - k.brightness + 128, 128, 136);
    return applyCurve(out, {{0, 0}, {128, float(y)}, {255, 255}}, kneePower(k.brightness));
}

cv::Mat shadowLift(const cv::Mat& image, const EnhanceSettings& s) {
    if (image.empty()) return image;
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    const int half = int(s.shadowWidth) / 2;
    const float lo = s.shadowCenter - float(half);
    float range = (s.shadowCenter + float(half)) - lo;
    if (range == 0) range = 1;
    // The weight 1 - clamp((Y - lo) / range, 0, 1) of every grey level.
    float weightOf[256];
    for (int v = 0; v < 256; ++v) weightOf[v] = 1.0f - std::min(std::max((float(v) - lo) / range, 0.0f), 1.0f);
    cv::Mat w(grey.size(), CV_32F);
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* g = grey.ptr<uchar>(y);
        float* o = w.ptr<float>(y);
        for (int x = 0; x < grey.cols; ++x) o[x] = weightOf[g[x]];
    }
    if (s.shadowBlurRadius > 0) w = blurredWeight(w, s.shadowBlurRadius);

    // out = x (1 - k) + (1 - (1 - x)^2) k with x = v / 255 and k = w * amount:
    // the image screened with itself, blended in by the shadow weight.
    cv::Mat out(image.size(), CV_8UC3);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* in = image.ptr<uchar>(y);
        const float* wr = w.ptr<float>(y);
        uchar* o = out.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x) {
            const float k = wr[x] * s.shadowAmount;
            for (int c = 0; c < 3; ++c) {
                const float v = in[3 * x + c] * (1.0f / 255.0f);
                const float screen = 1.0f - (1.0f - v) * (1.0f - v);
                o[3 * x + c] = cv::saturate_cast<uchar>((v * (1.0f - k) + screen * k) * 255.0f);
            }
        }
    }
    return out;
}

cv::Mat highlightRecovery(const cv::Mat& image, const EnhanceSettings& s) {
    if (image.empty()) return image;
    cv::Mat hsv;
    cv::cvtColor(image, hsv, cv::COLOR_BGR2HSV);
    cv::Mat v, mask, m;
    cv::extractChannel(hsv, v, 2);
    cv::compare(v, s.highlightThreshold, mask, cv::CMP_GT);
    mask.convertTo(m, CV_32F, 1.0 / 255.0);
    m = blurredWeight(m, s.highlightBlurRadius);

    // Blend each pixel towards its darkened level by the blurred mask.
    const std::vector<uchar> dark = levelsTable(s.highlightBlack, s.highlightWhite, s.highlightGamma);
    cv::Mat out(image.size(), CV_8UC3);
    for (int y = 0; y < image.rows; ++y) {
        const uchar* in = image.ptr<uchar>(y);
        const float* mr = m.ptr<float>(y);
        uchar* o = out.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x) {
            const float k = std::min(std::max(mr[x], 0.0f), 1.0f);
            for (int c = 0; c < 3; ++c) {
                const uchar p = in[3 * x + c];
                o[3 * x + c] = cv::saturate_cast<uchar>(float(p) * (1.0f - k) + float(dark[p]) * k);
            }
        }
    }
    return out;
}

cv::Mat finalSharpening(const cv::Mat& image, const EnhanceSettings& s) {
    if (image.empty()) return image;
    cv::Mat lab;
    cv::cvtColor(image, lab, cv::COLOR_BGR2Lab);
    cv::Mat L, Lf, blur;
    cv::extractChannel(lab, L, 0);
    L.convertTo(Lf, CV_32F);
    cv::GaussianBlur(Lf, blur, cv::Size(0, 0), s.sharpenSigma, 0, cv::BORDER_REFLECT_101);
    for (int y = 0; y < lab.rows; ++y) {
        const float* l = Lf.ptr<float>(y);
        const float* b = blur.ptr<float>(y);
        uchar* o = lab.ptr<uchar>(y);
        for (int x = 0; x < lab.cols; ++x) {
            float detail = l[x] - b[x];
            const float magnitude = std::abs(detail);
            // Differences up to the threshold are dropped; larger ones keep
            // what exceeds it, damped towards the strongest edges.
            const float gate =
                std::min(std::max((magnitude - s.sharpenThreshold) / (magnitude + 0.00001f), 0.0f), 1.0f);
            detail *= gate;
            detail *= 1.0f - std::abs(detail) / 255.0f;
            o[3 * x] = cv::saturate_cast<uchar>(std::min(std::max(l[x] + s.sharpenAmount * detail, 0.0f), 255.0f));
        }
    }
    cv::Mat out;
    cv::cvtColor(lab, out, cv::COLOR_Lab2BGR);
    return out;
}

}  // namespace keepframe
