#include "dng_writer.h"
#include "exiv2_compat.h"
#include "jpeg_bytes.h"
#include "jpeg_output.h"
#include "mapped_file.h"
#include "paths.h"
#include "raw_conversion.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27 still hands out std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

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

// A preview whose frame header claims `side` x `side` pixels (60000 by
// default): LibRaw hands it out as a JPEG, the decoder refuses it.
std::vector<uint8_t> undecodablePreview(int side = 60000) {
    std::vector<uint8_t> jpeg = previewJpeg();
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = jpeg[i + 7] = uint8_t(side >> 8);
            jpeg[i + 6] = jpeg[i + 8] = uint8_t(side & 0xFF);
            break;
        }
    return jpeg;
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
    DngPreview damaged;
    damaged.jpeg = undecodablePreview();
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
    // 900 megapixels: within what OpenCV would take on (2.7 GB of pixels),
    // far beyond what the program decodes; kept as it is too.
    damaged.jpeg = undecodablePreview(30000);
    writeDng(dir.file("in/huge_preview.dng"), damaged);
    EXPECT_TRUE(convertRawFile({dir.file("in/huge_preview.dng"), dir.file("out/huge_preview.jpg"), "huge.dng"}));
    const auto huge = readAll(dir.file("out/huge_preview.jpg"));
    ASSERT_GE(huge.size(), damaged.jpeg.size());
    EXPECT_TRUE(std::equal(damaged.jpeg.end() - 400, damaged.jpeg.end(), huge.end() - 400));
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

namespace {

// A camera-like preview: grain, as cameras write it, and no JFIF segment.
std::vector<uint8_t> cameraPreview(int w, int h) {
    cv::Mat frame(h, w, CV_8UC3, cv::Scalar(90, 140, 190));
    cv::Mat grain(frame.size(), frame.type());
    cv::randn(grain, cv::Scalar::all(0), cv::Scalar::all(12));
    frame += grain;
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, 92});
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
        jpeg.erase(jpeg.begin() + 2, jpeg.begin() + 4 + (jpeg[4] << 8 | jpeg[5]));
    return jpeg;
}

// A RAW file's worth of camera preview, with a capture time in its EXIF.
DngPreview cameraDng() {
    DngPreview camera;
    camera.jpeg = cameraPreview(480, 320);
    camera.width = 480;
    camera.height = 320;
    camera.dateTime = "2024:06:01 14:03:07";
    return camera;
}

// The entropy-coded image from the first start-of-scan marker to the end.
std::vector<uint8_t> scanData(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 3 < jpeg.size() && jpeg[i] == 0xFF;) {
        if (jpeg[i + 1] == 0xDA) return {jpeg.begin() + long(i), jpeg.end()};
        i += 2 + size_t(jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return {};
}

std::string exifText(const std::string& path, const char* key) {
    const MappedFile file(path);
    if (!file.mapped()) return "";
    auto image = openExiv2Image(file.data(), file.size());
    image->readMetadata();
    const auto it = image->exifData().findKey(Exiv2::ExifKey(key));
    return it == image->exifData().end() ? "" : it->toString();
}

}  // namespace

TEST(RawConversion, OneWriteGivesTheBytesOfTheEarlierPasses) {
    // The conversion used to write the preview, then rewrite the file to add
    // the EXIF and again to stamp the density; its single write must give the
    // same file, for a decodable JPEG preview, a bitmap and a damaged preview.
    TempDir dir;
    const DngPreview camera = cameraDng();
    DngPreview bitmap;
    bitmap.width = 40;
    bitmap.height = 30;
    bitmap.rgb.assign(40 * 30 * 3, 90);
    bitmap.dateTime = camera.dateTime;
    DngPreview damaged;
    damaged.jpeg = undecodablePreview();
    damaged.width = 160;
    damaged.height = 120;
    damaged.dateTime = camera.dateTime;
    const std::vector<std::pair<std::string, DngPreview>> cases = {
        {"camera", camera}, {"bitmap", bitmap}, {"damaged", damaged}};
    for (const auto& [name, preview] : cases) {
        const std::string raw = dir.file(name + ".dng"), now = dir.file(name + ".jpg");
        const std::string before = dir.file(name + "_before.jpg");
        writeDng(raw, preview);
        ASSERT_TRUE(convertRawFile({raw, now, name})) << name;
        cv::Mat image;
        try {
            if (preview.rgb.empty()) image = cv::imdecode(preview.jpeg, cv::IMREAD_COLOR);
            else cv::cvtColor(cv::Mat(30, 40, CV_8UC3, bitmap.rgb.data()), image, cv::COLOR_RGB2BGR);
        } catch (const cv::Exception&) {
            image.release();
        }
        ASSERT_TRUE(image.empty() ? writeFileBytes(before, preview.jpeg) : writeJpegWithDensity(before, image, 300));
        copyExifWithResolution(raw, before, 300);
        restampDensity(before, 300);
        EXPECT_EQ(readAll(now), readAll(before)) << name;
        EXPECT_EQ(exifText(now, "Exif.Image.DateTime"), camera.dateTime) << name;
    }
}

TEST(RawConversion, KeptPreviewsKeepTheCameraBytes) {
    TempDir dir;
    const DngPreview camera = cameraDng();
    writeDng(dir.file("Shoot/DSC_0001.dng"), camera);
    ASSERT_EQ(jfifDensity(camera.jpeg)[0], -1);

    ASSERT_TRUE(convertRawFile({dir.file("Shoot/DSC_0001.dng"), dir.file("kept.jpg"), "DSC_0001.dng", true}));
    const auto kept = readAll(dir.file("kept.jpg"));
    EXPECT_EQ(scanData(kept), scanData(camera.jpeg));  // the image itself, byte for byte
    ASSERT_FALSE(scanData(kept).empty());
    const cv::Mat pixels = cv::imread(dir.file("kept.jpg"));
    ASSERT_EQ(pixels.size(), cv::Size(480, 320));
    EXPECT_EQ(cv::norm(pixels, cv::imdecode(camera.jpeg, cv::IMREAD_COLOR), cv::NORM_INF), 0);
    EXPECT_EQ(jfifDensity(kept), (std::array<int, 3>{1, 300, 300}));  // inserted: the camera wrote none
    EXPECT_EQ(exifText(dir.file("kept.jpg"), "Exif.Image.DateTime"), camera.dateTime);
    EXPECT_EQ(exifText(dir.file("kept.jpg"), "Exif.Image.XResolution"), "300/1");
    EXPECT_LT(kept.size(), camera.jpeg.size() + 4096);  // no bigger than the preview and its metadata

    // The folder conversion passes the mode on; without it the preview is encoded again.
    const std::string shoot = dir.str() + "/Shoot";
    EXPECT_EQ(convertRawFolder(shoot, shoot + "/kept", {}, nullptr, true), 1);
    EXPECT_EQ(readAll(shoot + "/kept/DSC_0001.jpg"), kept);
    EXPECT_EQ(convertRawFolder(shoot, shoot + "/encoded", {}), 1);
    EXPECT_NE(scanData(readAll(shoot + "/encoded/DSC_0001.jpg")), scanData(camera.jpeg));

    // A damaged preview is kept too; a bitmap preview is still encoded; a RAW
    // without a usable preview fails and leaves an earlier file untouched.
    DngPreview damaged = camera;
    damaged.jpeg.resize(damaged.jpeg.size() / 2);
    writeDng(dir.file("damaged.dng"), damaged);
    ASSERT_TRUE(convertRawFile({dir.file("damaged.dng"), dir.file("damaged.jpg"), "damaged.dng", true}));
    EXPECT_EQ(scanData(readAll(dir.file("damaged.jpg"))), scanData(damaged.jpeg));
    DngPreview bitmap;
    bitmap.width = 40;
    bitmap.height = 30;
    bitmap.rgb.assign(40 * 30 * 3, 200);
    writeDng(dir.file("bitmap.dng"), bitmap);
    ASSERT_TRUE(convertRawFile({dir.file("bitmap.dng"), dir.file("bitmap.jpg"), "bitmap.dng", true}));
    EXPECT_EQ(cv::imread(dir.file("bitmap.jpg")).size(), cv::Size(40, 30));
    DngPreview grey = bitmap;
    grey.rgb.resize(40 * 30);  // too few bytes for a 3-colour bitmap
    writeDng(dir.file("grey.dng"), grey);
    ASSERT_TRUE(writeFileBytes(dir.file("grey.jpg"), {1, 2, 3}));
    EXPECT_FALSE(convertRawFile({dir.file("grey.dng"), dir.file("grey.jpg"), "grey.dng", true}));
    EXPECT_EQ(readAll(dir.file("grey.jpg")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(convertRawFile({dir.file("missing.dng"), dir.file("missing.jpg"), "missing.dng", true}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.jpg")));
}

// A camera may give its preview an EXIF orientation of its own, the same as
// the RAW's. Both modes store the preview's pixels as they are, under the
// RAW's orientation, so that a viewer turns them upright exactly once.
TEST(RawConversion, PreviewWithItsOwnOrientationIsTurnedOnce) {
    TempDir dir;
    DngPreview camera = cameraDng();
    camera.orientation = 6;
    {
        auto image = openExiv2Image(camera.jpeg.data(), camera.jpeg.size());
        image->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = uint16_t(6);
        image->setExifData(exif);
        image->writeMetadata();
        camera.jpeg = exiv2Contents(*image);
        ASSERT_FALSE(camera.jpeg.empty());
    }
    writeDng(dir.file("DSC_0001.dng"), camera);
    const cv::Mat stored = cv::imdecode(camera.jpeg, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    ASSERT_EQ(stored.size(), cv::Size(480, 320));

    for (const bool keep : {false, true}) {
        const std::string out = dir.file(keep ? "kept.jpg" : "encoded.jpg");
        ASSERT_TRUE(convertRawFile({dir.file("DSC_0001.dng"), out, "DSC_0001.dng", keep}));
        EXPECT_EQ(exifText(out, "Exif.Image.Orientation"), "6") << out;
        EXPECT_EQ(cv::imread(out).size(), cv::Size(320, 480)) << out;  // upright: turned once
        const cv::Mat pixels = cv::imread(out, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
        ASSERT_EQ(pixels.size(), stored.size()) << out;
        EXPECT_LT(cv::norm(pixels, stored, cv::NORM_L1) / double(stored.total() * 3), 3.0) << out;
    }
}

TEST(RawConversion, FoldersAndNamesBeyondAsciiKeepTheirExif) {
    TempDir dir;
    const std::string shoot = dir.str() + "/Hochzeit Müller – Café";
    const DngPreview camera = cameraDng();
    writeDng(dir.file("Hochzeit Müller – Café/Zeremonie/Ærø_0001.dng"), camera);
    EXPECT_EQ(conversionFolderName(shoot), "Hochzeit Müller – Café_JPG");
    const std::string out = shoot + "/" + conversionFolderName(shoot);
    ASSERT_EQ(convertRawFolder(shoot, out, {}), 1);
    const std::string jpeg = out + "/Zeremonie/Ærø_0001.jpg";
    EXPECT_FALSE(cv::imdecode(readAll(jpeg), cv::IMREAD_COLOR).empty());
    EXPECT_EQ(exifText(jpeg, "Exif.Image.DateTime"), camera.dateTime);
    EXPECT_EQ(exifText(jpeg, "Exif.Image.XResolution"), "300/1");
}
