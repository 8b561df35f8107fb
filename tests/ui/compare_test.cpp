// The compare view with a real project behind it: opened from the viewer and
// the cluster popup, stepping and pinning, keeping and dropping frames,
// linked and single-pane zoom, faces at 100 %, turned frames; and its
// calculations and image provider on their own.
#include "compare_logic.h"
#include "exif_writer.h"
#include "frame_image_provider.h"
#include "ui_fixture.h"

#include <QQmlApplicationEngine>
#include <QTest>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <thread>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

// The frame point under a pane point.
QPointF framePointAt(const QVariantMap& view, QQuickItem* pane, QPointF at) {
    const double scale = view["scale"].toDouble();
    return {view["cx"].toDouble() + (at.x() - pane->width() / 2) / scale,
            view["cy"].toDouble() + (at.y() - pane->height() / 2) / scale};
}

bool both(QQuickItem* a, QQuickItem* b, const char* property) {
    return a->property(property).toBool() && b->property(property).toBool();
}

// The id the engine hands the provider for a frame: its URL without scheme and host.
QString providerId(const std::string& folder, const std::string& name, bool full) {
    const QUrl url(CompareLogic::frameUrl(QString::fromStdString(folder), QString::fromStdString(name), full));
    return url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1);
}

class CompareReview : public ProjectTest {
protected:
    QObject* compare() const { return object("compareView"); }
    bool opened() const { return compare()->property("opened").toBool(); }
    QString text(const QString& name) const { return prop(name, "text").toString(); }
    QVariantMap view(const QString& pane) const { return prop(pane, "view").toMap(); }
    double scale(const QString& pane) const { return view(pane)["scale"].toDouble(); }
    bool panesLoaded() const {
        return prop("compareLeftPane", "loaded").toBool() && prop("compareRightPane", "loaded").toBool();
    }
    FrameImageProvider* provider() const {
        return dynamic_cast<FrameImageProvider*>(app->qmlEngine()->imageProvider(QStringLiteral("frames")));
    }
    void openViewerOn(const QString& filename) {
        uidriver::click(window, UiTest::partOf("cell_" + filename, "openArea"));
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightbox", "opened").toBool(); }));
    }
    void openPortraitMoment() {
        call("clusterPopup", "openForCluster", {"portrait", 1});
        ASSERT_TRUE(uidriver::waitFor([&] { return item("clusterCell_DSC_0001.jpg") != nullptr; }));
    }
};

}  // namespace

TEST_F(CompareReview, OpensFromTheViewerStepsSkippingThePinnedFrameAndPins) {
    openViewerOn("DSC_0001.jpg");
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened(); }));
    EXPECT_EQ(compare()->property("openedFrom").toString(), "lightbox");
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0001.jpg");
    EXPECT_EQ(text("compareLeftDetails"), "Kept · Primary  ·  final score 0.51  ·  no eyes measured");
    EXPECT_EQ(text("compareRightName"), "DSC_0002.jpg");
    EXPECT_EQ(text("compareRightDetails"), "Kept · Review  ·  final score 0.52  ·  no eyes measured");
    EXPECT_EQ(text("comparePosition"), "2 / 3");
    ASSERT_TRUE(uidriver::waitFor([&] { return panesLoaded(); }));

    // The frame after the right one is decoded ahead: stepping to it is served from what was kept.
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("compareAhead", "status").toInt() == 1; }));  // Image.Ready
    const int hits = provider()->hits(), decodes = provider()->decodes();
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");
    EXPECT_EQ(text("compareRightDetails"), "Not kept  ·  final score 0.53  ·  no eyes measured");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("compareRightPane", "loaded").toBool(); }));
    EXPECT_GT(provider()->hits(), hits);
    EXPECT_EQ(provider()->decodes(), decodes);

    uidriver::key(window, Qt::Key_Right);  // the end: nothing
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");
    uidriver::key(window, Qt::Key_Left);
    uidriver::key(window, Qt::Key_Left);  // the pinned frame is first: nothing further
    EXPECT_EQ(text("compareRightName"), "DSC_0002.jpg");
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0001.jpg");

    // Enter pins the right frame; the right pane goes on in the direction of the last step.
    uidriver::key(window, Qt::Key_Return);
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0002.jpg");
    EXPECT_EQ(text("compareRightName"), "DSC_0001.jpg");
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");

    // Escape returns to the viewer, which has the keys again.
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened(); }));
    EXPECT_TRUE(prop("lightbox", "opened").toBool());
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(prop("lightbox", "index").toInt(), 1);
    // A moment of one frame opens with an empty right pane.
    call("lightbox", "close");
    openViewerOn("DSC_0004.jpg");
    click("lightboxCompare");
    ASSERT_TRUE(uidriver::waitFor([&] { return opened(); }));
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0004.jpg");
    EXPECT_EQ(text("compareRightName"), "");
    EXPECT_EQ(UiTest::partProp("compareRightPane", "paneMessage", "text").toString(),
              "This moment has no other frame.");
    EXPECT_FALSE(prop("comparePin", "enabled").toBool());
    uidriver::key(window, Qt::Key_Space);  // nothing to keep
    EXPECT_EQ(userSelected(id, "DSC_0004.jpg"), 1);
}

TEST_F(CompareReview, SpaceKeepsAndDropsTheRightFrameInTheDatabaseGridAndPopup) {
    openPortraitMoment();
    uidriver::key(window, Qt::Key_Right);  // DSC_0002 is current
    click("clusterCompare");
    ASSERT_TRUE(uidriver::waitFor([&] { return opened(); }));
    EXPECT_EQ(compare()->property("openedFrom").toString(), "cluster");
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0002.jpg");
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");
    const auto popupKeeps = [&](const QString& filename) {
        return uidriver::find(item("clusterCell_" + filename), "keepBox")->property("checked").toBool();
    };

    // A frame nobody kept is added, then dropped again.
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 1);
    EXPECT_EQ(text("compareRightDetails"), "Kept · Added  ·  final score 0.53  ·  no eyes measured");
    EXPECT_TRUE(prop("compareKeep", "checked").toBool());
    EXPECT_EQ(app->selection().keptCount(), 7);
    EXPECT_TRUE(popupKeeps("DSC_0003.jpg"));
    uidriver::key(window, Qt::Key_Space);
    EXPECT_EQ(userSelected(id, "DSC_0003.jpg"), 0);
    EXPECT_TRUE(text("compareRightDetails").startsWith("Not kept  ·  ")) << text("compareRightDetails").toStdString();
    EXPECT_FALSE(popupKeeps("DSC_0003.jpg"));
    EXPECT_EQ(app->selection().keptCount(), 6);

    // A kept frame is removed through the check box; the grid and the popup follow.
    uidriver::key(window, Qt::Key_Left);
    uidriver::key(window, Qt::Key_Left);
    EXPECT_EQ(text("compareRightName"), "DSC_0001.jpg");
    click("compareKeep");
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 0);
    EXPECT_FALSE(prop("compareKeep", "checked").toBool());
    EXPECT_FALSE(popupKeeps("DSC_0001.jpg"));
    EXPECT_TRUE(uidriver::waitFor([&] { return prop("removedHeader", "text").toString() == "Removed (2)"; }));
    EXPECT_EQ(userSelected(id, "DSC_0002.jpg"), 1);  // the pinned frame is never touched

    // Escape returns to the popup, which has the keys again: C opens the compare view once more.
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened(); }));
    EXPECT_TRUE(prop("clusterPopup", "opened").toBool());
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened(); }));
    EXPECT_EQ(text("compareLeftName"), "Pinned · DSC_0002.jpg");
}

// Changes made from the compare view opened on the viewer in a moment reach the viewer's own check box.
TEST_F(CompareReview, TheViewerOfAMomentTakesOverAKeepFromTheCompareView) {
    openPortraitMoment();
    uidriver::key(window, Qt::Key_Return);  // DSC_0001 in the viewer, cluster context
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightbox", "opened").toBool(); }));
    uidriver::key(window, Qt::Key_Right);  // DSC_0002
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened(); }));
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");
    uidriver::key(window, Qt::Key_Left);
    uidriver::key(window, Qt::Key_Left);
    EXPECT_EQ(text("compareRightName"), "DSC_0001.jpg");
    uidriver::key(window, Qt::Key_Space);
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !opened(); }));
    uidriver::key(window, Qt::Key_Left);  // back to DSC_0001 in the viewer
    EXPECT_FALSE(prop("lightboxKeep", "checked").toBool());
    uidriver::key(window, Qt::Key_Space);  // the viewer's own toggle starts from the new state
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 1);
}

TEST_F(CompareReview, ZoomAndPanActOnBothPanesUnlessShiftIsHeld) {
    openPortraitMoment();
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return opened() && panesLoaded(); }));
    uidriver::settle(window);
    QQuickItem* left = item("compareLeftPane");
    QQuickItem* right = item("compareRightPane");
    EXPECT_TRUE(left->property("fitted").toBool());
    EXPECT_TRUE(right->property("fitted").toBool());
    const double fit = scale("compareRightPane");
    EXPECT_EQ(UiTest::partProp("compareRightPane", "zoomLabel", "text").toString(),
              "Fit " + QString::number(std::lround(fit * 100)) + " %");

    // The wheel over the right pane: both zoom about the same pane point, which keeps its frame point.
    const QPointF at(right->width() * 0.3, right->height() * 0.4);
    const QPointF underLeft = framePointAt(view("compareLeftPane"), left, at);
    const QPointF underRight = framePointAt(view("compareRightPane"), right, at);
    QQuickItem* rightMouse = qobject_cast<QQuickItem*>(uidriver::find(right, "paneMouse"));
    QQuickItem* leftMouse = qobject_cast<QQuickItem*>(uidriver::find(left, "paneMouse"));
    uidriver::wheel(window, rightMouse, at, 3);
    EXPECT_NEAR(scale("compareRightPane"), fit * std::pow(1.25, 3), 1e-6);
    EXPECT_NEAR(scale("compareLeftPane"), fit * std::pow(1.25, 3), 1e-6);
    for (const auto& [pane, before] : {std::pair{left, underLeft}, std::pair{right, underRight}}) {
        const QPointF now = framePointAt(pane->property("view").toMap(), pane, at);
        EXPECT_NEAR(now.x(), before.x(), 1.0) << pane->objectName().toStdString();
        EXPECT_NEAR(now.y(), before.y(), 1.0) << pane->objectName().toStdString();
    }

    // Dragging moves both frames by the same screen distance.
    const double leftX = view("compareLeftPane")["cx"].toDouble(), rightX = view("compareRightPane")["cx"].toDouble();
    const QPoint from = right->mapToScene(QPointF(right->width() / 2, right->height() / 2)).toPoint();
    uidriver::drag(window, from, from + QPoint(-60, 0));
    const double zoomed = scale("compareRightPane");
    EXPECT_NEAR(view("compareRightPane")["cx"].toDouble(), rightX + 60 / zoomed, 0.5);
    EXPECT_NEAR(view("compareLeftPane")["cx"].toDouble(), leftX + 60 / zoomed, 0.5);

    // With Shift only the pane under the pointer follows.
    const QPoint inLeft = left->mapToScene(QPointF(left->width() / 2, left->height() / 2)).toPoint();
    uidriver::wheel(window, leftMouse, QPointF(left->width() / 2, left->height() / 2), -1, Qt::ShiftModifier);
    EXPECT_NEAR(scale("compareLeftPane"), zoomed / 1.25, 1e-6);
    EXPECT_NEAR(scale("compareRightPane"), zoomed, 1e-6);
    const double rightBefore = view("compareRightPane")["cx"].toDouble();
    const double leftBefore = view("compareLeftPane")["cx"].toDouble();
    uidriver::drag(window, inLeft, inLeft + QPoint(40, 0), Qt::ShiftModifier);
    EXPECT_NEAR(view("compareLeftPane")["cx"].toDouble(), leftBefore - 40 / (zoomed / 1.25), 0.5);
    EXPECT_NEAR(view("compareRightPane")["cx"].toDouble(), rightBefore, 1e-9);

    // Z: both to fit (they are zoomed), then both to 100 %; Shift+Z: the pane under the pointer only.
    uidriver::key(window, Qt::Key_Z);
    EXPECT_TRUE(left->property("fitted").toBool());
    EXPECT_TRUE(right->property("fitted").toBool());
    uidriver::key(window, Qt::Key_Z);
    EXPECT_DOUBLE_EQ(scale("compareLeftPane"), 1.0);
    EXPECT_DOUBLE_EQ(scale("compareRightPane"), 1.0);
    EXPECT_EQ(UiTest::partProp("compareLeftPane", "zoomLabel", "text").toString().left(5), "100 %");
    // At 100 % the frames are read at full resolution.
    EXPECT_TRUE(uidriver::waitFor([&] { return both(left, right, "sharp"); }));
    uidriver::key(window, Qt::Key_Z, Qt::ShiftModifier);  // the pointer is over the left pane
    EXPECT_TRUE(left->property("fitted").toBool());
    EXPECT_DOUBLE_EQ(scale("compareRightPane"), 1.0);

    // A zoom survives a step: the next frame comes at the same scale.
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(text("compareRightName"), "DSC_0003.jpg");
    ASSERT_TRUE(uidriver::waitFor([&] { return right->property("loaded").toBool(); }));
    EXPECT_DOUBLE_EQ(scale("compareRightPane"), 1.0);
}

// Frames stored turned (EXIF orientation 6) and a frame without faces, in one moment.
TEST_F(UiTest, FacesAt100PercentOnTurnedFramesAndFramesWithoutFaces) {
    start();
    const FaceBox face{500, 300, 200, 200};
    std::vector<ProjectFrame> frames = {
        {"day one/IMG #1 é.jpg", "portrait", 1, true, true, {face}, 1200, 800, 6, 152.4f},
        {"day one/IMG_0002.jpg", "portrait", 1, false, false, {}, 1200, 800, 1, 0},
        {"day one/IMG_0003.jpg", "portrait", 1, false, false, {{100, 100, 80, 80}}, 1200, 800, 6, 20.0f},
    };
    const int id = storeProject(path("turned"), frames, "Turned");
    ASSERT_GE(id, 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, id),
                                          Q_ARG(QString, "Turned"), Q_ARG(QString, path("turned"))));
    ASSERT_TRUE(uidriver::waitFor([&] { return app->selection().hasData(); }));
    const int imageId = app->selection().images().constFirst().id;
    ASSERT_TRUE(call("compareView", "openFor", {imageId, "cluster"}).toBool());
    QQuickItem* left = item("compareLeftPane");
    QQuickItem* right = item("compareRightPane");
    ASSERT_TRUE(uidriver::waitFor([&] { return both(left, right, "loaded"); }));
    EXPECT_EQ(prop("compareLeftName", "text").toString(), "Pinned · IMG #1 é.jpg");
    EXPECT_EQ(prop("compareLeftDetails", "text").toString(), "Kept · Primary  ·  final score 0.51  ·  eyes fairly sharp  (152)");
    // Decoded upright: wider than high although stored the other way round.
    QQuickItem* screen = qobject_cast<QQuickItem*>(uidriver::find(left, "paneScreenImage"));
    EXPECT_GT(screen->implicitWidth(), screen->implicitHeight());

    uidriver::key(window, Qt::Key_F);
    const QVariantMap faces = left->property("view").toMap();
    EXPECT_DOUBLE_EQ(faces["scale"].toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(faces["cx"].toDouble(), 600);  // the centre of the face box
    EXPECT_DOUBLE_EQ(faces["cy"].toDouble(), 400);
    EXPECT_FALSE(uidriver::find(left, "noFaceNote")->property("visible").toBool());
    const QVariantMap centred = right->property("view").toMap();  // no face: 100 % on the frame's centre
    EXPECT_DOUBLE_EQ(centred["scale"].toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(centred["cx"].toDouble(), 600);
    EXPECT_DOUBLE_EQ(centred["cy"].toDouble(), 400);
    EXPECT_TRUE(uidriver::find(right, "noFaceNote")->property("visible").toBool());

    // What is drawn: the face at the centre of the left pane, the frame's background beside it.
    ASSERT_TRUE(uidriver::waitFor([&] { return left->property("sharp").toBool(); }));
    uidriver::settle(window);
    const QImage shot = window->grabWindow();
    const qreal ratio = shot.devicePixelRatio();
    const auto colourAt = [&](QPointF scenePoint) { return shot.pixelColor((scenePoint * ratio).toPoint()); };
    const QPointF middle = left->mapToScene(QPointF(left->width() / 2, left->height() / 2));
    const QColor onFace = colourAt(middle), beside = colourAt(middle + QPointF(0, 150));
    EXPECT_NEAR(onFace.red(), 215, 14);
    EXPECT_NEAR(onFace.green(), 160, 14);
    EXPECT_NEAR(onFace.blue(), 120, 14);
    EXPECT_GT(std::abs(beside.red() - 215) + std::abs(beside.blue() - 120), 60);

    // F follows the right pane when it steps: the next turned frame is centred on its own face.
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(prop("compareRightName", "text").toString(), "IMG_0003.jpg");
    // Once the frame is read (at once when it was read ahead), its view is set.
    ASSERT_TRUE(uidriver::waitFor([&] { return right->property("loaded").toBool(); }));
    const QVariantMap next = right->property("view").toMap();
    EXPECT_DOUBLE_EQ(next["scale"].toDouble(), 1.0);
    // The face (140, 140) lies near the corner: the view stops where the frame's edge meets the pane's.
    EXPECT_DOUBLE_EQ(next["cx"].toDouble(), right->width() / 2);
    EXPECT_DOUBLE_EQ(next["cy"].toDouble(), right->height() / 2);
    EXPECT_FALSE(uidriver::find(right, "noFaceNote")->property("visible").toBool());
}

TEST(CompareLogic, ZoomKeepsThePointerPointWithinTheLimitsAndPanStopsAtTheEdges) {
    const double paneW = 600, paneH = 400, imageW = 6000, imageH = 4000;
    const QVariantMap fit = CompareLogic::fitView(imageW, imageH, paneW, paneH);
    EXPECT_DOUBLE_EQ(fit["scale"].toDouble(), 0.1);
    EXPECT_DOUBLE_EQ(fit["cx"].toDouble(), 3000);

    const QVariantMap in = CompareLogic::zoomView(fit, 4, 150, 100, paneW, paneH, imageW, imageH);
    EXPECT_DOUBLE_EQ(in["scale"].toDouble(), 0.4);
    // The point under (150, 100): 3000 + (150 - 300) / 0.1 = 1500 and 2000 + (100 - 200) / 0.1 = 1000.
    EXPECT_NEAR(in["cx"].toDouble() + (150 - 300) / 0.4, 1500, 1e-9);
    EXPECT_NEAR(in["cy"].toDouble() + (100 - 200) / 0.4, 1000, 1e-9);
    EXPECT_DOUBLE_EQ(CompareLogic::zoomView(fit, 1000, 0, 0, paneW, paneH, imageW, imageH)["scale"].toDouble(), 8);
    EXPECT_DOUBLE_EQ(CompareLogic::zoomView(in, 0.001, 0, 0, paneW, paneH, imageW, imageH)["scale"].toDouble(), 0.1);

    // Panning stops where the frame's edge meets the pane's.
    const QVariantMap actual = CompareLogic::scaleView(fit, 1, 300, 200, paneW, paneH, imageW, imageH);
    const QVariantMap far = CompareLogic::panView(actual, 1e6, -1e6, paneW, paneH, imageW, imageH);
    EXPECT_DOUBLE_EQ(far["cx"].toDouble(), 300);
    EXPECT_DOUBLE_EQ(far["cy"].toDouble(), imageH - 200);
    // A frame smaller than the pane stays centred and may not shrink below 100 %.
    const QVariantMap small = CompareLogic::panView(QVariantMap{{"scale", 1.0}, {"cx", 0.0}, {"cy", 0.0}}, 50, 50,
                                                    paneW, paneH, 200, 100);
    EXPECT_DOUBLE_EQ(small["cx"].toDouble(), 100);
    EXPECT_DOUBLE_EQ(small["cy"].toDouble(), 50);
    EXPECT_DOUBLE_EQ(CompareLogic::zoomView(small, 0.1, 0, 0, paneW, paneH, 200, 100)["scale"].toDouble(), 1.0);
    // A view that is no view gives the fit.
    EXPECT_DOUBLE_EQ(CompareLogic::clampView({}, paneW, paneH, imageW, imageH)["scale"].toDouble(), 0.1);
}

TEST(CompareLogic, TheLargestFaceAsShownAfterTheAppliedRotation) {
    const QVariantList faces{QVariantList{10, 10, 20, 20}, QVariantList{100, 50, 40, 60}, QVariantList{1, 2}};
    EXPECT_EQ(CompareLogic::largestFaceCentre(faces, 400, 300, 0).toPointF(), QPointF(120, 80));
    EXPECT_EQ(CompareLogic::largestFaceCentre(faces, 400, 300, 90).toPointF(), QPointF(300 - 80, 120));
    EXPECT_EQ(CompareLogic::largestFaceCentre(faces, 400, 300, 180).toPointF(), QPointF(400 - 120, 300 - 80));
    EXPECT_EQ(CompareLogic::largestFaceCentre(faces, 400, 300, -90).toPointF(), QPointF(80, 400 - 120));
    EXPECT_FALSE(CompareLogic::largestFaceCentre({}, 400, 300, 0).isValid());
    EXPECT_EQ(CompareLogic::shownSize(400, 300, 270), QSizeF(300, 400));
    // The turned frame is 300 x 400 as shown: the face view is clamped in those sides.
    const QVariantMap v = CompareLogic::faceView(faces, 400, 300, 90, 100, 100);
    EXPECT_DOUBLE_EQ(v["cx"].toDouble(), 220);
    EXPECT_DOUBLE_EQ(v["cy"].toDouble(), 120);
}

TEST(CompareLogic, StepsSkipThePinnedFrameAndStopAtTheEnds) {
    EXPECT_EQ(CompareLogic::stepOther(5, 1, 1, 2), 3);
    EXPECT_EQ(CompareLogic::stepOther(5, 3, -1, 2), 1);
    EXPECT_EQ(CompareLogic::stepOther(5, 4, 1, 2), 4);
    EXPECT_EQ(CompareLogic::stepOther(5, 1, -1, 0), 1);
    EXPECT_EQ(CompareLogic::firstOther(5, 2), 3);
    EXPECT_EQ(CompareLogic::firstOther(5, 4), 3);
    EXPECT_EQ(CompareLogic::firstOther(1, 0), -1);
    EXPECT_EQ(CompareLogic::detailsText({{"userSelected", false}, {"status", 0}, {"score", 0.456}, {"eyeScore", 7.6}}),
              "Not kept  ·  final score 0.46  ·  eyes soft  (8)");
    // A frame the cull did not pick has no final score.
    EXPECT_EQ(CompareLogic::detailsText({{"userSelected", true}, {"status", 4}, {"score", 0.0}, {"eyeScore", 772},
                                         {"engineSelected", false}}),
              "Kept · Added  ·  not scored  ·  eyes sharp  (772)");
    EXPECT_EQ(CompareLogic::zoomText({{"scale", 0.234}}, true), "Fit 23 %");
}

// The provider on its own (the window's requests are the tests above): upright
// decoding at the size asked, names that need escaping in a URL, one decode
// for a frame asked twice, and unreadable files.
TEST(FrameImageProvider, DecodesUprightOnceAndReportsUnreadableFiles) {
    TempDir dir;
    const std::string name = "a b/IMG #5 %20 é.jpg";
    std::filesystem::create_directories(dir.str() + "/a b");
    cv::Mat stored(1200, 800, CV_8UC3, cv::Scalar(40, 60, 90));  // 800 x 1200 on disk, upright 1200 x 800
    shootgen::ExifFields exif;
    exif.orientation = 6;
    ASSERT_TRUE(shootgen::writeJpeg(dir.str() + "/" + name, stored, exif));

    FrameImageProvider provider;
    const auto request = [&](bool full, QSize box) {
        const QUrl url(CompareLogic::frameUrl(QString::fromStdString(dir.str()), QString::fromStdString(name), full));
        EXPECT_EQ(url.scheme(), "image");
        EXPECT_EQ(url.host(), "frames");
        QString error;
        const QImage image = provider.frame(providerId(dir.str(), name, full), box, &error);
        return std::pair{image, error};
    };
    EXPECT_EQ(request(false, QSize(600, 600)).first.size(), QSize(600, 400));
    EXPECT_EQ(request(false, QSize(600, 600)).first.size(), QSize(600, 400));
    EXPECT_EQ(request(true, QSize()).first.size(), QSize(1200, 800));
    EXPECT_EQ(request(false, QSize(4096, 4096)).first.size(), QSize(1200, 800));  // never enlarged
    EXPECT_EQ(provider.decodes(), 3);
    EXPECT_EQ(provider.hits(), 1);

    QString error;
    const QString missing = QString::fromStdString(dir.str() + "/none.jpg");
    EXPECT_TRUE(FrameImageProvider::decode(missing, false, {}, &error).isNull());
    EXPECT_TRUE(error.contains("none.jpg"));
    QString oddError;
    EXPECT_TRUE(provider.frame("thumb/%2Fetc%2Fx.jpg", QSize(), &oddError).isNull());
    EXPECT_TRUE(oddError.startsWith("Not a frame")) << oddError.toStdString();
    EXPECT_TRUE(provider.frame("full/relative.jpg", QSize(), &oddError).isNull());

    // Two panes asking for one frame at once: one decode, the other waits for it.
    const QString half = providerId(dir.str(), name, false);
    const int decodes = provider.decodes();
    QImage a, b;
    std::thread first([&] { a = provider.frame(half, QSize(300, 300)); });
    std::thread second([&] { b = provider.frame(half, QSize(300, 300)); });
    first.join();
    second.join();
    EXPECT_EQ(a.size(), QSize(300, 200));
    EXPECT_EQ(b.size(), QSize(300, 200));
    EXPECT_EQ(provider.decodes(), decodes + 1);
}
