// Decoding part of a frame gives exactly the pixels of the whole decode there,
// on camera-like JPEGs (grain, every chroma sampling, restart markers, odd
// sizes, every EXIF orientation, CMYK); frames decoded into reused memory and files
// read into a reused buffer come out as when nothing is reused.
#include "exif_writer.h"
#include "fault_files.h"
#include "image_decode.h"
#include "jpeg_encoder.h"
#include "paths.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <opencv2/imgproc.hpp>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// A lit scene with edges and sensor grain, as cameras deliver it.
cv::Mat cameraLike(int width, int height, uint64_t seed) {
    cv::Mat image(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(40 + 150 * x / width), uchar(60 + 120 * y / height),
                                                  uchar((x / 23 + y / 17) % 2 ? 200 : 70));
    cv::circle(image, {width / 3, height / 2}, std::min(width, height) / 4, cv::Scalar(30, 200, 240), cv::FILLED);
    cv::Mat grain(image.size(), CV_16SC3);
    cv::RNG(seed).fill(grain, cv::RNG::NORMAL, 0, 7);
    cv::add(image, grain, image, cv::noArray(), CV_8UC3);
    return image;
}

std::vector<uint8_t> withOrientation(const std::vector<uint8_t>& jpeg, int orientation) {
    shootgen::ExifFields exif;
    exif.orientation = orientation;
    return shootgen::insertSegment(jpeg, shootgen::makeExifApp1(exif, orientation % 2 == 0));
}

// Areas of the upright frame: inside, at each edge and corner, one pixel,
// the whole frame, and reaching out of it.
std::vector<cv::Rect> areasOf(cv::Size frame) {
    const int w = frame.width, h = frame.height;
    return {{w / 3, h / 4, w / 5, h / 6},     {0, 0, w / 4 + 1, h / 3 + 3},     {w - 13, h - 9, 13, 9},
            {w / 2, 0, 7, h},                 {0, h / 2, w, 5},                 {w / 2 + 3, h / 2 + 1, 1, 1},
            {0, 0, w, h},                     {w - 20, h - 30, 50, 60},         {-10, h / 3, 40, 17}};
}

// Compares decodeRegion with the cut of decodeImage for every area.
void expectSameAsWholeDecode(const std::vector<uint8_t>& bytes, int reduction, const std::string& what) {
    const DecodedImage whole = decodeImage(bytes, reduction);
    ASSERT_FALSE(whole.image.empty()) << what;
    for (const cv::Rect& area : areasOf(whole.image.size())) {
        const FrameRegion region = decodeRegion(bytes, reduction, [&](cv::Size frame) {
            EXPECT_EQ(frame, whole.image.size());
            return area;
        });
        const cv::Rect inside = area & cv::Rect(cv::Point(0, 0), whole.image.size());
        ASSERT_EQ(region.frameSize, whole.image.size()) << what;
        ASSERT_EQ(region.area, inside) << what << " " << area;
        ASSERT_EQ(region.pixels.size(), inside.size()) << what << " " << area;
        EXPECT_EQ(cv::norm(region.pixels, whole.image(inside), cv::NORM_INF), 0) << what << " " << area;
    }
}

}  // namespace

namespace {

std::vector<uint8_t> jpegOf(const cv::Mat& image, const JpegOptions& options) {
    std::vector<uint8_t> jpeg;
    EXPECT_TRUE(encodeJpeg(image, options, jpeg));
    return jpeg;
}

}  // namespace

TEST(RegionDecode, SamePixelsAsTheWholeDecodeOnCameraLikeJpegs) {
    const cv::Mat big = cameraLike(1001, 667, 3), small = cameraLike(97, 61, 4);
    struct Sampling {
        const char* name;
        bool full, half;
    };
    for (const Sampling sampling : {Sampling{"4:2:0", false, false}, {"4:2:2", false, true}, {"4:4:4", true, false}})
        for (int restartRows : {0, 3}) {
            const JpegOptions options{92, sampling.full, false, false, sampling.half, restartRows};
            for (const cv::Mat* image : {&big, &small}) {
                const std::vector<uint8_t> jpeg = jpegOf(*image, options);
                const uint8_t restartInterval[] = {0xFF, 0xDD};  // the DRI marker
                ASSERT_EQ(std::search(jpeg.begin(), jpeg.end(), restartInterval, restartInterval + 2) != jpeg.end(),
                          restartRows > 0);
                for (int orientation = 1; orientation <= 8; ++orientation)
                    for (int reduction : {1, 2, 4}) {
                        if (image == &big && reduction == 1) continue;  // the small frame covers it
                        expectSameAsWholeDecode(withOrientation(jpeg, orientation), reduction,
                                                std::string(sampling.name) + " restart " +
                                                    std::to_string(restartRows) + " " +
                                                    std::to_string(image->cols) + " orientation " +
                                                    std::to_string(orientation) + " 1/" + std::to_string(reduction));
                    }
            }
        }
}

TEST(RegionDecode, ProgressiveGreyDamagedAndOtherFormats) {
    const cv::Mat image = cameraLike(333, 517, 8);
    const std::vector<uint8_t> progressive = jpegOf(image, {90, false, false, true, false, 0});
    expectSameAsWholeDecode(withOrientation(progressive, 6), 2, "progressive");
    cv::Mat grey;
    cv::extractChannel(image, grey, 0);
    expectSameAsWholeDecode(withOrientation(encoded(grey, ".jpg"), 8), 2, "grey");
    // Cut off: the rows past the end are the decoder's grey in both.
    expectSameAsWholeDecode(truncated(jpegOf(image, {}), 0.5), 2, "truncated");
    expectSameAsWholeDecode(encoded(image, ".png"), 2, "png");
    // Four components: decoded as CMYK, row by row, in the band alike.
    for (int orientation : {1, 6})
        for (const bool ycck : {false, true}) {
            const std::string what = (ycck ? "ycck orientation " : "cmyk orientation ") + std::to_string(orientation);
            expectSameAsWholeDecode(withOrientation(cmykJpeg(image, ycck), orientation), 2, what);
        }

    // Nothing decodable: no frame, no pixels.
    const auto tenByTen = [](cv::Size) { return cv::Rect(0, 0, 10, 10); };
    const FrameRegion none = decodeRegion(garbage(5000), 2, tenByTen);
    EXPECT_TRUE(none.frameSize.empty());
    EXPECT_TRUE(none.pixels.empty());
    // An area outside the frame: the frame's size, and no pixels.
    const FrameRegion outside =
        decodeRegion(jpegOf(image, {}), 2, [](cv::Size) { return cv::Rect(1000, 1000, 10, 10); });
    EXPECT_EQ(outside.frameSize, cv::Size(167, 259));
    EXPECT_TRUE(outside.pixels.empty());
}

TEST(ReusedMemory, FramesAndFilesComeOutAsWhenNothingIsReused) {
    // Frame after frame into one buffer: the same pixels as a fresh decode,
    // in the buffer's own memory while the size stays.
    const std::vector<uint8_t> first = jpegOf(cameraLike(640, 480, 1), {});
    const std::vector<uint8_t> second = jpegOf(cameraLike(640, 480, 2), {});
    const std::vector<uint8_t> turned = withOrientation(jpegOf(cameraLike(480, 640, 3), {}), 6);
    cv::Mat buffer;
    const cv::Mat a = decodeImage(first, 4, &buffer).image.clone();
    const uchar* memory = buffer.data;
    EXPECT_EQ(cv::norm(a, decodeImage(first, 4).image, cv::NORM_INF), 0);
    const DecodedImage b = decodeImage(second, 4, &buffer);
    EXPECT_EQ(buffer.data, memory);
    EXPECT_EQ(cv::norm(b.image, decodeImage(second, 4).image, cv::NORM_INF), 0);
    const DecodedImage c = decodeImage(turned, 4, &buffer);
    EXPECT_EQ(c.image.size(), cv::Size(160, 120));
    EXPECT_EQ(cv::norm(c.image, decodeImage(turned, 4).image, cv::NORM_INF), 0);

    // Files larger and smaller than the buffer, then one that cannot be read.
    TempDir dir;
    const std::vector<uint8_t> large = garbage(300000, 1), little = garbage(1000, 2);
    writeFile(dir.file("large.bin"), large);
    writeFile(dir.file("little.bin"), little);
    writeFile(dir.file("empty.bin"), {});
    FileBuffer file;
    for (const auto* expected : {&little, &large, &little}) {
        ASSERT_TRUE(file.read(dir.file(expected == &large ? "large.bin" : "little.bin")));
        EXPECT_TRUE(std::equal(file.bytes().begin(), file.bytes().end(), expected->begin(), expected->end()));
    }
    EXPECT_TRUE(file.read(dir.file("empty.bin")));
    EXPECT_TRUE(file.bytes().empty());
    ASSERT_TRUE(file.read(dir.file("little.bin")));
    EXPECT_FALSE(file.read(dir.file("missing.bin")));
    EXPECT_TRUE(file.bytes().empty());
    EXPECT_FALSE(file.read(dir.str()));  // a folder is never opened
}
