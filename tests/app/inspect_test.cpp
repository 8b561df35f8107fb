// keepframe-cull --inspect: the lines of one file, on real image files steered
// at the test models, and the files it cannot analyse.
#include "analysis.h"
#include "faces.h"
#include "fault_files.h"
#include "inspect.h"
#include "measures.h"
#include "model_fixture.h"
#include "painted_frames.h"

#include <gtest/gtest.h>

#include <fstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

struct Inspect : ModelFixture {
    std::vector<QJsonObject> objects(const InspectedFile& inspected) {
        std::vector<QJsonObject> out;
        for (const std::string& line : inspected.lines) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
            EXPECT_TRUE(doc.isObject()) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos);
            out.push_back(doc.object());
        }
        return out;
    }
};

}  // namespace

TEST_F(Inspect, FrameLineThenOneLinePerDetectionAsTheCullSawIt) {
    // A usable face in the middle, a face cut by the left edge, a face too
    // dark to pass the skin check.
    const cv::Mat frame = analysisFrame({{15, 20, 3, 0.875f}, {12, 2, 3, 0.75f}, {8, 32, 2, 0.625f, false}});
    const std::string path = writeFrame(dir, "DSC_0001.png", frame);
    const InspectedFile inspected = inspectFile(path, models.get(), config);
    ASSERT_TRUE(inspected.analysed);
    const auto lines = objects(inspected);
    ASSERT_EQ(lines.size(), 4u);

    const QJsonObject& f = lines[0];
    EXPECT_EQ(f["file"].toString().toStdString(), path);
    EXPECT_EQ(f["kind"].toString(), "frame");
    EXPECT_EQ(f["width"].toInt(), 2560);
    EXPECT_EQ(f["height"].toInt(), 1920);
    EXPECT_EQ(f["category"].toString(), "portrait");
    EXPECT_EQ(f["faces"].toInt(), 1);
    EXPECT_EQ(f["detections"].toInt(), 3);
    EXPECT_FALSE(f["damaged"].toBool());

    // The same numbers as the analysis a cull runs, in full-resolution pixels.
    const ImageRecord r = analyzeImage("DSC_0001.png", path, models.get(), config);
    ASSERT_EQ(r.detections.size(), 3u);
    EXPECT_NEAR(f["sharpness"].toDouble(), r.sharpness, 1e-3 * r.sharpness);
    EXPECT_NEAR(f["exposure"].toDouble(), r.exposure, 1e-4);
    EXPECT_NEAR(f["expression"].toDouble(), r.expression, 1e-4);

    const QJsonObject& usable = lines[1];
    EXPECT_EQ(usable["kind"].toString(), "face");
    EXPECT_EQ(usable["index"].toInt(), 0);
    EXPECT_EQ(usable["box"].toArray(), (QJsonArray{4 * 272, 4 * 192, 4 * 96, 4 * 96}));
    EXPECT_TRUE(usable["valid"].toBool());
    EXPECT_TRUE(usable["reason"].isNull());
    EXPECT_NEAR(usable["confidence"].toDouble(), 0.875, 1e-4);
    EXPECT_NEAR(usable["eyeOpen"].toDouble(), r.faces[0].eyesOpen, 1e-4);
    // The portrait's main face: its expression is the frame's.
    EXPECT_NEAR(usable["expression"].toDouble(), r.expression, 1e-4);
    const QJsonArray landmarks = usable["landmarks"].toArray();
    ASSERT_EQ(landmarks.size(), 5);
    for (int j = 0; j < 5; ++j) {
        EXPECT_NEAR(landmarks[j].toArray()[0].toDouble(), 4 * r.faces[0].landmarks[size_t(2 * j)], 0.06);
        EXPECT_NEAR(landmarks[j].toArray()[1].toDouble(), 4 * r.faces[0].landmarks[size_t(2 * j + 1)], 0.06);
    }
    // The face sharpness of the "blurry" test: the Laplacian variance in the box.
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    const double sharp = laplacianVariance(grey, Box{272, 192, 368, 288});
    EXPECT_NEAR(usable["sharpness"].toDouble(), sharp, 0.01);

    // Rejected faces keep their place, reason and the scores they would get.
    EXPECT_FALSE(lines[2]["valid"].toBool());
    EXPECT_EQ(lines[2]["reason"].toString(), "edge");
    EXPECT_EQ(lines[2]["box"].toArray()[0].toInt(), 0);
    EXPECT_EQ(lines[3]["reason"].toString(), "not_human");
    for (int i = 2; i < 4; ++i) {
        EXPECT_TRUE(lines[size_t(i)]["eyeOpen"].isDouble());
        EXPECT_TRUE(lines[size_t(i)]["expression"].isDouble());
    }
}

TEST_F(Inspect, FilesItCannotAnalyseGiveOneErrorLine) {
    const std::string text = dir.file("notes.jpg");
    std::ofstream(text) << "not an image";
    const std::string odd = dir.file("a \"quoted\"\tname.jpg");
    std::ofstream(odd) << "also not an image";
    const struct {
        std::string file, error;
    } cases[] = {
        {dir.file("missing.jpg"), "not found"},
        {dir.str(), "not a file"},
        {text, "undecodable"},
        {odd, "undecodable"},
    };
    for (const auto& c : cases) {
        const InspectedFile inspected = inspectFile(c.file, models.get(), config);
        EXPECT_FALSE(inspected.analysed) << c.file;
        const auto lines = objects(inspected);
        ASSERT_EQ(lines.size(), 1u) << c.file;
        EXPECT_EQ(lines[0]["kind"].toString(), "error");
        EXPECT_EQ(lines[0]["file"].toString().toStdString(), c.file);
        EXPECT_EQ(lines[0]["error"].toString().toStdString(), c.error);
    }
}

// The frame line tells a damaged frame of any format, with what is wrong,
// and gives the size the file declares.
TEST_F(Inspect, DamagedAndOddSizedFramesAsTheyAre) {
    const cv::Mat sharp = noise(640, 480, 9);
    writeFile(dir.file("cmyk.jpg"), truncated(cmykJpeg(sharp), 0.6));
    writeFile(dir.file("cut.png"), truncated(encoded(sharp, ".png"), 0.6));
    writeFile(dir.file("odd.jpg"), encoded(sharp(cv::Rect(0, 0, 401, 299)), ".jpg"));
    const struct {
        const char* name;
        int width, height;
        bool damaged;
        const char* problem;
    } cases[] = {{"cmyk.jpg", 640, 480, true, "Premature end of JPEG file"},
                 {"cut.png", 640, 480, true, "PNG data cut short"},
                 {"odd.jpg", 401, 299, false, nullptr}};
    for (const auto& c : cases) {
        const InspectedFile inspected = inspectFile(dir.file(c.name), models.get(), config);
        ASSERT_TRUE(inspected.analysed) << c.name;
        const QJsonObject frame = objects(inspected).at(0);
        EXPECT_EQ(frame["width"].toInt(), c.width) << c.name;
        EXPECT_EQ(frame["height"].toInt(), c.height) << c.name;
        EXPECT_EQ(frame["damaged"].toBool(), c.damaged) << c.name;
        EXPECT_EQ(frame["problem"].toString().toStdString(), c.problem ? c.problem : "") << c.name;
    }
}

TEST_F(Inspect, NamesThatAreNotUtf8StayValidJson) {
    // A name in another encoding ("caf\xE9.jpg" in Latin-1) is shown with the
    // byte spelled out; the line must still parse.
    const std::string name = dir.file("caf") + "\xE9.jpg";
    const InspectedFile inspected = inspectFile(name, models.get(), config);
    const auto lines = objects(inspected);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["kind"].toString(), "error");
    EXPECT_EQ(lines[0]["file"].toString().toStdString(), dir.file("caf") + "\\xE9.jpg");
}

TEST_F(Inspect, CommandLine) {
    EXPECT_EQ(runInspect({"--inspect"}, testModelsDir()), 2);
    EXPECT_EQ(runInspect({"--inspect", "x.jpg", "--models"}, testModelsDir()), 2);
    EXPECT_EQ(runInspect({"--inspect", "x.jpg", "--quiet"}, testModelsDir()), 2);
    EXPECT_EQ(runInspect({"--inspect", dir.file("x.jpg")}, dir.str()), 1);  // no models there
    const std::string good = writeFrame(dir, "good.png", analysisFrame({{15, 20, 3, 0.875f}}));
    EXPECT_EQ(runInspect({"--inspect", good}, testModelsDir()), 0);
    EXPECT_EQ(runInspect({"--inspect", good, dir.file("missing.jpg"), "--models", testModelsDir()}, "/nowhere"), 1);
}
