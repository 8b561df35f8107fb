// The viewer with a real project behind it: frames read ahead and never a
// blank between two, zoom and pan, the information panel of the viewer and
// the compare view; the message boxes' keys, the list of keys and Ctrl+Q.
#include "frame_image_provider.h"
#include "frame_info.h"
#include "ui_fixture.h"

#include <QQmlApplicationEngine>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <algorithm>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class Viewer : public ProjectTest {
protected:
    QQuickItem* pane() const { return item("lightboxPane"); }
    QVariantMap view() const { return pane()->property("view").toMap(); }
    QString shownName() const { return pane()->property("shownFrame").toMap()["filename"].toString(); }
    bool loaded() const { return pane()->property("loaded").toBool(); }
    FrameImageProvider* provider() const {
        return dynamic_cast<FrameImageProvider*>(app->qmlEngine()->imageProvider(QStringLiteral("frames")));
    }
    void openOn(const QString& filename) {
        uidriver::click(window, UiTest::partOf("cell_" + filename, "openArea"));
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightbox", "opened").toBool(); }));
        ASSERT_TRUE(uidriver::waitFor([&] { return loaded(); }));
    }
    // The value of the information row `label` of a panel; empty when it has none.
    QString infoValue(const QString& panel, const QString& label) const {
        for (const QVariant& row : prop(panel, "rows").toList())
            if (row.toMap()["label"].toString() == label) return row.toMap()["value"].toString();
        return {};
    }
};

}  // namespace

TEST_F(Viewer, StepsShowTheFramesReadAheadWithoutABlankBetween) {
    // A frame counts as shown only with its own picture read and in front:
    // before that the strip and the face crops, which wait for a shown
    // frame, would be read ahead of it.
    int early = 0;
    QObject::connect(window, &QQuickWindow::afterAnimating, window, [&] {
        auto* front = pane() ? pane()->property("frontImage").value<QObject*>() : nullptr;
        if (!front || shownName().isEmpty()) return;
        const QString shown = QUrl::fromPercentEncoding(front->property("wanted").toByteArray());
        if (front->property("status").toInt() != 1 || !shown.endsWith("/" + shownName())) ++early;
    });
    openOn("DSC_0001.jpg");
    EXPECT_EQ(shownName(), "DSC_0001.jpg");
    // Every frame drawn from here on shows a frame that has been read.
    int blank = 0, drawn = 0;
    QObject::connect(window, &QQuickWindow::afterAnimating, window, [&] {
        ++drawn;
        auto* front = pane()->property("frontImage").value<QObject*>();
        if (!front || front->property("status").toInt() != 1 || shownName().isEmpty()) ++blank;
    });

    ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightboxAheadNext", "status").toInt() == 1; }));
    const int decodes = provider()->decodes(), hits = provider()->hits();
    uidriver::key(window, Qt::Key_Right);
    // Until the next frame is read the last one stays.
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "2 / 6");
    ASSERT_TRUE(uidriver::waitFor([&] { return loaded(); }));
    EXPECT_EQ(shownName(), "DSC_0002.jpg");
    // Served from the frame read ahead (the one after it may be being read by now).
    EXPECT_GT(provider()->hits(), hits);
    EXPECT_LE(provider()->decodes(), decodes + 1);
    // The one before is read ahead too.
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("lightboxAheadPrevious", "status").toInt() == 1; }));
    uidriver::key(window, Qt::Key_Left);
    ASSERT_TRUE(uidriver::waitFor([&] { return loaded() && shownName() == "DSC_0001.jpg"; }));

    // A jump from the strip to a frame not read ahead: the last frame stays until it is read.
    QQuickItem* cell = item("stripCell_5");
    ASSERT_NE(cell, nullptr);
    uidriver::click(window, cell);
    EXPECT_EQ(prop("lightboxPosition", "text").toString(), "6 / 6");
    EXPECT_FALSE(shownName().isEmpty());
    ASSERT_TRUE(uidriver::waitFor([&] { return loaded(); }));
    for (int i = 0; i < 5; ++i) uidriver::key(window, Qt::Key_Left);
    ASSERT_TRUE(uidriver::waitFor([&] { return loaded() && shownName() == "DSC_0001.jpg"; }));
    uidriver::settle(window);
    EXPECT_GT(drawn, 0);
    EXPECT_EQ(blank, 0);
    EXPECT_EQ(early, 0);
}

TEST_F(Viewer, ZoomsPansFocusesFacesAndAClickStillCloses) {
    openOn("DSC_0001.jpg");
    EXPECT_TRUE(pane()->property("fitted").toBool());
    QObject* label = uidriver::find(pane(), "zoomLabel");
    EXPECT_TRUE(label->property("text").toString().startsWith("Fit "));

    // Z: 100 % about the pointer (the centre when it is elsewhere), Z again: fit.
    uidriver::key(window, Qt::Key_Z);
    EXPECT_DOUBLE_EQ(view()["scale"].toDouble(), 1.0);
    EXPECT_EQ(label->property("text").toString(), "100 %");
    uidriver::key(window, Qt::Key_Z);
    EXPECT_TRUE(pane()->property("fitted").toBool());

    // The wheel zooms about the pointer: the frame point under it stays.
    const QPointF at(pane()->width() * 0.3, pane()->height() * 0.4);
    const auto framePoint = [&](QPointF p) {
        const QVariantMap v = view();
        const double s = v["scale"].toDouble();
        return QPointF(v["cx"].toDouble() + (p.x() - pane()->width() / 2) / s,
                       v["cy"].toDouble() + (p.y() - pane()->height() / 2) / s);
    };
    const QPointF before = framePoint(at);
    const double fit = view()["scale"].toDouble();
    auto* mouse = qobject_cast<QQuickItem*>(uidriver::find(pane(), "paneMouse"));
    ASSERT_NE(mouse, nullptr);
    uidriver::wheel(window, mouse, at, 2);
    EXPECT_NEAR(view()["scale"].toDouble(), fit * 1.5625, 1e-9);
    EXPECT_NEAR(framePoint(at).y(), before.y(), 1e-6);
    // Still narrower than the pane: centred across.
    ASSERT_LT(1200 * view()["scale"].toDouble(), pane()->width());
    EXPECT_DOUBLE_EQ(view()["cx"].toDouble(), 600);

    // A drag moves the frame and leaves the viewer open.
    const double cy = view()["cy"].toDouble(), scale = view()["scale"].toDouble();
    const QPoint middle = uidriver::centre(pane());
    uidriver::drag(window, middle, middle + QPoint(0, 30));
    const double half = pane()->height() / 2 / scale;
    EXPECT_NEAR(view()["cy"].toDouble(), std::clamp(cy - 30 / scale, half, 800 - half), 1e-6);
    EXPECT_NE(view()["cy"].toDouble(), cy);
    EXPECT_TRUE(prop("lightbox", "opened").toBool());

    // F: 100 % on the largest face (300, 200, 160 x 160), as near its centre as the frame allows.
    uidriver::key(window, Qt::Key_F);
    EXPECT_DOUBLE_EQ(view()["scale"].toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(view()["cy"].toDouble(), std::clamp(280.0, pane()->height() / 2, 800 - pane()->height() / 2));
    EXPECT_DOUBLE_EQ(view()["cx"].toDouble(), std::clamp(380.0, pane()->width() / 2, 1200 - pane()->width() / 2));

    // Stepping at 100 % keeps the spot; a click on the image closes the viewer.
    uidriver::key(window, Qt::Key_Right);
    ASSERT_TRUE(uidriver::waitFor([&] { return loaded(); }));
    EXPECT_DOUBLE_EQ(view()["scale"].toDouble(), 1.0);
    uidriver::click(window, pane());
    EXPECT_TRUE(uidriver::waitFor([&] { return !prop("lightbox", "opened").toBool(); }));
    EXPECT_EQ(prop("cullPage", "scrollToFilename").toString(), "DSC_0002.jpg");
}

TEST_F(Viewer, TheInformationPanelTellsWhatTheCullKnows) {
    openOn("DSC_0001.jpg");
    EXPECT_FALSE(item("lightboxInfo")->isVisible());
    uidriver::key(window, Qt::Key_I);
    EXPECT_TRUE(item("lightboxInfo")->isVisible());
    EXPECT_EQ(infoValue("lightboxInfo", "Captured"), "2024-06-15  14:00:11");
    EXPECT_EQ(infoValue("lightboxInfo", "Size"), "1200 × 800 px  (1.0 MP)");
    EXPECT_EQ(infoValue("lightboxInfo", "Category"), "Portrait");
    EXPECT_EQ(infoValue("lightboxInfo", "Moment"), "moment 1  ·  3 frames");
    EXPECT_EQ(infoValue("lightboxInfo", "Status"), "Kept  ·  Primary");
    EXPECT_EQ(infoValue("lightboxInfo", "Score"), "final score 0.51");
    // The measures come from the project.
    ASSERT_TRUE(uidriver::waitFor([&] { return !infoValue("lightboxInfo", "Exposure").isEmpty(); }));
    EXPECT_EQ(infoValue("lightboxInfo", "Eye sharpness"), "no face measured");
    uidriver::key(window, Qt::Key_Right);
    EXPECT_EQ(infoValue("lightboxInfo", "Status"), "Kept  ·  Review");
    ASSERT_TRUE(uidriver::waitFor([&] { return !infoValue("lightboxInfo", "Exposure").isEmpty(); }));
    uidriver::key(window, Qt::Key_I);
    EXPECT_FALSE(item("lightboxInfo")->isVisible());

    // The compare view has its own, for both frames.
    uidriver::key(window, Qt::Key_C);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("compareView", "opened").toBool(); }));
    EXPECT_FALSE(item("compareInfo")->isVisible());
    uidriver::key(window, Qt::Key_I);
    EXPECT_TRUE(item("compareInfo")->isVisible());
    uidriver::settle(window);
    EXPECT_LE(item("compareInfo")->width(), 400);  // the panes keep the room
    EXPECT_GT(item("compareRightPane")->width(), 300);
    EXPECT_EQ(infoValue("compareInfoPinned", "Status"), "Kept  ·  Review");
    EXPECT_EQ(infoValue("compareInfoRight", "Status"), "Not kept");
    EXPECT_EQ(infoValue("compareInfoRight", "Why"), "not picked: another frame of its moment scored higher");
}

TEST(FrameInfoRows, MeasuresAndReasonsInWords) {
    const QVariantMap frame{{"filename", "a.jpg"},   {"fullW", 6000},     {"fullH", 4000}, {"category", "group"},
                            {"clusterNumber", 12},   {"userSelected", false}, {"status", 0}, {"score", 0.0},
                            {"engineSelected", false}, {"captureTime", ""}};
    const QVariantList detections{QVariantMap{{"valid", true}, {"conf", 0.93}, {"reason", ""}},
                                  QVariantMap{{"valid", false}, {"conf", 0.41}, {"reason", "small_area"}}};
    const QVariantMap measures{{"sharpness", 612.4}, {"eyeSharpness", 120.0}, {"exposure", 0.35},
                               {"expression", 0.8},  {"detectedFaces", 2},    {"reason", ""},
                               {"engineSelected", false}, {"detections", detections}};
    QMap<QString, QString> values;
    for (const QVariant& row : FrameInfo::rowsFor(frame, measures))
        values[row.toMap()["label"].toString()] = row.toMap()["value"].toString();
    EXPECT_EQ(values["Captured"], "not recorded");
    EXPECT_EQ(values["Size"], "6000 × 4000 px  (24.0 MP)");
    EXPECT_EQ(values["Moment"], "moment 12");
    EXPECT_EQ(values["Status"], "Not kept");
    EXPECT_EQ(values["Why"], "not picked: another frame of its moment scored higher");
    EXPECT_EQ(values["Score"], "not scored");
    EXPECT_EQ(values["Exposure"], "very dark or very bright  (0.35)");
    EXPECT_EQ(values["Sharpness"], "sharp  (612)");
    EXPECT_EQ(values["Eye sharpness"], "eyes soft  (120)");
    EXPECT_EQ(values["Expression"], "pleasant  (0.80)");
    EXPECT_EQ(FrameInfo::expressionText(0.75), "not measured");  // what the cull stores when it did not measure
    EXPECT_EQ(values["Faces"], "2 found  ·  1 usable");
    EXPECT_EQ(values["Face 2"], "not used: too small  (confidence 0.41)");
    EXPECT_FALSE(values.contains("Face 1"));
    // Before the measures are read, the frame's own rows and a note.
    const QVariantList early = FrameInfo::rowsFor(frame, {});
    EXPECT_EQ(early.last().toMap()["value"].toString(), "Reading…");

    EXPECT_EQ(FrameInfo::reasonText("portrait_p0", true), "the best portrait of Person 0 in its moment");
    EXPECT_EQ(FrameInfo::reasonText("portrait_p2_multi", true), "another strong portrait of Person 2 in its moment");
    EXPECT_EQ(FrameInfo::reasonText("group_open", true), "the best group frame with everyone's eyes open");
    EXPECT_EQ(FrameInfo::reasonText("group_vip_multi", true),
              "another strong group frame with the shoot's main people");
    EXPECT_EQ(FrameInfo::reasonText("venue", true), "the sharpest frame of its moment");
    EXPECT_EQ(FrameInfo::reasonText("group_single", true), "the only frame of its moment");
    EXPECT_EQ(FrameInfo::reasonText("user_added", false), "added by you");
    EXPECT_TRUE(FrameInfo::rowsFor({}, measures).isEmpty());
}

TEST_F(Viewer, MessageBoxesAnswerEnterAndEscapeWithTheirButtonsInLine) {
    QObject* message = object("projectMessageDialog");
    QSignalSpy accepted(message, SIGNAL(accepted()));
    call("projectMessageDialog", "show", {"Save project", "Project saved."});
    ASSERT_TRUE(uidriver::waitFor([&] { return message->property("opened").toBool(); }));
    uidriver::key(window, Qt::Key_Return);
    ASSERT_TRUE(uidriver::waitFor([&] { return !message->property("opened").toBool(); }));
    EXPECT_EQ(accepted.count(), 1);

    // Escape is Cancel: the moved-folder question does not go on to the folder dialog.
    QObject* question = object("movedFolderDialog");
    QSignalSpy rejected(question, SIGNAL(rejected()));
    call("movedFolderDialog", "open");
    ASSERT_TRUE(uidriver::waitFor([&] { return question->property("opened").toBool(); }));
    uidriver::settle(window);
    auto* ok = qobject_cast<QQuickItem*>(uidriver::find(question, "okButton"));
    auto* cancel = qobject_cast<QQuickItem*>(uidriver::find(question, "cancelButton"));
    ASSERT_TRUE(ok && cancel);
    EXPECT_DOUBLE_EQ(uidriver::centre(ok).y(), uidriver::centre(cancel).y());
    EXPECT_DOUBLE_EQ(ok->height(), cancel->height());
    EXPECT_LT(cancel->mapToScene({}).x(), ok->mapToScene({}).x());
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !question->property("opened").toBool(); }));
    EXPECT_EQ(rejected.count(), 1);
    EXPECT_FALSE(prop("newInputFolderDialog", "visible").toBool());
    // Enter there is OK.
    call("movedFolderDialog", "open");
    ASSERT_TRUE(uidriver::waitFor([&] { return question->property("opened").toBool(); }));
    uidriver::key(window, Qt::Key_Enter);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("newInputFolderDialog", "visible").toBool(); }));
    call("newInputFolderDialog", "close");
}

TEST_F(Viewer, TheListOfKeysOpensAnywhereAndCtrlQCloses) {
    QObject* keys = object("shortcutsOverlay");
    uidriver::key(window, Qt::Key_Question, Qt::ShiftModifier);
    ASSERT_TRUE(uidriver::waitFor([&] { return keys->property("opened").toBool(); }));
    uidriver::key(window, Qt::Key_Escape);
    ASSERT_TRUE(uidriver::waitFor([&] { return !keys->property("opened").toBool(); }));
    // Over the viewer too, which keeps its place.
    openOn("DSC_0001.jpg");
    uidriver::key(window, Qt::Key_F1);
    ASSERT_TRUE(uidriver::waitFor([&] { return keys->property("opened").toBool(); }));
    uidriver::key(window, Qt::Key_F1);
    ASSERT_TRUE(uidriver::waitFor([&] { return !keys->property("opened").toBool(); }));
    EXPECT_TRUE(prop("lightbox", "opened").toBool());

    uidriver::key(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(uidriver::waitFor([&] { return !window->isVisible(); }));
}
