#include "jpeg_encoder.h"
#include "jpeg_output.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <opencv2/imgcodecs.hpp>

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <exiv2/exiv2.hpp>

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {
std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
// Density units and values of the JFIF header.
std::array<int, 3> density(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 11 < jpeg.size() && i < 64; ++i)
        if (jpeg[i] == 'J' && jpeg[i + 1] == 'F' && jpeg[i + 2] == 'I' && jpeg[i + 3] == 'F' && jpeg[i + 4] == 0)
            return {jpeg[i + 7], jpeg[i + 8] << 8 | jpeg[i + 9], jpeg[i + 10] << 8 | jpeg[i + 11]};
    return {-1, -1, -1};
}
}  // namespace

TEST(DensityStamp, EdgeCases) {
    std::vector<uint8_t> shortBuffer(19, 0);
    EXPECT_FALSE(applyDensityStamp(shortBuffer, 300));

    // Identifier at i = 2 in a 25-byte buffer: limit min(11, 64), stamped.
    std::vector<uint8_t> b(25, 0);
    const char* id = "JFIF";
    std::copy(id, id + 4, b.begin() + 2);
    EXPECT_TRUE(applyDensityStamp(b, 300));
    EXPECT_EQ(b[9], 1);
    EXPECT_EQ((b[10] << 8) | b[11], 300);
    EXPECT_EQ((b[12] << 8) | b[13], 300);

    // Identifier too close to the end: i + 11 >= n is left alone (and the
    // search limit n - 14 keeps it out of reach anyway).
    std::vector<uint8_t> late(22, 0);
    std::copy(id, id + 4, late.begin() + 10);
    const auto before = late;
    EXPECT_FALSE(applyDensityStamp(late, 300));
    EXPECT_EQ(late, before);

    // Beyond the first 64 bytes: unchanged.
    std::vector<uint8_t> far(200, 0);
    std::copy(id, id + 4, far.begin() + 70);
    EXPECT_FALSE(applyDensityStamp(far, 300));
}

TEST(JpegOutput, DensityAndExifCopy) {
    TempDir dir;
    const cv::Mat img(60, 80, CV_8UC3, cv::Scalar(30, 90, 200));
    const std::string target = dir.file("out.jpg");
    ASSERT_TRUE(writeJpegWithDensity(target, img, 300));
    EXPECT_EQ(density(readAll(target)), (std::array<int, 3>{1, 300, 300}));
    EXPECT_FALSE(cv::imread(target).empty());

    // A source without EXIF still gives the three resolution tags.
    cv::imwrite(dir.file("plain.png"), img);
    copyExifWithResolution(dir.file("plain.png"), target, 300);
    restampDensity(target, 300);
    auto image = Exiv2::ImageFactory::open(target);
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    ASSERT_NE(exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"))->toLong(), 2);
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"))->toRational(), Exiv2::Rational(300, 1));
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"))->toRational(), Exiv2::Rational(300, 1));
    EXPECT_EQ(density(readAll(target)), (std::array<int, 3>{1, 300, 300}));

    // A target Exiv2 cannot open keeps its bytes.
    ASSERT_TRUE(writeBytes(dir.file("junk.jpg"), {1, 2, 3}));
    copyExifWithResolution(dir.file("plain.png"), dir.file("junk.jpg"), 300);
    EXPECT_EQ(readAll(dir.file("junk.jpg")), (std::vector<uint8_t>{1, 2, 3}));
    // Missing source: nothing happens.
    EXPECT_NO_THROW(copyExifWithResolution(dir.file("none.jpg"), target, 300));
    EXPECT_NO_THROW(restampDensity(dir.file("none.jpg"), 300));
}

// Horizontal and vertical sampling factors of each component in the frame header.
std::vector<int> samplingFactors(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            std::vector<int> out;
            for (int c = 0; c < jpeg[i + 9]; ++c) out.push_back(jpeg[i + 11 + 3 * c]);
            return out;
        }
    return {};
}

TEST(JpegOutput, PhotographsKeepFullColourResolution) {
    cv::Mat img(64, 96, CV_8UC3);
    cv::randu(img, cv::Scalar::all(0), cv::Scalar::all(255));
    for (const JpegOptions& o : {enhancedJpegOptions(), rawPreviewJpegOptions(), deliveryCopyJpegOptions()}) {
        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(encodeJpeg(img, o, jpeg));
        EXPECT_EQ(samplingFactors(jpeg), (std::vector<int>{0x11, 0x11, 0x11}));  // 4:4:4
        const cv::Mat back = cv::imdecode(jpeg, cv::IMREAD_COLOR);
        ASSERT_EQ(back.size(), img.size());
        EXPECT_LT(cv::norm(back, img, cv::NORM_L1) / double(img.total() * 3), o.quality >= 98 ? 6.0 : 12.0);
    }
    std::vector<uint8_t> jpeg;
    JpegOptions camera{92, false, false, false, true};
    ASSERT_TRUE(encodeJpeg(img, camera, jpeg));
    EXPECT_EQ(samplingFactors(jpeg), (std::vector<int>{0x21, 0x11, 0x11}));  // 4:2:2, as cameras write
    camera.halfChroma = false;
    ASSERT_TRUE(encodeJpeg(img, camera, jpeg));
    EXPECT_EQ(samplingFactors(jpeg), (std::vector<int>{0x22, 0x11, 0x11}));  // 4:2:0
    EXPECT_FALSE(encodeJpeg(cv::Mat(), enhancedJpegOptions(), jpeg));
    EXPECT_FALSE(encodeJpeg(cv::Mat(8, 8, CV_32FC3), enhancedJpegOptions(), jpeg));
    EXPECT_TRUE(encodeJpeg(cv::Mat(8, 8, CV_8UC1, cv::Scalar(7)), enhancedJpegOptions(), jpeg));
}

TEST(JpegOutput, WritesFailOnUnwritablePaths) {
    TempDir dir;
    EXPECT_FALSE(writeBytes(dir.str() + "/no/such/folder/x.jpg", {1, 2}));
    EXPECT_FALSE(writeJpegWithDensity(dir.str() + "/no/such/folder/x.jpg", cv::Mat(8, 8, CV_8UC3), 300));
    EXPECT_FALSE(writeJpegWithDensity(dir.file("empty.jpg"), cv::Mat(), 300));
}
