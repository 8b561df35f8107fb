// The Cull page with a real project behind it: opening, the grid, marks and
// batch actions, the viewer, the cluster popup and keyboard scrolling.
#include "ui_fixture.h"

#include "engine_controller.h"
#include "painted_frames.h"
#include "selection_model.h"

#include <QTest>

#include <algorithm>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class CullReview : public ProjectTest {
protected:
    QQuickItem* cell(const QString& filename) const { return item("cell_" + filename); }
    QQuickItem* partOf(const QString& filename, const QString& part) const {
        return UiTest::partOf("cell_" + filename, part);
    }
    // A property of a part of a grid cell; invalid when the cell is not there.
    QVariant partProp(const QString& filename, const QString& part, const char* property) const {
        return UiTest::partProp("cell_" + filename, part, property);
    }
    int markCount() const { return prop("cullPage", "markCount").toInt(); }
};

}  // namespace

TEST_F(CullReview, AStoredProjectOpensIntoTheGrid) {
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "cull");
    EXPECT_EQ(prop("summaryText", "text").toString(), "Lantern Wedding");
    EXPECT_TRUE(item("batchToolbar")->isVisible());
    EXPECT_TRUE(item("shortcutStrip")->isVisible());
    EXPECT_FALSE(item("emptyState")->isVisible());
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 6);
    EXPECT_EQ(prop("forReviewText", "text").toString(), "For Review (3)");
    // Cluster links only where the moment has more than one frame.
    EXPECT_EQ(partProp("DSC_0001.jpg", "clusterLink", "text").toString(), "PC1(3)");
    EXPECT_FALSE(partProp("DSC_0004.jpg", "clusterLink", "visible").toBool());
    EXPECT_EQ(partProp("ceremony/DSC_0007.jpg", "caption", "text").toString(), "DSC_0007.jpg");
    // The category view groups by display category.
    click("categoryViewButton");
    EXPECT_EQ(prop("cullPage", "viewMode").toString(), "category");
    EXPECT_TRUE(uidriver::waitFor([&] { return prop("sectionTitle", "text").toString() == "Details"; }));
}

TEST_F(CullReview, MarksRemoveAndRestoreThroughTheDatabase) {
    // Hover + Space marks, a second Space unmarks.
    uidriver::hover(window, cell("DSC_0002.jpg"));
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(markCount(), 1);
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(markCount(), 0);
    uidriver::key(window, Qt::Key_Space);
    uidriver::click(window, partOf("ceremony/DSC_0007.jpg", "markBox"));
    EXPECT_EQ(markCount(), 2);
    EXPECT_EQ(prop("markCounter", "text").toString(), "2 checked");
    EXPECT_TRUE(prop("removeCheckedButton", "enabled").toBool());

    click("removeCheckedButton");
    EXPECT_EQ(markCount(), 0);
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 0);
    EXPECT_EQ(userSelected(id, "ceremony/DSC_0007.jpg"), 0);
    EXPECT_EQ(prop("removedHeader", "text").toString(), "Removed (2)");
    EXPECT_FALSE(prop("restoreCheckedButton", "enabled").toBool());
    EXPECT_EQ(prop("markCounter", "text").toString(), "Check images to remove or restore");

    // Restore one of them from the Removed section.
    uidriver::key(window, Qt::Key_End);  // the Removed section is last
    ASSERT_TRUE(uidriver::waitFor([&] { return partOf("DSC_0002.jpg", "markBox") != nullptr; }));
    EXPECT_EQ(partProp("DSC_0002.jpg", "markBox", "tip").toString(), "Check, then 'Restore Checked'");
    uidriver::click(window, partOf("DSC_0002.jpg", "markBox"));
    click("restoreCheckedButton");
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 1);
    EXPECT_EQ(userSelected(id, "ceremony/DSC_0007.jpg"), 0);
    EXPECT_EQ(prop("removedHeader", "text").toString(), "Removed (1)");

    // Clear Selection only forgets the marks.
    uidriver::click(window, partOf("DSC_0001.jpg", "markBox"));
    click("clearMarksButton");
    EXPECT_EQ(markCount(), 0);
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 1);
}

TEST_F(CullReview, TheViewerStepsRemovesAndKeepsRemovedImagesInItsList) {
    uidriver::click(window, partOf("DSC_0001.jpg", "openArea"));
    QObject* box = object("lightbox");
    ASSERT_TRUE(uidriver::waitFor([&] { return box->property("opened").toBool(); }));
    EXPECT_EQ(prop("lightboxTitle", "text").toString(), "DSC_0001.jpg  —  ‹ › to navigate, Esc to close");
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "1 / 6");
    EXPECT_EQ(prop("faceRowLabel", "text").toString(), "Faces (2) — check sharpness & expression");
    EXPECT_EQ(prop("lightboxKeep", "text").toString(), "In selection");
    EXPECT_TRUE(prop("lightboxKeep", "checked").toBool());

    uidriver::key(window, Qt::Key_Left);  // at the start: nothing
    EXPECT_EQ(box->property("index").toInt(), 0);
    uidriver::key(window, Qt::Key_Right);
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "3 / 6");
    for (int i = 0; i < 5; ++i) uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(box->property("index").toInt(), 5);  // clamped at the end

    // Space removes the shown image and moves on; the removed one stays in the list, marked.
    uidriver::key(window, Qt::Key_Left);
    const QString fifth = box->property("item").toMap()["filename"].toString();
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, fifth), 0);
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "6 / 6");
    EXPECT_FALSE(prop("lightboxRemoved", "visible").toBool());
    // Delete on the last image removes it where it is; again it does nothing.
    const QString last = box->property("item").toMap()["filename"].toString();
    uidriver::key(window, Qt::Key_Delete);
    uidriver::key(window, Qt::Key_Delete);
    EXPECT_EQ(userSelected(id, last), 0);
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "6 / 6");
    EXPECT_TRUE(prop("lightboxRemoved", "visible").toBool());
    EXPECT_FALSE(prop("lightboxKeep", "checked").toBool());
    uidriver::key(window, Qt::Key_Left);
    EXPECT_EQ(box->property("item").toMap()["filename"].toString(), fifth);
    EXPECT_TRUE(prop("lightboxRemoved", "visible").toBool());
    EXPECT_TRUE(box->property("opened").toBool());

    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !box->property("opened").toBool(); }));
    EXPECT_EQ(app->selection().keptCount(), 4);
    EXPECT_EQ(prop("cullPage", "scrollToFilename").toString(), fifth);
    EXPECT_EQ(prop("removedHeader", "text").toString(), "Removed (2)");
}

TEST_F(CullReview, EscapeClosesTheViewerAndTheGridFramesTheLastImage) {
    uidriver::click(window, partOf("ceremony/DSC_0007.jpg", "openArea"));
    QObject* box = object("lightbox");
    ASSERT_TRUE(uidriver::waitFor([&] { return box->property("opened").toBool(); }));
    uidriver::key(window, Qt::Key_Right);
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !box->property("opened").toBool(); }));
    EXPECT_EQ(prop("cullPage", "scrollToFilename").toString(), "reception/DSC_0009.jpg");
    EXPECT_TRUE(cell("reception/DSC_0009.jpg")->property("lastViewed").toBool());
    EXPECT_EQ(app->selection().keptCount(), 6);
}

TEST_F(CullReview, TheForReviewPoolAddsAFrameAndItsMomentLeaves) {
    uidriver::key(window, Qt::Key_End);
    click("forReviewTile");
    QObject* popup = object("clusterPopup");
    ASSERT_TRUE(uidriver::waitFor([&] { return popup->property("opened").toBool(); }));
    EXPECT_EQ(prop("clusterTitle", "text").toString(), "Unselected images");
    EXPECT_EQ(prop("clusterCount", "text").toString(), "3 photos");
    QQuickItem* tile = item("clusterCell_ceremony/DSC_0005.jpg");
    ASSERT_NE(tile, nullptr);
    uidriver::click(window, qobject_cast<QQuickItem*>(uidriver::find(tile, "keepBox")));
    // Its sibling DSC_0006 leaves with it; the venue frame stays.
    EXPECT_EQ(prop("clusterCount", "text").toString(), "1 photos");
    EXPECT_EQ(userSelected(id, "ceremony/DSC_0005.jpg"), 1);
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !popup->property("opened").toBool(); }));
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 7);
    EXPECT_EQ(prop("forReviewText", "text").toString(), "For Review (1)");
    EXPECT_EQ(partProp("ceremony/DSC_0005.jpg", "caption", "text").toString(), "DSC_0005.jpg  +");
}

TEST_F(CullReview, AClusterPopupKeepsFromTheKeyboardAndTurnsItsLinkGreen) {
    QQuickItem* link = partOf("DSC_0001.jpg", "clusterLink");
    EXPECT_FALSE(cell("DSC_0001.jpg")->property("linkReviewed").toBool());
    uidriver::click(window, link);
    QObject* popup = object("clusterPopup");
    ASSERT_TRUE(uidriver::waitFor([&] { return popup->property("opened").toBool(); }));
    EXPECT_EQ(prop("clusterTitle", "text").toString(), "portrait · cluster 1");
    EXPECT_EQ(prop("clusterCount", "text").toString(), "3 photos");
    // The first frame is current; arrows wrap; Space keeps DSC_0003.
    QObject* grid = object("clusterGrid");
    EXPECT_EQ(grid->property("currentIndex").toInt(), 0);
    uidriver::key(window, Qt::Key_Left);
    EXPECT_EQ(grid->property("currentIndex").toInt(), 2);
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 1);

    // Enter opens the viewer in cluster context; Space there drops the frame again.
    uidriver::key(window, Qt::Key_Return);
    QObject* box = object("lightbox");
    ASSERT_TRUE(uidriver::waitFor([&] { return box->property("opened").toBool(); }));
    EXPECT_EQ(box->property("context").toString(), "cluster");
    EXPECT_EQ(prop("lightboxKeep", "text").toString(), "Keep this image");
    EXPECT_TRUE(prop("lightboxKeep", "checked").toBool());
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 0);
    EXPECT_FALSE(prop("lightboxKeep", "checked").toBool());
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !box->property("opened").toBool(); }));
    EXPECT_TRUE(popup->property("opened").toBool());
    EXPECT_FALSE(uidriver::find(item("clusterCell_DSC_0003.jpg"), "keepBox")->property("checked").toBool());
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !popup->property("opened").toBool(); }));
    EXPECT_TRUE(uidriver::waitFor([&] { return cell("DSC_0001.jpg")->property("linkReviewed").toBool(); }));
}

TEST_F(UiTest, KeysScrollTheResultsWithinTheirContent) {
    start();
    std::vector<ProjectFrame> frames;
    for (int i = 0; i < 120; ++i)
        frames.push_back({"DSC_" + std::to_string(1000 + i) + ".jpg", "portrait", 1 + i / 2, true, i % 2 == 0, {}});
    const int id = storeProject(path("big"), frames, "Big");
    ASSERT_TRUE(QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, id), Q_ARG(QString, "Big"),
                                          Q_ARG(QString, path("big"))));
    QObject* results = object("results");
    ASSERT_TRUE(uidriver::waitFor([&] { return results->property("contentHeight").toDouble() > 1000; }));
    const double top = results->property("contentY").toDouble();
    uidriver::key(window, Qt::Key_Down);
    EXPECT_NEAR(results->property("contentY").toDouble(), top + 210, 0.5);
    uidriver::key(window, Qt::Key_Up);
    uidriver::key(window, Qt::Key_Up);
    EXPECT_NEAR(results->property("contentY").toDouble(), top, 0.5);
    uidriver::key(window, Qt::Key_PageDown);
    EXPECT_NEAR(results->property("contentY").toDouble(), top + 0.9 * results->property("height").toDouble(), 0.5);
    uidriver::key(window, Qt::Key_End);
    EXPECT_TRUE(uidriver::waitFor([&] { return results->property("atYEnd").toBool(); }));
    uidriver::key(window, Qt::Key_Down);
    EXPECT_TRUE(results->property("atYEnd").toBool());
    uidriver::key(window, Qt::Key_Home);
    EXPECT_TRUE(uidriver::waitFor([&] { return results->property("atYBeginning").toBool(); }));
}

TEST_F(UiTest, ACullStartedFromTheFolderDialogFillsTheGrid) {
    start();
    // A project is open; the new cull clears its grid at once.
    const int old = storeProject(path("old"), standardFrames(), "Old");
    ASSERT_TRUE(QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, old), Q_ARG(QString, "Old"),
                                          Q_ARG(QString, path("old"))));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("reviewRows", "keptShown").toInt() == 6; }));
    for (int i = 0; i < 6; ++i)
        writeFrame(dir, "shoot/DSC_000" + std::to_string(i) + ".png",
                   analysisFrame({{15, 20, 3, 0.7f + 0.03f * i}}, 640, 480, 110));
    call("mainWindow", "startCullIn", {url(path("shoot"))});
    EXPECT_EQ(prop("reviewRows", "count").toInt(), 0);
    EXPECT_EQ(prop("statusText", "text").toString(), "Processing images (detect, score, cluster)…   5%");
    EXPECT_TRUE(app->engine().running());
    EXPECT_FALSE(prop("nav_home", "enabled").toBool());
    EXPECT_TRUE(item("runningState")->isVisible());
    ASSERT_TRUE(uidriver::waitFor([&] { return !app->engine().running(); }, 120000));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("reviewRows", "keptShown").toInt() > 0; }));
    EXPECT_TRUE(prop("summaryText", "text").toString().startsWith("Selected "))
        << prop("summaryText", "text").toString().toStdString();
    EXPECT_TRUE(prop("summaryText", "text").toString().contains("Culled in"));
    // The summary gets the room it needs, whatever the width of its text in
    // fractions of a pixel.
    for (const char* elapsed : {"1s", "3s", "12s", "47s", "1m 5s", "11m 38s", "1h 2m"}) {
        const QString summary = QString("Selected 4 of 17   V:0 P:0 G:4    ·    Culled in ") + elapsed;
        object("mainWindow")->setProperty("summaryText", summary);
        uidriver::settle(window);
        EXPECT_EQ(prop("summaryText", "text").toString(), summary);
        EXPECT_FALSE(prop("summaryText", "truncated").toBool())
            << elapsed << ": " << item("summaryText")->width() << " < " << item("summaryText")->implicitWidth();
    }
    EXPECT_GE(app->selection().projectId(), 0);
    EXPECT_TRUE(prop("nav_home", "enabled").toBool());
    EXPECT_EQ(prop("mainWindow", "resultSummary").toMap()["outputBase"].toString(), path("shoot") + "_culled");
}

// The check box of a cell (and of a cluster popup tile) is drawn inside it.
TEST_F(CullReview, CheckBoxesStayInsideTheirCells) {
    const auto rightEdgeIn = [](QQuickItem* box, QQuickItem* owner) {
        auto* indicator = qobject_cast<QQuickItem*>(box->property("indicator").value<QObject*>());
        const QRectF whole = box->mapRectToItem(owner, QRectF(0, 0, box->width(), box->height()));
        const QRectF drawn = indicator->mapRectToItem(owner, QRectF(0, 0, indicator->width(), indicator->height()));
        return std::max(whole.right(), drawn.right());
    };
    QQuickItem* mark = partOf("DSC_0001.jpg", "markBox");
    ASSERT_NE(mark, nullptr);
    EXPECT_LE(rightEdgeIn(mark, cell("DSC_0001.jpg")), cell("DSC_0001.jpg")->width() - 4);

    call("clusterPopup", "openForCluster", {"portrait", 1});
    ASSERT_TRUE(uidriver::waitFor([&] { return item("clusterCell_DSC_0001.jpg") != nullptr; }));
    uidriver::settle(window);
    QQuickItem* tile = item("clusterCell_DSC_0001.jpg");
    QQuickItem* keep = UiTest::partOf("clusterCell_DSC_0001.jpg", "keepBox");
    ASSERT_NE(keep, nullptr);
    EXPECT_LE(rightEdgeIn(keep, tile), tile->width() - 5);  // inside the tile's framed card
}
