#include "exif.h"
#include "exif_writer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <opencv2/imgcodecs.hpp>

using namespace keepframe;
using keepframe::shootgen::ExifFields;
using keepframe::testing::TempDir;

namespace {
std::vector<uint8_t> jpegWith(const ExifFields& fields, bool bigEndian) {
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", cv::Mat(16, 24, CV_8UC3, cv::Scalar(10, 200, 30)), jpeg);
    return shootgen::insertSegment(jpeg, shootgen::makeExifApp1(fields, bigEndian));
}
}  // namespace

class ExifByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(ExifByteOrder, CaptureTimeSubSecondsAndOrientation) {
    ExifFields f;
    f.dateTime = "2024:05:02 09:00:00";
    f.dateTimeOriginal = "2024:05:01 10:00:00";
    f.subSecTimeOriginal = "12";
    f.orientation = 6;
    const auto bytes = jpegWith(f, GetParam());
    const ExifInfo info = parseJpegExif(bytes.data(), bytes.size());
    EXPECT_EQ(info.captureTime, "2024:05:01 10:00:00.12");
    EXPECT_EQ(info.orientation, 6);
}

TEST_P(ExifByteOrder, FallsBackToDateTimeAndDropsLoneSubSeconds) {
    ExifFields f;
    f.dateTime = "2023:12:31 23:59:59";
    f.subSecTimeOriginal = "5";  // appended only to a non-empty time: here DateTime
    auto bytes = jpegWith(f, GetParam());
    EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "2023:12:31 23:59:59.5");

    ExifFields onlySub;
    onlySub.subSecTimeOriginal = "5";
    onlySub.orientation = 9;  // out of range
    bytes = jpegWith(onlySub, GetParam());
    const ExifInfo info = parseJpegExif(bytes.data(), bytes.size());
    EXPECT_EQ(info.captureTime, "");
    EXPECT_EQ(info.orientation, 1);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, ExifByteOrder, ::testing::Values(false, true), [](const auto& p) {
    return p.param ? std::string("BigEndian") : std::string("LittleEndian");
});

TEST(Exif, DamagedAndForeignDataGiveDefaults) {
    ExifFields f;
    f.dateTimeOriginal = "2024:05:01 10:00:00";
    f.orientation = 3;
    const auto good = jpegWith(f, false);

    // Truncated inside the APP1 segment.
    for (size_t cut : {size_t(3), size_t(10), size_t(20), size_t(40)}) {
        const ExifInfo info = parseJpegExif(good.data(), cut);
        EXPECT_EQ(info.captureTime, "") << cut;
        EXPECT_EQ(info.orientation, 1) << cut;
    }
    // APP1 length pointing past the end of the data.
    auto longer = good;
    longer[4] = 0xFF;
    longer[5] = 0xF0;
    EXPECT_EQ(parseJpegExif(longer.data(), longer.size()).orientation, 1);
    // An APP1 shorter than 16 bytes.
    std::vector<uint8_t> tiny = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9};
    EXPECT_EQ(parseJpegExif(tiny.data(), tiny.size()).orientation, 1);
    // IFD offsets that point anywhere.
    auto wild = good;
    for (size_t i = 14; i < 22 && i < wild.size(); ++i) wild[i] = 0xFF;
    EXPECT_EQ(parseJpegExif(wild.data(), wild.size()).captureTime, "");
    // Not a JPEG at all.
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_EQ(parseJpegExif(png.data(), png.size()).orientation, 1);
    EXPECT_EQ(parseJpegExif(nullptr, 0).captureTime, "");
}

TEST(Exif, FileReadersOnJpegPngAndMissingFiles) {
    TempDir dir;
    ExifFields f;
    f.dateTimeOriginal = "2022:01:02 03:04:05";
    f.orientation = 8;
    ASSERT_TRUE(shootgen::writeJpeg(dir.file("a.jpg"), cv::Mat(32, 48, CV_8UC3, cv::Scalar::all(99)), f, 90, true));
    EXPECT_EQ(readCaptureTime(dir.file("a.jpg")), "2022:01:02 03:04:05");
    EXPECT_EQ(readOrientation(dir.file("a.jpg")), 8);

    cv::imwrite(dir.file("b.png"), cv::Mat(32, 48, CV_8UC3, cv::Scalar::all(99)));
    EXPECT_EQ(readCaptureTime(dir.file("b.png")), "");
    EXPECT_EQ(readOrientation(dir.file("b.png")), 1);

    EXPECT_EQ(readCaptureTime(dir.file("missing.jpg")), "");
    EXPECT_EQ(readOrientation(dir.file("missing.jpg")), 1);
}

TEST(Exif, TextIsKeptAsTheCameraWroteIt) {
    // Trailing blanks belong to the value; only the terminating NUL ends it.
    ExifFields f;
    f.dateTimeOriginal = "2024:05:01 10:00:00 ";
    f.subSecTimeOriginal = "50 ";
    auto bytes = jpegWith(f, false);
    EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "2024:05:01 10:00:00 .50 ");
    // A camera that does not know the time fills it with blanks and colons,
    // or with zeros: no capture time, and DateTime stands in when it is known.
    for (const char* unknown : {"    :  :     :  :  ", "0000:00:00 00:00:00", "                   "}) {
        ExifFields f2;
        f2.dateTimeOriginal = unknown;
        f2.subSecTimeOriginal = "50";
        bytes = jpegWith(f2, true);
        EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "") << unknown;
        f2.dateTime = "2024:05:02 09:00:00";
        bytes = jpegWith(f2, false);
        EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "2024:05:02 09:00:00.50") << unknown;
    }
    ExifFields blankSub;
    blankSub.dateTimeOriginal = "2024:05:01 10:00:00";
    blankSub.subSecTimeOriginal = "   ";
    bytes = jpegWith(blankSub, false);
    EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "2024:05:01 10:00:00");

    EXPECT_TRUE(isKnownCaptureTime("1970:01:01 00:00:00"));
    EXPECT_TRUE(isKnownCaptureTime("2024:00:00 00:00:00"));
    for (const char* unknown : {"", "    :  :     :  :  ", "0000:00:00 00:00:00", "0000:00:00 12:30:00", "::"})
        EXPECT_FALSE(isKnownCaptureTime(unknown)) << unknown;
}

TEST(Exif, XmpBeforeExifIsPassedOver) {
    // Some editors write an XMP APP1 segment ahead of the EXIF one.
    ExifFields f;
    f.dateTimeOriginal = "2021:07:08 12:00:00";
    auto bytes = jpegWith(f, false);
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    std::vector<uint8_t> seg(4 + xmp.size() + 1, 0);
    seg[0] = 0xFF;
    seg[1] = 0xE1;
    seg[3] = uint8_t(xmp.size() + 3);
    std::copy(xmp.begin(), xmp.end(), seg.begin() + 4);
    bytes = shootgen::insertSegment(bytes, seg);
    EXPECT_EQ(parseJpegExif(bytes.data(), bytes.size()).captureTime, "2021:07:08 12:00:00");
}
