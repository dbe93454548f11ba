#include "hostruntime/DatabaseBackend.h"

#include "hostruntime/Env.h"
#include "hostruntime/SqliteHostDatabase.h"
#ifdef PZ_HAVE_POSTGRESQL
#include "hostruntime/PgHostDatabase.h"
#endif

namespace hostrt {

namespace {

// One pair of double quotes around a value is dropped: connection strings
// are often written quoted.
std::string Setting(const SettingReader& get, const char* section, const char* key) {
  std::string value;
  if (!get(section, key, &value)) value.clear();
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

SettingReader ReaderOf(Env* env) {
  return [env](const std::string& section, const std::string& key, std::string* value) {
    return env->GetSetting(section, key, value);
  };
}

}  // namespace

DatabaseLocation ConfiguredDatabaseLocation(const SettingReader& get,
                                            const std::string& home) {
  DatabaseLocation where;
  where.backendName = Setting(get, kDatabaseSection, kDatabaseBackendKey);
  if (where.backendName.empty() || where.backendName == kSqliteBackendName)
    where.backend = DatabaseBackend::kSqlite;
  else if (where.backendName == kPostgresqlBackendName)
    where.backend = DatabaseBackend::kPostgresql;
  else
    where.backend = DatabaseBackend::kUnknown;
  where.sqlitePath = Setting(get, kDatabasePathSection, kDatabasePathKey);
  if (where.sqlitePath.empty()) where.sqlitePath = home + "/" + kDefaultDatabaseFile;
  where.conninfo = Setting(get, kDatabaseSection, kDatabaseConninfoKey);
  where.passfile = Setting(get, kDatabaseSection, kDatabasePassfileKey);
  if (!where.passfile.empty() && where.passfile[0] != '/')
    where.passfile = home + "/" + where.passfile;
  return where;
}

DatabaseLocation ConfiguredDatabaseLocation(Env* env, const std::string& home) {
  return ConfiguredDatabaseLocation(ReaderOf(env), home);
}

DatabaseBackend ConfiguredDatabaseBackend(Env* env) {
  return ConfiguredDatabaseLocation(env, std::string()).backend;
}

std::unique_ptr<HostDatabase> OpenHostDatabase(const DatabaseLocation& where,
                                               std::string* error) {
  switch (where.backend) {
    case DatabaseBackend::kSqlite:
      return SqliteHostDatabase::Open(where.sqlitePath, error);
    case DatabaseBackend::kPostgresql: {
#ifdef PZ_HAVE_POSTGRESQL
      PgConnectParams params;
      params.conninfo = where.conninfo;
      params.passfile = where.passfile;
      return PgHostDatabase::Open(params, error);
#else
      if (error) *error = "this host was built without PostgreSQL support";
      return nullptr;
#endif
    }
    case DatabaseBackend::kUnknown:
      break;
  }
  if (error)
    *error = "unknown host database backend \"" + where.backendName + "\" (expected " +
             kSqliteBackendName + " or " + kPostgresqlBackendName + ")";
  return nullptr;
}

std::unique_ptr<HostDatabase> OpenServerDatabase(Env* env, const std::string& home,
                                                 std::string* error) {
  DatabaseLocation where = ConfiguredDatabaseLocation(env, home);
  if (where.backend == DatabaseBackend::kSqlite) where.backend = DatabaseBackend::kUnknown;
  return OpenHostDatabase(where, error);
}

HostDatabaseAdmin* AdminOf(HostDatabase* db) {
  return dynamic_cast<HostDatabaseAdmin*>(db);
}

std::string DescribeDatabase(const DatabaseLocation& where) {
  switch (where.backend) {
    case DatabaseBackend::kSqlite:
      return where.sqlitePath;
    case DatabaseBackend::kPostgresql:
      return std::string(kPostgresqlBackendName) + " " + where.conninfo;
    case DatabaseBackend::kUnknown:
      break;
  }
  return where.backendName + " (unknown backend)";
}

}  // namespace hostrt
