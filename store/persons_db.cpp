// The people of a project in its database: the persons the cull gave the
// faces (faces.person_id) and the names the photographer gives them, in a
// table of their own that older projects are given when opened. A program
// that does not know the table reads and writes the project as before.
#include "project_store.h"

#include "store_internal.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace keepframe {

namespace {

const char* const kCreatePersons = R"sql(CREATE TABLE IF NOT EXISTS persons (
  person_id INTEGER PRIMARY KEY,
  name      TEXT    NOT NULL))sql";

// A row when the person has a face in the project.
const char* const kPersonHasFaces = R"sql(SELECT 1 FROM faces WHERE person_id = ? LIMIT 1)sql";

bool hasTable(const QSqlDatabase& db, const QString& name) {
    QSqlQuery q(db);
    q.prepare(R"sql(SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?)sql");
    q.bindValue(0, name);
    return q.exec() && q.next();
}

QString rolledBack(QSqlDatabase& db, const QString& text) {
    QSqlQuery(db).exec(R"sql(ROLLBACK)sql");
    return text;
}

}  // namespace

QString cleanPersonName(const QString& name) {
    QString kept;
    kept.reserve(name.size());
    for (const QChar c : name) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format) kept += ' ';
        else kept += c;
    }
    kept = kept.simplified();
    if (kept.size() > kMaxPersonNameLength) {
        kept.truncate(kMaxPersonNameLength);
        // Never half of a character outside the basic plane.
        if (!kept.isEmpty() && kept.back().isHighSurrogate()) kept.chop(1);
        kept = kept.trimmed();
    }
    return kept;
}

QString personDisplayName(int personId, const QString& name) {
    return name.isEmpty() ? QStringLiteral("Person %1").arg(personId) : name;
}

bool ProjectStore::hasPersonsTable() const {
    return hasTable(namedConnection(projectConnectionName_), QStringLiteral("persons"));
}

QString ProjectStore::addPersonsTable() {
    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (!hasTable(db, QStringLiteral("faces")) || hasPersonsTable()) return {};
    const QString failed = QStringLiteral("Could not add the persons table: ");
    // Taken as the writer first, as the mark columns are: two connections
    // opening the same old project then agree on one table.
    {
        QSqlQuery begin(db);
        if (!begin.exec(R"sql(BEGIN IMMEDIATE)sql")) return failed + begin.lastError().text();
    }
    QSqlQuery create(db);
    if (!create.exec(QString::fromLatin1(kCreatePersons))) return rolledBack(db, failed + create.lastError().text());
    QSqlQuery commit(db);
    if (!commit.exec(R"sql(COMMIT)sql")) return rolledBack(db, failed + commit.lastError().text());
    return {};
}

QString ProjectStore::storedPersonName(int personId) {
    if (!hasPersonsTable()) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare(R"sql(SELECT name FROM persons WHERE person_id = ?)sql");
    q.bindValue(0, personId);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

bool ProjectStore::execWithValue(QSqlQuery& q, const char* sql, const QVariant& value, const char* operation) {
    q.prepare(QString::fromUtf8(sql));
    q.bindValue(0, value);
    if (q.exec()) return true;
    return fail(QString::fromLatin1(operation) + " failed: " + q.lastError().text());
}

bool ProjectStore::writePersonName(int personId, const QString& name, const char* operation) {
    QSqlQuery q(namedConnection(projectConnectionName_));
    if (name.isEmpty()) {
        q.prepare(R"sql(DELETE FROM persons WHERE person_id = ?)sql");
        q.bindValue(0, personId);
    } else {
        q.prepare(R"sql(INSERT INTO persons (person_id, name) VALUES (?, ?)
                        ON CONFLICT(person_id) DO UPDATE SET name = excluded.name)sql");
        q.bindValue(0, personId);
        q.bindValue(1, name);
    }
    if (!q.exec()) return fail(QString::fromLatin1(operation) + " failed: " + q.lastError().text());
    return true;
}

int ProjectStore::moveFaces(const QList<int>& faceIds, int fromId, int toId, const char* operation) {
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare(R"sql(UPDATE faces SET person_id = ? WHERE id = ? AND person_id = ?)sql");
    int moved = 0;
    for (int faceId : faceIds) {
        q.bindValue(0, toId);
        q.bindValue(1, faceId);
        q.bindValue(2, fromId);
        if (!q.exec()) {
            fail(QString::fromLatin1(operation) + " failed: " + q.lastError().text());
            return -1;
        }
        moved += q.numRowsAffected();
    }
    return moved;
}

bool ProjectStore::inPersonsTransaction(int projectId, const char* operation, const std::function<bool()>& change) {
    if (!openProject(projectId)) return false;
    if (!hasPersonsTable()) {
        const QString error = addPersonsTable();
        if (!error.isEmpty()) return fail(error);
        if (!hasPersonsTable()) return fail(QString::fromLatin1(operation) + " failed: the project has no faces");
    }
    QSqlDatabase db = namedConnection(projectConnectionName_);
    if (!db.transaction()) return fail(QString::fromLatin1(operation) + " failed: " + db.lastError().text());
    if (!change()) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        const QString text = db.lastError().text();
        db.rollback();
        return fail(QString::fromLatin1(operation) + " failed: " + text);
    }
    return true;
}

QHash<int, QString> ProjectStore::personNames(int projectId) {
    lastError_.clear();
    QHash<int, QString> out;
    if (!openProject(projectId)) return out;
    lastError_.clear();
    if (!hasPersonsTable()) return out;  // never named, or a project that could not be given the table
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!q.exec(R"sql(SELECT person_id, name FROM persons)sql")) {
        lastError_ = "personNames failed: " + q.lastError().text();
        return out;
    }
    while (q.next()) {
        const QString name = cleanPersonName(q.value(1).toString());
        if (!name.isEmpty()) out.insert(q.value(0).toInt(), name);
    }
    if (readFailed(q, "personNames")) return {};
    return out;
}

QList<PersonSummary> ProjectStore::persons(int projectId) {
    const QHash<int, QString> names = personNames(projectId);
    if (!lastError_.isEmpty()) return {};
    QSqlDatabase db = namedConnection(projectConnectionName_);
    QSqlQuery faces(db);
    faces.setForwardOnly(true);
    if (!faces.exec(R"sql(SELECT person_id, image_id, id, x, y, w, h FROM faces WHERE person_id >= 0
                          ORDER BY person_id, image_id, id)sql")) {
        lastError_ = "persons failed: " + faces.lastError().text();
        return {};
    }
    QList<PersonSummary> out;
    int lastImage = -1;
    qint64 largest = -1;
    while (faces.next()) {
        const int person = faces.value(0).toInt(), image = faces.value(1).toInt();
        if (out.isEmpty() || out.back().personId != person) {
            PersonSummary p;
            p.personId = person;
            p.name = names.value(person);
            out.append(p);
            lastImage = -1;
            largest = -1;
        }
        PersonSummary& p = out.back();
        if (image != lastImage) ++p.frameCount;
        lastImage = image;
        const QRect box(faces.value(3).toInt(), faces.value(4).toInt(), faces.value(5).toInt(), faces.value(6).toInt());
        const qint64 area = qint64(std::max(0, box.width())) * std::max(0, box.height());
        if (area > largest) {
            largest = area;
            p.faceImageId = image;
            p.faceBox = box;
        }
    }
    if (readFailed(faces, "persons")) return {};

    QSqlQuery image(db);
    image.prepare(R"sql(SELECT filename, thumb_path, full_w, full_h, orientation FROM images WHERE id = ?)sql");
    for (PersonSummary& p : out) {
        image.bindValue(0, p.faceImageId);
        if (!image.exec()) {
            lastError_ = "persons failed: " + image.lastError().text();
            return {};
        }
        if (!image.next()) continue;  // a face of an image that is gone: shown without a crop
        p.faceFilename = image.value(0).toString();
        p.faceThumbPath = image.value(1).isNull() ? QString() : image.value(1).toString();
        p.fullW = image.value(2).toInt();
        p.fullH = image.value(3).toInt();
        p.orientation = image.value(4).toInt();
    }
    std::stable_sort(out.begin(), out.end(), [](const PersonSummary& a, const PersonSummary& b) {
        return a.frameCount != b.frameCount ? a.frameCount > b.frameCount : a.personId < b.personId;
    });
    return out;
}

QHash<int, QList<int>> ProjectStore::imagesByPerson(int projectId) {
    lastError_.clear();
    QHash<int, QList<int>> out;
    if (!openProject(projectId)) return out;
    lastError_.clear();
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!q.exec(R"sql(SELECT DISTINCT person_id, image_id FROM faces WHERE person_id >= 0
                      ORDER BY person_id, image_id)sql")) {
        lastError_ = "imagesByPerson failed: " + q.lastError().text();
        return out;
    }
    while (q.next()) out[q.value(0).toInt()].append(q.value(1).toInt());
    if (readFailed(q, "imagesByPerson")) return {};
    return out;
}

QList<int> ProjectStore::imagesOfPerson(int projectId, int personId) {
    lastError_.clear();
    QList<int> out;
    if (!openProject(projectId)) return out;
    lastError_.clear();
    if (personId < 0) return out;
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!execWithValue(q, R"sql(SELECT DISTINCT image_id FROM faces WHERE person_id = ? ORDER BY image_id)sql",
                       personId, "imagesOfPerson"))
        return out;
    while (q.next()) out.append(q.value(0).toInt());
    if (readFailed(q, "imagesOfPerson")) return {};
    return out;
}

QList<FacePerson> ProjectStore::facesOfImage(int projectId, int imageId) {
    const QHash<int, QString> names = personNames(projectId);
    if (!lastError_.isEmpty()) return {};
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!execWithValue(q, R"sql(SELECT id, x, y, w, h, person_id FROM faces WHERE image_id = ? ORDER BY id)sql",
                       imageId, "facesOfImage"))
        return {};
    QList<FacePerson> out;
    while (q.next()) {
        FacePerson f;
        f.faceId = q.value(0).toInt();
        f.box = QRect(q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(), q.value(4).toInt());
        f.personId = std::max(-1, q.value(5).toInt());
        f.name = f.personId >= 0 ? names.value(f.personId) : QString();
        out.append(f);
    }
    if (readFailed(q, "facesOfImage")) return {};
    return out;
}

bool ProjectStore::setPersonName(int projectId, int personId, const QString& name) {
    const QString cleaned = cleanPersonName(name);
    return inPersonsTransaction(projectId, "setPersonName", [&] {
        QSqlQuery known(namedConnection(projectConnectionName_));
        if (!execWithValue(known, kPersonHasFaces, personId, "setPersonName")) return false;
        if (personId < 0 || !known.next())
            return fail(QStringLiteral("setPersonName failed: no person %1 in the project").arg(personId));
        return writePersonName(personId, cleaned, "setPersonName");
    });
}

std::optional<PersonMerge> ProjectStore::mergePersons(int projectId, int intoId, int fromId) {
    if (intoId < 0 || fromId < 0 || intoId == fromId) {
        fail(QStringLiteral("mergePersons failed: persons %1 and %2 cannot be merged").arg(intoId).arg(fromId));
        return std::nullopt;
    }
    PersonMerge asked;
    asked.intoId = intoId;
    asked.fromId = fromId;
    return recordedEdit<PersonMerge>(projectId, "mergePersons", asked, [&](PersonMerge& merge) {
        QSqlQuery q(namedConnection(projectConnectionName_));
        if (!execWithValue(q, R"sql(SELECT id FROM faces WHERE person_id = ? ORDER BY id)sql", fromId, "mergePersons"))
            return false;
        while (q.next()) merge.faceIds.append(q.value(0).toInt());
        if (readFailed(q, "mergePersons")) return false;
        QSqlQuery into(namedConnection(projectConnectionName_));
        if (!execWithValue(into, kPersonHasFaces, intoId, "mergePersons")) return false;
        if (merge.faceIds.isEmpty() || !into.next())
            return fail(QStringLiteral("mergePersons failed: no person %1 in the project")
                            .arg(merge.faceIds.isEmpty() ? fromId : intoId));
        merge.fromName = storedPersonName(fromId);
        merge.intoNameBefore = storedPersonName(intoId);
        merge.intoNameAfter = merge.intoNameBefore.isEmpty() ? merge.fromName : merge.intoNameBefore;
        return moveFaces(merge.faceIds, fromId, intoId, "mergePersons") >= 0 &&
               writePersonName(fromId, {}, "mergePersons") &&
               writePersonName(intoId, merge.intoNameAfter, "mergePersons");
    });
}

bool ProjectStore::undoMerge(int projectId, const PersonMerge& merge) {
    return moveFacesAgain(projectId, merge.faceIds, merge.intoId, merge.fromId, "undoMerge",
                          QStringLiteral("none of the merged faces is person %1's any more").arg(merge.intoId), [&] {
                              return writePersonName(merge.fromId, merge.fromName, "undoMerge") &&
                                     writePersonName(merge.intoId, merge.intoNameBefore, "undoMerge");
                          });
}

bool ProjectStore::redoMerge(int projectId, const PersonMerge& merge) {
    return moveFacesAgain(projectId, merge.faceIds, merge.fromId, merge.intoId, "redoMerge",
                          QStringLiteral("none of the merged faces is person %1's any more").arg(merge.fromId), [&] {
                              return writePersonName(merge.fromId, {}, "redoMerge") &&
                                     writePersonName(merge.intoId, merge.intoNameAfter, "redoMerge");
                          });
}

bool ProjectStore::moveFacesAgain(int projectId, const QList<int>& faceIds, int fromId, int toId,
                                  const char* operation, const QString& noneMoved, const std::function<bool()>& then) {
    return inPersonsTransaction(projectId, operation, [&] {
        const int moved = moveFaces(faceIds, fromId, toId, operation);
        if (moved < 0) return false;
        if (moved == 0) return fail(QString::fromLatin1(operation) + " failed: " + noneMoved);
        return !then || then();
    });
}

std::optional<FaceMove> ProjectStore::moveFace(int projectId, int faceId, int toPersonId) {
    if (toPersonId < -1) {
        fail(QStringLiteral("moveFace failed: %1 is no person").arg(toPersonId));
        return std::nullopt;
    }
    return recordedEdit<FaceMove>(projectId, "moveFace", {faceId, -1, toPersonId}, [&](FaceMove& move) {
        QSqlQuery q(namedConnection(projectConnectionName_));
        if (!execWithValue(q, R"sql(SELECT person_id FROM faces WHERE id = ?)sql", faceId, "moveFace")) return false;
        if (!q.next()) return fail(QStringLiteral("moveFace failed: no face %1").arg(faceId));
        move.fromPersonId = q.value(0).toInt();
        if (move.fromPersonId == toPersonId)
            return fail(QStringLiteral("moveFace failed: face %1 already is person %2's").arg(faceId).arg(toPersonId));
        return moveFaces({faceId}, move.fromPersonId, toPersonId, "moveFace") == 1;
    });
}

bool ProjectStore::undoFaceMove(int projectId, const FaceMove& move) {
    return moveFacesAgain(projectId, {move.faceId}, move.toPersonId, move.fromPersonId, "undoFaceMove",
                          QStringLiteral("face %1 is no longer person %2's").arg(move.faceId).arg(move.toPersonId));
}

bool ProjectStore::redoFaceMove(int projectId, const FaceMove& move) {
    return moveFacesAgain(projectId, {move.faceId}, move.fromPersonId, move.toPersonId, "redoFaceMove",
                          QStringLiteral("face %1 is no longer person %2's").arg(move.faceId).arg(move.fromPersonId));
}

}  // namespace keepframe
