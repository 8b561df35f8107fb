// The engine's platform layer for files: mapping a file for a library that
// reads a few blocks of it, and replacing a file that another program may
// still hold open.
#include "mapped_file.h"
#include "paths.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <vector>

using namespace keepframe;
using keepframe::testing::TempDir;
using std::chrono::milliseconds;

TEST(MappedFile, MapsRegularFilesOnly) {
    TempDir dir;
    const std::string photo = dir.file("Café été/Ærø.jpg");
    writeFileBytes(photo, {0xFF, 0xD8, 0xFF, 0xE1, 0x00});
    {
        const MappedFile file(photo);
        ASSERT_TRUE(file.mapped());
        EXPECT_EQ(std::vector<uint8_t>(file.data(), file.data() + file.size()),
                  (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE1, 0x00}));
    }
    // Nothing to map: each gives an empty view rather than a failure later.
    writeFileBytes(dir.file("empty.jpg"), {});
    std::filesystem::create_directories(dir.path() / "folder.jpg");
    for (const char* name : {"empty.jpg", "folder.jpg", "missing.jpg"}) {
        const MappedFile file(dir.file(name));
        EXPECT_FALSE(file.mapped()) << name;
        EXPECT_EQ(file.size(), 0u) << name;
    }
}

TEST(ReplaceFile, RetriesOnlyWhileTheTargetIsHeld) {
    const std::error_code busy = std::make_error_code(std::errc::device_or_resource_busy);
    const std::error_code denied = std::make_error_code(std::errc::permission_denied);
    const milliseconds waits[] = {milliseconds(0), milliseconds(0), milliseconds(0)};

    int calls = 0;
    // An attempt that fails with `error` for its first `failures` calls.
    const auto failingFor = [&calls](int failures, std::error_code error) {
        calls = 0;
        return [&calls, failures, error] { return ++calls <= failures ? error : std::error_code(); };
    };

    // Let go of after two refusals: the third attempt succeeds.
    EXPECT_FALSE(retryWhileHeld(failingFor(2, busy), waits));
    EXPECT_EQ(calls, 3);

    // Held for longer than the waits: one attempt per wait and the first, then the refusal counts.
    EXPECT_EQ(retryWhileHeld(failingFor(10, busy), waits), busy);
    EXPECT_EQ(calls, 4);

    // A failure that waiting does not cure ends at once.
    EXPECT_EQ(retryWhileHeld(failingFor(10, denied), waits), denied);
    EXPECT_EQ(calls, 1);
}

TEST(ReplaceFile, ReplacesTheTargetOrLeavesItAsItWas) {
    TempDir dir;
    const std::string target = dir.file("Ærø/report.txt"), next = dir.file("Ærø/.report.txt.1.tmp");
    ASSERT_TRUE(writeFileBytes(target, {'o', 'l', 'd'}));
    ASSERT_TRUE(writeFileBytes(next, {'n', 'e', 'w'}));
    std::error_code error;
    ASSERT_TRUE(replaceFile(next, target, error)) << error.message();
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFileBytes(target, bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'n', 'e', 'w'}));
    EXPECT_FALSE(std::filesystem::exists(utf8ToPath(next)));

    EXPECT_FALSE(replaceFile(dir.file("Ærø/missing.tmp"), target, error));
    EXPECT_TRUE(error);
    ASSERT_TRUE(readFileBytes(target, bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'n', 'e', 'w'}));
}
