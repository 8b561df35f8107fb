// The Home page with a real library: its cards, opening a project from one,
// renaming and deleting through the card menu, and nothing startable while a
// cull runs.
#include "ui_fixture.h"

#include "engine_controller.h"
#include "selection_model.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace keepframe;
using namespace keepframe::testing;

namespace {

class Home : public UiTest {
protected:
    QQuickItem* card(int id) const { return item("projectCard_" + QString::number(id)); }
    QVariant partProp(int id, const QString& part, const char* property) const {
        return UiTest::partProp("projectCard_" + QString::number(id), part, property);
    }
    // The library as the store lists it, by id.
    QVariantMap project(int id) const {
        for (const QVariant& v : app->selection().listProjects())
            if (v.toMap()["id"].toInt() == id) return v.toMap();
        return {};
    }
    void showHome() {
        click("nav_cull");
        click("nav_home");
        uidriver::settle(window);
    }
    // Right-clicks a card and picks an entry of its menu.
    void pick(int id, const QString& entry) {
        QQuickItem* c = card(id);
        ASSERT_NE(c, nullptr);
        uidriver::settle(window);
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, uidriver::centre(c));
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("projectMenu", "opened").toBool(); }));
        click(entry);
    }
    void rename(int id, const QString& typed) {
        pick(id, "renameMenuItem");
        ASSERT_TRUE(uidriver::waitFor([&] { return prop("renameDialog", "opened").toBool(); }));
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Delete);
        for (const QChar c : typed) QTest::keyClick(window, c.toLatin1());
        click("renameOkButton");
        ASSERT_TRUE(uidriver::waitFor([&] { return !prop("renameDialog", "visible").toBool(); }));
    }
    QQuickItem* dialogButton(const QString& dialog, const QString& button) const {
        return qobject_cast<QQuickItem*>(uidriver::find(object(dialog), button));
    }
};

std::vector<ProjectFrame> fewFrames() {
    return {{"DSC_0101.jpg", "portrait", 1, true, true, {}},
            {"DSC_0102.jpg", "venue", 2, false, false, {}},
            {"day2/DSC_0103.jpg", "group", 3, true, false, {}}};
}

}  // namespace

TEST_F(Home, AnEmptyLibraryThenCardsWithCoverDateAndCounts) {
    start();
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
    EXPECT_TRUE(item("homeEmptyState")->isVisible());
    EXPECT_FALSE(item("projectGrid")->isVisible());
    EXPECT_EQ(prop("newProjectButton", "text").toString(), "+  New Project");
    EXPECT_TRUE(prop("newProjectButton", "enabled").toBool());
    EXPECT_EQ(prop("yourProjectsLabel", "text").toString(), "Your Projects");

    const int lantern = storeProject(path("shoot"), standardFrames(), "Lantern Wedding", 0);
    const int harbor = storeProject(path("harbor"), fewFrames(), "Harbor");
    ASSERT_GE(harbor, 0);
    showHome();  // the page lists the library each time it is shown
    EXPECT_FALSE(item("homeEmptyState")->isVisible());
    ASSERT_NE(card(lantern), nullptr);
    ASSERT_NE(card(harbor), nullptr);
    EXPECT_EQ(partProp(lantern, "cardName", "text").toString(), "Lantern Wedding");
    const QString today = QLocale::c().toString(QDate::currentDate(), "MMM d, yyyy");
    EXPECT_EQ(partProp(lantern, "cardLine", "text").toString(), today + "  ·  12 photos  ·  6 selected");
    EXPECT_EQ(partProp(harbor, "cardLine", "text").toString(), today + "  ·  3 photos  ·  2 selected");
    // The cover is the project's thumbnail; without one the card says so.
    ASSERT_TRUE(uidriver::waitFor([&] { return partProp(lantern, "cardCover", "status").toInt() == 1; }));
    EXPECT_FALSE(partProp(lantern, "cardNoPreview", "visible").toBool());
    EXPECT_TRUE(partProp(harbor, "cardNoPreview", "visible").toBool());
    EXPECT_EQ(partProp(harbor, "cardNoPreview", "text").toString(), "No preview");
}

TEST_F(Home, ACardOpensItsProjectOnTheCullPage) {
    const int id = storeProject(path("shoot"), standardFrames(), "Lantern Wedding");
    const int unnamed = storeProject(path("other"), fewFrames(), "");
    ASSERT_GE(unnamed, 0);
    start();
    // The last session's view state, which opening a project replaces.
    QObject* main = object("mainWindow");
    main->setProperty("statusText", "Done in 5s.");
    object("cullPage")->setProperty("reviewedClusters", QVariantMap{{"portrait:1", true}});

    click("projectCard_" + QString::number(id));
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "cull");
    EXPECT_EQ(prop("summaryText", "text").toString(), "Lantern Wedding");
    EXPECT_EQ(main->property("statusText").toString(), "");
    EXPECT_EQ(main->property("resultSummary").toMap(),
              (QVariantMap{{"inputFolder", path("shoot")}, {"projectId", id}}));
    EXPECT_TRUE(prop("cullPage", "reviewedClusters").toMap().isEmpty());
    EXPECT_EQ(app->selection().projectId(), id);
    EXPECT_EQ(app->selection().keptCount(), 6);
    ASSERT_TRUE(uidriver::waitFor([&] { return item("cell_DSC_0001.jpg") != nullptr; }));

    // A project without a name.
    ASSERT_TRUE(app->selection().renameProject(unnamed, ""));
    showHome();
    click("projectCard_" + QString::number(unnamed));
    EXPECT_EQ(prop("summaryText", "text").toString(), "Project loaded.");
    EXPECT_EQ(app->selection().keptCount(), 2);
}

TEST_F(Home, ADamagedProjectOrLibraryIsNamedNotShownEmpty) {
    const int id = storeProject(path("shoot"), standardFrames(), "Lantern Wedding");
    ASSERT_GE(id, 0);
    const QString projects = path("library/projects");
    const QStringList folders = QDir(projects).entryList({"*_p" + QString::number(id)}, QDir::Dirs);
    ASSERT_EQ(folders.size(), 1);
    const QString db = projects + "/" + folders[0] + "/project.db";
    QFile::remove(db + "-wal");
    ASSERT_TRUE(QFile::resize(db, 5000));
    start();

    // The card opens nothing and says why; the page stays where it was.
    click("projectCard_" + QString::number(id));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("projectMessageDialog", "opened").toBool(); }));
    EXPECT_TRUE(prop("projectMessageDialog", "text").toString().startsWith("The project cannot be read: "))
        << prop("projectMessageDialog", "text").toString().toStdString();
    EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
    EXPECT_FALSE(app->selection().hasData());
    EXPECT_EQ(app->selection().projectId(), -1);
    call("projectMessageDialog", "close");

    // A library that cannot be listed is not an empty one (damaged while the
    // program is closed: an open one reads the pages it keeps).
    app.reset();
    QFile::remove(path("library/projects.db-wal"));
    QFile registry(path("library/projects.db"));
    ASSERT_TRUE(registry.open(QIODevice::ReadWrite));
    ASSERT_TRUE(registry.seek(4096));
    ASSERT_EQ(registry.write(QByteArray(4096, '\x5a')), 4096);
    registry.close();
    start();
    EXPECT_TRUE(item("homeEmptyState")->isVisible());
    EXPECT_FALSE(prop("homeEmptyDetail", "text").toString().isEmpty());
    EXPECT_NE(prop("homeEmptyDetail", "text").toString(), "Click “New Project” to cull a folder of photos.");
}

TEST_F(Home, RenameIgnoresABlankNameAndRenamesTheOpenProject) {
    const int id = storeProject(path("shoot"), standardFrames(), "Lantern Wedding");
    start();
    click("projectCard_" + QString::number(id));
    showHome();
    QSignalSpy changed(object("homePage"), SIGNAL(libraryChanged()));

    pick(id, "renameMenuItem");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("renameDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("renameDialog", "title").toString(), "Rename project");
    EXPECT_EQ(prop("renameField", "placeholderText").toString(), "Project name");
    EXPECT_EQ(prop("renameField", "text").toString(), "Lantern Wedding");
    click("renameCancelButton");
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("renameDialog", "visible").toBool(); }));

    rename(id, "   ");
    EXPECT_EQ(project(id)["name"].toString(), "Lantern Wedding");
    EXPECT_EQ(changed.size(), 0);

    rename(id, "  Harbor Engagement ");
    EXPECT_EQ(project(id)["name"].toString(), "Harbor Engagement");
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(partProp(id, "cardName", "text").toString(), "Harbor Engagement");
    // The open project keeps working under its new name: its thumbnails
    // moved with it, and a change is still written.
    EXPECT_EQ(prop("summaryText", "text").toString(), "Harbor Engagement");
    for (const auto& image : app->selection().images())
        EXPECT_TRUE(QFile::exists(QUrl(image.thumbUrl).toLocalFile())) << image.thumbUrl.toStdString();
    app->selection().removeImage("DSC_0001.jpg");
    EXPECT_EQ(userSelected(id, "DSC_0001.jpg"), 0);
}

TEST_F(Home, DeleteAsksFirstAndLeavesTheOriginalPhotos) {
    const int id = storeProject(path("shoot"), standardFrames(), "Lantern Wedding", 0);
    const int other = storeProject(path("harbor"), fewFrames(), "Harbor");
    start();
    click("projectCard_" + QString::number(id));
    showHome();
    const QString folder = QDir(path("library")).absolutePath();
    QSignalSpy changed(object("homePage"), SIGNAL(libraryChanged()));

    pick(id, "deleteMenuItem");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("deleteDialog", "opened").toBool(); }));
    EXPECT_EQ(prop("deleteDialog", "title").toString(), "Delete project");
    EXPECT_EQ(prop("deleteDialog", "text").toString(),
              "Delete “Lantern Wedding”?\nThis removes it from the library and deletes its thumbnails.\n"
              "Your original photos are NOT touched.");
    EXPECT_EQ(dialogButton("deleteDialog", "okButton")->property("text").toString(), "Yes");
    EXPECT_EQ(dialogButton("deleteDialog", "cancelButton")->property("text").toString(), "No");
    uidriver::click(window, dialogButton("deleteDialog", "cancelButton"));
    ASSERT_TRUE(uidriver::waitFor([&] { return !prop("deleteDialog", "visible").toBool(); }));
    EXPECT_FALSE(project(id).isEmpty());

    pick(id, "deleteMenuItem");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("deleteDialog", "opened").toBool(); }));
    uidriver::click(window, dialogButton("deleteDialog", "okButton"));
    ASSERT_TRUE(uidriver::waitFor([&] { return card(id) == nullptr; }));
    EXPECT_TRUE(project(id).isEmpty());
    EXPECT_EQ(changed.size(), 1);
    for (const ProjectFrame& f : standardFrames())
        EXPECT_TRUE(QFile::exists(path("shoot") + "/" + QString::fromStdString(f.filename))) << f.filename;
    // Only the other project's folder is left in the library.
    EXPECT_EQ(QDir(folder + "/projects").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    // The deleted project was open: the Cull page has nothing left of it.
    EXPECT_FALSE(app->selection().hasData());
    EXPECT_EQ(prop("summaryText", "text").toString(), "");
    EXPECT_TRUE(prop("mainWindow", "resultSummary").toMap().isEmpty());

    pick(other, "deleteMenuItem");
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("deleteDialog", "opened").toBool(); }));
    uidriver::click(window, dialogButton("deleteDialog", "okButton"));
    ASSERT_TRUE(uidriver::waitFor([&] { return item("homeEmptyState")->isVisible(); }));
}

TEST_F(Home, NothingCanBeStartedWhileACullRuns) {
    const int id = storeProject(path("shoot"), standardFrames(), "Lantern Wedding");
    ASSERT_GE(storeProject(path("next"), standardFrames(), "source only"), 0);
    start();
    const int before = int(app->selection().listProjects().size());
    call("mainWindow", "startCullIn", {url(path("next"))});
    ASSERT_TRUE(app->engine().running());
    object("mainWindow")->setProperty("activePage", "home");
    uidriver::settle(window);
    EXPECT_FALSE(prop("newProjectButton", "enabled").toBool());
    EXPECT_FALSE(card(id)->isEnabled());
    if (app->engine().running()) {
        uidriver::click(window, card(id));
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, uidriver::centre(card(id)));
        uidriver::settle(window);
        EXPECT_EQ(prop("mainWindow", "activePage").toString(), "home");
        EXPECT_FALSE(prop("projectMenu", "opened").toBool());
        EXPECT_NE(app->selection().projectId(), id);
    }
    // The finished cull is a new card, and everything is usable again.
    ASSERT_TRUE(uidriver::waitFor([&] { return !app->engine().running(); }, 120000));
    ASSERT_TRUE(uidriver::waitFor([&] { return prop("mainWindow", "activePage").toString() == "cull"; }));
    EXPECT_EQ(prop("projectGrid", "count").toInt(), before + 1);
    click("nav_home");
    EXPECT_TRUE(prop("newProjectButton", "enabled").toBool());
    EXPECT_TRUE(card(id)->isEnabled());
}
