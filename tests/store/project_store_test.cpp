#include "path_safety.h"
#include "project_file.h"
#include "project_store.h"
#include "frames.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <functional>
#include <thread>

using namespace keepframe;
using keepframe::testing::resultRow;
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

    // Runs `work` with a query on the SQLite file `file` (made when missing)
    // through a connection of its own, gone afterwards: whether the file
    // opened and `work` succeeded.
    static bool withDatabase(const QString& file, const std::function<bool(QSqlQuery&)>& work) {
        bool done = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "by-hand");
            db.setDatabaseName(file);
            if (db.open()) {
                QSqlQuery q(db);
                done = work(q);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase("by-hand");
        return done;
    }

    // Opens the registry of `store` and saves `shoot` from `input` in it; its id in `id`.
    static void openWithShoot(ProjectStore& store, const CullResult& shoot, const QString& input, int& id) {
        ASSERT_TRUE(store.openRegistry());
        id = store.saveCullResult(shoot, input, {}, 1);
        ASSERT_GE(id, 0) << store.lastError().toStdString();
    }

    // Reads one value straight from a SQLite file.
    static QVariant scalar(const QString& file, const QString& sql) {
        QVariant v;
        withDatabase(file, [&](QSqlQuery& q) {
            if (q.exec(sql) && q.next()) v = q.value(0);
            return true;
        });
        return v;
    }
};

ResultImage row(const std::string& name, Category category, int cluster, const std::string& time = "",
                bool selected = false) {
    ResultImage r = resultRow("/photos", name, category, cluster, selected, selected);
    r.captureTime = time;
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
        r.images.push_back(row(name, i % 2 ? Category::Portrait : Category::Venue, 1 + i / 4, "", i % 3 == 0));
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
    ASSERT_TRUE(withDatabase(data + "/projects.db", [](QSqlQuery& q) {
        bool done = q.exec(R"sql(CREATE TABLE projects (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL,
            db_folder TEXT, input_folder TEXT NOT NULL, created_at TEXT NOT NULL, last_opened_at TEXT,
            cull_time_seconds INTEGER NOT NULL DEFAULT 0, total_images INTEGER NOT NULL DEFAULT 0,
            engine_selected_count INTEGER NOT NULL DEFAULT 0, cover_image_id INTEGER,
            cover_is_user_set INTEGER NOT NULL DEFAULT 0, source_available INTEGER NOT NULL DEFAULT 1))sql");
        for (int images : {120, 80, 0})
            done = done && q.exec(QString(R"sql(INSERT INTO projects (name, input_folder, created_at, total_images)
                                                VALUES ('p', '/in', '2024-01-01T00:00:00', %1))sql")
                                      .arg(images));
        return done;
    }));
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

// Detections are stored in full-resolution pixels of the frame: the last
// analysis pixels of a frame whose sides are not a multiple of the analysis
// scale reach past its edge, and the stored box ends at the edge.
TEST_F(Library, DetectionBoxesStayInsideOddSizedFrames) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r;
    ResultImage odd = row("odd.jpg", Category::Portrait, 1, "", true);
    odd.fullW = 401;
    odd.fullH = 299;
    odd.detections = {{60, 40, 101, 75, 0.9f, false, "edge"}, {10, 20, 30, 50, 0.8f, true, ""}};
    r.images = {odd};
    r.totalInput = 1;
    const int id = store.saveCullResult(r, "/shoots/odd/", {}, 1);
    ASSERT_GE(id, 0) << store.lastError().toStdString();
    const QVariantList dets = store.detectionsForImage(1);
    ASSERT_EQ(dets.size(), 2);
    const QVariantMap inside = dets[0].toMap(), edge = dets[1].toMap();  // usable detections first
    EXPECT_EQ(edge["x"].toInt(), 240);
    EXPECT_EQ(edge["y"].toInt(), 160);
    EXPECT_EQ(edge["w"].toInt(), 161);
    EXPECT_EQ(edge["h"].toInt(), 139);
    EXPECT_EQ(inside["w"].toInt(), 80);
    EXPECT_EQ(inside["h"].toInt(), 120);
}

TEST_F(Library, SaveAndReadBack) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r;
    ResultImage a = row("b.jpg", Category::Portrait, 3, "2024:05:01 10:00:00", true);
    a.faceBoxes = {{40, 80, 120, 160}, {400, 80, 100, 100}, {800, 80, 90, 90}};
    a.facePersons = {0, 2};  // the third face has no person entry
    a.detectionCount = 4;
    a.detections = {{10, 20, 30, 50, 0.9f, true, ""}, {1, 1, 5, 5, 0.6f, false, "small_area"}};
    ResultImage b = row("a.jpg", Category::Portrait, 3, "", false);
    b.thumbnailJpeg.clear();
    ResultImage c = row("c.jpg", Category::Venue, 1, "2024:05:01 09:00:00", true);
    ResultImage d = row("d.jpg", Category::Venue, 1, "2024:05:01 09:00:00", false);
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

    // The handover's rows: the full rows' order and verdict fields, the user's change included.
    const QVariantList full = ui.loadProjectImages(id);
    const QList<HandoverRow> lean = ui.loadHandoverRows(id);
    ASSERT_EQ(lean.size(), full.size());
    for (qsizetype i = 0; i < lean.size(); ++i) {
        const QVariantMap m = full[i].toMap();
        const HandoverRow& h = lean[i];
        EXPECT_EQ(h.id, m["id"].toInt());
        EXPECT_EQ(h.filename, m["filename"].toString());
        EXPECT_EQ(h.category, m["category"].toString());
        EXPECT_EQ(h.clusterNumber, m["clusterNumber"].toInt());
        EXPECT_EQ(h.totalDetectedFaces, m["totalDetectedFaces"].toInt());
        EXPECT_EQ(h.isFeatured, m["isFeatured"].toBool());
        EXPECT_EQ(h.engineSelected, m["engineSelected"].toBool());
        EXPECT_EQ(h.userSelected, m["userSelected"].toBool()) << i;
    }
    EXPECT_TRUE(ui.loadHandoverRows(id + 100).isEmpty());
    ASSERT_TRUE(ui.resetToEngine(id));
    EXPECT_EQ(ui.unselectedImagesForProject(id).size(), 2);
}

TEST_F(Library, DisplayFacesFilter) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r;
    ResultImage img = row("x.jpg", Category::Group, 1);
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
    int id = -1;
    ASSERT_NO_FATAL_FAILURE(openWithShoot(store, shoot(4), "/in/Wedding", id));
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
    ASSERT_TRUE(store.execProjectSql(R"sql(CREATE TRIGGER refuse BEFORE UPDATE ON images WHEN NEW.id = 5
                                           BEGIN SELECT RAISE(ABORT, 'refused'); END;)sql"));
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
    ASSERT_TRUE(withDatabase(folder + "/project.db", [](QSqlQuery& q) {
        return q.exec(R"sql(CREATE TABLE images (id INTEGER PRIMARY KEY AUTOINCREMENT, filename TEXT NOT NULL,
            path TEXT NOT NULL, category TEXT NOT NULL, cluster_number INTEGER NOT NULL DEFAULT 0,
            capture_time TEXT, full_w INTEGER, full_h INTEGER, orientation INTEGER, score REAL, reason TEXT,
            engine_selected INTEGER, user_selected INTEGER, is_primary INTEGER, thumb_path TEXT,
            sharpness REAL, eye_sharp REAL, exposure REAL, contrast REAL, emotion_score REAL, best_pi REAL,
            has_vip INTEGER, total_detected_faces INTEGER, is_featured INTEGER, applied_rotation INTEGER))sql") &&
               q.exec(R"sql(CREATE TRIGGER full BEFORE INSERT ON images
                            WHEN (SELECT COUNT(*) FROM images) >= 499
                            BEGIN SELECT RAISE(ABORT, 'disk full'); END;)sql");
    }));

    const int id = store.saveCullResult(shoot(600), "/in/fails", {}, 1);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(store.lastError().startsWith("Insert image failed: ")) << store.lastError().toStdString();
    EXPECT_FALSE(QDir(folder).exists());  // no image rows, no database, no thumbnails
    EXPECT_EQ(store.lifetimeProjects(), 0);
    EXPECT_EQ(store.lifetimeCulledImages(), 0);
    // Nothing half-written is left to be listed beside the good projects.
    EXPECT_TRUE(store.listProjects().isEmpty());
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects").toInt(), 0);
    EXPECT_EQ(store.currentProjectId(), -1);
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
    // What the UI lists while the worker saves is always whole: the count
    // only grows, and every listed project has all its images.
    int listings = 0, lastCount = 0, incomplete = 0, shrank = 0;
    while (!done) {
        const QVariantList projects = ui.listProjects();
        ++listings;
        if (projects.size() < lastCount) ++shrank;
        lastCount = int(projects.size());
        if (!projects.isEmpty()) {
            const QVariantMap newest = projects.first().toMap();
            if (newest["totalImages"].toInt() != 200 || ui.loadProjectImages(newest["id"].toInt()).size() != 200)
                ++incomplete;
        }
        QThread::msleep(2);
    }
    worker.join();
    EXPECT_EQ(saved.load(), 5);
    EXPECT_GT(listings, 0);
    EXPECT_EQ(incomplete, 0);
    EXPECT_EQ(shrank, 0);
    const QVariantList projects = ui.listProjects();
    ASSERT_EQ(projects.size(), 5);
    for (const QVariant& p : projects) EXPECT_EQ(ui.loadProjectImages(p.toMap()["id"].toInt()).size(), 200);
    EXPECT_EQ(ui.lifetimeCulledImages(), 1000);
}

TEST(PathSafety, NamesThatLeaveTheirFolder) {
    for (const char* inside : {"a.jpg", "ceremony/a.jpg", "a/../b.jpg", "./a.jpg", "a b/c d.jpg", "...", "a..b.jpg",
                               "x\\y.jpg", "a//b.jpg"})
        EXPECT_TRUE(staysInside(inside)) << inside;
    for (const char* outside : {"", "..", "../x.jpg", "../../x.jpg", "a/../../x.jpg", "a/..", ".", "/etc/passwd",
                                "\\x.jpg", "\\\\server\\share\\x.jpg", "C:/x.jpg", "c:x.jpg", "a\\..\\..\\x.jpg"})
        EXPECT_FALSE(staysInside(outside)) << outside;
    EXPECT_FALSE(staysInside(QString("a") + QChar(0) + "/../../x"));

    EXPECT_EQ(pathInside("/shoot", "a/b.jpg"), "/shoot/a/b.jpg");
    EXPECT_EQ(pathInside("/shoot/", "b.jpg"), "/shoot/b.jpg");
    EXPECT_EQ(pathInside("/shoot", "../b.jpg"), "");
    EXPECT_TRUE(isChildName("Wedding_p3"));
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "/abs", "../Wedding_p3"})
        EXPECT_FALSE(isChildName(bad)) << bad;
}

TEST(PathSafety, FileUrlsBecomeTheLocalPathsTheyName) {
    // As Qt's dialogs hand them over (escaped), and as typed (not).
    EXPECT_EQ(localPathFromUrl("file:///shoots/100%25%20wedding"), "/shoots/100% wedding");
    EXPECT_EQ(localPathFromUrl("file:///shoots/100% wedding"), "/shoots/100% wedding");
    EXPECT_EQ(localPathFromUrl("file:///shoots/my%20shoot/a b"), "/shoots/my shoot/a b");
    EXPECT_EQ(localPathFromUrl("file:///shoots/%C3%A9t%C3%A9"), QString::fromUtf8("/shoots/\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(localPathFromUrl(QString::fromUtf8("file:///shoots/\xc3\xa9t\xc3\xa9")),
              QString::fromUtf8("/shoots/\xc3\xa9t\xc3\xa9"));
    // A host is a share, not the first folder of a local path.
    EXPECT_EQ(localPathFromUrl("file://server/share/wedding"), "//server/share/wedding");
    // Paths stay as they are, whatever they hold.
    for (const char* path : {"", "/shoots/100% wedding", "relative/a%20b", "//server/share", "C:/shoots"})
        EXPECT_EQ(localPathFromUrl(path), path);
}

TEST(PathSafety, FoldersAreComparedWithLinksResolved) {
    TempDir dir;
    const QString root = QString::fromStdString(dir.str());
    for (const char* folder : {"/shoot/ceremony", "/shoot2", "/elsewhere"}) ASSERT_TRUE(QDir().mkpath(root + folder));
    EXPECT_TRUE(resolvesWithin(root + "/shoot", root + "/shoot"));
    EXPECT_TRUE(resolvesWithin(root + "/shoot/", root + "/shoot/ceremony/../ceremony"));
    EXPECT_FALSE(resolvesWithin(root + "/shoot", root + "/shoot2"));  // shares the first letters only
    EXPECT_FALSE(resolvesWithin(root + "/shoot", root + "/shoot/.."));
    EXPECT_FALSE(resolvesWithin(root + "/shoot/ceremony", root + "/shoot"));
    EXPECT_FALSE(resolvesWithin("", root));
    EXPECT_TRUE(resolvesWithin(root + "/shoot", root + "/SHOOT/ceremony", Qt::CaseInsensitive));
    EXPECT_FALSE(resolvesWithin(root + "/shoot", root + "/SHOOT/ceremony", Qt::CaseSensitive));
    // A link inside the shoot that leads out of it is outside, whatever its name says.
    if (QFile::link(root + "/elsewhere", root + "/shoot/out")) {
        EXPECT_FALSE(resolvesWithin(root + "/shoot", root + "/shoot/out"));
        EXPECT_TRUE(resolvesWithin(root + "/elsewhere", root + "/shoot/out"));
    }
}

TEST(PathSafety, FilesAreReplacedWholeOrNotAtAll) {
    TempDir dir;
    const QString root = QString::fromStdString(dir.str());
    auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    const QString target = root + "/target.jpg", source = root + "/source.jpg", linked = root + "/linked.jpg";
    for (const auto& [path, bytes] : {std::pair{source, "new"}, {target, "old"}, {linked, "kept"}})
        ASSERT_TRUE(writeBytesReplacing(path, bytes));
    QStringList expected = {"linked.jpg", "source.jpg", "target.jpg"};

    // A write that breaks off leaves the old file.
    QString error;
    EXPECT_FALSE(writeFileReplacing(target, [](QFileDevice& f) { return f.write("half") < 0; }, &error));
    EXPECT_EQ(read(target), "old");
    EXPECT_TRUE(error.contains(target)) << error.toStdString();
    EXPECT_FALSE(writeBytesReplacing(root + "/no/such/folder/x.jpg", "x"));
    // A link at the target is replaced, never written through.
    if (QFile::link(linked, root + "/link.jpg")) {
        expected << "link.jpg";
        EXPECT_TRUE(writeBytesReplacing(root + "/link.jpg", "mine"));
        EXPECT_FALSE(QFileInfo(root + "/link.jpg").isSymLink());
        EXPECT_EQ(read(root + "/link.jpg"), "mine");
        EXPECT_EQ(read(linked), "kept");
    }
    // A copy as a new file never takes a name in use, not even that of a dangling link.
    EXPECT_FALSE(copyFileAsNew(source, target));
    EXPECT_EQ(read(target), "old");
    if (QFile::link(root + "/gone.jpg", root + "/dangling.jpg")) {
        expected << "dangling.jpg";
        EXPECT_FALSE(copyFileAsNew(source, root + "/dangling.jpg"));
        EXPECT_FALSE(QFileInfo::exists(root + "/gone.jpg"));
    }
    EXPECT_TRUE(copyFileAsNew(source, root + "/fresh.jpg"));
    EXPECT_EQ(read(root + "/fresh.jpg"), "new");
    expected << "fresh.jpg";
    EXPECT_FALSE(copyFileAsNew(root + "/missing.jpg", root + "/other.jpg"));
    EXPECT_FALSE(copyFileReplacing(root, root + "/other.jpg"));  // a folder is not a file
    // No temporary file is left beside them.
    expected.sort();
    EXPECT_EQ(QDir(root).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), expected);
}

TEST_F(Library, HostileProjectFoldersNeverReachOutside) {
    ProjectStore store;
    int good = -1;
    ASSERT_NO_FATAL_FAILURE(openWithShoot(store, shoot(2), "/in/Good", good));
    const QString root = store.projectsRoot();
    const QString outside = QString::fromStdString(dir.file("outside/keep.txt"));
    QFile keep(outside);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("keep");
    keep.close();
    const QString outsideFolder = QFileInfo(outside).absolutePath();
    const bool linked = QFile::link(outsideFolder, root + "/linked_p9");

    const QStringList hostile = {"..", "../..", "../../outside", outsideFolder, "Good_p1/..", "a/../..", "linked_p9"};
    QSqlDatabase registry = QSqlDatabase::database(store.registryConnectionName(), false);
    QList<int> ids;
    for (const QString& folder : hostile) {
        QSqlQuery q(registry);
        q.prepare("INSERT INTO projects (name, db_folder, input_folder, created_at) VALUES ('x', ?, '/in', ?)");
        q.bindValue(0, folder);
        q.bindValue(1, "2024-01-01T00:00:00");
        ASSERT_TRUE(q.exec());
        ids << q.lastInsertId().toInt();
    }
    for (int i = 0; i < ids.size(); ++i) {
        if (hostile[i] == "linked_p9") continue;  // a plain name: opened, and refused for lack of tables later
        EXPECT_FALSE(store.openProject(ids[i])) << hostile[i].toStdString();
        EXPECT_EQ(store.lastError(), QString("Project %1 has an invalid db_folder.").arg(ids[i]));
        EXPECT_FALSE(store.renameProject(ids[i], "Renamed"));
    }
    for (const int id : ids) EXPECT_TRUE(store.deleteProject(id));

    // Nothing but the link itself went: the projects folder, the other
    // project and everything outside are as they were.
    EXPECT_TRUE(QFile::exists(outside));
    EXPECT_TRUE(QFile::exists(root + "/Good_p1/project.db"));
    EXPECT_TRUE(QFile::exists(data + "/projects.db"));
    if (linked) {
        EXPECT_FALSE(QFileInfo(root + "/linked_p9").isSymLink());
    }
    ASSERT_EQ(store.listProjects().size(), 1);
    EXPECT_EQ(store.loadProjectImages(good).size(), 2);
}

TEST_F(Library, ProjectDatabaseNamingImagesOutsideIsRefused) {
    ProjectStore store;
    ASSERT_TRUE(store.openRegistry());
    CullResult r = shoot(3);
    r.images[1].filename = "../../victim.jpg";
    EXPECT_EQ(store.saveCullResult(r, "/in/Hostile", {}, 1), -1);  // never stored
    EXPECT_EQ(store.lastError(), "Insert image failed: the name leads outside the input folder: ../../victim.jpg");
    EXPECT_TRUE(store.listProjects().isEmpty());
    r.images[1].filename = "DSC_0001.jpg";
    const int id = store.saveCullResult(r, "/in/Hostile", {}, 1);
    ASSERT_GE(id, 0);
    ASSERT_TRUE(store.execProjectSql("UPDATE images SET filename = '../../victim.jpg' WHERE id = 2"));
    ProjectStore ui;
    ASSERT_TRUE(ui.openRegistry());
    EXPECT_FALSE(ui.openProject(id));
    EXPECT_EQ(ui.lastError(), QString("Project %1 names an image outside its input folder: ../../victim.jpg").arg(id));
    EXPECT_EQ(ui.currentProjectId(), -1);
    EXPECT_TRUE(ui.loadProjectImages(id).isEmpty());
    EXPECT_TRUE(ui.unselectedImagesForProject(id).isEmpty());
    EXPECT_FALSE(ui.setUserSelected(1, true));  // nothing was left open

    // A thumbnail path that leaves the project folder gives no URL.
    const int clean = store.saveCullResult(shoot(1), "/in/Clean", {}, 1);
    ASSERT_TRUE(store.execProjectSql("UPDATE images SET thumb_path = '../../../projects.db'"));
    EXPECT_TRUE(ui.loadProjectImages(clean)[0].toMap()["thumbUrl"].toString().isEmpty());
}

TEST_F(Library, InjectedSaveFailuresLeaveNothingListed) {
    // A trigger refuses the last step, where the row gets its folder name.
    {
        ProjectStore store;
        ASSERT_TRUE(store.openRegistry());
        QSqlQuery q(QSqlDatabase::database(store.registryConnectionName(), false));
        ASSERT_TRUE(q.exec(R"sql(CREATE TRIGGER refuse BEFORE UPDATE OF db_folder ON projects
                                 BEGIN SELECT RAISE(ABORT, 'disk full'); END;)sql"));
        EXPECT_EQ(store.saveCullResult(shoot(5), "/in/Refused", {}, 1), -1);
        EXPECT_TRUE(store.lastError().contains("disk full")) << store.lastError().toStdString();
        EXPECT_TRUE(store.listProjects().isEmpty());
        EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects").toInt(), 0);
        EXPECT_FALSE(QDir(store.projectsRoot() + "/Refused_p1").exists());
        EXPECT_EQ(store.lifetimeProjects(), 0);
        ASSERT_TRUE(q.exec("DROP TRIGGER refuse"));

        // A thumbnail that cannot be written fails the save instead of being dropped.
        ASSERT_TRUE(QDir().mkpath(store.projectsRoot() + "/Thumbs_p2/thumbnails/1.jpg"));
        EXPECT_EQ(store.saveCullResult(shoot(3), "/in/Thumbs", {}, 1), -1);
        EXPECT_TRUE(store.lastError().startsWith("Could not write thumbnail ")) << store.lastError().toStdString();
        EXPECT_FALSE(QDir(store.projectsRoot() + "/Thumbs_p2").exists());
        EXPECT_TRUE(store.listProjects().isEmpty());
        EXPECT_GE(store.saveCullResult(shoot(3), "/in/Fine", {}, 1), 0);
    }

    // A save killed half-way left a row without a folder name: never listed,
    // and removed with its folder once it is clearly abandoned.
    QString killed;
    ASSERT_TRUE(withDatabase(data + "/projects.db", [&](QSqlQuery& q) {
        if (!q.exec(R"sql(INSERT INTO projects (name, input_folder, created_at)
                          VALUES ('Killed', '/in', '2020-01-01T00:00:00'))sql"))
            return false;
        killed = data + "/projects/Killed_p" + q.lastInsertId().toString();
        q.prepare("INSERT INTO projects (name, input_folder, created_at) VALUES ('Saving', '/in', ?)");
        q.bindValue(0, QDateTime::currentDateTime().toString(Qt::ISODate).left(19));
        return q.exec();
    }));
    ASSERT_TRUE(QDir().mkpath(killed + "/thumbnails"));
    ProjectStore again;
    ASSERT_TRUE(again.openRegistry());
    ASSERT_EQ(again.listProjects().size(), 1);
    EXPECT_EQ(again.listProjects()[0].toMap()["name"].toString(), "Fine");
    EXPECT_FALSE(QDir(killed).exists());
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects WHERE name = 'Killed'").toInt(), 0);
    // A save that may still be running in another program is left alone.
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects WHERE name = 'Saving'").toInt(), 1);

#ifndef _WIN32
    // A save whose process died just now (its lock is stale) is removed at
    // once; one whose process lives (it holds its lock) is not.
    auto incompleteRow = [&](const char* name) {
        QString folder;
        withDatabase(data + "/projects.db", [&](QSqlQuery& q) {
            q.prepare("INSERT INTO projects (name, input_folder, created_at) VALUES (?, '/in', ?)");
            q.bindValue(0, QString(name));
            q.bindValue(1, QDateTime::currentDateTime().toString(Qt::ISODate).left(19));
            if (q.exec()) folder = QString(name) + "_p" + q.lastInsertId().toString();
            return true;
        });
        EXPECT_TRUE(QDir().mkpath(data + "/projects/" + folder + "/thumbnails"));
        return folder;
    };
    const QString died = incompleteRow("Died"), living = incompleteRow("Living");
    const pid_t child = fork();
    if (child == 0) {
        QLockFile lock(data + "/projects/." + died + ".saving");
        lock.setStaleLockTime(0);
        _exit(lock.tryLock(0) ? 0 : 1);  // dies holding it
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QLockFile held(data + "/projects/." + living + ".saving");
    held.setStaleLockTime(0);
    ASSERT_TRUE(held.tryLock(0));

    ProjectStore later;
    ASSERT_TRUE(later.openRegistry());
    EXPECT_FALSE(QDir(data + "/projects/" + died).exists());
    EXPECT_FALSE(QFile::exists(data + "/projects/." + died + ".saving"));
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects WHERE name = 'Died'").toInt(), 0);
    EXPECT_TRUE(QDir(data + "/projects/" + living).exists());
    EXPECT_EQ(scalar(data + "/projects.db", "SELECT COUNT(*) FROM projects WHERE name = 'Living'").toInt(), 1);
    EXPECT_EQ(later.listProjects().size(), 1);
#endif
}

TEST_F(Library, GarbageRegistryIsReported) {
    // Garbage where the registry should be.
    QDir().mkpath(data);
    QFile garbage(data + "/projects.db");
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    {
        ProjectStore store;
        EXPECT_FALSE(store.openRegistry());
        EXPECT_TRUE(store.lastError().startsWith("registry schema: ")) << store.lastError().toStdString();
        EXPECT_EQ(store.saveCullResult(shoot(2), "/in/x", {}, 1), -1);
        EXPECT_EQ(store.lastError(), "Registry DB not open.");
        EXPECT_TRUE(store.listProjects().isEmpty());
    }
}

TEST_F(Library, ReadOnlyDataFolderIsReported) {
    {
        // A data folder that cannot be made (a file stands where its parent
        // should be) fails for every user, the administrator too.
        const QString blocked = QString::fromStdString(dir.str()) + "/blocked";
        QFile file(blocked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("KEEPFRAME_DATA_DIR", (blocked + "/data").toUtf8());
        ProjectStore store;
        EXPECT_FALSE(store.openRegistry());
        EXPECT_TRUE(store.lastError().startsWith("Could not create app data folder: "))
            << qPrintable(store.lastError());
        EXPECT_EQ(store.saveCullResult(shoot(2), "/in/x", {}, 1), -1);
        qputenv("KEEPFRAME_DATA_DIR", data.toUtf8());
    }
    // Not for a user who may write anywhere.
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QFile probe(data + "/probe");
    if (probe.open(QIODevice::WriteOnly)) {
        probe.close();
        probe.remove();
        QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    ProjectStore store;
    EXPECT_FALSE(store.openRegistry());
    EXPECT_FALSE(store.lastError().isEmpty());
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
