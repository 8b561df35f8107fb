// The open project's database: schema, opening, the reads of the review
// screens and the user's selection flag.
#include "project_store.h"

#include "category.h"
#include "path_safety.h"
#include "store_internal.h"

#include <QDir>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace keepframe {

namespace {

const char* const kProjectSchema[] = {
    R"sql(CREATE TABLE IF NOT EXISTS images (
  id              INTEGER PRIMARY KEY AUTOINCREMENT,
  filename        TEXT    NOT NULL,
  path            TEXT    NOT NULL,
  category        TEXT    NOT NULL,
  cluster_number  INTEGER NOT NULL DEFAULT 0,
  capture_time    TEXT,
  full_w          INTEGER NOT NULL DEFAULT 0,
  full_h          INTEGER NOT NULL DEFAULT 0,
  orientation     INTEGER NOT NULL DEFAULT 1,
  score           REAL    NOT NULL DEFAULT 0,
  reason          TEXT,
  engine_selected INTEGER NOT NULL DEFAULT 0,
  user_selected   INTEGER NOT NULL DEFAULT 0,
  is_primary      INTEGER NOT NULL DEFAULT 0,
  thumb_path      TEXT,
  sharpness       REAL    NOT NULL DEFAULT 0,
  eye_sharp       REAL    NOT NULL DEFAULT 0,
  exposure        REAL    NOT NULL DEFAULT 0,
  contrast        REAL    NOT NULL DEFAULT 0,
  emotion_score   REAL    NOT NULL DEFAULT 0,
  best_pi         REAL    NOT NULL DEFAULT 0,
  has_vip         INTEGER NOT NULL DEFAULT 0,
  total_detected_faces INTEGER NOT NULL DEFAULT 0,
  is_featured     INTEGER NOT NULL DEFAULT 0,
  applied_rotation INTEGER NOT NULL DEFAULT 0);)sql",
    R"sql(CREATE TABLE IF NOT EXISTS faces (
  id        INTEGER PRIMARY KEY AUTOINCREMENT,
  image_id  INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE,
  x         INTEGER NOT NULL,
  y         INTEGER NOT NULL,
  w         INTEGER NOT NULL,
  h         INTEGER NOT NULL,
  person_id INTEGER NOT NULL DEFAULT -1,
  conf      REAL    NOT NULL DEFAULT 1.0);)sql",
    R"sql(CREATE TABLE IF NOT EXISTS detections (
  id        INTEGER PRIMARY KEY AUTOINCREMENT,
  image_id  INTEGER NOT NULL REFERENCES images(id) ON DELETE CASCADE,
  x         INTEGER NOT NULL,
  y         INTEGER NOT NULL,
  w         INTEGER NOT NULL,
  h         INTEGER NOT NULL,
  conf      REAL    NOT NULL DEFAULT 0,
  valid     INTEGER NOT NULL DEFAULT 0,
  reason    TEXT);)sql",
    R"sql(CREATE TABLE IF NOT EXISTS clusters (
  id             INTEGER PRIMARY KEY AUTOINCREMENT,
  category       TEXT    NOT NULL,
  cluster_number INTEGER NOT NULL,
  image_count    INTEGER NOT NULL DEFAULT 0,
  selected_count INTEGER NOT NULL DEFAULT 0);)sql",
};

const char* const kProjectIndexes[] = {
    "CREATE INDEX IF NOT EXISTS idx_images_userel  ON images(user_selected);",
    "CREATE INDEX IF NOT EXISTS idx_images_cat_clu ON images(category, cluster_number);",
    "CREATE INDEX IF NOT EXISTS idx_faces_image    ON faces(image_id);",
    "CREATE INDEX IF NOT EXISTS idx_detections_image ON detections(image_id);",
};

const char* const kFacesStatement = "SELECT x, y, w, h FROM faces WHERE image_id = ?";

// `query` with its images in capture order: dated ones by time, then by name; undated ones last.
QString inCaptureOrder(const char* query) {
    return QString::fromUtf8(query) + R"sql( ORDER BY (capture_time IS NULL), capture_time, filename)sql";
}

// The frames of one moment (category, cluster number), in capture order.
QString momentImagesStatement() {
    return inCaptureOrder(R"sql(SELECT id, filename, thumb_path, user_selected, is_primary,
       category, cluster_number, full_w, full_h, orientation, score, capture_time,
       applied_rotation, engine_selected, eye_sharp
FROM images WHERE category = ? AND cluster_number = ?)sql");
}

// A stored thumbnail path that would leave the project folder gives no URL.
QString thumbUrl(const QString& projectFolder, const QString& thumbPath) {
    if (projectFolder.isEmpty() || thumbPath.isEmpty()) return {};
    const QString path = pathInside(projectFolder, thumbPath);
    return path.isEmpty() ? QString() : QUrl::fromLocalFile(path).toString();
}

}  // namespace

bool ProjectStore::projectDbOpen() const { return namedConnection(projectConnectionName_).isOpen(); }

void ProjectStore::closeProjectDb() {
    markColumnsSeen_ = false;
    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (db.isOpen()) db.close();
}

bool ProjectStore::execProjectSql(const QString& statement) {
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (!q.exec(statement)) return fail("SQL error: " + q.lastError().text() + "  [" + statement.left(120) + "]");
    return true;
}

bool ProjectStore::openProjectDb(const QString& folder, bool createSchema) {
    if (!QDir().mkpath(folder)) return fail("Could not create project folder: " + folder);
    closeProjectDb();
    QSqlDatabase db = QSqlDatabase::contains(projectConnectionName_)
                          ? QSqlDatabase::database(projectConnectionName_, false)
                          : QSqlDatabase::addDatabase("QSQLITE", projectConnectionName_);
    const QString path = folder + "/project.db";
    db.setDatabaseName(path);
    if (!db.open()) return fail("Could not open project DB (" + path + "): " + db.lastError().text());
    execProjectSql("PRAGMA journal_mode = WAL;");
    execProjectSql("PRAGMA foreign_keys = ON;");
    if (createSchema) {
        for (const char* table : kProjectSchema)
            if (!execProjectSql(table)) return false;
        for (const char* index : kProjectIndexes) execProjectSql(index);
    }
    // The image list looks up each image's cluster row; without this index
    // that is a scan of the clusters table per image. Projects saved before it
    // existed get it here; a database without tables simply has none.
    QSqlQuery(db).exec("CREATE INDEX IF NOT EXISTS idx_clusters_cat_num ON clusters(category, cluster_number);");
    // Projects stored before the rating and label existed get their columns
    // here. A database that cannot take them (read-only, locked) still opens
    // as before, without a message: its marks read as none, and writing one
    // tries again and says why it cannot.
    addMarkColumns();
    // Likewise the table of the names given to persons.
    addPersonsTable();
    return true;
}

bool ProjectStore::openProject(int projectId) {
    if (projectId == currentProjectId_ && projectDbOpen()) return true;
    if (!registryOpen()) return fail("Registry not open.");
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("SELECT db_folder FROM projects WHERE id = ?");
    q.bindValue(0, projectId);
    if (!q.exec() || !q.next()) return fail(QStringLiteral("Project %1 not found in registry.").arg(projectId));
    const QString folder = q.value(0).toString();
    if (folder.isEmpty()) return fail(QStringLiteral("Project %1 has no db_folder.").arg(projectId));
    const QString path = projectPath(folder);
    if (path.isEmpty()) return fail(QStringLiteral("Project %1 has an invalid db_folder.").arg(projectId));
    if (!openProjectDb(path, false)) return false;
    if (!imageNamesStayInside(projectId)) {
        closeProjectDb();
        currentProjectId_ = -1;
        return false;
    }
    currentProjectId_ = projectId;
    return true;
}

bool ProjectStore::imageNamesStayInside(int projectId) {
    // Every path into the shoot is the input folder joined with a stored
    // name, so a name that climbs out of it (or is absolute) refuses the
    // whole project. So does a database whose images cannot all be read.
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!q.exec("SELECT filename FROM images"))
        return fail(QStringLiteral("Project %1 cannot be read: ").arg(projectId) + q.lastError().text());
    while (q.next()) {
        const QString name = q.value(0).toString();
        if (!staysInside(name)) {
            const QString text = QStringLiteral("Project %1 names an image outside its input folder: %2");
            return fail(text.arg(projectId).arg(name));
        }
    }
    if (q.lastError().type() != QSqlError::NoError)
        return fail(QStringLiteral("Project %1 cannot be read: ").arg(projectId) + q.lastError().text());
    return true;
}

QString ProjectStore::projectFolder() const { return projectPath(currentDbFolder()); }

QVariantList ProjectStore::faceBoxes(QSqlQuery& q, int imageId) {
    QVariantList boxes;
    q.bindValue(0, imageId);
    if (!q.exec()) return boxes;
    while (q.next())
        boxes.push_back(QVariantList{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt()});
    return boxes;
}

QVariantList ProjectStore::loadProjectImages(int projectId) {
    lastError_.clear();
    if (!openProject(projectId)) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (!q.exec(inCaptureOrder(R"sql(SELECT i.id, i.filename, i.path, i.category, i.cluster_number, i.capture_time,
       i.full_w, i.full_h, i.orientation, i.score, i.reason, i.engine_selected,
       i.user_selected, i.is_primary, i.thumb_path, i.has_vip,
       (SELECT c.image_count FROM clusters c
        WHERE c.category = i.category AND c.cluster_number = i.cluster_number)
         AS cluster_image_count,
       i.total_detected_faces, i.is_featured, i.applied_rotation
FROM images i)sql"))) {
        lastError_ = "loadProjectImages failed: " + q.lastError().text();
        return {};
    }
    const QString folder = projectFolder();
    QSqlQuery faces(namedConnection(projectConnectionName_));
    faces.prepare(kFacesStatement);
    QVariantList out;
    while (q.next()) {
        QVariantMap m;
        const int id = q.value(0).toInt();
        m["id"] = id;
        m["filename"] = q.value(1).toString();
        m["path"] = q.value(2).toString();
        m["category"] = q.value(3).toString();
        m["clusterNumber"] = q.value(4).toInt();
        m["captureTime"] = q.value(5).isNull() ? QString() : q.value(5).toString();
        m["fullW"] = q.value(6).toInt();
        m["fullH"] = q.value(7).toInt();
        m["orientation"] = q.value(8).toInt();
        m["score"] = q.value(9).toDouble();
        m["reason"] = q.value(10).isNull() ? QString() : q.value(10).toString();
        m["engineSelected"] = q.value(11).toInt() != 0;
        m["userSelected"] = q.value(12).toInt() != 0;
        m["isPrimary"] = q.value(13).toInt() != 0;
        const QString thumb = q.value(14).isNull() ? QString() : q.value(14).toString();
        m["thumbPath"] = thumb;
        m["thumbUrl"] = thumbUrl(folder, thumb);
        m["hasVip"] = q.value(15).toInt() != 0;
        m["clusterImageCount"] = q.value(16).isNull() ? 0 : q.value(16).toInt();
        m["totalDetectedFaces"] = q.value(17).toInt();
        m["isFeatured"] = q.value(18).toInt() != 0;
        m["appliedRotation"] = q.value(19).toInt();
        m["faceBoxes"] = faceBoxes(faces, id);
        if (readFailed(faces, "loadProjectImages")) return {};
        out.push_back(m);
    }
    if (readFailed(q, "loadProjectImages")) return {};
    return out;
}

QVariantList ProjectStore::clustersForProject(int projectId, const QString& category, bool onlyOrphans) {
    if (!openProject(projectId)) return {};
    QString sql = "SELECT cluster_number, image_count, selected_count FROM clusters WHERE category = ?";
    if (onlyOrphans)
        sql += R"sql( AND NOT EXISTS (SELECT 1 FROM images im WHERE im.category = clusters.category
  AND im.cluster_number = clusters.cluster_number
  AND im.user_selected = 1))sql";
    sql += " ORDER BY cluster_number";
    const QSqlDatabase db = namedConnection(projectConnectionName_);
    QSqlQuery q(db);
    q.prepare(sql);
    q.bindValue(0, category);
    if (!q.exec()) {
        lastError_ = "clustersForProject failed: " + q.lastError().text();
        return {};
    }
    const QString folder = projectFolder();
    QSqlQuery faces(db);
    faces.prepare(kFacesStatement);
    QSqlQuery images(db);
    images.prepare(momentImagesStatement());
    QVariantList out;
    while (q.next()) {
        QVariantMap cluster;
        const int number = q.value(0).toInt();
        cluster["clusterNumber"] = number;
        cluster["imageCount"] = q.value(1).toInt();
        cluster["selectedCount"] = q.value(2).toInt();
        cluster["images"] = momentImageMaps(images, category, number, folder, faces);
        out.push_back(cluster);
    }
    if (readFailed(q, "clustersForProject") || readFailed(images, "clustersForProject")) return {};
    return out;
}

QVariantList ProjectStore::momentImageMaps(QSqlQuery& images, const QString& category, int clusterNumber,
                                          const QString& projectFolder, QSqlQuery& faces) {
    QVariantList list;
    images.bindValue(0, category);
    images.bindValue(1, clusterNumber);
    if (!images.exec()) return list;
    while (images.next()) {
        QVariantMap m;
        const int id = images.value(0).toInt();
        const QString thumb = images.value(2).isNull() ? QString() : images.value(2).toString();
        m["id"] = id;
        m["filename"] = images.value(1).toString();
        m["thumbPath"] = thumb;
        m["thumbUrl"] = thumbUrl(projectFolder, thumb);
        m["userSelected"] = images.value(3).toInt() != 0;
        m["isPrimary"] = images.value(4).toInt() != 0;
        m["category"] = images.value(5).toString();
        m["clusterNumber"] = images.value(6).toInt();
        m["fullW"] = images.value(7).toInt();
        m["fullH"] = images.value(8).toInt();
        m["orientation"] = images.value(9).toInt();
        m["score"] = images.value(10).toDouble();
        m["captureTime"] = images.value(11).isNull() ? QString() : images.value(11).toString();
        m["appliedRotation"] = images.value(12).toInt();
        m["engineSelected"] = images.value(13).toInt() != 0;
        m["eyeScore"] = images.value(14).toDouble();
        m["faceBoxes"] = faceBoxes(faces, id);
        list.push_back(m);
    }
    return list;
}

QVariantList ProjectStore::momentImages(int projectId, int imageId) {
    if (!openProject(projectId)) return {};
    const QSqlDatabase db = namedConnection(projectConnectionName_);
    QSqlQuery of(db);
    of.prepare("SELECT category, cluster_number FROM images WHERE id = ?");
    of.bindValue(0, imageId);
    if (!of.exec() || !of.next()) {
        lastError_ = QStringLiteral("momentImages: no image %1").arg(imageId);
        return {};
    }
    QSqlQuery faces(db), images(db);
    faces.prepare(kFacesStatement);
    images.prepare(momentImagesStatement());
    return momentImageMaps(images, of.value(0).toString(), of.value(1).toInt(), projectFolder(), faces);
}

QVariantList ProjectStore::unselectedImagesForProject(int projectId) {
    if (!openProject(projectId)) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (!q.exec(inCaptureOrder(R"sql(SELECT filename, category FROM images WHERE user_selected = 0)sql"))) {
        lastError_ = "unselectedImagesForProject failed: " + q.lastError().text();
        return {};
    }
    QVariantList out;
    while (q.next())
        out.push_back(QVariantMap{{"filename", q.value(0).toString()}, {"category", q.value(1).toString()}});
    if (readFailed(q, "unselectedImagesForProject")) return {};
    return out;
}

int ProjectStore::orphanClusterImageCount(int projectId) {
    if (!openProject(projectId)) return -1;
    const QSqlDatabase db = namedConnection(projectConnectionName_);
    QSqlQuery clusters(db), groups(db);
    // One pass over the images, grouped by cluster, keeping the clusters in
    // which no image is selected by the user and that have a cluster row.
    if (!clusters.exec(R"sql(SELECT category, cluster_number FROM clusters
                             WHERE category IN ('group', 'portrait', 'venue'))sql") ||
        !groups.exec(R"sql(SELECT category, cluster_number, COUNT(*), MAX(user_selected) FROM images
                           GROUP BY category, cluster_number)sql")) {
        lastError_ = "orphanClusterImageCount failed: " + clusters.lastError().text() + groups.lastError().text();
        return -1;
    }
    QSet<QString> known;
    while (clusters.next()) known.insert(clusters.value(0).toString() + "|" + clusters.value(1).toString());
    int count = 0;
    while (groups.next())
        if (groups.value(3).toInt() == 0 &&
            known.contains(groups.value(0).toString() + "|" + groups.value(1).toString()))
            count += groups.value(2).toInt();
    return count;
}

QVector<OrphanFrame> ProjectStore::orphanClusterFrames(int projectId) {
    lastError_.clear();
    if (!openProject(projectId)) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    // The moments are grouped once (as orphanClusterImageCount counts them)
    // rather than asked for one by one.
    if (!q.exec(R"sql(WITH orphan AS (
    SELECT category, cluster_number FROM images
    WHERE category IN ('group', 'portrait', 'venue')
    GROUP BY category, cluster_number HAVING MAX(user_selected) = 0)
SELECT i.id, i.filename, i.category, (SELECT COUNT(*) FROM faces f WHERE f.image_id = i.id)
FROM images i
JOIN orphan o ON o.category = i.category AND o.cluster_number = i.cluster_number
JOIN clusters c ON c.category = i.category AND c.cluster_number = i.cluster_number)sql")) {
        lastError_ = "orphanClusterFrames failed: " + q.lastError().text();
        return {};
    }
    QVector<OrphanFrame> out;
    while (q.next())
        out.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toInt()});
    if (readFailed(q, "orphanClusterFrames")) return {};
    return out;
}

bool ProjectStore::resetToEngine(int projectId) {
    if (!openProject(projectId)) return false;
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (!q.exec("UPDATE images SET user_selected = engine_selected"))
        return fail("resetToEngine failed: " + q.lastError().text());
    return true;
}

bool ProjectStore::setUserSelected(int imageId, bool selected) {
    if (!projectDbOpen()) return fail("Database not open.");
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare("UPDATE images SET user_selected = ? WHERE id = ?");
    q.bindValue(0, selected ? 1 : 0);
    q.bindValue(1, imageId);
    if (!q.exec()) return fail("setUserSelected failed: " + q.lastError().text());
    return true;
}

bool ProjectStore::setUserSelectedMany(const QList<int>& imageIds, bool selected) {
    if (!projectDbOpen()) return fail("Database not open.");
    if (imageIds.isEmpty()) return true;
    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (!db.transaction()) return fail("begin txn failed: " + db.lastError().text());
    QSqlQuery q(db);
    q.prepare("UPDATE images SET user_selected = ? WHERE id = ?");
    for (int id : imageIds) {
        q.bindValue(0, selected ? 1 : 0);
        q.bindValue(1, id);
        if (!q.exec()) {
            lastError_ = "setUserSelectedMany failed: " + q.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        lastError_ = "commit failed: " + db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

QVariantList ProjectStore::imageRows(const char* sql, int imageId,
                                     const std::function<QVariant(const QSqlQuery&)>& row) {
    if (!projectDbOpen()) {
        fail("Database not open.");
        return {};
    }
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare(QString::fromUtf8(sql));
    q.bindValue(0, imageId);
    QVariantList out;
    if (!q.exec()) return out;
    while (q.next()) out.push_back(row(q));
    return out;
}

QVariantList ProjectStore::detectionsForImage(int imageId) {
    return imageRows(R"sql(SELECT x, y, w, h, conf, valid, reason FROM detections
                           WHERE image_id = ? ORDER BY valid DESC, conf DESC)sql",
                     imageId, [](const QSqlQuery& q) {
                         return QVariantMap{{"x", q.value(0).toInt()},       {"y", q.value(1).toInt()},
                                            {"w", q.value(2).toInt()},       {"h", q.value(3).toInt()},
                                            {"conf", q.value(4).toDouble()}, {"valid", q.value(5).toInt() != 0},
                                            {"reason", q.value(6).isNull() ? QString() : q.value(6).toString()}};
                     });
}

QVariantMap ProjectStore::imageMeasures(int projectId, int imageId) {
    lastError_.clear();
    if (!openProject(projectId)) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare(R"sql(SELECT sharpness, eye_sharp, exposure, contrast, emotion_score, total_detected_faces,
       reason, engine_selected FROM images WHERE id = ?)sql");
    q.bindValue(0, imageId);
    if (!q.exec()) {
        lastError_ = "imageMeasures failed: " + q.lastError().text();
        return {};
    }
    if (!q.next()) return {};
    QVariantMap m{{"sharpness", q.value(0).toDouble()},  {"eyeSharpness", q.value(1).toDouble()},
                  {"exposure", q.value(2).toDouble()},   {"contrast", q.value(3).toDouble()},
                  {"expression", q.value(4).toDouble()}, {"detectedFaces", q.value(5).toInt()},
                  {"reason", q.value(6).isNull() ? QString() : q.value(6).toString()},
                  {"engineSelected", q.value(7).toInt() != 0}};
    m["detections"] = detectionsForImage(imageId);
    return m;
}

QVariantList ProjectStore::facesWithConfidence(int imageId) {
    return imageRows("SELECT x, y, w, h, conf FROM faces WHERE image_id = ?", imageId, [](const QSqlQuery& q) {
        return QVariantList{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                            q.value(4).toDouble()};
    });
}

QVariantList ProjectStore::displayFacesForImage(int imageId) {
    return imageRows(R"sql(SELECT x, y, w, h, person_id FROM faces WHERE image_id = ? AND (
  conf > 0.80
  OR (conf > 0.70 AND person_id >= 0 AND person_id < 5)))sql",
                     imageId, [](const QSqlQuery& q) {
                         return QVariantList{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(),
                                             q.value(3).toInt(), q.value(4).toInt()};
                     });
}

QHash<int, QList<int>> ProjectStore::personsByImage(int projectId) {
    QHash<int, QList<int>> out;
    if (!openProject(projectId)) return out;
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (!q.exec(R"sql(
        SELECT DISTINCT image_id, person_id FROM faces WHERE person_id >= 0 ORDER BY image_id, person_id
    )sql")) {
        lastError_ = "personsByImage failed: " + q.lastError().text();
        return out;
    }
    while (q.next()) out[q.value(0).toInt()].append(q.value(1).toInt());
    if (readFailed(q, "personsByImage")) return {};
    return out;
}

QList<HandoverRow> ProjectStore::loadHandoverRows(int projectId) {
    lastError_.clear();
    QList<HandoverRow> out;
    if (!openProject(projectId)) return out;
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!q.exec(inCaptureOrder(R"sql(SELECT id, filename, category, cluster_number, total_detected_faces,
       is_featured, engine_selected, user_selected FROM images)sql"))) {
        lastError_ = "loadHandoverRows failed: " + q.lastError().text();
        return out;
    }
    while (q.next()) {
        HandoverRow row;
        row.id = q.value(0).toInt();
        row.filename = q.value(1).toString();
        row.category = q.value(2).toString();
        row.clusterNumber = q.value(3).toInt();
        row.totalDetectedFaces = q.value(4).toInt();
        row.isFeatured = q.value(5).toInt() != 0;
        row.engineSelected = q.value(6).toInt() != 0;
        row.userSelected = q.value(7).toInt() != 0;
        out.append(row);
    }
    if (readFailed(q, "loadHandoverRows")) return {};
    return out;
}

QString displayCategoryOf(const QString& category, int totalDetectedFaces, bool isFeatured) {
    return categoryText(displayCategory(categoryOf(category.toStdString()), totalDetectedFaces, isFeatured));
}

}  // namespace keepframe
