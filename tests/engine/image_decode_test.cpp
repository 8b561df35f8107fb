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
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        DecodeStatus status;
        std::string problem;
    };
    const std::vector<uint8_t> jpeg = encoded(noise(64, 48), ".jpg");
    const Case cases[] = {
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
    };
    for (const Case& c : cases) {
        const DecodedImage d = decodeImage(c.bytes, 4);
        EXPECT_EQ(d.status, c.status) << c.what;
        EXPECT_EQ(d.problem, c.problem) << c.what;
        EXPECT_TRUE(d.image.empty()) << c.what;
    }
}
