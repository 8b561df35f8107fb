// The folder dialogs as Qt Quick draws them where the platform has none: the
// folder culled or used is the one the dialog shows, unless the user picked
// a sub-folder in its list.
#include "engine_controller.h"
#include "folder_choice.h"
#include "painted_frames.h"
#include "ui_fixture.h"

#include <QDir>
#include <QTest>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class FolderDialogs : public UiTest {
protected:
    // The list of the dialog now open, and its entry for `name` (null until listed).
    QQuickItem* folders() const { return item("folderDialogListView"); }
    QQuickItem* entry(const QString& name) const {
        QQuickItem* list = folders();
        if (!list || !list->isVisible()) return nullptr;
        for (int i = 0; i < 20; ++i) {
            const QString delegateName = "folderDialogDelegate" + QString::number(i);
            auto* delegate = qobject_cast<QQuickItem*>(uidriver::find(list, delegateName));
            if (delegate && delegate->property("fileName").toString() == name) return delegate;
        }
        return nullptr;
    }
    // The dialog's own Open button.
    QQuickItem* openButton() const {
        QQuickItem* list = folders();
        QQuickItem* popup = list ? list->parentItem() : nullptr;
        while (popup && popup->parentItem() && !popup->inherits("QQuickPopupItem")) popup = popup->parentItem();
        QList<QQuickItem*> todo{popup};
        while (!todo.isEmpty()) {
            QQuickItem* i = todo.takeFirst();
            if (!i) continue;
            if (i->inherits("QQuickAbstractButton") && i->property("text").toString() == "Open" && i->isVisible())
                return i;
            todo << i->childItems();
        }
        return nullptr;
    }
    void doubleClick(QQuickItem* target) {
        uidriver::settle(window);
        QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, uidriver::centre(target));
    }
    // Shows `folder` in the dialog named `dialog`, as the user gets there by clicking through the path.
    void openDialogAt(const QString& dialog, const QString& folder) {
        object(dialog)->setProperty("currentFolder", QUrl::fromLocalFile(folder));
        call(dialog, "open");
        ASSERT_TRUE(uidriver::waitFor([&] { return folders() && folders()->isVisible(); }));
    }
    // Double-clicks `name` in the list; waits until the dialog shows it, its first sub-folder highlighted.
    void enter(const QString& dialog, const QString& name, const QString& firstSub) {
        ASSERT_TRUE(uidriver::waitFor([&] { return entry(name) != nullptr; }));
        doubleClick(entry(name));
        ASSERT_TRUE(uidriver::waitFor([&] {
            return prop(dialog, "currentFolder").toUrl().fileName() == name && entry(firstSub) &&
                   entry(firstSub)->property("highlighted").toBool();
        }));
    }
    void pressOpen() {
        ASSERT_NE(openButton(), nullptr);
        uidriver::click(window, openButton());
    }
};

}  // namespace

TEST_F(FolderDialogs, NewProjectCullsTheFolderShownNotTheHighlightedSubFolder) {
    start();
    for (const char* part : {"ceremony", "reception"})
        for (int i = 0; i < 2; ++i)
            writeFrame(dir, std::string("wedding/shoot/") + part + "/DSC_000" + std::to_string(i) + ".png",
                       analysisFrame({{15, 20, 3, 0.7f + 0.05f * i}}, 640, 480, 110));
    object("inputFolderDialog")->setProperty("currentFolder", url(path("wedding")));
    click("newProjectButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return folders() && folders()->isVisible(); }));
    enter("inputFolderDialog", "shoot", "ceremony");
    // The dialog itself names the highlighted sub-folder as its selection.
    EXPECT_EQ(prop("inputFolderDialog", "selectedFolder").toUrl().fileName(), "ceremony");
    pressOpen();
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("inputFolderDialog", "visible").toBool(); }));
    EXPECT_EQ(QUrl(prop("mainWindow", "inputFolder").toString()).toLocalFile(), path("wedding/shoot"));
    ASSERT_TRUE(uidriver::waitFor([&] { return !app->engine().running(); }, 120000));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("reviewRows", "count").toInt() > 0; }));
    // Both sub-folders were culled, and the project is named after the folder.
    EXPECT_EQ(prop("mainWindow", "resultSummary").toMap()["totalInput"].toInt(), 4);
    const QVariantList projects = app->selection().listProjects();
    ASSERT_EQ(projects.size(), 1);
    EXPECT_EQ(projects[0].toMap()["name"].toString(), "shoot");
}

TEST_F(FolderDialogs, ASubFolderPickedInTheListIsTheOneUsed) {
    start();
    for (const char* part : {"ceremony", "reception"}) QDir().mkpath(path(std::string("wedding/shoot/") + part));
    QDir().mkpath(path("wedding/shoot/reception/late"));
    object("mainWindow")->setProperty("activePage", "deliver");

    // A click on a sub-folder picks it.
    openDialogAt("deliverFolderDialog", path("wedding"));
    enter("deliverFolderDialog", "shoot", "ceremony");
    uidriver::click(window, entry("reception"));
    ASSERT_TRUE(uidriver::waitFor([&] { return entry("reception")->property("highlighted").toBool(); }));
    pressOpen();
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("deliverFolderDialog", "visible").toBool(); }));
    EXPECT_EQ(QUrl(prop("deliverPage", "folderUrl").toString()).toLocalFile(), path("wedding/shoot/reception"));

    // A pick in a folder left afterwards counts no more.
    openDialogAt("deliverFolderDialog", path("wedding/shoot"));
    uidriver::click(window, entry("ceremony"));
    enter("deliverFolderDialog", "reception", "late");
    pressOpen();
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("deliverFolderDialog", "visible").toBool(); }));
    EXPECT_EQ(QUrl(prop("deliverPage", "folderUrl").toString()).toLocalFile(), path("wedding/shoot/reception"));
}

TEST(FolderChoiceRule, TheFolderShownUnlessASubFolderWasPickedThere) {
    const QUrl shoot = QUrl::fromLocalFile("/w/shoot"), ceremony = QUrl::fromLocalFile("/w/shoot/ceremony");
    EXPECT_EQ(FolderChoice::meant(shoot, ceremony, {}, true), shoot);
    EXPECT_EQ(FolderChoice::meant(shoot, ceremony, shoot, true), ceremony);
    EXPECT_EQ(FolderChoice::meant(shoot, ceremony, QUrl::fromLocalFile("/w"), true), shoot);
    EXPECT_EQ(FolderChoice::meant(QUrl::fromLocalFile("/w/shoot/"), ceremony, shoot, true), ceremony);
    // Nothing shown (a folder that has gone), and a platform's own dialog.
    EXPECT_EQ(FolderChoice::meant({}, ceremony, {}, true), ceremony);
    EXPECT_EQ(FolderChoice::meant(shoot, ceremony, {}, false), ceremony);
}

TEST_F(FolderDialogs, ANewFolderIsMadeInTheFolderShownAndBecomesTheOneMeant) {
    start();
    QDir().mkpath(path("wedding/shoot"));
    openDialogAt("inputFolderDialog", path("wedding"));
    // Among the dialog's own buttons.
    QQuickItem* button = item("newFolderButton");
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(uidriver::waitFor([&] { return button->isVisible() && openButton() != nullptr; }));
    QQuickItem* box = openButton();
    while (box && !box->inherits("QQuickDialogButtonBox")) box = box->parentItem();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isAncestorOf(button));
    uidriver::click(window, button);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("newFolderPrompt", "opened").toBool(); }));
    EXPECT_FALSE(prop("newFolderCreate", "enabled").toBool());  // no name yet
    for (const char c : std::string("Delivery")) QTest::keyClick(window, c);
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("newFolderCreate", "enabled").toBool(); }));
    click("newFolderCreate");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("newFolderPrompt", "visible").toBool(); }));
    EXPECT_TRUE(QDir(path("wedding/Delivery")).exists());
    EXPECT_EQ(prop("inputFolderDialog", "currentFolder").toUrl().toString(),
              QUrl::fromLocalFile(path("wedding/Delivery")).toString());
    auto* choice = object("inputFolderDialog")->property("choice").value<FolderChoice*>();
    ASSERT_NE(choice, nullptr);
    EXPECT_EQ(choice->chosenFolder(), QUrl::fromLocalFile(path("wedding/Delivery")));

    // A name that is taken or leads elsewhere makes nothing and says so.
    QDir().mkpath(path("wedding/Delivery/taken"));
    for (const char* name : {"taken", "..", "a/b", "  "}) {
        call("inputFolderDialog", "makeFolder", {QString(name)});
        EXPECT_EQ(prop("inputFolderDialog", "currentFolder").toUrl(), QUrl::fromLocalFile(path("wedding/Delivery")));
    }
    EXPECT_FALSE(prop("newFolderProblem", "text").toString().isEmpty());
    EXPECT_FALSE(QDir(path("wedding/Delivery/a")).exists());
    call("inputFolderDialog", "close");
}

TEST(ExportFolders, TheDialogStartsBesideTheShoot) {
    EXPECT_EQ(Folders::exportStartFolder("/w/shoot"), QUrl::fromLocalFile("/w"));
    EXPECT_EQ(Folders::exportStartFolder("file:///w/shoot/"), QUrl::fromLocalFile("/w"));
    // The JPEG copies of a RAW shoot live inside it: beside the RAW files' folder.
    EXPECT_EQ(Folders::exportStartFolder("/w/shoot/shoot_JPG"), QUrl::fromLocalFile("/w"));
    EXPECT_EQ(Folders::exportStartFolder("/w/shoot/day2"), QUrl::fromLocalFile("/w/shoot"));
    EXPECT_EQ(Folders::exportStartFolder(""), QUrl());
    EXPECT_FALSE(Folders::openFolder(""));
    EXPECT_FALSE(Folders::openFolder("/no/such/folder"));
}
