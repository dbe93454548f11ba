#include "hostruntime/DatabaseBackend.h"

#include "hostruntime/Env.h"
#ifdef PZ_HAVE_POSTGRESQL
#include "hostruntime/PgHostDatabase.h"
#endif

namespace hostrt {

namespace {

// One pair of double quotes around a value is dropped: connection strings
// are often written quoted.
std::string Setting(Env* env, const char* key) {
  std::string value;
  if (!env->GetSetting(kDatabaseSection, key, &value)) value.clear();
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

DatabaseBackend ConfiguredDatabaseBackend(Env* env) {
  std::string name = Setting(env, kDatabaseBackendKey);
  if (name.empty() || name == kSqliteBackendName) return DatabaseBackend::kSqlite;
  if (name == kPostgresqlBackendName) return DatabaseBackend::kPostgresql;
  return DatabaseBackend::kUnknown;
}

std::unique_ptr<HostDatabase> OpenServerDatabase(Env* env, const std::string& home,
                                                 std::string* error) {
  if (ConfiguredDatabaseBackend(env) != DatabaseBackend::kPostgresql) {
    if (error)
      *error = "unknown host database backend \"" + Setting(env, kDatabaseBackendKey) +
               "\" (expected " + kSqliteBackendName + " or " + kPostgresqlBackendName + ")";
    return nullptr;
  }
#ifdef PZ_HAVE_POSTGRESQL
  PgConnectParams params;
  params.conninfo = Setting(env, kDatabaseConninfoKey);
  params.passfile = Setting(env, kDatabasePassfileKey);
  if (!params.passfile.empty() && params.passfile[0] != '/')
    params.passfile = home + "/" + params.passfile;
  return PgHostDatabase::Open(params, error);
#else
  (void)home;
  if (error) *error = "this host was built without PostgreSQL support";
  return nullptr;
#endif
}

}  // namespace hostrt
