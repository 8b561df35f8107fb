// The final export in the background through SelectionModel, with real JPEG
// files and a real project library: stopped halfway, completed, and limited to
// the frames the photographer rated or labelled.
#include "export_jobs.h"
#include "library_fixture.h"
#include "project_store.h"
#include "selection_model.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace keepframe;
using keepframe::testing::LibraryFixture;

namespace {

struct BackgroundExport : LibraryFixture {
    // Stores a project of `count` small JPEG frames, all kept but every
    // seventh, and loads it.
    void save(int count) {
        CullResult r;
        for (int i = 0; i < count; ++i) {
            const std::string name =
                (i % 2 ? "ceremony/" : "") + std::string("DSC_") + std::to_string(1000 + i) + ".jpg";
            cv::Mat frame(120, 160, CV_8UC3);
            cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(255));
            cv::putText(frame, std::to_string(i), {10, 60}, cv::FONT_HERSHEY_SIMPLEX, 1.0, {255, 255, 255}, 2);
            std::vector<uint8_t> bytes;
            cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, 95});
            QDir().mkpath(QString::fromStdString(dir.str() + "/shoot/ceremony"));
            QFile file(QString::fromStdString(dir.str() + "/shoot/" + name));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
            file.close();
            ResultImage img;
            img.filename = name;
            img.path = dir.str() + "/shoot/" + name;
            img.category = Category::Portrait;
            img.clusterNumber = i;
            img.engineSelected = i % 7 != 0;
            img.isPrimary = img.engineSelected;
            r.images.push_back(img);
        }
        r.totalInput = count;
        projectId = store.saveCullResult(r, input, {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
        ASSERT_TRUE(model.loadFromProject(projectId, input));
    }
    QVariantMap waitForEnd(QSignalSpy& finished) {
        if (finished.isEmpty()) EXPECT_TRUE(finished.wait(60000));
        EXPECT_FALSE(model.exportRunning());
        return finished.isEmpty() ? QVariantMap() : finished.takeFirst()[0].toMap();
    }
    // Kept or not.
    int idOf(const QString& name) {
        for (const QVariant& v : store.loadProjectImages(projectId))
            if (v.toMap()["filename"].toString() == name) return v.toMap()["id"].toInt();
        return -1;
    }
};

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST_F(BackgroundExport, StoppedHalfwayEveryCopyIsWholeThenACompleteRunCopiesAll) {
    save(300);
    const int kept = model.keptCount();
    ASSERT_EQ(kept, 257);
    QSignalSpy finished(&model, &SelectionModel::exportFinished);
    QSignalSpy running(&model, &SelectionModel::exportRunningChanged);
    const QString dest = QString::fromStdString(dir.str() + "/out");
    ASSERT_TRUE(model.startExportFinal("file://" + dest, {}));
    EXPECT_TRUE(model.exportRunning());
    EXPECT_EQ(model.exportProgressTotal(), kept);
    EXPECT_FALSE(model.startExportFinal(dest, {}));  // one at a time
    while (model.exportRunning() && model.exportProgressDone() < kept / 2) QThread::yieldCurrentThread();
    model.cancelExport();
    const QVariantMap stopped = waitForEnd(finished);
    EXPECT_EQ(running.size(), 2);
    ASSERT_TRUE(stopped["stopped"].toBool()) << "the export ended before it could be stopped";
    const int copied = stopped["selected"].toInt();
    EXPECT_GE(copied, kept / 2);
    EXPECT_LT(copied, kept);
    EXPECT_EQ(copied + stopped["notCopied"].toInt(), kept);
    EXPECT_EQ(stopped["destination"].toString(), dest);
    EXPECT_TRUE(stopped["skipped"].toList().isEmpty());
    // Only whole copies under their own names: no temporary file is left.
    const QStringList first = filesBelow(dest + "/final_selection");
    ASSERT_EQ(first.size(), copied);
    for (const QString& name : first) {
        ASSERT_TRUE(QFile::exists(input + "/" + name)) << name.toStdString();
        EXPECT_EQ(bytesOf(dest + "/final_selection/" + name), bytesOf(input + "/" + name)) << name.toStdString();
    }

    // Again into the same folder, to the end: an earlier export's copies are
    // replaced, a frame missing from the shoot is named and the rest copied.
    ASSERT_TRUE(QFile::remove(input + "/DSC_1002.jpg"));
    ASSERT_TRUE(model.startExportFinal(dest, {}));
    const QVariantMap done = waitForEnd(finished);
    EXPECT_FALSE(done["stopped"].toBool());
    EXPECT_EQ(done["notCopied"].toInt(), 0);
    EXPECT_EQ(done["selected"].toInt(), kept - 1);
    EXPECT_EQ(model.exportProgressDone(), kept);
    const QVariantList skipped = done["skipped"].toList();
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_EQ(skipped[0].toMap()["file"].toString(), "DSC_1002.jpg");
    EXPECT_EQ(skipped[0].toMap()["reason"].toString(), "missing from the input folder");
    // The copy the stopped run made of the frame gone since stays.
    const QStringList all = filesBelow(dest + "/final_selection");
    EXPECT_EQ(all.size(), kept - 1 + (first.contains("DSC_1002.jpg") ? 1 : 0));
    for (const QString& name : all) EXPECT_FALSE(name.contains(" (2)")) << name.toStdString();
}

TEST_F(BackgroundExport, OnlyFramesWithEnoughStarsOrALabelWhenAsked) {
    save(8);  // DSC_1000 and ceremony/DSC_1007 are not kept
    const auto mark = [&](const QString& name, std::optional<int> stars, ColorLabel label) {
        FrameMarks m;
        m.rating = stars;
        m.label = label;
        ASSERT_TRUE(store.setFrameMarks(idOf(name), m)) << store.lastError().toStdString();
    };
    mark("DSC_1000.jpg", 5, ColorLabel::Red);  // removed by the cull: never exported as kept
    mark("ceremony/DSC_1001.jpg", 2, ColorLabel::None);
    mark("DSC_1002.jpg", 3, ColorLabel::None);
    mark("ceremony/DSC_1003.jpg", 5, ColorLabel::None);
    mark("DSC_1004.jpg", std::nullopt, ColorLabel::Blue);
    mark("ceremony/DSC_1005.jpg", 0, ColorLabel::None);

    QSignalSpy finished(&model, &SelectionModel::exportFinished);
    const auto exported = [&](const QString& folder, const QVariantMap& options) {
        const QString dest = QString::fromStdString(dir.str() + "/" + folder.toStdString());
        EXPECT_TRUE(model.startExportFinal(dest, options));
        const QVariantMap r = waitForEnd(finished);
        EXPECT_EQ(r["selected"].toInt() + r["filteredOut"].toInt(), 6) << folder.toStdString();
        return filesBelow(dest + "/final_selection");
    };
    EXPECT_EQ(exported("stars", {{"minStars", 3}}), (QStringList{"DSC_1002.jpg", "ceremony/DSC_1003.jpg"}));
    EXPECT_EQ(exported("label", {{"labelled", true}}), (QStringList{"DSC_1004.jpg"}));
    EXPECT_EQ(exported("either", {{"minStars", 3}, {"labelled", true}}),
              (QStringList{"DSC_1002.jpg", "DSC_1004.jpg", "ceremony/DSC_1003.jpg"}));
    EXPECT_EQ(exported("five", {{"minStars", 5}}), (QStringList{"ceremony/DSC_1003.jpg"}));
    EXPECT_EQ(exported("all", {{"minStars", 0}, {"labelled", false}}).size(), 6);

    // The unselected frames go as they always did, whatever their marks.
    const QString dest = QString::fromStdString(dir.str() + "/with");
    ASSERT_TRUE(model.startExportFinal(dest, {{"minStars", 4}, {"includeUnselected", true}}));
    const QVariantMap r = waitForEnd(finished);
    EXPECT_EQ(r["selected"].toInt(), 1);
    EXPECT_EQ(r["unselected"].toInt(), 2);
    EXPECT_EQ(r["filteredOut"].toInt(), 5);
    EXPECT_EQ(filesBelow(dest), (QStringList{"final_selection/ceremony/DSC_1003.jpg", "unselected/DSC_1000.jpg",
                                             "unselected/ceremony/DSC_1007.jpg"}));
}

TEST_F(BackgroundExport, TheEditedVersionsGoInTheBackgroundToo) {
    save(4);
    QSignalSpy finished(&model, &SelectionModel::exportFinished);
    const QString dest = QString::fromStdString(dir.str() + "/edited");
    ASSERT_TRUE(model.startExportEdited(dest));
    const QVariantMap none = waitForEnd(finished);
    EXPECT_EQ(none["enhanced"].toInt(), 0);
    EXPECT_EQ(none["plus"].toInt(), 0);

    ASSERT_TRUE(model.enhanceImage(idOf("ceremony/DSC_1001.jpg"), "ceremony/DSC_1001.jpg", false));
    ASSERT_TRUE(model.enhanceImage(idOf("DSC_1002.jpg"), "DSC_1002.jpg", true));
    ASSERT_TRUE(model.startExportEdited(dest));
    const QVariantMap r = waitForEnd(finished);
    EXPECT_EQ(r["enhanced"].toInt(), 1);
    EXPECT_EQ(r["plus"].toInt(), 1);
    EXPECT_EQ(r["destination"].toString(), dest);
    EXPECT_EQ(filesBelow(dest), (QStringList{"enhanced/ceremony/DSC_1001.jpg", "enhanced_plus/DSC_1002.jpg"}));
}

TEST(ExportJobsAlone, AnEmptyPlanEndsAtOnceAndAStopWaitsQuietly) {
    ExportJobs jobs;
    QSignalSpy finished(&jobs, &ExportJobs::finished);
    ASSERT_TRUE(jobs.start(ExportPlan{}));
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished[0][0].toMap()["selected"].toInt(), 0);
    EXPECT_FALSE(finished[0][0].toMap()["stopped"].toBool());
    EXPECT_FALSE(jobs.isRunning());

    ExportPlan plan;
    plan.inputFolder = "/nowhere";
    plan.copies.append({"a.jpg", "/nowhere/out", {}, ExportCopy::Kind::Selected});
    ASSERT_TRUE(jobs.start(plan));
    jobs.stop();  // its end is not told
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(jobs.isRunning());
}
