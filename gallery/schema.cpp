#include "schema.h"

#include "clock.h"
#include "db.h"
#include "log.h"

#include <vector>

namespace keepframe::gallery {

namespace {

struct Migration {
    int version;
    const char* sql;
};

// Times are seconds since 1970 (UTC); truth values are INTEGER 0 or 1. Every
// identifier is made by the service (crypto.h newId). Storage keys name a
// file's place below the storage folder: "<gallery>/<file>/<kind>.jpg", so that
// the renditions the gallery page will make (thumbnails in two sizes) sit
// beside their photograph.
const std::vector<Migration> kMigrations = {
    {1, R"sql(
CREATE TABLE settings (
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL);

CREATE TABLE photographers (
  id TEXT PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  token_hash TEXT NOT NULL UNIQUE,
  quota_bytes BIGINT NOT NULL,
  lifetime_galleries BIGINT NOT NULL DEFAULT 0,
  studio_name TEXT NOT NULL DEFAULT '',
  public_contact_phone TEXT NOT NULL DEFAULT '',
  term_ends_at BIGINT NOT NULL,
  revoked INTEGER NOT NULL DEFAULT 0,
  created_at BIGINT NOT NULL);

CREATE TABLE galleries (
  id TEXT PRIMARY KEY,
  photographer_id TEXT NOT NULL REFERENCES photographers(id),
  slug TEXT NOT NULL UNIQUE,
  title TEXT NOT NULL,
  password_hash TEXT NOT NULL,
  status TEXT NOT NULL,
  allow_download INTEGER NOT NULL,
  face_search INTEGER NOT NULL,
  cover_file_id TEXT,
  uploads_until BIGINT NOT NULL,
  created_at BIGINT NOT NULL);
CREATE INDEX galleries_by_owner ON galleries(photographer_id, created_at);

CREATE TABLE files (
  id TEXT PRIMARY KEY,
  gallery_id TEXT NOT NULL REFERENCES galleries(id) ON DELETE CASCADE,
  photographer_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  filename TEXT NOT NULL,
  kind TEXT NOT NULL,
  storage_key TEXT NOT NULL UNIQUE,
  declared_bytes BIGINT NOT NULL,
  stored_bytes BIGINT NOT NULL DEFAULT 0,
  state TEXT NOT NULL,
  width INTEGER NOT NULL DEFAULT 0,
  height INTEGER NOT NULL DEFAULT 0,
  created_at BIGINT NOT NULL);
CREATE INDEX files_by_gallery ON files(gallery_id, position);
CREATE INDEX files_by_owner ON files(photographer_id, state);

CREATE TABLE face_jobs (
  id TEXT PRIMARY KEY,
  gallery_id TEXT NOT NULL REFERENCES galleries(id) ON DELETE CASCADE,
  file_id TEXT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
  face_index INTEGER NOT NULL,
  crop_base64 TEXT NOT NULL,
  bbox_x INTEGER NOT NULL, bbox_y INTEGER NOT NULL, bbox_width INTEGER NOT NULL, bbox_height INTEGER NOT NULL,
  queued_at BIGINT NOT NULL,
  claimed_until BIGINT NOT NULL DEFAULT 0);
CREATE INDEX face_jobs_by_claim ON face_jobs(claimed_until, queued_at);

CREATE TABLE face_data (
  id TEXT PRIMARY KEY,
  gallery_id TEXT NOT NULL REFERENCES galleries(id) ON DELETE CASCADE,
  file_id TEXT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
  face_index INTEGER NOT NULL,
  bbox_x INTEGER NOT NULL, bbox_y INTEGER NOT NULL, bbox_width INTEGER NOT NULL, bbox_height INTEGER NOT NULL,
  embedding TEXT NOT NULL,
  created_at BIGINT NOT NULL);
CREATE INDEX face_data_by_gallery ON face_data(gallery_id);

CREATE TABLE sessions (
  key_hash TEXT PRIMARY KEY,
  gallery_id TEXT NOT NULL REFERENCES galleries(id) ON DELETE CASCADE,
  expires_at BIGINT NOT NULL);
CREATE INDEX sessions_by_gallery ON sessions(gallery_id);

CREATE TABLE login_attempts (
  gallery_id TEXT NOT NULL REFERENCES galleries(id) ON DELETE CASCADE,
  address TEXT NOT NULL,
  window_start BIGINT NOT NULL,
  attempts INTEGER NOT NULL,
  PRIMARY KEY (gallery_id, address));

CREATE TABLE topups (
  id TEXT PRIMARY KEY,
  photographer_id TEXT NOT NULL REFERENCES photographers(id),
  additional_gb INTEGER NOT NULL,
  remaining_months INTEGER NOT NULL,
  amount_rupees INTEGER NOT NULL,
  status TEXT NOT NULL,
  created_at BIGINT NOT NULL,
  expires_at BIGINT NOT NULL,
  settled_at BIGINT NOT NULL DEFAULT 0);
)sql"},
    // Counts every change of a gallery's face data, so that every instance
    // knows when the faces it holds in memory for searches are out of date.
    {2, R"sql(
ALTER TABLE galleries ADD COLUMN face_version BIGINT NOT NULL DEFAULT 0;
)sql"},
    // Whether the page's renditions of a file were made: 0 not yet, 1 made,
    // 2 they cannot be (the photograph itself is shown instead).
    {3, R"sql(
ALTER TABLE files ADD COLUMN renditions INTEGER NOT NULL DEFAULT 0;
)sql"},
};

}  // namespace

int latestSchemaVersion() { return kMigrations.back().version; }

void migrate(Database& db, const Log& log) {
    db.write([&](Connection& c) {
        if (db.dialect() == Dialect::PostgreSQL) {
            // Instances starting together migrate one after the other.
            c.query(R"(SELECT pg_advisory_xact_lock(7215531))");
        }
        c.script(R"sql(CREATE TABLE IF NOT EXISTS schema_migrations (
  version INTEGER PRIMARY KEY,
  applied_at BIGINT NOT NULL))sql");
        const Rows rows = c.query(R"(SELECT COALESCE(MAX(version), 0) FROM schema_migrations)");
        const int64_t current = rows.empty() ? 0 : rows[0].integer(0);
        if (current > latestSchemaVersion())
            throw DbError("the database is at schema version " + std::to_string(current) +
                          ", newer than this program's " + std::to_string(latestSchemaVersion()) +
                          "; use the newer keepframe-gallery");
        for (const Migration& m : kMigrations) {
            if (m.version <= current) continue;
            c.script(m.sql);
            c.query(R"(INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2))",
                    {int64_t(m.version), nowSeconds()});
            log.info("database: schema migrated to version " + std::to_string(m.version));
        }
    });
}

std::string sharedSetting(Database& db, const std::string& key, const std::string& madeIfMissing) {
    return db.write([&](Connection& c) {
        c.query(R"(INSERT INTO settings (key, value) VALUES ($1, $2) ON CONFLICT (key) DO NOTHING)",
                {key, madeIfMissing});
        return c.query(R"(SELECT value FROM settings WHERE key = $1)", {key}).at(0).text(0);
    });
}

}  // namespace keepframe::gallery
