// Stopping a running cull from the window: at the start of the analysis, in
// its middle and while the project is saved, with what is left on disk and in
// the library afterwards, and a new cull started at once.
#include "ui_fixture.h"

#include "engine_controller.h"
#include "painted_frames.h"
#include "raw_shoot.h"

#include <QDir>
#include <QDirIterator>
#include <QTest>


using namespace keepframe;
using namespace keepframe::testing;

namespace {

class CullStop : public UiTest {
protected:
    int lastPercent = 0;

    void SetUp() override {
        UiTest::SetUp();
        start();
        QObject::connect(&app->engine(), &EngineController::progress,
                         [this](int percent, const QString&) { lastPercent = percent; });
    }

    // Frames with a face, as PNG files.
    QString imageShoot(const std::string& folder, int frames) {
        for (int i = 0; i < frames; ++i)
            writeFrame(dir, folder + "/DSC_" + std::to_string(1000 + i) + ".png",
                       analysisFrame({{15, 20, 3, 0.7f + 0.01f * float(i)}}, 640, 480, 110));
        return path(folder);
    }
    // RAW files whose previews show a face.
    QString rawShoot(const std::string& folder, int files) {
        writeRawShoot(dir, folder, files);
        return path(folder);
    }

    int projectCount() const { return int(app->selection().listProjects().size()); }
    // Every file and folder of the library's projects folder.
    QStringList projectFiles() const {
        QStringList out;
        QDirIterator it(path("library/projects"), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) out << it.next();
        out.sort();
        return out;
    }
    bool waitUntilStopped() {
        return uidriver::waitFor([&] { return !app->engine().running(); }, 120000);
    }
    void clickCancel() {
        QQuickItem* button = item("cancelCullButton");
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible());
        uidriver::click(window, button);
    }
    // Culls `folder` to its end and checks a project came of it.
    void cullToTheEnd(const QString& folder) {
        const int before = projectCount();
        call("mainWindow", "startCullIn", {url(folder)});
        ASSERT_TRUE(app->engine().running());
        ASSERT_TRUE(waitUntilStopped());
        ASSERT_TRUE(uidriver::waitFor([&] { return app->selection().hasData(); }))
            << prop("mainWindow", "statusText").toString().toStdString();
        EXPECT_EQ(projectCount(), before + 1);
        EXPECT_FALSE(prop("cullErrorDialog", "opened").toBool());
    }
};

}  // namespace

TEST_F(CullStop, StoppedEarlyARawCullLeavesNoConversionFolderAndTheNextOneRuns) {
    const QString shoot = rawShoot("raw", 12);
    const QStringList libraryBefore = projectFiles();
    call("mainWindow", "startCullIn", {url(shoot)});
    EXPECT_EQ(prop("cancelCullButton", "text").toString(), "Cancel");
    // The analysis has begun: every RAW file is converted by now.
    ASSERT_TRUE(uidriver::waitFor([&] { return lastPercent >= 10 || !app->engine().running(); }, 60000));
    ASSERT_TRUE(app->engine().running()) << "the cull ended before it could be stopped";
    clickCancel();
    EXPECT_TRUE(app->engine().stopRequested());
    EXPECT_EQ(prop("cancelCullButton", "text").toString(), "Stopping…");
    EXPECT_FALSE(prop("cancelCullButton", "enabled").toBool());
    ASSERT_TRUE(waitUntilStopped());
    uidriver::settle(window);

    EXPECT_FALSE(prop("cullErrorDialog", "opened").toBool());
    EXPECT_EQ(projectCount(), 0);
    EXPECT_EQ(projectFiles(), libraryBefore);
    EXPECT_FALSE(QDir(shoot + "/raw_JPG").exists());
    EXPECT_EQ(QDir(shoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 12);
    // Back on Home, where the cull was started from, with nothing open.
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
    EXPECT_FALSE(app->selection().hasData());
    EXPECT_TRUE(prop("newProjectButton", "enabled").toBool());

    cullToTheEnd(shoot);
    EXPECT_TRUE(QDir(shoot + "/raw_JPG").exists());
    EXPECT_EQ(QDir(shoot + "/raw_JPG").entryList(QDir::Files).size(), 12);
}

TEST_F(CullStop, EscapeHalfwayBringsBackTheOpenProject) {
    const int id = openStandardProject();
    ASSERT_TRUE(uidriver::waitFor([&] { return item("cell_DSC_0001.jpg") != nullptr; }));
    const QString summary = prop("summaryText", "text").toString();
    const QString shoot = imageShoot("next", 40);  // enough that halfway is well before the save
    const QStringList libraryBefore = projectFiles();
    call("mainWindow", "startCullIn", {url(shoot)});
    ASSERT_TRUE(uidriver::waitFor([&] { return lastPercent >= 50 || !app->engine().running(); }, 60000));
    ASSERT_TRUE(app->engine().running()) << "the cull ended before it could be stopped";
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(app->engine().stopRequested());
    ASSERT_TRUE(waitUntilStopped());
    uidriver::settle(window);

    EXPECT_FALSE(prop("cullErrorDialog", "opened").toBool());
    EXPECT_EQ(projectCount(), 1);
    EXPECT_EQ(projectFiles(), libraryBefore);
    EXPECT_EQ(QDir(shoot).entryList(QDir::Files).size(), 40);
    // The project open before is open again, as it was.
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "cull");
    EXPECT_EQ(app->selection().projectId(), id);
    EXPECT_EQ(app->selection().keptCount(), 6);
    EXPECT_EQ(prop("summaryText", "text").toString(), summary);
    ASSERT_TRUE(uidriver::waitFor([&] { return item("cell_DSC_0001.jpg") != nullptr; }));
    // Escape with no cull running stops nothing and leaves the page alone.
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(app->selection().projectId(), id);
}

TEST_F(CullStop, AStopWhileSavingKeepsTheProjectAndSaysSo) {
    const QString shoot = imageShoot("shoot", 6);
    // Pressed the moment the window shows that the project is being saved.
    bool pressed = false;
    QObject::connect(&app->engine(), &EngineController::progress, [&](int percent, const QString&) {
        if (percent < 82 || pressed) return;
        pressed = true;
        QMetaObject::invokeMethod(object("cancelCullButton"), "clicked");
    });
    call("mainWindow", "startCullIn", {url(shoot)});
    ASSERT_TRUE(waitUntilStopped());
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(app->engine().stopRequested());
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("projectMessageDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("projectMessageDialog", "title").toString(), "Cull saved");
    EXPECT_EQ(prop("projectMessageDialog", "text").toString(),
              "The cull was already saving its project when it was stopped, so the project was saved and is open.");
    EXPECT_FALSE(prop("cullErrorDialog", "opened").toBool());
    EXPECT_EQ(projectCount(), 1);
    EXPECT_TRUE(app->selection().hasData());
    EXPECT_EQ(app->selection().projectId(), app->selection().listProjects()[0].toMap()["id"].toInt());
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "cull");
    call("projectMessageDialog", "close");

    cullToTheEnd(imageShoot("second", 4));
    EXPECT_FALSE(app->engine().stopRequested());
}
