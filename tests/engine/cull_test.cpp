// A whole cull through the real ONNX Runtime path with the test models, on a
// small generated shoot: the result must hold together.
#include "cull.h"
#include "painted_frames.h"
#include "temp_dir.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <set>

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
    ::testing::internal::CaptureStdout();
    const CullResult r = runCull(config);
    const std::string log = ::testing::internal::GetCapturedStdout();

    ASSERT_EQ(r.totalInput, 18);
    ASSERT_EQ(r.images.size(), 18u);
    for (size_t i = 1; i < r.images.size(); ++i) EXPECT_LT(r.images[i - 1].filename, r.images[i].filename);
    std::map<std::string, int> categories;
    for (const auto& img : r.images) ++categories[img.category];
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
    EXPECT_NE(log.find("DONE. Output: " + config.outputFolder), std::string::npos);
}
