#include "phash.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace keepframe;

namespace {
cv::Mat texturedScene(unsigned seed) {
    cv::Mat img(400, 600, CV_8UC3, cv::Scalar(90, 120, 150));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> x(0, 599), y(0, 399), r(10, 80), c(0, 255);
    for (int i = 0; i < 30; ++i)
        cv::circle(img, {x(rng), y(rng)}, r(rng), cv::Scalar(c(rng), c(rng), c(rng)), cv::FILLED);
    return img;
}
}  // namespace

TEST(Phash, BlackImageHashesToZero) {
    EXPECT_EQ(computePhash(cv::Mat(300, 400, CV_8UC3, cv::Scalar::all(0))), 0u);
    EXPECT_EQ(computePhash(cv::Mat()), 0u);
}

TEST(Phash, StableUnderJpegReencodingAndDistinctForOtherScenes) {
    const cv::Mat scene = texturedScene(1);
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", scene, jpeg, {cv::IMWRITE_JPEG_QUALITY, 70});
    const cv::Mat reencoded = cv::imdecode(jpeg, cv::IMREAD_COLOR);
    const uint64_t a = computePhash(scene), b = computePhash(reencoded);
    EXPECT_NE(a, 0u);
    EXPECT_LE(phashDistance(a, b), 4);
    EXPECT_GT(phashDistance(a, computePhash(texturedScene(2))), 15);
}

TEST(Phash, UniformGreyImageSetsOnlyTheDcBit) {
    // All AC coefficients are 0, the mean without DC is 0 and the DC term is
    // positive: only bit 0 is set.
    EXPECT_EQ(computePhash(cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(128))), 1u);
}

TEST(Phash, Distance) {
    EXPECT_EQ(phashDistance(0, 0), 0);
    EXPECT_EQ(phashDistance(0xFFFFFFFFFFFFFFFFull, 0), 64);
    EXPECT_EQ(phashDistance(0b1011, 0b0001), 2);
}

TEST(DscFileNumber, Parsing) {
    EXPECT_EQ(dscFileNumber("DSC_0042.jpg"), 42);
    EXPECT_EQ(dscFileNumber("dsc_0042.jpg"), 0);  // case-sensitive
    EXPECT_EQ(dscFileNumber("IMG_0042.jpg"), 0);
    EXPECT_EQ(dscFileNumber("day2/DSC_12_DSC_7.jpg"), 12);  // first match, sub-folders included
    EXPECT_EQ(dscFileNumber("DSC_x/DSC_5.jpg"), 5);          // "DSC_" without digits is no match
    EXPECT_EQ(dscFileNumber("DSC_"), 0);
    EXPECT_EQ(dscFileNumber(""), 0);
    // Digits beyond int32 never fail; they saturate.
    EXPECT_EQ(dscFileNumber("DSC_99999999999999999999999.jpg"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(dscFileNumber("DSC_2147483647.jpg"), 2147483647);
    EXPECT_EQ(dscFileNumber("DSC_2147483648.jpg"), std::numeric_limits<int32_t>::max());
}
