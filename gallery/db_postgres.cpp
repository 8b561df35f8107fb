// PostgreSQL through libpq: parameters travel as text beside the statement
// (never spliced into it), answers come back as text and are typed by their
// column's type.
#include "db.h"

#include <libpq-fe.h>

namespace keepframe::gallery {

namespace {

// Type numbers of PostgreSQL's catalogue (pg_type.oid) read as integers.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23;

class PostgresConnection : public Connection {
public:
    explicit PostgresConnection(const std::string& url) : conn_(PQconnectdb(url.c_str())) {
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
            PQfinish(conn_);
            conn_ = nullptr;
            throw DbError("cannot connect to PostgreSQL: " + why);
        }
        script("SET client_min_messages = warning");
    }
    ~PostgresConnection() override { PQfinish(conn_); }

    Rows query(std::string_view sql, const std::vector<SqlValue>& params) override {
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        for (size_t i = 0; i < params.size(); ++i) {
            if (const auto* n = std::get_if<int64_t>(&params[i])) {
                texts[i] = std::to_string(*n);
                values[i] = texts[i].c_str();
            } else if (const auto* s = std::get_if<std::string>(&params[i])) {
                values[i] = s->c_str();
            }
        }
        const std::string text(sql);
        PGresult* raw = PQexecParams(conn_, text.c_str(), int(params.size()), nullptr, values.data(), nullptr,
                                     nullptr, 0);
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(raw, &PQclear);
        const ExecStatusType status = PQresultStatus(raw);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) fail(raw, text);
        const char* affected = PQcmdTuples(raw);
        changes_ = affected && *affected ? std::stoll(affected) : 0;
        Rows rows;
        const int columns = PQnfields(raw);
        for (int r = 0; r < PQntuples(raw); ++r) {
            Row row;
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(raw, r, c)) {
                    row.values.emplace_back(nullptr);
                    continue;
                }
                const char* cell = PQgetvalue(raw, r, c);
                const Oid type = PQftype(raw, c);
                if (type == kBool) {
                    row.values.emplace_back(int64_t(cell[0] == 't'));
                } else if (type == kInt8 || type == kInt4 || type == kInt2) {
                    row.values.emplace_back(int64_t(std::stoll(cell)));
                } else {
                    row.values.emplace_back(std::string(cell, size_t(PQgetlength(raw, r, c))));
                }
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    int64_t changes() override { return changes_; }

    void script(std::string_view sql) override {
        const std::string text(sql);
        PGresult* raw = PQexec(conn_, text.c_str());
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(raw, &PQclear);
        const ExecStatusType status = PQresultStatus(raw);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) fail(raw, text);
    }

    void begin(bool) override { script(R"(BEGIN)"); }

    bool healthy() override { return PQstatus(conn_) == CONNECTION_OK; }

private:
    [[noreturn]] void fail(PGresult* result, const std::string& sql) const {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state ? state : "";
        // Serialization failure, deadlock, lock not available: the transaction may be run again.
        const bool busy = code == "40001" || code == "40P01" || code == "55P03";
        throw DbError("PostgreSQL: " + std::string(PQerrorMessage(conn_)) + " in: " + sql.substr(0, 120), busy);
    }

    PGconn* conn_ = nullptr;
    int64_t changes_ = 0;
};

}  // namespace

std::unique_ptr<Connection> openPostgres(const std::string& url) { return std::make_unique<PostgresConnection>(url); }

}  // namespace keepframe::gallery
