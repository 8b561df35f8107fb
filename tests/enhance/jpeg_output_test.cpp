#include "jpeg_encoder.h"
#include "jpeg_bytes.h"
#include "jpeg_output.h"
#include "paths.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include <opencv2/imgcodecs.hpp>

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <exiv2/exiv2.hpp>

using namespace keepframe;
using keepframe::testing::jfifDensity;
using keepframe::testing::TempDir;

namespace {
std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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

    // The search stops before min(n - 14, 64): in 40 bytes an identifier at 25
    // is the last one stamped, at 26 it is too close to the end and the
    // buffer is left exactly as it was; in 200 bytes 63 is stamped, 64 not.
    auto at = [&](size_t size, size_t position) {
        std::vector<uint8_t> buffer(size, 0);
        std::copy(id, id + 4, buffer.begin() + long(position));
        return buffer;
    };
    for (auto [size, position, stamped] : {std::tuple{40u, 25u, true}, std::tuple{40u, 26u, false},
                                           std::tuple{200u, 63u, true}, std::tuple{200u, 64u, false}}) {
        std::vector<uint8_t> buffer = at(size, position);
        const auto before = buffer;
        EXPECT_EQ(applyDensityStamp(buffer, 300), stamped) << size << " / " << position;
        if (stamped) {
            EXPECT_EQ(buffer[position + 7], 1) << size << " / " << position;
            EXPECT_EQ((buffer[position + 10] << 8) | buffer[position + 11], 300) << size << " / " << position;
        } else {
            EXPECT_EQ(buffer, before) << size << " / " << position;
        }
    }
}

TEST(JpegOutput, DensityAndExifCopy) {
    TempDir dir;
    const cv::Mat img(60, 80, CV_8UC3, cv::Scalar(30, 90, 200));
    const std::string target = dir.file("out.jpg");
    ASSERT_TRUE(writeJpegWithDensity(target, img, 300));
    EXPECT_EQ(jfifDensity(readAll(target)), (std::array<int, 3>{1, 300, 300}));
    EXPECT_FALSE(cv::imread(target).empty());

    // A source without EXIF still gives the three resolution tags.
    cv::imwrite(dir.file("plain.png"), img);
    copyExifWithResolution(dir.file("plain.png"), target, 300);
    restampDensity(target, 300);
    auto image = Exiv2::ImageFactory::open(target);
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    ASSERT_NE(exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"))->toString(), "2");
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"))->toRational(), Exiv2::Rational(300, 1));
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"))->toRational(), Exiv2::Rational(300, 1));
    EXPECT_EQ(jfifDensity(readAll(target)), (std::array<int, 3>{1, 300, 300}));

    // A target Exiv2 cannot open keeps its bytes.
    ASSERT_TRUE(writeFileBytes(dir.file("junk.jpg"), {1, 2, 3}));
    copyExifWithResolution(dir.file("plain.png"), dir.file("junk.jpg"), 300);
    EXPECT_EQ(readAll(dir.file("junk.jpg")), (std::vector<uint8_t>{1, 2, 3}));
    // A missing source leaves the target's bytes as they were; a missing file is not made.
    const std::vector<uint8_t> before = readAll(target);
    copyExifWithResolution(dir.file("none.jpg"), target, 300);
    EXPECT_EQ(readAll(target), before);
    restampDensity(dir.file("none.jpg"), 300);
    copyExifWithResolution(dir.file("plain.png"), dir.file("none.jpg"), 300);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "none.jpg"));
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
    EXPECT_FALSE(writeFileBytes(dir.str() + "/no/such/folder/x.jpg", {1, 2}));
    EXPECT_FALSE(writeJpegWithDensity(dir.str() + "/no/such/folder/x.jpg", cv::Mat(8, 8, CV_8UC3), 300));
    EXPECT_FALSE(writeJpegWithDensity(dir.file("empty.jpg"), cv::Mat(), 300));
    EXPECT_FALSE(writeJpeg(dir.file("empty.jpg"), cv::Mat(), enhancedJpegOptions()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "empty.jpg"));

    // A folder under the target's name is never replaced.
    std::filesystem::create_directories(dir.path() / "taken.jpg");
    std::ofstream(dir.path() / "taken.jpg" / "inside.txt") << "keep";
    EXPECT_FALSE(writeFileBytes(dir.file("taken.jpg"), {1, 2}));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "taken.jpg" / "inside.txt"));
    EXPECT_FALSE(writeFileBytes(dir.str() + "/", {1, 2}));
}

TEST(JpegOutput, FilesAreReplacedWholeAndNothingIsLeftBeside) {
    TempDir dir;
    const std::string target = dir.file("photo.jpg");
    ASSERT_TRUE(writeFileBytes(target, std::vector<uint8_t>(5000, 7)));
    ASSERT_TRUE(writeFileBytes(target, {1, 2, 3}));  // shorter: no tail of the old content survives
    EXPECT_EQ(readAll(target), (std::vector<uint8_t>{1, 2, 3}));

    // The RAW-preview sequence: write, copy EXIF, restamp; each step replaces the file.
    const cv::Mat img(60, 80, CV_8UC3, cv::Scalar(30, 90, 200));
    ASSERT_TRUE(writeJpegWithDensity(target, img, 300));
    copyExifWithResolution(target, target, 300);
    restampDensity(target, 300);
    EXPECT_FALSE(cv::imread(target).empty());
    ASSERT_TRUE(writeJpeg(dir.file("enhanced.jpg"), img, enhancedJpegOptions()));
    EXPECT_EQ(cv::imread(dir.file("enhanced.jpg")).size(), img.size());

    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"enhanced.jpg", "photo.jpg"}));
}

TEST(JpegOutput, MetadataAddedInMemory) {
    TempDir dir;
    cv::Mat img(48, 64, CV_8UC3);
    cv::randu(img, cv::Scalar::all(0), cv::Scalar::all(255));
    std::vector<uint8_t> jfif;
    ASSERT_TRUE(cv::imencode(".jpg", img, jfif));
    ASSERT_EQ(jfif[3], 0xE0);

    // A JFIF segment is stamped in place; a JPEG without one gets one after
    // its start marker, and its image stays the same.
    std::vector<uint8_t> stamped = jfif;
    EXPECT_TRUE(setJfifDensity(stamped, 300));
    EXPECT_EQ(stamped.size(), jfif.size());
    EXPECT_EQ(jfifDensity(stamped), (std::array<int, 3>{1, 300, 300}));
    std::vector<uint8_t> bare = jfif;
    bare.erase(bare.begin() + 2, bare.begin() + 4 + (bare[4] << 8 | bare[5]));
    ASSERT_EQ(jfifDensity(bare)[0], -1);
    std::vector<uint8_t> inserted = bare;
    EXPECT_TRUE(setJfifDensity(inserted, 300));
    EXPECT_EQ(inserted.size(), bare.size() + 18);
    EXPECT_EQ(jfifDensity(inserted), (std::array<int, 3>{1, 300, 300}));
    EXPECT_TRUE(std::equal(bare.begin() + 2, bare.end(), inserted.begin() + 20));
    EXPECT_EQ(cv::norm(cv::imdecode(inserted, cv::IMREAD_COLOR), cv::imdecode(jfif, cv::IMREAD_COLOR),
                       cv::NORM_INF), 0);
    // A JFIF segment behind a camera's EXIF is stamped where it is, not doubled:
    // a decoder reads every JFIF segment, and the last one's density wins.
    const auto jfifSegments = [](const std::vector<uint8_t>& jpeg) {
        std::vector<std::array<int, 3>> found;
        for (size_t i = 2; i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA;) {
            const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
            const std::vector<uint8_t> segment(jpeg.begin() + long(i), jpeg.begin() + long(i + 2 + length));
            if (jpeg[i + 1] == 0xE0) found.push_back(jfifDensity(segment));
            i += 2 + length;
        }
        return found;
    };
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 102, 'E', 'x', 'i', 'f', 0, 0};
    app1.resize(104, 0x20);
    const uint8_t app0[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 72, 0, 72, 0, 0};
    std::vector<uint8_t> behind = bare;
    behind.insert(behind.begin() + 2, std::begin(app0), std::end(app0));
    behind.insert(behind.begin() + 2, app1.begin(), app1.end());
    ASSERT_EQ(jfifSegments(behind), (std::vector<std::array<int, 3>>{{1, 72, 72}}));
    const size_t size = behind.size();
    EXPECT_TRUE(setJfifDensity(behind, 300));
    EXPECT_EQ(behind.size(), size);
    EXPECT_EQ(jfifSegments(behind), (std::vector<std::array<int, 3>>{{1, 300, 300}}));
    EXPECT_EQ(cv::norm(cv::imdecode(behind, cv::IMREAD_COLOR), cv::imdecode(jfif, cv::IMREAD_COLOR),
                       cv::NORM_INF), 0);
    for (std::vector<uint8_t> notJpeg : {std::vector<uint8_t>{}, std::vector<uint8_t>(40, 7)}) {
        const auto before = notJpeg;
        EXPECT_FALSE(setJfifDensity(notJpeg, 300));
        EXPECT_EQ(notJpeg, before);
    }

    // The EXIF goes into the buffer; a source or buffer Exiv2 cannot read
    // leaves the buffer as it was.
    cv::imwrite(dir.file("plain.png"), img);
    std::vector<uint8_t> withExif = inserted;
    ASSERT_TRUE(insertExifWithResolution(dir.file("plain.png"), withExif, 300));
    auto image = Exiv2::ImageFactory::open(withExif.data(), long(withExif.size()));
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    ASSERT_NE(exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"))->toRational(), Exiv2::Rational(300, 1));
    EXPECT_EQ(jfifDensity(withExif), (std::array<int, 3>{1, 300, 300}));
    std::vector<uint8_t> unchanged = inserted;
    EXPECT_FALSE(insertExifWithResolution(dir.file("none.png"), unchanged, 300));
    EXPECT_EQ(unchanged, inserted);
    std::vector<uint8_t> junk(100, 9);
    EXPECT_FALSE(insertExifWithResolution(dir.file("plain.png"), junk, 300));
    EXPECT_EQ(junk, std::vector<uint8_t>(100, 9));
}
