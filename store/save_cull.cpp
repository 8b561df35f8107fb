// A finished cull written as a new project: registry row, project folder,
// every analysed frame with faces and detections, cluster summaries and
// thumbnails, in one transaction of the project database. The registry row is
// completed last, so a save that fails or is killed is never listed.
#include "project_store.h"

#include "path_safety.h"
#include "store_internal.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlError>
#include <QSqlQuery>

#include <map>

namespace keepframe {

namespace {

QVariant textOrNull(const std::string& s) {
    return s.empty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(QString::fromStdString(s));
}

// A float stored as the double of its shortest decimal form, so that a
// confidence of 0.8f is stored as 0.8 and compares as 0.8 in SQL.
double storedFloat(float v) { return QString::number(double(v), 'g', 7).toDouble(); }

bool writeThumbnail(const QString& path, const std::vector<uint8_t>& bytes, QString& error) {
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (writeBytesReplacing(path, data, &error)) return true;
    error = "Could not write thumbnail " + QFileInfo(path).fileName() + ": " + error;
    return false;
}

}  // namespace

int ProjectStore::discardSave(int projectId, const QString& folder, const QString& message) {
    lastError_ = message;
    closeProjectDb();
    currentProjectId_ = -1;
    removeFolderTree(folder);
    QSqlQuery remove(namedConnection(registryConnectionName_));
    remove.prepare("DELETE FROM projects WHERE id = ?");
    remove.bindValue(0, projectId);
    remove.exec();  // when even this fails, the row stays unlisted and is removed later
    return -1;
}

int ProjectStore::saveCullResult(const CullResult& result, const QString& inputFolder, const QString& projectName,
                                 int cullTimeSeconds) {
    if (!registryOpen()) {
        fail("Registry DB not open.");
        return -1;
    }
    // Stored absolute and canonical, so that the project can be exported from
    // any working folder; the name is the folder's own, as the user named it.
    const QString storedInput = canonicalFolder(inputFolder);
    const QString name = !projectName.isEmpty()
                             ? projectName
                             : QFileInfo(QDir::cleanPath(QFileInfo(inputFolder).absoluteFilePath())).fileName();
    const QString now = nowIso();
    // Every later path into the shoot joins the input folder and these names.
    for (const ResultImage& r : result.images) {
        if (!staysInside(QString::fromStdString(r.filename))) {
            fail("Insert image failed: the name leads outside the input folder: " + QString::fromStdString(r.filename));
            return -1;
        }
    }

    QSqlDatabase registry = namedConnection(registryConnectionName_);
    QSqlQuery insertProject(registry);
    insertProject.prepare(R"sql(INSERT INTO projects (name, input_folder, created_at, last_opened_at, cull_time_seconds,
                      total_images, engine_selected_count, cover_image_id, cover_is_user_set,
                      source_available)
VALUES (?, ?, ?, ?, ?, ?, ?, NULL, 0, 1))sql");
    const QVariantList values = {name, storedInput, now, now, cullTimeSeconds, result.totalInput, result.totalSelected};
    for (int i = 0; i < values.size(); ++i) insertProject.bindValue(i, values[i]);
    if (!insertProject.exec()) {
        fail("Insert project (registry) failed: " + insertProject.lastError().text());
        return -1;
    }
    const int projectId = insertProject.lastInsertId().toInt();

    // Until the last step the row has no folder name: it is not listed and
    // nobody else opens the new database.
    const QString folderName = folderSlug(name) + "_p" + QString::number(projectId);
    const QString folder = projectsRoot() + "/" + folderName;
    // Held while the project is written: a library opened meanwhile by
    // another program leaves this save alone, and one opened after this
    // process died removes what it left at once (removeAbandonedSaves).
    QLockFile saving(saveLockPath(folderName));
    saving.setStaleLockTime(0);
    saving.tryLock(0);
    if (!openProjectDb(folder, true)) return discardSave(projectId, folder, lastError_);
    currentProjectId_ = projectId;

    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (!db.transaction())
        return discardSave(projectId, folder, "Could not begin transaction: " + db.lastError().text());
    auto abort = [&](const QString& message) {
        db.rollback();
        return discardSave(projectId, folder, message);
    };
    if (!QDir().mkpath(folder + "/thumbnails")) return abort("Could not create thumbnails folder: " + folder);

    QSqlQuery image(db), face(db), detection(db), thumb(db);
    image.prepare(R"sql(INSERT INTO images (filename, path, category, cluster_number, capture_time,
                    full_w, full_h, orientation, score, reason, engine_selected,
                    user_selected, is_primary, thumb_path, sharpness, eye_sharp, exposure,
                    contrast, emotion_score, best_pi, has_vip, total_detected_faces, is_featured,
                    applied_rotation)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))sql");
    face.prepare("INSERT INTO faces (image_id, x, y, w, h, person_id, conf) VALUES (?, ?, ?, ?, ?, ?, ?)");
    detection.prepare(
        "INSERT INTO detections (image_id, x, y, w, h, conf, valid, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    thumb.prepare("UPDATE images SET thumb_path = ? WHERE id = ?");

    std::vector<int> ids;
    ids.reserve(result.images.size());
    for (const ResultImage& r : result.images) {
        const QVariantList row = {QString::fromStdString(r.filename), QString::fromStdString(r.path),
                                  QString(categoryText(r.category)), r.clusterNumber, textOrNull(r.captureTime),
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
            // Detection corners are in analysis pixels; the table holds full-resolution ones.
            const FaceBox b = fullResolutionBox(d.x1, d.y1, d.x2, d.y2, r.fullW, r.fullH);
            const QVariantList v = {id, b[0], b[1], b[2], b[3], storedFloat(d.confidence), int(d.ok),
                                    textOrNull(d.reason)};
            for (int k = 0; k < v.size(); ++k) detection.bindValue(k, v[k]);
            if (!detection.exec()) return abort("Insert detection failed: " + detection.lastError().text());
        }
        if (!r.thumbnailJpeg.empty()) {
            const QString relative = "thumbnails/" + QString::number(id) + ".jpg";
            QString error;
            if (!writeThumbnail(folder + "/" + relative, r.thumbnailJpeg, error)) return abort(error);
            thumb.bindValue(0, relative);
            thumb.bindValue(1, id);
            if (!thumb.exec()) return abort("Update thumb_path failed: " + thumb.lastError().text());
        }
    }

    std::map<std::string, std::pair<int, int>> clusters;  // "category|number" -> (images, selected)
    for (const ResultImage& r : result.images) {
        auto& c = clusters[categoryText(r.category) + ("|" + std::to_string(r.clusterNumber))];
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

    // The project is complete on disk: give its row the folder name, the
    // cover and the counters in one registry transaction.
    if (!registry.transaction())
        return discardSave(projectId, folder, "Could not begin transaction: " + registry.lastError().text());
    auto abortRegistry = [&](const QString& message) {
        registry.rollback();
        return discardSave(projectId, folder, message);
    };
    QSqlQuery setFolder(registry);
    setFolder.prepare("UPDATE projects SET db_folder = ? WHERE id = ? AND db_folder IS NULL");
    setFolder.bindValue(0, folderName);
    setFolder.bindValue(1, projectId);
    if (!setFolder.exec()) return abortRegistry("Insert project (registry) failed: " + setFolder.lastError().text());
    if (setFolder.numRowsAffected() != 1)
        return abortRegistry("Insert project (registry) failed: the project's row was removed while it was saved.");
    if (result.coverIndex >= 0 && size_t(result.coverIndex) < ids.size()) {
        QSqlQuery cover(registry);
        cover.prepare("UPDATE projects SET cover_image_id = ? WHERE id = ?");
        cover.bindValue(0, ids[size_t(result.coverIndex)]);
        cover.bindValue(1, projectId);
        if (!cover.exec()) return abortRegistry("Insert project (registry) failed: " + cover.lastError().text());
    }
    if (!addToStat("lifetime_projects", 1) || !addToStat("lifetime_culled_images", result.totalInput))
        return abortRegistry(lastError_);
    if (!registry.commit()) return abortRegistry("Commit failed: " + registry.lastError().text());
    return projectId;
}

}  // namespace keepframe
