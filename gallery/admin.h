// The administration of a gallery service: photographers (each with a token
// shown once and stored only as its digest, and a quota) and storage top-ups.
// The same functions serve `keepframe-gallery admin …` and the first start of
// scripts/gallery.sh.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace keepframe::gallery {

class Database;

struct PhotographerInfo {
    std::string id, name;
    int64_t quotaBytes = 0, usedBytes = 0;
    int64_t galleries = 0;
    bool revoked = false;
};

// Adds a photographer; their token (shown only now). Throws std::runtime_error
// when the name is taken or not usable (1 to 64 printable characters).
std::string addPhotographer(Database& db, const std::string& name, int64_t quotaBytes, int termMonths);
std::vector<PhotographerInfo> listPhotographers(Database& db);
// False when there is no photographer of that name.
bool revokePhotographer(Database& db, const std::string& name);
bool setQuota(Database& db, const std::string& name, int64_t quotaBytes);
// A new token for the photographer (the old one stops working); nothing when unknown.
std::optional<std::string> renewToken(Database& db, const std::string& name);
// Settles a pending top-up: "paid" adds its storage to the quota, "expired"
// ends it. Why it could not (unknown, already settled); empty when done.
std::string settleTopup(Database& db, const std::string& topupId, bool paid);

// `keepframe-gallery admin COMMAND …` on an open database; the exit code.
int runAdmin(Database& db, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace keepframe::gallery
