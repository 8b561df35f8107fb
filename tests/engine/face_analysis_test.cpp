// analyzeImage with faces: validity reasons, categories, expression and eyes,
// on real image files steered at the test models.
#include "analysis.h"
#include "cull.h"
#include "exif_writer.h"
#include "faces.h"
#include "measures.h"
#include "model_fixture.h"
#include "persons.h"
#include "scores.h"
#include "temp_dir.h"
#include "painted_frames.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace keepframe;
using namespace keepframe::testing;

using FaceAnalysis = ModelFixture;

TEST_F(FaceAnalysis, OneUsableFaceAndTwoEdgeRejectsIsAPortrait) {
    // Two faces cut by the left and bottom edges, one in the middle.
    const ImageRecord r = analyze(analysisFrame({{15, 20, 3, 0.875f}, {12, 2, 3, 0.75f}, {28, 30, 3, 0.625f}}));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.category, Category::Portrait);
    EXPECT_EQ(r.faceCount, 1);
    EXPECT_EQ(r.detectionCount, 3);
    ASSERT_EQ(r.detections.size(), 3u);
    EXPECT_TRUE(r.detections[0].ok);
    EXPECT_EQ(r.detections[1].reason, "edge");
    EXPECT_EQ(r.detections[2].reason, "edge");
    // Clamped boxes: the left face starts at 0, the bottom one ends at 480.
    EXPECT_EQ(r.detections[1].x1, 0);
    EXPECT_EQ(r.detections[2].y2, 480);

    const FaceRecord& f = r.faces[0];
    EXPECT_EQ(f.x1, 320 - 48);
    EXPECT_EQ(f.y1, 240 - 48);
    EXPECT_EQ(f.x2, 320 + 48);
    EXPECT_EQ(f.y2, 240 + 48);
    EXPECT_FLOAT_EQ(f.confidence, 0.875f);
    EXPECT_FLOAT_EQ(f.area, (96.0f / 640) * (96.0f / 480));
    EXPECT_TRUE(f.hasLandmarks);
    EXPECT_GT(f.gradient, 0.0f);
    EXPECT_EQ(r.embeddings.size(), 1u);
    EXPECT_GT(r.eyeSharpness, 0.0f);
    // The portrait's expression is measured (the test model never gives 0.75 exactly here).
    EXPECT_NE(r.expression, 0.75f);
    EXPECT_GT(faceScore(r, Category::Portrait, config), 0.05f);
}

TEST_F(FaceAnalysis, ReasonsAndTheirOrder) {
    // Low confidence wins over a small area.
    config.minFaceConfidence = 0.6f;
    config.minFaceArea = 0.5f;
    ImageRecord r = analyze(analysisFrame({{15, 20, 3, 0.5625f}}));
    ASSERT_EQ(r.detections.size(), 1u);
    EXPECT_EQ(r.detections[0].reason, "low_conf");
    EXPECT_FALSE(r.detections[0].ok);
    EXPECT_EQ(r.category, Category::Venue);
    EXPECT_FLOAT_EQ(r.expression, 0.75f);
    EXPECT_TRUE(r.embeddings.empty());

    config.minFaceConfidence = 0.3f;
    r = analyze(analysisFrame({{15, 20, 3, 0.5625f}}));
    EXPECT_EQ(r.detections[0].reason, "small_area");

    // A grey face is not human; with the check off it is a face.
    config.minFaceArea = 0.001f;
    FaceSpec grey{15, 20, 3, 0.75f, false};
    EXPECT_EQ(analyze(analysisFrame({grey})).detections[0].reason, "not_human");
    config.humanCheckEnabled = false;
    EXPECT_TRUE(analyze(analysisFrame({grey})).detections[0].ok);
}

TEST_F(FaceAnalysis, EdgeMarginIsInclusive) {
    // A box whose left side lands exactly on x = 2 is "edge"; on x = 3 it is not.
    for (int left : {2, 3}) {
        cv::Mat img(480, 640, CV_8UC3, cv::Scalar::all(0));
        paintSkin(img, cv::Rect(left, 200, 96, 96));
        PaintedAnchor a{16, 15, 4, 0.75f, {}, faceOffsets(3)};
        a.distances = {(64.0f - left) / 16, 3, (left + 96 - 64.0f) / 16, 3};  // centre (64, 240)
        paintAnchor(img, a);
        const ImageRecord r = analyze(img, "edge" + std::to_string(left) + ".png");
        ASSERT_EQ(r.detections.size(), 1u) << left;
        EXPECT_EQ(r.detections[0].x1, left);
        EXPECT_EQ(r.detections[0].reason, left == 2 ? "edge" : "") << left;
    }
}

TEST_F(FaceAnalysis, BlurryRuleUsesBothThresholds) {
    const cv::Mat img = analysisFrame({{15, 20, 3, 0.75f}});
    cv::Mat grey;
    cv::cvtColor(img, grey, cv::COLOR_BGR2GRAY);
    const double sharp = laplacianVariance(grey, Box{272, 192, 368, 288});
    const float area = (96.0f / 640) * (96.0f / 480);  // 0.03
    ASSERT_GT(sharp, 10.0);

    // Below the sharp threshold but above the soft one: blurry only when small.
    config.sharpFaceThreshold = float(sharp + 1);
    config.softFaceThreshold = float(sharp - 1);
    config.softFaceMinArea = area / 2;
    EXPECT_TRUE(analyze(img).detections[0].ok);
    config.softFaceMinArea = area * 2;
    EXPECT_EQ(analyze(img).detections[0].reason, "blurry");
    // Below both thresholds: blurry at any area.
    config.softFaceThreshold = float(sharp + 1);
    config.softFaceMinArea = 0;
    EXPECT_EQ(analyze(img).detections[0].reason, "blurry");
    // At the sharp threshold: usable at any area.
    float atSharp = float(sharp);
    if (double(atSharp) > sharp) atSharp = std::nextafter(atSharp, 0.0f);
    config.sharpFaceThreshold = atSharp;
    config.softFaceMinArea = 1;
    EXPECT_TRUE(analyze(img).detections[0].ok);
}

TEST(FaceMeasures, BothTakeThePixelsOfTheBoxAlone) {
    // A flat box inside a bright frame: no measure of the box may see the frame.
    cv::Mat grey(100, 120, CV_8UC1, cv::Scalar(250));
    grey(cv::Rect(20, 30, 40, 30)).setTo(cv::Scalar(60));
    const Box box{20, 30, 60, 60};
    EXPECT_EQ(laplacianVariance(grey, box), 0.0);
    EXPECT_EQ(gradientMean(grey, box), 0.0);

    // A box with texture gives the same values as the same pixels cut out.
    cv::Mat textured(100, 120, CV_8UC1);
    cv::randu(textured, cv::Scalar(0), cv::Scalar(255));
    const cv::Mat cut = textured(cv::Rect(20, 30, 40, 30)).clone();
    EXPECT_DOUBLE_EQ(laplacianVariance(textured, box), laplacianVariance(cut, Box{0, 0, 40, 30}));
    EXPECT_DOUBLE_EQ(gradientMean(textured, box), gradientMean(cut, Box{0, 0, 40, 30}));
    EXPECT_DOUBLE_EQ(laplacianVariance(textured, box), imageSharpness(cut));

    // Eye windows are boxes too: a flat window (x 15 to 65, y 28 to 62) next
    // to a hard edge is not sharp.
    cv::Mat eyes(100, 120, CV_8UC1, cv::Scalar(250));
    eyes(cv::Rect(15, 28, 50, 34)).setTo(cv::Scalar(60));
    const float landmarks[10] = {40, 45, 40, 45};
    EXPECT_EQ(eyeSharpness(eyes, landmarks), 0.0);
}

TEST_F(FaceAnalysis, GroupsAndTheirExpression) {
    const cv::Mat img = analysisFrame({{8, 8, 2.5f, 0.75f}, {8, 24, 3, 0.75f}, {20, 15, 2.5f, 0.75f}});
    ImageRecord r = analyze(img);
    EXPECT_EQ(r.category, Category::Group);
    EXPECT_EQ(r.faceCount, 3);
    EXPECT_EQ(r.embeddings.size(), 3u);
    EXPECT_FLOAT_EQ(r.expression, 0.75f);  // not measured in groups by default

    config.groupExpressionEnabled = true;
    r = analyze(img);
    EXPECT_NE(r.expression, 0.75f);
    // With the weight 0, the group face score ignores the expression.
    const float plain = faceScore(r, Category::Group, config);
    config.groupExpressionWeight = 0.5f;
    EXPECT_NEAR(faceScore(r, Category::Group, config), 0.5f * plain + 0.5f * r.expression, 1e-6);
}

TEST_F(FaceAnalysis, MissingEyeModelGivesOpenEyes) {
    config.eyeModelPath = testModelsDir() + "no-such-eye.onnx";
    models = loadModelSet(config);
    const ImageRecord r = analyze(analysisFrame({{15, 20, 3, 0.75f}, {15, 30, 2, 0.75f}}));
    ASSERT_EQ(r.faceCount, 2);
    for (const auto& f : r.faces) EXPECT_FLOAT_EQ(f.eyesOpen, 1.0f);

    config = testModelConfig();
    models = loadModelSet(config);
    const ImageRecord withEyes = analyze(analysisFrame({{15, 20, 3, 0.75f}}));
    EXPECT_LT(withEyes.faces[0].eyesOpen, 0.9f);  // dark skin-toned eye windows read as closed
}

TEST_F(FaceAnalysis, UprightBoxesForOrientationSix) {
    // Stored 480 wide x 640 tall (quarter size), EXIF orientation 6: the
    // upright frame is 640 x 480 and the face lies where it was painted there.
    const cv::Mat upright = analysisFrame({{15, 20, 3, 0.75f}});
    cv::Mat stored;
    cv::rotate(upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
    cv::Mat full;
    cv::resize(stored, full, stored.size() * 4, 0, 0, cv::INTER_NEAREST);
    shootgen::ExifFields exif;
    exif.orientation = 6;
    const std::string path = dir.file("rot.jpg");
    ASSERT_TRUE(shootgen::writeJpeg(path, full, exif, 100));
    const ImageRecord r = analyzeImage("rot.jpg", path, models.get(), config);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.orientation, 6);
    EXPECT_EQ(r.fullW, 2560);
    EXPECT_EQ(r.fullH, 1920);
    ASSERT_GE(r.faceCount, 1);
    EXPECT_NEAR(r.faces[0].x1, 272, 3);
    EXPECT_NEAR(r.faces[0].y1, 192, 3);
}

TEST(FaceScore, FormulaForPortraitAndGroup) {
    EngineConfig config;
    ImageRecord frame;
    EXPECT_FLOAT_EQ(faceScore(frame, Category::Portrait, config), 0.05f);
    FaceRecord a;
    a.confidence = 0.9f;
    a.area = 0.1f;
    a.gradient = 20;
    FaceRecord b = a;
    b.confidence = 0.7f;
    b.area = 0.02f;
    b.gradient = 80;
    frame.faces = {a, b};
    frame.eyeSharpness = 1400;  // above 650: 1 - min(750 / 1500, 0.3) = 0.7
    frame.expression = 0.9f;
    const double quality = 0.45 * 0.8 + 0.3 * 0.7 + 0.15 * 1.0 + 0.1 * 0.5;
    EXPECT_NEAR(faceScore(frame, Category::Portrait, config), quality * 0.3 + 0.9 * 0.7, 1e-6);
    const double q = 0.5 * 1.0 + 0.3 * 0.8 + 0.2 * 1.0;
    EXPECT_NEAR(faceScore(frame, Category::Group, config), q, 1e-6);
    frame.eyeSharpness = 325;
    EXPECT_NEAR(faceScore(frame, Category::Portrait, config), (0.45 * 0.8 + 0.3 * 0.5 + 0.15 + 0.05) * 0.3 + 0.63,
                1e-6);
}

TEST(FinalScore, OneCasePerTerm) {
    const EngineConfig config;
    std::vector<PersonRecord> persons(2);
    persons[0].portraitImportance = 1.0f;
    persons[1].portraitImportance = 0.5f;
    auto scored = [&](ImageRecord f) {
        computeFinalScore(f, persons, config);
        return f.finalScore;
    };

    // Venue: sharpness / 500 and nothing else, without a cap.
    ImageRecord venue;
    venue.category = Category::Venue;
    venue.sharpness = 1000;
    EXPECT_FLOAT_EQ(scored(venue), 2.0f);
    venue.personIndex = 0;
    venue.personFlag = true;
    EXPECT_FLOAT_EQ(scored(venue), 2.0f);

    // One face, every measure at its cap: portrait quality 0.45 x 0.9 + 0.3 +
    // 0.15 + 0.1 = 0.955, face score 0.955 x 0.3 + 0.8 x 0.7 = 0.8465; as a
    // group 0.5 x 0.8 + 0.3 x 0.9 + 0.2 = 0.87.
    ImageRecord portrait;
    portrait.category = Category::Portrait;
    FaceRecord face;
    face.confidence = 0.9f;
    face.area = 0.05f;
    face.gradient = 40;
    portrait.faces = {face};
    portrait.eyeSharpness = 650;
    portrait.expression = 0.8f;
    EXPECT_NEAR(scored(portrait), 0.6 * 0.8465, 1e-6);
    portrait.personIndex = 1;  // + 0.4 x importance 0.5
    EXPECT_NEAR(scored(portrait), 0.6 * 0.8465 + 0.2, 1e-6);
    portrait.personIndex = 2;  // no such person: importance 0
    EXPECT_NEAR(scored(portrait), 0.6 * 0.8465, 1e-6);
    portrait.personFlag = true;  // the Person 0 bonus is for groups only
    EXPECT_NEAR(scored(portrait), 0.6 * 0.8465, 1e-6);

    ImageRecord group = portrait;
    group.category = Category::Group;
    group.personIndex = -1;
    group.personFlag = false;
    EXPECT_NEAR(scored(group), 0.4 * 0.87, 1e-6);
    group.personIndex = 0;
    EXPECT_NEAR(scored(group), 0.4 * 0.87 + 0.4, 1e-6);
    group.personFlag = true;
    EXPECT_NEAR(scored(group), 0.4 * 0.87 + 0.4 + 0.2, 1e-6);
    group.category = Category::Featured;  // any category but venue and portrait scores as a group
    EXPECT_NEAR(scored(group), 0.4 * 0.87 + 0.4 + 0.2, 1e-6);

    // Without faces the face score is 0.05.
    ImageRecord faceless;
    faceless.category = Category::Portrait;
    EXPECT_NEAR(scored(faceless), 0.6 * 0.05, 1e-6);
}

TEST(RunCullWithModels, ModelFailuresStopTheRun) {
    TempDir dir;
    writeFrame(dir, "in/a.png", analysisFrame({{15, 20, 3, 0.75f}}));
    EngineConfig config = testModelConfig();
    config.inputFolder = dir.file("in");
    config.verbose = false;
    const CullResult ok = runCull(config);
    ASSERT_EQ(ok.totalInput, 1);
    EXPECT_EQ(ok.images[0].category, Category::Portrait);
    ASSERT_EQ(ok.images[0].faceBoxes.size(), 1u);
    EXPECT_EQ(ok.images[0].faceBoxes[0], (FaceBox{272 * 4, 192 * 4, 96 * 4, 96 * 4}));

    config.detectorModelPath = dir.file("models/missing.onnx");
    EXPECT_THROW(runCull(config), std::runtime_error);
}
