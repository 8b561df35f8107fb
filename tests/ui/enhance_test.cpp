// The Enhance page with a real project: checks, batches at both levels with
// the files they write, cancelling, a frame that cannot be corrected, the
// export of the corrections, and the before/after viewer. Also the page's
// cells over a real selection.
#include "ui_fixture.h"

#include "enhance_grid_model.h"
#include "selection_model.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class EnhancePage : public UiTest {
protected:
    int id = -1;

    // Stores and opens a project, then shows the Enhance page.
    void openOnEnhance(const std::vector<ProjectFrame>& frames) {
        start();
        id = storeProject(path("shoot"), frames, "Lantern Wedding");
        ASSERT_GE(id, 0);
        QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, id),
                                  Q_ARG(QString, "Lantern Wedding"), Q_ARG(QString, path("shoot")));
        click("nav_edit");
        ASSERT_TRUE(uidriver::waitFor([&] { return cells()->count() > 0; }));
    }
    EnhanceGridModel* cells() const { return qobject_cast<EnhanceGridModel*>(object("enhanceCells")); }
    SelectionModel& selection() const { return app->selection(); }
    int imageId(const QString& filename) const {
        for (const auto& image : selection().images())
            if (image.filename == filename) return image.id;
        return -1;
    }
    QQuickItem* cell(const QString& filename) const { return item("enhanceCell_" + filename); }
    QQuickItem* partOf(const QString& filename, const QString& part) const {
        return UiTest::partOf("enhanceCell_" + filename, part);
    }
    QVariant partProp(const QString& filename, const QString& part, const char* property) const {
        return UiTest::partProp("enhanceCell_" + filename, part, property);
    }
    QString text(const QString& name) const { return prop(name, "text").toString(); }
    bool running() const { return !prop("editPage", "runningLevel").toString().isEmpty(); }
    bool waitForBatchEnd() {
        return uidriver::waitFor([&] { return !running() && !selection().enhanceIsRunning(); }, 120000);
    }
    // Files in the project's edited folder of one level.
    int editedFileCount(bool plus) const {
        int n = 0;
        for (const auto& image : selection().images()) n += selection().hasEdited(image.id, plus) ? 1 : 0;
        return n;
    }
};

// The standard project: six kept frames, one of them in "ceremony".
class StandardEnhance : public EnhancePage {
protected:
    void SetUp() override {
        EnhancePage::SetUp();
        openOnEnhance(standardFrames());
    }
};

// `n` kept frames of 1200 x 800.
std::vector<ProjectFrame> keptFrames(int n) {
    std::vector<ProjectFrame> frames;
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", 100 + i);
        frames.push_back({name, "portrait", 1 + i, true, true, {}});
    }
    return frames;
}

}  // namespace

TEST_F(EnhancePage, WithoutAProjectItAsksForOne) {
    start();
    click("nav_edit");
    EXPECT_TRUE(item("enhanceEmptyState")->isVisible());
    EXPECT_FALSE(item("enhanceGrid")->isVisible());
    EXPECT_FALSE(item("enhanceShortcuts")->isVisible());
    EXPECT_FALSE(prop("enhanceButton", "enabled").toBool());
    EXPECT_FALSE(prop("enhancePlusButton", "enabled").toBool());
    EXPECT_FALSE(prop("restoreButton", "enabled").toBool());
    EXPECT_EQ(text("checkedCounter"), "0 of 0 selected");
}

TEST_F(StandardEnhance, ARunCorrectsTheCheckedFramesAndTheGridShowsThem) {
    EXPECT_EQ(text("checkedCounter"), "6 of 6 selected");
    EXPECT_TRUE(prop("restoreButton", "enabled").toBool());
    click("uncheckAllButton");
    EXPECT_EQ(text("checkedCounter"), "0 of 6 selected");
    EXPECT_FALSE(prop("enhanceButton", "enabled").toBool());
    EXPECT_FALSE(prop("restoreButton", "enabled").toBool());
    // Hover + Space, and the cell's check box.
    uidriver::hover(window, cell("DSC_0001.jpg"));
    uidriver::key(window, Qt::Key_Space);
    uidriver::click(window, partOf("ceremony/DSC_0007.jpg", "checkBox"));
    EXPECT_EQ(text("checkedCounter"), "2 of 6 selected");
    const qint64 usageBefore = selection().usageCounters()["lifetimeEnhancedImages"].toLongLong();

    click("enhanceButton");
    ASSERT_TRUE(running());
    EXPECT_EQ(text("enhanceButton"), "Cancel");
    EXPECT_FALSE(prop("enhancePlusButton", "enabled").toBool());
    EXPECT_TRUE(item("enhanceProgressRow")->isVisible());
    EXPECT_TRUE(text("enhanceProgressLabel").startsWith("Enhance  ")) << text("enhanceProgressLabel").toStdString();
    ASSERT_TRUE(waitForBatchEnd());
    EXPECT_EQ(text("enhanceButton"), "Enhance");
    EXPECT_TRUE(prop("enhancePlusButton", "enabled").toBool());
    EXPECT_FALSE(item("enhanceProgressRow")->isVisible());
    EXPECT_FALSE(prop("enhanceFailureDialog", "opened").toBool());

    // Exactly the checked frames have a corrected file, a real JPEG.
    const int first = imageId("DSC_0001.jpg"), ceremony = imageId("ceremony/DSC_0007.jpg");
    EXPECT_TRUE(selection().hasEdited(first));
    EXPECT_TRUE(selection().hasEdited(ceremony));
    EXPECT_EQ(editedFileCount(false), 2);
    EXPECT_EQ(editedFileCount(true), 0);
    EXPECT_EQ(QImage(QUrl(selection().editedUrl(ceremony)).toLocalFile()).size(), QSize(1200, 800));
    EXPECT_EQ(selection().usageCounters()["lifetimeEnhancedImages"].toLongLong(), usageBefore + 2);

    // The cell shows the correction over the original; a check only hides it.
    ASSERT_TRUE(uidriver::waitFor([&] { return partProp("DSC_0001.jpg", "correctedImage", "visible").toBool(); }));
    EXPECT_TRUE(partProp("DSC_0001.jpg", "enhanceBadge", "visible").toBool());
    EXPECT_FALSE(partProp("DSC_0001.jpg", "plusBadge", "visible").toBool());
    EXPECT_FALSE(partProp("DSC_0002.jpg", "enhanceBadge", "visible").toBool());
    const QVariant source = partProp("DSC_0001.jpg", "correctedImage", "source");
    uidriver::click(window, partOf("DSC_0001.jpg", "checkBox"));
    EXPECT_FALSE(partProp("DSC_0001.jpg", "correctedImage", "visible").toBool());
    EXPECT_EQ(partProp("DSC_0001.jpg", "correctedImage", "status").toInt(), 1);  // still loaded
    EXPECT_EQ(partProp("DSC_0001.jpg", "correctedImage", "source"), source);
    uidriver::click(window, partOf("DSC_0001.jpg", "checkBox"));
    EXPECT_TRUE(partProp("DSC_0001.jpg", "correctedImage", "visible").toBool());

    // Enhance Plus on the same frame: the cell now shows that file.
    click("uncheckAllButton");
    uidriver::click(window, partOf("DSC_0001.jpg", "checkBox"));
    click("enhancePlusButton");
    EXPECT_EQ(text("enhancePlusButton"), "Cancel");
    EXPECT_FALSE(prop("enhanceButton", "enabled").toBool());
    EXPECT_TRUE(text("enhanceProgressLabel").startsWith("Enhance Plus  "));
    ASSERT_TRUE(waitForBatchEnd());
    EXPECT_TRUE(partProp("DSC_0001.jpg", "plusBadge", "visible").toBool());
    const QString plusSource = partProp("DSC_0001.jpg", "correctedImage", "source").toUrl().toString();
    EXPECT_TRUE(plusSource.contains("/edited_plus/")) << plusSource.toStdString();
    // Corrected again, the same file name shows the new picture, not the cached one.
    QTest::qWait(20);
    click("enhancePlusButton");
    ASSERT_TRUE(waitForBatchEnd());
    EXPECT_NE(partProp("DSC_0001.jpg", "correctedImage", "source").toUrl().toString(), plusSource);
}

TEST_F(EnhancePage, CancelEndsABatchEarlyAndCountsOnlyTheWrittenFiles) {
    openOnEnhance(keptFrames(30));
    const qint64 usageBefore = selection().usageCounters()["lifetimeEnhancedImages"].toLongLong();
    QSignalSpy finished(&selection(), &SelectionModel::enhanceFinished);
    click("enhancePlusButton");
    ASSERT_TRUE(running());
    click("enhancePlusButton");  // reads "Cancel"
    ASSERT_TRUE(waitForBatchEnd());
    EXPECT_EQ(finished.size(), 1);
    const int written = editedFileCount(true);
    EXPECT_LT(selection().enhanceProgressDone(), 30);
    EXPECT_EQ(written, selection().enhanceProgressDone());
    EXPECT_EQ(selection().usageCounters()["lifetimeEnhancedImages"].toLongLong(), usageBefore + written);
    EXPECT_EQ(text("enhancePlusButton"), "Enhance Plus");
    EXPECT_FALSE(item("enhanceProgressRow")->isVisible());
    // Frames never started are not failures.
    EXPECT_FALSE(prop("enhanceFailureDialog", "opened").toBool());
}

TEST_F(StandardEnhance, AFrameThatCannotBeReadIsNamed) {
    ASSERT_TRUE(QFile::remove(path("shoot") + "/reception/DSC_0010.jpg"));
    click("enhanceButton");
    ASSERT_TRUE(waitForBatchEnd());
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("enhanceFailureDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("enhanceFailureDialog", "title").toString(), "Enhance");
    EXPECT_EQ(text("enhanceFailureDialog"), "1 photo could not be enhanced:\n• reception/DSC_0010.jpg");
    EXPECT_EQ(editedFileCount(false), 5);
}

TEST_F(StandardEnhance, ExportCopiesTheCorrectionsIntoTheirFolders) {
    click("exportEnhancedButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("enhancedExportDialog", "visible").toBool(); }));
    EXPECT_EQ(prop("enhancedExportDialog", "title").toString(), "Choose a folder to export enhanced images");
    call("enhancedExportDialog", "close");
    call("editPage", "exportEnhancedTo", {url(path("out"))});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("enhancedExportResultDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("enhancedExportResultDialog", "title").toString(), "Export complete");
    EXPECT_EQ(text("enhancedExportResultDialog"),
              "No enhanced images to export. Click Enhance or Enhance Plus first.");
    call("enhancedExportResultDialog", "close");

    ASSERT_TRUE(selection().enhanceImage(imageId("DSC_0001.jpg"), "DSC_0001.jpg", false));
    ASSERT_TRUE(selection().enhanceImage(imageId("ceremony/DSC_0007.jpg"), "ceremony/DSC_0007.jpg", false));
    ASSERT_TRUE(selection().enhanceImage(imageId("ceremony/DSC_0007.jpg"), "ceremony/DSC_0007.jpg", true));
    call("editPage", "exportEnhancedTo", {url(path("out dir"))});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("enhancedExportResultDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("enhancedExportResultDialog", "detail").toString(), "In " + path("out dir"));
    EXPECT_EQ(text("enhancedExportResultDialog"),
              "Exported:\n• 2 Enhanced (enhanced/)\n• 1 Enhance Plus (enhanced_plus/)");
    EXPECT_TRUE(QFile::exists(path("out dir") + "/enhanced/DSC_0001.jpg"));
    EXPECT_TRUE(QFile::exists(path("out dir") + "/enhanced/ceremony/DSC_0007.jpg"));
    EXPECT_TRUE(QFile::exists(path("out dir") + "/enhanced_plus/ceremony/DSC_0007.jpg"));
    EXPECT_FALSE(QFile::exists(path("out dir") + "/enhanced_plus/DSC_0001.jpg"));
}

TEST_F(EnhancePage, TheViewerComparesLevelsWalksAndChecks) {
    std::vector<ProjectFrame> frames = keptFrames(3);
    frames[1].width = 800;  // a portrait frame
    frames[1].height = 1200;
    openOnEnhance(frames);
    const QString a = "DSC_0100.jpg", b = "DSC_0101.jpg", c = "DSC_0102.jpg";
    ASSERT_TRUE(selection().enhanceImage(imageId(a), a, false));
    ASSERT_TRUE(selection().enhanceImage(imageId(a), a, true));
    ASSERT_TRUE(selection().enhanceImage(imageId(b), b, false));
    click("nav_home");
    click("nav_edit");  // shown again: the corrections are read anew

    uidriver::click(window, partOf(a, "openArea"));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("beforeAfterViewer", "opened").toBool(); }));
    // The highest level that exists; landscape frames stacked.
    EXPECT_EQ(text("afterLabel"), "After — Enhance Plus");
    EXPECT_EQ(prop("afterImage", "source").toUrl().adjusted(QUrl::RemoveQuery).toString(),
              selection().editedUrl(imageId(a), true));
    EXPECT_EQ(prop("beforeImage", "source").toUrl().toString(), selection().originalUrl(a));
    EXPECT_EQ(prop("viewerPanes", "columns").toInt(), 1);
    EXPECT_EQ(text("viewerPosition"), "1 / 3");
    uidriver::key(window, Qt::Key_Tab);
    EXPECT_EQ(text("afterLabel"), "After — Enhance");
    EXPECT_EQ(prop("afterImage", "source").toUrl().adjusted(QUrl::RemoveQuery).toString(),
              selection().editedUrl(imageId(a), false));
    uidriver::key(window, Qt::Key_Left);  // the first frame: nothing before it
    EXPECT_EQ(text("viewerPosition"), "1 / 3");

    // A portrait frame side by side, at the one level it has.
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(text("viewerPosition"), "2 / 3");
    EXPECT_EQ(prop("viewerPanes", "columns").toInt(), 2);
    EXPECT_EQ(text("afterLabel"), "After — Enhance");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("afterImage", "status").toInt() == 1; }));
    uidriver::click(window, item("viewerNext"));
    EXPECT_EQ(text("viewerPosition"), "3 / 3");
    EXPECT_TRUE(prop("afterMissing", "visible").toBool());
    EXPECT_EQ(text("afterMissing"), "No Enhance version yet");
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(text("viewerPosition"), "3 / 3");

    // Space checks and unchecks the frame shown.
    uidriver::key(window, Qt::Key_Space);
    EXPECT_FALSE(cells()->cells()[2].checked);
    EXPECT_FALSE(prop("viewerCheck", "checked").toBool());
    EXPECT_EQ(text("checkedCounter"), "2 of 3 selected");
    uidriver::click(window, item("viewerPrev"));
    EXPECT_EQ(text("viewerPosition"), "2 / 3");

    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("beforeAfterViewer", "visible").toBool(); }));
    // Back on the grid, Space works on the hovered frame again.
    uidriver::hover(window, cell(c));
    uidriver::key(window, Qt::Key_Space);
    EXPECT_TRUE(cells()->cells()[2].checked);
}

// The cells over a real selection, without the window's page.
class EnhanceCells : public StoredProject {
protected:
    EnhanceGridModel cells;

    void SetUp() override {
        StoredProject::SetUp();
        cells.setSelection(&selection);
    }
};

TEST_F(EnhanceCells, ChecksAndCorrectionsFollowTheFiles) {
    cells.reload();  // nothing open
    EXPECT_FALSE(cells.hasProject());
    EXPECT_EQ(cells.count(), 0);

    selection.loadFromProject(id, path("shoot"));
    selection.removeImage("DSC_0002.jpg");
    cells.reload();
    EXPECT_TRUE(cells.hasProject());
    ASSERT_EQ(cells.count(), 5);  // kept frames only, all checked
    EXPECT_EQ(cells.checkedCount(), 5);
    EXPECT_EQ(cells.rowOfFile("DSC_0002.jpg"), -1);
    cells.toggle(0);
    cells.setChecked(3, false);
    cells.setChecked(3, false);  // twice changes nothing
    EXPECT_EQ(cells.checkedCount(), 3);
    const QVariantList names = cells.checkedNames();
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(names[0].toString(), cells.cells()[1].filename);  // grid order
    EXPECT_EQ(cells.checkedIds().size(), 3);
    cells.setAllChecked(true);
    EXPECT_EQ(cells.checkedCount(), 5);

    // Only the corrected frame's row changes, and again when corrected anew.
    QSignalSpy changed(&cells, &QAbstractItemModel::dataChanged);
    const int row = cells.rowOfFile("ceremony/DSC_0007.jpg");
    const int imageId = cells.cells()[row].imageId;
    ASSERT_TRUE(selection.enhanceImage(imageId, "ceremony/DSC_0007.jpg", false));
    cells.refreshEdited();
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), row);
    const QString first = cells.get(row)["editedUrl"].toString();
    EXPECT_TRUE(first.startsWith(selection.editedUrl(imageId) + "?v=")) << first.toStdString();
    cells.refreshEdited();  // nothing new
    EXPECT_EQ(changed.size(), 1);
    QTest::qWait(20);
    ASSERT_TRUE(selection.enhanceImage(imageId, "ceremony/DSC_0007.jpg", false));
    cells.refreshEdited();
    EXPECT_EQ(changed.size(), 2);
    EXPECT_NE(cells.get(row)["editedUrl"].toString(), first);
    ASSERT_TRUE(selection.enhanceImage(imageId, "ceremony/DSC_0007.jpg", true));
    cells.refreshEdited();
    EXPECT_TRUE(cells.get(row)["editedUrl"].toString().contains("/edited_plus/"));  // the best level
    EXPECT_FALSE(cells.get(row)["enhanceUrl"].toString().isEmpty());
}
