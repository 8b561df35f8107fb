// The database schema, built by numbered migrations: each runs once, in
// order, inside one transaction with the row that records it, so that a
// database is always at one version and several instances starting together
// migrate it once.
#pragma once

#include <string>

namespace keepframe::gallery {

class Database;
class Log;

// The version a database reaches with this program's migrations.
int latestSchemaVersion();

// Applies the migrations the database lacks. Throws DbError when one fails
// (nothing of it is kept) or when the database is of a newer version than
// this program knows.
void migrate(Database& db, const Log& log);

// A value of the settings table, made once with `make` when missing; every
// instance reads the same value (the upload signing key lives here).
std::string sharedSetting(Database& db, const std::string& key, const std::string& madeIfMissing);

}  // namespace keepframe::gallery
