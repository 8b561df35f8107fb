// The image memory of the colour pipeline, kept by its caller from photograph
// to photograph. A 24-megapixel frame needs buffers of 24 to 96 MB; taken and
// given back for every frame they cost more than the arithmetic, most of all
// on worker threads, whose allocation pools do not keep blocks that large on
// every system. A worker owns one EnhanceBuffers and hands it to every
// pipeline run it makes; the buffers keep their memory while the frame size
// stays the same. One EnhanceBuffers serves one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace keepframe {

struct EnhanceBuffers {
    cv::Mat decoded;      // the source frame, for callers that decode into it
    cv::Mat upright;      // the source turned upright, when it is stored turned
    cv::Mat images[2];    // 8-bit BGR working images, one stage's output beside the other's
    cv::Mat grey;         // 8-bit, one channel
    cv::Mat floats[2];    // 32-bit float, one channel: weights and masks, and their blurs
    std::vector<uint8_t> fileBytes;  // the source file, for callers that read it
    std::vector<uint8_t> jpeg;       // the encoded result, for callers that write it

    // Whether `m` lies in one of the working images.
    bool holds(const cv::Mat& m) const;
    // A working image that does not share memory with `m`.
    cv::Mat& other(const cv::Mat& m);
    // The working image `m` lies in, or another one when `m` is not one of
    // them: where a stage whose input is dead afterwards may write its output.
    cv::Mat& reusable(const cv::Mat& m);
};

}  // namespace keepframe
