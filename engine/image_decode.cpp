#include "image_decode.h"

#include "exif.h"
#include "tiff_reading.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <jerror.h>
#include <jpeglib.h>
#include <zlib.h>

namespace keepframe {
namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t littleEndian16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t littleEndian32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t kPngChunkFrame = 12;  // length, type and checksum around a chunk's data

// The formats the scan takes, told apart by their signatures as OpenCV tells
// them apart. Nothing else is decoded: no other decoder's size is read first.
enum class Format { Jpeg, Png, Tiff, Bmp, Other };

Format formatOf(const uint8_t* data, size_t size) {
    static const char* const kTiffSignatures[] = {"II*\0", "MM\0*", "II+\0", "MM\0+"};  // classic and BigTIFF
    if (data == nullptr) return Format::Other;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return Format::Jpeg;
    if (size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0)
        return Format::Png;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return Format::Bmp;
    for (const char* signature : kTiffSignatures)
        if (size >= 4 && std::memcmp(data, signature, 4) == 0) return Format::Tiff;
    return Format::Other;
}

// IHDR, which libpng requires as the first chunk.
std::optional<DeclaredSize> pngSize(const uint8_t* data, size_t size) {
    if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) return std::nullopt;
    return DeclaredSize{bigEndian32(data + 16), bigEndian32(data + 20)};
}

// A BMP's fields, by offset from the start of the file: the file header's
// pixel data offset, then the bitmap header, either the 12-byte core header
// (16-bit sides) or an info header of 36 bytes or more (32-bit sides).
constexpr size_t kBmpPixelOffsetAt = 10, kBmpHeaderSizeAt = 14, kBmpWidthAt = 18;
constexpr size_t kBmpCoreHeightAt = 20, kBmpCoreBitsAt = 24;
constexpr size_t kBmpHeightAt = 22, kBmpBitsAt = 28, kBmpCompressionAt = 30, kBmpImageSizeAt = 34;
constexpr uint32_t kBmpCoreHeader = 12, kBmpInfoHeaderMin = 36;
constexpr uint32_t kBmpRle8 = 1, kBmpRle4 = 2;

uint32_t bmpHeaderSize(const uint8_t* data) { return littleEndian32(data + kBmpHeaderSizeAt); }

// As OpenCV's BMP reader reads it: the info header's width must be positive
// (a negative height stores the rows top-down); other headers are not read.
std::optional<DeclaredSize> bmpSize(const uint8_t* data, size_t size) {
    if (size < kBmpHeightAt + 4) return std::nullopt;
    const uint32_t header = bmpHeaderSize(data);
    if (header == kBmpCoreHeader)
        return DeclaredSize{littleEndian16(data + kBmpWidthAt), littleEndian16(data + kBmpCoreHeightAt)};
    if (header < kBmpInfoHeaderMin) return std::nullopt;
    const auto width = int64_t(int32_t(littleEndian32(data + kBmpWidthAt)));
    const auto height = int64_t(int32_t(littleEndian32(data + kBmpHeightAt)));
    if (width <= 0) return std::nullopt;
    return DeclaredSize{width, std::abs(height)};
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
    DeclaredSize stored;         // the frame's size, as its header declares it
    std::string refusal;         // why the frame is not decoded, when its size breaks a limit
    bool cmyk = false;           // four components, decoded as CMYK and turned into BGR row by row
    std::vector<uint8_t> cmykRow;
};

void catchJpegErrors(JpegJob& job) {
    job.cinfo.err = jpeg_std_error(&job.errors.pub);
    job.errors.pub.error_exit = onJpegError;
    job.errors.pub.emit_message = onJpegMessage;
}

// Reads the header only, with the decoder that decodes the frame: the size
// libjpeg takes is the size that is checked, wherever the frame header lies.
std::optional<DeclaredSize> jpegSize(std::span<const uint8_t> bytes) {
    JpegJob job;
    catchJpegErrors(job);
    if (setjmp(job.errors.jump)) {
        jpeg_destroy_decompress(&job.cinfo);
        return std::nullopt;
    }
    jpeg_create_decompress(&job.cinfo);
    jpeg_mem_src(&job.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&job.cinfo, TRUE);
    job.stored = DeclaredSize{job.cinfo.image_width, job.cinfo.image_height};
    jpeg_destroy_decompress(&job.cinfo);
    return job.stored;
}

std::string jpegMemoryProblem(const DeclaredSize& size) {
    char text[160];
    std::snprintf(text, sizeof text, "too large: %lld x %lld pixels in a JPEG of several scans (limit %lld MB)",
                  static_cast<long long>(size.width), static_cast<long long>(size.height),
                  static_cast<long long>(kMaxJpegDecoderMemory >> 20));
    return text;
}

// Reads the header, refuses a frame whose size breaks the limits (into
// job.refusal, before any pixel memory is taken) and sets the scale and the
// output: BGR, or CMYK that readJpegRow turns into BGR. Call after setjmp:
// fatal errors jump back to the caller.
bool startJpeg(JpegJob& job, std::span<const uint8_t> bytes, int reduction) {
    jpeg_create_decompress(&job.cinfo);
    // A JPEG of several scans (a progressive one) keeps the coefficients of
    // the whole frame; past the budget libjpeg stops with JERR_NO_BACKING_STORE.
    job.cinfo.mem->max_memory_to_use = long(kMaxJpegDecoderMemory);
    jpeg_mem_src(&job.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&job.cinfo, TRUE);
    job.stored = DeclaredSize{job.cinfo.image_width, job.cinfo.image_height};
    job.refusal = frameSizeProblem(job.stored.width, job.stored.height);
    if (!job.refusal.empty()) {
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    job.cmyk = job.cinfo.num_components == 4;
    job.cinfo.scale_num = 1;
    job.cinfo.scale_denom = static_cast<unsigned>(reduction);
    job.cinfo.out_color_space = job.cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&job.cinfo);
    return true;
}

// After a fatal decoder error: the decoder let go, and a frame that needed
// more memory than the budget refused.
void abandonJpeg(JpegJob& job) {
    if (job.errors.pub.msg_code == JERR_NO_BACKING_STORE) job.refusal = jpegMemoryProblem(job.stored);
    jpeg_destroy_decompress(&job.cinfo);
    job.image.release();
}

// job.image sized for `rows` x `columns` BGR pixels; the decoder is let go
// before an allocation failure reaches the caller.
void makeRoom(JpegJob& job, int rows, int columns) {
    try {
        job.image.create(rows, columns, CV_8UC3);
        if (job.cmyk) job.cmykRow.resize(size_t(job.cinfo.output_width) * 4);
    } catch (...) {
        jpeg_destroy_decompress(&job.cinfo);
        throw;
    }
}

// CMYK to BGR as OpenCV's JPEG reader turns it (each of C, M and Y scaled by
// K), so that a CMYK frame keeps the pixels it had.
void cmykToBgr(const uint8_t* cmyk, uint8_t* bgr, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, cmyk += 4, bgr += 3) {
        const int k = cmyk[3];
        bgr[0] = uint8_t(k - ((255 - cmyk[2]) * k >> 8));
        bgr[1] = uint8_t(k - ((255 - cmyk[1]) * k >> 8));
        bgr[2] = uint8_t(k - ((255 - cmyk[0]) * k >> 8));
    }
}

// The next scan line into `row`, in BGR order; the number of lines read.
JDIMENSION readJpegRow(JpegJob& job, uint8_t* row) {
    JSAMPROW target = job.cmyk ? job.cmykRow.data() : row;
    const JDIMENSION read = jpeg_read_scanlines(&job.cinfo, &target, 1);
    if (job.cmyk && read == 1) cmykToBgr(job.cmykRow.data(), row, job.cinfo.output_width);
    return read;
}

// Decodes into job.image in BGR order; false on a fatal decoder error or a
// refused size (job.refusal).
bool runJpeg(JpegJob& job, std::span<const uint8_t> bytes, int reduction) {
    catchJpegErrors(job);
    if (setjmp(job.errors.jump)) {
        abandonJpeg(job);
        return false;
    }
    if (!startJpeg(job, bytes, reduction)) return false;
    makeRoom(job, int(job.cinfo.output_height), int(job.cinfo.output_width));
    while (job.cinfo.output_scanline < job.cinfo.output_height)
        readJpegRow(job, job.image.ptr<uchar>(int(job.cinfo.output_scanline)));
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
// False on a fatal decoder error or a refused size.
bool runJpegRegion(JpegJob& job, std::span<const uint8_t> bytes, int reduction, int orientation,
                   const std::function<cv::Rect(cv::Size)>& areaIn, FrameRegion& region) {
    catchJpegErrors(job);
    if (setjmp(job.errors.jump)) {
        abandonJpeg(job);
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
        if (readJpegRow(job, job.image.ptr<uchar>(y)) != 1) {
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

cv::Mat openCvPixels(std::span<const uint8_t> bytes, int reduction) {
    if (bytes.size() > size_t(std::numeric_limits<int>::max())) return {};
    try {
        const cv::Mat data(1, int(bytes.size()), CV_8U, const_cast<uint8_t*>(bytes.data()));
        cv::Mat image = cv::imdecode(data, openCvFlags(reduction));
        if (image.type() != CV_8UC3) image.release();
        return image;
    } catch (const cv::Exception&) {
        return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

DecodedImage undecodable() {
    DecodedImage out;
    out.problem = "undecodable";
    return out;
}

DecodedImage refused(const std::string& problem) {
    DecodedImage out;
    out.status = DecodeStatus::Refused;
    out.problem = problem;
    return out;
}

// The decoded frame, damaged when the decoder reported `damage`.
DecodedImage decoded(cv::Mat image, cv::Size frameSize, const std::string& damage) {
    DecodedImage out;
    out.image = std::move(image);
    out.frameSize = frameSize;
    out.status = damage.empty() ? DecodeStatus::Ok : DecodeStatus::Damaged;
    out.problem = damage;
    return out;
}

cv::Size uprightJpegSize(const DeclaredSize& stored, int orientation) {
    const bool turned = orientation >= 5 && orientation <= 8;
    return turned ? cv::Size(int(stored.height), int(stored.width)) : cv::Size(int(stored.width), int(stored.height));
}

DecodedImage decodeJpeg(std::span<const uint8_t> bytes, int reduction, cv::Mat* into, cv::Mat* turnedInto) {
    JpegJob job;
    if (into != nullptr) job.image = *into;
    if (!runJpeg(job, bytes, reduction)) return job.refusal.empty() ? undecodable() : refused(job.refusal);
    if (into != nullptr) *into = job.image;
    const int orientation = parseJpegExif(bytes.data(), bytes.size()).orientation;
    applyOrientation(job.image, orientation, turnedInto);
    return decoded(std::move(job.image), uprightJpegSize(job.stored, orientation), job.errors.damage);
}

// What is wrong with a PNG that libpng cannot decode: a chunk that runs past
// the end of the data or no IEND, a critical chunk whose checksum fails, or
// else the compressed picture itself.
std::string pngProblem(const uint8_t* data, size_t size) {
    size_t pos = sizeof kPngSignature;
    while (true) {
        if (pos > size || size - pos < kPngChunkFrame) return "PNG data cut short";
        const uint32_t length = bigEndian32(data + pos);
        if (length > size - pos - kPngChunkFrame) return "PNG data cut short";
        const uint8_t* type = data + pos + 4;
        const bool critical = (type[0] & 0x20) == 0;  // an upper-case first letter
        const uLong checksum = crc32(0, type, uInt(4 + length));
        if (critical && checksum != bigEndian32(type + 4 + length))
            return "PNG chunk " + std::string(reinterpret_cast<const char*>(type), 4) + " fails its checksum";
        if (std::memcmp(type, "IEND", 4) == 0) return "corrupt PNG image data";
        pos += kPngChunkFrame + length;
    }
}

// Pixel data a BMP header promises but the file does not hold, laid out as
// OpenCV's reader reads it: rows of whole 32-bit words, or the stated size of
// run-length data. Empty when the data is all there or the header is not one
// OpenCV reads.
std::string bmpProblem(const uint8_t* data, size_t size) {
    const std::optional<DeclaredSize> frame = bmpSize(data, size);
    if (!frame || size < kBmpImageSizeAt + 4) return {};
    const uint64_t offset = littleEndian32(data + kBmpPixelOffsetAt);
    const bool core = bmpHeaderSize(data) == kBmpCoreHeader;
    const uint64_t bits = littleEndian16(data + (core ? kBmpCoreBitsAt : kBmpBitsAt));
    const uint32_t compression = core ? 0 : littleEndian32(data + kBmpCompressionAt);
    uint64_t needed = 0;
    if (compression == kBmpRle8 || compression == kBmpRle4) {
        needed = littleEndian32(data + kBmpImageSizeAt);
    } else {
        const uint64_t rowBytes = ((uint64_t(frame->width) * bits + 7) / 8 + 3) & ~uint64_t(3);
        needed = rowBytes * uint64_t(frame->height);
    }
    const uint64_t held = offset < size ? size - offset : 0;
    if (held >= needed) return {};
    char text[128];
    std::snprintf(text, sizeof text, "BMP pixel data cut short: %llu of %llu bytes",
                  static_cast<unsigned long long>(held), static_cast<unsigned long long>(needed));
    return text;
}

// OpenCV's TIFF reader takes four bytes for every pixel of a tile, and libtiff
// as many again as the decoded tile holds, however small the frame: tiles
// with more pixels than their frame (and than kMaxTiffTilePixels) are refused.
// For a frame whose own size passed frameSizeProblem.
std::string tiffTileProblem(const TiffLayout& layout) {
    if (layout.tileWidth <= 0 || layout.tileHeight <= 0) return {};
    const int64_t allowed = std::max(layout.width * layout.height, kMaxTiffTilePixels);
    if (layout.tileWidth <= allowed / layout.tileHeight) return {};
    char text[160];
    std::snprintf(text, sizeof text, "too large: TIFF tiles of %lld x %lld pixels for a %lld x %lld frame",
                  static_cast<long long>(layout.tileWidth), static_cast<long long>(layout.tileHeight),
                  static_cast<long long>(layout.width), static_cast<long long>(layout.height));
    return text;
}

// A damaged frame its decoder gave no pixels of: grey, at the size OpenCV
// gives such a frame (its sides rounded down).
cv::Mat greyFrame(const DeclaredSize& size, int reduction) {
    constexpr double kGrey = 128;
    const int width = std::max(1, int(size.width / reduction)), height = std::max(1, int(size.height / reduction));
    return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(kGrey));
}

// The upright full-resolution size of a frame OpenCV decoded: the declared
// one, turned when OpenCV turned the pixels (it turns a PNG by its EXIF
// orientation). A frame whose sides differ by less than `reduction` reads as
// not turned either way; its decoded sides are the same, rounded down, so no
// box in its pixels lies outside either size.
cv::Size uprightSize(const cv::Mat& image, const DeclaredSize& stored, int reduction) {
    const cv::Size straight(int(stored.width / reduction), int(stored.height / reduction));
    const bool turned = image.size() != straight && image.size() == cv::Size(straight.height, straight.width);
    return turned ? cv::Size(int(stored.height), int(stored.width)) : cv::Size(int(stored.width), int(stored.height));
}

// PNG, TIFF and BMP frames go through OpenCV, which leaves out whatever went
// wrong: damage is told from the file's structure (PNG, BMP) or from the
// errors libtiff reported while OpenCV read it (TIFF). A damaged frame OpenCV
// gave no pixels of is a grey frame.
DecodedImage decodeWithOpenCv(std::span<const uint8_t> bytes, Format format, int reduction) {
    const uint8_t* data = bytes.data();
    std::optional<DeclaredSize> stored;
    std::optional<TiffLayout> layout;
    if (format == Format::Tiff) {
        layout = readTiffLayout(bytes);
        if (!layout || !layout->colourReadable) return undecodable();
        stored = DeclaredSize{layout->width, layout->height};
    } else {
        stored = format == Format::Png ? pngSize(data, bytes.size()) : bmpSize(data, bytes.size());
    }
    if (!stored) return undecodable();
    std::string refusal = frameSizeProblem(stored->width, stored->height);
    if (refusal.empty() && layout) refusal = tiffTileProblem(*layout);
    if (!refusal.empty()) return refused(refusal);

    std::string damage = format == Format::Bmp ? bmpProblem(data, bytes.size()) : std::string();
    cv::Mat image;
    {
        const TiffErrorCapture libtiffErrors;
        image = openCvPixels(bytes, reduction);
        if (format == Format::Tiff) damage = libtiffErrors.firstError();
    }
    if (image.empty() && format == Format::Png) damage = pngProblem(data, bytes.size());
    if (image.empty() && damage.empty()) return undecodable();
    if (image.empty()) {
        const cv::Size asStored(int(stored->width), int(stored->height));
        return decoded(greyFrame(*stored, reduction), asStored, damage);
    }
    const cv::Size frameSize = uprightSize(image, *stored, reduction);
    return decoded(std::move(image), frameSize, damage);
}

}  // namespace

void applyOrientation(cv::Mat& image, int orientation, cv::Mat* turnedInto) {
    // EXIF orientations 2 to 8 as the steps that make a frame upright: a flip
    // (OpenCV's flip code), then a transpose, then a flip of the transposed frame.
    constexpr int kNoFlip = 2;
    struct Steps {
        int flipBefore;
        bool transpose;
        int flipAfter;
    };
    static constexpr Steps kSteps[] = {{1, false, kNoFlip},       {-1, false, kNoFlip}, {0, false, kNoFlip},
                                       {kNoFlip, true, kNoFlip}, {kNoFlip, true, 1},   {-1, true, kNoFlip},
                                       {kNoFlip, true, 0}};
    if (orientation < 2 || orientation > 8) return;
    const Steps& steps = kSteps[orientation - 2];
    if (steps.flipBefore != kNoFlip) cv::flip(image, image, steps.flipBefore);
    if (!steps.transpose) return;
    cv::Mat fresh;
    cv::Mat& turned = turnedInto != nullptr ? *turnedInto : fresh;
    cv::transpose(image, turned);
    if (steps.flipAfter != kNoFlip) cv::flip(turned, turned, steps.flipAfter);
    image = turned;
}

FrameRegion decodeRegion(std::span<const uint8_t> bytes, int reduction,
                         const std::function<cv::Rect(cv::Size frame)>& areaIn) {
    if (formatOf(bytes.data(), bytes.size()) == Format::Jpeg) {
        JpegJob job;
        FrameRegion region;
        const int orientation = parseJpegExif(bytes.data(), bytes.size()).orientation;
        if (runJpegRegion(job, bytes, reduction, orientation, areaIn, region)) return region;
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
    switch (formatOf(data, size)) {
    case Format::Jpeg:
        return jpegSize({data, size});
    case Format::Png:
        return pngSize(data, size);
    case Format::Bmp:
        return bmpSize(data, size);
    case Format::Tiff:
        if (const std::optional<TiffLayout> layout = readTiffLayout({data, size}))
            return DeclaredSize{layout->width, layout->height};
        return std::nullopt;
    case Format::Other:
        break;
    }
    return std::nullopt;
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
    const Format format = formatOf(bytes.data(), bytes.size());
    switch (format) {
    case Format::Jpeg:
        return decodeJpeg(bytes, reduction, into, turnedInto);
    case Format::Png:
    case Format::Tiff:
    case Format::Bmp:
        return decodeWithOpenCv(bytes, format, reduction);
    case Format::Other:
        break;
    }
    return undecodable();
}

}  // namespace keepframe
