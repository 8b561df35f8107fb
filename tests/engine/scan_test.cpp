#include "scan.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {
void touch(const std::string& path) { std::ofstream(std::filesystem::path(std::u8string(path.begin(), path.end()))) << "x"; }

std::vector<std::string> names(const std::vector<InputFile>& files) {
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(f.relativeName);
    return out;
}
}  // namespace

TEST(Scan, Extensions) {
    EXPECT_EQ(fileExtension("IMG.0001.JPG"), ".jpg");
    EXPECT_EQ(fileExtension("IMG_0001.JPG.bak"), ".bak");
    EXPECT_EQ(fileExtension("README"), "");
    EXPECT_TRUE(isImageExtension(".tiff"));
    EXPECT_TRUE(isImageExtension(".jpeg"));
    EXPECT_FALSE(isImageExtension(".nef"));
    EXPECT_FALSE(isImageExtension(".jpg "));
}

TEST(Scan, RecursiveFilteredAndSortedBytewise) {
    TempDir dir;
    for (const char* f : {"b.jpg", "IMG.0001.JPG", "IMG_0001.JPG.bak", "notes.txt", "a.PNG", "x.Tif", "y.bmp",
                          "z.jpeg", "raw.NEF", "sub/c.jpg", "sub/deeper/d.tiff", "Sub2/e.jpg",
                          "\xc3\xa9t\xc3\xa9/f.jpg", "noext"})
        touch(dir.file(f));
    std::filesystem::create_directories(dir.path() / "empty.jpg");  // a folder is not a frame

    EngineConfig config;
    config.inputFolder = dir.str();
    const auto files = scanInputImages(config);
    // Byte-wise order: upper case before lower case, UTF-8 bytes after ASCII.
    const std::vector<std::string> expected = {"IMG.0001.JPG", "Sub2/e.jpg",       "a.PNG", "b.jpg",
                                               "sub/c.jpg",    "sub/deeper/d.tiff", "x.Tif", "y.bmp",
                                               "z.jpeg",       "\xc3\xa9t\xc3\xa9/f.jpg"};
    EXPECT_EQ(names(files), expected);
    // Full paths point at the files themselves.
    for (const auto& f : files) EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(std::u8string(f.fullPath.begin(), f.fullPath.end()))));
}

TEST(Scan, MissingOrNonFolderInputIsAnError) {
    TempDir dir;
    EngineConfig config;
    config.inputFolder = (dir.path() / "missing").string();
    EXPECT_THROW(scanInputImages(config), std::runtime_error);
    touch(dir.file("file.jpg"));
    config.inputFolder = dir.file("file.jpg");
    EXPECT_THROW(scanInputImages(config), std::runtime_error);
}

TEST(Scan, EmptyFolderGivesNoFiles) {
    TempDir dir;
    EngineConfig config;
    config.inputFolder = dir.str();
    EXPECT_TRUE(scanInputImages(config).empty());
}
