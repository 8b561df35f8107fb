// What the Cull page hands over and reports: XMP sidecars for the open
// project, the files a cull left out, and the images an export did not copy.
#include "ui_fixture.h"

#include "engine_controller.h"
#include "fault_files.h"
#include "handover.h"
#include "painted_frames.h"
#include "selection_model.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

#include <condition_variable>
#include <mutex>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The value of an XMP simple property, written as an attribute or an element.
QString xmpValue(const QString& sidecar, const QString& property) {
    const QRegularExpression re(QRegularExpression::escape(property) + R"re((?:="([^"]*)"|>([^<]*)<))re");
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(contents(sidecar)));
    return m.hasMatch() ? m.captured(1) + m.captured(2) : QStringLiteral("(none)");
}

QRectF sceneRect(QQuickItem* item) { return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())); }

class Handover : public ProjectTest {
protected:
    QString text(const QString& dialog) const { return prop(dialog, "text").toString(); }
    QVariantList rows(const QString& dialog) const { return prop(dialog, "rows").toList(); }
    QQuickItem* partOf(const QString& dialog, const QString& part) const {
        return qobject_cast<QQuickItem*>(uidriver::find(object(dialog), part));
    }
    static QVariantMap row(const QString& file, const QString& reason) { return {{"file", file}, {"reason", reason}}; }

    // Opens the XMP dialog from the toolbar, presses one of its buttons and
    // waits for the write in the background to end.
    void runXmp(const QString& button) {
        click("xmpButton");
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpDialog", "opened").toBool(); }));
        click("xmpRating4");
        QSignalSpy finished(&app->selection(), &SelectionModel::xmpSidecarsFinished);
        click(button);
        ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpResultDialog", "opened").toBool(); }));
        uidriver::settle(window);  // the result's list laid out as it is drawn
        EXPECT_FALSE(prop("xmpDialog", "visible").toBool());
    }
};

}  // namespace

TEST_F(Handover, XmpSidecarsAreWrittenReportedAndTakenBack) {
    const QString shoot = path("shoot");
    EXPECT_TRUE(prop("xmpButton", "enabled").toBool());
    app->selection().removeImage("DSC_0002.jpg");  // a rejected frame
    // An editor's broken sidecar is reported and left as it is; the rest go on.
    QFile broken(shoot + "/reception/DSC_0012.xmp");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not xmp at all");
    broken.close();

    runXmp("xmpWriteButton");
    EXPECT_EQ(prop("xmpResultDialog", "title").toString(), "XMP sidecars written");
    EXPECT_EQ(text("xmpResultDialog"), "11 written · 0 merged · 0 unchanged · 0 removed\n"
                                       "0 shared · 0 skipped · 1 failed");
    EXPECT_EQ(rows("xmpResultDialog"),
              QVariantList({row("reception/DSC_0012.jpg",
                                "failed: the existing sidecar is not valid XMP; left as it is")}));
    EXPECT_TRUE(uidriver::waitFor([&] { return item("fileRow_reception/DSC_0012.jpg") != nullptr; }));
    EXPECT_FALSE(partOf("xmpResultDialog", "fileListScrollBar")->isVisible());  // one row: nothing to scroll
    // The rating chosen in the dialog on a kept frame, the reject value on the
    // removed one, 1 on a frame of a moment with nothing kept.
    EXPECT_EQ(xmpValue(shoot + "/DSC_0001.xmp", "xmp:Rating"), "4");
    EXPECT_EQ(xmpValue(shoot + "/DSC_0001.xmp", "xmp:Label"), "Green");
    EXPECT_EQ(xmpValue(shoot + "/ceremony/DSC_0007.xmp", "xmp:Rating"), "4");
    EXPECT_EQ(xmpValue(shoot + "/DSC_0002.xmp", "xmp:Rating"), "-1");
    EXPECT_EQ(xmpValue(shoot + "/ceremony/DSC_0005.xmp", "xmp:Rating"), "1");
    EXPECT_EQ(contents(shoot + "/reception/DSC_0012.xmp"), "not xmp at all");
    call("xmpResultDialog", "close");

    runXmp("xmpRemoveButton");
    EXPECT_EQ(prop("xmpResultDialog", "title").toString(), "Sidecar values removed");
    EXPECT_EQ(text("xmpResultDialog"), "0 written · 0 merged · 0 unchanged · 11 removed\n"
                                       "0 shared · 0 skipped · 1 failed");
    EXPECT_FALSE(QFile::exists(shoot + "/DSC_0001.xmp"));
    EXPECT_FALSE(QFile::exists(shoot + "/ceremony/DSC_0005.xmp"));
    EXPECT_EQ(contents(shoot + "/reception/DSC_0012.xmp"), "not xmp at all");
}

// Opened from Home, the row of the summary shows its buttons side by side.
TEST_F(Handover, TheSummaryRowLaysOutItsButtons) {
    uidriver::settle(window);
    const QRectF summary = sceneRect(item("summaryText")), open = sceneRect(item("openProjectFileButton"));
    const QRectF xmp = sceneRect(item("xmpButton")), save = sceneRect(item("saveProjectFileButton"));
    EXPECT_LE(summary.right(), open.left());
    EXPECT_LT(open.right(), xmp.left());
    EXPECT_LT(xmp.right(), save.left());
    EXPECT_LE(save.right(), double(window->width()));
}

TEST_F(Handover, TheAppendingStyleAndNoLabelReachTheWriter) {
    click("xmpButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpDialog", "opened").toBool(); }));
    EXPECT_TRUE(prop("xmpStyleReplace", "checked").toBool());
    EXPECT_TRUE(prop("xmpRating3", "checked").toBool());
    EXPECT_TRUE(prop("xmpLabelGreen", "checked").toBool());
    click("xmpStyleAppend");
    click("xmpLabelNone");
    QSignalSpy finished(&app->selection(), &SelectionModel::xmpSidecarsFinished);
    click("xmpWriteButton");
    ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpResultDialog", "opened").toBool(); }));
    EXPECT_TRUE(text("xmpResultDialog").startsWith("12 written")) << text("xmpResultDialog").toStdString();
    EXPECT_FALSE(QFile::exists(path("shoot/DSC_0001.xmp")));
    EXPECT_EQ(xmpValue(path("shoot/DSC_0001.jpg.xmp"), "xmp:Rating"), "3");
    EXPECT_EQ(xmpValue(path("shoot/DSC_0001.jpg.xmp"), "xmp:Label"), "(none)");
    EXPECT_FALSE(partOf("xmpResultDialog", "fileList")->isVisible());  // nothing to list
}

// While the sidecars are written the dialog counts them and takes no other
// click; it cannot be closed until the result arrives.
TEST_F(Handover, TheDialogShowsTheWriteUntilItEnds) {
    // Holds every sidecar's commit on the writer's thread until released
    // (at the latest when the test ends, so that the window's end can wait for the write).
    struct Hold {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        void release() {
            const std::lock_guard<std::mutex> lock(mutex);
            open = true;
            opened.notify_all();
        }
        ~Hold() {
            release();
            setXmpCommitHookForTests({});
        }
    } hold;
    setXmpCommitHookForTests([&](const QString&) {
        std::unique_lock<std::mutex> lock(hold.mutex);
        hold.opened.wait(lock, [&] { return hold.open; });
        return true;
    });
    click("xmpButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpDialog", "opened").toBool(); }));
    QSignalSpy finished(&app->selection(), &SelectionModel::xmpSidecarsFinished);
    click("xmpWriteButton");
    // The first sidecar is held: the bar shows the count and the buttons are off.
    const bool shown = uidriver::waitFor([&] {
        return prop("xmpProgressText", "text").toString() == "Writing sidecars… 0 / 12";
    });
    EXPECT_TRUE(shown) << prop("xmpProgressText", "text").toString().toStdString();
    EXPECT_TRUE(prop("xmpBusy", "visible").toBool());
    EXPECT_TRUE(prop("xmpProgress", "visible").toBool());
    for (const char* button : {"xmpWriteButton", "xmpRemoveButton", "xmpCancelButton"})
        EXPECT_FALSE(prop(button, "enabled").toBool()) << button;
    uidriver::key(window, Qt::Key_Escape);
    uidriver::settle(window);
    EXPECT_TRUE(prop("xmpDialog", "visible").toBool());
    EXPECT_TRUE(finished.isEmpty());

    hold.release();
    ASSERT_TRUE(finished.count() == 1 || finished.wait(30000));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpResultDialog", "opened").toBool(); }));
    EXPECT_FALSE(prop("xmpDialog", "visible").toBool());
    EXPECT_TRUE(text("xmpResultDialog").startsWith("12 written")) << text("xmpResultDialog").toStdString();
    EXPECT_FALSE(app->selection().xmpRunning());
}

TEST_F(Handover, ALongListScrollsInsideTheDialog) {
    QVariantList many;
    for (int i = 0; i < 40; ++i) many << row(QString("DSC_%1.jpg").arg(i), "skipped: the photograph is not there");
    call("xmpResultDialog", "show", {"XMP sidecars written", "0 written", many});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("xmpResultDialog", "opened").toBool(); }));
    uidriver::settle(window);
    QQuickItem* list = partOf("xmpResultDialog", "fileList");
    ASSERT_NE(list, nullptr);
    EXPECT_LE(list->height(), 280.0);
    EXPECT_GT(list->property("contentHeight").toDouble(), list->height());
    EXPECT_TRUE(partOf("xmpResultDialog", "fileListScrollBar")->isVisible());
    // The dialog stays inside the window.
    QQuickItem* dialog = qobject_cast<QQuickItem*>(prop("xmpResultDialog", "contentItem").value<QObject*>());
    ASSERT_NE(dialog, nullptr);
    const QRectF box = dialog->mapRectToScene(QRectF(0, 0, dialog->width(), dialog->height()));
    EXPECT_GE(box.top(), 0.0);
    EXPECT_LE(box.bottom(), double(window->height()));
}

TEST_F(UiTest, TheSummaryNamesTheFilesACullLeftOut) {
    start();
    for (int i = 0; i < 4; ++i)
        writeFrame(dir, "shoot/DSC_000" + std::to_string(i) + ".png",
                   analysisFrame({{15, 20, 3, 0.7f + 0.03f * i}}, 640, 480, 110));
    writeFile(dir.file("shoot/damaged.jpg"), truncated(encoded(noise(640, 480, 99), ".jpg"), 0.7));
    writeFile(dir.file("shoot/garbage.jpg"), garbage(5000));
    call("mainWindow", "startCullIn", {url(path("shoot"))});
    EXPECT_EQ(prop("leftOutNote", "text").toString(), "");
    ASSERT_TRUE(uidriver::waitFor([&] { return !app->engine().running(); }, 120000));
    ASSERT_TRUE(uidriver::waitFor([&] { return app->selection().hasData(); }));

    QQuickItem* note = item("leftOutNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->property("text").toString(), "⚠ 1 file skipped · 1 damaged");
    uidriver::settle(window);
    EXPECT_GE(sceneRect(note).left(), sceneRect(item("summaryText")).right());
    EXPECT_LE(sceneRect(note).right(), sceneRect(item("openProjectFileButton")).left());
    uidriver::click(window, note);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("leftOutDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("leftOutDialog", "title").toString(), "Files left out");
    const QVariantList rows = prop("leftOutDialog", "rows").toList();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toMap()["file"].toString(), "garbage.jpg");
    EXPECT_EQ(rows[0].toMap()["reason"].toString(), "undecodable");
    EXPECT_EQ(rows[1].toMap()["file"].toString(), "damaged.jpg");
    EXPECT_EQ(rows[1].toMap()["reason"].toString(), "damaged: the decoder reported corrupt or truncated data");
    EXPECT_TRUE(uidriver::waitFor([&] { return item("fileRow_damaged.jpg") != nullptr; }));
    call("leftOutDialog", "close");

    // Another project opened from Home has its own summary: the note goes.
    const int other = storeProject(path("other"), standardFrames(), "Other");
    ASSERT_TRUE(QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, other),
                                          Q_ARG(QString, "Other"), Q_ARG(QString, path("other"))));
    uidriver::settle(window);
    EXPECT_EQ(prop("leftOutNote", "text").toString(), "");
}

TEST_F(UiTest, AnExportIntoTheShootNamesTheTargetsThatAreThePhotographs) {
    start();
    // Culled from wedding/final_selection, exported into wedding: every
    // kept frame is already where its copy would go.
    const QString shoot = path("wedding/final_selection");
    const int id = storeProject(shoot, standardFrames(), "Wedding");
    ASSERT_GE(id, 0);
    ASSERT_TRUE(QMetaObject::invokeMethod(object("homePage"), "projectOpened", Q_ARG(int, id),
                                          Q_ARG(QString, "Wedding"), Q_ARG(QString, shoot)));
    ASSERT_TRUE(uidriver::waitFor([&] { return item("cell_DSC_0001.jpg") != nullptr; }));
    const QByteArray before = contents(shoot + "/ceremony/DSC_0007.jpg");
    call("cullPage", "exportFinalTo", {url(path("wedding"))});
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("exportResultDialog", "opened").toBool(); }));
    const QString in = " — already there — the target is the photograph itself";
    EXPECT_EQ(prop("exportResultDialog", "text").toString(),
              "Exported 0 images to a 'final_selection' folder (nothing to export).\n\nNot copied: 6\n• DSC_0001.jpg" +
                  in + "\n• DSC_0002.jpg" + in + "\n• DSC_0004.jpg" + in + "\n• ceremony/DSC_0007.jpg" + in +
                  "\n• reception/DSC_0009.jpg" + in + "\n• reception/DSC_0010.jpg" + in);
    EXPECT_EQ(contents(shoot + "/ceremony/DSC_0007.jpg"), before);
    EXPECT_EQ(QDir(shoot).entryList(QDir::Files).size(), 4);  // no copies beside the photographs
}
