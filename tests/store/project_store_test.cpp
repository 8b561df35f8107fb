#include "project_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <thread>

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {

// Every test gets its own library folder; a real user's library is never touched.
struct Library : ::testing::Test {
    TempDir dir;
    QString data;
    void SetUp() override {
        data = QString::fromStdString(dir.str()) + "/data";
        qputenv("KEEPFRAME_DATA_DIR", data.toUtf8());
    }
    void TearDown() override { qunsetenv("KEEPFRAME_DATA_DIR"); }

    // Reads one value straight from a SQLite file.
    static QVariant scalar(const QString& file, const QString& sql) {
        QVariant v;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
            db.setDatabaseName(file);
            db.open();
            QSqlQuery q(db);
            if (q.exec(sql) && q.next()) v = q.value(0);
            db.close();
        }
        QSqlDatabase::removeDatabase("peek");
        return v;
    }
};

ResultImage row(const std::string& name, const std::string& category, int cluster, const std::string& time = "",
                bool selected = false) {
    ResultImage r;
    r.filename = name;
    r.path = "/photos/" + name;
    r.category = category;
    r.clusterNumber = cluster;
    r.captureTime = time;
    r.engineSelected = selected;
    r.isPrimary = selected;
    r.fullW = 6000;
    r.fullH = 4000;
    r.score = 0.5f;
    r.reason = selected ? "venue" : "";
    r.thumbnailJpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    return r;
}

CullResult shoot(int images) {
    CullResult r;
    for (int i = 0; i < images; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.jpg", i);
        r.images.push_back(row(name, i % 2 ? "portrait" : "venue", 1 + i / 4, "", i % 3 == 0));
    }
    r.totalInput = images;
    r.totalSelected = int32_t((images + 2) / 3);
    return r;
}

}  // namespace

TEST(FolderSlug, Examples) {
    EXPECT_EQ(folderSlug("Hall & Lawn: Reception.2024"), "Hall_Lawn_Reception_2024");
    EXPECT_EQ(folderSlug("!!!"), "project");
    EXPECT_EQ(folderSlug("__a__"), "a");
    EXPECT_EQ(folderSlug("Garden Party 2024"), "Garden_Party_2024");
    EXPECT_EQ(folderSlug("Hochzeit Müller"), "Hochzeit_Müller");
    EXPECT_EQ(folderSlug(QString(100, 'x')), QString(60, 'x'));
    EXPECT_EQ(folderSlug(QString(59, 'x') + " y"), QString(59, 'x') + "_");  // the cut keeps its "_"
}

TEST_F(Library, FirstStartCreatesFoldersTablesAndCounters) {
    ProjectStore store;
    EXPECT_FALSE(store.registryOpen());
    EXPECT_TRUE(store.listProjects().isEmpty());
    EXPECT_EQ(store.lastError(), "Registry not open.");
    ASSERT_TRUE(store.openRegistry()) << store.lastError().toStdString();
    EXPECT_EQ(store.appDataDir(), data);
    EXPECT_TRUE(QDir(data + "/thumbnails").exists());
    EXPECT_TRUE(QDir(data + "/projects").exists());
    EXPECT_EQ(store.readStat("lifetime_projects"), 0);
    EXPECT_EQ(store.readStat("seeded"), 1);
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM app_stats").toInt(), 3);
    EXPECT_EQ(scalar(data + "/projects.db", "PRAGMA journal_mode").toString(), "wal");

    store.bumpStat("lifetime_enhanced_images", 5);
    store.bumpStat("lifetime_enhanced_images", 0);
    EXPECT_EQ(store.lifetimeEnhancedImages(), 5);
    store.bumpStat("lifetime_enhanced_images", 2);
    EXPECT_EQ(store.lifetimeEnhancedImages(), 7);
}

TEST_F(Library, OldRegistryIsSeededOnceAndNeverAgain) {
    QDir().mkpath(data);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(data + "/projects.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE projects (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, db_folder "
                           "TEXT, input_folder TEXT NOT NULL, created_at TEXT NOT NULL, last_opened_at TEXT, "
                           "cull_time_seconds INTEGER NOT NULL DEFAULT 0, total_images INTEGER NOT NULL DEFAULT 0, "
                           "engine_selected_count INTEGER NOT NULL DEFAULT 0, cover_image_id INTEGER, "
                           "cover_is_user_set INTEGER NOT NULL DEFAULT 0, source_available INTEGER NOT NULL DEFAULT 1)"));
        for (int images : {120, 80, 0})
            ASSERT_TRUE(q.exec(QString("INSERT INTO projects (name, input_folder, created_at, total_images) VALUES "
                                       "('p', '/in', '2024-01-01T00:00:00', %1)").arg(images)));
        db.close();
    }
    QSqlDatabase::removeDatabase("old");
    {
        ProjectStore store;
        ASSERT_TRUE(store.openRegistry());
        EXPECT_EQ(store.lifetimeProjects(), 3);
        EXPECT_EQ(store.lifetimeCulledImages(), 200);
        ASSERT_TRUE(store.deleteProject(1));
    }
    ProjectStore again;
    ASSERT_TRUE(again.openRegistry());
    EXPECT_EQ(again.lifetimeProjects(), 3);  // lifetime totals: deletion does not decrease them
    EXPECT_EQ(again.lifetimeCulledImages(), 200);
}

TEST_F(Library, SaveAndReadBack) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r;
    ResultImage a = row("b.jpg", "portrait", 3, "2024:05:01 10:00:00", true);
    a.faceBoxes = {{40, 80, 120, 160}, {400, 80, 100, 100}, {800, 80, 90, 90}};
    a.facePersons = {0, 2};  // the third face has no person entry
    a.detectionCount = 4;
    a.detections = {{10, 20, 30, 50, 0.9f, true, ""}, {1, 1, 5, 5, 0.6f, false, "small_area"}};
    ResultImage b = row("a.jpg", "portrait", 3, "", false);
    b.thumbnailJpeg.clear();
    ResultImage c = row("c.jpg", "venue", 1, "2024:05:01 09:00:00", true);
    ResultImage d = row("d.jpg", "venue", 1, "2024:05:01 09:00:00", false);
    r.images = {a, b, c, d};
    r.totalInput = 4;
    r.totalSelected = 2;
    r.coverIndex = 2;

    const int id = store.saveCullResult(r, "/shoots/Garden Party 2024/", {}, 42);
    ASSERT_GE(id, 0) << store.lastError().toStdString();
    EXPECT_EQ(store.currentProjectId(), id);
    const QString folder = "Garden_Party_2024_p" + QString::number(id);
    EXPECT_EQ(store.currentDbFolder(), folder);

    const QVariantList projects = store.listProjects();
    ASSERT_EQ(projects.size(), 1);
    const QVariantMap p = projects[0].toMap();
    EXPECT_EQ(p["name"].toString(), "Garden Party 2024");
    EXPECT_EQ(p["totalImages"].toInt(), 4);
    EXPECT_EQ(p["userSelectedCount"].toInt(), p["engineSelectedCount"].toInt());
    EXPECT_EQ(p["cullTimeSeconds"].toInt(), 42);
    EXPECT_TRUE(p["coverThumbPath"].toString().endsWith(folder + "/thumbnails/3.jpg"));
    EXPECT_TRUE(p["coverThumbUrl"].toString().startsWith("file://"));
    EXPECT_EQ(store.lifetimeProjects(), 1);
    EXPECT_EQ(store.lifetimeCulledImages(), 4);

    // Read back through a second store, as the UI thread would.
    ProjectStore ui;
    ASSERT_TRUE(ui.openRegistry());
    const QVariantList images = ui.loadProjectImages(id);
    ASSERT_EQ(images.size(), 4);
    QStringList order;
    for (const auto& v : images) order << v.toMap()["filename"].toString();
    EXPECT_EQ(order, (QStringList{"c.jpg", "d.jpg", "b.jpg", "a.jpg"}));  // by time, then name; undated last
    const QVariantMap first = images[2].toMap();
    EXPECT_EQ(first["faceBoxes"].toList().size(), 3);
    EXPECT_EQ(first["clusterImageCount"].toInt(), 2);
    EXPECT_EQ(first["totalDetectedFaces"].toInt(), 4);
    EXPECT_EQ(first["thumbPath"].toString(), "thumbnails/1.jpg");
    EXPECT_TRUE(QFile::exists(data + "/projects/" + folder + "/thumbnails/1.jpg"));
    EXPECT_TRUE(images[3].toMap()["thumbUrl"].toString().isEmpty());  // no thumbnail bytes, no file
    EXPECT_FALSE(QFile::exists(data + "/projects/" + folder + "/thumbnails/2.jpg"));

    const QVariantList faces = ui.facesWithConfidence(1);
    ASSERT_EQ(faces.size(), 3);
    EXPECT_DOUBLE_EQ(faces[2].toList()[4].toDouble(), 1.0);  // no confidences: 1.0
    EXPECT_EQ(ui.displayFacesForImage(1).size(), 3);
    const QString db = data + "/projects/" + folder + "/project.db";
    EXPECT_EQ(scalar(db, "SELECT person_id FROM faces WHERE id = 3").toInt(), -1);
    const QVariantList dets = ui.detectionsForImage(1);
    ASSERT_EQ(dets.size(), 2);
    const QVariantMap det = dets[0].toMap();
    EXPECT_EQ(det["x"].toInt(), 40);
    EXPECT_EQ(det["y"].toInt(), 80);
    EXPECT_EQ(det["w"].toInt(), 80);
    EXPECT_EQ(det["h"].toInt(), 120);
    EXPECT_EQ(dets[1].toMap()["reason"].toString(), "small_area");

    const QVariantList clusters = ui.clustersForProject(id, "portrait", false);
    ASSERT_EQ(clusters.size(), 1);
    EXPECT_EQ(clusters[0].toMap()["clusterNumber"].toInt(), 3);
    EXPECT_EQ(clusters[0].toMap()["imageCount"].toInt(), 2);
    EXPECT_EQ(clusters[0].toMap()["selectedCount"].toInt(), 1);
    EXPECT_EQ(clusters[0].toMap()["images"].toList().size(), 2);
    // An orphan cluster has no user-selected image left.
    EXPECT_TRUE(ui.clustersForProject(id, "portrait", true).isEmpty());
    ASSERT_TRUE(ui.setUserSelected(1, false));
    EXPECT_EQ(ui.clustersForProject(id, "portrait", true).size(), 1);
    EXPECT_EQ(ui.unselectedImagesForProject(id).size(), 3);
    ASSERT_TRUE(ui.resetToEngine(id));
    EXPECT_EQ(ui.unselectedImagesForProject(id).size(), 2);
}

TEST_F(Library, DisplayFacesFilter) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r;
    ResultImage img = row("x.jpg", "group", 1);
    img.faceBoxes = {{0, 0, 1, 1}, {1, 0, 1, 1}, {2, 0, 1, 1}, {3, 0, 1, 1}, {4, 0, 1, 1}};
    img.facePersons = {3, -1, 5, -1, -1};
    img.faceConfidences = {0.75f, 0.75f, 0.75f, 0.80f, 0.85f};
    r.images = {img};
    const int id = store.saveCullResult(r, "/in/x", {}, 1);
    ASSERT_GE(id, 0);
    QList<int> shown;
    for (const auto& f : store.displayFacesForImage(1)) shown << f.toList()[0].toInt();
    EXPECT_EQ(shown, (QList<int>{0, 4}));
}

TEST_F(Library, RenameMovesTheFolderAndDeleteKeepsThePhotos) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    const int id = store.saveCullResult(shoot(4), "/in/Wedding", {}, 1);
    ASSERT_GE(id, 0);
    const QString root = store.projectsRoot();

    ASSERT_TRUE(store.renameProject(id, "Wedding "));  // same slug: only the name changes
    EXPECT_EQ(store.currentProjectId(), id);
    EXPECT_TRUE(QDir(root + "/Wedding_p1").exists());

    ASSERT_TRUE(store.renameProject(id, "Anna & Ben"));  // the open project is closed and moved
    EXPECT_EQ(store.currentProjectId(), -1);
    EXPECT_FALSE(QDir(root + "/Wedding_p1").exists());
    EXPECT_TRUE(QFile::exists(root + "/Anna_Ben_p1/project.db"));
    EXPECT_EQ(store.loadProjectImages(id).size(), 4);  // reopened under the new folder
    EXPECT_EQ(store.currentDbFolder(), "Anna_Ben_p1");

    // A move that cannot happen leaves the row as it was and says why.
    QFile blocker(root + "/Blocked_p1");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(store.renameProject(id, "Blocked"));
    EXPECT_TRUE(store.lastError().startsWith("renameProject failed"));
    EXPECT_EQ(store.listProjects()[0].toMap()["name"].toString(), "Anna & Ben");
    EXPECT_TRUE(QDir(root + "/Anna_Ben_p1").exists());

    // Deleting the open project closes it and removes only its own folder.
    const QString photo = QString::fromStdString(dir.file("photos/DSC_0001.jpg"));
    QFile f(photo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(store.openProject(id));
    ASSERT_TRUE(store.deleteProject(id));
    EXPECT_EQ(store.currentProjectId(), -1);
    EXPECT_FALSE(QDir(root + "/Anna_Ben_p1").exists());
    EXPECT_TRUE(QFile::exists(photo));
    EXPECT_TRUE(store.listProjects().isEmpty());
    EXPECT_TRUE(store.deleteProject(999));  // no row: still a success
    EXPECT_FALSE(store.openProject(id));
    EXPECT_EQ(store.lastError(), QString("Project %1 not found in registry.").arg(id));
}

TEST_F(Library, BatchSelectionIsAllOrNothing) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    EXPECT_FALSE(store.setUserSelectedMany({1}, true));
    EXPECT_EQ(store.lastError(), "Database not open.");
    const int id = store.saveCullResult(shoot(6), "/in/batch", {}, 1);
    ASSERT_GE(id, 0);
    EXPECT_TRUE(store.setUserSelectedMany({}, true));
    ASSERT_TRUE(store.execProjectSql("CREATE TRIGGER refuse BEFORE UPDATE ON images WHEN NEW.id = 5 BEGIN SELECT "
                                     "RAISE(ABORT, 'refused'); END;"));
    EXPECT_FALSE(store.setUserSelectedMany({2, 3, 5, 6}, true));
    EXPECT_TRUE(store.lastError().startsWith("setUserSelectedMany failed: "));
    int selected = 0;
    for (const auto& v : store.loadProjectImages(id)) selected += v.toMap()["userSelected"].toBool();
    EXPECT_EQ(selected, 2);  // images 1 and 4, as saved
    EXPECT_TRUE(store.setUserSelectedMany({2, 3, 6}, true));  // no transaction was left open
}

TEST_F(Library, FailedSaveLeavesNoImagesAndNoCounts) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    // The next project (id 1, folder fails_p1) gets a database whose images
    // table refuses the 500th row.
    const QString folder = data + "/projects/fails_p1";
    QDir().mkpath(folder);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "trap");
        db.setDatabaseName(folder + "/project.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE images (  id INTEGER PRIMARY KEY AUTOINCREMENT, filename TEXT NOT NULL, path "
                           "TEXT NOT NULL, category TEXT NOT NULL, cluster_number INTEGER NOT NULL DEFAULT 0, "
                           "capture_time TEXT, full_w INTEGER, full_h INTEGER, orientation INTEGER, score REAL, reason "
                           "TEXT, engine_selected INTEGER, user_selected INTEGER, is_primary INTEGER, thumb_path TEXT, "
                           "sharpness REAL, eye_sharp REAL, exposure REAL, contrast REAL, emotion_score REAL, best_pi "
                           "REAL, has_vip INTEGER, total_detected_faces INTEGER, is_featured INTEGER, applied_rotation "
                           "INTEGER)"));
        ASSERT_TRUE(q.exec("CREATE TRIGGER full BEFORE INSERT ON images WHEN (SELECT COUNT(*) FROM images) >= 499 "
                           "BEGIN SELECT RAISE(ABORT, 'disk full'); END;"));
        db.close();
    }
    QSqlDatabase::removeDatabase("trap");

    const int id = store.saveCullResult(shoot(600), "/in/fails", {}, 1);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(store.lastError().startsWith("Insert image failed: ")) << store.lastError().toStdString();
    EXPECT_EQ(scalar(folder + "/project.db", "SELECT COUNT(*) FROM images").toInt(), 0);
    EXPECT_EQ(store.lifetimeProjects(), 0);
    EXPECT_EQ(store.lifetimeCulledImages(), 0);
}

TEST_F(Library, WorkerSavesWhileTheUiLists) {
    ProjectStore ui;
    ASSERT_TRUE(ui.openRegistry());
    std::atomic<bool> done{false};
    std::atomic<int> saved{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) {
            ProjectStore store;  // the worker's own store and connections
            if (store.openRegistry() && store.saveCullResult(shoot(200), "/in/shoot" + QString::number(i), {}, 1) >= 0)
                ++saved;
        }
        done = true;
    });
    int listings = 0;
    while (!done) {
        ui.listProjects();
        ++listings;
        QThread::msleep(2);
    }
    worker.join();
    EXPECT_EQ(saved.load(), 5);
    EXPECT_GT(listings, 0);
    EXPECT_EQ(ui.listProjects().size(), 5);
    EXPECT_EQ(ui.lifetimeCulledImages(), 1000);
}
