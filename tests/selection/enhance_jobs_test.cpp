// Enhancement batches and edited outputs of SelectionModel through a real
// ProjectStore on temporary SQLite files, real JPEG files and the real colour
// pipeline.
#include "enhance_buffers.h"
#include "enhance_jobs.h"
#include "enhance_pipeline.h"
#include "exif_writer.h"
#include "jpeg_encoder.h"
#include "library_fixture.h"
#include "project_store.h"
#include "selection_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QUrl>

#include <chrono>
#include <fstream>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace keepframe;
using keepframe::testing::LibraryFixture;

namespace {

struct Photo {
    std::string name;
    bool selected = true;
    int width = 96, height = 64;
};

struct Enhance : LibraryFixture {
    // Writes one JPEG per photo (a warm scene with grain and a face box) and
    // stores them as a culled project, which the model then opens.
    void save(const std::vector<Photo>& photos) {
        CullResult r;
        cv::RNG rng(5);
        for (const Photo& p : photos) {
            cv::Mat img(p.height, p.width, CV_8UC3, cv::Scalar(90, 120, 170));
            cv::Mat grain(img.size(), img.type());
            rng.fill(grain, cv::RNG::NORMAL, 0, 12);
            img += grain;
            const cv::Rect face(p.width / 4, p.height / 4, p.width / 2, p.height / 2);
            img(face).setTo(cv::Scalar(120, 150, 215));
            ASSERT_TRUE(cv::imwrite(dir.file("shoot/" + p.name), img));
            ResultImage ri;
            ri.filename = p.name;
            ri.path = dir.str() + "/shoot/" + p.name;
            ri.category = Category::Portrait;
            ri.clusterNumber = 1;
            ri.engineSelected = p.selected;
            ri.isPrimary = p.selected;
            ri.faceBoxes.push_back({face.x, face.y, face.width, face.height});
            ri.faceConfidences.push_back(0.95f);
            r.images.push_back(ri);
        }
        r.totalInput = int32_t(photos.size());
        projectId = store.saveCullResult(r, input, {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
        ASSERT_TRUE(model.loadFromProject(projectId, input));
    }
    std::vector<Photo> numbered(int count, int width = 96, int height = 64) {
        std::vector<Photo> photos;
        for (int i = 0; i < count; ++i)
            photos.push_back({"DSC_" + std::to_string(1000 + i) + ".jpg", true, width, height});
        return photos;
    }
    int idOf(const QString& name) {
        for (const QVariant& v : store.loadProjectImages(projectId))
            if (v.toMap()["filename"] == name) return v.toMap()["id"].toInt();
        return -1;
    }
    QVariantList allIds() {
        QVariantList ids;
        for (const QVariant& v : model.keptImages()) ids << v.toMap()["id"];
        return ids;
    }
    QVariantList allNames() {
        QVariantList names;
        for (const QVariant& v : model.keptImages()) names << v.toMap()["filename"];
        return names;
    }
    QString projectFolder() { return store.projectsRoot() + "/" + store.currentDbFolder(); }
    qint64 enhancedCounter() { return store.readStat("lifetime_enhanced_images"); }
    static QByteArray bytesOf(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool decodes(const QString& path) { return !cv::imread(path.toStdString(), cv::IMREAD_COLOR).empty(); }
    // Waits until the batch has ended on the worker side, without running the event loop.
    void spinUntilStopped() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (model.enhanceIsRunning() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    void spinUntilDone(int atLeast) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (model.enhanceProgressDone() < atLeast && model.enhanceIsRunning() &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
    }
};

}  // namespace

TEST(EnhanceWorkers, AboutThirtyPercentOfTheHardwareThreads) {
    EXPECT_EQ(enhanceWorkerCount(1, 100), 1);
    EXPECT_EQ(enhanceWorkerCount(4, 100), 1);
    EXPECT_EQ(enhanceWorkerCount(16, 100), 5);
    EXPECT_EQ(enhanceWorkerCount(5, 100), 2);   // 1.5 rounds up
    EXPECT_EQ(enhanceWorkerCount(15, 100), 5);  // 4.5 rounds up
    EXPECT_EQ(enhanceWorkerCount(16, 1), 1);    // never more workers than images
    EXPECT_EQ(enhanceWorkerCount(64, 3), 3);
    EXPECT_EQ(enhanceWorkerCount(0, 10), 1);    // unknown thread count
}

TEST_F(Enhance, RefusedStartsChangeNoCounter) {
    save(numbered(3));
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    ASSERT_TRUE(model.enhanceImagesParallel(allIds().mid(0, 2), allNames().mid(0, 2), false));
    ASSERT_TRUE(finished.wait(30000));
    ASSERT_EQ(enhancedCounter(), 2);
    auto unchanged = [&] {
        EXPECT_EQ(model.enhanceProgressDone(), 2);
        EXPECT_EQ(model.enhanceProgressTotal(), 2);
        EXPECT_FALSE(model.enhanceIsRunning());
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(enhancedCounter(), 2);
        EXPECT_FALSE(QDir(projectFolder() + "/edited_plus").exists());
    };
    EXPECT_FALSE(model.enhanceImagesParallel(allIds(), allNames().mid(0, 2), true));  // 3 ids, 2 names
    unchanged();
    EXPECT_FALSE(model.enhanceImagesParallel({}, {}, true));
    unchanged();

    ASSERT_TRUE(model.enhanceImagesParallel(allIds(), allNames(), false));
    EXPECT_FALSE(model.enhanceImagesParallel(allIds(), allNames(), true));  // one batch at a time
    EXPECT_EQ(model.enhanceProgressTotal(), 3);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(enhancedCounter(), 5);

    model.clear();  // no project: nothing starts
    EXPECT_FALSE(model.enhanceImagesParallel(QVariantList{1}, QVariantList{"DSC_1000.jpg"}, false));
    EXPECT_FALSE(model.enhanceImage(1, "DSC_1000.jpg", false));
    EXPECT_EQ(model.enhanceProgressDone(), 3);
    EXPECT_EQ(enhancedCounter(), 5);
}

TEST_F(Enhance, OneImageBatchWritesOneCheckedFile) {
    save({{"DSC_0001.jpg", true, 160, 120}});
    const int id = idOf("DSC_0001.jpg");
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    ASSERT_TRUE(model.enhanceImagesParallel({id}, {"DSC_0001.jpg"}, true));
    EXPECT_EQ(model.enhanceProgressTotal(), 1);
    ASSERT_TRUE(finished.wait(30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(model.enhanceIsRunning());
    EXPECT_EQ(model.enhanceProgressDone(), 1);
    EXPECT_TRUE(model.enhanceFailures().isEmpty());
    EXPECT_TRUE(model.hasEdited(id, true));
    EXPECT_FALSE(model.hasEdited(id, false));
    EXPECT_EQ(filesBelow(projectFolder() + "/edited_plus"), QStringList{QString::number(id) + ".jpg"});
    const cv::Mat out = cv::imread((projectFolder() + "/edited_plus/" + QString::number(id) + ".jpg").toStdString());
    EXPECT_EQ(out.size(), cv::Size(160, 120));
    EXPECT_EQ(enhancedCounter(), 1);
    const QVariantMap usage = model.usageCounters();
    EXPECT_EQ(usage["lifetimeProjects"].toLongLong(), 1);
    EXPECT_EQ(usage["lifetimeCulledImages"].toLongLong(), 1);
    EXPECT_EQ(usage["lifetimeEnhancedImages"].toLongLong(), 1);
}

TEST_F(Enhance, FailedImagesAreNamedAndNotCounted) {
    save(numbered(4, 320, 240));
    std::ofstream(dir.file("shoot/DSC_1001.jpg"), std::ios::trunc) << "not a photograph";
    // Cut short, as a card that was pulled too early leaves it: the decoder
    // would fill the rest with grey, and that is no photograph to correct.
    const QString cut = QString::fromStdString(dir.file("shoot/DSC_1003.jpg"));
    ASSERT_TRUE(QFile::resize(cut, QFileInfo(cut).size() * 6 / 10));
    ASSERT_TRUE(cv::imwrite(dir.file("outside.jpg"), cv::Mat(32, 32, CV_8UC3, cv::Scalar(60, 90, 140))));
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    const QVariantList ids{idOf("DSC_1000.jpg"), idOf("DSC_1001.jpg"), idOf("DSC_1002.jpg"), idOf("DSC_1003.jpg"),
                           99};
    const QVariantList names{"DSC_1000.jpg", "DSC_1001.jpg", "DSC_1002.jpg", "DSC_1003.jpg", "../outside.jpg"};
    ASSERT_TRUE(model.enhanceImagesParallel(ids, names, false));
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(model.enhanceProgressDone(), 5);
    EXPECT_EQ(model.enhanceFailures(), (QStringList{"DSC_1001.jpg", "DSC_1003.jpg", "../outside.jpg"}));
    EXPECT_EQ(enhancedCounter(), 2);
    EXPECT_FALSE(model.hasEdited(idOf("DSC_1001.jpg")));
    EXPECT_FALSE(model.hasEdited(99));
    EXPECT_EQ(filesBelow(projectFolder() + "/edited").size(), 2);
    EXPECT_FALSE(model.enhanceImage(idOf("DSC_1001.jpg"), "DSC_1001.jpg"));
    EXPECT_EQ(enhancedCounter(), 2);
}

TEST_F(Enhance, CancelledBatchEndsOnceAndCountsWhatItWrote) {
    save(numbered(100, 400, 300));
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    ASSERT_TRUE(model.enhanceImagesParallel(allIds(), allNames(), true));
    EXPECT_TRUE(model.enhanceIsRunning());
    spinUntilDone(1);
    model.cancelEnhance();
    ASSERT_TRUE(finished.wait(30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(model.enhanceIsRunning());
    EXPECT_EQ(model.enhanceProgressTotal(), 100);
    EXPECT_GE(model.enhanceProgressDone(), 1);
    EXPECT_LT(model.enhanceProgressDone(), 100);
    EXPECT_TRUE(model.enhanceFailures().isEmpty());  // images never started are not failures
    const QStringList written = filesBelow(projectFolder() + "/edited_plus");
    EXPECT_EQ(written.size(), model.enhanceProgressDone());
    EXPECT_EQ(enhancedCounter(), written.size());
    for (const QString& f : written) EXPECT_TRUE(f.endsWith(".jpg") && !f.contains(".part")) << f.toStdString();
}

TEST_F(Enhance, EveryBatchEndsExactlyOnce) {
    save(numbered(6));
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    // The next batch starts before the previous one's end notice reached the event loop.
    ASSERT_TRUE(model.enhanceImagesParallel(allIds().mid(0, 3), allNames().mid(0, 3), false));
    spinUntilStopped();
    ASSERT_TRUE(model.enhanceImagesParallel(allIds().mid(3), allNames().mid(3), false));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(enhancedCounter(), 3);
    ASSERT_TRUE(finished.wait(30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 2);
    EXPECT_EQ(enhancedCounter(), 6);

    // Stopping (as at quit) ends the batch at once; its queued notice changes nothing later.
    ASSERT_TRUE(model.enhanceImagesParallel(allIds(), allNames(), true));
    model.stopEnhance();
    EXPECT_FALSE(model.enhanceIsRunning());
    EXPECT_EQ(finished.count(), 3);
    const qint64 counter = enhancedCounter();
    EXPECT_EQ(counter, 6 + filesBelow(projectFolder() + "/edited_plus").size());
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.count(), 3);
    EXPECT_EQ(enhancedCounter(), counter);
}

TEST_F(Enhance, DestroyingTheModelMidBatchLeavesOnlyWholeFiles) {
    save(numbered(40, 400, 300));
    auto doomed = std::make_unique<SelectionModel>();
    doomed->setStore(&store);
    ASSERT_TRUE(doomed->loadFromProject(projectId, input));
    ASSERT_TRUE(doomed->enhanceImagesParallel(allIds(), allNames(), true));
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (doomed->enhanceProgressDone() < 1 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    doomed.reset();
    QCoreApplication::processEvents();  // the batch's queued notice must not reach a destroyed model

    const QStringList written = filesBelow(projectFolder() + "/edited_plus");
    EXPECT_GE(written.size(), 1);
    EXPECT_LT(written.size(), 40);
    for (const QString& f : written) {
        EXPECT_FALSE(f.contains(".part")) << f.toStdString();
        EXPECT_TRUE(decodes(projectFolder() + "/edited_plus/" + f)) << f.toStdString();
    }
    EXPECT_EQ(enhancedCounter(), written.size());
}

TEST_F(Enhance, RenamingOrDeletingTheOpenProjectStopsItsBatchFirst) {
    save(numbered(60, 400, 300));
    QSignalSpy finished(&model, &SelectionModel::enhanceFinished);
    ASSERT_TRUE(model.enhanceImagesParallel(allIds(), allNames(), true));
    spinUntilDone(1);
    ASSERT_TRUE(model.renameProject(projectId, "Moved Wedding"));
    EXPECT_FALSE(model.enhanceIsRunning());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(model.enhanceFailures().isEmpty());  // no image lost its folder halfway
    const QString moved = store.projectsRoot() + "/Moved_Wedding_p" + QString::number(projectId);
    const QStringList written = filesBelow(moved + "/edited_plus");
    EXPECT_EQ(written.size(), model.enhanceProgressDone());
    EXPECT_EQ(enhancedCounter(), written.size());
    for (const QString& f : written) EXPECT_TRUE(decodes(moved + "/edited_plus/" + f)) << f.toStdString();

    ASSERT_TRUE(model.enhanceImagesParallel(allIds(), allNames(), false));
    spinUntilDone(1);
    ASSERT_TRUE(model.deleteProject(projectId));
    EXPECT_FALSE(model.enhanceIsRunning());
    EXPECT_EQ(finished.count(), 2);
    EXPECT_FALSE(QDir(moved).exists());
}

TEST_F(Enhance, EditedUrlsPreferEnhancePlus) {
    save({{"a.jpg"}, {"b.jpg"}, {"c.jpg"}});
    const int a = idOf("a.jpg"), b = idOf("b.jpg"), c = idOf("c.jpg");
    ASSERT_TRUE(model.enhanceImage(a, "a.jpg", false));
    ASSERT_TRUE(model.enhanceImage(a, "a.jpg", true));
    ASSERT_TRUE(model.enhanceImage(b, "b.jpg"));
    EXPECT_EQ(enhancedCounter(), 3);
    const QString folder = projectFolder();
    auto url = [&](const QString& level, int id) {
        return QUrl::fromLocalFile(folder + level + QString::number(id) + ".jpg").toString();
    };
    EXPECT_EQ(model.bestEditedUrl(a), url("/edited_plus/", a));
    EXPECT_EQ(model.bestEditedUrl(b), url("/edited/", b));
    EXPECT_EQ(model.bestEditedUrl(c), QString());
    EXPECT_EQ(model.editedUrl(b, true), QString());
    EXPECT_TRUE(model.hasEdited(a, false) && model.hasEdited(a, true));

    EXPECT_EQ(model.originalUrl("c.jpg"), QUrl::fromLocalFile(input + "/c.jpg").toString());
    EXPECT_EQ(model.originalUrl("missing.jpg"), QString());
    EXPECT_EQ(model.originalUrl(""), QString());
    ASSERT_TRUE(cv::imwrite(dir.file("secret.jpg"), cv::Mat(32, 32, CV_8UC3, cv::Scalar(60, 90, 140))));
    EXPECT_EQ(model.originalUrl("../secret.jpg"), QString());

    // A renamed project keeps its edited files under its new folder name.
    ASSERT_TRUE(model.renameProject(projectId, "Renamed Wedding"));
    EXPECT_TRUE(model.bestEditedUrl(b).contains("/Renamed_Wedding_p"));
}

TEST_F(Enhance, ExportRecreatesSubFoldersAndNeverReplacesFiles) {
    save({{"ceremony/DSC_1.jpg"}, {"reception/DSC_2.jpg"}, {"DSC_3.jpg"}, {"ceremony/DSC_4.jpg"}, {"DSC_5.png"}});
    for (const QString name : {"ceremony/DSC_1.jpg", "reception/DSC_2.jpg", "ceremony/DSC_4.jpg", "DSC_5.png"})
        ASSERT_TRUE(model.enhanceImage(idOf(name), name, false));
    ASSERT_TRUE(model.enhanceImage(idOf("DSC_3.jpg"), "DSC_3.jpg", true));
    ASSERT_TRUE(model.enhanceImage(idOf("ceremony/DSC_4.jpg"), "ceremony/DSC_4.jpg", true));
    model.removeImage("ceremony/DSC_4.jpg");

    const QString dest = QString::fromStdString(dir.str() + "/delivered");
    EXPECT_EQ(model.exportEdited("file://" + dest), (QVariantList{3, 1}));
    EXPECT_EQ(filesBelow(dest), (QStringList{"enhanced/DSC_5.png", "enhanced/ceremony/DSC_1.jpg",
                                             "enhanced/reception/DSC_2.jpg", "enhanced_plus/DSC_3.jpg"}));
    const QString edited1 = projectFolder() + "/edited/" + QString::number(idOf("ceremony/DSC_1.jpg")) + ".jpg";
    EXPECT_EQ(bytesOf(dest + "/enhanced/ceremony/DSC_1.jpg"), bytesOf(edited1));

    // Exporting again keeps the first copies and adds numbered ones beside them.
    QFile::remove(edited1);
    ASSERT_TRUE(model.enhanceImage(idOf("ceremony/DSC_1.jpg"), "ceremony/DSC_1.jpg", true));
    const QByteArray first = bytesOf(dest + "/enhanced/ceremony/DSC_1.jpg");
    EXPECT_EQ(model.exportEdited(dest), (QVariantList{2, 2}));
    EXPECT_EQ(bytesOf(dest + "/enhanced/ceremony/DSC_1.jpg"), first);
    EXPECT_TRUE(QFile::exists(dest + "/enhanced/DSC_5 (2).png"));
    EXPECT_TRUE(QFile::exists(dest + "/enhanced_plus/ceremony/DSC_1.jpg"));
    EXPECT_TRUE(QFile::exists(dest + "/enhanced_plus/DSC_3 (2).jpg"));

    EXPECT_EQ(model.exportEdited(""), (QVariantList{0, 0}));
}

TEST_F(Enhance, ExportIntoTheShootLeavesItsPhotographsAlone) {
    save({{"DSC_7.jpg"}, {"enhanced/DSC_7.jpg"}});
    const QByteArray photo = bytesOf(input + "/enhanced/DSC_7.jpg");
    ASSERT_TRUE(model.enhanceImage(idOf("DSC_7.jpg"), "DSC_7.jpg", false));
    EXPECT_EQ(model.exportEdited(input), (QVariantList{1, 0}));
    EXPECT_EQ(bytesOf(input + "/enhanced/DSC_7.jpg"), photo);
    EXPECT_TRUE(decodes(input + "/enhanced/DSC_7 (2).jpg"));
}

TEST_F(Enhance, ExportNeverWritesThroughALink) {
    save({{"DSC_1.jpg"}, {"DSC_2.jpg"}});
    for (const QString name : {"DSC_1.jpg", "DSC_2.jpg"}) ASSERT_TRUE(model.enhanceImage(idOf(name), name, false));
    const QString dest = QString::fromStdString(dir.str() + "/delivered");
    const QString aim = QString::fromStdString(dir.str() + "/aim.jpg");
    ASSERT_TRUE(QDir().mkpath(dest + "/enhanced"));
    // Left there by someone else: a link to nothing yet, and a link to a photograph of the shoot.
    const bool linked = QFile::link(aim, dest + "/enhanced/DSC_1.jpg") &&
                        QFile::link(input + "/DSC_2.jpg", dest + "/enhanced/DSC_2.jpg");
    if (!linked) GTEST_SKIP() << "links cannot be made here";
    const QByteArray photo = bytesOf(input + "/DSC_2.jpg");
    EXPECT_EQ(model.exportEdited(dest), (QVariantList{2, 0}));
    EXPECT_FALSE(QFileInfo::exists(aim));
    EXPECT_EQ(bytesOf(input + "/DSC_2.jpg"), photo);
    EXPECT_TRUE(QFileInfo(dest + "/enhanced/DSC_1.jpg").isSymLink());
    EXPECT_TRUE(decodes(dest + "/enhanced/DSC_1 (2).jpg"));
    EXPECT_TRUE(decodes(dest + "/enhanced/DSC_2 (2).jpg"));
    EXPECT_EQ(filesBelow(dest),
              (QStringList{"enhanced/DSC_1 (2).jpg", "enhanced/DSC_2 (2).jpg", "enhanced/DSC_2.jpg"}));
}

TEST_F(Enhance, StoredNamesCannotLeaveTheExportFolder) {
    save({{"x/DSC_1.jpg"}});
    const int id = idOf("x/DSC_1.jpg");
    ASSERT_TRUE(model.enhanceImage(id, "x/DSC_1.jpg", false));
    // A damaged database that names the image with a path out of its folder.
    const QString rename = QStringLiteral(R"sql(UPDATE images SET filename = '../../escaped.jpg' WHERE id = %1)sql");
    ASSERT_TRUE(store.execProjectSql(rename.arg(id)));
    ASSERT_TRUE(model.loadFromProject(projectId, input));
    const QString dest = QString::fromStdString(dir.str() + "/out/deep");
    ASSERT_TRUE(QDir().mkpath(dest + "/enhanced"));  // left by an earlier export
    EXPECT_EQ(model.exportEdited(dest), (QVariantList{0, 0}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.str() + "/out/escaped.jpg")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.str() + "/escaped.jpg")));
}

TEST_F(Enhance, DeliverableImagesPreferEnhancePlusAndSkipMissingFiles) {
    save({{"a.jpg"}, {"b.jpg"}, {"c.jpg"}, {"d.jpg"}, {"e.jpg"}});
    const int a = idOf("a.jpg"), b = idOf("b.jpg");
    ASSERT_TRUE(model.enhanceImage(a, "a.jpg", false));
    ASSERT_TRUE(model.enhanceImage(a, "a.jpg", true));
    ASSERT_TRUE(model.enhanceImage(b, "b.jpg", false));
    QFile::remove(input + "/d.jpg");
    model.removeImage("e.jpg");

    const QString folder = projectFolder();
    const QVariantList list = model.deliverableImages();
    ASSERT_EQ(list.size(), 3);
    const QStringList expected = {folder + "/edited_plus/" + QString::number(a) + ".jpg",
                                  folder + "/edited/" + QString::number(b) + ".jpg", input + "/c.jpg"};
    const QStringList names = {"a.jpg", "b.jpg", "c.jpg"};
    for (int i = 0; i < 3; ++i) {
        const QVariantMap m = list[i].toMap();
        EXPECT_EQ(m["filename"].toString(), names[i]);
        EXPECT_EQ(m["id"].toInt(), idOf(names[i]));
        EXPECT_EQ(QDir::cleanPath(m["sourcePath"].toString()), QDir::cleanPath(expected[i]));
        EXPECT_EQ(m["size"].toLongLong(), QFileInfo(expected[i]).size());
        EXPECT_EQ(m["size"].metaType(), QMetaType::fromType<qint64>());
    }
}

TEST_F(Enhance, EditedFilesAreGoneAfterARestart) {
    save({{"a.jpg"}, {"b.jpg"}});
    const int a = idOf("a.jpg"), b = idOf("b.jpg");
    ASSERT_TRUE(model.enhanceImage(a, "a.jpg", false));
    ASSERT_TRUE(model.enhanceImage(b, "b.jpg", true));
    const QString folder = projectFolder();
    model.clear();

    // The next start of the program: a fresh store purges, a fresh model opens the project.
    ProjectStore restarted;
    ASSERT_TRUE(restarted.openRegistry());
    restarted.purgeEditedOutputs();
    SelectionModel reopened;
    reopened.setStore(&restarted);
    ASSERT_TRUE(reopened.loadFromProject(projectId, input));
    for (int id : {a, b}) {
        EXPECT_FALSE(reopened.hasEdited(id, false));
        EXPECT_FALSE(reopened.hasEdited(id, true));
        EXPECT_EQ(reopened.bestEditedUrl(id), QString());
    }
    EXPECT_FALSE(QDir(folder + "/edited").exists());
    EXPECT_FALSE(QDir(folder + "/edited_plus").exists());
    EXPECT_TRUE(QFile::exists(folder + "/project.db"));
    EXPECT_EQ(reopened.deliverableImages().size(), 2);
}

// A job writes the bytes of the plain recipe (cv::imread, the pipeline, the
// enhanced-image encoder) for frames stored upright, turned a quarter either
// way, upside down, and for a PNG, of several sizes in turn through the same
// worker buffers, at both levels.
TEST(EnhanceJob, WritesThePlainRecipesBytesFrameAfterFrame) {
    keepframe::testing::TempDir dir;
    struct Frame {
        std::string name;
        cv::Size size;
        int orientation;
    };
    const Frame frames[] = {{"upright.jpg", {320, 200}, 1}, {"turned6.jpg", {320, 200}, 6},
                            {"turned8.jpg", {241, 163}, 8}, {"upside.jpg", {320, 200}, 3},
                            {"small.png", {97, 65}, 0},     {"again6.jpg", {320, 200}, 6}};
    cv::RNG rng(9);
    for (const Frame& f : frames) {
        cv::Mat img(f.size, CV_8UC3, cv::Scalar(80, 110, 160));
        cv::Mat grain(img.size(), img.type());
        rng.fill(grain, cv::RNG::NORMAL, 0, 14);
        img += grain;
        img(cv::Rect(40, 30, 90, 100) & cv::Rect(cv::Point(), f.size)).setTo(cv::Scalar(118, 148, 206));
        const std::string path = dir.file(f.name);
        if (f.orientation == 0) ASSERT_TRUE(cv::imwrite(path, img));
        else ASSERT_TRUE(shootgen::writeJpeg(path, img, {"", "", "", f.orientation}, 92));
    }
    EnhanceBuffers buffers;
    for (bool plus : {false, true}) {
        for (const Frame& f : frames) {
            const EnhanceJob job{1, dir.file(f.name), dir.file("out.jpg"), {cv::Rect(20, 20, 100, 110)}, {0.95f}, plus};
            ASSERT_TRUE(runEnhanceJob(job, buffers)) << f.name;
            std::ifstream written(dir.file("out.jpg"), std::ios::binary);
            const std::vector<uint8_t> got{std::istreambuf_iterator<char>(written), {}};

            const cv::Mat source = cv::imread(dir.file(f.name), cv::IMREAD_COLOR);
            const EnhanceResult r = EnhancePipeline::run(source, job.faces, job.confidences,
                                                         EnhanceSettings::forLevel(plus));
            std::vector<uint8_t> expected;
            ASSERT_TRUE(encodeJpeg(r.image, enhancedJpegOptions(), expected));
            EXPECT_TRUE(got == expected) << f.name << (plus ? " (Plus)" : " (Enhance)");
        }
    }
}
