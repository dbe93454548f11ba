// Which host database a home uses: the SQLite file (default) or a
// PostgreSQL server that several backup hosts share, from section
// [Database] of the settings:
//   backend  = sqlite | postgresql
//   conninfo = host=... port=... dbname=... user=...   (no password)
//   passfile = password file of mode 0600 (relative: to the home);
//              unset: libpq's own (PGPASSFILE, ~/.pgpass)
// The SQLite file is [Host] databasePath, else <home>/host.db. The plug-in's
// environment and the host's own tools both go through this, so they always
// reach the same database.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hostruntime/HostDatabase.h"

namespace hostrt {

class Env;
class HostDatabaseAdmin;

constexpr const char* kDatabaseSection = "Database";
constexpr const char* kDatabaseBackendKey = "backend";
constexpr const char* kDatabaseConninfoKey = "conninfo";
constexpr const char* kDatabasePassfileKey = "passfile";
constexpr const char* kSqliteBackendName = "sqlite";
constexpr const char* kPostgresqlBackendName = "postgresql";
constexpr const char* kDatabasePathSection = "Host";
constexpr const char* kDatabasePathKey = "databasePath";
constexpr const char* kDefaultDatabaseFile = "host.db";

enum class DatabaseBackend { kSqlite, kPostgresql, kUnknown };

// Where a home's host database is.
struct DatabaseLocation {
  DatabaseBackend backend = DatabaseBackend::kSqlite;
  std::string backendName;  // as the settings write it
  std::string sqlitePath;   // the file (kSqlite)
  std::string conninfo;     // kPostgresql; never carries a password
  std::string passfile;     // kPostgresql; resolved against the home, or empty
};

// Reads one setting; false when it is not set.
using SettingReader = std::function<bool(const std::string& section,
                                         const std::string& key,
                                         std::string* value)>;

DatabaseLocation ConfiguredDatabaseLocation(const SettingReader& get,
                                            const std::string& home);
DatabaseLocation ConfiguredDatabaseLocation(Env* env, const std::string& home);

// The backend the settings of `env` name; kSqlite when none is named.
DatabaseBackend ConfiguredDatabaseBackend(Env* env);

// Opens (creating or upgrading its schema) the database at `where`. An
// unknown backend or an unreachable server is an error, never a silent
// fall-back to a file only this host sees.
std::unique_ptr<HostDatabase> OpenHostDatabase(const DatabaseLocation& where,
                                               std::string* error);

// Opens the server database the settings name.
std::unique_ptr<HostDatabase> OpenServerDatabase(Env* env, const std::string& home,
                                                 std::string* error);

// The administration side of a database OpenHostDatabase returned (every
// backend has one).
HostDatabaseAdmin* AdminOf(HostDatabase* db);

// For people: the file, or "postgresql <conninfo>".
std::string DescribeDatabase(const DatabaseLocation& where);

}  // namespace hostrt
