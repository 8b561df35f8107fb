// Classical image measures of a frame and of the regions of its faces.
#pragma once

#include <opencv2/core/mat.hpp>

namespace keepframe {

struct Box {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// Variance of the Laplacian (kernel 1) of a grey image; a region of a larger
// image is measured on its own pixels only.
double imageSharpness(const cv::Mat& grey);
// max(0, 1 - 2 |mean / 255 - 0.5|) of a grey image.
double imageExposure(const cv::Mat& grey);
// Grey-level standard deviation / 128.
double imageContrast(const cv::Mat& grey);

// Laplacian variance inside a box clamped to the image, from the pixels of the
// box alone (as gradientMean); 0 when the clamped box is 3 pixels or less
// wide or tall.
double laplacianVariance(const cv::Mat& grey, const Box& box);

// Mean Sobel gradient magnitude (kernel 3) inside the clamped box; same
// 3-pixel minimum as laplacianVariance.
double gradientMean(const cv::Mat& grey, const Box& box);

// The window around an eye landmark for the eye sharpness: x from
// max(0, lx - 25) to min(lx + 25, W), y from max(0, ly - 17) to
// min(ly + 17, H), with lx and ly truncated; an empty rectangle when it is 9
// pixels wide or less or 7 pixels tall or less.
cv::Rect eyeWindow(float lx, float ly, int width, int height);

// The window the eye-state model judges: a square centred on the eye at
// (ex, ey), of side 0.7 x the distance between the two eyes, all in the
// coordinates of the frame it is cut from, clamped to that frame; empty under
// the same size floor as eyeWindow. A fixed window would hold the whole face
// of a small group-photo face and the eyelid of a close portrait.
cv::Rect eyeStateWindow(float ex, float ey, float eyeDistance, int width, int height);

// Mean Laplacian variance of the eye windows of the first two landmarks; 0
// when neither window is usable.
double eyeSharpness(const cv::Mat& grey, const float* landmarks);

struct SkinCheck {
    bool enabled = true;
    float minBrightness = 25.0f;
    float minSkinRatio = 0.12f;
};

// Skin-tone check of a colour face crop: passes when disabled or empty; fails
// when darker than the minimum brightness; otherwise passes when the share of
// pixels with Cr 133..173 and Cb 77..127 reaches the minimum ratio.
bool looksHuman(const cv::Mat& bgrCrop, const SkinCheck& check);

}  // namespace keepframe
