// Classical image measures of a frame and of the regions of its faces.
#pragma once

#include <opencv2/core/mat.hpp>

namespace keepframe {

struct Box {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// Variance of the Laplacian (kernel 1) of a grey image.
double imageSharpness(const cv::Mat& grey);
// max(0, 1 - 2 |mean / 255 - 0.5|) of a grey image.
double imageExposure(const cv::Mat& grey);
// Grey-level standard deviation / 128.
double imageContrast(const cv::Mat& grey);

// Laplacian variance inside a box clamped to the image; 0 when the clamped
// box is 3 pixels or less wide or tall.
double laplacianVariance(const cv::Mat& grey, const Box& box);

}  // namespace keepframe
