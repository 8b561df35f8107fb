// Declared sizes, the size limits and decoding that notices damaged JPEGs,
// on small generated files of every kind that broke a cull.
#include "exif_writer.h"
#include "fault_files.h"
#include "image_decode.h"

#include <gtest/gtest.h>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

std::optional<DeclaredSize> sizeOf(const std::vector<uint8_t>& bytes) {
    return readDeclaredSize(bytes.data(), bytes.size());
}

void expectSize(const std::vector<uint8_t>& bytes, int64_t width, int64_t height, const char* what) {
    const auto size = sizeOf(bytes);
    ASSERT_TRUE(size.has_value()) << what;
    EXPECT_EQ(size->width, width) << what;
    EXPECT_EQ(size->height, height) << what;
}

// The pixels OpenCV's own reader gives for the same bytes.
cv::Mat openCvDecode(const std::vector<uint8_t>& bytes, int reduction) {
    const int flags = reduction == 2   ? cv::IMREAD_REDUCED_COLOR_2
                      : reduction == 4 ? cv::IMREAD_REDUCED_COLOR_4
                                       : cv::IMREAD_COLOR;
    return cv::imdecode(bytes, flags);
}

// A file the decoder refuses or cannot read, and what it says of it.
struct RefusedCase {
    const char* what;
    std::vector<uint8_t> bytes;
    DecodeStatus status;
    std::string problem;
};

// Each case is answered with its status and problem and without pixels; with
// `checkBuffer` the decoder's own memory is never taken either.
void expectRefused(const std::vector<RefusedCase>& cases, bool checkBuffer) {
    for (const RefusedCase& c : cases) {
        cv::Mat buffer;
        const DecodedImage d = decodeImage(c.bytes, 4, checkBuffer ? &buffer : nullptr);
        EXPECT_EQ(d.status, c.status) << c.what;
        EXPECT_EQ(d.problem, c.problem) << c.what;
        EXPECT_TRUE(d.image.empty()) << c.what;
        EXPECT_TRUE(buffer.empty()) << c.what;
    }
}

}  // namespace

TEST(DeclaredSize, EveryFormatTheScanTakes) {
    const cv::Mat img = noise(123, 45);
    expectSize(encoded(img, ".jpg"), 123, 45, "jpeg");
    expectSize(encoded(img, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}), 123, 45, "progressive jpeg");
    expectSize(encoded(img, ".png"), 123, 45, "png");
    expectSize(encoded(img, ".bmp"), 123, 45, "bmp");
    expectSize(encoded(img, ".tiff"), 123, 45, "tiff");
    expectSize(tiffDeclaring(30000, 40000), 30000, 40000, "patched tiff");
    expectSize(bmpDeclaring(500, -300), 500, 300, "top-down bmp");
    expectSize(withJpegSize(encoded(img, ".jpg"), 65000, 1), 65000, 1, "patched jpeg");

    EXPECT_FALSE(sizeOf(garbage(300)).has_value());
    EXPECT_FALSE(sizeOf({}).has_value());
    EXPECT_FALSE(sizeOf(truncated(encoded(img, ".jpg"), 0.01)).has_value());  // cut before the frame header
    EXPECT_FALSE(readDeclaredSize(nullptr, 10).has_value());
}

TEST(DeclaredSize, LimitsOfWhatIsDecoded) {
    EXPECT_EQ(frameSizeProblem(20000, 10000), "");  // exactly 200 megapixels
    EXPECT_EQ(frameSizeProblem(20001, 10000), "too large: 20001 x 10000 pixels (limit 200 megapixels)");
    EXPECT_EQ(frameSizeProblem(4294967295, 4294967295),
              "too large: 4294967295 x 4294967295 pixels (limit 200 megapixels)");  // no overflow
    EXPECT_EQ(frameSizeProblem(32, 3200), "");
    EXPECT_EQ(frameSizeProblem(31, 3100), "degenerate size: 31 x 3100 pixels");
    EXPECT_EQ(frameSizeProblem(3201, 32), "degenerate size: 3201 x 32 pixels");
    EXPECT_EQ(frameSizeProblem(0, 100), "degenerate size: 0 x 100 pixels");
}

TEST(DecodeImage, SamePixelsAsOpenCvForWholeFiles) {
    const cv::Mat img = noise(203, 117, 3);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        shootgen::ExifFields exif;
        exif.orientation = orientation;
        const std::vector<uint8_t> jpeg =
            shootgen::insertSegment(encoded(img, ".jpg"), shootgen::makeExifApp1(exif, orientation % 2 == 0));
        for (int reduction : {1, 2, 4}) {
            const DecodedImage d = decodeImage(jpeg, reduction);
            ASSERT_EQ(d.status, DecodeStatus::Ok) << orientation << " / " << reduction << ": " << d.problem;
            const cv::Mat expected = openCvDecode(jpeg, reduction);
            ASSERT_EQ(d.image.size(), expected.size()) << orientation << " / " << reduction;
            EXPECT_EQ(cv::norm(d.image, expected, cv::NORM_INF), 0) << orientation << " / " << reduction;
        }
    }
    // Grey and progressive JPEGs, and the other formats.
    cv::Mat grey;
    cv::extractChannel(img, grey, 1);
    for (const auto& bytes : {encoded(grey, ".jpg"), encoded(img, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}),
                              encoded(img, ".png"), encoded(img, ".bmp"), encoded(img, ".tiff")}) {
        const DecodedImage d = decodeImage(bytes, 4);
        ASSERT_EQ(d.status, DecodeStatus::Ok) << d.problem;
        EXPECT_EQ(d.problem, "");
        const cv::Mat expected = openCvDecode(bytes, 4);
        ASSERT_EQ(d.image.size(), expected.size());
        EXPECT_EQ(cv::norm(d.image, expected, cv::NORM_INF), 0);
    }
}

TEST(DecodeImage, DamagedJpegsAreReportedNotPassedOff) {
    const std::vector<uint8_t> whole = encoded(noise(320, 240, 5), ".jpg");
    ASSERT_EQ(decodeImage(whole, 4).status, DecodeStatus::Ok);

    // Cut off: OpenCV fills the rest with grey and says nothing.
    const std::vector<uint8_t> cut = truncated(whole, 0.6);
    ASSERT_FALSE(cv::imdecode(cut, cv::IMREAD_COLOR).empty());
    for (int reduction : {1, 4}) {
        const DecodedImage d = decodeImage(cut, reduction);
        EXPECT_EQ(d.status, DecodeStatus::Damaged) << reduction;
        EXPECT_EQ(d.problem, "Premature end of JPEG file");
        EXPECT_FALSE(d.image.empty());
    }
    const std::vector<uint8_t> progressiveCut =
        truncated(encoded(noise(320, 240, 5), ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}), 0.6);
    EXPECT_EQ(decodeImage(progressiveCut, 4).status, DecodeStatus::Damaged);

    // A marker in the middle of the picture data.
    std::vector<uint8_t> marked = whole;
    const size_t middle = marked.size() / 2;
    marked[middle] = 0xFF;
    marked[middle + 1] = 0xD4;  // a restart marker where none belongs
    const DecodedImage corrupt = decodeImage(marked, 4);
    EXPECT_EQ(corrupt.status, DecodeStatus::Damaged);
    EXPECT_NE(corrupt.problem.find("Corrupt JPEG data"), std::string::npos) << corrupt.problem;

    // Bytes after the end marker leave the picture whole.
    std::vector<uint8_t> trailing = whole;
    trailing.insert(trailing.end(), {1, 2, 3, 4});
    EXPECT_EQ(decodeImage(trailing, 4).status, DecodeStatus::Ok);
}

TEST(DecodeImage, RefusedAndUndecodableFilesTakeNoPixelMemory) {
    const std::vector<uint8_t> jpeg = encoded(noise(64, 48), ".jpg");
    expectRefused({
        {"jpeg 65000 x 65000", withJpegSize(jpeg, 65000, 65000), DecodeStatus::Refused,
         "too large: 65000 x 65000 pixels (limit 200 megapixels)"},
        {"jpeg 65000 x 1", withJpegSize(jpeg, 65000, 1), DecodeStatus::Refused, "degenerate size: 65000 x 1 pixels"},
        {"valid jpeg 4 x 8000", encoded(noise(4, 8000), ".jpg"), DecodeStatus::Refused,
         "degenerate size: 4 x 8000 pixels"},
        {"valid jpeg 16 x 30000", encoded(noise(16, 30000), ".jpg"), DecodeStatus::Refused,
         "degenerate size: 16 x 30000 pixels"},
        {"png 30000 x 30000", pngDeclaring(30000, 30000), DecodeStatus::Refused,
         "too large: 30000 x 30000 pixels (limit 200 megapixels)"},
        {"bmp 20000 x -20000", bmpDeclaring(20000, -20000), DecodeStatus::Refused,
         "too large: 20000 x 20000 pixels (limit 200 megapixels)"},
        {"tiff 65000 x 65000", tiffDeclaring(65000, 65000), DecodeStatus::Refused,
         "too large: 65000 x 65000 pixels (limit 200 megapixels)"},
        {"garbage", garbage(4000), DecodeStatus::Undecodable, "undecodable"},
        {"jpeg start, then garbage", [] {
             std::vector<uint8_t> b = garbage(4000);
             b[0] = 0xFF;
             b[1] = 0xD8;
             b[2] = 0xFF;
             return b;
         }(),
         DecodeStatus::Undecodable, "undecodable"},
        {"empty", {}, DecodeStatus::Undecodable, "undecodable"},
    }, false);
}

namespace {

// A grey TIFF whose ImageWidth and ImageLength appear twice: first `first`
// (the size libtiff, and so the decoder, takes), then `last`.
std::vector<uint8_t> tiffWithRepeatedSize(uint32_t first, uint32_t last) {
    const std::vector<uint8_t> pixels(size_t(last) * last, 90);
    std::vector<TiffEntry> entries = greyStripEntries(first, first, kTiffNoCompression, pixels.size());
    entries.insert(entries.begin() + 1, {kTiffImageWidth, kTiffLong, last});
    entries.insert(entries.begin() + 3, {kTiffImageLength, kTiffLong, last});
    return tiffFile(entries, pixels);
}

// A BigTIFF (which has no room for a classic TIFF's 32-bit offsets) of a
// grey frame whose strip holds only the first few rows.
std::vector<uint8_t> bigTiff(uint32_t width, uint32_t height) {
    const std::vector<uint8_t> rows = packBitsRun(size_t(width) * 4, 90);
    return tiffFile(greyStripEntries(width, height, kTiffPackBits, rows.size()), rows, true);
}

// A grey 64 x 64 frame in one tile of `tile` x `tile` pixels.
std::vector<uint8_t> tiledTiff(uint32_t tile) {
    const std::vector<uint8_t> pixels = packBitsRun(size_t(tile) * tile, 90);
    return tiffFile({{kTiffImageWidth, kTiffLong, 64},
                     {kTiffImageLength, kTiffLong, 64},
                     {kTiffBitsPerSample, kTiffShort, 8},
                     {kTiffCompression, kTiffShort, kTiffPackBits},
                     {kTiffPhotometric, kTiffShort, kTiffMinIsBlack},
                     {kTiffSamplesPerPixel, kTiffShort, 1},
                     {kTiffTileWidth, kTiffLong, tile},
                     {kTiffTileLength, kTiffLong, tile},
                     {kTiffTileOffsets, kTiffLong, 0},
                     {kTiffTileByteCounts, kTiffLong, pixels.size()}},
                    pixels);
}

}  // namespace

// The size checked is the size the decoder reads, however the header hides it.
TEST(DeclaredSize, AsTheDecoderReadsIt) {
    expectSize(tiffWithRepeatedSize(30000, 64), 30000, 30000, "tiff with its size twice");
    expectSize(bigTiff(20001, 10000), 20001, 10000, "bigtiff");
    expectSize(withStrayByteBeforeFrameHeader(withJpegSize(encoded(noise(64, 48), ".jpg"), 20001, 10000)), 20001,
               10000, "jpeg with a stray byte");
    expectSize(tiledTiff(1040), 64, 64, "tiled tiff");
    EXPECT_FALSE(sizeOf(encoded(noise(64, 48), ".webp")).has_value());
}

TEST(DecodeImage, HiddenOrHugeSizesAreRefusedBeforeAnyPixelMemory) {
    const std::vector<uint8_t> jpeg = encoded(noise(64, 48), ".jpg");
    const std::vector<uint8_t> progressive = encoded(noise(64, 48), ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    expectRefused({
        {"size twice, first 30000", tiffWithRepeatedSize(30000, 64), DecodeStatus::Refused,
         "too large: 30000 x 30000 pixels (limit 200 megapixels)"},
        {"bigtiff", bigTiff(20001, 10000), DecodeStatus::Refused,
         "too large: 20001 x 10000 pixels (limit 200 megapixels)"},
        {"stray byte before the frame header", withStrayByteBeforeFrameHeader(withJpegSize(jpeg, 20001, 10000)),
         DecodeStatus::Refused, "too large: 20001 x 10000 pixels (limit 200 megapixels)"},
        // A megapixel tile is allowed whatever the frame; past it, tiles stay within their frame.
        {"tiles larger than the frame", tiledTiff(1040), DecodeStatus::Refused,
         "too large: TIFF tiles of 1040 x 1040 pixels for a 64 x 64 frame"},
        // 108 megapixels in several scans would keep 324 MB of coefficients.
        {"progressive 12000 x 9000", withJpegSize(progressive, 12000, 9000), DecodeStatus::Refused,
         "too large: 12000 x 9000 pixels in a JPEG of several scans (limit 256 MB)"},
        // Only the formats the scan takes are decoded: no other decoder's size is read first.
        {"webp", encoded(noise(64, 48), ".webp"), DecodeStatus::Undecodable, "undecodable"},
    }, true);
    // Tiles of up to a megapixel, and the single strip of a small frame, decode.
    EXPECT_EQ(decodeImage(tiledTiff(1024), 4).status, DecodeStatus::Ok);
    EXPECT_EQ(decodeImage(greyTiff(cv::Mat(48, 64, CV_8U, cv::Scalar(90))), 4).status, DecodeStatus::Ok);
    EXPECT_EQ(decodeImage(progressive, 4).status, DecodeStatus::Ok);
}

TEST(DecodeImage, CmykJpegsGiveOpenCvsPixelsAndReportDamage) {
    const cv::Mat img = noise(203, 117, 3);
    for (const bool ycck : {false, true}) {
        shootgen::ExifFields exif;
        exif.orientation = 6;
        const std::vector<uint8_t> plain = cmykJpeg(img, ycck);
        const std::vector<uint8_t> turned = shootgen::insertSegment(plain, shootgen::makeExifApp1(exif, false));
        for (const auto* bytes : {&plain, &turned})
            for (int reduction : {1, 2, 4}) {
                const DecodedImage d = decodeImage(*bytes, reduction);
                ASSERT_EQ(d.status, DecodeStatus::Ok) << ycck << " / " << reduction << ": " << d.problem;
                const cv::Mat expected = openCvDecode(*bytes, reduction);
                ASSERT_EQ(d.image.size(), expected.size()) << ycck << " / " << reduction;
                EXPECT_EQ(cv::norm(d.image, expected, cv::NORM_INF), 0) << ycck << " / " << reduction;
            }

        // Cut off: OpenCV fills the rest with grey and says nothing.
        const std::vector<uint8_t> cut = truncated(cmykJpeg(noise(320, 240, 5), ycck), 0.6);
        ASSERT_FALSE(cv::imdecode(cut, cv::IMREAD_COLOR).empty());
        const DecodedImage d = decodeImage(cut, 4);
        EXPECT_EQ(d.status, DecodeStatus::Damaged) << ycck;
        EXPECT_EQ(d.problem, "Premature end of JPEG file") << ycck;
        EXPECT_EQ(d.image.size(), cv::Size(80, 60)) << ycck;
    }
}

// OpenCV gives no pixels of a cut PNG, TIFF or BMP and no reason: each is
// reported damaged with what is wrong, as a grey frame of its size.
TEST(DecodeImage, DamagedPngTiffAndBmpAreReportedLikeJpegs) {
    const cv::Mat img = noise(320, 240, 4);
    cv::Mat grey;
    cv::extractChannel(img, grey, 1);
    std::vector<uint8_t> flipped = encoded(img, ".png");
    flipped[flipped.size() / 2] ^= 0x5A;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string problem;
    };
    const Case cases[] = {
        {"png cut", truncated(encoded(img, ".png"), 0.6), "PNG data cut short"},
        {"png without its end", truncated(encoded(img, ".png"), 0.999), "PNG data cut short"},
        {"png byte changed", flipped, "PNG chunk IDAT fails its checksum"},
        {"bmp cut", truncated(encoded(img, ".bmp"), 0.6), "BMP pixel data cut short: 138218 of 230400 bytes"},
        {"tiff cut", truncated(greyTiff(grey), 0.6), "Read error at scanline 100; got 6031 bytes, expected 8000"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(cv::imdecode(c.bytes, cv::IMREAD_COLOR).empty()) << c.what;
        const DecodedImage d = decodeImage(c.bytes, 4);
        EXPECT_EQ(d.status, DecodeStatus::Damaged) << c.what;
        EXPECT_EQ(d.problem, c.problem) << c.what;
        ASSERT_EQ(d.image.size(), cv::Size(80, 60)) << c.what;
        const cv::Mat grey128(d.image.size(), CV_8UC3, cv::Scalar::all(128));
        EXPECT_EQ(cv::norm(d.image, grey128, cv::NORM_INF), 0) << c.what;
    }
    // Corrupt compressed data: OpenCV gives a picture and only logs what libtiff said.
    std::vector<uint8_t> lzw = encoded(img, ".tiff");  // LZW, its directory behind the pixel data
    for (size_t i = lzw.size() / 3; i < lzw.size() / 3 + 16; ++i) lzw[i] ^= 0xA5;
    ASSERT_FALSE(cv::imdecode(lzw, cv::IMREAD_COLOR).empty());
    const DecodedImage corrupt = decodeImage(lzw, 4);
    EXPECT_EQ(corrupt.status, DecodeStatus::Damaged);
    EXPECT_EQ(corrupt.problem, "Using code not yet in table");  // libtiff's LZW decoder
    EXPECT_EQ(corrupt.image.size(), cv::Size(80, 60));
    // Whole, they decode as OpenCV decodes them.
    for (const auto& whole : {encoded(img, ".png"), encoded(img, ".bmp"), greyTiff(grey)}) {
        const DecodedImage d = decodeImage(whole, 4);
        EXPECT_EQ(d.status, DecodeStatus::Ok) << d.problem;
        EXPECT_EQ(cv::norm(d.image, openCvDecode(whole, 4), cv::NORM_INF), 0);
    }
}
