#include "cull_options.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace keepframe;

TEST(CullOptions, DefaultsAndValues) {
    std::string error;
    auto o = parseCullOptions({"/shoots/wedding/"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->input, "/shoots/wedding/");
    EXPECT_EQ(o->output, "/shoots/wedding_culled");
    EXPECT_EQ(o->select, -1);
    EXPECT_EQ(o->threads, 0);
    EXPECT_FALSE(o->writeOutputs);
    EXPECT_FALSE(o->quiet);

    o = parseCullOptions({"--select", "40", "in", "--threads", "3", "--write-outputs", "--quiet", "--output", "o",
                          "--models", "m"},
                         error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->select, 40);
    EXPECT_EQ(o->threads, 3);
    EXPECT_TRUE(o->writeOutputs);
    EXPECT_TRUE(o->quiet);
    EXPECT_EQ(o->output, "o");
    EXPECT_EQ(o->modelsFolder, "m");
    EXPECT_EQ(parseCullOptions({"in", "--select", "0"}, error)->select, -1);  // 0 is automatic

    // Both speed options are off unless asked for; the last level given holds.
    EXPECT_FALSE(parseCullOptions({"in"}, error)->fullGraphOptimization);
    EXPECT_FALSE(parseCullOptions({"in"}, error)->keepRawPreviews);
    o = parseCullOptions({"--graph-optimization", "all", "in", "--keep-raw-previews"}, error);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->fullGraphOptimization);
    EXPECT_TRUE(o->keepRawPreviews);
    EXPECT_EQ(o->input, "in");
    EXPECT_FALSE(parseCullOptions({"in", "--graph-optimization", "all", "--graph-optimization", "extended"}, error)
                     ->fullGraphOptimization);
}

TEST(CullOptions, BadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--quiet"},
        {"in", "--select"},
        {"in", "--select", "-3"},
        {"in", "--select", "12x"},
        {"in", "--threads", "99999999999"},
        {"in", "--bogus"},
        {"in", "other"},
        {"in", "--output", ""},
        {"in", "--graph-optimization"},
        {"in", "--graph-optimization", "ALL"},
        {"in", "--graph-optimization", "basic"},
        {"in", "--graph-optimization", "--keep-raw-previews"},
        {"in", "--keep-raw-previews=yes"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parseCullOptions(args, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(CullOptions, InputFolderChecks) {
    keepframe::testing::TempDir dir;
    std::string error;
    EXPECT_TRUE(checkInputFolder(dir.str(), error));
    EXPECT_FALSE(checkInputFolder(dir.str() + "/missing", error));
    EXPECT_NE(error.find("not found"), std::string::npos);
    std::ofstream(dir.file("f.jpg")) << "x";
    EXPECT_FALSE(checkInputFolder(dir.file("f.jpg"), error));
    EXPECT_NE(error.find("not a folder"), std::string::npos);
}

TEST(CullOptions, XmpHandOver) {
    std::string error;
    auto o = parseCullOptions({"in", "--xmp"}, error);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->xmp.enabled);
    EXPECT_FALSE(o->xmp.append);
    EXPECT_EQ(o->xmp.rating, 3);
    EXPECT_EQ(o->xmp.label, "Green");

    o = parseCullOptions({"--xmp-style", "append", "in", "--xmp-rating", "5", "--xmp-label", "none", "--xmp"}, error);
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->xmp.append);
    EXPECT_EQ(o->xmp.rating, 5);
    EXPECT_EQ(o->xmp.label, "");
    EXPECT_EQ(parseCullOptions({"in", "--xmp", "--xmp-label", "Purple"}, error)->xmp.label, "Purple");

    const std::vector<std::vector<std::string>> bad = {
        {"in", "--xmp", "--xmp-style", "sideways"},
        {"in", "--xmp", "--xmp-rating", "0"},
        {"in", "--xmp", "--xmp-rating", "-1"},
        {"in", "--xmp", "--xmp-rating", "35"},
        {"in", "--xmp", "--xmp-label"},
        {"in", "--xmp-rating", "4"},  // without --xmp
        {"in", "--xmp", "--no-save"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(parseCullOptions(args, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}
