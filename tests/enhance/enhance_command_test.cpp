// keepframe-enhance run as the photographer runs it, on the kinds of input
// that hung it, aborted it or destroyed its input.
#include "fault_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#include <sys/wait.h>
#endif

using namespace keepframe::testing;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

// Runs the command line `prefix keepframe-enhance args` through the shell.
Outcome enhance(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
    const std::string log = dir.file("enhance.log");
    const std::string command =
        prefix + "\"" KEEPFRAME_ENHANCE_COMMAND "\" " + args + " > \"" + log + "\" 2>&1";
    const int status = std::system(command.c_str());
    Outcome o;
#if defined(__unix__) || defined(__APPLE__)
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#else
    o.exitCode = status;
#endif
    const std::vector<uint8_t> bytes = readFile(log);
    o.output.assign(bytes.begin(), bytes.end());
    return o;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// Files in the folder other than the ones named.
std::vector<std::string> strayFiles(const TempDir& dir, const std::vector<std::string>& known) {
    std::vector<std::string> stray;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) stray.push_back(name);
    }
    return stray;
}

}  // namespace

TEST(EnhanceCommand, InputsThatAreNotPhotographsFailClearly) {
    TempDir dir;
    fs::create_directories(dir.path() / "folder.jpg");
    writeFile(dir.file("cut.jpg"), truncated(encoded(noise(320, 240), ".jpg"), 0.6));
    writeFile(dir.file("huge.jpg"), withJpegSize(encoded(noise(64, 48), ".jpg"), 30000, 30000));
    writeFile(dir.file("strip.jpg"), encoded(noise(4, 8000), ".jpg"));
    writeFile(dir.file("garbage.jpg"), garbage(3000));
    struct Case {
        std::string input;
        std::string message;
    };
    const Case cases[] = {
        {"folder.jpg", "folder.jpg is not a regular file"},
        {"missing.jpg", "missing.jpg: no such file"},
        {"cut.jpg", "cut.jpg is damaged (Premature end of JPEG file); nothing written"},
        {"huge.jpg", "huge.jpg: too large: 30000 x 30000 pixels (limit 200 megapixels)"},
        {"strip.jpg", "strip.jpg: degenerate size: 4 x 8000 pixels"},
        {"garbage.jpg", "cannot decode"},
    };
    for (const Case& c : cases) {
        const Outcome o = enhance(dir, quoted(dir.file(c.input)) + " " + quoted(dir.file("out.jpg")));
        EXPECT_NE(o.exitCode, 0) << c.input;
        EXPECT_NE(o.output.find(c.message), std::string::npos) << c.input << ": " << o.output;
        EXPECT_FALSE(fs::exists(dir.path() / "out.jpg")) << c.input;
    }

    // A folder as the output is refused and left alone.
    writeFile(dir.file("good.jpg"), encoded(noise(320, 240), ".jpg"));
    const Outcome o = enhance(dir, quoted(dir.file("good.jpg")) + " " + quoted(dir.file("folder.jpg")));
    EXPECT_NE(o.exitCode, 0);
    EXPECT_NE(o.output.find("is a folder"), std::string::npos) << o.output;
    EXPECT_TRUE(fs::is_directory(dir.path() / "folder.jpg"));
}

// Damage in any format, and sizes a header hides, end the command with a
// clear message before anything is written.
TEST(EnhanceCommand, DamagedOrHiddenHugeInputsOfEveryFormatWriteNothing) {
    TempDir dir;
    const cv::Mat sharp = noise(320, 240, 6);
    cv::Mat grey;
    cv::extractChannel(sharp, grey, 0);
    writeFile(dir.file("cmyk.jpg"), truncated(cmykJpeg(sharp), 0.6));
    writeFile(dir.file("cut.png"), truncated(encoded(sharp, ".png"), 0.6));
    writeFile(dir.file("cut.tif"), truncated(greyTiff(grey), 0.6));
    writeFile(dir.file("cut.bmp"), truncated(encoded(sharp, ".bmp"), 0.6));
    writeFile(dir.file("stray.jpg"),
              withStrayByteBeforeFrameHeader(withJpegSize(encoded(noise(64, 48), ".jpg"), 30000, 30000)));
    writeFile(dir.file("whole.jpg"), cmykJpeg(sharp));
    const std::pair<std::string, std::string> cases[] = {
        {"cmyk.jpg", "cmyk.jpg is damaged (Premature end of JPEG file); nothing written"},
        {"cut.png", "cut.png is damaged (PNG data cut short); nothing written"},
        {"cut.tif", "cut.tif is damaged (Read error at scanline"},
        {"cut.bmp", "cut.bmp is damaged (BMP pixel data cut short"},
        {"stray.jpg", "stray.jpg: too large: 30000 x 30000 pixels (limit 200 megapixels)"},
    };
    for (const auto& [input, message] : cases) {
        const Outcome o = enhance(dir, quoted(dir.file(input)) + " " + quoted(dir.file("out.jpg")));
        EXPECT_EQ(o.exitCode, 2) << input;
        EXPECT_NE(o.output.find(message), std::string::npos) << input << ": " << o.output;
        EXPECT_FALSE(fs::exists(dir.path() / "out.jpg")) << input;
    }
    const Outcome whole = enhance(dir, quoted(dir.file("whole.jpg")) + " " + quoted(dir.file("out.jpg")));
    EXPECT_EQ(whole.exitCode, 0) << whole.output;
    EXPECT_TRUE(fs::exists(dir.path() / "out.jpg"));
}

#if defined(__unix__) || defined(__APPLE__)
TEST(EnhanceCommand, APipeAsInputDoesNotHang) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    // Nobody writes to the pipe: a reader would wait for ever (timeout ends it with 124).
    const Outcome o = enhance(dir, quoted(dir.file("pipe.jpg")) + " " + quoted(dir.file("out.jpg")), "timeout 20 ");
    EXPECT_NE(o.exitCode, 0);
    EXPECT_NE(o.exitCode, 124) << "keepframe-enhance waited on the pipe";
    EXPECT_NE(o.output.find("pipe.jpg is not a regular file"), std::string::npos) << o.output;
}

TEST(EnhanceCommand, ReplacingTheInputOnAFullDiskKeepsIt) {
    TempDir dir;
    const std::vector<uint8_t> original = encoded(noise(400, 300), ".jpg", {cv::IMWRITE_JPEG_QUALITY, 90});
    writeFile(dir.file("a.jpg"), original);
    const std::string args = quoted(dir.file("a.jpg")) + " " + quoted(dir.file("a.jpg"));

    // Files may grow to 100 blocks of 512 bytes: the enhanced copy does not fit.
    const Outcome full = enhance(dir, args, "ulimit -f 100; trap '' XFSZ; ");
    EXPECT_NE(full.exitCode, 0);
    EXPECT_NE(full.output.find("cannot write"), std::string::npos) << full.output;
    EXPECT_EQ(readFile(dir.file("a.jpg")), original);
    EXPECT_EQ(strayFiles(dir, {"a.jpg", "enhance.log"}), std::vector<std::string>{});

    // Killed in the middle of the write: still the original under its name.
    const Outcome killed = enhance(dir, args, "ulimit -f 100; ");
    EXPECT_NE(killed.exitCode, 0);
    EXPECT_EQ(readFile(dir.file("a.jpg")), original);

    // With room, the photograph is replaced by its enhanced version.
    const Outcome ok = enhance(dir, args);
    ASSERT_EQ(ok.exitCode, 0) << ok.output;
    const std::vector<uint8_t> enhanced = readFile(dir.file("a.jpg"));
    EXPECT_NE(enhanced, original);
    EXPECT_EQ(cv::imdecode(enhanced, cv::IMREAD_COLOR).size(), cv::Size(400, 300));
}
#endif
