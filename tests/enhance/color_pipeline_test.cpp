#include "blend_rows.h"
#include "enhance_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

using namespace keepframe;

namespace {

// Largest per-pixel difference of two images.
double maxDiff(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

// A level-only stage (2, 4, 5, 6) on its own.
template <typename Stage>
cv::Mat levelStage(const cv::Mat& image, Stage stage) {
    ChannelTables tables(image);
    stage(tables);
    EnhanceBuffers buffers;
    return tables.applied(buffers);
}

cv::Mat uniform(int b, int g, int r, int w = 200, int h = 150) { return cv::Mat(h, w, CV_8UC3, cv::Scalar(b, g, r)); }

// A skin-toned patch (B 120, G 150, R 200: brightness 156.7, B/R 0.6, G/R 0.75).
cv::Mat withSkin(const cv::Rect& face, cv::Mat img = uniform(60, 60, 60, 400, 300)) {
    img(face).setTo(cv::Scalar(120, 150, 200));
    return img;
}

}  // namespace

TEST(ColourTables, CurvesAndLevels) {
    // Plain piecewise-linear curve, clamped outside its points, truncated entries.
    const auto t = curveTable({{200, 255}, {50, 0}, {100, 60}}, 2.2f);  // unsorted on purpose
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[50], 0);
    EXPECT_EQ(t[75], 30);
    EXPECT_EQ(t[101], 61);  // 60 + 195 * 1/100 = 61.95 -> 61
    EXPECT_EQ(t[200], 255);
    EXPECT_EQ(t[255], 255);

    // The three-point gamma-domain form agrees with the plain form at power 1.
    const auto gamma = curveTable({{0, 0}, {192, 196}, {255, 255}}, 1.0f);
    const auto plain = curveTable({{0, 0}, {192, 196}, {255, 255.0001f}}, 1.0f);  // not the three-point shape
    for (int i = 0; i < 256; ++i) EXPECT_NEAR(gamma[size_t(i)], plain[size_t(i)], 1) << i;
    // ... and with power 2.2 the knee still passes through the identity ends.
    const auto knee = curveTable({{0, 0}, {192, 196}, {255, 255}}, 2.2f);
    EXPECT_EQ(knee[0], 0);
    EXPECT_GE(knee[255], 254);
    EXPECT_GT(knee[150], 150);

    // Levels: black = white takes white as black + 1; gamma above 1 brightens.
    const auto same = levelsTable(100, 100, 1.0f);
    EXPECT_EQ(same[100], 0);
    EXPECT_EQ(same[101], 255);
    const auto bright = levelsTable(0, 255, 1.2f);
    EXPECT_GT(bright[128], 128);
    EXPECT_EQ(levelsTable(3, 255, 1.0f)[3], 0);
    EXPECT_EQ(levelsTable(3, 255, 1.0f)[255], 255);
}

TEST(SkinSamplers, StrictThresholdsAndMasks) {
    EnhanceSettings s;
    const cv::Mat img = withSkin(cv::Rect(100, 100, 100, 50));  // area exactly 5000
    EXPECT_EQ(sampleSkin(img, {cv::Rect(100, 100, 100, 50)}, {}, s).brightness, 0.0);  // area not above 5000
    const cv::Mat big = withSkin(cv::Rect(100, 100, 101, 50));
    const SkinSample found = sampleSkin(big, {cv::Rect(100, 100, 101, 50)}, {}, s);  // no confidence: 1.0
    EXPECT_NEAR(found.red, 200, 1e-9);
    EXPECT_NEAR(found.brightness, (120 + 150 + 200) / 3.0, 1e-9);
    EXPECT_EQ(sampleSkin(big, {cv::Rect(100, 100, 101, 50)}, {0.8f}, s).brightness, 0.0);  // not above 0.8
    EXPECT_GT(sampleSkin(big, {cv::Rect(100, 100, 101, 50)}, {0.81f}, s).brightness, 0.0);

    // Pixels with any channel below 20 are left out of the mean.
    cv::Mat mixed = big.clone();
    mixed(cv::Rect(100, 100, 101, 25)).setTo(cv::Scalar(10, 200, 200));
    const SkinSample m = maskedSkinMean(mixed(cv::Rect(100, 100, 101, 50)));
    EXPECT_NEAR(m.blue, 120, 1e-9);
    EXPECT_EQ(maskedSkinMean(uniform(19, 200, 200)).brightness, 0.0);

    // Stage 1 ignores a face whose box, moved up by 20 % of its height, leaves the frame.
    const cv::Rect top(100, 10, 120, 100);
    const cv::Mat high = withSkin(top);
    EXPECT_EQ(sampleSkinAndDarkPoint(high, {top}, {}, s).skin.brightness, 0.0);
    EXPECT_GT(sampleSkin(high, {top}, {}, s).brightness, 0.0);  // the other stages still use it
    const cv::Rect lower(100, 60, 120, 100);
    EXPECT_GT(sampleSkinAndDarkPoint(withSkin(lower), {lower}, {}, s).skin.brightness, 0.0);
}

TEST(EnhanceStages, FacelessFramesAndFixedPoints) {
    EnhanceSettings s;
    const FaceInput none;
    EnhanceBuffers b;

    // Stage 1 on an image of mean exactly 175: gamma 1, so black level 3 and
    // +3 % saturation only. Levels: 255 (v - 3) / 252 truncated, 150 175 200
    // -> 148 174 199. In HLS that is hue 15, lightness 174, saturation 80;
    // saturation x 1.03 = 82.4 -> 82, and back: 148 174 200.
    EXPECT_EQ(maxDiff(skinColourBalance(uniform(150, 175, 200), none, s, b), uniform(148, 174, 200)), 0);
    // Grey has no saturation to raise: 175 -> 174.
    EXPECT_EQ(maxDiff(skinColourBalance(uniform(175, 175, 175), none, s, b), uniform(174, 174, 174)), 0);
    // Mean 100: 175 / 100 is cut to the gamma cap 1.05; 255 (97 / 252)^(1 / 1.05) = 102.7 -> 102.
    EXPECT_EQ(maxDiff(skinColourBalance(uniform(100, 100, 100), none, s, b), uniform(102, 102, 102)), 0);

    // Stage 6 without faces uses its strongest settings, all with power 1:
    // A  knee 192 -> 196:            v x 196 / 192          90 130 170 -> 91 132 173
    // B  black 10, white 253/254/254: 255 (v - 10) / (w - 10) -> 85 127 170
    // C  knees 196, 195, 194:         v x y / 192           -> 86 128 171
    // D  knee 128 -> 136:             v x 136 / 128 below 128, 136 + 119 (v - 128) / 127 above
    //                                                       -> 91 136 176
    const cv::Mat img = uniform(90, 130, 170);
    EXPECT_EQ(maxDiff(levelStage(img, [&](ChannelTables& t) { secondPassCurves(t, none, s); }), uniform(91, 136, 176)),
              0);
    // Stage 5: unchanged without skin.
    EXPECT_EQ(maxDiff(levelStage(img, [&](ChannelTables& t) { skinExposure(t, none, s); }), img), 0);

    // Stage 7: grey 200 and above gets no lift; darker grey is lifted and stays grey.
    EXPECT_EQ(maxDiff(shadowLift(uniform(200, 200, 200), s, b), uniform(200, 200, 200)), 0);
    const cv::Mat lifted = shadowLift(uniform(100, 100, 100), s, b);
    const cv::Vec3b px = lifted.at<cv::Vec3b>(75, 100);
    EXPECT_GT(px[0], 100);
    EXPECT_EQ(px[0], px[1]);
    EXPECT_EQ(px[1], px[2]);

    // Stage 8: HSV value exactly 210 is outside the highlight mask; 230 is darkened, still grey.
    EXPECT_EQ(maxDiff(highlightRecovery(uniform(210, 210, 210), s, b), uniform(210, 210, 210)), 0);
    const cv::Vec3b dark = highlightRecovery(uniform(230, 230, 230), s, b).at<cv::Vec3b>(75, 100);
    EXPECT_LT(dark[0], 230);
    EXPECT_EQ(dark[0], dark[2]);

    // Stage 9: an image without strong edges comes back as it was, up to conversion rounding.
    cv::Mat soft(150, 200, CV_8UC3);
    for (int x = 0; x < 200; ++x) soft.col(x).setTo(cv::Scalar(60 + x / 2, 80 + x / 3, 100 + x / 4));
    EXPECT_LE(maxDiff(finalSharpening(soft, s, b), soft), 3);
    cv::Mat line = uniform(20, 20, 20);
    line.col(100).setTo(cv::Scalar::all(240));  // a hard one-pixel line: the kind of detail sigma 0.5 sees
    EXPECT_GT(maxDiff(finalSharpening(line, s, b), line), 4);
}

TEST(EnhancePipeline, DriverContract) {
    EXPECT_FALSE(EnhancePipeline::run(cv::Mat(), {}, {}, EnhanceSettings::forLevel(true)).ok);
    const cv::Rect face(120, 90, 140, 140);
    const cv::Mat img = withSkin(face);
    const cv::Mat copy = img.clone();
    for (bool plus : {false, true}) {
        const EnhanceResult r = EnhancePipeline::run(img, {face}, {0.95f}, EnhanceSettings::forLevel(plus));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.image.size(), img.size());
        EXPECT_EQ(r.image.type(), CV_8UC3);
        EXPECT_EQ(maxDiff(img, copy), 0) << "the input must not change";
    }
    EXPECT_EQ(EnhanceSettings::forLevel(false).stageEnabled, (std::array<bool, 9>{1, 1, 1, 1, 0, 0, 0, 0, 0}));
    // All stages off: the image passes through.
    EnhanceSettings off;
    off.stageEnabled.fill(false);
    EXPECT_EQ(maxDiff(EnhancePipeline::run(img, {}, {}, off).image, img), 0);
}

// Stage 8 leaves out the blur and the blend wherever no highlight lies within
// the blur's reach. These tests hold it to the stage worked out over the whole
// frame, the way it was first written, on frames whose highlights sit where
// the shortcuts could go wrong: at the edges of the column blocks and of the
// frame, in frames narrower than a block or than the kernel, with kernels that
// reach past the next block, and with the input outside the working images
// (the kept blocks are copied) as well as inside them (worked over in place).
namespace {

// The stage as first written: the whole mask, one blur of it, one blend.
cv::Mat wholeFrameHighlightRecovery(const cv::Mat& image, const EnhanceSettings& s) {
    cv::Mat value(image.size(), CV_8U);
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
            value.at<uchar>(y, x) = std::max({p[0], p[1], p[2]});
        }
    cv::compare(value, s.highlightThreshold, value, cv::CMP_GT);
    cv::Mat mask, blurred;
    value.convertTo(mask, CV_32F, 1.0 / 255.0);
    const int side = std::max(2 * s.highlightBlurRadius + 1, 3);
    cv::GaussianBlur(mask, blurred, cv::Size(side, side), s.highlightBlurRadius, 0, cv::BORDER_REFLECT_101);
    const std::vector<uchar> dark = levelsTable(s.highlightBlack, s.highlightWhite, s.highlightGamma);
    cv::Mat out(image.size(), CV_8UC3);
    for (int y = 0; y < image.rows; ++y)
        darkenBlendRow(image.ptr<uchar>(y), blurred.ptr<float>(y), dark.data(), out.ptr<uchar>(y), image.cols);
    return out;
}

// A light frame with grain, just below the highlight threshold (where the
// darkening shows most), with highlight boxes at the given places.
cv::Mat frameWithHighlights(int width, int height, const std::vector<cv::Rect>& boxes) {
    cv::Mat img(height, width, CV_8UC3);
    cv::randu(img, cv::Scalar::all(170), cv::Scalar::all(210));
    for (const cv::Rect& box : boxes) img(box & cv::Rect(0, 0, width, height)).setTo(cv::Scalar(235, 240, 250));
    return img;
}

}  // namespace

TEST(HighlightRecovery, SkippedBlocksGiveTheWholeFrameResult) {
    cv::setRNGSeed(11);
    struct Frame {
        std::string name;
        cv::Mat image;
    };
    const std::vector<Frame> frames = {
        // Highlights that end just inside a block (blocks are 128 columns
        // wide) or a strip of rows (256 rows), and at the frame's corners.
        {"block edges", frameWithHighlights(1037, 700, {{87, 20, 40, 40}, {258, 100, 40, 40}, {400, 214, 40, 40},
                                                        {600, 258, 40, 40}, {0, 0, 10, 10}, {1027, 690, 10, 10}})},
        {"narrower than a block", frameWithHighlights(100, 90, {{50, 45, 4, 4}})},
        {"narrower than the kernel", frameWithHighlights(13, 7, {{3, 3, 2, 2}})},
        {"no highlight", frameWithHighlights(300, 260, {})},
        // Highlights everywhere: every block takes the blur.
        {"all highlight", cv::Mat(140, 333, CV_8UC3, cv::Scalar(220, 240, 250))},
    };
    for (const Frame& f : frames) {
        for (int radius : {0, 1, 20, 70}) {  // 70 reaches past the next block of columns
            for (float threshold : {210.0f, 209.5f}) {
                EnhanceSettings s = EnhanceSettings::forLevel(true);
                s.highlightBlurRadius = radius;
                s.highlightThreshold = threshold;
                const cv::Mat expected = wholeFrameHighlightRecovery(f.image, s);
                const std::string what = f.name + ", radius " + std::to_string(radius) + ", threshold " +
                                         std::to_string(threshold);
                EnhanceBuffers buffers;
                // The input outside the working images: it stays as it was.
                const cv::Mat before = f.image.clone();
                EXPECT_EQ(cv::norm(highlightRecovery(f.image, s, buffers), expected, cv::NORM_INF), 0) << what;
                EXPECT_EQ(cv::norm(f.image, before, cv::NORM_INF), 0) << what;
                // Inside them: worked over in place, as the pipeline runs it.
                f.image.copyTo(buffers.images[1]);
                const cv::Mat inPlace = highlightRecovery(buffers.images[1], s, buffers);
                EXPECT_EQ(inPlace.data, buffers.images[1].data) << what;
                EXPECT_EQ(cv::norm(inPlace, expected, cv::NORM_INF), 0) << what;
            }
        }
    }
}

// The row mask of the highlights, vector steps and the pixels past them alike.
TEST(HighlightRecovery, RowMaskMarksEveryLevelFromTheCut) {
    cv::setRNGSeed(5);
    for (int pixels : {1, 15, 16, 17, 33, 100}) {
        cv::Mat row(1, pixels, CV_8UC3);
        cv::randu(row, cv::Scalar::all(0), cv::Scalar::all(256));
        row.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 255);
        for (int cut : {0, 1, 128, 211, 255, 256}) {
            std::vector<uchar> hot(size_t(pixels), 7);
            std::vector<float> mask(size_t(pixels), 7.0f);
            highlightRow(row.ptr<uchar>(), cut, hot.data(), mask.data(), pixels);
            for (int x = 0; x < pixels; ++x) {
                const cv::Vec3b p = row.at<cv::Vec3b>(0, x);
                const bool expected = std::max({p[0], p[1], p[2]}) >= cut;
                EXPECT_EQ(hot[size_t(x)], expected ? 1 : 0) << pixels << " pixels, cut " << cut << ", x " << x;
                EXPECT_EQ(mask[size_t(x)], expected ? 1.0f : 0.0f) << pixels << " pixels, cut " << cut << ", x " << x;
            }
        }
    }
}

// Stage 9's row sharpening works sixteen pixels at a time and leaves alone a
// run of sixteen whose differences from the blur all stay within the
// threshold. Whole rows must give what each pixel gives on its own, in runs
// that are flat, flat but for one pixel at or just past the threshold, and
// sharp throughout, and in the pixels past the last run.
TEST(SharpeningRows, RunsGiveWhatEachPixelGivesAlone) {
    cv::setRNGSeed(3);
    const SharpenParameters p{20.0f, 0.3f};
    constexpr int kPixels = 16 * 6 + 7;
    std::vector<float> lightness(kPixels), blur(kPixels);
    for (int x = 0; x < kPixels; ++x) {
        lightness[size_t(x)] = float(cv::theRNG().uniform(0, 256));
        blur[size_t(x)] = lightness[size_t(x)] + float(cv::theRNG().uniform(-19.0, 19.0));  // within the threshold
    }
    blur[20] = lightness[20] + 20.0f;  // at the threshold: dropped
    lightness[40] = 100.0f;
    blur[40] = 75.0f;  // past it, in a run otherwise flat: kept
    for (int x = 64; x < 80; ++x) blur[size_t(x)] = lightness[size_t(x)] + (x % 2 ? 60.0f : -45.0f);
    lightness[90] = 255.0f;
    blur[90] = 100.0f;  // sharpened past 255: clamped
    lightness[100] = 120.0f;
    blur[100] = 50.0f;  // in the pixels past the last run
    cv::Mat lab(1, kPixels, CV_8UC3);
    cv::randu(lab, cv::Scalar::all(0), cv::Scalar::all(256));
    for (int x = 0; x < kPixels; ++x) lab.at<cv::Vec3b>(0, x)[0] = uchar(lightness[size_t(x)]);  // it holds L

    cv::Mat row = lab.clone(), alone = lab.clone();
    sharpenLightnessRow(lightness.data(), blur.data(), p, row.ptr<uchar>(), kPixels);
    for (int x = 0; x < kPixels; ++x)
        sharpenLightnessRow(&lightness[size_t(x)], &blur[size_t(x)], p, alone.ptr<uchar>() + 3 * x, 1);
    for (int x = 0; x < kPixels; ++x) EXPECT_EQ(row.at<cv::Vec3b>(0, x), alone.at<cv::Vec3b>(0, x)) << x;
    // The cases do what they are there for.
    EXPECT_EQ(row.at<cv::Vec3b>(0, 20), lab.at<cv::Vec3b>(0, 20));
    EXPECT_NE(row.at<cv::Vec3b>(0, 40)[0], lab.at<cv::Vec3b>(0, 40)[0]);
    EXPECT_NE(row.at<cv::Vec3b>(0, 100)[0], lab.at<cv::Vec3b>(0, 100)[0]);
    EXPECT_EQ(row.at<cv::Vec3b>(0, 90)[0], 255);
}

// Stage 7 keeps sixteen pixels in a row as they are when none of them is
// lifted: that must be what the blend gives them, for every level, in the
// vector steps and in the pixels past them.
TEST(ShadowLiftRows, UnliftedPixelsKeepEveryLevel) {
    constexpr int kPixels = 256 + 5;  // every level in each channel, and a few past the last step
    cv::Mat row(1, kPixels, CV_8UC3);
    for (int x = 0; x < kPixels; ++x) row.at<cv::Vec3b>(0, x) = cv::Vec3b(uchar(x), uchar(255 - x % 256), uchar(x * 7));
    const std::vector<float> none(kPixels, 0.0f);
    for (float amount : {0.05f, 0.0f}) {
        cv::Mat out(1, kPixels, CV_8UC3, cv::Scalar::all(1));
        screenBlendRow(row.ptr<uchar>(), none.data(), amount, out.ptr<uchar>(), kPixels);
        EXPECT_EQ(cv::norm(out, row, cv::NORM_INF), 0) << amount;
    }
    // A weight in one pixel of a run lifts that pixel alone.
    std::vector<float> one(kPixels, 0.0f);
    one[37] = 1.0f;
    cv::Mat lifted(1, kPixels, CV_8UC3);
    screenBlendRow(row.ptr<uchar>(), one.data(), 0.05f, lifted.ptr<uchar>(), kPixels);
    for (int x = 32; x < 48; ++x) {
        if (x == 37)
            EXPECT_GT(lifted.at<cv::Vec3b>(0, x)[0], row.at<cv::Vec3b>(0, x)[0]);
        else
            EXPECT_EQ(lifted.at<cv::Vec3b>(0, x), row.at<cv::Vec3b>(0, x)) << x;
    }
}
