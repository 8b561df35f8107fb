// Face inference through the real ONNX Runtime path, with the project's test
// models steered by painted pixels.
#include "faces.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include <opencv2/imgproc.hpp>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

struct Models {
    OnnxModel detector = loadDetector(testModelConfig().detectorModelPath, 640);
    OnnxModel recognizer = loadRecognizer(testModelConfig().recognizerModelPath);
    OnnxModel expression = loadExpressionModel(testModelConfig().expressionModelPath);
    OnnxModel eye = loadEyeModel(testModelConfig().eyeModelPath);
};

Models& models() {
    static Models m;
    return m;
}

cv::Mat black(int w = 640, int h = 640) { return cv::Mat(h, w, CV_8UC3, cv::Scalar::all(0)); }

cv::Mat texture(unsigned seed, int w = 112, int h = 112) {
    cv::Mat img(h, w, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(img, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(img, img, cv::Size(0, 0), 6);
    cv::normalize(img, img, 0, 255, cv::NORM_MINMAX);
    return img;
}

}  // namespace

TEST(DetectFaces, DecodesBoxesAndLandmarksAtEveryStride) {
    cv::Mat img = black();
    PaintedAnchor a8{8, 10, 12, 0.75f, {1, 2, 3, 4}, {-1, -0.5f, 1, -0.5f, 0, 0.25f, -0.75f, 1, 0.75f, 1}};
    PaintedAnchor a16{16, 30, 5, 0.875f, {2, 2, 2, 2}, {-2, -1, 2, -1, 0, 0, -1, 1, 1, 1}};
    PaintedAnchor a32{
        32, 3, 15, 0.625f, {1.5f, 1, 1, 1.5f}, {-0.5f, -0.25f, 0.5f, -0.25f, 0, 0, -0.25f, 0.5f, 0.25f, 0.5f}};
    for (const auto& a : {a8, a16, a32}) paintAnchor(img, a);

    const auto faces = detectFaces(models().detector, img, 0.5f);
    ASSERT_EQ(faces.size(), 3u);
    // Highest score first.
    EXPECT_FLOAT_EQ(faces[0][4], 0.875f);
    EXPECT_FLOAT_EQ(faces[1][4], 0.75f);
    EXPECT_FLOAT_EQ(faces[2][4], 0.625f);
    for (const auto& [face, a] : {std::pair{faces[0], a16}, std::pair{faces[1], a8}, std::pair{faces[2], a32}}) {
        const float cx = float(a.col * a.stride), cy = float(a.row * a.stride), s = float(a.stride);
        EXPECT_FLOAT_EQ(face[0], cx - a.distances[0] * s);
        EXPECT_FLOAT_EQ(face[1], cy - a.distances[1] * s);
        EXPECT_FLOAT_EQ(face[2], cx + a.distances[2] * s);
        EXPECT_FLOAT_EQ(face[3], cy + a.distances[3] * s);
        for (int j = 0; j < 5; ++j) {
            EXPECT_FLOAT_EQ(face[5 + 2 * j], cx + a.offsets[size_t(2 * j)] * s) << "stride " << a.stride;
            EXPECT_FLOAT_EQ(face[6 + 2 * j], cy + a.offsets[size_t(2 * j + 1)] * s) << "stride " << a.stride;
        }
    }
}

TEST(DetectFaces, ThresholdIsInclusive) {
    cv::Mat img = black();
    paintAnchor(img, {8, 20, 20, 0.5f, {2, 2, 2, 2}, {}});
    EXPECT_EQ(detectFaces(models().detector, img, 0.5f).size(), 1u);
    EXPECT_EQ(detectFaces(models().detector, img, 0.5f + 1e-6f).size(), 0u);
    EXPECT_TRUE(detectFaces(models().detector, black(), 0.3f).empty());
    EXPECT_TRUE(detectFaces(models().detector, cv::Mat(), 0.3f).empty());
}

TEST(DetectFaces, LetterboxCoordinatesAreDividedBackByTheScale) {
    // 1000 x 500 is scaled by 0.64 to 640 x 320 and padded below. A uniform
    // block at [125, 250) maps to exactly [80, 160) of the detector's input, so
    // its first stride-8 cell is (row 10, col 10) with all values 160.
    cv::Mat img = black(1000, 500);
    img(cv::Rect(125, 125, 125, 125)).setTo(cv::Scalar(160, 0, 0));
    const auto faces = detectFaces(models().detector, img, 0.5f);
    ASSERT_FALSE(faces.empty());
    const auto& f = faces[0];
    EXPECT_FLOAT_EQ(f[4], 160.0f / 256);
    // Distances 10 stride units = 80 px around (80, 80) in the 640 frame.
    EXPECT_NEAR(f[0], 0.0f, 1e-3);
    EXPECT_NEAR(f[1], 0.0f, 1e-3);
    EXPECT_NEAR(f[2], 160 / 0.64f, 1e-3);
    EXPECT_NEAR(f[3], 160 / 0.64f, 1e-3);
    // Landmark offsets (160 - 128) / 16 = 2 stride units.
    EXPECT_NEAR(f[5], 96 / 0.64f, 1e-3);
    EXPECT_NEAR(f[6], 96 / 0.64f, 1e-3);
}

TEST(DetectFaces, NonMaximumSuppressionKeepsIouOfExactlyPointFour) {
    // A is 32 x 40 (stride 8); B, 32 x 16 and inside A, has IoU 512 / 1280 = 0.4.
    cv::Mat img = black();
    paintAnchor(img, {8, 20, 20, 0.75f, {2, 2.5f, 2, 2.5f}, {}});  // (144,140)-(176,180): 32 x 40
    paintAnchor(img, {8, 20, 30, 0.625f, {2, 1, 2, 1}, {}});       // far away: kept
    cv::Mat img2 = img.clone();
    // B: centre (160, 160), 32 x 16 -> (144,152)-(176,168), fully inside A:
    // IoU = 512 / 1280 = 0.4 exactly, so both are kept.
    PaintedAnchor inside{16, 10, 10, 0.5625f, {1, 0.5f, 1, 0.5f}, {}};
    paintAnchor(img2, inside);
    const auto kept = detectFaces(models().detector, img2, 0.5f);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_FLOAT_EQ(boxIou(kept[0], kept[2]), 0.4f);

    // A slightly taller B (IoU above 0.4) is suppressed.
    inside.distances = {1, 0.5625f, 1, 0.5625f};  // 32 x 18: IoU 0.45
    cv::Mat img3 = img.clone();
    paintAnchor(img3, inside);
    EXPECT_EQ(detectFaces(models().detector, img3, 0.5f).size(), 2u);
}

TEST(BoxIou, Geometry) {
    FaceCandidate a{}, b{};
    a[0] = 0, a[1] = 0, a[2] = 10, a[3] = 10;
    b[0] = 10, b[1] = 0, b[2] = 20, b[3] = 10;  // touching: no overlap
    EXPECT_FLOAT_EQ(boxIou(a, b), 0.0f);
    b[0] = 5;
    b[2] = 15;
    EXPECT_FLOAT_EQ(boxIou(a, b), 50.0f / 150.0f);
    FaceCandidate empty{};
    EXPECT_FLOAT_EQ(boxIou(empty, empty), 0.0f);  // union not positive
}

TEST(AlignFace, RefusesUnusableLandmarksAndAlignsGoodOnes) {
    const cv::Mat img = texture(3, 400, 300);
    Landmarks good = {150, 120, 210, 120, 180, 150, 155, 180, 205, 180};
    const cv::Mat aligned = alignFace(img, good);
    ASSERT_FALSE(aligned.empty());
    EXPECT_EQ(aligned.size(), cv::Size(112, 112));
    EXPECT_EQ(aligned.type(), CV_8UC3);

    Landmarks close = good;
    close[2] = close[0] + 4;  // eyes 4 px apart
    close[3] = close[1];
    EXPECT_TRUE(alignFace(img, close).empty());
    Landmarks far = good;
    far[2] = far[0] + 0.8f * 300 + 1;  // wider than 0.8 x min(W, H)
    EXPECT_TRUE(alignFace(img, far).empty());
    Landmarks outside = good;
    outside[9] = 2 * 300 + 1;  // beyond 2H
    EXPECT_TRUE(alignFace(img, outside).empty());
    Landmarks nan = good;
    nan[4] = std::nanf("");
    EXPECT_TRUE(alignFace(img, nan).empty());
}

TEST(EmbedFace, UnitLengthMatchesEqualCropsAndFallsBackToTheBox) {
    auto& m = models();
    const cv::Mat a = texture(11, 300, 300), b = texture(12, 300, 300);
    Landmarks lm = {110, 120, 190, 120, 150, 160, 115, 200, 185, 200};
    const auto ea = embedFace(m.recognizer, a, lm, 60, 60, 240, 240);
    const auto ea2 = embedFace(m.recognizer, a.clone(), lm, 60, 60, 240, 240);
    const auto eb = embedFace(m.recognizer, b, lm, 60, 60, 240, 240);
    ASSERT_EQ(ea.size(), 512u);
    double norm = 0, same = 0, other = 0;
    for (size_t i = 0; i < 512; ++i) {
        norm += double(ea[i]) * ea[i];
        same += double(ea[i]) * ea2[i];
        other += double(ea[i]) * eb[i];
    }
    EXPECT_NEAR(norm, 1.0, 1e-5);
    EXPECT_NEAR(same, 1.0, 1e-5);
    EXPECT_LT(other, 0.5);

    // Eyes 4 px apart cannot be aligned: the embedding is that of the box crop
    // resized to 112 x 112.
    Landmarks close = lm;
    close[2] = close[0] + 4;
    close[3] = close[1];
    const auto fromBox = embedFace(m.recognizer, a, close, 60, 60, 240, 240);
    cv::Mat crop;
    cv::resize(a(cv::Rect(60, 60, 180, 180)), crop, cv::Size(112, 112), 0, 0, cv::INTER_LINEAR);
    Landmarks onCrop = {38.2946f, 51.6963f, 73.5318f, 51.5014f, 56.0252f,
                        71.7366f, 41.5493f, 92.3655f, 70.7299f, 92.2041f};
    const auto direct = embedFace(m.recognizer, crop, onCrop, 0, 0, 112, 112);  // aligns to itself
    ASSERT_EQ(fromBox.size(), 512u);
    double sim = 0;
    for (size_t i = 0; i < 512; ++i) sim += double(fromBox[i]) * direct[i];
    EXPECT_GT(sim, 0.98);

    // A box outside the image, or too small a face, gives no embedding.
    EXPECT_TRUE(embedFace(m.recognizer, a, close, 400, 400, 500, 500).empty());
    // A tiny box is resized to 112 x 112 before the size check, so it still embeds.
    EXPECT_EQ(embedFace(m.recognizer, a, close, 0, 0, 8, 8).size(), 512u);
}

TEST(ExpressionScore, SoftmaxWeightsAndSmallCrops) {
    auto& m = models();
    // Grey mean 128: logits [0, 0, -100...]: p0 = p1 = 0.5 -> 0.75 * 0.5 + 0.5.
    EXPECT_NEAR(expressionScore(m.expression, cv::Mat(40, 40, CV_8UC3, cv::Scalar::all(128))), 0.875, 1e-5);
    EXPECT_NEAR(expressionScore(m.expression, cv::Mat(40, 40, CV_8UC3, cv::Scalar::all(255))), 1.0, 1e-3);
    EXPECT_NEAR(expressionScore(m.expression, cv::Mat(40, 40, CV_8UC3, cv::Scalar::all(0))), 0.75, 1e-3);
    EXPECT_FLOAT_EQ(expressionScore(m.expression, cv::Mat(9, 40, CV_8UC3, cv::Scalar::all(255))), 0.75f);
    EXPECT_FLOAT_EQ(expressionScore(m.expression, cv::Mat()), 0.75f);
}

TEST(EyeOpenScore, SquareWindowsOfTheHalfSizeFrame) {
    // Side 0.7 x the eye distance, centred on the eye, clamped to the frame.
    EXPECT_EQ(eyeStateWindow(100, 200, 200, 400, 400), cv::Rect(30, 130, 140, 140));
    EXPECT_EQ(eyeStateWindow(5, 200, 200, 400, 400), cv::Rect(0, 130, 75, 140));
    EXPECT_EQ(eyeStateWindow(390, 395, 20, 400, 400), cv::Rect(383, 388, 14, 12));
    // The size floor of the sharpness window: 9 px wide or 7 px tall is not an eye.
    EXPECT_TRUE(eyeStateWindow(100, 100, 12, 400, 400).empty());   // 8 x 8
    EXPECT_FALSE(eyeStateWindow(100, 100, 15, 400, 400).empty());  // 10 x 10
    EXPECT_TRUE(eyeStateWindow(100, 410, 40, 400, 400).empty());   // 28 x 4
    EXPECT_TRUE(eyeStateWindow(100, 100, 0, 400, 400).empty());
    EXPECT_TRUE(eyeStateWindow(100, 100, std::nanf(""), 400, 400).empty());

    auto& m = models();
    // Quarter-size landmarks (50, 100) and (150, 100) are the half-size eyes
    // (100, 200) and (300, 200), 200 px apart: windows 140 px square.
    const Landmarks lm = {50, 100, 150, 100, 100, 120, 60, 150, 140, 150};
    cv::Mat half = black(400, 400);
    half(cv::Rect(30, 130, 140, 140)).setTo(cv::Scalar::all(255));
    half(cv::Rect(230, 130, 140, 140)).setTo(cv::Scalar::all(255));
    EXPECT_NEAR(eyeOpenScore(m.eye, half, lm), 1.0, 0.02);  // both windows fully open
    half(cv::Rect(230, 130, 140, 140)).setTo(cv::Scalar::all(0));
    EXPECT_NEAR(eyeOpenScore(m.eye, half, lm), 0.0, 0.02);  // the closed eye decides

    // A small face: windows enlarged to the model's 32 x 32 still judge the eye.
    cv::Mat small = black(200, 200);
    const Landmarks near = {45, 50, 55, 50, 50, 55, 46, 60, 54, 60};  // half-size eyes 20 px apart
    small(cv::Rect(83, 93, 14, 14)).setTo(cv::Scalar::all(255));
    small(cv::Rect(103, 93, 14, 14)).setTo(cv::Scalar::all(255));
    EXPECT_NEAR(eyeOpenScore(m.eye, small, near), 1.0, 0.02);

    // Neutral cases count the eyes as open: no usable window, no frame or no
    // model gives 1.0.
    Landmarks outside = lm;
    outside[0] = 900;
    outside[2] = 1000;
    EXPECT_FLOAT_EQ(eyeOpenScore(m.eye, half, outside), 1.0f);
    EXPECT_FLOAT_EQ(eyeOpenScore(m.eye, cv::Mat(), lm), 1.0f);
    const OnnxModel missing = loadEyeModel(testModelsDir() + "no-such-eye.onnx");
    EXPECT_FALSE(missing.loaded);
    EXPECT_FLOAT_EQ(eyeOpenScore(missing, half, lm), 1.0f);
}

TEST(EyeSharpness, KeepsTheFixedWindowOfTheQuarterSizeFrame) {
    // Windows 9 px wide or 7 px tall are not used.
    EXPECT_TRUE(eyeWindow(-16, 100, 200, 200).empty());   // x 0..9
    EXPECT_FALSE(eyeWindow(-15, 100, 200, 200).empty());  // x 0..10
    EXPECT_TRUE(eyeWindow(100, -10, 200, 200).empty());   // y 0..7
    EXPECT_FALSE(eyeWindow(100, -9, 200, 200).empty());   // y 0..8
    EXPECT_EQ(eyeWindow(100.9f, 100, 200, 200), cv::Rect(75, 83, 50, 34));
}

TEST(ModelLoading, MissingOrBrokenFilesRaiseTheRuntimeMessage) {
    const std::string dir = testModelsDir();
    EXPECT_THROW(loadDetector(dir + "missing.onnx", 640), std::runtime_error);
    const std::string broken = dir + "broken.onnx";
    std::ofstream(broken) << "not a model";
    try {
        loadRecognizer(broken);
        FAIL() << "a broken model loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("broken.onnx"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(loadEyeModel(broken).loaded);

    EngineConfig config = testModelConfig();
    config.expressionModelPath = dir + "missing.onnx";
    EXPECT_THROW(loadModelSet(config), std::runtime_error);
    config = testModelConfig();
    config.eyeModelPath = dir + "missing.onnx";
    EXPECT_FALSE(loadModelSet(config)->eye.loaded);
}
