// Which host database a home uses: the SQLite file (default) or a
// PostgreSQL server that several backup hosts share, from section
// [Database] of the settings:
//   backend  = sqlite | postgresql
//   conninfo = host=... port=... dbname=... user=...   (no password)
//   passfile = password file of mode 0600 (relative: to the home);
//              unset: libpq's own (PGPASSFILE, ~/.pgpass)
#pragma once

#include <memory>
#include <string>

#include "hostruntime/HostDatabase.h"

namespace hostrt {

class Env;

constexpr const char* kDatabaseSection = "Database";
constexpr const char* kDatabaseBackendKey = "backend";
constexpr const char* kDatabaseConninfoKey = "conninfo";
constexpr const char* kDatabasePassfileKey = "passfile";
constexpr const char* kSqliteBackendName = "sqlite";
constexpr const char* kPostgresqlBackendName = "postgresql";

enum class DatabaseBackend { kSqlite, kPostgresql, kUnknown };

// The backend the settings of `env` name; kSqlite when none is named.
DatabaseBackend ConfiguredDatabaseBackend(Env* env);

// Opens the server database the settings name. An unknown backend is an
// error, never a silent fall-back to a file only this host sees.
std::unique_ptr<HostDatabase> OpenServerDatabase(Env* env, const std::string& home,
                                                 std::string* error);

}  // namespace hostrt
