// Stars, colour labels, undo and the grid's filter on the Cull page with a
// real project behind it: the keys in the grid, the viewer, the cluster popup
// and the compare view; undo and redo of decisions made in each of them; the
// filter bar and its empty result.
#include "ui_fixture.h"

#include "selection_model.h"

#include <QTest>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class MarksReview : public ProjectTest {
protected:
    QQuickItem* cellPart(const QString& filename, const QString& part) const {
        return UiTest::partOf("cell_" + filename, part);
    }
    QVariantMap marks(const QString& filename) const { return app->selection().marksOf(filename); }
    // The marks the project database holds, read through a store of its own.
    FrameMarks stored(const QString& filename) const {
        ProjectStore reader;
        EXPECT_TRUE(reader.openRegistry());
        const QHash<int, FrameMarks> all = reader.frameMarksForProject(id);
        for (const QVariant& v : reader.loadProjectImages(id))
            if (v.toMap()["filename"] == filename) return all.value(v.toMap()["id"].toInt());
        return {};
    }
    void undo() const { uidriver::key(window, Qt::Key_Z, Qt::ControlModifier); }
    // Ctrl+Y: Ctrl+Shift+Z as the test driver sends it does not reach the handlers as one key.
    void redo() const { uidriver::key(window, Qt::Key_Y, Qt::ControlModifier); }
    bool opened(const QString& name) const { return prop(name, "opened").toBool(); }
    void openViewerOn(const QString& filename) {
        uidriver::click(window, cellPart(filename, "openArea"));
        ASSERT_TRUE(uidriver::waitFor([&] { return opened("lightbox"); }));
    }
    void openPortraitMoment() {
        call("clusterPopup", "openForCluster", {"portrait", 1});
        ASSERT_TRUE(uidriver::waitFor([&] { return item("clusterCell_DSC_0001.jpg") != nullptr; }));
    }
    bool popupKeeps(const QString& filename) const {
        QQuickItem* tile = item("clusterCell_" + filename);
        return tile && tile->property("kept").toBool();
    }
};

}  // namespace

TEST_F(MarksReview, TheKeysRateAndLabelInAllFourPlaces) {
    // The grid: the frame under the pointer, then the checked frames.
    uidriver::hover(window, item("cell_DSC_0002.jpg"));
    uidriver::key(window, Qt::Key_4);
    EXPECT_EQ(stored("DSC_0002.jpg"), FrameMarks({4, ColorLabel::None}));
    ASSERT_TRUE(uidriver::waitFor([&] { return cellPart("DSC_0002.jpg", "marksBadge")->isVisible(); }));
    EXPECT_EQ(UiTest::partProp("cell_DSC_0002.jpg", "ratingStars", "text").toString(), "★★★★");
    EXPECT_FALSE(UiTest::partProp("cell_DSC_0001.jpg", "marksBadge", "visible").toBool());
    uidriver::click(window, cellPart("DSC_0001.jpg", "markBox"));
    uidriver::click(window, cellPart("ceremony/DSC_0007.jpg", "markBox"));
    uidriver::key(window, Qt::Key_6);
    EXPECT_EQ(stored("DSC_0001.jpg").label, ColorLabel::Red);
    EXPECT_EQ(stored("ceremony/DSC_0007.jpg").label, ColorLabel::Red);
    EXPECT_EQ(stored("DSC_0002.jpg").label, ColorLabel::None);  // hovered, but the checked frames win
    EXPECT_EQ(prop("cullPage", "markCount").toInt(), 2);  // the checks stay for the next key
    EXPECT_TRUE(UiTest::partProp("cell_DSC_0001.jpg", "labelDot", "visible").toBool());
    uidriver::key(window, Qt::Key_6);  // all of them have it: cleared
    EXPECT_TRUE(stored("DSC_0001.jpg").isEmpty());

    // The viewer: the shown frame.
    openViewerOn("DSC_0004.jpg");
    uidriver::key(window, Qt::Key_3);
    uidriver::key(window, Qt::Key_8);
    EXPECT_EQ(stored("DSC_0004.jpg"), FrameMarks({3, ColorLabel::Green}));
    EXPECT_EQ(prop("lightboxMarks", "rating").toInt(), 3);
    EXPECT_EQ(prop("lightboxMarks", "label").toString(), "green");
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened("lightbox"); }));
    EXPECT_EQ(UiTest::partProp("cell_DSC_0004.jpg", "ratingStars", "text").toString(), "★★★");

    // The cluster popup: the current frame, a frame nobody kept among them.
    openPortraitMoment();
    uidriver::key(window, Qt::Key_Right);
    uidriver::key(window, Qt::Key_Right);  // DSC_0003
    uidriver::key(window, Qt::Key_9);
    EXPECT_EQ(stored("DSC_0003.jpg").label, ColorLabel::Blue);
    EXPECT_EQ(UiTest::partProp("clusterCell_DSC_0003.jpg", "clusterMarks", "label").toString(), "blue");

    // The compare view: the right frame.
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened("compareView"); }));
    const QString right = prop("compareRightName", "text").toString();
    uidriver::key(window, Qt::Key_5);
    EXPECT_EQ(stored(right).rating, 5);
    EXPECT_EQ(prop("compareRightMarks", "rating").toInt(), 5);
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened("compareView"); }));
    EXPECT_EQ(UiTest::partProp("clusterCell_" + right, "clusterMarks", "rating").toInt(), 5);
}

TEST_F(MarksReview, UndoAndRedoFollowEveryPlaceADecisionIsMade) {
    // The batch buttons on checked frames of the grid.
    uidriver::click(window, cellPart("DSC_0002.jpg", "markBox"));
    uidriver::click(window, cellPart("DSC_0004.jpg", "markBox"));
    click("removeCheckedButton");
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 0);
    EXPECT_EQ(userSelected(id, "DSC_0004.jpg"), 0);
    EXPECT_EQ(prop("reviewRows", "removedShown").toInt(), 2);
    undo();
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 1);
    EXPECT_EQ(userSelected(id, "DSC_0004.jpg"), 1);
    EXPECT_EQ(prop("reviewRows", "removedShown").toInt(), 0);
    EXPECT_TRUE(app->selection().canRedo()) << app->selection().undoLabel().toStdString();
    redo();
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 0);
    EXPECT_EQ(userSelected(id, "DSC_0004.jpg"), 0);
    EXPECT_EQ(prop("reviewRows", "removedShown").toInt(), 2);
    undo();

    // A star from the grid is undone the same way.
    uidriver::hover(window, item("cell_DSC_0004.jpg"));
    uidriver::key(window, Qt::Key_2);
    undo();
    EXPECT_TRUE(stored("DSC_0004.jpg").isEmpty());
    EXPECT_FALSE(UiTest::partProp("cell_DSC_0004.jpg", "marksBadge", "visible").toBool());
    redo();
    EXPECT_EQ(stored("DSC_0004.jpg").rating, 2);

    // The viewer: Space removes and moves on; Left shows the removed frame, marked; Space restores it.
    openViewerOn("DSC_0001.jpg");
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 0);
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "2 / 6");
    uidriver::key(window, Qt::Key_Left);
    EXPECT_EQ(prop("lightbox", "item").toMap()["filename"].toString(), "DSC_0001.jpg");
    EXPECT_TRUE(prop("lightboxRemoved", "visible").toBool());
    EXPECT_FALSE(prop("lightboxKeep", "checked").toBool());
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 1);
    EXPECT_FALSE(prop("lightboxRemoved", "visible").toBool());
    undo();  // the restore: removed again, and the viewer shows it
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 0);
    EXPECT_TRUE(prop("lightboxRemoved", "visible").toBool());
    undo();
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 1);
    EXPECT_TRUE(prop("lightboxKeep", "checked").toBool());
    // Delete removes too; a click on the picture still closes the viewer.
    uidriver::key(window, Qt::Key_Delete);
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 0);
    uidriver::click(window, item("lightboxPane"));
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened("lightbox"); }));
    undo();
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 1);

    // The cluster popup: a frame of the moment kept, then taken back.
    openPortraitMoment();
    uidriver::key(window, Qt::Key_Right);
    uidriver::key(window, Qt::Key_Right);  // DSC_0003, kept by nobody
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 1);
    EXPECT_TRUE(popupKeeps("DSC_0003.jpg"));
    undo();
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 0);
    EXPECT_FALSE(popupKeeps("DSC_0003.jpg"));
    redo();
    EXPECT_TRUE(popupKeeps("DSC_0003.jpg"));
    EXPECT_EQ(app->selection().keptCount(), 7);

    // The compare view: the right frame kept or dropped, then taken back.
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened("compareView"); }));
    const QString right = prop("compareRightName", "text").toString();
    const bool keptBefore = prop("compareKeep", "checked").toBool();
    uidriver::key(window, Qt::Key_Space);
    EXPECT_NE(prop("compareKeep", "checked").toBool(), keptBefore);
    EXPECT_EQ(userSelected(id, right), keptBefore ? 0 : 1);
    undo();
    EXPECT_EQ(prop("compareKeep", "checked").toBool(), keptBefore);
    EXPECT_EQ(userSelected(id, right), keptBefore ? 1 : 0);
    EXPECT_EQ(popupKeeps(right), keptBefore);
    uidriver::key(window, Qt::Key_Escape);
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened("clusterPopup"); }));
    EXPECT_EQ(app->selection().keptCount(), 7);
}

TEST_F(MarksReview, TheFilterBarPicksTheGridAndClearsInOneClick) {
    SelectionModel& selection = app->selection();
    ASSERT_TRUE(selection.pressDigit({"DSC_0001.jpg", "reception/DSC_0009.jpg"}, 4));
    ASSERT_TRUE(selection.pressDigit({"DSC_0001.jpg"}, 7));
    click("filterStars_3");
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 2);
    EXPECT_EQ(prop("reviewRows", "unselectedCount").toInt(), 0);  // no frame of the pool is rated
    EXPECT_EQ(prop("filterCount", "text").toString(), "2 frames shown");
    EXPECT_TRUE(prop("filterStars_3", "checked").toBool());
    click("filterLabel_yellow");
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 1);
    EXPECT_EQ(selection.filterText(), "★ 3+ · Yellow");

    // The viewer's list follows the filter.
    uidriver::click(window, cellPart("DSC_0001.jpg", "openArea"));
    ASSERT_TRUE(uidriver::waitFor([&] { return opened("lightbox"); }));
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "1 / 1");
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened("lightbox"); }));

    // Nothing left: the empty result says so and clears in one click.
    click("filterPart_removed");
    EXPECT_EQ(prop("reviewRows", "count").toInt(), 0);
    ASSERT_TRUE(uidriver::waitFor([&] { return item("filterEmptyState")->isVisible(); }));
    click("filterEmptyClearButton");
    EXPECT_FALSE(selection.filterActive());
    EXPECT_FALSE(item("filterEmptyState")->isVisible());
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 6);
    EXPECT_EQ(prop("forReviewText", "text").toString(), "For Review (3)");

    // A category and a person chosen elsewhere combine; Clear Filter takes both away.
    click("filterCategory_Details");
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 1);  // DSC_0004
    selection.setPersonFilter(2, "Anna", {QVariant(-5)});
    ASSERT_TRUE(uidriver::waitFor([&] { return item("filterPerson")->isVisible(); }));
    EXPECT_EQ(prop("reviewRows", "count").toInt(), 0);
    // With every part of the bar shown, Clear Filter is still whole inside the window.
    QQuickItem* clear = item("clearFilterButton");
    uidriver::settle(window);
    EXPECT_LE(clear->mapToScene(QPointF(clear->width(), 0)).x(), window->width());
    click("clearFilterButton");
    EXPECT_FALSE(selection.filterActive());
    EXPECT_FALSE(item("filterPerson")->isVisible());
    EXPECT_EQ(prop("reviewRows", "keptShown").toInt(), 6);
}
