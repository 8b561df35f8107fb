#include "enhance_buffers.h"

namespace keepframe {

namespace {

bool sameMemory(const cv::Mat& a, const cv::Mat& b) { return a.datastart != nullptr && a.datastart == b.datastart; }

}  // namespace

cv::Mat& EnhanceBuffers::other(const cv::Mat& m) { return sameMemory(m, images[0]) ? images[1] : images[0]; }

cv::Mat& EnhanceBuffers::reusable(const cv::Mat& m) { return sameMemory(m, images[1]) ? images[1] : images[0]; }

}  // namespace keepframe
