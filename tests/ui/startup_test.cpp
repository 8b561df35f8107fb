// Start-up of the desktop program: the window, its navigation, and the
// fallbacks for missing fonts and models.
#include "ui_fixture.h"

#include "engine_controller.h"

#include <QFile>
#include <QFontDatabase>
#include <QSignalSpy>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// The font files the build copies next to the program, when set-up fetched them.
QString builtFontsFolder() { return QStringLiteral(KEEPFRAME_BUILT_FONTS_DIR "/"); }

}  // namespace

TEST_F(UiTest, OpensOnHomeAndNavigatesThePageStack) {
    start();
    EXPECT_EQ(window->title(), QString("Keepframe — Photo Culling and Enhance"));
    EXPECT_EQ(window->width(), 1250);
    EXPECT_EQ(window->height(), 760);
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
    EXPECT_EQ(prop("versionLabel", "text").toString(), "v1.0.5");

    const std::vector<std::pair<QString, int>> order = {{"cull", 1}, {"account", 2}, {"edit", 3},
                                                         {"deliver", 4}, {"about", 5}, {"home", 0}};
    for (const auto& [page, index] : order) {
        click("nav_" + page);
        EXPECT_EQ(prop("mainWindow", "activePage").toString(), page);
        EXPECT_EQ(prop("pageStack", "currentIndex").toInt(), index) << page.toStdString();
    }
    // The Cull page without a project: the empty state leads home.
    click("nav_cull");
    EXPECT_TRUE(item("emptyState")->isVisible());
    EXPECT_FALSE(item("batchToolbar")->isVisible());
    click("goHomeButton");
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
}

TEST_F(UiTest, WithoutModelsTheProgramStartsAndTheFirstCullFails) {
    start(false);
    EXPECT_EQ(app->modelsFolder(), path("program") + "/models");
    const QString shoot = path("shoot");
    ASSERT_GE(storeProject(shoot, standardFrames(), "x"), 0);
    call("mainWindow", "startCullIn", {url(shoot)});
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "cull");
    ASSERT_TRUE(uidriver::waitFor([&] { return !app->engine().running(); }, 60000));
    QObject* error = object("cullErrorDialog");
    ASSERT_TRUE(uidriver::waitFor([&] { return error->property("opened").toBool(); }));
    EXPECT_EQ(error->property("title").toString(), "Culling error");
    EXPECT_TRUE(error->property("text").toString().contains("det_10g.onnx"))
        << error->property("text").toString().toStdString();
    EXPECT_EQ(prop("mainWindow", "statusText").toString(), "Error");
}

TEST(Fonts, ComeFromTheFolderWhenTheResourcesLackThem) {
    TempDir dir;
    const QString folder = QString::fromStdString(dir.str()) + "/fonts/";
    std::filesystem::create_directories(dir.path() / "fonts");
    for (const char* file : kFontFiles) QFile::copy(builtFontsFolder() + file, folder + file);
    if (!QFile::exists(folder + "BigShouldersDisplay.ttf"))
        GTEST_SKIP() << "the build has no font files (scripts/setup.sh fetches them)";
    const QStringList installed = installFonts(":/no-such-resources/", folder);
    ASSERT_EQ(installed.size(), 4) << installed.join(", ").toStdString();
    for (const QString& line : installed) EXPECT_TRUE(line.endsWith(folder)) << line.toStdString();
    const QStringList families = QFontDatabase::families();
    EXPECT_TRUE(families.contains("Big Shoulders Display"));
    EXPECT_TRUE(families.contains("IBM Plex Mono"));
    EXPECT_TRUE(families.contains("Inter"));
}

TEST(Fonts, AMissingFontIsSkipped) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "fonts");
    QFile junk(QString::fromStdString(dir.str()) + "/fonts/Inter.ttf");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a font");
    junk.close();
    EXPECT_TRUE(installFonts(":/no-such-resources/", QString::fromStdString(dir.str()) + "/fonts/").isEmpty());
}
