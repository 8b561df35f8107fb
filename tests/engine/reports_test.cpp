#include "captured_log.h"
#include "frames.h"
#include "reports.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace keepframe;
using namespace keepframe::testing;

namespace {
std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}
}  // namespace

TEST(Reports, CategoryReportFormat) {
    TempDir dir;
    std::vector<ImageRecord> frames = {frame("b file.jpg", Category::Group, 0, {person(0)}, "2024:01:01 10:00:00"),
                                       frame("a.jpg", Category::Group, 0, {person(1)}), frame("c.jpg", Category::Group),
                                       frame("z.jpg", Category::Group), frame("y.jpg", Category::Group)};
    frames[0].eyeSharpness = 10;
    frames[1].eyeSharpness = 20;  // sharpest eyes: the representative
    ClusterMap clusters;
    clusters[4] = {&frames[3], &frames[4]};  // no faces: the first frame in scan order represents it
    clusters[7] = {&frames[0], &frames[1], &frames[2]};
    keepframe::testing::CapturedLog captured;
    writeCategoryReport(clusters, Category::Group, dir.str(), captured.log());
    writeCategoryReport({}, Category::Venue, dir.str(), captured.log());
    EXPECT_EQ(captured.info(), "  group: 2 clusters (report only)\n  venue: 0 clusters (report only)\n");

    EXPECT_EQ(lines(dir.str() + "/_clusters/group/category_report.txt"),
              (std::vector<std::string>{"CATEGORY: group", std::string(50, '='), "Images: 5  Clusters: 2", "",
                                        "Cluster 7 (3 images):", "  a.jpg  valid_faces=1  [REP]  ct=[]",
                                        "  b file.jpg  valid_faces=1  ct=[2024:01:01 10:00:00]",
                                        "  c.jpg  valid_faces=0  ct=[]", "", "Cluster 4 (2 images):",
                                        "  y.jpg  valid_faces=0  ct=[]", "  z.jpg  valid_faces=0  [REP]  ct=[]", ""}));
    EXPECT_EQ(lines(dir.str() + "/_clusters/venue/category_report.txt"),
              (std::vector<std::string>{"CATEGORY: venue", std::string(50, '='), "Images: 0  Clusters: 0", ""}));
}

TEST(Reports, FrameCopiesKeepTheirSubFolders) {
    TempDir dir;
    std::ofstream(dir.file("in/ceremony/DSC_0001.jpg")) << "one";
    std::ofstream(dir.file("in/DSC_0002.jpg")) << "two";
    ImageRecord a = frame("ceremony/DSC_0001.jpg", Category::Portrait), b = frame("DSC_0002.jpg", Category::Venue),
                gone = frame("missing.jpg", Category::Venue);
    a.path = dir.file("in/ceremony/DSC_0001.jpg");
    b.path = dir.file("in/DSC_0002.jpg");
    gone.path = dir.file("in/missing.jpg");
    keepframe::testing::CapturedLog captured;
    copyFramesToFolder({&gone, &a, &b}, dir.str() + "/out", "selected_primary", captured.log());
    const std::string warnings = captured.warnings();
    EXPECT_NE(warnings.find("  WARNING: copy failed"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/ceremony/selected_primary/DSC_0001.jpg"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out/selected_primary/DSC_0002.jpg"));
    // A second copy overwrites.
    std::ofstream(dir.file("in/DSC_0002.jpg")) << "new";
    copyFramesToFolder({&b}, dir.str() + "/out", "selected_primary", EngineLog());
    EXPECT_EQ(lines(dir.str() + "/out/selected_primary/DSC_0002.jpg"), (std::vector<std::string>{"new"}));
}

// Featured frames (a display category) count as portraits.
TEST(CategoryCounts, EachFrameInTheCountOfItsCategory) {
    CategoryCounts counts;
    for (const Category c : {Category::Venue, Category::Portrait, Category::Featured, Category::Group, Category::Group})
        counts.add(c);
    EXPECT_EQ(counts.venue, 1);
    EXPECT_EQ(counts.portrait, 2);
    EXPECT_EQ(counts.group, 2);
}

TEST(Reports, SelectionReport) {
    TempDir dir;
    ImageRecord p = frame("DSC_0001.jpg", Category::Portrait), g = frame("DSC_0002.jpg", Category::Group),
                v = frame("d.jpg", Category::Venue);
    p.finalScore = 0.91234f;
    p.reason = "portrait_p0";
    p.clusterSize = 5;
    p.personIndex = 0;
    g.finalScore = 0.5f;
    g.reason = "group_vip";
    g.clusterSize = 12;
    g.personIndex = 0;
    std::vector<PersonRecord> persons(2);
    persons[0].totalCount = 3;
    persons[0].portraitCount = 2;
    persons[0].groupCount = 1;
    persons[0].portraitImportance = 1;
    persons[0].samples = {"DSC_0001.jpg", "x.jpg"};
    persons[1].personId = 1;
    writeSelectionReport({&p, &g, &v}, persons, dir.str(), EngineLog());
    const auto l = lines(dir.str() + "/selection_report.txt");
    ASSERT_GE(l.size(), 20u);
    EXPECT_EQ(l[0], "KEEPFRAME ENGINE v1 — Coverage First");
    EXPECT_EQ(l[2], "Total:3 V:1 P:1 G:1");
    EXPECT_EQ(l[4], "Rk   Filename                  Cat        Score    Reason                       CSize ");
    EXPECT_EQ(l[5], std::string(88, '-'));
    EXPECT_EQ(l[6], "1    DSC_0001.jpg              portrait    0.9123  portrait_p0                       5");
    EXPECT_EQ(l[12], "PERSON IDENTITY SUMMARY");
    EXPECT_EQ(l[15], "Person_000  total=   3  portrait=   2  group=   1  p_imp=1.00  p_slots=1  g_slots=1");
    EXPECT_EQ(l[16], "  Samples: DSC_0001.jpg, x.jpg");
    EXPECT_EQ(l[19], "  Samples: ");  // a person without samples
    EXPECT_EQ(l.size(), 21u);

    // A file name too long for the row buffer is cut, and the row still ends its line.
    ImageRecord longName = frame(std::string(300, 'n') + ".jpg", Category::Venue);
    writeSelectionReport({&longName}, {}, dir.str(), EngineLog());
    const auto cut = lines(dir.str() + "/selection_report.txt");
    EXPECT_EQ(cut[6].size(), 255u);
    EXPECT_EQ(cut[7], "");
}

TEST(Reports, AReportThatCannotBeWrittenIsNamedAndNothingIsLeftBeside) {
    TempDir dir;
    for (const char* taken : {"selection_report.txt", "skipped.txt"})
        std::filesystem::create_directories(dir.path() / taken);
    ImageRecord kept = frame("a.jpg", Category::Venue);
    keepframe::testing::CapturedLog captured;
    writeSelectionReport({&kept}, {}, dir.str(), captured.log());
    writeSkippedReport({{"b.jpg", "undecodable"}}, {}, dir.str(), captured.log());
    const std::string warnings = captured.warnings();
    EXPECT_NE(warnings.find("WARNING: Cannot write selection_report.txt"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("WARNING: Cannot write skipped.txt"), std::string::npos) << warnings;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_TRUE(e.is_directory()) << e.path();
        names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names.size(), 2u);
}
