#include "db.h"

#include "log.h"

namespace keepframe::gallery {

int64_t Row::integer(size_t i) const {
    const SqlValue& v = values.at(i);
    if (const auto* n = std::get_if<int64_t>(&v)) return *n;
    if (const auto* s = std::get_if<std::string>(&v)) {
        try {
            return std::stoll(*s);
        } catch (const std::exception&) {
            return 0;
        }
    }
    return 0;
}

std::string Row::text(size_t i) const {
    const SqlValue& v = values.at(i);
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
    return {};
}

std::unique_ptr<Database> Database::open(const std::string& url, const Log& log, int connections) {
    const bool postgres = url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
    std::unique_ptr<Database> db;
    if (postgres) {
        db.reset(new Database(Dialect::PostgreSQL, [url] { return openPostgres(url); }, connections));
    } else {
        db.reset(new Database(Dialect::SQLite, [url] { return openSqlite(url); }, connections));
    }
    // The first connection is opened now, so that a wrong address fails at start.
    db->read([](Connection& c) { c.query(R"(SELECT 1)"); });
    log.info(postgres ? "database: PostgreSQL" : "database: SQLite " + url);
    return db;
}

Database::Database(Dialect dialect, std::function<std::unique_ptr<Connection>()> connect, int connections)
    : dialect_(dialect), connect_(std::move(connect)), capacity_(std::max(1, connections)) {}

Database::~Database() = default;

std::string Database::forUpdate() const { return dialect_ == Dialect::PostgreSQL ? " FOR UPDATE" : ""; }

std::string Database::skipLocked() const {
    return dialect_ == Dialect::PostgreSQL ? " FOR UPDATE SKIP LOCKED" : "";
}

Database::Lease::Lease(Database& database, bool write) : db(database) {
    if (write && db.dialect_ == Dialect::SQLite) writer = std::unique_lock(db.writerMutex_);
    std::unique_lock lock(db.mutex_);
    db.returned_.wait(lock, [&] { return !db.idle_.empty() || db.created_ < db.capacity_; });
    if (!db.idle_.empty()) {
        connection = std::move(db.idle_.back());
        db.idle_.pop_back();
        return;
    }
    ++db.created_;
    lock.unlock();
    try {
        connection = db.connect_();
    } catch (...) {
        lock.lock();
        --db.created_;
        db.returned_.notify_one();
        throw;
    }
}

void Database::Lease::commit() {
    connection->query(R"(COMMIT)");
    open = false;
}

void Database::Lease::begin() {
    connection->begin(true);
    open = true;
}

Database::Lease::~Lease() {
    if (open) {
        try {
            connection->query(R"(ROLLBACK)");
        } catch (const DbError&) {
            connection.reset();  // a connection in an unknown state is not lent again
        }
    }
    std::lock_guard lock(db.mutex_);
    if (connection && connection->healthy()) {
        db.idle_.push_back(std::move(connection));
    } else {
        --db.created_;
    }
    db.returned_.notify_one();
}

}  // namespace keepframe::gallery
