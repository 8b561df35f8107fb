// The photographer's ratings and colour labels in the project database: two
// nullable columns of the images table, added to older projects when they are
// opened. Nothing else of an older project changes, and a program that does
// not know the columns reads and writes the table as before.
#include "project_store.h"

#include "store_internal.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace keepframe {

namespace {

struct MarkColumn {
    const char* name;
    const char* addStatement;
};

const MarkColumn kMarkColumns[] = {
    {"rating", R"sql(ALTER TABLE images ADD COLUMN rating INTEGER CHECK (rating BETWEEN 0 AND 5))sql"},
    {"color_label",
     R"sql(ALTER TABLE images ADD COLUMN color_label TEXT
           CHECK (color_label IN ('red', 'yellow', 'green', 'blue')))sql"},
};

// The column names of the images table; empty when there is no such table.
QStringList imageColumns(const QSqlDatabase& db) {
    QStringList names;
    QSqlQuery q(db);
    if (!q.exec(R"sql(PRAGMA table_info(images))sql")) return names;
    while (q.next()) names << q.value(1).toString();
    return names;
}

bool hasAllMarkColumns(const QStringList& columns) {
    for (const MarkColumn& c : kMarkColumns)
        if (!columns.contains(QString::fromLatin1(c.name))) return false;
    return true;
}

// A stored rating and label as marks; anything that is neither reads as none.
FrameMarks marksOf(const QVariant& rating, const QVariant& label) {
    FrameMarks m;
    bool number = false;
    const int stars = rating.toInt(&number);
    if (!rating.isNull() && number && isValidRating(stars)) m.rating = stars;
    if (!label.isNull()) m.label = colorLabelFromKey(label.toString()).value_or(ColorLabel::None);
    return m;
}

}  // namespace

bool ProjectStore::hasMarkColumns() const {
    // Looked up once per open database: every rating written asks.
    if (!markColumnsSeen_) markColumnsSeen_ = hasAllMarkColumns(imageColumns(namedConnection(projectConnectionName_)));
    return markColumnsSeen_;
}

QString ProjectStore::addMarkColumns() {
    QSqlDatabase db = namedConnection(projectConnectionName_);
    const QStringList before = imageColumns(db);
    if (before.isEmpty() || hasAllMarkColumns(before)) return {};
    const QString failed = QStringLiteral("Could not add the rating and label columns: ");
    // Taken as the writer first, so that two connections opening the same old
    // project cannot both add a column; the columns are then looked at again.
    {
        QSqlQuery begin(db);
        if (!begin.exec(R"sql(BEGIN IMMEDIATE)sql")) return failed + begin.lastError().text();
    }
    const QStringList columns = imageColumns(db);
    for (const MarkColumn& c : kMarkColumns) {
        if (columns.contains(QString::fromLatin1(c.name))) continue;
        QSqlQuery add(db);
        if (!add.exec(QString::fromLatin1(c.addStatement))) {
            const QString text = add.lastError().text();
            QSqlQuery(db).exec(R"sql(ROLLBACK)sql");
            return failed + text;
        }
    }
    QSqlQuery commit(db);
    if (!commit.exec(R"sql(COMMIT)sql")) {
        const QString text = commit.lastError().text();
        QSqlQuery(db).exec(R"sql(ROLLBACK)sql");
        return failed + text;
    }
    return {};
}

bool ProjectStore::setFrameMarks(int imageId, const FrameMarks& marks) {
    if (!projectDbOpen()) return fail("Database not open.");
    if (marks.rating && !isValidRating(*marks.rating))
        return fail(QStringLiteral("setFrameMarks failed: %1 is no rating (0 to 5 stars)").arg(*marks.rating));
    if (!hasMarkColumns()) {
        const QString error = addMarkColumns();
        if (!error.isEmpty()) return fail(error);
    }
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.prepare(R"sql(UPDATE images SET rating = ?, color_label = ? WHERE id = ?)sql");
    q.bindValue(0, marks.rating ? QVariant(*marks.rating) : QVariant(QMetaType::fromType<int>()));
    const QString label = colorLabelKey(marks.label);
    q.bindValue(1, label.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(label));
    q.bindValue(2, imageId);
    if (!q.exec()) return fail("setFrameMarks failed: " + q.lastError().text());
    if (q.numRowsAffected() < 1) return fail(QStringLiteral("setFrameMarks failed: no image %1").arg(imageId));
    return true;
}

std::optional<FrameMarks> ProjectStore::frameMarks(int imageId) {
    if (!projectDbOpen()) {
        fail("Database not open.");
        return std::nullopt;
    }
    QSqlQuery q(namedConnection(projectConnectionName_));
    // Without the columns (a project that could not be given them) every frame is unmarked.
    q.prepare(hasMarkColumns() ? R"sql(SELECT rating, color_label FROM images WHERE id = ?)sql"
                               : R"sql(SELECT NULL, NULL FROM images WHERE id = ?)sql");
    q.bindValue(0, imageId);
    if (!q.exec()) {
        fail("frameMarks failed: " + q.lastError().text());
        return std::nullopt;
    }
    if (!q.next()) {
        if (!readFailed(q, "frameMarks")) fail(QStringLiteral("frameMarks failed: no image %1").arg(imageId));
        return std::nullopt;
    }
    return marksOf(q.value(0), q.value(1));
}

QHash<int, FrameMarks> ProjectStore::frameMarksForProject(int projectId) {
    lastError_.clear();
    QHash<int, FrameMarks> out;
    if (!openProject(projectId)) return out;
    lastError_.clear();  // opening may have noted what does not stop it
    if (!hasMarkColumns()) {
        // No marks in a project that lacks the columns; but a database that
        // cannot be read at all is a failure, not an unmarked project.
        QSqlQuery probe(namedConnection(projectConnectionName_));
        if (!probe.exec(R"sql(SELECT COUNT(*) FROM images)sql"))
            lastError_ = "frameMarksForProject failed: " + probe.lastError().text();
        return out;
    }
    QSqlQuery q(namedConnection(projectConnectionName_));
    q.setForwardOnly(true);
    if (!q.exec(R"sql(SELECT id, rating, color_label FROM images
                      WHERE rating IS NOT NULL OR color_label IS NOT NULL)sql")) {
        lastError_ = "frameMarksForProject failed: " + q.lastError().text();
        return out;
    }
    while (q.next()) {
        const FrameMarks m = marksOf(q.value(1), q.value(2));
        if (!m.isEmpty()) out.insert(q.value(0).toInt(), m);
    }
    if (readFailed(q, "frameMarksForProject")) return {};
    return out;
}

}  // namespace keepframe
