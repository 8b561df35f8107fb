// A finished cull written as a new project: registry row, project folder,
// every analysed frame with faces and detections, cluster summaries and
// thumbnails, in one transaction of the project database.
#include "project_store.h"
#include "store_internal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <map>

namespace keepframe {

namespace {

QVariant textOrNull(const std::string& s) { return s.empty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(QString::fromStdString(s)); }

// A float stored as the double of its shortest decimal form, so that a
// confidence of 0.8f is stored as 0.8 and compares as 0.8 in SQL.
double storedFloat(float v) { return QString::number(double(v), 'g', 7).toDouble(); }

}  // namespace

int ProjectStore::saveCullResult(const CullResult& result, const QString& inputFolder, const QString& projectName,
                                 int cullTimeSeconds) {
    if (!registryOpen()) return fail("Registry DB not open."), -1;
    const QString name = !projectName.isEmpty() ? projectName : QFileInfo(QDir::cleanPath(inputFolder)).fileName();
    const QString now = nowIso();

    QSqlDatabase registry = namedConnection(registryConnectionName_);
    QSqlQuery insertProject(registry);
    insertProject.prepare(
        "INSERT INTO projects (name, input_folder, created_at, last_opened_at, cull_time_seconds,  total_images, "
        "engine_selected_count, cover_image_id, cover_is_user_set,  source_available) VALUES (?, ?, ?, ?, ?, ?, ?, "
        "NULL, 0, 1)");
    const QVariantList values = {name, inputFolder, now, now, cullTimeSeconds, result.totalInput, result.totalSelected};
    for (int i = 0; i < values.size(); ++i) insertProject.bindValue(i, values[i]);
    if (!insertProject.exec()) return fail("Insert project (registry) failed: " + insertProject.lastError().text()), -1;
    const int projectId = insertProject.lastInsertId().toInt();

    const QString folderName = folderSlug(name) + "_p" + QString::number(projectId);
    const QString folder = projectsRoot() + "/" + folderName;
    if (!openProjectDb(folder, true)) {
        QSqlQuery remove(registry);
        remove.prepare("DELETE FROM projects WHERE id = ?");
        remove.bindValue(0, projectId);
        remove.exec();
        return -1;
    }
    currentProjectId_ = projectId;
    {
        QSqlQuery setFolder(registry);
        setFolder.prepare("UPDATE projects SET db_folder = ? WHERE id = ?");
        setFolder.bindValue(0, folderName);
        setFolder.bindValue(1, projectId);
        setFolder.exec();
    }

    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (!db.transaction()) return fail("Could not begin transaction: " + db.lastError().text()), -1;
    auto abort = [&](const QString& message) {
        lastError_ = message;
        db.rollback();
        return -1;
    };
    QDir().mkpath(folder + "/thumbnails");

    QSqlQuery image(db), face(db), detection(db), thumb(db);
    image.prepare(
        "INSERT INTO images (filename, path, category, cluster_number, capture_time,  full_w, full_h, orientation, "
        "score, reason, engine_selected,  user_selected, is_primary, thumb_path, sharpness, eye_sharp, exposure,  "
        "contrast, emotion_score, best_pi, has_vip, total_detected_faces, is_featured,  applied_rotation) VALUES (?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    face.prepare("INSERT INTO faces (image_id, x, y, w, h, person_id, conf) VALUES (?, ?, ?, ?, ?, ?, ?)");
    detection.prepare(
        "INSERT INTO detections (image_id, x, y, w, h, conf, valid, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    thumb.prepare("UPDATE images SET thumb_path = ? WHERE id = ?");

    std::vector<int> ids;
    ids.reserve(result.images.size());
    for (const ResultImage& r : result.images) {
        const QVariantList row = {QString::fromStdString(r.filename), QString::fromStdString(r.path),
                                  QString::fromStdString(r.category), r.clusterNumber, textOrNull(r.captureTime),
                                  r.fullW, r.fullH, r.orientation, double(r.score), textOrNull(r.reason),
                                  int(r.engineSelected), int(r.engineSelected), int(r.isPrimary), double(r.sharpness),
                                  double(r.eyeSharpness), double(r.exposure), double(r.contrast), double(r.expression),
                                  double(r.bestVipSimilarity), int(r.hasVip), r.detectionCount, int(r.onlyTopPersons),
                                  r.appliedRotation};
        for (int i = 0; i < row.size(); ++i) image.bindValue(i, row[i]);
        if (!image.exec()) return abort("Insert image failed: " + image.lastError().text());
        const int id = image.lastInsertId().toInt();
        ids.push_back(id);

        for (size_t i = 0; i < r.faceBoxes.size(); ++i) {
            const FaceBox& b = r.faceBoxes[i];
            const QVariantList f = {id, b[0], b[1], b[2], b[3], i < r.facePersons.size() ? r.facePersons[i] : -1,
                                    i < r.faceConfidences.size() ? storedFloat(r.faceConfidences[i]) : 1.0};
            for (int k = 0; k < f.size(); ++k) face.bindValue(k, f[k]);
            if (!face.exec()) return abort("Insert face failed: " + face.lastError().text());
        }
        for (const DetectionRecord& d : r.detections) {
            // Detection corners are in the quarter-size analysis image.
            const QVariantList v = {id, d.x1 * 4, d.y1 * 4, (d.x2 - d.x1) * 4, (d.y2 - d.y1) * 4,
                                    storedFloat(d.confidence), int(d.ok), textOrNull(d.reason)};
            for (int k = 0; k < v.size(); ++k) detection.bindValue(k, v[k]);
            if (!detection.exec()) return abort("Insert detection failed: " + detection.lastError().text());
        }
        if (!r.thumbnailJpeg.empty()) {
            const QString relative = "thumbnails/" + QString::number(id) + ".jpg";
            QFile file(folder + "/" + relative);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                file.write(reinterpret_cast<const char*>(r.thumbnailJpeg.data()), qint64(r.thumbnailJpeg.size()));
                file.close();
                thumb.bindValue(0, relative);
                thumb.bindValue(1, id);
                thumb.exec();
            }
        }
    }

    std::map<std::string, std::pair<int, int>> clusters;  // "category|number" -> (images, selected)
    for (const ResultImage& r : result.images) {
        auto& c = clusters[r.category + "|" + std::to_string(r.clusterNumber)];
        ++c.first;
        c.second += r.engineSelected ? 1 : 0;
    }
    QSqlQuery cluster(db);
    cluster.prepare("INSERT INTO clusters (category, cluster_number, image_count, selected_count) VALUES (?, ?, ?, ?)");
    for (const auto& [key, counts] : clusters) {
        const size_t bar = key.find('|');
        cluster.bindValue(0, QString::fromStdString(key.substr(0, bar)));
        cluster.bindValue(1, std::stoi(key.substr(bar + 1)));
        cluster.bindValue(2, counts.first);
        cluster.bindValue(3, counts.second);
        if (!cluster.exec()) return abort("Insert cluster failed: " + cluster.lastError().text());
    }
    if (!db.commit()) return abort("Commit failed: " + db.lastError().text());

    if (result.coverIndex >= 0 && size_t(result.coverIndex) < ids.size()) {
        QSqlQuery cover(registry);
        cover.prepare("UPDATE projects SET cover_image_id = ? WHERE id = ?");
        cover.bindValue(0, ids[size_t(result.coverIndex)]);
        cover.bindValue(1, projectId);
        cover.exec();
    }
    bumpStat("lifetime_projects", 1);
    bumpStat("lifetime_culled_images", result.totalInput);
    return projectId;
}

}  // namespace keepframe
