// EngineController and CullWorker through their real signals, with real
// folders, the test models and a temporary project library.
#include "dng_writer.h"
#include "engine_controller.h"
#include "painted_frames.h"
#include "project_store.h"
#include "raw_conversion.h"
#include "temp_dir.h"
#include "test_models.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

#include <algorithm>
#include <fstream>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

struct Controller : ::testing::Test {
    TempDir dir;
    EngineController controller;

    void SetUp() override {
        qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/library"));
        const EngineConfig models = testModelConfig();
        controller.setDetectorModelPath(QString::fromStdString(models.detectorModelPath));
        controller.setRecognizerModelPath(QString::fromStdString(models.recognizerModelPath));
        controller.setExpressionModelPath(QString::fromStdString(models.expressionModelPath));
        controller.setEyeModelPath(QString::fromStdString(models.eyeModelPath));
    }
    void TearDown() override { qunsetenv("KEEPFRAME_DATA_DIR"); }

    QString shoot(int frames = 6) {
        for (int i = 0; i < frames; ++i)
            writeFrame(dir, "shoot/DSC_000" + std::to_string(i) + ".png",
                       analysisFrame({{15, 20, 3, 0.7f + 0.03f * i}}, 640, 480, 110));
        return QString::fromStdString(dir.str() + "/shoot");
    }
    // RAW files whose previews show a face; returns the preview.
    std::vector<uint8_t> rawShoot(const std::string& folder, int files) {
        const cv::Mat frame = analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 110);
        cv::Mat full;
        cv::resize(frame, full, frame.size() * 4, 0, 0, cv::INTER_NEAREST);
        DngPreview p;
        cv::imencode(".jpg", full, p.jpeg, {cv::IMWRITE_JPEG_QUALITY, 100});
        p.width = full.cols;
        p.height = full.rows;
        const auto bytes = makeDng(p);
        for (int i = 0; i < files; ++i)
            std::ofstream(dir.file(folder + "/DSC_000" + std::to_string(i) + ".dng"), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.jpeg;
    }
    // Waits until one more result signal than before has arrived.
    bool waitForEnd(QSignalSpy& finished, QSignalSpy& failed) {
        const qsizetype before = finished.size() + failed.size();
        for (int i = 0; i < 600 && finished.size() + failed.size() == before; ++i) finished.wait(100);
        return finished.size() + failed.size() > before;
    }
};

}  // namespace

TEST(FolderArguments, FileUrlsAreStripped) {
    EXPECT_EQ(normalizeFolderArgument(""), "");
#ifdef _WIN32
    EXPECT_EQ(normalizeFolderArgument("file:///C:/shoot"), "C:\\shoot");
#else
    EXPECT_EQ(normalizeFolderArgument("file:///tmp/shoot"), "/tmp/shoot");
    EXPECT_EQ(normalizeFolderArgument("/tmp/shoot"), "/tmp/shoot");
#endif
    // A host names a share.
    EXPECT_EQ(normalizeFolderArgument("file://server/shoot"), QDir::toNativeSeparators("//server/shoot"));
    EXPECT_EQ(normalizeFolderArgument("file:///tmp/100%25%20wedding"), QDir::toNativeSeparators("/tmp/100% wedding"));
}

TEST_F(Controller, RefusesMissingFoldersAndASecondRun) {
    QSignalSpy failed(&controller, &EngineController::failed);
    controller.startCull("", "/out", 0);
    controller.startCull("/in", "file://", 0);
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(failed[0][0].toString(), "Please choose an input folder.");
    EXPECT_EQ(failed[1][0].toString(), "Please choose an output folder.");
    EXPECT_FALSE(controller.running());

    QSignalSpy finished(&controller, &EngineController::finished);
    QSignalSpy running(&controller, &EngineController::runningChanged);
    const QString in = shoot();
    controller.startCull(in, in + "_culled", 0);
    EXPECT_TRUE(controller.running());
    controller.startCull(in, in + "_culled", 0);  // at once: refused, the first run goes on
    ASSERT_EQ(failed.size(), 3);
    EXPECT_EQ(failed[2][0].toString(), "A cull job is already running.");
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1) << failed.last()[0].toString().toStdString();
    EXPECT_EQ(failed.size(), 3);
    EXPECT_FALSE(controller.running());
    EXPECT_EQ(running.size(), 2);

    const QVariantMap summary = finished[0][0].toMap();
    EXPECT_EQ(summary["totalInput"].toInt(), 6);
    EXPECT_GE(summary["projectId"].toInt(), 0);
    EXPECT_GT(summary["elapsedSeconds"].toDouble(), 0.0);
    EXPECT_EQ(summary["primaryDir"].toString(), in + "_culled/selected_primary");
    EXPECT_EQ(summary["selected"].toList().size(), summary["totalSelected"].toInt());
    // select 0 is automatic: 18 % of 6 frames rounds to 1.
    EXPECT_EQ(summary["primaryCount"].toInt(), 1);
    // The desktop default writes nothing into the output folder.
    EXPECT_FALSE(QDir(in + "_culled").exists());

    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    EXPECT_EQ(store.listProjects().size(), 1);
}

TEST_F(Controller, ACancelledCullStoresNothingAndTheNextOneRuns) {
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    const QString in = shoot();
    controller.cancel();  // no cull runs: nothing to stop, and the next one is not stopped by it
    controller.startCull(in, in + "_culled", 0);
    controller.cancel();
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(), "The cull was stopped.");
    EXPECT_FALSE(controller.running());
    EXPECT_EQ(controller.phase(), CullPhase::Idle);
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    EXPECT_TRUE(store.listProjects().isEmpty());

    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1) << failed.last()[0].toString().toStdString();
    EXPECT_EQ(finished[0][0].toMap()["totalInput"].toInt(), 6);
    EXPECT_EQ(store.listProjects().size(), 1);
}

TEST_F(Controller, NegativeSelectIsAutomaticAndAnUnsavableProjectFailsTheRun) {
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    const QString in = shoot();
    CullRunOptions noSave;
    noSave.saveProject = false;
    controller.setRunOptions(noSave);
    controller.startCull("file://" + in, in + "_culled", -4);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toMap()["projectId"].toInt(), -1);
    EXPECT_EQ(finished[0][0].toMap()["primaryCount"].toInt(), 1);

    // The library folder lies below a file: the project cannot be saved, and
    // the run says so with the store's reason instead of finishing quietly.
    std::ofstream(dir.file("blocker")) << "x";
    qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/blocker/library"));
    controller.setRunOptions({});
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_TRUE(failed[0][0].toString().startsWith("Could not save the project: Could not create app data folder: "))
        << failed[0][0].toString().toStdString();
    EXPECT_FALSE(controller.running());
}

TEST_F(Controller, RawInputProgressOrderAndFailure) {
    rawShoot("raw", 3);
    const QString in = QString::fromStdString(dir.str() + "/raw");
    EXPECT_TRUE(controller.inputHasRaw(in));
    EXPECT_FALSE(controller.inputHasRaw(""));

    QSignalSpy progress(&controller, &EngineController::progress);
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1) << failed.last()[0].toString().toStdString();
    EXPECT_EQ(finished[0][0].toMap()["inputFolder"].toString(), in + "/raw_JPG");
    EXPECT_EQ(finished[0][0].toMap()["totalInput"].toInt(), 3);

    std::vector<int> percents;
    QStringList messages;
    for (const auto& args : progress) {
        percents.push_back(args[0].toInt());
        messages << args[1].toString();
    }
    ASSERT_GE(percents.size(), 10u);
    // 5 from the controller, 1 and the three conversions, 5 again, then the pipeline, saving and the end.
    EXPECT_EQ(std::vector<int>(percents.begin(), percents.begin() + 6), (std::vector<int>{5, 1, 2, 3, 5, 5}));
    EXPECT_EQ(messages[1], "Converting RAW files to JPG…");
    EXPECT_EQ(messages[2], "Converting RAW 1 of 3…");
    EXPECT_EQ(messages[5], "Processing images (detect, score, cluster)…");
    EXPECT_EQ(std::vector<int>(percents.end() - 3, percents.end()), (std::vector<int>{82, 99, 100}));
    EXPECT_EQ(messages.last(), "Done.");
    EXPECT_EQ(percents[percents.size() - 4], 80);
    for (size_t i = 6; i + 3 < percents.size(); ++i) {
        EXPECT_GE(percents[i], 2);
        EXPECT_LE(percents[i], 80);
    }

    // Only unreadable RAW files: the run fails and no project is saved.
    std::ofstream(dir.file("broken/a.nef")) << "not raw";
    std::ofstream(dir.file("broken/b.cr2")) << "not raw";
    finished.clear();
    failed.clear();
    controller.startCull(QString::fromStdString(dir.str() + "/broken"), QString::fromStdString(dir.str() + "/out"), 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0][0].toString(),
              "Could not convert any RAW files. Please check the files and try again, or use JPG input.");
    EXPECT_TRUE(finished.isEmpty());
    EXPECT_FALSE(QDir(QString::fromStdString(dir.str() + "/broken/broken_JPG")).exists());
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    EXPECT_EQ(store.listProjects().size(), 1);  // only the RAW run above
}

TEST_F(Controller, ALoneUnreadableRawDoesNotFailAShootOfImages) {
    const QString in = shoot(4);
    std::ofstream(dir.file("shoot/card/broken.nef")) << "not raw";
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    // Given relative to the working folder, stored and reported absolute.
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.str())));
    controller.startCull("shoot", "shoot_culled", 0);
    QDir::setCurrent(cwd);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1) << failed.last()[0].toString().toStdString();
    const QVariantMap summary = finished[0][0].toMap();
    EXPECT_EQ(summary["totalInput"].toInt(), 4);
    EXPECT_EQ(summary["inputFolder"].toString(), in);
    const QVariantList skipped = summary["skipped"].toList();
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_EQ(skipped[0].toMap()["file"].toString(), "card/broken.nef");
    EXPECT_FALSE(skipped[0].toMap()["reason"].toString().isEmpty());
    EXPECT_TRUE(summary["damaged"].toList().isEmpty());
    EXPECT_FALSE(QDir(in + "/shoot_JPG").exists());  // the conversion folder stayed empty and is gone
    for (const QVariant& s : summary["selected"].toList()) {
        EXPECT_TRUE(s.toMap().contains("totalDetectedFaces"));
        EXPECT_TRUE(s.toMap().contains("isFeatured"));
    }
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    ASSERT_EQ(store.listProjects().size(), 1);
    EXPECT_EQ(store.listProjects()[0].toMap()["inputFolder"].toString(), QFileInfo(in).canonicalFilePath());
}

#ifndef _WIN32
TEST_F(Controller, BackslashNamesAreStoredAsTheNamesTheyAre) {
    // Unzipped from a Windows archive: "\\" in names. One name would climb out
    // of the shoot on Windows; it is named and the rest is stored.
    const QString in = shoot(3);
    const cv::Mat face = analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 110);
    writeFrame(dir, "shoot/sub/kit.png", face);
    writeFrame(dir, "shoot/sub\\kit.png", analysisFrame({{15, 20, 3, 0.8f}}, 640, 480, 90));
    writeFrame(dir, "shoot/..\\evil.png", face);
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1) << failed.last()[0].toString().toStdString();
    const QVariantMap summary = finished[0][0].toMap();
    EXPECT_EQ(summary["totalInput"].toInt(), 5);
    const QVariantList skipped = summary["skipped"].toList();
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_EQ(skipped[0].toMap()["file"].toString(), "..\\evil.png");
    EXPECT_EQ(skipped[0].toMap()["reason"].toString(), "file name cannot be stored safely");

    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    const int id = summary["projectId"].toInt();
    QHash<QString, QString> stored;  // name -> path
    for (const QVariant& v : store.loadProjectImages(id))
        stored.insert(v.toMap()["filename"].toString(), v.toMap()["path"].toString());
    ASSERT_TRUE(stored.contains("sub/kit.png"));
    ASSERT_TRUE(stored.contains("sub\\kit.png"));
    EXPECT_EQ(QFileInfo(stored["sub/kit.png"]).fileName(), "kit.png");
    EXPECT_EQ(QFileInfo(stored["sub\\kit.png"]).fileName(), "sub\\kit.png");
    EXPECT_EQ(QFileInfo(stored["sub\\kit.png"]).absolutePath(), in);
}
#endif

TEST_F(Controller, PipelineErrorsAreReported) {
    controller.setDetectorModelPath(QString::fromStdString(dir.str() + "/missing.onnx"));
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    const QString in = shoot(1);
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0][0].toString().contains("missing.onnx")) << failed[0][0].toString().toStdString();
    EXPECT_FALSE(controller.running());
}

TEST_F(Controller, SpeedOptionsReachTheConversionAndTheModels) {
    const std::vector<uint8_t> preview = rawShoot("raw", 3);
    const QString in = QString::fromStdString(dir.str() + "/raw");
    const std::string converted = dir.str() + "/raw/raw_JPG/DSC_0001.jpg";
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    CullRunOptions options;
    options.saveProject = false;
    std::vector<QVariantMap> summaries;
    std::vector<std::vector<uint8_t>> files;
    for (const bool fast : {false, true}) {
        options.fullGraphOptimization = fast;
        options.keepRawPreviews = fast;
        controller.setRunOptions(options);
        controller.startCull(in, in + "_culled", 0);
        ASSERT_TRUE(waitForEnd(finished, failed));
        ASSERT_EQ(finished.size(), summaries.size() + 1) << failed.last()[0].toString().toStdString();
        summaries.push_back(finished.last()[0].toMap());
        std::ifstream file(converted, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    // Kept, the preview's image data ends the file unchanged; encoded again, it does not.
    const long half = long(preview.size() / 2);
    const auto endsWithPreview = [&](const std::vector<uint8_t>& file) {
        return long(file.size()) > half && std::equal(preview.end() - half, preview.end(), file.end() - half);
    };
    EXPECT_FALSE(endsWithPreview(files[0]));
    EXPECT_TRUE(endsWithPreview(files[1]));
    // The full optimisation level runs the same models to the same picks.
    for (const char* key : {"totalInput", "totalSelected", "primaryCount", "portrait", "group", "venue"})
        EXPECT_EQ(summaries[0][key], summaries[1][key]) << key;
}

TEST_F(Controller, AStopTakesBackTheConversionFolderItMadeButNeverAnEarlierOne) {
    rawShoot("raw", 8);
    const QString in = QString::fromStdString(dir.str() + "/raw");
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    QSignalSpy stopping(&controller, &EngineController::stopRequestedChanged);
    // Stopped in the middle of the conversion, and once it is complete (the
    // second "Processing images" line: the first comes at the start).
    for (const QString& at : {QStringLiteral("Converting RAW 3 of 8…"), QStringLiteral("Processing images")}) {
        int seen = 0;
        const int stopOn = at.startsWith("Processing") ? 2 : 1;
        auto stopAt = QObject::connect(&controller, &EngineController::progress, [&](int, const QString& message) {
            if (message.startsWith(at) && ++seen == stopOn) controller.cancel();
        });
        controller.startCull(in, in + "_culled", 0);
        ASSERT_TRUE(waitForEnd(finished, failed));
        QObject::disconnect(stopAt);
        ASSERT_EQ(failed.size(), 1) << at.toStdString();
        EXPECT_EQ(failed.takeFirst()[0].toString(), "The cull was stopped.");
        EXPECT_TRUE(controller.stopRequested());
        EXPECT_FALSE(QDir(in + "/raw_JPG").exists()) << at.toStdString();
        EXPECT_EQ(QDir(in).entryList(QDir::Files).size(), 8);
    }
    EXPECT_EQ(stopping.size(), 3);  // set by each stop, cleared by the start after it

    // A folder an earlier cull made holds the frames of its project: a stopped
    // cull of the same shoot leaves it, every file whole.
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(controller.stopRequested());
    auto stopAt = QObject::connect(&controller, &EngineController::progress, [&](int percent, const QString&) {
        if (percent >= 10) controller.cancel();
    });
    controller.startCull(in, in + "_culled", 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    QObject::disconnect(stopAt);
    ASSERT_EQ(failed.size(), 1);
    const QStringList copies = QDir(in + "/raw_JPG").entryList(QDir::Files);
    ASSERT_EQ(copies.size(), 8);
    for (const QString& name : copies) EXPECT_FALSE(cv::imread((in + "/raw_JPG/" + name).toStdString()).empty());
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    EXPECT_EQ(store.listProjects().size(), 1);
}

TEST_F(Controller, AStopWhileSavingFinishesTheProject) {
    QSignalSpy finished(&controller, &EngineController::finished), failed(&controller, &EngineController::failed);
    QObject::connect(&controller, &EngineController::progress, [&](int percent, const QString&) {
        if (percent == 82) controller.cancel();
    });
    controller.startCull(shoot(), QString::fromStdString(dir.str() + "/out"), 0);
    ASSERT_TRUE(waitForEnd(finished, failed));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(controller.stopRequested());
    const int id = finished[0][0].toMap()["projectId"].toInt();
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    ASSERT_EQ(store.listProjects().size(), 1);
    EXPECT_EQ(store.listProjects()[0].toMap()["id"].toInt(), id);
    EXPECT_EQ(store.loadProjectImages(id).size(), 6);
}
