#include "image_decode.h"

#include "exif.h"
#include "jpeg_segments.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <jerror.h>
#include <jpeglib.h>

namespace keepframe {
namespace {

uint32_t bigEndian16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t littleEndian16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t littleEndian32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool isJpeg(const uint8_t* data, size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// The frame header (SOF0 to SOF15, except the DHT, JPG and DAC markers that
// share the range) of the first frame, found by walking the segments.
std::optional<DeclaredSize> jpegSize(const uint8_t* data, size_t size) {
    std::optional<DeclaredSize> declared;
    walkJpegSegments(data, size, [&](uint8_t marker, size_t pos, size_t length) {
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frameHeader) return false;
        if (length >= 7 && pos + 9 <= size)
            declared = DeclaredSize{bigEndian16(data + pos + 7), bigEndian16(data + pos + 5)};
        return true;
    });
    return declared;
}

std::optional<DeclaredSize> pngSize(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size < 24 || std::memcmp(data, kSignature, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return std::nullopt;
    return DeclaredSize{bigEndian32(data + 16), bigEndian32(data + 20)};
}

std::optional<DeclaredSize> bmpSize(const uint8_t* data, size_t size) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') return std::nullopt;
    const uint32_t header = littleEndian32(data + 14);
    if (header == 12) return DeclaredSize{littleEndian16(data + 18), littleEndian16(data + 20)};  // OS/2 core header
    // Signed: a negative height stores the rows top-down.
    const auto width = int64_t(int32_t(littleEndian32(data + 18)));
    const auto height = int64_t(int32_t(littleEndian32(data + 22)));
    return DeclaredSize{std::abs(width), std::abs(height)};
}

// ImageWidth and ImageLength of the first image file directory.
std::optional<DeclaredSize> tiffSize(const uint8_t* data, size_t size) {
    if (size < 8) return std::nullopt;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M')) return std::nullopt;
    const auto u16 = [&](size_t at) { return little ? littleEndian16(data + at) : bigEndian16(data + at); };
    const auto u32 = [&](size_t at) { return little ? littleEndian32(data + at) : bigEndian32(data + at); };
    if (u16(2) != 42) return std::nullopt;
    const size_t ifd = u32(4);
    if (ifd > size - 2) return std::nullopt;
    const size_t entries = u16(ifd);
    std::optional<int64_t> width, height;
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = ifd + 2 + 12 * i;
        if (at > size - 12) break;
        const uint32_t tag = u16(at), type = u16(at + 2);
        if (tag != 256 && tag != 257) continue;
        const int64_t value = type == 3 ? u16(at + 8) : type == 4 ? u32(at + 8) : -1;
        if (value < 0) return std::nullopt;
        if (tag == 256) width = value;
        else height = value;
    }
    if (!width || !height) return std::nullopt;
    return DeclaredSize{*width, *height};
}

// libjpeg's error handling: fatal errors jump back to the decoder instead of
// ending the process; warnings that mean missing or corrupt picture data are
// kept. Warnings after the last scan line (a missing end marker, stray bytes
// before it) leave the picture whole and do not count.
struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool finishing = false;
    std::string damage;
};

[[noreturn]] void onJpegError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }

bool meansDamage(const jpeg_error_mgr& err) {
    switch (err.msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
        return true;
    case JWRN_EXTRANEOUS_DATA:
        return err.msg_parm.i[1] != JPEG_EOI;
    default:
        return false;
    }
}

void onJpegMessage(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (level >= 0 || errors->finishing || !errors->damage.empty() || !meansDamage(errors->pub)) return;
    char text[JMSG_LENGTH_MAX];
    errors->pub.format_message(info, text);
    errors->damage = text;
}

// Everything the jump back from libjpeg may touch lives here, outside the
// frame of the function that calls setjmp.
struct JpegJob {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors;
    cv::Mat image;
    bool fourComponents = false;
};

// Reads the header and sets the scale and the BGR output; false for CMYK and
// YCCK data (job.fourComponents), which OpenCV converts instead. Call after
// setjmp: fatal errors jump back to the caller.
bool startJpeg(JpegJob& job, std::span<const uint8_t> bytes, int reduction) {
    jpeg_create_decompress(&job.cinfo);
    jpeg_mem_src(&job.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&job.cinfo, TRUE);
    if (job.cinfo.num_components == 4) {
        job.fourComponents = true;
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    job.cinfo.scale_num = 1;
    job.cinfo.scale_denom = static_cast<unsigned>(reduction);
    job.cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&job.cinfo);
    return true;
}

void catchJpegErrors(JpegJob& job) {
    job.cinfo.err = jpeg_std_error(&job.errors.pub);
    job.errors.pub.error_exit = onJpegError;
    job.errors.pub.emit_message = onJpegMessage;
}

// job.image sized for `rows` x `columns` BGR pixels; the decoder is let go
// before an allocation failure reaches the caller.
void makeRoom(JpegJob& job, int rows, int columns) {
    try {
        job.image.create(rows, columns, CV_8UC3);
    } catch (...) {
        jpeg_destroy_decompress(&job.cinfo);
        throw;
    }
}

// Decodes into job.image in BGR order; false on a fatal decoder error, or for
// CMYK and YCCK data.
bool runJpeg(JpegJob& job, std::span<const uint8_t> bytes, int reduction) {
    catchJpegErrors(job);
    if (setjmp(job.errors.jump)) {
        jpeg_destroy_decompress(&job.cinfo);
        job.image.release();
        return false;
    }
    if (!startJpeg(job, bytes, reduction)) return false;
    makeRoom(job, int(job.cinfo.output_height), int(job.cinfo.output_width));
    while (job.cinfo.output_scanline < job.cinfo.output_height) {
        JSAMPROW row = job.image.ptr<uchar>(int(job.cinfo.output_scanline));
        jpeg_read_scanlines(&job.cinfo, &row, 1);
    }
    job.errors.finishing = true;
    jpeg_finish_decompress(&job.cinfo);
    jpeg_destroy_decompress(&job.cinfo);
    return true;
}

// Where the upright pixels of `area` lie in the stored frame of `stored` size.
cv::Rect storedArea(const cv::Rect& area, int orientation, cv::Size stored) {
    const int right = stored.width - area.x - area.width, bottom = stored.height - area.y - area.height;
    // Turned frames: upright columns are stored rows and upright rows stored columns.
    const int turnedRight = stored.width - area.y - area.height, turnedBottom = stored.height - area.x - area.width;
    switch (orientation) {
    case 2:
        return {right, area.y, area.width, area.height};
    case 3:
        return {right, bottom, area.width, area.height};
    case 4:
        return {area.x, bottom, area.width, area.height};
    case 5:
        return {area.y, area.x, area.height, area.width};
    case 6:
        return {area.y, turnedBottom, area.height, area.width};
    case 7:
        return {turnedRight, turnedBottom, area.height, area.width};
    case 8:
        return {turnedRight, area.x, area.height, area.width};
    default:
        return area;
    }
}

// The upright frame's part that `areaIn` names (clipped to the frame) into
// region: libjpeg-turbo skips the rows above it, crops the columns
// beside it and stops below it. The decoded band reaches one iMCU beyond the
// area on every side, so that upsampling near its edges sees the same
// neighbours as in a whole decode; the band is then cut to the area exactly.
// False on a fatal decoder error, or for CMYK and YCCK data.
bool runJpegRegion(JpegJob& job, std::span<const uint8_t> bytes, int reduction, int orientation,
                   const std::function<cv::Rect(cv::Size)>& areaIn, FrameRegion& region) {
    catchJpegErrors(job);
    if (setjmp(job.errors.jump)) {
        jpeg_destroy_decompress(&job.cinfo);
        job.image.release();
        return false;
    }
    if (!startJpeg(job, bytes, reduction)) return false;
    const cv::Size stored(int(job.cinfo.output_width), int(job.cinfo.output_height));
    const bool turned = orientation >= 5 && orientation <= 8;
    region.frameSize = turned ? cv::Size(stored.height, stored.width) : stored;
    region.area = areaIn(region.frameSize) & cv::Rect(cv::Point(0, 0), region.frameSize);
    if (region.area.empty()) {
        jpeg_destroy_decompress(&job.cinfo);
        return true;
    }
    const cv::Rect wanted = storedArea(region.area, orientation, stored);
    const int alignX = job.cinfo.max_h_samp_factor * job.cinfo.min_DCT_scaled_size;
    const int alignY = job.cinfo.max_v_samp_factor * job.cinfo.min_DCT_scaled_size;
    const cv::Rect band = cv::Rect(wanted.x - alignX, wanted.y - alignY, wanted.width + 2 * alignX,
                                   wanted.height + 2 * alignY) & cv::Rect(cv::Point(0, 0), stored);
    auto left = JDIMENSION(band.x), width = JDIMENSION(band.width);
    jpeg_crop_scanline(&job.cinfo, &left, &width);
    if (band.y > 0) jpeg_skip_scanlines(&job.cinfo, JDIMENSION(band.y));
    makeRoom(job, band.height, int(width));
    for (int y = 0; y < band.height; ++y) {
        JSAMPROW row = job.image.ptr<uchar>(y);
        if (jpeg_read_scanlines(&job.cinfo, &row, 1) != 1) {
            jpeg_destroy_decompress(&job.cinfo);
            job.image.release();
            return false;
        }
    }
    jpeg_destroy_decompress(&job.cinfo);  // the rows below are never decoded
    region.pixels = job.image(cv::Rect(wanted.x - int(left), wanted.y - band.y, wanted.width, wanted.height)).clone();
    applyOrientation(region.pixels, orientation);
    return true;
}

int openCvFlags(int reduction) {
    switch (reduction) {
    case 2:
        return cv::IMREAD_REDUCED_COLOR_2;
    case 4:
        return cv::IMREAD_REDUCED_COLOR_4;
    case 8:
        return cv::IMREAD_REDUCED_COLOR_8;
    default:
        return cv::IMREAD_COLOR;
    }
}

cv::Mat decodeWithOpenCv(std::span<const uint8_t> bytes, int reduction) {
    if (bytes.size() > size_t(std::numeric_limits<int>::max())) return {};
    try {
        const cv::Mat data(1, int(bytes.size()), CV_8U, const_cast<uint8_t*>(bytes.data()));
        return cv::imdecode(data, openCvFlags(reduction));
    } catch (const cv::Exception&) {
        return {};
    }
}

}  // namespace

void applyOrientation(cv::Mat& image, int orientation, cv::Mat* turnedInto) {
    cv::Mat fresh;
    cv::Mat& turned = turnedInto != nullptr ? *turnedInto : fresh;
    switch (orientation) {
    case 2:
        cv::flip(image, image, 1);
        break;
    case 3:
        cv::flip(image, image, -1);
        break;
    case 4:
        cv::flip(image, image, 0);
        break;
    case 5:
        cv::transpose(image, turned);
        image = turned;
        break;
    case 6:
        cv::transpose(image, turned);
        cv::flip(turned, turned, 1);
        image = turned;
        break;
    case 7:
        cv::flip(image, image, -1);
        cv::transpose(image, turned);
        image = turned;
        break;
    case 8:
        cv::transpose(image, turned);
        cv::flip(turned, turned, 0);
        image = turned;
        break;
    default:
        break;
    }
}

FrameRegion decodeRegion(std::span<const uint8_t> bytes, int reduction,
                         const std::function<cv::Rect(cv::Size frame)>& areaIn) {
    if (isJpeg(bytes.data(), bytes.size())) {
        const std::optional<DeclaredSize> declared = readDeclaredSize(bytes.data(), bytes.size());
        JpegJob job;
        FrameRegion region;
        if (declared && frameSizeProblem(declared->width, declared->height).empty() &&
            runJpegRegion(job, bytes, reduction, parseJpegExif(bytes.data(), bytes.size()).orientation, areaIn,
                          region))
            return region;
    }
    // Anything else is decoded whole and cut.
    const cv::Mat whole = decodeImage(bytes, reduction).image;
    FrameRegion region;
    if (whole.empty()) return region;
    region.frameSize = whole.size();
    region.area = areaIn(region.frameSize) & cv::Rect(cv::Point(0, 0), region.frameSize);
    if (!region.area.empty()) region.pixels = whole(region.area).clone();
    return region;
}

std::optional<DeclaredSize> readDeclaredSize(const uint8_t* data, size_t size) {
    if (data == nullptr) return std::nullopt;
    if (isJpeg(data, size)) return jpegSize(data, size);
    if (auto png = pngSize(data, size)) return png;
    if (auto bmp = bmpSize(data, size)) return bmp;
    return tiffSize(data, size);
}

std::string frameSizeProblem(int64_t width, int64_t height) {
    char text[128];
    const long long w = width, h = height;
    if (width > 0 && height > 0 && width > kMaxFramePixels / height) {
        std::snprintf(text, sizeof text, "too large: %lld x %lld pixels (limit %lld megapixels)", w, h,
                      static_cast<long long>(kMaxFramePixels / 1'000'000));
        return text;
    }
    const int64_t shortSide = std::min(width, height), longSide = std::max(width, height);
    if (shortSide < kMinFrameSide || longSide > kMaxFrameAspect * shortSide) {
        std::snprintf(text, sizeof text, "degenerate size: %lld x %lld pixels", w, h);
        return text;
    }
    return {};
}

DecodedImage decodeImage(std::span<const uint8_t> bytes, int reduction, cv::Mat* into, cv::Mat* turnedInto) {
    DecodedImage out;
    out.problem = "undecodable";
    if (bytes.empty()) return out;
    const std::optional<DeclaredSize> declared = readDeclaredSize(bytes.data(), bytes.size());
    if (declared) {
        const std::string problem = frameSizeProblem(declared->width, declared->height);
        if (!problem.empty()) {
            out.status = DecodeStatus::Refused;
            out.problem = problem;
            return out;
        }
    }

    std::string damage;
    bool decoded = false;
    if (isJpeg(bytes.data(), bytes.size())) {
        JpegJob job;
        if (into != nullptr) job.image = *into;
        decoded = runJpeg(job, bytes, reduction);
        if (decoded) {
            if (into != nullptr) *into = job.image;
            out.image = std::move(job.image);
            damage = job.errors.damage;
            applyOrientation(out.image, parseJpegExif(bytes.data(), bytes.size()).orientation, turnedInto);
        } else if (job.fourComponents) {
            out.image = decodeWithOpenCv(bytes, reduction);
        }
    } else {
        out.image = decodeWithOpenCv(bytes, reduction);
    }
    if (out.image.empty() || out.image.type() != CV_8UC3) {
        out.image.release();
        return out;
    }
    // A header the reader could not make out is judged by what was decoded.
    if (!declared) {
        const std::string problem = frameSizeProblem(int64_t(out.image.cols) * reduction,
                                                     int64_t(out.image.rows) * reduction);
        if (!problem.empty()) {
            out.image.release();
            out.status = DecodeStatus::Refused;
            out.problem = problem;
            return out;
        }
    }
    out.status = damage.empty() ? DecodeStatus::Ok : DecodeStatus::Damaged;
    out.problem = damage;
    return out;
}

}  // namespace keepframe
