// A whole cull through the real ONNX Runtime path with the test models, on a
// small generated shoot: the result must hold together.
#include "captured_log.h"
#include "cull.h"
#include "fault_files.h"
#include "painted_frames.h"
#include "temp_dir.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include <opencv2/imgproc.hpp>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// Bursts of portraits and groups (painted faces) and venue frames (textures).
void makeShoot(const TempDir& dir) {
    int n = 0;
    auto name = [&](const std::string& sub = "") {
        char buf[48];
        std::snprintf(buf, sizeof buf, "DSC_%04d.png", ++n);
        return "shoot/" + sub + buf;
    };
    for (int i = 0; i < 6; ++i) writeFrame(dir, name(), analysisFrame({{15, 20, 3, 0.75f + 0.02f * i}}));
    for (int i = 0; i < 3; ++i) writeFrame(dir, name("ceremony/"), analysisFrame({{10, 10, 2.5f}, {15, 30, 3, 0.8f}}));
    for (int i = 0; i < 5; ++i)
        writeFrame(dir, name("ceremony/"),
                   analysisFrame({{8, 8, 2.5f, 0.7f + 0.03f * i}, {8, 24, 3}, {20, 15, 2.5f}, {20, 30, 2}}));
    for (int i = 0; i < 4; ++i) {
        cv::Mat venue(480, 640, CV_8UC3);
        cv::randu(venue, cv::Scalar::all(0), cv::Scalar::all(120));  // below 128: no test-model faces
        cv::GaussianBlur(venue, venue, cv::Size(0, 0), 1 + i);
        writeFrame(dir, name("venue/"), venue);
    }
}

// Five whole venue frames, DSC_0001.jpg to DSC_0005.jpg, each blurrier than the one before.
void writeWholeVenueFrames(const TempDir& dir) {
    for (int i = 0; i < 5; ++i) {
        cv::Mat venue = noise(640, 480, uint64_t(10 + i));
        cv::GaussianBlur(venue, venue, cv::Size(0, 0), 2 + i);
        writeFile(dir.file("shoot/DSC_000" + std::to_string(i + 1) + ".jpg"), encoded(venue, ".jpg"));
    }
}

// A quiet cull of the shoot folder of `dir` into its "out" folder with the
// classical measures only: every frame is venue.
EngineConfig classicalConfig(const TempDir& dir, int threads) {
    EngineConfig config;
    config.detectorModelPath.clear();
    config.inputFolder = dir.file("shoot");
    config.outputFolder = dir.str() + "/out";
    config.verbose = false;
    config.workerThreads = threads;
    return config;
}

// A run and the lines it logged.
struct CaughtCull {
    CullResult result;
    std::string info, warnings;
};

CaughtCull cullCaught(EngineConfig config) {
    CapturedLog captured;
    config.log = captured.log();
    CullResult result = runCull(config);
    return {std::move(result), captured.info(), captured.warnings()};
}

}  // namespace

TEST(CullEndToEnd, ResultHoldsTogether) {
    TempDir dir;
    makeShoot(dir);
    EngineConfig config = testModelConfig();
    config.inputFolder = dir.file("shoot");
    config.outputFolder = dir.str() + "/out";
    config.requestedPrimaryCount = 3;
    config.workerThreads = 2;
    config.writeOutputs = true;
    const CaughtCull run = cullCaught(config);
    const CullResult& r = run.result;

    ASSERT_EQ(r.totalInput, 18);
    ASSERT_EQ(r.images.size(), 18u);
    for (size_t i = 1; i < r.images.size(); ++i) EXPECT_LT(r.images[i - 1].filename, r.images[i].filename);
    std::map<std::string, int> categories;
    for (const auto& img : r.images) ++categories[categoryText(img.category)];
    EXPECT_EQ(categories["portrait"], 9);
    EXPECT_EQ(categories["group"], 5);
    EXPECT_EQ(categories["venue"], 4);

    ASSERT_GT(r.totalSelected, 0);
    EXPECT_EQ(r.totalSelected, int32_t(r.selected.size()));
    std::set<std::string> unique;
    for (const auto& s : r.selected) EXPECT_TRUE(unique.insert(s.filename).second) << s.filename;
    EXPECT_EQ(r.primaryCount, std::min(3, r.totalSelected));
    EXPECT_EQ(r.primaryCount + r.reviewCount, r.totalSelected);
    EXPECT_EQ(r.venueCount + r.portraitCount + r.groupCount, r.totalSelected);
    for (size_t i = 0; i < r.selected.size(); ++i) EXPECT_EQ(r.selected[i].primary, int32_t(i) < r.primaryCount);
    for (size_t i = 1; i < size_t(r.primaryCount); ++i) EXPECT_GE(r.selected[i - 1].score, r.selected[i].score);

    int selectedRows = 0, primaryRows = 0;
    for (const auto& img : r.images) {
        selectedRows += img.engineSelected;
        primaryRows += img.isPrimary;
        EXPECT_TRUE(!img.isPrimary || img.engineSelected);
        EXPECT_EQ(img.facePersons.size(), img.faceBoxes.size());  // every test face embeds
        EXPECT_FALSE(img.thumbnailJpeg.empty());
    }
    EXPECT_EQ(selectedRows, r.totalSelected);
    EXPECT_EQ(primaryRows, r.primaryCount);
    ASSERT_GE(r.coverIndex, 0);
    ASSERT_LT(r.coverIndex, int32_t(r.images.size()));
    EXPECT_TRUE(r.images[size_t(r.coverIndex)].engineSelected);
    EXPECT_GE(r.persons, 1);

    // The written outputs match the result.
    namespace fs = std::filesystem;
    for (const char* c : {"venue", "portrait", "group"})
        EXPECT_TRUE(fs::exists(fs::path(config.outputFolder) / "_clusters" / c / "category_report.txt"));
    EXPECT_TRUE(fs::exists(fs::path(config.outputFolder) / "selection_report.txt"));
    int copies = 0;
    for (const auto& e : fs::recursive_directory_iterator(config.outputFolder))
        copies += e.is_regular_file() && e.path().parent_path().filename() == "selected_primary";
    EXPECT_EQ(copies, r.primaryCount);
    EXPECT_NE(run.info.find("DONE. Output: " + config.outputFolder), std::string::npos);
}

TEST(CullEndToEnd, OddFilesAreNamedAndDamagedFramesNeverPicked) {
    TempDir dir;
    writeWholeVenueFrames(dir);
    // Sharper than any other frame, and cut short: it would be the first venue pick.
    writeFile(dir.file("shoot/damaged.jpg"), truncated(encoded(noise(640, 480, 99), ".jpg"), 0.7));
    const std::vector<uint8_t> small = encoded(noise(64, 48), ".jpg");
    writeFile(dir.file("shoot/huge.jpg"), withJpegSize(small, 65000, 65000));
    writeFile(dir.file("shoot/line.jpg"), withJpegSize(small, 65000, 1));
    writeFile(dir.file("shoot/strip.jpg"), encoded(noise(4, 8000), ".jpg"));
    writeFile(dir.file("shoot/sub/tall.jpg"), encoded(noise(16, 30000), ".jpg"));
    writeFile(dir.file("shoot/huge.png"), pngDeclaring(30000, 30000));
    writeFile(dir.file("shoot/garbage.jpg"), garbage(5000));
    writeFile(dir.file("shoot/empty.bmp"), {});
    std::filesystem::create_directories(dir.path() / "shoot/folder.jpg");

    EngineConfig config = classicalConfig(dir, 3);
    config.writeOutputs = true;
    const CaughtCull run = cullCaught(config);
    const CullResult& r = run.result;

    // The shoot goes on; the damaged frame is stored in scan order and never picked.
    ASSERT_EQ(r.totalInput, 6);
    ASSERT_EQ(r.images.size(), 6u);
    EXPECT_EQ(r.images[5].filename, "damaged.jpg");
    EXPECT_EQ(r.images[5].reason, "damaged");
    EXPECT_FALSE(r.images[5].engineSelected);
    EXPECT_FALSE(r.images[5].isPrimary);
    EXPECT_FALSE(r.images[5].thumbnailJpeg.empty());  // the photographer can see it
    EXPECT_EQ(r.damaged, (std::vector<std::string>{"damaged.jpg"}));
    EXPECT_EQ(r.totalSelected, 3);  // three venue clusters of the five good frames
    for (const auto& s : r.selected) EXPECT_NE(s.filename, "damaged.jpg");
    EXPECT_NE(r.images[size_t(r.coverIndex)].filename, "damaged.jpg");

    // Every file left out is named with its reason, in name order.
    std::vector<std::pair<std::string, std::string>> skipped;
    for (const auto& f : r.skipped) skipped.emplace_back(f.filename, f.reason);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"empty.bmp", "undecodable"},
        {"garbage.jpg", "undecodable"},
        {"huge.jpg", "too large: 65000 x 65000 pixels (limit 200 megapixels)"},
        {"huge.png", "too large: 30000 x 30000 pixels (limit 200 megapixels)"},
        {"line.jpg", "degenerate size: 65000 x 1 pixels"},
        {"strip.jpg", "degenerate size: 4 x 8000 pixels"},
        {"sub/tall.jpg", "degenerate size: 16 x 30000 pixels"}};
    EXPECT_EQ(skipped, expected);
    EXPECT_NE(run.warnings.find("  WARNING: skipped huge.jpg: too large"), std::string::npos) << run.warnings;
    EXPECT_NE(run.warnings.find("  WARNING: damaged.jpg is damaged (Premature end of JPEG file)"), std::string::npos)
        << run.warnings;

    // ... and in skipped.txt beside the reports.
    std::ifstream in(dir.path() / "out" / "skipped.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "damaged.jpg\tdamaged (Premature end of JPEG file): kept, never picked");
    EXPECT_EQ(lines[1], "empty.bmp\tundecodable");
    EXPECT_EQ(lines[7], "sub/tall.jpg\tdegenerate size: 16 x 30000 pixels");
}

// Frames cut short in every format the scan takes, each sharper than any
// whole frame: all are stored as damaged with their reason, none is picked.
TEST(CullEndToEnd, DamagedFramesOfEveryFormatAreStoredNeverPicked) {
    TempDir dir;
    writeWholeVenueFrames(dir);
    for (const auto& [name, bytes] : cutFilesOfEveryFormat(noise(640, 480, 99)))
        writeFile(dir.file("shoot/" + name), bytes);

    const CullResult r = cullCaught(classicalConfig(dir, 2)).result;

    const std::vector<std::string> damaged = {"cmyk.jpg", "cut.bmp", "cut.png", "cut.tif"};
    EXPECT_EQ(r.damaged, damaged);
    EXPECT_TRUE(r.skipped.empty());
    ASSERT_EQ(r.totalInput, 9);
    for (const ResultImage& image : r.images) {
        const bool isDamaged = std::find(damaged.begin(), damaged.end(), image.filename) != damaged.end();
        EXPECT_EQ(image.reason == "damaged", isDamaged) << image.filename;
        if (!isDamaged) continue;
        EXPECT_FALSE(image.engineSelected) << image.filename;
        EXPECT_EQ(image.fullW, 640) << image.filename;
        EXPECT_EQ(image.fullH, 480) << image.filename;
        EXPECT_FALSE(image.thumbnailJpeg.empty()) << image.filename;
    }
    EXPECT_EQ(r.totalSelected, 3);  // three venue clusters of the five whole frames
    ASSERT_GE(r.coverIndex, 0);
    EXPECT_EQ(r.images[size_t(r.coverIndex)].filename.rfind("DSC_", 0), 0u);
}
