// Ratings and colour labels in the project database and the project file: the
// columns older projects are given, what a program that predates them still
// reads and writes, and the optional keys of a project file.
#include "project_file.h"
#include "project_store.h"
#include "registry_fixture.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

using namespace keepframe;
using keepframe::testing::TempDir;

namespace {

// The images table and its neighbours as programs before the marks created them.
const char* const kOlderSchema[] = {
    R"sql(CREATE TABLE IF NOT EXISTS images (
  id INTEGER PRIMARY KEY AUTOINCREMENT, filename TEXT NOT NULL, path TEXT NOT NULL, category TEXT NOT NULL,
  cluster_number INTEGER NOT NULL DEFAULT 0, capture_time TEXT, full_w INTEGER NOT NULL DEFAULT 0,
  full_h INTEGER NOT NULL DEFAULT 0, orientation INTEGER NOT NULL DEFAULT 1, score REAL NOT NULL DEFAULT 0,
  reason TEXT, engine_selected INTEGER NOT NULL DEFAULT 0, user_selected INTEGER NOT NULL DEFAULT 0,
  is_primary INTEGER NOT NULL DEFAULT 0, thumb_path TEXT, sharpness REAL NOT NULL DEFAULT 0,
  eye_sharp REAL NOT NULL DEFAULT 0, exposure REAL NOT NULL DEFAULT 0, contrast REAL NOT NULL DEFAULT 0,
  emotion_score REAL NOT NULL DEFAULT 0, best_pi REAL NOT NULL DEFAULT 0, has_vip INTEGER NOT NULL DEFAULT 0,
  total_detected_faces INTEGER NOT NULL DEFAULT 0, is_featured INTEGER NOT NULL DEFAULT 0,
  applied_rotation INTEGER NOT NULL DEFAULT 0))sql",
    R"sql(CREATE TABLE IF NOT EXISTS faces (id INTEGER PRIMARY KEY AUTOINCREMENT,
  image_id INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE, x INTEGER NOT NULL, y INTEGER NOT NULL,
  w INTEGER NOT NULL, h INTEGER NOT NULL, person_id INTEGER NOT NULL DEFAULT -1, conf REAL NOT NULL DEFAULT 1.0))sql",
    R"sql(CREATE TABLE IF NOT EXISTS detections (id INTEGER PRIMARY KEY AUTOINCREMENT,
  image_id INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE, x INTEGER NOT NULL, y INTEGER NOT NULL,
  w INTEGER NOT NULL, h INTEGER NOT NULL, conf REAL NOT NULL DEFAULT 0, valid INTEGER NOT NULL DEFAULT 0,
  reason TEXT))sql",
    R"sql(CREATE TABLE IF NOT EXISTS clusters (id INTEGER PRIMARY KEY AUTOINCREMENT, category TEXT NOT NULL,
  cluster_number INTEGER NOT NULL, image_count INTEGER NOT NULL DEFAULT 0,
  selected_count INTEGER NOT NULL DEFAULT 0))sql",
    R"sql(CREATE INDEX IF NOT EXISTS idx_clusters_cat_num ON clusters(category, cluster_number))sql",
};

const char* const kOlderInsert = R"sql(INSERT INTO images (filename, path, category, cluster_number, capture_time,
  full_w, full_h, orientation, score, reason, engine_selected, user_selected, is_primary, thumb_path, sharpness,
  eye_sharp, exposure, contrast, emotion_score, best_pi, has_vip, total_detected_faces, is_featured,
  applied_rotation) VALUES (?, ?, 'portrait', 2, ?, 6000, 4000, 1, 0.5, NULL, ?, ?, ?, NULL,
  1, 2, 3, 4, 5, 0.6, 0, 1, 0, 0))sql";

// The image list exactly as a program before the marks reads it.
const char* const kOlderImageList = R"sql(SELECT i.id, i.filename, i.path, i.category, i.cluster_number,
  i.capture_time, i.full_w, i.full_h, i.orientation, i.score, i.reason, i.engine_selected, i.user_selected,
  i.is_primary, i.thumb_path, i.has_vip, (SELECT c.image_count FROM clusters c WHERE c.category = i.category
  AND c.cluster_number = i.cluster_number) AS cluster_image_count, i.total_detected_faces, i.is_featured,
  i.applied_rotation FROM images i ORDER BY (i.capture_time IS NULL), i.capture_time, i.filename)sql";

// A program that predates the marks, on its own connection to a project database.
class OlderProgram {
public:
    explicit OlderProgram(const QString& file) : name_("older-" + file) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~OlderProgram() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

    bool exec(const QString& sql) {
        QSqlQuery q(db());
        const bool ok = q.exec(sql);
        EXPECT_TRUE(ok) << q.lastError().text().toStdString() << " in " << sql.left(80).toStdString();
        return ok;
    }
    bool insert(const QString& name, const QVariant& time, bool picked) {
        QSqlQuery q(db());
        q.prepare(kOlderInsert);
        for (const QVariant& v : {QVariant(name), QVariant("/shoot/" + name), time, QVariant(picked ? 1 : 0),
                                  QVariant(picked ? 1 : 0), QVariant(picked ? 1 : 0)})
            q.addBindValue(v);
        const bool ok = q.exec();
        EXPECT_TRUE(ok) << q.lastError().text().toStdString();
        return ok;
    }
    // Every row of the image list, each value as text.
    QStringList imageList() {
        QStringList rows;
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(kOlderImageList)) << q.lastError().text().toStdString();
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < 20; ++i) values << (q.value(i).isNull() ? "NULL" : q.value(i).toString());
            rows << values.join('|');
        }
        return rows;
    }
    QStringList columns() {
        QStringList names;
        QSqlQuery q(db());
        q.exec("PRAGMA table_info(images)");
        while (q.next()) names << q.value(1).toString() + (q.value(3).toInt() ? " NOT NULL" : "");
        return names;
    }

private:
    QString name_;
};

struct Marks : keepframe::testing::RegistryTest {
    int projectId = -1;
    QString dbFile;

    // A project saved by today's code: three frames.
    void saveProject() {
        CullResult r;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
            ResultImage img;
            img.filename = name;
            img.path = std::string("/shoot/") + name;
            img.category = Category::Portrait;
            img.clusterNumber = 1;
            img.engineSelected = true;
            r.images.push_back(img);
        }
        r.totalInput = 3;
        projectId = store->saveCullResult(r, "/shoot", {}, 1);
        ASSERT_GE(projectId, 0) << store->lastError().toStdString();
        dbFile = store->projectFolder() + "/project.db";
    }

    // The same project's database replaced by one an older program made: the
    // library entry stays, the tables are the older ones with two frames.
    void makeOlder() {
        saveProject();
        store = std::make_unique<ProjectStore>();  // closes the project
        ASSERT_TRUE(store->openRegistry());
        for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(dbFile + suffix);
        OlderProgram older(dbFile);
        older.exec("PRAGMA journal_mode = WAL");
        for (const char* statement : kOlderSchema) older.exec(statement);
        older.insert("a.jpg", "2024:06:01 12:00:00", true);
        older.insert("b.jpg", QVariant(), false);
    }

    int idOf(const QString& filename) {
        for (const QVariant& v : store->loadProjectImages(projectId))
            if (v.toMap()["filename"] == filename) return v.toMap()["id"].toInt();
        return -1;
    }
};

}  // namespace

TEST_F(Marks, AnOlderProjectGetsNullableColumnsAndAnOlderProgramReadsItAsBefore) {
    makeOlder();
    QStringList before, olderColumns;
    {
        OlderProgram older(dbFile);
        before = older.imageList();
        olderColumns = older.columns();
    }
    ASSERT_EQ(before.size(), 2);

    const QVariantList images = store->loadProjectImages(projectId);
    ASSERT_EQ(images.size(), 2);
    EXPECT_TRUE(store->lastError().isEmpty()) << store->lastError().toStdString();
    EXPECT_TRUE(store->frameMarksForProject(projectId).isEmpty());
    EXPECT_TRUE(store->lastError().isEmpty());
    const int a = idOf("a.jpg"), b = idOf("b.jpg");
    EXPECT_EQ(store->frameMarks(a), FrameMarks());
    ASSERT_TRUE(store->setFrameMarks(a, {4, ColorLabel::Red})) << store->lastError().toStdString();
    ASSERT_TRUE(store->setFrameMarks(b, {std::nullopt, ColorLabel::Blue}));
    store = std::make_unique<ProjectStore>();
    ASSERT_TRUE(store->openRegistry());

    OlderProgram older(dbFile);
    // The columns come last and are nullable; nothing else of the table changed.
    EXPECT_EQ(older.columns(), olderColumns + QStringList({"rating", "color_label"}));
    EXPECT_EQ(older.imageList(), before);
    // What the older program writes still goes in, unmarked.
    EXPECT_TRUE(older.insert("c.jpg", "2024:06:01 13:00:00", true));
    EXPECT_TRUE(older.exec("UPDATE images SET user_selected = 0 WHERE filename = 'a.jpg'"));
    EXPECT_TRUE(older.exec("UPDATE images SET user_selected = engine_selected"));
    EXPECT_EQ(older.imageList().size(), 3);

    const QHash<int, FrameMarks> marks = store->frameMarksForProject(projectId);
    EXPECT_EQ(marks.size(), 2);
    EXPECT_EQ(marks.value(a), FrameMarks({4, ColorLabel::Red}));
    EXPECT_EQ(marks.value(b), FrameMarks({std::nullopt, ColorLabel::Blue}));
    EXPECT_EQ(store->frameMarks(idOf("c.jpg")), FrameMarks());
}

TEST_F(Marks, TodaysProjectIsReadAndWrittenByAnOlderProgram) {
    saveProject();
    const int a = idOf("a.jpg");
    ASSERT_TRUE(store->setFrameMarks(a, {5, ColorLabel::Green}));
    store = std::make_unique<ProjectStore>();
    ASSERT_TRUE(store->openRegistry());

    OlderProgram older(dbFile);
    const QStringList rows = older.imageList();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].startsWith(QString::number(a) + "|a.jpg|/shoot/a.jpg|portrait|1|"));
    // The older program's own statements: a new cull's rows, the selection flag.
    for (const char* statement : kOlderSchema) EXPECT_TRUE(older.exec(statement));
    EXPECT_TRUE(older.insert("d.jpg", QVariant(), false));
    EXPECT_TRUE(older.exec(QString("UPDATE images SET user_selected = 0 WHERE id = %1").arg(a)));
    EXPECT_EQ(store->frameMarksForProject(projectId).value(a), FrameMarks({5, ColorLabel::Green}));
}

TEST_F(Marks, OneFrameIsWrittenWholeOrNotAtAll) {
    saveProject();
    const int a = idOf("a.jpg"), b = idOf("b.jpg");
    ASSERT_TRUE(store->setFrameMarks(a, {3, ColorLabel::Yellow}));
    ASSERT_TRUE(store->setFrameMarks(b, {0, ColorLabel::None}));  // explicitly no stars
    EXPECT_EQ(store->frameMarks(b), FrameMarks({0, ColorLabel::None}));

    // Bad ratings and unknown frames change nothing.
    for (int stars : {6, -1}) {
        EXPECT_FALSE(store->setFrameMarks(a, {stars, ColorLabel::Red}));
        EXPECT_NE(store->lastError().indexOf("no rating"), -1) << store->lastError().toStdString();
    }
    EXPECT_FALSE(store->setFrameMarks(987654, {1, ColorLabel::Red}));
    EXPECT_NE(store->lastError().indexOf("no image 987654"), -1);
    EXPECT_FALSE(store->frameMarks(987654).has_value());
    EXPECT_EQ(store->frameMarks(a), FrameMarks({3, ColorLabel::Yellow}));

    // Clearing one leaves the other; clearing both leaves the frame unmarked.
    ASSERT_TRUE(store->setFrameMarks(a, {std::nullopt, ColorLabel::Yellow}));
    EXPECT_EQ(store->frameMarks(a), FrameMarks({std::nullopt, ColorLabel::Yellow}));
    ASSERT_TRUE(store->setFrameMarks(a, {}));
    const QHash<int, FrameMarks> marks = store->frameMarksForProject(projectId);
    EXPECT_EQ(marks.keys(), QList<int>{b});

    // The database itself refuses what is no rating or label.
    QSqlQuery q(QSqlDatabase::database(store->projectConnectionName(), false));
    EXPECT_FALSE(q.exec(QString("UPDATE images SET rating = 9 WHERE id = %1").arg(a)));
    EXPECT_FALSE(q.exec(QString("UPDATE images SET color_label = 'purple' WHERE id = %1").arg(a)));

    ProjectStore closed;
    EXPECT_FALSE(closed.setFrameMarks(a, {1, ColorLabel::Red}));
    EXPECT_EQ(closed.lastError(), "Database not open.");
    EXPECT_FALSE(closed.frameMarks(a).has_value());
}

TEST_F(Marks, AnOlderProjectThatCannotTakeTheColumnsOpensAsBeforeAndTakesThemLater) {
    makeOlder();
    auto holder = std::make_unique<OlderProgram>(dbFile);
    ASSERT_TRUE(holder->exec("BEGIN IMMEDIATE"));  // another program is writing it

    const QVariantList images = store->loadProjectImages(projectId);
    EXPECT_EQ(images.size(), 2);
    EXPECT_TRUE(store->lastError().isEmpty()) << store->lastError().toStdString();
    EXPECT_TRUE(store->frameMarksForProject(projectId).isEmpty());
    EXPECT_TRUE(store->lastError().isEmpty()) << store->lastError().toStdString();
    EXPECT_EQ(store->frameMarks(images[0].toMap()["id"].toInt()), FrameMarks());

    holder->exec("ROLLBACK");
    holder.reset();
    const int a = idOf("a.jpg");
    ASSERT_TRUE(store->setFrameMarks(a, {2, ColorLabel::None})) << store->lastError().toStdString();
    EXPECT_EQ(store->frameMarksForProject(projectId).value(a), FrameMarks({2, ColorLabel::None}));
}

TEST(ProjectFileMarks, OptionalKeysRoundTripAndOlderFilesOpen) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("review.json"));
    const QJsonObject plain{{"filename", "a.jpg"}, {"category", "portrait"}, {"current", 1}};

    QJsonObject rated = plain, labelled = plain, unmarked = plain, both = plain;
    putFrameMarks(rated, {0, ColorLabel::None});
    putFrameMarks(labelled, {std::nullopt, ColorLabel::Blue});
    putFrameMarks(unmarked, {});
    putFrameMarks(both, {5, ColorLabel::Red});
    EXPECT_EQ(unmarked, plain);  // an unmarked frame's item is as older files hold it
    EXPECT_EQ(rated.value("rating"), QJsonValue(0));
    EXPECT_FALSE(rated.contains("label"));
    EXPECT_EQ(both.value("label"), QJsonValue("red"));
    QJsonObject cleared = both;
    putFrameMarks(cleared, {});
    EXPECT_EQ(cleared, plain);

    const QJsonArray items{rated, labelled, unmarked, both};
    ASSERT_TRUE(writeProjectFile(path, projectFileDocument("/shoot", "/out", {}, items)));
    QString error;
    const auto doc = readProjectFile(path, error);
    ASSERT_TRUE(doc.has_value()) << error.toStdString();
    const QJsonArray back = doc->value("items").toArray();
    ASSERT_EQ(back.size(), 4);
    EXPECT_EQ(frameMarksOf(back[0].toObject()), FrameMarks({0, ColorLabel::None}));
    EXPECT_EQ(frameMarksOf(back[1].toObject()), FrameMarks({std::nullopt, ColorLabel::Blue}));
    EXPECT_EQ(frameMarksOf(back[2].toObject()), FrameMarks());
    EXPECT_EQ(frameMarksOf(back[3].toObject()), FrameMarks({5, ColorLabel::Red}));

    // A file written before the keys existed opens, every frame unmarked.
    QFile older(QString::fromStdString(dir.file("older.json")));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write(R"({"version": 1, "inputFolder": "/shoot", "items": [{"filename": "a.jpg", "current": 1}]})");
    older.close();
    const auto olderDoc = readProjectFile(older.fileName(), error);
    ASSERT_TRUE(olderDoc.has_value()) << error.toStdString();
    EXPECT_TRUE(frameMarksOf(olderDoc->value("items").toArray()[0].toObject()).isEmpty());

    // Values that are no rating or label read as none, each on its own.
    const QJsonObject odd[] = {
        QJsonDocument::fromJson(R"({"rating": 6, "label": "Green"})").object(),
        QJsonDocument::fromJson(R"({"rating": 2.5, "label": "purple"})").object(),
        QJsonDocument::fromJson(R"({"rating": "3", "label": 4})").object(),
        QJsonDocument::fromJson(R"({"rating": -1, "label": null})").object(),
    };
    EXPECT_EQ(frameMarksOf(odd[0]), FrameMarks({std::nullopt, ColorLabel::Green}));  // names ignore case
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(frameMarksOf(odd[i]).isEmpty()) << i;
}
