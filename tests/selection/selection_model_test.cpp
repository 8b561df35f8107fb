// SelectionModel through a real ProjectStore on temporary SQLite files and
// real image files.
#include "captured_log.h"
#include "frames.h"
#include "library_fixture.h"
#include "project_store.h"
#include "reports.h"
#include "review_views.h"
#include "selection_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <fstream>

using namespace keepframe;
using keepframe::testing::LibraryFixture;

namespace {

struct Shot {
    std::string name;
    std::string category = "portrait";
    int cluster = 1;
    bool selected = false, primary = false;
    int faces = 1;
    std::string time = "";
};

struct Review : LibraryFixture {
    std::string shootFolder = "shoot";  // below the test folder

    // Stores a cull of the given shots (files created in the input folder) and loads it.
    void save(const std::vector<Shot>& shots) {
        input = QString::fromStdString(dir.str() + "/" + shootFolder);
        CullResult r;
        for (const Shot& s : shots) {
            std::ofstream(dir.file(shootFolder + "/" + s.name)) << "photo " << s.name;
            ResultImage img = keepframe::testing::resultRow(dir.str() + "/" + shootFolder, s.name,
                                                            *categoryOf(s.category), s.cluster, s.selected, s.primary);
            img.captureTime = s.time;
            img.detectionCount = s.faces;
            r.images.push_back(img);
        }
        r.totalInput = int32_t(shots.size());
        projectId = store.saveCullResult(r, input, {}, 1);
        ASSERT_GE(projectId, 0) << store.lastError().toStdString();
        ASSERT_TRUE(model.loadFromProject(projectId, input));
    }

    // Counts writes of the selection flag from now on.
    void countWrites() {
        ASSERT_TRUE(store.execProjectSql("CREATE TABLE IF NOT EXISTS writes (n INTEGER)"));
        ASSERT_TRUE(store.execProjectSql(R"sql(CREATE TRIGGER IF NOT EXISTS count_writes
                                               AFTER UPDATE OF user_selected ON images
                                               BEGIN INSERT INTO writes VALUES (NEW.id); END;)sql"));
    }
    int writes() {
        QSqlQuery q(QSqlDatabase::database(store.projectConnectionName(), false));
        return q.exec("SELECT COUNT(*) FROM writes") && q.next() ? q.value(0).toInt() : -1;
    }
    bool userSelected(const QString& name) {
        for (const QVariant& v : store.loadProjectImages(projectId))
            if (v.toMap()["filename"] == name) return v.toMap()["userSelected"].toBool();
        return false;
    }
    QStringList names(const QVariantList& maps) {
        QStringList out;
        for (const QVariant& v : maps) out << v.toMap()["filename"].toString();
        return out;
    }
};

std::vector<Shot> tenPicks() {
    std::vector<Shot> shots;
    for (int i = 0; i < 12; ++i)
        shots.push_back({"DSC_00" + std::to_string(10 + i) + ".jpg", "portrait", 1 + i / 3, i < 10, i < 6});
    return shots;
}

}  // namespace

TEST(ImageOrder, ByTimeThenNameWithUnknownTimesAmongTheUndated) {
    QVariantList maps;
    for (const auto& [name, time] : std::vector<std::pair<QString, QString>>{{"e.jpg", ""},
                                                                             {"d.jpg", "0000:00:00 00:00:00"},
                                                                             {"c.jpg", "2024:05:01 12:00:00"},
                                                                             {"b.jpg", "    :  :     :  :  "},
                                                                             {"a.jpg", "2024:05:01 09:30:00"}})
        maps.push_back(QVariantMap{{"filename", name}, {"captureTime", time}});
    sortImageMaps(maps);
    QStringList order;
    for (const QVariant& m : maps) order << m.toMap()["filename"].toString();
    EXPECT_EQ(order, (QStringList{"a.jpg", "c.jpg", "b.jpg", "d.jpg", "e.jpg"}));
}

TEST_F(Review, CountsAfterTheUsersChanges) {
    save(tenPicks());
    // The user removed two primaries and added one other image, in an earlier session.
    ASSERT_TRUE(store.setUserSelectedMany({1, 2}, false));
    ASSERT_TRUE(store.setUserSelected(11, true));
    ASSERT_TRUE(model.loadFromProject(projectId, input));
    EXPECT_EQ(model.primaryCount(), 4);
    EXPECT_EQ(model.reviewCount(), 4);
    EXPECT_EQ(model.removedCount(), 2);
    EXPECT_EQ(model.addedCount(), 1);
    EXPECT_EQ(model.keptCount(), 9);
    EXPECT_TRUE(model.hasData());

    model.clear();
    EXPECT_FALSE(model.hasData());
    EXPECT_EQ(model.projectId(), -1);
}

TEST_F(Review, RemovalsRestoresAndTheirWrites) {
    save(tenPicks());
    countWrites();
    QSignalSpy changed(&model, &SelectionModel::changed);

    model.removeImage("DSC_0010.jpg");
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(writes(), 1);
    EXPECT_FALSE(userSelected("DSC_0010.jpg"));
    model.removeImage("DSC_0010.jpg");  // already removed: nothing
    model.removeImage("nope.jpg");
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(writes(), 1);

    // Three names, one unknown and one already removed: one id in one batch, one signal.
    model.removeMany({"DSC_0011.jpg", "nope.jpg", "DSC_0010.jpg"});
    EXPECT_EQ(changed.size(), 2);
    EXPECT_EQ(writes(), 2);
    model.removeMany({});
    model.restoreMany({"DSC_0016.jpg"});  // not removed: nothing
    EXPECT_EQ(changed.size(), 2);

    model.restoreMany({"DSC_0010.jpg", "DSC_0011.jpg"});
    EXPECT_EQ(model.removedCount(), 0);
    EXPECT_EQ(model.primaryCount(), 6);
    EXPECT_TRUE(userSelected("DSC_0011.jpg"));

    // A user-added image comes back as added when restored.
    model.addMany(
        {QVariantMap{{"id", 12}, {"filename", "DSC_0021.jpg"}, {"category", "portrait"}, {"clusterNumber", 4}}});
    EXPECT_TRUE(userSelected("DSC_0021.jpg"));
    model.removeImage("DSC_0021.jpg");
    model.restoreImage("DSC_0021.jpg");
    EXPECT_EQ(model.addedCount(), 1);
    const int before = int(changed.size());
    model.addMany({QVariantMap{{"filename", "DSC_0021.jpg"}}, QVariantMap{{"filename", ""}}});  // only duplicates
    EXPECT_EQ(int(changed.size()), before);
}

TEST_F(Review, TicksResetAndReload) {
    save(tenPicks());
    QSignalSpy changed(&model, &SelectionModel::changed);
    // Ticking an image that is not in the list writes it and reloads the project.
    model.setImageSelected(11, true);
    EXPECT_TRUE(model.contains("DSC_0020.jpg"));
    EXPECT_EQ(model.addedCount(), 1);
    EXPECT_EQ(changed.size(), 1);
    // Unticking an image that is not in the list only writes the flag.
    ASSERT_TRUE(store.setUserSelected(12, true));
    model.setImageSelected(12, false);
    EXPECT_FALSE(userSelected("DSC_0021.jpg"));
    EXPECT_EQ(changed.size(), 1);
    model.setImageSelected(1, false);
    EXPECT_EQ(model.removedCount(), 1);

    // Reset: the engine's verdict everywhere, additions gone from the database too.
    model.resetAll();
    EXPECT_EQ(model.addedCount(), 0);
    EXPECT_EQ(model.removedCount(), 0);
    EXPECT_EQ(model.keptCount(), 10);
    EXPECT_FALSE(userSelected("DSC_0020.jpg"));

    // In memory (no project): reset keeps the engine's picks and drops the additions.
    SelectionModel memory;
    memory.load({QVariantMap{{"filename", "a.jpg"}, {"primary", true}}, QVariantMap{{"filename", "b.jpg"}}}, "/in",
                "/out");
    memory.addImage("c.jpg", "venue", 3);
    memory.removeImage("a.jpg");
    memory.resetAll();
    EXPECT_EQ(memory.primaryCount(), 1);
    EXPECT_EQ(memory.reviewCount(), 1);
    EXPECT_FALSE(memory.contains("c.jpg"));
}

TEST_F(Review, SectionsTitlesAndDisplayCategories) {
    save({{"root.jpg", "venue", 1, true, true, 0, "2024:01:01 10:00:00"},
          {"reception/b.jpg", "portrait", 2, true, true, 3},  // three faces: shown as Group
          {"reception/a.jpg", "portrait", 2, true, false, 1},
          {"ceremony/late.jpg", "group", 3, true, false, 4, ""},
          {"ceremony/early.jpg", "group", 3, true, true, 4, "2024:01:01 09:00:00"}});
    model.removeImage("reception/a.jpg");

    const QVariantList grouped = model.groupedView();
    ASSERT_EQ(grouped.size(), 3);
    EXPECT_EQ(grouped[0].toMap()["folder"], "");
    EXPECT_EQ(grouped[1].toMap()["folder"], "ceremony");
    EXPECT_EQ(grouped[2].toMap()["folder"], "reception");
    EXPECT_EQ(names(grouped[1].toMap()["primary"].toList()), (QStringList{"ceremony/early.jpg", "ceremony/late.jpg"}));
    EXPECT_EQ(names(grouped[2].toMap()["removed"].toList()), (QStringList{"reception/a.jpg"}));

    QStringList titles;
    for (const QVariant& s : model.categoryView()) titles << s.toMap()["folder"].toString();
    EXPECT_EQ(titles,
              (QStringList{"Details", "ceremony  —  Group", "reception  —  Portraits", "reception  —  Group"}));
    EXPECT_EQ(names(model.flatView()).first(), "root.jpg");
    EXPECT_EQ(names(model.flatView()).last(), "reception/a.jpg");  // kept first, then removed, per section
    EXPECT_EQ(names(model.removedView()), (QStringList{"reception/a.jpg"}));

    SelectionModel single;
    single.load({QVariantMap{{"filename", "x/a.jpg"}, {"category", "venue"}}}, "/in", "");
    EXPECT_EQ(single.categoryView()[0].toMap()["folder"], "Details");
}

TEST_F(Review, OrphanClustersAndTheExportPreview) {
    save({{"a.jpg", "portrait", 1, true, true}, {"b.jpg", "portrait", 2, false}, {"c.jpg", "portrait", 2, false},
          {"d.jpg", "venue", 1, false}});
    EXPECT_EQ(model.unselectedClusterCount(), 3);  // b and c (portrait 2), d (venue 1)
    EXPECT_EQ(model.unselectedClusterImages().size(), 3);
    model.addMany({QVariantMap{{"id", 2}, {"filename", "b.jpg"}, {"category", "portrait"}}});
    EXPECT_EQ(model.unselectedClusterCount(), 1);  // the whole cluster stops being an orphan
    EXPECT_EQ(names(model.unselectedClusterImages()), (QStringList{"d.jpg"}));
    EXPECT_EQ(model.clustersFromDb("portrait").size(), 2);
    EXPECT_TRUE(model.clustersFromDb("portrait")[1].toMap()["images"].toList()[0].toMap()["alreadySelected"].toBool());
    EXPECT_EQ(names(model.notSelectedImages()), (QStringList{"c.jpg", "d.jpg"}));

    QFile::remove(input + "/d.jpg");
    const QVariantMap preview = model.unselectedExportPreview();
    EXPECT_EQ(preview["count"].toInt(), 1);  // c only: d is gone from disk
    EXPECT_EQ(preview["sizeBytes"].toLongLong(), QFileInfo(input + "/c.jpg").size());
}

TEST_F(Review, FinalExportLayouts) {
    save({{"ceremony/p.jpg", "portrait", 1, true, true, 3}, {"ceremony/v.jpg", "venue", 2, true, true, 0},
          {"ceremony/u.jpg", "portrait", 3, false, false, 3}, {"ceremony/r.jpg", "group", 4, true, false, 5}});
    model.removeImage("ceremony/r.jpg");
    const QString out = QString::fromStdString(dir.str() + "/export");

    // Kept images in one sub-folder, by category: label folders right under final_selection.
    QVariantMap r = model.exportFinal("file://" + out, true, true);
    EXPECT_EQ(r["selected"].toInt(), 2);
    EXPECT_EQ(r["unselected"].toInt(), 2);
    EXPECT_TRUE(QFile::exists(out + "/final_selection/Group/p.jpg"));  // three faces: Group
    EXPECT_TRUE(QFile::exists(out + "/final_selection/Details/v.jpg"));
    EXPECT_TRUE(QFile::exists(out + "/unselected/Portraits/u.jpg"));  // stored category
    EXPECT_TRUE(QFile::exists(out + "/unselected/Group/r.jpg"));      // removed by the user
    // Twice: same counts, one copy each.
    r = model.exportFinal(out, true, true);
    EXPECT_EQ(r["selected"].toInt(), 2);
    EXPECT_EQ(QDir(out + "/final_selection/Group").entryList(QDir::Files).size(), 1);

    // Not by category: the sub-folder level stays.
    const QString flat = QString::fromStdString(dir.str() + "/flat");
    EXPECT_EQ(model.exportFinal(flat)["selected"].toInt(), 2);
    EXPECT_TRUE(QFile::exists(flat + "/final_selection/ceremony/p.jpg"));

    // Nowhere to export: nothing done.
    SelectionModel empty;
    empty.load({QVariantMap{{"filename", "a.jpg"}}}, "/in", "");
    EXPECT_EQ(empty.exportFinal("")["selected"].toInt(), 0);
}

TEST_F(Review, SeveralSubFoldersByCategory) {
    save({{"a/x.jpg", "venue", 1, true, true, 0}, {"b/y.jpg", "portrait", 2, true, true, 1}});
    const QString out = QString::fromStdString(dir.str() + "/export");
    EXPECT_EQ(model.exportFinal(out, true)["selected"].toInt(), 2);
    EXPECT_TRUE(QFile::exists(out + "/final_selection/a/Details/x.jpg"));
    EXPECT_TRUE(QFile::exists(out + "/final_selection/b/Portraits/y.jpg"));
    EXPECT_EQ(model.exportFinal(out, true, true)["unselected"].toInt(), 0);
}

TEST_F(Review, ProjectFileRoundTrip) {
    save({{"a.jpg", "venue", 1, true, true, 0},
          {"b.jpg", "portrait", 2, true, true},
          {"c.jpg", "group", 3, true, false, 4},
          {"d.jpg", "portrait", 4, true, false},
          {"e.jpg", "portrait", 5, true, true}});
    model.removeMany({"d.jpg", "e.jpg"});
    const QString file = QString::fromStdString(dir.str() + "/review.kfproj");
    ASSERT_TRUE(model.saveProject("file://" + file));
    EXPECT_FALSE(model.saveProject(""));
    EXPECT_FALSE(model.saveProject(QString::fromStdString(dir.str() + "/no/such/folder/x.json")));

    SelectionModel reopened;
    EXPECT_EQ(reopened.applyPendingProject(""), -1);
    QVariantMap opened = reopened.openProjectFile(file);
    ASSERT_TRUE(opened["ok"].toBool());
    EXPECT_EQ(opened["savedInput"].toString(), input);
    EXPECT_TRUE(opened["inputExists"].toBool());
    EXPECT_EQ(reopened.applyPendingProject(""), 0);
    EXPECT_EQ(reopened.images().size(), 5);
    EXPECT_EQ(reopened.removedCount(), 2);
    EXPECT_EQ(reopened.keptCount(), 3);
    for (const auto& i : reopened.images()) EXPECT_EQ(i.id, -1);
    EXPECT_EQ(reopened.applyPendingProject(""), -1);  // consumed

    // The photographs moved, and one of them is lost.
    QDir().rename(input, input + "_moved");
    QFile::remove(input + "_moved/c.jpg");
    opened = reopened.openProjectFile(file);
    EXPECT_FALSE(opened["inputExists"].toBool());
    EXPECT_EQ(reopened.applyPendingProject("file://" + input + "_moved"), 1);
    EXPECT_EQ(reopened.images().size(), 4);
    EXPECT_EQ(reopened.inputFolder(), input + "_moved");

    // Not a project file.
    QFile array(QString::fromStdString(dir.str() + "/array.json"));
    ASSERT_TRUE(array.open(QIODevice::WriteOnly));
    array.write("[1, 2, 3]");
    array.close();
    EXPECT_EQ(reopened.openProjectFile(array.fileName())["error"], "Not a valid project file.");
    EXPECT_EQ(reopened.openProjectFile(QString::fromStdString(dir.str() + "/missing.json"))["error"],
              "Cannot open file.");
}

TEST_F(Review, ClustersReadFromTheCategoryReport) {
    std::vector<ImageRecord> frames = {
        keepframe::testing::frame("a b.jpg", Category::Portrait, 0, {keepframe::testing::person(0)},
                                  "2024:01:01 10:00:00"),
        keepframe::testing::frame("c.jpg", Category::Portrait)};
    ClusterMap clusters;
    clusters[12] = {&frames[0], &frames[1]};
    const std::string outBase = dir.str() + "/out";
    keepframe::testing::CapturedLog quiet;
    writeCategoryReport(clusters, Category::Portrait, outBase, quiet.log());
    // A stray image line before the first cluster is ignored.
    const std::string report = outBase + "/_clusters/portrait/category_report.txt";
    std::ifstream in(report);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(report) << "  stray.jpg  valid_faces=1  ct=[]\n" << text;
    SelectionModel m;
    m.load({QVariantMap{{"filename", "c.jpg"}}}, "/in", QString::fromStdString(outBase));
    const QVariantList read = m.loadClusters("portrait");
    ASSERT_EQ(read.size(), 1);
    const QVariantMap c = read[0].toMap();
    EXPECT_EQ(c["clusterId"].toInt(), 12);
    EXPECT_EQ(c["size"].toInt(), 2);
    const QVariantList images = c["images"].toList();
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images[0].toMap()["filename"], "a b.jpg");  // a name with a blank is read whole
    EXPECT_EQ(images[0].toMap()["validFaces"].toInt(), 1);
    EXPECT_TRUE(images[0].toMap()["isRep"].toBool());
    EXPECT_EQ(images[0].toMap()["captureTime"], "2024:01:01 10:00:00");
    EXPECT_TRUE(images[1].toMap()["alreadySelected"].toBool());
    EXPECT_TRUE(model.loadClusters("portrait").isEmpty());  // a project loaded from the database has no output base
}

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QStringList skippedFiles(const QVariantMap& result) {
    QStringList out;
    for (const QVariant& v : result["skipped"].toList()) out << v.toMap()["file"].toString();
    return out;
}

}  // namespace

TEST_F(Review, ExportIntoTheShootNeverTouchesAPhotograph) {
    // A shoot culled from wedding/final_selection and exported into wedding:
    // every target is its own source.
    shootFolder = "wedding/final_selection";
    save({{"a.jpg", "portrait", 1, true, true}, {"b.jpg", "venue", 2, true, true, 0}});
    const QString wedding = QString::fromStdString(dir.str() + "/wedding");
    QVariantMap r = model.exportFinal(wedding);
    EXPECT_EQ(r["selected"].toInt(), 0);
    EXPECT_EQ(r["inPlace"].toInt(), 2);
    EXPECT_EQ(skippedFiles(r), (QStringList{"a.jpg", "b.jpg"}));
    for (const QVariant& v : r["skipped"].toList()) EXPECT_TRUE(v.toMap()["inPlace"].toBool());
    EXPECT_EQ(contents(input + "/a.jpg"), "photo a.jpg");
    EXPECT_EQ(contents(input + "/b.jpg"), "photo b.jpg");
    EXPECT_EQ(QDir(input).entryList(QDir::Files).size(), 2);  // no copies, no leftovers

    // A shoot holding both a.jpg and final_selection/a.jpg, exported into
    // itself: the second photograph is never replaced by the first.
    shootFolder = "mixed";
    save({{"a.jpg", "portrait", 1, true, true}, {"final_selection/a.jpg", "portrait", 2, true, true}});
    r = model.exportFinal(input);
    EXPECT_EQ(r["selected"].toInt(), 2);
    EXPECT_EQ(contents(input + "/a.jpg"), "photo a.jpg");
    EXPECT_EQ(contents(input + "/final_selection/a.jpg"), "photo final_selection/a.jpg");
    EXPECT_EQ(contents(input + "/final_selection/a (2).jpg"), "photo a.jpg");
    EXPECT_EQ(contents(input + "/final_selection/final_selection/a.jpg"), "photo final_selection/a.jpg");
}

TEST_F(Review, ExportCollisionsAndFailuresKeepEveryFile) {
    save({{"x/keep.jpg", "portrait", 1, true, true}, {"y/DSC_1.jpg", "portrait", 2, false},
          {"z/DSC_1.jpg", "portrait", 3, false}});
    const QString out = QString::fromStdString(dir.str() + "/export");
    const QString portraits = out + "/unselected/Portraits";
    // Kept images in one sub-folder: both unselected DSC_1.jpg go to one label folder.
    QVariantMap r = model.exportFinal(out, true, true);
    EXPECT_EQ(r["unselected"].toInt(), 2);
    EXPECT_EQ(contents(portraits + "/DSC_1.jpg"), "photo y/DSC_1.jpg");
    EXPECT_EQ(contents(portraits + "/DSC_1 (2).jpg"), "photo z/DSC_1.jpg");
    // Again: the earlier export's files are replaced, not multiplied.
    r = model.exportFinal(out, true, true);
    EXPECT_EQ(r["unselected"].toInt(), 2);
    EXPECT_EQ(QDir(portraits).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // A source gone missing leaves every earlier copy in place and is named.
    QFile::remove(input + "/z/DSC_1.jpg");
    r = model.exportFinal(out, true, true);
    EXPECT_EQ(r["unselected"].toInt(), 1);
    EXPECT_EQ(skippedFiles(r), (QStringList{"z/DSC_1.jpg"}));
    EXPECT_EQ(r["skipped"].toList()[0].toMap()["reason"].toString(), "missing from the input folder");
    EXPECT_FALSE(r["skipped"].toList()[0].toMap().contains("inPlace"));
    EXPECT_EQ(contents(portraits + "/DSC_1.jpg"), "photo y/DSC_1.jpg");
    EXPECT_EQ(contents(portraits + "/DSC_1 (2).jpg"), "photo z/DSC_1.jpg");

    // A link at a target is never written through.
    const QString elsewhere = QString::fromStdString(dir.str() + "/elsewhere.jpg");
    writeText(elsewhere, "not ours");
    QFile::remove(out + "/final_selection/Portraits/keep.jpg");
    if (QFile::link(elsewhere, out + "/final_selection/Portraits/keep.jpg")) {
        EXPECT_EQ(model.exportFinal(out, true)["selected"].toInt(), 1);
        EXPECT_EQ(contents(elsewhere), "not ours");
        EXPECT_EQ(contents(out + "/final_selection/Portraits/keep (2).jpg"), "photo x/keep.jpg");
    }
}

TEST_F(Review, HostileNamesNeverReachOutside) {
    // The shoot lies two levels down; the victims beside and above the export.
    shootFolder = "nest/shoot";
    save({{"a.jpg", "portrait", 1, true, true}});
    const QString nest = QString::fromStdString(dir.str() + "/nest");
    const QString out = nest + "/out";
    const QString victim = QString::fromStdString(dir.str() + "/victim.jpg");
    writeText(victim, "victim");
    auto untouched = [&] {
        EXPECT_EQ(contents(victim), "victim");
        EXPECT_FALSE(QFile::exists(nest + "/victim.jpg"));
        EXPECT_FALSE(QFile::exists(out + "/victim.jpg"));
    };

    // Project files: none of these is opened, and nothing becomes pending.
    const QStringList hostile = {"../../victim.jpg", "a/../../../victim.jpg", "..\\..\\victim.jpg", victim,
                                 "/victim.jpg", "C:/victim.jpg"};
    for (const QString& name : hostile) {
        const QString file = nest + "/hostile.json";
        writeText(file, QJsonDocument(QJsonObject{{"version", 1}, {"inputFolder", input}, {"outputBase", out},
                                                  {"items", QJsonArray{QJsonObject{{"filename", "a.jpg"}},
                                                                       QJsonObject{{"filename", name}}}}})
                            .toJson());
        SelectionModel opened;
        const QVariantMap result = opened.openProjectFile(file);
        EXPECT_FALSE(result["ok"].toBool()) << name.toStdString();
        EXPECT_TRUE(result["error"].toString().contains(name)) << result["error"].toString().toStdString();
        EXPECT_EQ(opened.applyPendingProject(""), -1);
        EXPECT_EQ(opened.exportFinal(out)["selected"].toInt(), 0);
    }
    untouched();

    // A project database with such names is not opened at all (and is never
    // written with them).
    CullResult r;
    for (const char* name : {"a.jpg", "b.jpg"}) {
        ResultImage img;
        img.filename = name;
        img.category = Category::Portrait;
        img.engineSelected = std::string(name) == "a.jpg";
        r.images.push_back(img);
    }
    const int hostileProject = store.saveCullResult(r, input, {}, 1);
    ASSERT_GE(hostileProject, 0);
    ASSERT_TRUE(store.execProjectSql("UPDATE images SET filename = '../../victim.jpg' WHERE filename = 'b.jpg'"));
    ASSERT_TRUE(store.openProject(projectId));  // the first project; the hostile one is opened afresh below
    r.images[1].filename = "../../victim.jpg";
    EXPECT_EQ(store.saveCullResult(r, input, {}, 1), -1);
    model.loadFromProject(hostileProject, input);
    EXPECT_FALSE(model.hasData());
    const QVariantMap exported = model.exportFinal(out, false, true);
    EXPECT_EQ(exported["selected"].toInt() + exported["unselected"].toInt(), 0);
    untouched();

    // Names handed over in memory are checked when they are used.
    SelectionModel memory;
    memory.load({QVariantMap{{"filename", "../../victim.jpg"}, {"primary", true}}}, input, out);
    const QVariantMap skipped = memory.exportFinal(out);
    EXPECT_EQ(skipped["selected"].toInt(), 0);
    EXPECT_EQ(skippedFiles(skipped), (QStringList{"../../victim.jpg"}));
    untouched();
}

TEST_F(Review, ReopenedFileLeavesTheEarlierProjectAlone) {
    shootFolder = "A";
    save(tenPicks());
    const int a = projectId;
    const QString inputA = input;
    model.removeImage("DSC_0010.jpg");  // stored in A
    auto flagsOfA = [&] {
        QString flags;
        for (const QVariant& v : store.loadProjectImages(a)) flags += v.toMap()["userSelected"].toBool() ? "1" : "0";
        return flags;
    };
    const QString before = flagsOfA();

    shootFolder = "B";
    save({{"b1.jpg", "portrait", 1, true, true}, {"b2.jpg", "portrait", 2, true, false}});
    const int b = projectId;
    const QString fileB = QString::fromStdString(dir.str() + "/b.json");
    ASSERT_TRUE(model.saveProject(fileB));
    writeText(QString::fromStdString(dir.str() + "/C/c.jpg"), "photo c");
    const QString fileC = QString::fromStdString(dir.str() + "/c.json");
    writeText(fileC, QJsonDocument(QJsonObject{{"inputFolder", QString::fromStdString(dir.str() + "/C")},
                                               {"items", QJsonArray{QJsonObject{{"filename", "c.jpg"}}}}})
                         .toJson());

    // Project A open, the file of B opened: B is the project of that file.
    ASSERT_TRUE(model.loadFromProject(a, inputA));
    ASSERT_TRUE(model.openProjectFile(fileB)["ok"].toBool());
    EXPECT_EQ(model.applyPendingProject(""), 0);
    EXPECT_EQ(model.projectId(), b);
    model.removeImage("b1.jpg");
    model.resetAll();
    EXPECT_EQ(flagsOfA(), before);

    // A file of a shoot the library does not know: no project at all.
    ASSERT_TRUE(model.loadFromProject(a, inputA));
    ASSERT_TRUE(model.openProjectFile(fileC)["ok"].toBool());
    EXPECT_EQ(model.applyPendingProject(""), 0);
    EXPECT_EQ(model.projectId(), -1);
    model.removeImage("c.jpg");
    model.setImageSelected(1, true);  // image 1 of A is DSC_0010.jpg, removed there
    model.resetAll();
    EXPECT_EQ(flagsOfA(), before);

    // Nor does an in-memory result loaded after A.
    ASSERT_TRUE(model.loadFromProject(a, inputA));
    model.load({QVariantMap{{"filename", "DSC_0011.jpg"}, {"primary", true}}}, inputA, "");
    EXPECT_EQ(model.projectId(), -1);
    model.setImageSelected(1, true);
    model.resetAll();
    EXPECT_EQ(flagsOfA(), before);
}

TEST_F(Review, TheClusterNumberKeepsItsStoredNameAndReadsUnderEither) {
    save({{"a.jpg", "portrait", 7, true, true}});
    const QString file = QString::fromStdString(dir.str() + "/clusters.json");
    ASSERT_TRUE(model.saveProject(file));
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QJsonObject item = QJsonDocument::fromJson(saved.readAll()).object()["items"].toArray()[0].toObject();
    EXPECT_EQ(item["clusterSize"].toInt(), 7);  // the name earlier versions read
    EXPECT_FALSE(item.contains("clusterNumber"));

    for (const char* key : {"clusterSize", "clusterNumber"}) {
        const QJsonObject written{{"filename", "a.jpg"}, {"category", "portrait"}, {key, 9}};
        writeText(file, QJsonDocument(QJsonObject{{"inputFolder", input}, {"items", QJsonArray{written}}}).toJson());
        SelectionModel reopened;
        ASSERT_TRUE(reopened.openProjectFile(file)["ok"].toBool());
        ASSERT_EQ(reopened.applyPendingProject(""), 0);
        EXPECT_EQ(reopened.images()[0].clusterNumber, 9) << key;
        EXPECT_EQ(reopened.keptImages()[0].toMap()["clusterSize"].toInt(), 9) << key;
    }
}

TEST_F(Review, GroupAndFeaturedSurviveLoadAndProjectFiles) {
    for (const char* name : {"g.jpg", "f.jpg", "p.jpg", "v.jpg"})
        writeText(input + "/" + name, "photo");
    SelectionModel m;
    m.load({QVariantMap{{"filename", "g.jpg"}, {"category", "portrait"}, {"totalDetectedFaces", 3}, {"primary", true}},
            QVariantMap{{"filename", "f.jpg"}, {"category", "portrait"}, {"isFeatured", true}},
            QVariantMap{{"filename", "p.jpg"}, {"category", "portrait"}, {"totalDetectedFaces", 2}},
            QVariantMap{{"filename", "v.jpg"}, {"category", "venue"}}},
           input, "");
    auto titles = [](const SelectionModel& model) {
        QStringList out;
        for (const QVariant& s : model.categoryView()) out << s.toMap()["folder"].toString();
        return out;
    };
    const QStringList all = {"Details", "Featured", "Portraits", "Group"};
    EXPECT_EQ(titles(m), all);

    const QString file = QString::fromStdString(dir.str() + "/memory.json");
    ASSERT_TRUE(m.saveProject(file));
    SelectionModel reopened;
    ASSERT_TRUE(reopened.openProjectFile(file)["ok"].toBool());
    EXPECT_EQ(reopened.applyPendingProject(""), 0);
    EXPECT_EQ(titles(reopened), all);

    // A file written before these keys existed still opens, as Portraits.
    writeText(file, QJsonDocument(QJsonObject{{"inputFolder", input},
                                              {"items", QJsonArray{QJsonObject{{"filename", "g.jpg"},
                                                                               {"category", "portrait"}}}}})
                        .toJson());
    ASSERT_TRUE(reopened.openProjectFile(file)["ok"].toBool());
    EXPECT_EQ(reopened.applyPendingProject(""), 0);
    EXPECT_EQ(titles(reopened), QStringList{"Portraits"});
}
