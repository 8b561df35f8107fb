// The export of the final selection and project files, through the window's
// dialogs and buttons, with the files they write.
#include "ui_fixture.h"

#include "selection_model.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class Files : public ProjectTest {
protected:
    QString messageOf(const QString& dialog) const { return prop(dialog, "text").toString(); }
    void closeDialog(const QString& name) { call(name, "close"); }
};

}  // namespace

TEST_F(Files, ExportByCategoryWithTheUnselectedImages) {
    click("categoryViewButton");
    click("exportUnselectedBox");
    EXPECT_TRUE(prop("exportUnselectedBox", "checked").toBool());
    click("exportButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportQuestionDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("exportQuestionDialog", "title").toString(), "Export unselected images?");
    EXPECT_TRUE(messageOf("exportQuestionDialog").startsWith("This will also copy 6 unselected images ("));
    // Cancel stops; OK goes on to the folder dialog.
    uidriver::click(window, qobject_cast<QQuickItem*>(uidriver::find(object("exportQuestionDialog"), "cancelButton")));
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("exportQuestionDialog", "opened").toBool(); }));
    EXPECT_FALSE(prop("exportFolderDialog", "visible").toBool());
    click("exportButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportQuestionDialog", "opened").toBool(); }));
    uidriver::click(window, qobject_cast<QQuickItem*>(uidriver::find(object("exportQuestionDialog"), "okButton")));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportFolderDialog", "visible").toBool(); }));
    closeDialog("exportFolderDialog");

    const QString dest = path("out dir");  // a blank in the name: the URL is decoded
    QDir().mkpath(dest);
    call("cullPage", "exportFinalTo", {url(dest)});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportResultDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("exportResultDialog", "title").toString(), "Export complete");
    EXPECT_EQ(messageOf("exportResultDialog"),
              "Exported 6 images to a 'final_selection' folder (organized by category).\n\nAlso exported 6 "
              "unselected images to an 'unselected' folder.");
    EXPECT_TRUE(QFile::exists(dest + "/final_selection/Details/DSC_0004.jpg"));
    EXPECT_TRUE(QFile::exists(dest + "/final_selection/ceremony/Portraits/DSC_0007.jpg"));
    EXPECT_TRUE(QFile::exists(dest + "/unselected/ceremony/Group/DSC_0005.jpg"));
}

TEST_F(Files, ExportWithoutUnselectedGoesStraightToTheFolder) {
    click("exportButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportFolderDialog", "visible").toBool(); }));
    EXPECT_FALSE(prop("exportQuestionDialog", "opened").toBool());
    closeDialog("exportFolderDialog");
    call("cullPage", "exportFinalTo", {url(path("out"))});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportResultDialog", "opened").toBool(); }));
    EXPECT_EQ(messageOf("exportResultDialog"), "Exported 6 images to a 'final_selection' folder.");
    EXPECT_TRUE(QFile::exists(path("out") + "/final_selection/reception/DSC_0010.jpg"));
}

TEST_F(Files, AProjectFileRoundTripsAndFollowsAMovedFolder) {
    // One removal, so the file carries a status change.
    app->selection().removeImage("DSC_0002.jpg");
    click("saveProjectFileButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("saveProjectDialog", "visible").toBool(); }));
    closeDialog("saveProjectDialog");
    const QString file = path("review.json");
    call("mainWindow", "saveProjectFileTo", {url(file)});
    EXPECT_EQ(messageOf("projectMessageDialog"), "Project saved.");
    EXPECT_TRUE(QFile::exists(file));
    closeDialog("projectMessageDialog");

    // Same folder: loads at once.
    call("mainWindow", "openProjectFileFrom", {url(file)});
    EXPECT_EQ(messageOf("projectMessageDialog"), "Project loaded.");
    EXPECT_EQ(prop("summaryText", "text").toString(), "Project loaded.");
    for (const auto& image : app->selection().images()) EXPECT_EQ(image.id, -1);  // an in-memory review now
    EXPECT_EQ(app->selection().keptCount(), 5);
    EXPECT_EQ(app->selection().removedCount(), 1);
    closeDialog("projectMessageDialog");

    // The photographs moved, one of them lost on the way.
    ASSERT_TRUE(QDir().rename(path("shoot"), path("moved")));
    ASSERT_TRUE(QFile::remove(path("moved") + "/reception/DSC_0009.jpg"));
    call("mainWindow", "openProjectFileFrom", {url(file)});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("movedFolderDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("movedFolderDialog", "title").toString(), "Input folder not found");
    EXPECT_EQ(messageOf("movedFolderDialog"), "The input folder saved with this project was not found:\n\n" +
                                                  path("shoot") +
                                                  "\n\nIf you moved it, click OK and select its new location.");
    uidriver::click(window, qobject_cast<QQuickItem*>(uidriver::find(object("movedFolderDialog"), "okButton")));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("newInputFolderDialog", "visible").toBool(); }));
    closeDialog("newInputFolderDialog");
    call("mainWindow", "applyProjectFile", {url(path("moved"))});
    EXPECT_EQ(messageOf("projectMessageDialog"),
              "Project loaded.\n\nNote: 1 image from the saved project was not found in the input folder and was "
              "skipped.");
    EXPECT_EQ(app->selection().inputFolder(), path("moved"));
    EXPECT_EQ(prop("mainWindow", "resultSummary").toMap()["inputFolder"].toString(), path("moved"));
    EXPECT_EQ(app->selection().keptCount(), 4);
    // The thumbnails now come from the new place.
    QQuickItem* cell = item("cell_DSC_0001.jpg");
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->property("imageFolder").toString(), path("moved"));
}

TEST_F(Files, ABrokenProjectFileIsReportedAndChangesNothing) {
    QFile junk(path("junk.json"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("[1, 2]");
    junk.close();
    call("mainWindow", "openProjectFileFrom", {url(path("junk.json"))});
    EXPECT_EQ(prop("projectMessageDialog", "title").toString(), "Open project");
    EXPECT_EQ(messageOf("projectMessageDialog"), "Not a valid project file.");
    call("mainWindow", "openProjectFileFrom", {url(path("missing.json"))});
    EXPECT_EQ(messageOf("projectMessageDialog"), "Cannot open file.");
    EXPECT_EQ(app->selection().projectId(), id);
    EXPECT_EQ(app->selection().keptCount(), 6);
}

TEST_F(Files, TheLiveCountFollowsEveryDecisionBesideTheStoredSummary) {
    const QString summary = prop("summaryText", "text").toString();
    const auto live = [&] { return prop("liveCounts", "text").toString(); };
    EXPECT_EQ(live(), "Kept 6 · no changes since the cull");
    SelectionModel& selection = app->selection();
    selection.removeImage("DSC_0002.jpg");
    EXPECT_EQ(live(), "Kept 5 · removed 1 since the cull");
    selection.addImage("DSC_0003.jpg", "portrait", 1);
    EXPECT_EQ(live(), "Kept 6 · removed 1 · added 1 since the cull");
    selection.removeMany({"DSC_0001.jpg", "reception/DSC_0009.jpg"});
    EXPECT_EQ(live(), "Kept 4 · removed 3 · added 1 since the cull");
    selection.restoreMany({"DSC_0001.jpg", "reception/DSC_0009.jpg", "DSC_0002.jpg"});
    EXPECT_EQ(live(), "Kept 7 · added 1 since the cull");
    selection.resetAll();
    EXPECT_EQ(live(), "Kept 6 · no changes since the cull");
    EXPECT_EQ(prop("summaryText", "text").toString(), summary);
}

TEST_F(Files, ExportOnlyTheRatedOrLabelledFramesInTheBackground) {
    // The dialog starts beside the shoot.
    EXPECT_EQ(prop("exportFolderDialog", "currentFolder").toUrl(),
              QUrl::fromLocalFile(QString::fromStdString(dir.str())));
    const auto idOf = [&](const QString& name) {
        for (const auto& i : app->selection().images())
            if (i.filename == name) return i.id;
        return -1;
    };
    FrameMarks three, red;
    three.rating = 3;
    red.label = ColorLabel::Red;
    ASSERT_TRUE(app->store().setFrameMarks(idOf("DSC_0004.jpg"), three));
    ASSERT_TRUE(app->store().setFrameMarks(idOf("reception/DSC_0010.jpg"), red));
    EXPECT_EQ(prop("exportMarksButton", "text").toString(), "All kept");
    const auto choose = [&](const QString& entry) {
        click("exportMarksButton");
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportMarksMenu", "opened").toBool(); }));
        uidriver::settle(window);
        click(entry);
        ASSERT_TRUE(uidriver::waitFor([&] { return !prop("exportMarksMenu", "visible").toBool(); }));
    };
    choose("exportMarksStars3");
    EXPECT_EQ(prop("exportMarksButton", "text").toString(), "★3+");
    choose("exportMarksLabelled");
    EXPECT_EQ(prop("exportMarksButton", "text").toString(), "★3+ or label");

    const QString dest = path("delivery");
    call("cullPage", "exportFinalTo", {url(dest)});
    // Copying: the progress row shows, and no second export can start.
    EXPECT_TRUE(prop("cullPage", "exporting").toBool());
    EXPECT_TRUE(item("exportProgressBar")->isVisible());
    EXPECT_TRUE(item("cancelExportButton")->isVisible());
    EXPECT_FALSE(prop("exportButton", "enabled").toBool());
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportResultDialog", "opened").toBool(); }));
    EXPECT_FALSE(prop("cullPage", "exporting").toBool());
    EXPECT_EQ(prop("exportResultDialog", "title").toString(), "Export complete");
    EXPECT_EQ(messageOf("exportResultDialog"), "Exported 2 images to a 'final_selection' folder.\n\n4 kept images "
                                               "without the chosen rating or label were left out.");
    // It names the folder, and offers to open it.
    EXPECT_EQ(prop("exportResultDialog", "detail").toString(), "In " + dest);
    EXPECT_EQ(prop("exportResultDialog", "okText").toString(), "Open Folder");
    EXPECT_EQ(prop("exportResultDialog", "cancelText").toString(), "Close");
    EXPECT_TRUE(QFile::exists(dest + "/final_selection/DSC_0004.jpg"));
    EXPECT_TRUE(QFile::exists(dest + "/final_selection/reception/DSC_0010.jpg"));
    EXPECT_EQ(QDir(dest + "/final_selection").entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(prop("exportButton", "enabled").toBool());
}
