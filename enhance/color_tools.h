// Building blocks of the colour pipeline: 256-entry curve and levels tables,
// the HLS adjustment, and the skin samplers that steer most stages.
#pragma once

#include <array>
#include <functional>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "enhance_buffers.h"

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
// The same, converting through the working images of `buffers`; the result
// lies in them, in the memory of `image` when that is one of them.
cv::Mat adjustHls(const cv::Mat& image, float hueShift, float saturationPercent, float lightnessPercent,
                  EnhanceBuffers& buffers);

SkinSample maskedSkinMean(const cv::Mat& region);
// The face box shrunk by 15 % on each side and clamped; empty when unusable.
cv::Rect insetFaceRegion(const cv::Rect& face, const cv::Size& image);
bool acceptableSkin(const SkinSample& s, const EnhanceSettings& settings);

SkinSample sampleSkin(const cv::Mat& image, const std::vector<cv::Rect>& faces, const std::vector<float>& confidences,
                      const EnhanceSettings& settings);
// The pixels of one region of an image of a given size, which need not exist whole.
using RegionReader = std::function<cv::Mat(const cv::Rect&)>;
SkinSample sampleSkin(const cv::Size& image, const RegionReader& region, const std::vector<cv::Rect>& faces,
                      const std::vector<float>& confidences, const EnhanceSettings& settings);

struct SkinAndDarkPoint {
    SkinSample skin;
    cv::Vec3b darkPixel{0, 0, 0};  // B, G, R
};
SkinAndDarkPoint sampleSkinAndDarkPoint(const cv::Mat& image, const std::vector<cv::Rect>& faces,
                                        const std::vector<float>& confidences, const EnhanceSettings& settings);

// Applies one table per channel (blue, green, red).
cv::Mat applyPerChannel(const cv::Mat& image, const std::vector<uchar>& blue, const std::vector<uchar>& green,
                        const std::vector<uchar>& red);

// A run of level changes (curves, levels) still to be made to an image: their
// tables composed into one table per channel, applied in one pass. The skin
// samplers of the stages in between read the face regions through the tables
// so far, which gives them the pixels the image would have after each change.
class ChannelTables {
public:
    explicit ChannelTables(const cv::Mat& image);

    // The table of one change, for every channel alike or one per channel.
    void then(const std::vector<uchar>& table);
    void then(const std::vector<uchar>& blue, const std::vector<uchar>& green, const std::vector<uchar>& red);

    const cv::Mat& image() const { return image_; }
    SkinSample sampleSkin(const std::vector<cv::Rect>& faces, const std::vector<float>& confidences,
                          const EnhanceSettings& settings) const;
    // The image with every change made: the image itself when there was none,
    // else written into a working image of `buffers` (its own memory when it
    // is one of them).
    cv::Mat applied(EnhanceBuffers& buffers) const;

private:
    cv::Mat image_;
    std::array<std::array<uchar, 256>, 3> tables_{};
    bool identity_ = true;
};

}  // namespace keepframe
