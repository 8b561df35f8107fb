#include "paths.h"
#include "scan.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#endif

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {
void touch(const std::string& path) {
    std::ofstream(std::filesystem::path(std::u8string(path.begin(), path.end()))) << "x";
}

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
    for (const auto& f : files)
        EXPECT_TRUE(
            std::filesystem::exists(std::filesystem::path(std::u8string(f.fullPath.begin(), f.fullPath.end()))));
}

#ifndef _WIN32
// Where "\\" is no separator it is part of a file's name, as Windows archives
// unpacked here leave them: such a name is a photograph of its own, and one
// that would climb out of the shoot on Windows is left out and named.
TEST(Scan, BackslashesArePartOfTheNameWhereTheyAreNoSeparator) {
    TempDir dir;
    for (const char* f : {"sub/kit.jpg", "sub\\kit.jpg", "..\\evil.jpg", "a\\..\\..\\x.jpg", "\\lead.jpg"})
        touch(dir.file(f));
    EngineConfig config;
    config.inputFolder = dir.str();
    std::vector<SkippedFile> skipped;
    const auto files = scanInputImages(config, &skipped);
    EXPECT_EQ(names(files), (std::vector<std::string>{"sub/kit.jpg", "sub\\kit.jpg"}));
    EXPECT_EQ(files[1].fullPath, dir.str() + "/sub\\kit.jpg");
    ASSERT_EQ(skipped.size(), 3u);
    for (const SkippedFile& f : skipped) EXPECT_EQ(f.reason, "file name cannot be stored safely") << f.filename;
}
#endif

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

TEST(Scan, LinksKeepTheirOwnPlaceAndFolderLinksAreNotEntered) {
    namespace fs = std::filesystem;
    TempDir dir;
    touch(dir.file("outside/far.jpg"));
    touch(dir.file("outside/deep/other.jpg"));
    touch(dir.file("shoot/a.jpg"));
    fs::create_directories(dir.path() / "shoot/sub");
    fs::create_symlink("../outside/far.jpg", dir.path() / "shoot/link.jpg");   // a file outside the shoot
    fs::create_symlink("../a.jpg", dir.path() / "shoot/sub/alias.jpg");       // a file inside it
    fs::create_directory_symlink("../outside", dir.path() / "shoot/away");    // a folder outside
    fs::create_directory_symlink(".", dir.path() / "shoot/sub/loop");          // a folder inside, a loop
    fs::create_symlink("missing.jpg", dir.path() / "shoot/dangling.jpg");

    EngineConfig config;
    config.inputFolder = (dir.path() / "shoot").string();
    const auto files = scanInputImages(config);
    EXPECT_EQ(names(files), (std::vector<std::string>{"a.jpg", "link.jpg", "sub/alias.jpg"}));
    // Full paths are the enumerated ones, inside the shoot.
    for (const auto& f : files) EXPECT_EQ(f.fullPath.rfind(config.inputFolder + "/", 0), 0u) << f.fullPath;

    // A trailing separator on the input folder changes nothing.
    config.inputFolder += "/";
    EXPECT_EQ(names(scanInputImages(config)), (std::vector<std::string>{"a.jpg", "link.jpg", "sub/alias.jpg"}));
}

TEST(Scan, NamesThatAreNotUtf8AreSkippedAndNamed) {
    TempDir dir;
    touch(dir.file("shoot/good.jpg"));
    // Raw bytes: Latin-1 "caf\xe9" as a file system without UTF-8 names would write it.
    std::ofstream(dir.path() / "shoot" / std::string("caf\xe9.jpg")) << "x";
    std::ofstream(dir.path() / "shoot" / std::string("notes\xff.txt")) << "x";  // not an image: not reported

    EngineConfig config;
    config.inputFolder = dir.file("shoot");
    std::vector<SkippedFile> skipped;
    const auto files = scanInputImages(config, &skipped);
    EXPECT_EQ(names(files), (std::vector<std::string>{"good.jpg"}));
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].filename, "caf\\xE9.jpg");
    EXPECT_EQ(skipped[0].reason, "file name is not valid UTF-8");
    // Without a list to fill the file is still left out.
    EXPECT_EQ(names(scanInputImages(config)), (std::vector<std::string>{"good.jpg"}));
}

TEST(ReadFileBytes, RegularFilesOnly) {
    TempDir dir;
    std::ofstream(dir.file("a.jpg")) << "abc";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFileBytes(dir.file("a.jpg"), bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
    std::filesystem::create_symlink(dir.path() / "a.jpg", dir.path() / "link.jpg");
    EXPECT_TRUE(readFileBytes(dir.file("link.jpg"), bytes));
    EXPECT_TRUE(isRegularFile(dir.file("link.jpg")));

    // A folder used to be opened and sized as a file of 2^63 bytes.
    std::filesystem::create_directories(dir.path() / "folder.jpg");
    EXPECT_FALSE(readFileBytes(dir.file("folder.jpg"), bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(isRegularFile(dir.file("folder.jpg")));
    EXPECT_FALSE(readFileBytes(dir.file("missing.jpg"), bytes));
#if defined(__unix__) || defined(__APPLE__)
    // A pipe nobody writes to would block the reader for ever.
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    EXPECT_FALSE(isRegularFile(dir.file("pipe.jpg")));
    EXPECT_FALSE(readFileBytes(dir.file("pipe.jpg"), bytes));
#endif
}
