#include "analysis.h"
#include "cull.h"
#include "exif_writer.h"
#include "fault_files.h"
#include "temp_dir.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace keepframe;
using keepframe::shootgen::ExifFields;
using keepframe::testing::TempDir;

namespace {
cv::Mat scene(int w, int h) {
    cv::Mat img(h, w, CV_8UC3, cv::Scalar(60, 110, 170));
    cv::rectangle(img, cv::Rect(w / 10, h / 10, w / 3, h / 2), cv::Scalar(240, 240, 240), cv::FILLED);
    cv::circle(img, {w * 2 / 3, h / 2}, h / 5, cv::Scalar(20, 20, 20), cv::FILLED);
    return img;
}

// The scene of w x h as the JPEG `name` in `dir`, stored turned by the
// orientation tag `orientation` (none with 0).
bool writeScene(const TempDir& dir, const std::string& name, int w, int h, int orientation = 0) {
    ExifFields exif;
    exif.orientation = orientation;
    return shootgen::writeJpeg(dir.file(name), scene(w, h), exif);
}
}  // namespace

TEST(AnalyzeImage, FullSizeFrameSizesAndThumbnail) {
    TempDir dir;
    ExifFields f;
    f.dateTimeOriginal = "2024:05:01 10:00:00";
    f.subSecTimeOriginal = "12";
    ASSERT_TRUE(shootgen::writeJpeg(dir.file("DSC_0001.jpg"), scene(6000, 4000), f));
    const ImageRecord r = analyzeImage("DSC_0001.jpg", dir.file("DSC_0001.jpg"), nullptr, EngineConfig{});
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.filename, "DSC_0001.jpg");
    EXPECT_EQ(r.fullW, 6000);
    EXPECT_EQ(r.fullH, 4000);
    EXPECT_EQ(r.captureTime, "2024:05:01 10:00:00.12");
    EXPECT_EQ(r.orientation, 1);
    EXPECT_EQ(r.category, Category::Venue);
    EXPECT_FLOAT_EQ(r.expression, 0.75f);
    EXPECT_EQ(r.clusterId, -1);
    EXPECT_GT(r.sharpness, 0.0f);
    EXPECT_GT(r.contrast, 0.0f);
    EXPECT_NE(r.phash, 0u);
    const cv::Mat thumb = cv::imdecode(r.thumbnailJpeg, cv::IMREAD_COLOR);
    EXPECT_EQ(thumb.cols, 640);
    EXPECT_EQ(thumb.rows, 427);
}

TEST(AnalyzeImage, OrientationSixIsMeasuredUpright) {
    TempDir dir;
    ASSERT_TRUE(writeScene(dir, "rot.jpg", 800, 400, 6));
    const ImageRecord r = analyzeImage("rot.jpg", dir.file("rot.jpg"), nullptr, EngineConfig{});
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.orientation, 6);
    EXPECT_EQ(r.fullW, 400);
    EXPECT_EQ(r.fullH, 800);
    const cv::Mat thumb = cv::imdecode(r.thumbnailJpeg, cv::IMREAD_COLOR);
    EXPECT_EQ(thumb.cols, 100);  // small frames keep their analysis size
    EXPECT_EQ(thumb.rows, 200);
}

// Each thread reads and decodes frame after frame into the same memory: a
// frame of another size or orientation in between changes nothing, and a
// run that stores nothing makes no thumbnails.
TEST(AnalyzeImage, FramesInTurnOnOneThreadAreAnalysedAlike) {
    TempDir dir;
    ASSERT_TRUE(writeScene(dir, "a.jpg", 1200, 800));
    ASSERT_TRUE(writeScene(dir, "b.jpg", 900, 600, 6));
    const ImageRecord a = analyzeImage("a.jpg", dir.file("a.jpg"), nullptr, EngineConfig{});
    const ImageRecord b = analyzeImage("b.jpg", dir.file("b.jpg"), nullptr, EngineConfig{});
    EngineConfig unsaved;
    unsaved.makeThumbnails = false;
    const ImageRecord again = analyzeImage("a.jpg", dir.file("a.jpg"), nullptr, unsaved);
    ImageRecord fresh;
    std::thread([&] { fresh = analyzeImage("b.jpg", dir.file("b.jpg"), nullptr, EngineConfig{}); }).join();

    ASSERT_TRUE(a.valid && b.valid && again.valid && fresh.valid);
    EXPECT_EQ(b.fullW, 600);
    EXPECT_EQ(b.fullH, 900);
    EXPECT_EQ(again.phash, a.phash);
    EXPECT_EQ(again.sharpness, a.sharpness);
    EXPECT_EQ(again.exposure, a.exposure);
    EXPECT_TRUE(again.thumbnailJpeg.empty());
    EXPECT_FALSE(a.thumbnailJpeg.empty());
    EXPECT_EQ(fresh.phash, b.phash);
    EXPECT_EQ(fresh.thumbnailJpeg, b.thumbnailJpeg);
}

TEST(AnalyzeImage, OddWidthIsTheFilesOwnAndThumbnailSideDefaults) {
    TempDir dir;
    ASSERT_TRUE(writeScene(dir, "odd.jpg", 6001, 1000));
    EngineConfig config;
    config.thumbnailLongSide = 0;  // 0 or less means 400
    const ImageRecord r = analyzeImage("odd.jpg", dir.file("odd.jpg"), nullptr, config);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.fullW, 6001);
    EXPECT_EQ(r.fullH, 1000);
    EXPECT_EQ(cv::imdecode(r.thumbnailJpeg, cv::IMREAD_COLOR).cols, 400);
}

// The full size is the one the file declares, upright, whatever the format and
// however the quarter-size decode rounds its sides; face boxes stay inside it.
TEST(AnalyzeImage, FullSizeIsTheHeadersAndFaceBoxesStayInside) {
    TempDir dir;
    ASSERT_TRUE(writeScene(dir, "odd.jpg", 401, 299));
    ASSERT_TRUE(writeScene(dir, "odd_turned.jpg", 401, 299, 6));
    std::vector<uint8_t> png;
    ASSERT_TRUE(cv::imencode(".png", scene(401, 299), png));
    std::ofstream(dir.file("odd.png"), std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                                 std::streamsize(png.size()));
    // OpenCV turns a PNG by the orientation of its eXIf chunk (a big-endian TIFF structure).
    const std::vector<uint8_t> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3,
                                       0,   0,   0, 1,  0, 6, 0, 0, 0, 0, 0,    0};
    const std::vector<uint8_t> turnedPng = keepframe::testing::withPngChunk(png, "eXIf", exif);
    std::ofstream(dir.file("odd_turned.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(turnedPng.data()), std::streamsize(turnedPng.size()));
    const struct {
        const char* name;
        int width, height;
    } cases[] = {
        {"odd.jpg", 401, 299}, {"odd_turned.jpg", 299, 401}, {"odd.png", 401, 299}, {"odd_turned.png", 299, 401}};
    for (const auto& c : cases) {
        const ImageRecord r = analyzeImage(c.name, dir.file(c.name), nullptr, EngineConfig{});
        ASSERT_TRUE(r.valid) << c.name;
        EXPECT_EQ(r.fullW, c.width) << c.name;
        EXPECT_EQ(r.fullH, c.height) << c.name;
    }

    // A JPEG's quarter-size decode of 401 x 299 pixels is 101 x 75: a face
    // reaching its right and bottom edges ends at the frame's.
    ImageRecord frame;
    frame.fullW = 401;
    frame.fullH = 299;
    frame.faces.resize(2);
    frame.faces[0].x1 = 60;
    frame.faces[0].y1 = 40;
    frame.faces[0].x2 = 101;
    frame.faces[0].y2 = 75;
    frame.faces[1].x1 = 10;
    frame.faces[1].y1 = 20;
    frame.faces[1].x2 = 30;
    frame.faces[1].y2 = 50;
    const std::vector<FaceBox> boxes = fullResolutionFaceBoxes(frame);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], (FaceBox{240, 160, 161, 139}));
    EXPECT_EQ(boxes[1], (FaceBox{40, 80, 80, 120}));  // inside: four times the analysis pixels
}

TEST(AnalyzeImage, PngAndUniformFrames) {
    TempDir dir;
    cv::imwrite(dir.file("grey.png"), cv::Mat(200, 300, CV_8UC3, cv::Scalar::all(128)));
    const ImageRecord r = analyzeImage("grey.png", dir.file("grey.png"), nullptr, EngineConfig{});
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.captureTime, "");
    EXPECT_EQ(r.orientation, 1);
    EXPECT_NEAR(r.exposure, 1.0 - 2.0 * std::abs(128.0 / 255.0 - 0.5), 1e-5);
    EXPECT_FLOAT_EQ(r.sharpness, 0.0f);
    EXPECT_FLOAT_EQ(r.contrast, 0.0f);

    cv::imwrite(dir.file("black.bmp"), cv::Mat(200, 300, CV_8UC3, cv::Scalar::all(0)));
    const ImageRecord black = analyzeImage("black.bmp", dir.file("black.bmp"), nullptr, EngineConfig{});
    ASSERT_TRUE(black.valid);
    EXPECT_FLOAT_EQ(black.exposure, 0.0f);
    EXPECT_EQ(black.phash, 0u);
}

TEST(AnalyzeImage, UndecodableOrMissingFilesAreInvalid) {
    TempDir dir;
    std::ofstream(dir.file("junk.jpg")) << "this is not a picture";
    std::ofstream(dir.file("empty.png"));
    const ImageRecord junk = analyzeImage("junk.jpg", dir.file("junk.jpg"), nullptr, EngineConfig{});
    EXPECT_FALSE(junk.valid);
    EXPECT_EQ(junk.problem, "undecodable");
    EXPECT_FALSE(analyzeImage("empty.png", dir.file("empty.png"), nullptr, EngineConfig{}).valid);
    const ImageRecord gone = analyzeImage("gone.jpg", dir.file("gone.jpg"), nullptr, EngineConfig{});
    EXPECT_FALSE(gone.valid);
    EXPECT_EQ(gone.problem, "unreadable");
    // A JPEG cut in half decodes with its rest grey: it is analysed, but marked damaged.
    ASSERT_TRUE(writeScene(dir, "whole.jpg", 640, 480));
    std::ifstream in(dir.file("whole.jpg"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir.file("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const ImageRecord cut = analyzeImage("cut.jpg", dir.file("cut.jpg"), nullptr, EngineConfig{});
    EXPECT_TRUE(cut.valid);
    EXPECT_TRUE(cut.damaged);
    EXPECT_EQ(cut.problem, "Premature end of JPEG file");
    EXPECT_FALSE(cut.thumbnailJpeg.empty());
    const ImageRecord whole = analyzeImage("whole.jpg", dir.file("whole.jpg"), nullptr, EngineConfig{});
    EXPECT_FALSE(whole.damaged);
    EXPECT_EQ(whole.problem, "");
}

TEST(RunCull, DropsBadFilesKeepsScanOrderAndReportsProgress) {
    TempDir dir;
    for (int i = 1; i <= 11; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "shoot/DSC_%04d.jpg", i);
        ASSERT_TRUE(writeScene(dir, name, 320 + 8 * i, 240));
    }
    std::ofstream(dir.file("shoot/DSC_0005x.jpg")) << "broken";
    std::ofstream(dir.file("shoot/notes.txt")) << "not a frame";

    EngineConfig config = keepframe::testing::testModelConfig();
    config.inputFolder = dir.file("shoot");
    config.outputFolder = (dir.path() / "out").string();
    config.workerThreads = 2;
    config.verbose = false;
    std::mutex m;
    std::vector<std::pair<int, std::string>> reports;
    const CullResult r = runCull(config, [&](int p, const std::string& msg) {
        std::lock_guard<std::mutex> lock(m);
        reports.emplace_back(p, msg);
    });

    EXPECT_EQ(r.totalInput, 11);  // the broken file is left out, and named
    ASSERT_EQ(r.skipped.size(), 1u);
    EXPECT_EQ(r.skipped[0].filename, "DSC_0005x.jpg");
    EXPECT_EQ(r.skipped[0].reason, "undecodable");
    EXPECT_TRUE(r.damaged.empty());
    ASSERT_EQ(r.images.size(), 11u);
    for (size_t i = 1; i < r.images.size(); ++i) EXPECT_LT(r.images[i - 1].filename, r.images[i].filename);
    EXPECT_EQ(r.images[0].filename, "DSC_0001.jpg");
    EXPECT_FALSE(r.images[0].thumbnailJpeg.empty());
    EXPECT_EQ(r.outputBase, config.outputFolder);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));  // nothing written without writeOutputs

    // "Scanning" first, then one report per fifth frame and one for the last
    // of the 12 candidate files (5, 10 and 12 done), then the later stages.
    ASSERT_EQ(reports.size(), 8u);
    EXPECT_EQ(reports[0], std::make_pair(2, std::string("Scanning images…")));
    std::vector<int> percents;
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(reports[i].second, "Processing images…");
        percents.push_back(reports[i].first);
    }
    std::sort(percents.begin(), percents.end());
    EXPECT_EQ(percents, (std::vector<int>{2 + 5 * 63 / 12, 2 + 10 * 63 / 12, 65}));
    EXPECT_EQ(reports[4], std::make_pair(67, std::string("Clustering…")));
    EXPECT_EQ(reports[5], std::make_pair(73, std::string("Identifying people…")));
    EXPECT_EQ(reports[6], std::make_pair(78, std::string("Selecting best images…")));
    EXPECT_EQ(reports[7], std::make_pair(80, std::string("Finalizing selection…")));
}

TEST(RunCull, EmptyFolderAndOutputCreation) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "in");
    EngineConfig config = keepframe::testing::testModelConfig();
    config.inputFolder = (dir.path() / "in").string();
    config.outputFolder = (dir.path() / "a/b/out").string();
    config.writeOutputs = true;
    config.verbose = false;
    const CullResult r = runCull(config);
    EXPECT_EQ(r.totalInput, 0);
    EXPECT_TRUE(r.images.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "a/b/out"));

    config.inputFolder = (dir.path() / "missing").string();
    EXPECT_THROW(runCull(config), std::runtime_error);
}
