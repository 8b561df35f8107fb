#include "project_store.h"

#include "path_safety.h"
#include "store_internal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QUrl>

namespace keepframe {

namespace {

const char* const kProjectsSchema = R"sql(CREATE TABLE IF NOT EXISTS projects (
  id                    INTEGER PRIMARY KEY AUTOINCREMENT,
  name                  TEXT    NOT NULL,
  db_folder             TEXT,
  input_folder          TEXT    NOT NULL,
  created_at            TEXT    NOT NULL,
  last_opened_at        TEXT,
  cull_time_seconds     INTEGER NOT NULL DEFAULT 0,
  total_images          INTEGER NOT NULL DEFAULT 0,
  engine_selected_count INTEGER NOT NULL DEFAULT 0,
  cover_image_id        INTEGER,
  cover_is_user_set     INTEGER NOT NULL DEFAULT 0,
  source_available      INTEGER NOT NULL DEFAULT 1);)sql";

const char* const kStatsSchema = R"sql(CREATE TABLE IF NOT EXISTS app_stats (
  key   TEXT PRIMARY KEY,
  value INTEGER NOT NULL DEFAULT 0);)sql";

// A save that died before its project was complete leaves a row without a
// folder name. Such rows are never listed; once they are this old they are
// certainly not a save still in progress in another program and are removed.
constexpr qint64 kAbandonedSaveSeconds = 24 * 3600;

}  // namespace

QString nowIso() { return QDateTime::currentDateTime().toString(Qt::ISODate).left(19); }

QString folderSlug(const QString& name) {
    QString slug;
    for (const QChar c : name) {
        if (c.isLetterOrNumber() || c == '-' || c == '_') slug += c;
        else if (c.isSpace() || c == '.') slug += '_';
    }
    while (slug.contains("__")) slug.replace("__", "_");
    if (slug.startsWith('_')) slug.remove(0, 1);
    if (slug.endsWith('_')) slug.chop(1);
    if (slug.isEmpty()) slug = "project";
    if (slug.size() > 60) slug = slug.left(60);
    return slug;
}

ProjectStore::ProjectStore() {
    const QString key = QStringLiteral("%1_%2")
                            .arg(quintptr(this))
                            .arg(quintptr(QThread::currentThreadId()));
    registryConnectionName_ = "kfeng_registry_" + key;
    projectConnectionName_ = "kfeng_project_" + key;
}

ProjectStore::~ProjectStore() {
    for (const QString& name : {projectConnectionName_, registryConnectionName_}) {
        if (!QSqlDatabase::contains(name)) continue;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

bool ProjectStore::fail(const QString& message) {
    lastError_ = message;
    return false;
}

bool ProjectStore::readFailed(const QSqlQuery& query, const char* operation) {
    if (query.lastError().type() == QSqlError::NoError) return false;
    lastError_ = QString::fromLatin1(operation) + " failed: " + query.lastError().text();
    return true;
}

bool ProjectStore::checkCanSave() {
    if (!registryOpen()) return fail("Registry not open.");
    QSqlDatabase db = namedConnection(registryConnectionName_);
    QSqlQuery q(db);
    if (!q.exec("PRAGMA quick_check") || !q.next()) return fail("Registry check failed: " + q.lastError().text());
    if (q.value(0).toString() != "ok") return fail("Registry check failed: the library database is damaged ("
                                                   + q.value(0).toString() + ")");
    q.finish();
    if (!q.exec("BEGIN IMMEDIATE")) return fail("Registry write check failed: " + q.lastError().text());
    QSqlQuery write(db);
    const bool written = write.exec(R"sql(INSERT INTO app_stats (key, value) VALUES ('write_check', 0)
                                          ON CONFLICT(key) DO UPDATE SET value = value)sql");
    const QString why = write.lastError().text();
    write.finish();
    QSqlQuery(db).exec("ROLLBACK");
    if (!written) return fail("Registry write check failed: " + why);
    QTemporaryFile probe(projectsRoot() + "/.write-check-XXXXXX.tmp");
    if (!probe.open()) return fail("Could not write into the projects folder " + projectsRoot() + ": "
                                   + probe.errorString());
    return true;
}

QString ProjectStore::resolveAppDataDir() {
    const QString override = qEnvironmentVariable("KEEPFRAME_DATA_DIR");
    if (!override.isEmpty()) return QDir::cleanPath(override);
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool ProjectStore::registryOpen() const { return namedConnection(registryConnectionName_).isOpen(); }

bool ProjectStore::openRegistry() {
    appDataDir_ = resolveAppDataDir();
    if (appDataDir_.isEmpty()) return fail("Could not resolve a writable application data location.");
    if (!QDir().mkpath(appDataDir_)) return fail("Could not create app data folder: " + appDataDir_);
    const QString thumbs = appDataDir_ + "/thumbnails";
    if (!QDir().mkpath(thumbs)) return fail("Could not create thumbnails folder: " + thumbs);

    QSqlDatabase db = QSqlDatabase::contains(registryConnectionName_)
                          ? QSqlDatabase::database(registryConnectionName_, false)
                          : QSqlDatabase::addDatabase("QSQLITE", registryConnectionName_);
    const QString path = appDataDir_ + "/projects.db";
    db.setDatabaseName(path);
    if (!db.open()) return fail("Could not open registry DB (" + path + "): " + db.lastError().text());
    QSqlQuery pragma(db);
    pragma.exec("PRAGMA journal_mode = WAL;");
    pragma.exec("PRAGMA foreign_keys = ON;");

    // A registry that cannot be used is not left open: later operations
    // then say "Registry not open." instead of failing one by one.
    const QString projects = projectsRoot();
    if (!QDir().mkpath(projects)) {
        db.close();
        return fail("Could not create projects folder: " + projects);
    }
    if (!createRegistrySchema()) {
        db.close();
        return false;
    }
    removeAbandonedSaves();
    return true;
}

QString ProjectStore::saveLockPath(const QString& folderName) const {
    return projectsRoot() + "/." + folderName + ".saving";
}

namespace {

// True when the save that holds the lock at `path` has died: its lock can be
// taken (and is then removed). A lock that is not there tells nothing: the
// save may be about to take it.
bool saveDied(const QString& path) {
    if (!QFileInfo::exists(path)) return false;
    QLockFile lock(path);
    lock.setStaleLockTime(0);  // stale only when its process is gone, however long a save takes
    return lock.tryLock(0);
}

}  // namespace

void ProjectStore::removeAbandonedSaves() {
    QSqlDatabase db = namedConnection(registryConnectionName_);
    QSqlQuery q(db);
    q.prepare(R"sql(SELECT id, name, created_at FROM projects WHERE db_folder IS NULL OR db_folder = '')sql");
    if (!q.exec()) return;
    const QString cutoff = QDateTime::currentDateTime().addSecs(-kAbandonedSaveSeconds).toString(Qt::ISODate).left(19);
    QSqlQuery remove(db);
    remove.prepare("DELETE FROM projects WHERE id = ? AND (db_folder IS NULL OR db_folder = '')");
    while (q.next()) {
        const int id = q.value(0).toInt();
        // The folder the save was writing: its name is made from the row.
        const QString folderName = folderSlug(q.value(1).toString()) + "_p" + QString::number(id);
        if (q.value(2).toString() >= cutoff && !saveDied(saveLockPath(folderName))) continue;
        removeFolderTree(projectsRoot() + "/" + folderName);
        QFile::remove(saveLockPath(folderName));
        remove.bindValue(0, id);
        remove.exec();
    }
}

bool ProjectStore::createRegistrySchema() {
    QSqlDatabase db = namedConnection(registryConnectionName_);
    QSqlQuery q(db);
    if (!q.exec(kProjectsSchema)) return fail("registry schema: " + q.lastError().text());
    if (!q.exec(kStatsSchema)) return fail("registry schema (app_stats): " + q.lastError().text());
    if (q.exec(R"sql(SELECT value FROM app_stats WHERE key = 'seeded')sql") && q.next() && q.value(0).toLongLong() == 1)
        return true;

    // A library that predates the counters starts from its current totals, once.
    qint64 count = 0, images = 0;
    if (q.exec("SELECT COUNT(*), COALESCE(SUM(total_images),0) FROM projects") && q.next()) {
        count = q.value(0).toLongLong();
        images = q.value(1).toLongLong();
    }
    QSqlQuery insert(db);
    insert.prepare("INSERT OR REPLACE INTO app_stats (key, value) VALUES (?, ?)");
    for (const auto& [key, value] : {std::pair<QString, qint64>{"lifetime_projects", count},
                                     std::pair<QString, qint64>{"lifetime_culled_images", images},
                                     std::pair<QString, qint64>{"seeded", 1}}) {
        insert.bindValue(0, key);
        insert.bindValue(1, value);
        insert.exec();
    }
    return true;
}

QString ProjectStore::projectsRoot() const { return appDataDir_ + "/projects"; }

QString ProjectStore::folderOf(int projectId) const {
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("SELECT db_folder FROM projects WHERE id = ?");
    q.bindValue(0, projectId);
    if (q.exec() && q.next()) return q.value(0).toString();
    return {};
}

QString ProjectStore::currentDbFolder() const { return registryOpen() ? folderOf(currentProjectId_) : QString(); }

QString ProjectStore::projectPath(const QString& dbFolder) const {
    // Only a plain folder name directly below the projects folder is ever
    // joined: a stored "..", "a/b" or absolute path names nothing.
    return isChildName(dbFolder) ? projectsRoot() + "/" + dbFolder : QString();
}

QVariantList ProjectStore::listProjects() {
    lastError_.clear();
    if (!registryOpen()) {
        fail("Registry not open.");
        return {};
    }
    QSqlQuery q(namedConnection(registryConnectionName_));
    // A project whose save has not finished has no folder name yet and is not listed.
    if (!q.exec(R"sql(SELECT id, name, input_folder, created_at, last_opened_at,
                             total_images, engine_selected_count, source_available,
                             db_folder, cover_image_id, cull_time_seconds
                      FROM projects
                      WHERE db_folder IS NOT NULL AND db_folder <> ''
                      ORDER BY (last_opened_at IS NULL), last_opened_at DESC, id DESC)sql")) {
        lastError_ = "listProjects failed: " + q.lastError().text();
        return {};
    }
    QVariantList out;
    while (q.next()) {
        QVariantMap m;
        m["id"] = q.value(0).toInt();
        m["name"] = q.value(1).toString();
        m["inputFolder"] = q.value(2).toString();
        m["createdAt"] = q.value(3).toString();
        m["lastOpenedAt"] = q.value(4).isNull() ? QString() : q.value(4).toString();
        m["totalImages"] = q.value(5).toInt();
        m["engineSelectedCount"] = q.value(6).toInt();
        m["userSelectedCount"] = q.value(6).toInt();
        m["sourceAvailable"] = q.value(7).toInt() != 0;
        m["cullTimeSeconds"] = q.value(10).toInt();
        const QString folder = projectPath(q.value(8).toString());
        QString cover;
        if (!folder.isEmpty() && !q.value(9).isNull())
            cover = folder + "/thumbnails/" + QString::number(q.value(9).toLongLong()) + ".jpg";
        m["coverThumbPath"] = cover;
        m["coverThumbUrl"] = cover.isEmpty() ? QString() : QUrl::fromLocalFile(cover).toString();
        out.push_back(m);
    }
    if (readFailed(q, "listProjects")) return {};
    return out;
}

bool ProjectStore::renameProject(int projectId, const QString& newName) {
    if (!registryOpen()) return fail("Registry not open.");
    const QString oldFolder = folderOf(projectId);
    const QString newFolder = folderSlug(newName) + "_p" + QString::number(projectId);
    if (!oldFolder.isEmpty() && projectPath(oldFolder).isEmpty())
        return fail(QStringLiteral("renameProject failed: project %1 has an invalid db_folder.").arg(projectId));
    if (!oldFolder.isEmpty() && oldFolder != newFolder) {
        if (projectId == currentProjectId_) {
            closeProjectDb();
            currentProjectId_ = -1;
        }
        const QString from = projectPath(oldFolder), to = projectPath(newFolder);
        // The row follows the folder only when the folder really moved, so
        // db_folder never names a folder that is not there.
        if (QDir(from).exists() && !QDir().rename(from, to))
            return fail("renameProject failed: could not move " + from + " to " + to);
    }
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("UPDATE projects SET name = ?, db_folder = ? WHERE id = ?");
    q.bindValue(0, newName);
    q.bindValue(1, oldFolder.isEmpty() ? QVariant(QString()) : QVariant(newFolder));
    q.bindValue(2, projectId);
    if (!q.exec()) return fail("renameProject failed: " + q.lastError().text());
    return true;
}

bool ProjectStore::deleteProject(int projectId) {
    if (!registryOpen()) return fail("Registry not open.");
    const QString folder = folderOf(projectId);
    if (projectId == currentProjectId_) {
        closeProjectDb();
        currentProjectId_ = -1;
    }
    // Only the project's own folder goes, never what a link there points to;
    // the photographs are never touched.
    const QString path = projectPath(folder);
    if (!path.isEmpty()) removeFolderTree(path);
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("DELETE FROM projects WHERE id = ?");
    q.bindValue(0, projectId);
    if (!q.exec()) return fail("deleteProject failed: " + q.lastError().text());
    return true;
}

bool ProjectStore::setCoverImage(int projectId, int imageId) {
    if (!registryOpen()) return fail("Registry not open.");
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("UPDATE projects SET cover_image_id = ?, cover_is_user_set = 1 WHERE id = ?");
    q.bindValue(0, imageId);
    q.bindValue(1, projectId);
    if (!q.exec()) return fail("setCoverImage failed: " + q.lastError().text());
    return true;
}

bool ProjectStore::touchProject(int projectId) {
    if (!registryOpen()) return fail("Registry not open.");
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("UPDATE projects SET last_opened_at = ? WHERE id = ?");
    q.bindValue(0, nowIso());
    q.bindValue(1, projectId);
    if (!q.exec()) return fail("touchProject failed: " + q.lastError().text());
    return true;
}

void ProjectStore::bumpStat(const QString& key, qint64 delta) { addToStat(key, delta); }

bool ProjectStore::addToStat(const QString& key, qint64 delta) {
    if (!registryOpen() || delta == 0) return true;
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare(R"sql(INSERT INTO app_stats (key, value) VALUES (?, ?)
                    ON CONFLICT(key) DO UPDATE SET value = value + ?)sql");
    q.bindValue(0, key);
    q.bindValue(1, delta);
    q.bindValue(2, delta);
    if (!q.exec()) return fail("bumpStat(" + key + ") failed: " + q.lastError().text());
    return true;
}

qint64 ProjectStore::readStat(const QString& key) const {
    if (!registryOpen()) return 0;
    QSqlQuery q(namedConnection(registryConnectionName_));
    q.prepare("SELECT value FROM app_stats WHERE key = ?");
    q.bindValue(0, key);
    if (q.exec() && q.next()) return q.value(0).toLongLong();
    return 0;
}

qint64 ProjectStore::lifetimeStat(const char* key) {
    if (!registryOpen()) {
        fail("Registry not open.");
        return 0;
    }
    return readStat(key);
}

qint64 ProjectStore::lifetimeProjects() { return lifetimeStat("lifetime_projects"); }

qint64 ProjectStore::lifetimeCulledImages() { return lifetimeStat("lifetime_culled_images"); }

qint64 ProjectStore::lifetimeEnhancedImages() { return lifetimeStat("lifetime_enhanced_images"); }

void ProjectStore::purgeEditedOutputs() {
    const QDir root(projectsRoot());
    if (appDataDir_.isEmpty() || !root.exists()) return;
    for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const char* edited : {"/edited", "/edited_plus"}) removeFolderTree(root.filePath(sub) + edited);
    }
}

}  // namespace keepframe
