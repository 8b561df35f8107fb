// SQLite: one file in the data folder, in WAL mode so that readers never wait
// for the writer; a writer waits up to five seconds for another process's.
#include "db.h"

#include <sqlite3.h>

namespace keepframe::gallery {

namespace {

// "$1" -> "?1": SQLite's numbered parameters, the same positions.
std::string numberedParameters(std::string_view sql) {
    std::string out;
    out.reserve(sql.size());
    for (size_t i = 0; i < sql.size(); ++i) {
        const bool parameter = sql[i] == '$' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9';
        out += parameter ? '?' : sql[i];
    }
    return out;
}

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(const std::string& path) {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw DbError("cannot open " + path + ": " + why);
        }
        sqlite3_busy_timeout(db_, 5000);
        script(R"(PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;)");
    }
    ~SqliteConnection() override { sqlite3_close(db_); }

    Rows query(std::string_view sql, const std::vector<SqlValue>& params) override {
        const std::string text = numberedParameters(sql);
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_, text.c_str(), int(text.size()), &raw, nullptr) != SQLITE_OK) fail(text);
        const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);
        for (size_t i = 0; i < params.size(); ++i) {
            const int at = int(i) + 1;
            int rc = SQLITE_OK;
            if (const auto* n = std::get_if<int64_t>(&params[i])) {
                rc = sqlite3_bind_int64(raw, at, *n);
            } else if (const auto* s = std::get_if<std::string>(&params[i])) {
                rc = sqlite3_bind_text(raw, at, s->data(), int(s->size()), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_null(raw, at);
            }
            if (rc != SQLITE_OK) fail(text);
        }
        Rows rows;
        for (;;) {
            const int rc = sqlite3_step(raw);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) fail(text);
            Row row;
            const int columns = sqlite3_column_count(raw);
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(raw, c)) {
                case SQLITE_INTEGER: row.values.emplace_back(int64_t(sqlite3_column_int64(raw, c))); break;
                case SQLITE_NULL: row.values.emplace_back(nullptr); break;
                default: {
                    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
                    row.values.emplace_back(std::string(data ? data : "", size_t(sqlite3_column_bytes(raw, c))));
                }
                }
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    int64_t changes() override { return sqlite3_changes64(db_); }

    void script(std::string_view sql) override {
        char* error = nullptr;
        const std::string text(sql);
        if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : "unknown error";
            sqlite3_free(error);
            throw DbError("SQLite: " + why, isBusy());
        }
    }

    // IMMEDIATE takes the write lock at once, so that a transaction never
    // finds itself unable to write after it has read.
    void begin(bool write) override { script(write ? R"(BEGIN IMMEDIATE)" : R"(BEGIN)"); }

private:
    bool isBusy() const {
        const int code = sqlite3_errcode(db_) & 0xff;
        return code == SQLITE_BUSY || code == SQLITE_LOCKED;
    }
    [[noreturn]] void fail(const std::string& sql) const {
        throw DbError("SQLite: " + std::string(sqlite3_errmsg(db_)) + " in: " + sql.substr(0, 120), isBusy());
    }

    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const std::string& path) { return std::make_unique<SqliteConnection>(path); }

}  // namespace keepframe::gallery
