#include "enhance_pipeline.h"

#include <algorithm>
#include <cmath>

namespace keepframe {

EnhanceSettings EnhanceSettings::forLevel(bool plus) {
    EnhanceSettings s;
    for (size_t i = 0; i < s.stageEnabled.size(); ++i) s.stageEnabled[i] = plus || i < 4;
    return s;
}

EnhanceResult EnhancePipeline::run(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                                   const std::vector<float>& confidences, const EnhanceSettings& s) {
    EnhanceBuffers buffers;
    return run(image, faces, confidences, s, buffers);
}

EnhanceResult EnhancePipeline::run(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                                   const std::vector<float>& confidences, const EnhanceSettings& s,
                                   EnhanceBuffers& buffers) {
    if (image.empty()) return {image, false};
    const FaceInput f{faces, confidences};
    const auto& on = s.stageEnabled;
    cv::Mat work = image;  // stages write into the buffers, over the input only when it lies in them
    if (on[0]) {
        work = skinColourBalance(work, f, s, buffers);
        if (work.empty()) return {work, false};
    }
    // Level changes wait in `tones` until a stage reads more than the face regions.
    ChannelTables tones(work);
    if (on[1]) baseToneCurve(tones, s);
    if (on[2]) {
        work = skinGuidedSaturation(tones.applied(buffers), f, s, buffers);
        tones = ChannelTables(work);
    }
    if (on[3]) skinToneBalance(tones, f, s);
    if (on[4]) skinExposure(tones, f, s);
    if (on[5]) secondPassCurves(tones, f, s);
    work = tones.applied(buffers);
    if (on[6]) work = shadowLift(work, s, buffers);
    if (on[7]) work = highlightRecovery(work, s, buffers);
    if (on[8]) work = finalSharpening(work, s, buffers);
    return {work, true};
}

namespace {
float clampf(float v, float lo, float hi) { return std::max(std::min(v, hi), lo); }
}  // namespace

cv::Mat skinColourBalance(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s,
                          EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    const SkinAndDarkPoint sample = sampleSkinAndDarkPoint(image, f.faces, f.confidences, s);
    const SkinSample& skin = sample.skin;
    int k[3];
    for (int c = 0; c < 3; ++c) k[c] = std::min(std::max(int(sample.darkPixel[c]) - 1, 0), s.darkPointMax);

    auto skinGamma = [&](float target, double mean) {
        return mean > 0 ? clampf(float(target / mean), s.balanceGammaMin, s.balanceGammaMax) : 0.0f;
    };
    float gR = skinGamma(s.balanceTargetR, skin.red), gG = skinGamma(s.balanceTargetG, skin.green),
          gB = skinGamma(s.balanceTargetB, skin.blue);
    const cv::Scalar mean = cv::mean(image);
    const double m = (mean[0] + mean[1] + mean[2]) / 3.0;
    const float A = m > 0 ? clampf(float(s.balanceTargetMean / m), s.balanceGammaMin, s.balanceGammaMax) : 1.0f;

    ChannelTables levels(image);
    if (gR > 0 && gG > 0 && gB > 0) {
        const float avg = (gR + gG + gB) / 3.0f;
        if (avg != A) {
            const float delta = clampf(A - avg, s.balanceDeltaMin, s.balanceDeltaMax);
            gR = clampf(gR + delta, s.balanceGammaMin, s.balanceGammaMax);
            gG = clampf(gG + delta, s.balanceGammaMin, s.balanceGammaMax);
            gB = clampf(gB + delta, s.balanceGammaMin, s.balanceGammaMax);
        }
        levels.then(levelsTable(s.balanceBlack, 255, gB), levelsTable(s.balanceBlack, 255, gG),
                    levelsTable(s.balanceBlack, 255, gR));
    } else {
        levels.then(levelsTable(s.balanceBlack, 255, clampf(A, s.fallbackGammaMin, s.fallbackGammaMax)));
    }
    cv::Mat out = adjustHls(levels.applied(buffers), 0, float(s.balanceSaturationPercent), 0, buffers);
    if (s.darkStretchEnabled) {
        ChannelTables stretch(out);
        stretch.then(curveTable({{float(k[0]), 0}, {s.darkStretchWhiteB, 255}}, 2.2f),
                     curveTable({{float(k[1]), 0}, {s.darkStretchWhiteG, 255}}, 2.2f),
                     curveTable({{float(k[2]), 0}, {s.darkStretchWhiteR, 255}}, 2.2f));
        out = stretch.applied(buffers);
    }
    return out;
}

void baseToneCurve(ChannelTables& image, const EnhanceSettings& s) {
    if (image.image().empty()) return;
    image.then(curveTable(s.toneCurve, 2.2f));
    image.then(curveTable({{s.toneBlackX, 0}, {255, 255}}, 2.2f));
}

cv::Mat skinGuidedSaturation(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s,
                             EnhanceBuffers& buffers) {
    if (image.empty()) return image;
    const SkinSample skin = sampleSkin(image, f.faces, f.confidences, s);
    const float p = skin.red > 0 ? clampf(float(s.saturationSkinTarget - skin.red), s.saturationMin, s.saturationMax)
                                 : s.saturationDefault;
    return adjustHls(image, 0, p, 0, buffers);
}

void skinToneBalance(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s) {
    if (image.image().empty()) return;
    const SkinSample skin = image.sampleSkin(f.faces, f.confidences, s);
    const float gB = skin.blue > 0 ? clampf(float(s.toneTargetB / skin.blue), s.toneGammaMinB, s.toneGammaMaxB) : 1.0f;
    const float gG =
        skin.green > 0 ? clampf(float(s.toneTargetG / skin.green), s.toneGammaMinG, s.toneGammaMaxG) : 1.0f;
    const float gR = skin.red > 0 ? clampf(float(s.toneTargetR / skin.red), s.toneGammaMinR, s.toneGammaMaxR) : 1.0f;
    image.then(levelsTable(s.toneBlack, 255, gB), levelsTable(s.toneBlack, 255, gG), levelsTable(s.toneBlack, 255, gR));
}

}  // namespace keepframe
