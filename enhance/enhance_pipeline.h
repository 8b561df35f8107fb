// The nine-stage colour correction of kept photographs. "Enhance" runs stages
// 1 to 4 (exposure, white balance, basic tone); "Enhance Plus" all nine
// (second-pass curves, shadow lift, highlight recovery, final sharpening).
#pragma once

#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "color_tools.h"
#include "enhance_buffers.h"

namespace keepframe {

struct EnhanceSettings {
    std::array<bool, 9> stageEnabled{true, true, true, true, false, false, false, false, false};
    float minFaceConfidence = 0.8f;
    double minFaceArea = 5000.0;
    double minSkinBrightness = 120.0;
    double maxBlueToRed = 0.9;
    double maxGreenToRed = 0.9;
    float balanceTargetR = 205.0f, balanceTargetG = 143.0f, balanceTargetB = 122.0f;
    float balanceTargetMean = 175.0f;
    float balanceGammaMin = 0.95f, balanceGammaMax = 1.05f;
    int balanceBlack = 3;
    float balanceDeltaMin = -0.1f, balanceDeltaMax = 0.05f;
    float fallbackGammaMin = 0.95f, fallbackGammaMax = 1.05f;
    int darkPointMax = 10;
    int balanceSaturationPercent = 3;
    float darkStretchWhiteB = 254.0f, darkStretchWhiteG = 253.0f, darkStretchWhiteR = 252.0f;
    bool darkStretchEnabled = false;
    CurvePoints toneCurve{{1, 0}, {56, 65}, {97, 106}, {137, 140}, {191, 191}, {255, 255}};
    float toneBlackX = 1.0f;
    float saturationSkinTarget = 210.0f, saturationMin = -1.0f, saturationMax = 5.0f, saturationDefault = 5.0f;
    float toneTargetR = 200.0f, toneTargetG = 143.0f, toneTargetB = 122.0f;
    float toneGammaMinB = 0.97f, toneGammaMaxB = 1.07f;
    float toneGammaMinG = 0.98f, toneGammaMaxG = 1.08f;
    float toneGammaMinR = 0.99f, toneGammaMaxR = 1.1f;
    int toneBlack = 3;
    int exposureBlack = 5, exposureWhite = 255;
    float exposureTarget = 170.0f, exposureGammaMin = 0.95f, exposureGammaMax = 1.05f;
    float shadowCenter = 180.0f, shadowWidth = 40.0f;
    int shadowBlurRadius = 5;
    float shadowAmount = 0.05f;
    float highlightThreshold = 210.0f;
    int highlightBlurRadius = 20, highlightBlack = 0, highlightWhite = 255;
    float highlightGamma = 0.9f;
    float sharpenAmount = 0.3f, sharpenSigma = 0.5f, sharpenThreshold = 20.0f;

    // Stages 1 to 4, or all nine with `plus`.
    static EnhanceSettings forLevel(bool plus);
};

struct EnhanceResult {
    cv::Mat image;
    bool ok = false;
};

struct FaceInput {
    std::vector<cv::Rect> faces;
    std::vector<float> confidences;  // may be shorter: a missing one counts as 1.0
};

class EnhancePipeline {
public:
    // The input image is never modified.
    static EnhanceResult run(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                             const std::vector<float>& confidences, const EnhanceSettings& settings);
    // The same, working in the caller's buffers: the result lies in them and
    // stays valid until they serve the next run. An input that lies in the
    // buffers' working images is worked over in place; any other is never modified.
    static EnhanceResult run(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                             const std::vector<float>& confidences, const EnhanceSettings& settings,
                             EnhanceBuffers& buffers);
};

// The stages, each returning an empty input unchanged. Stages that remap
// levels alone (2, 4, 5, 6) add their tables to a ChannelTables of the image,
// so that consecutive ones cost one pass over it; the others write their
// output into the working images of `buffers`, into the memory of their input
// when that is one of them.
cv::Mat skinColourBalance(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s,
                          EnhanceBuffers& buffers);                                                // 1
void baseToneCurve(ChannelTables& image, const EnhanceSettings& s);                               // 2
cv::Mat skinGuidedSaturation(const cv::Mat& image, const FaceInput& f, const EnhanceSettings& s,
                             EnhanceBuffers& buffers);                                             // 3
void skinToneBalance(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s);          // 4
void skinExposure(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s);            // 5
void secondPassCurves(ChannelTables& image, const FaceInput& f, const EnhanceSettings& s);        // 6
cv::Mat shadowLift(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers);      // 7
cv::Mat highlightRecovery(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers);  // 8
cv::Mat finalSharpening(const cv::Mat& image, const EnhanceSettings& s, EnhanceBuffers& buffers);    // 9

}  // namespace keepframe
