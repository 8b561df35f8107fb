#include "admin.h"

#include "clock.h"
#include "config.h"
#include "crypto.h"
#include "db.h"
#include "number_text.h"

#include <stdexcept>

namespace keepframe::gallery {

namespace {

bool usableName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32 || c == 127) return false;
    return true;
}

// "12.50 GB": machine-independent decimals.
std::string gigabytes(int64_t bytes) { return fixedText(double(bytes) / double(kGiB), 2) + " GB"; }

// A whole number of gigabytes from the command line; nothing for anything else.
std::optional<int64_t> parseGigabytes(const std::string& text) {
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(text) * kGiB;
}

const char* const kAdminUsage = R"(usage: keepframe-gallery admin [--data DIR | --database URL] COMMAND
  add NAME [--quota-gb N]     adds a photographer and prints their token (shown only once)
  list                        photographers with their quota, use and galleries
  set-quota NAME GB           sets a photographer's quota
  revoke NAME                 ends a photographer's access (galleries stay online)
  new-token NAME              replaces a photographer's token and prints the new one
  topups                      storage top-ups waiting for approval
  approve-topup ID            the payment arrived: adds the storage to the quota
  expire-topup ID             ends a top-up without payment
)";

}  // namespace

std::string addPhotographer(Database& db, const std::string& name, int64_t quotaBytes, int termMonths) {
    if (!usableName(name)) throw std::runtime_error("a photographer's name has 1 to 64 printable characters");
    const std::string token = newToken();
    db.write([&](Connection& c) {
        if (!c.query(R"(SELECT 1 FROM photographers WHERE name = $1)", {name}).empty())
            throw std::runtime_error("a photographer named \"" + name + "\" exists already");
        const int64_t now = nowSeconds();
        c.query(R"(INSERT INTO photographers (id, name, token_hash, quota_bytes, term_ends_at, created_at)
                VALUES ($1, $2, $3, $4, $5, $6))",
                {newId("p_"), name, sha256Hex(token), quotaBytes, now + int64_t(termMonths) * 30 * 86400, now});
    });
    return token;
}

std::vector<PhotographerInfo> listPhotographers(Database& db) {
    const Rows rows = db.read([](Connection& c) {
        return c.query(R"sql(
SELECT p.id, p.name, p.quota_bytes, p.revoked,
       (SELECT COALESCE(SUM(f.stored_bytes), 0) FROM files f WHERE f.photographer_id = p.id AND f.state <> 'pending'),
       (SELECT COUNT(*) FROM galleries g WHERE g.photographer_id = p.id)
FROM photographers p ORDER BY p.name)sql");
    });
    std::vector<PhotographerInfo> list;
    for (const Row& r : rows)
        list.push_back({r.text(0), r.text(1), r.integer(2), r.integer(4), r.integer(5), r.integer(3) != 0});
    return list;
}

bool revokePhotographer(Database& db, const std::string& name) {
    return db.write([&](Connection& c) {
        c.query(R"(UPDATE photographers SET revoked = 1 WHERE name = $1)", {name});
        return c.changes() == 1;
    });
}

bool setQuota(Database& db, const std::string& name, int64_t quotaBytes) {
    return db.write([&](Connection& c) {
        c.query(R"(UPDATE photographers SET quota_bytes = $1 WHERE name = $2)", {quotaBytes, name});
        return c.changes() == 1;
    });
}

std::optional<std::string> renewToken(Database& db, const std::string& name) {
    const std::string token = newToken();
    const bool done = db.write([&](Connection& c) {
        c.query(R"(UPDATE photographers SET token_hash = $1, revoked = 0 WHERE name = $2)", {sha256Hex(token), name});
        return c.changes() == 1;
    });
    return done ? std::optional(token) : std::nullopt;
}

std::string settleTopup(Database& db, const std::string& topupId, bool paid) {
    return db.write([&](Connection& c) -> std::string {
        const Rows rows = c.query(R"(SELECT photographer_id, additional_gb, status FROM topups WHERE id = $1)" +
                                      db.forUpdate(),
                                  {topupId});
        if (rows.empty()) return "no top-up " + topupId;
        if (rows[0].text(2) != "pending") return "top-up " + topupId + " is " + rows[0].text(2) + " already";
        c.query(R"(UPDATE topups SET status = $1, settled_at = $2 WHERE id = $3)",
                {std::string(paid ? "paid" : "expired"), nowSeconds(), topupId});
        if (paid)
            c.query(R"(UPDATE photographers SET quota_bytes = quota_bytes + $1 WHERE id = $2)",
                    {rows[0].integer(1) * kGiB, rows[0].text(0)});
        return {};
    });
}

int runAdmin(Database& db, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto usage = [&](const std::string& problem) {
        if (!problem.empty()) err << "keepframe-gallery admin: " << problem << "\n";
        err << kAdminUsage;
        return 2;
    };
    if (args.empty()) return usage("");
    const std::string& command = args[0];
    auto needs = [&](size_t count) { return args.size() == count + 1; };
    if (command == "add") {
        int64_t quota = GalleryConfig{}.defaultQuotaBytes;
        if (args.size() == 4 && args[2] == "--quota-gb") {
            const auto gb = parseGigabytes(args[3]);
            if (!gb) return usage("--quota-gb takes a whole number of gigabytes");
            quota = *gb;
        } else if (!needs(1)) {
            return usage("add takes a name and optionally --quota-gb N");
        }
        try {
            const std::string token = addPhotographer(db, args[1], quota, GalleryConfig{}.termMonths);
            out << "photographer \"" << args[1] << "\" added with " << gigabytes(quota) << "\n"
                << "token (shown only now; paste it into the Account page): " << token << "\n";
            return 0;
        } catch (const std::runtime_error& e) {
            err << "keepframe-gallery admin: " << e.what() << "\n";
            return 1;
        }
    }
    if (command == "list" && needs(0)) {
        for (const PhotographerInfo& p : listPhotographers(db))
            out << p.name << "\t" << gigabytes(p.usedBytes) << " of " << gigabytes(p.quotaBytes) << "\t"
                << p.galleries << " galleries" << (p.revoked ? "\trevoked" : "") << "\n";
        return 0;
    }
    if (command == "set-quota" && needs(2)) {
        const auto gb = parseGigabytes(args[2]);
        if (!gb) return usage("set-quota takes a whole number of gigabytes");
        if (!setQuota(db, args[1], *gb)) {
            err << "keepframe-gallery admin: no photographer \"" << args[1] << "\"\n";
            return 1;
        }
        out << "quota of \"" << args[1] << "\" set to " << gigabytes(*gb) << "\n";
        return 0;
    }
    if (command == "revoke" && needs(1)) {
        if (!revokePhotographer(db, args[1])) {
            err << "keepframe-gallery admin: no photographer \"" << args[1] << "\"\n";
            return 1;
        }
        out << "\"" << args[1] << "\" can no longer sign in; their galleries stay online\n";
        return 0;
    }
    if (command == "new-token" && needs(1)) {
        const auto token = renewToken(db, args[1]);
        if (!token) {
            err << "keepframe-gallery admin: no photographer \"" << args[1] << "\"\n";
            return 1;
        }
        out << "new token of \"" << args[1] << "\" (shown only now): " << *token << "\n";
        return 0;
    }
    if (command == "topups" && needs(0)) {
        const Rows rows = db.read([](Connection& c) {
            return c.query(R"(SELECT t.id, p.name, t.additional_gb, t.amount_rupees, t.created_at FROM topups t
                           JOIN photographers p ON p.id = t.photographer_id WHERE t.status = 'pending'
                           AND t.expires_at >= $1 ORDER BY t.created_at)",
                           {nowSeconds()});
        });
        for (const Row& r : rows)
            out << r.text(0) << "\t" << r.text(1) << "\t" << r.integer(2) << " GB\tINR " << r.integer(3) << "\t"
                << isoUtc(r.integer(4)) << "\n";
        return 0;
    }
    if ((command == "approve-topup" || command == "expire-topup") && needs(1)) {
        const std::string problem = settleTopup(db, args[1], command == "approve-topup");
        if (!problem.empty()) {
            err << "keepframe-gallery admin: " << problem << "\n";
            return 1;
        }
        out << "top-up " << args[1] << (command == "approve-topup" ? " approved" : " expired") << "\n";
        return 0;
    }
    return usage("unknown command or wrong arguments: " + command);
}

}  // namespace keepframe::gallery
