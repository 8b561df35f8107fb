// The service's database, one interface over two engines: SQLite in the data
// folder (the default: one process, WAL, one writer at a time) and PostgreSQL
// (several service instances share it). Statements are written once, with $1,
// $2, … parameters and types both engines read alike (TEXT, BIGINT, INTEGER
// used as 0/1 for truth values); dialect() names what differs (row locks).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace keepframe::gallery {

class Log;

using SqlValue = std::variant<std::nullptr_t, int64_t, std::string>;

struct Row {
    std::vector<SqlValue> values;
    bool isNull(size_t i) const { return std::holds_alternative<std::nullptr_t>(values.at(i)); }
    // An integer column (0 for NULL).
    int64_t integer(size_t i) const;
    // A text column ("" for NULL).
    std::string text(size_t i) const;
};
using Rows = std::vector<Row>;

// A statement failed. `busy` when the database was locked or a transaction
// conflicted with another (the request may be tried again).
class DbError : public std::runtime_error {
public:
    DbError(const std::string& what, bool busy = false) : std::runtime_error(what), busy_(busy) {}
    bool busy() const { return busy_; }

private:
    bool busy_;
};

enum class Dialect { SQLite, PostgreSQL };

// One open connection. Not shared between threads: the pool lends it to one at a time.
class Connection {
public:
    virtual ~Connection() = default;
    // Runs one statement with its parameters; the rows it returns. Throws DbError.
    virtual Rows query(std::string_view sql, const std::vector<SqlValue>& params = {}) = 0;
    // The number of rows the last statement changed.
    virtual int64_t changes() = 0;
    // Several statements without parameters (schema changes).
    virtual void script(std::string_view sql) = 0;
    virtual void begin(bool write) = 0;
    // False once the connection was lost: it is closed instead of lent again.
    virtual bool healthy() { return true; }
};

class Database {
public:
    // `url` "postgresql://…" (or "postgres://…") opens PostgreSQL, anything
    // else is the path of an SQLite file, created when missing. Throws DbError
    // when the database cannot be opened.
    static std::unique_ptr<Database> open(const std::string& url, const Log& log, int connections = 8);
    virtual ~Database();

    Dialect dialect() const { return dialect_; }
    // " FOR UPDATE" where rows are locked one by one (PostgreSQL); SQLite
    // locks the whole database for a writing transaction instead.
    std::string forUpdate() const;
    // " FOR UPDATE SKIP LOCKED": claim rows no other transaction holds.
    std::string skipLocked() const;

    // `work` with a connection in autocommit mode.
    template <class F>
    auto read(F&& work) {
        Lease lease(*this, false);
        return work(*lease.connection);
    }
    // `work` inside one transaction, committed when it returns and rolled back
    // when it throws. A transaction that lost a conflict is run again (up to
    // three times) before its DbError reaches the caller.
    template <class F>
    auto write(F&& work) {
        for (int attempt = 1;; ++attempt) {
            try {
                Lease lease(*this, true);
                lease.begin();
                if constexpr (std::is_void_v<decltype(work(*lease.connection))>) {
                    work(*lease.connection);
                    lease.commit();
                    return;
                } else {
                    auto result = work(*lease.connection);
                    lease.commit();
                    return result;
                }
            } catch (const DbError& e) {
                if (!e.busy() || attempt >= 3) throw;
            }
        }
    }

private:
    Database(Dialect dialect, std::function<std::unique_ptr<Connection>()> connect, int connections);

private:
    // A connection borrowed from the pool for one piece of work; a
    // transaction left open is rolled back when the lease ends.
    struct Lease {
        Lease(Database& db, bool write);
        ~Lease();
        void begin();
        void commit();
        Database& db;
        std::unique_ptr<Connection> connection;
        std::unique_lock<std::mutex> writer;
        bool open = false;
    };

    Dialect dialect_;
    std::function<std::unique_ptr<Connection>()> connect_;
    int capacity_;
    int created_ = 0;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::mutex mutex_;
    std::condition_variable returned_;
    // SQLite has one writer: this process's writing transactions queue here
    // rather than spin on the database lock (other processes are waited for
    // by the busy timeout).
    std::mutex writerMutex_;
};

std::unique_ptr<Connection> openSqlite(const std::string& path);
std::unique_ptr<Connection> openPostgres(const std::string& url);

}  // namespace keepframe::gallery
