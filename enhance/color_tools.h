// Building blocks of the colour pipeline: 256-entry curve and levels tables,
// the HLS adjustment, and the skin samplers that steer most stages.
#pragma once

#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace keepframe {

struct EnhanceSettings;

struct SkinSample {
    double blue = 0, green = 0, red = 0, brightness = 0;  // all 0: nothing sampled
};

using CurvePoints = std::vector<std::pair<float, float>>;

// The 256-entry table of a curve through the points (see applyCurve).
std::vector<uchar> curveTable(CurvePoints points, float power);
cv::Mat applyCurve(const cv::Mat& image, const CurvePoints& points, float power);

std::vector<uchar> levelsTable(int black, int white, float gamma);
cv::Mat applyLevels(const cv::Mat& image, int black, int white, float gamma);

cv::Mat adjustHls(const cv::Mat& image, float hueShift, float saturationPercent, float lightnessPercent);

SkinSample maskedSkinMean(const cv::Mat& region);
// The face box shrunk by 15 % on each side and clamped; empty when unusable.
cv::Rect insetFaceRegion(const cv::Rect& face, const cv::Size& image);
bool acceptableSkin(const SkinSample& s, const EnhanceSettings& settings);

SkinSample sampleSkin(const cv::Mat& image, const std::vector<cv::Rect>& faces, const std::vector<float>& confidences,
                      const EnhanceSettings& settings);

struct SkinAndDarkPoint {
    SkinSample skin;
    cv::Vec3b darkPixel{0, 0, 0};  // B, G, R
};
SkinAndDarkPoint sampleSkinAndDarkPoint(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                                        const std::vector<float>& confidences, const EnhanceSettings& settings);

// Applies one table per channel (blue, green, red).
cv::Mat applyPerChannel(const cv::Mat& image, const std::vector<uchar>& blue, const std::vector<uchar>& green,
                        const std::vector<uchar>& red);

}  // namespace keepframe
