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
    // Stages that need a whole image only as the input of a per-row step
    // (a colour-space round trip, a blur and blend) work this many rows at a
    // time, through a strip-sized buffer that stays in the processor's cache.
    static constexpr int kStripRows = 64;

    // 8-bit BGR working images. A caller may decode its frame into one of
    // them (and turn it upright into the other) to spare a copy: a pipeline
    // run then works over it in place.
    cv::Mat images[2];
    cv::Mat grey;         // 8-bit, one channel
    cv::Mat strip;        // 8-bit, three channels: a strip of rows in another colour space
    cv::Mat floats[2];    // 32-bit float, one channel: a weight or mask, and a strip of its blur
    std::vector<uint8_t> fileBytes;  // the source file, for callers that read it
    std::vector<uint8_t> jpeg;       // the encoded result, for callers that write it

    // A working image that does not share memory with `m`.
    cv::Mat& other(const cv::Mat& m);
    // The working image `m` lies in, or another one when `m` is not one of
    // them: where a stage whose input is dead afterwards may write its output.
    cv::Mat& reusable(const cv::Mat& m);
};

}  // namespace keepframe
