#include "dng_writer.h"
#include "raw_conversion.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

std::vector<uint8_t> previewJpeg(int w = 160, int h = 120, cv::Scalar bgr = cv::Scalar(20, 120, 220)) {
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", cv::Mat(h, w, CV_8UC3, bgr), jpeg);
    return jpeg;
}

void writeDng(const std::string& path, const DngPreview& preview) {
    const auto bytes = makeDng(preview);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeJpegDng(const std::string& path, cv::Scalar bgr = cv::Scalar(20, 120, 220)) {
    DngPreview p;
    p.jpeg = previewJpeg(160, 120, bgr);
    p.width = 160;
    p.height = 120;
    writeDng(path, p);
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(RawConversion, Names) {
    EXPECT_EQ(conversionFolderName("/photos/Shoot"), "Shoot_JPG");
    EXPECT_EQ(conversionFolderName("/photos/Shoot/"), "Shoot_JPG");
    EXPECT_EQ(conversionFolderName("/"), "Keepframe_JPG");
    EXPECT_TRUE(isRawExtension(".nef"));
    EXPECT_TRUE(isRawExtension(".cr3"));
    EXPECT_FALSE(isRawExtension(".tmp"));
    EXPECT_FALSE(isRawExtension(".NEF"));  // callers lower-case first
}

TEST(RawConversion, ConvertsPreviewsIntoMirroredFolders) {
    TempDir dir;
    const std::string shoot = dir.str() + "/Shoot";
    writeJpegDng(dir.file("Shoot/A/IMG_1.DNG"));
    DngPreview bitmap;
    bitmap.width = 40;
    bitmap.height = 30;
    bitmap.rgb.assign(40 * 30 * 3, 0);
    for (size_t i = 0; i < bitmap.rgb.size(); i += 3) bitmap.rgb[i] = 255;  // pure red, stored RGB
    writeDng(dir.file("Shoot/IMG_2.dng"), bitmap);
    std::ofstream(dir.file("Shoot/IMG_3.NEF.tmp")) << "not raw";
    std::ofstream(dir.file("Shoot/notes.jpg")) << "not raw either";

    EXPECT_TRUE(hasRawFiles(shoot));
    EXPECT_EQ(countRawFiles(shoot), 2);
    const std::string out = shoot + "/" + conversionFolderName(shoot);
    std::vector<std::tuple<int, int, std::string>> calls;
    const auto record = [&](int d, int t, const std::string& f) { calls.emplace_back(d, t, f); };
    EXPECT_EQ(convertRawFolder(shoot, out, record), 2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::get<0>(calls[0]), 1);
    EXPECT_EQ(std::get<0>(calls[1]), 2);

    const cv::Mat a = cv::imread(out + "/A/IMG_1.jpg");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.size(), cv::Size(160, 120));
    const cv::Mat b = cv::imread(out + "/IMG_2.jpg");
    ASSERT_FALSE(b.empty());
    const cv::Vec3b px = b.at<cv::Vec3b>(15, 20);
    EXPECT_GT(px[2], 200);  // red stays red after the RGB to BGR turn
    EXPECT_LT(px[0], 60);
    EXPECT_FALSE(std::filesystem::exists(out + "/notes.jpg"));  // other images are not copied

    // A second run neither scans the conversion folder nor loses the RAW files.
    EXPECT_TRUE(hasRawFiles(shoot));
    EXPECT_EQ(countRawFiles(shoot), 2);
    EXPECT_EQ(convertRawFolder(shoot, out, {}), 2);
}

TEST(RawConversion, DamagedPreviewIsKeptByteForByteAndBrokenFilesFail) {
    TempDir dir;
    // A preview whose frame header claims 60000 x 60000 pixels: LibRaw hands
    // it out as a JPEG, the decoder refuses it.
    DngPreview damaged;
    damaged.jpeg = previewJpeg();
    for (size_t i = 2; i + 8 < damaged.jpeg.size(); ++i)
        if (damaged.jpeg[i] == 0xFF && damaged.jpeg[i + 1] == 0xC0) {
            damaged.jpeg[i + 5] = damaged.jpeg[i + 7] = 0xEA;
            damaged.jpeg[i + 6] = damaged.jpeg[i + 8] = 0x60;
            break;
        }
    damaged.width = 160;
    damaged.height = 120;
    writeDng(dir.file("in/bad_preview.dng"), damaged);
    std::ofstream(dir.file("in/garbage.nef")) << "definitely not a raw file";
    EXPECT_TRUE(convertRawFile({dir.file("in/bad_preview.dng"), dir.file("out/bad_preview.jpg"), "bad_preview.dng"}));
    // The preview is written as it is (the metadata steps then add the EXIF
    // block and density in front of its image data).
    const auto written = readAll(dir.file("out/bad_preview.jpg"));
    ASSERT_GE(written.size(), damaged.jpeg.size());
    EXPECT_TRUE(std::equal(damaged.jpeg.end() - 400, damaged.jpeg.end(), written.end() - 400));
    EXPECT_FALSE(convertRawFile({dir.file("in/garbage.nef"), dir.file("out/garbage.jpg"), "garbage.nef"}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/garbage.jpg")));
    EXPECT_FALSE(convertRawFile({dir.file("in/missing.nef"), dir.file("out/m.jpg"), "missing.nef"}));
}

TEST(RawConversion, EightFilesReportInOrder) {
    TempDir dir;
    for (int i = 0; i < 8; ++i) writeJpegDng(dir.file("in/IMG_" + std::to_string(i) + ".dng"));
    std::vector<int> percents;
    const auto record = [&](int done, int total, const std::string&) { percents.push_back(1 + done * 4 / total); };
    const int converted = convertRawFolder(dir.str() + "/in", dir.str() + "/in/in_JPG", record);
    EXPECT_EQ(converted, 8);
    EXPECT_EQ(percents, (std::vector<int>{1, 2, 2, 3, 3, 4, 4, 5}));
}

TEST(RawConversion, OneStemWithTwoRawExtensionsGivesTwoPreviews) {
    TempDir dir;
    const std::string shoot = dir.str() + "/Shoot";
    writeJpegDng(dir.file("Shoot/DSC_0001.dng"), cv::Scalar(255, 0, 0));  // blue
    writeJpegDng(dir.file("Shoot/DSC_0001.CR2"), cv::Scalar(0, 0, 255));  // red (a DNG by content)
    writeJpegDng(dir.file("Shoot/sub/DSC_0001.dng"), cv::Scalar(0, 255, 0));
    const std::string out = shoot + "/Shoot_JPG";
    for (int run = 0; run < 2; ++run) {  // a second run names them the same way
        EXPECT_EQ(convertRawFolder(shoot, out, {}), 3);
        const cv::Mat cr2 = cv::imread(out + "/DSC_0001.jpg"), dng = cv::imread(out + "/DSC_0001_dng.jpg");
        ASSERT_FALSE(cr2.empty());
        ASSERT_FALSE(dng.empty());
        EXPECT_GT(cr2.at<cv::Vec3b>(60, 80)[2], 200);  // the .CR2 (first by name) keeps the plain name
        EXPECT_GT(dng.at<cv::Vec3b>(60, 80)[0], 200);
        EXPECT_GT(cv::imread(out + "/sub/DSC_0001.jpg").at<cv::Vec3b>(60, 80)[1], 200);  // another folder: no clash
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 3);
    }
}

TEST(RawConversion, LinksNeverLeadOutOfTheShoot) {
    TempDir dir;
    const std::string shoot = dir.str() + "/Shoot";
    writeJpegDng(dir.file("Shoot/own.dng"));
    writeJpegDng(dir.file("elsewhere/linked.dng"));
    writeJpegDng(dir.file("elsewhere/folder/inside.dng"));
    std::error_code ec;
    std::filesystem::create_symlink(dir.file("elsewhere/linked.dng"), dir.file("Shoot/cards/link.dng"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    std::filesystem::create_directory_symlink(dir.str() + "/elsewhere/folder", shoot + "/folder_link");

    // The linked file is named and placed by its link; the linked folder is not entered.
    EXPECT_EQ(countRawFiles(shoot), 2);
    std::vector<std::string> failed;
    EXPECT_EQ(convertRawFolder(shoot, shoot + "/Shoot_JPG", {}, &failed), 2);
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(shoot + "/Shoot_JPG/cards/link.jpg"));
    EXPECT_TRUE(std::filesystem::is_regular_file(shoot + "/Shoot_JPG/own.jpg"));
    EXPECT_FALSE(std::filesystem::exists(shoot + "/Shoot_JPG/folder_link"));
    // Nothing was written beside the link targets.
    EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(dir.str() + "/elsewhere"), {}), 3);
}

TEST(RawConversion, UnreadableFilesAreNamedAndEmptyFoldersRemoved) {
    TempDir dir;
    const std::string shoot = dir.str() + "/Shoot";
    std::ofstream(dir.file("Shoot/card1/garbage.nef")) << "not raw";
    std::ofstream(dir.file("Shoot/empty.cr2")) << "";
    std::ofstream(dir.file("Shoot/frame.jpg")) << "a jpeg, not converted";
    std::vector<std::string> failed;
    EXPECT_EQ(convertRawFolder(shoot, shoot + "/Shoot_JPG", {}, &failed), 0);
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::string>{"card1/garbage.nef", "empty.cr2"}));
    EXPECT_FALSE(std::filesystem::exists(shoot + "/Shoot_JPG"));  // it stayed empty

    // With one file converted the folder stays, without the empty sub-folder of the other.
    writeJpegDng(dir.file("Shoot/good.dng"));
    failed.clear();
    EXPECT_EQ(convertRawFolder(shoot, shoot + "/Shoot_JPG", {}, &failed), 1);
    EXPECT_EQ(failed.size(), 2u);
    EXPECT_TRUE(std::filesystem::is_regular_file(shoot + "/Shoot_JPG/good.jpg"));
    EXPECT_FALSE(std::filesystem::exists(shoot + "/Shoot_JPG/card1"));
}
