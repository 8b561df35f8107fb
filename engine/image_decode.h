// Reading a frame's pixels safely: the size its decoder will use is read from
// its header first and checked against the program's limits before any pixel
// memory is taken, and damage (corrupt or truncated data, which decoders fill
// with grey or leave out and would otherwise pass off as whole photographs) is
// reported the same way for every format. JPEG data of every colour space is
// decoded through libjpeg; PNG, TIFF and BMP through OpenCV.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace keepframe {

// The largest frame the program decodes: 200 megapixels, more than any camera
// makes. A file whose header declares more is refused, however small it is.
constexpr int64_t kMaxFramePixels = 200'000'000;
// Frames narrower than 32 pixels on a side, or longer than 100 times their
// short side, are not photographs the engine can judge (a 4 x 8000 strip).
constexpr int64_t kMinFrameSide = 32;
constexpr int64_t kMaxFrameAspect = 100;
// A JPEG of several scans (a progressive one) keeps the coefficients of the
// whole frame while it decodes: at most 256 MB of them, a 4:2:0 frame of
// about 85 megapixels. Camera frames are single-scan and need little.
constexpr int64_t kMaxJpegDecoderMemory = int64_t(256) << 20;
// TIFF tiles may hold as many pixels as their frame, or a megapixel when the
// frame is smaller: OpenCV's reader takes memory for a whole tile whatever
// the frame's size.
constexpr int64_t kMaxTiffTilePixels = int64_t(1) << 20;

struct DeclaredSize {
    int64_t width = 0;
    int64_t height = 0;
};

// The width and height of a JPEG, PNG, TIFF or BMP (as stored, before any
// EXIF rotation) as its decoder reads them: libjpeg's and libtiff's own header
// readers, PNG's IHDR, the BMP header as OpenCV reads it. Nothing for other
// data or a header the decoder cannot read.
std::optional<DeclaredSize> readDeclaredSize(const uint8_t* data, size_t size);

// Why a frame of this size is not decoded: "too large: W x H pixels (limit
// 200 megapixels)" or "degenerate size: W x H pixels"; empty when it may be.
std::string frameSizeProblem(int64_t width, int64_t height);

enum class DecodeStatus {
    Ok,
    Damaged,      // decoded, but the decoder reported corrupt or truncated data
    Refused,      // the size or layout the header declares breaks the limits above
    Undecodable,  // not an image the program reads
};

struct DecodedImage {
    // 8-bit BGR, upright; empty unless Ok or Damaged. What a damaged frame's
    // decoder could not read is grey: all of it when OpenCV gave no pixels of
    // a damaged PNG, TIFF or BMP.
    cv::Mat image;
    // The whole upright frame in full-resolution pixels, as its header
    // declares it; empty unless Ok or Damaged.
    cv::Size frameSize;
    DecodeStatus status = DecodeStatus::Undecodable;
    // Empty when Ok; otherwise the refusal ("too large: ...", "degenerate
    // size: ..."), what the decoder reported ("Premature end of JPEG file",
    // "PNG data cut short", libtiff's error) or "undecodable".
    std::string problem;
};

// Turns stored pixels upright by their EXIF orientation (1 to 8; other values
// leave them as they are), as OpenCV's readers do. A quarter turn (5 to 8)
// writes into `turnedInto` when given (its memory is reused when the size
// fits), else into new memory.
void applyOrientation(cv::Mat& image, int orientation, cv::Mat* turnedInto = nullptr);

// Decodes in colour at 1 / `reduction` of the size (1, 2, 4 or 8) with the
// EXIF orientation applied, giving the same pixels as cv::imdecode with
// IMREAD_COLOR or IMREAD_REDUCED_COLOR_<reduction> for whole files (a JPEG's
// sides rounded up, the others' down). Only JPEG, PNG, TIFF and BMP data is
// decoded, and only once its size is known. Never throws for bad data.
// With `into`, a JPEG is decoded into its memory (taken afresh only when the
// size or type differs), which the result then shares until it is turned
// upright; a frame stored turned by a quarter is turned into `turnedInto` in
// the same way. Decoding frame after frame into the same buffers, keep no
// earlier result.
DecodedImage decodeImage(std::span<const uint8_t> bytes, int reduction, cv::Mat* into = nullptr,
                         cv::Mat* turnedInto = nullptr);

// A part of the upright frame decoded at 1 / reduction of its size.
struct FrameRegion {
    FrameRegion() = default;
    // The whole of a decoded frame.
    FrameRegion(const cv::Mat& whole) : frameSize(whole.size()), area(0, 0, whole.cols, whole.rows), pixels(whole) {}

    // The pixels of `part`, which lies within `area`.
    cv::Mat cut(const cv::Rect& part) const { return pixels(part - area.tl()); }

    cv::Size frameSize;  // the whole upright frame at that size; empty when it cannot be decoded
    cv::Rect area;       // the part asked for, within the frame
    cv::Mat pixels;      // its pixels, as decodeImage gives them there; empty when none
};

// Decodes only the area `areaIn` gives for the upright frame's size (pixels
// at 1 / `reduction`; clipped to the frame) of the image: of a JPEG, the rows
// below the area are never decoded and the rows above and the columns beside
// it only entropy-decoded. Other images are decoded whole and cut. The pixels
// equal those of decodeImage inside the area, for every EXIF orientation,
// chroma sampling and restart interval.
FrameRegion decodeRegion(std::span<const uint8_t> bytes, int reduction,
                         const std::function<cv::Rect(cv::Size frame)>& areaIn);

}  // namespace keepframe
