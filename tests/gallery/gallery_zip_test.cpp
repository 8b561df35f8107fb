// The whole-gallery archive, read back by an independent reader (Python's
// zipfile): plain and zip64 records, names made safe, contents and CRCs intact.
#include "zip_stream.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace {

using keepframe::gallery::ZipStream;

// Writes an archive of `files` (name, bytes) into `path`, in pieces of odd sizes.
void writeArchive(const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& files,
                  uint64_t zip64From) {
    std::ofstream out(path, std::ios::binary);
    ZipStream zip([&](const char* data, size_t size) { return bool(out.write(data, std::streamsize(size))); },
                  zip64From);
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(zip.begin(name, bytes.size(), 1'700'000'000));
        for (size_t at = 0; at < bytes.size(); at += 777)
            ASSERT_TRUE(zip.write(bytes.data() + at, std::min<size_t>(777, bytes.size() - at)));
        ASSERT_TRUE(zip.end());
    }
    ASSERT_TRUE(zip.finish());
}

// What Python's zipfile reads: "name size crc-ok" lines, or its error.
std::string readBack(const std::filesystem::path& path) {
    const std::filesystem::path report = path.string() + ".txt";
    const std::string script =
        "import sys, zipfile, zlib\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "bad = z.testzip()\n"
        "out = open(sys.argv[2], 'w')\n"
        "for i in z.infolist(): out.write('%s %d %s %d\\n' % (i.filename, i.file_size, bad is None, "
        "zlib.crc32(z.read(i)) == i.CRC))\n";
    const std::filesystem::path program = path.string() + ".py";
    std::ofstream(program) << script;
    const std::string command =
        "/usr/bin/python3 '" + program.string() + "' '" + path.string() + "' '" + report.string() + "' 2>&1";
    if (std::system(command.c_str()) != 0) return "unreadable";
    std::ifstream in(report);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(GalleryZip, ArchivesReadBackWithAndWithoutZip64) {
    keepframe::testing::TempDir dir;
    std::mt19937 random(7);
    std::string big(300'000, '\0');
    for (char& c : big) c = char(random());
    const std::vector<std::pair<std::string, std::string>> files = {
        {"IMG_0001.jpg", big}, {"empty.jpg", ""}, {"Asha & Rohan – ceremony.jpg", big.substr(0, 1234)}};
    const std::string expected = "IMG_0001.jpg 300000 True 1\nempty.jpg 0 True 1\n"
                                 "Asha & Rohan – ceremony.jpg 1234 True 1\n";
    writeArchive(dir.path() / "plain.zip", files, 0xFFFFFFFFull);
    EXPECT_EQ(readBack(dir.path() / "plain.zip"), expected);
    // Sizes and offsets past the limit take zip64 records: here from the second entry on.
    writeArchive(dir.path() / "large.zip", files, 200'000);
    EXPECT_EQ(readBack(dir.path() / "large.zip"), expected);
}

TEST(GalleryZip, EntriesKeepTheirSizeAndNamesStaySafeAndUnique) {
    EXPECT_EQ(keepframe::gallery::crc32Update(0, "123456789", 9), 0xCBF43926u);
    std::vector<std::string> taken;
    EXPECT_EQ(ZipStream::entryName("IMG_1.jpg", taken), "IMG_1.jpg");
    EXPECT_EQ(ZipStream::entryName("img_1.JPG", taken), "img_1 (2).JPG");
    EXPECT_EQ(ZipStream::entryName("IMG_1.jpg", taken), "IMG_1 (3).jpg");
    EXPECT_EQ(ZipStream::entryName("../../etc/passwd", taken), ".._.._etc_passwd");
    EXPECT_EQ(ZipStream::entryName("C:\\x\ny", taken), "C__x_y");
    EXPECT_EQ(ZipStream::entryName("..", taken), "_..");

    std::string out;
    ZipStream zip([&](const char* data, size_t size) {
        out.append(data, size);
        return true;
    });
    ASSERT_TRUE(zip.begin("a.jpg", 4, 0));
    EXPECT_TRUE(zip.write("abc", 3));
    EXPECT_FALSE(zip.end());  // a byte short: the archive would lie about it
    ASSERT_TRUE(zip.begin("b.jpg", 2, 0));
    EXPECT_FALSE(zip.write("abc", 3));  // more than announced
}
