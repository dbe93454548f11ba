#include "hostruntime/DatabaseBackend.h"

#ifdef PZ_HAVE_POSTGRESQL
#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#endif

#include "hostruntime/Env.h"
#include "hostruntime/SqliteHostDatabase.h"
#ifdef PZ_HAVE_POSTGRESQL
#include "hostruntime/PgHostDatabase.h"
#endif

namespace hostrt {

bool HostDatabase::Reserve(const std::vector<Reservation>& request,
                           std::vector<bool>* granted, std::string* error) {
  std::vector<std::string> devices;
  if (!ReserveFirstFree(request, &devices, error)) return false;
  granted->clear();
  for (const std::string& d : devices) granted->push_back(!d.empty());
  return true;
}

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

#ifdef PZ_HAVE_POSTGRESQL
// Any object of this library: dladdr of its address names the file the
// runtime was loaded from.
const char kRuntimeAnchor = 0;

// The module's file beside the loaded runtime, or empty.
std::string ModuleBesideRuntime() {
  Dl_info info;
  if (!dladdr(&kRuntimeAnchor, &info) || !info.dli_fname) return std::string();
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1) + PZ_PG_MODULE_FILE;
}

// The PostgreSQL module's entry point, loaded on first use: from beside the
// runtime (build tree, any install prefix), else by its name through the
// loader's search (the packages' library directory). The module stays loaded
// for the life of the process; a failure is tried again on the next call.
PgModuleOpen LoadPgModule(std::string* error) {
  static std::mutex mu;
  static PgModuleOpen open = nullptr;
  std::lock_guard<std::mutex> lock(mu);
  if (open) return open;
  std::string why;
  void* handle = nullptr;
  std::string beside = ModuleBesideRuntime();
  if (!beside.empty() && access(beside.c_str(), F_OK) == 0) {
    // The module is there: what keeps it from loading (libpq missing, say)
    // is the answer, not a search elsewhere.
    handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    handle = dlopen(PZ_PG_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
  }
  if (handle) {
    open = reinterpret_cast<PgModuleOpen>(dlsym(handle, kPgModuleOpenSymbol));
    if (!open) why = dlerror();
  } else {
    why = dlerror();
  }
  if (!open && error)
    *error = std::string("PostgreSQL backend requested but the module ") + PZ_PG_MODULE_FILE +
             " cannot be loaded: " + why;
  return open;
}
#endif

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
      PgModuleOpen open = LoadPgModule(error);
      if (!open) return nullptr;
      PgConnectParams params;
      params.conninfo = where.conninfo;
      params.passfile = where.passfile;
      std::string why;
      std::unique_ptr<HostDatabase> db(open(&params, &why));
      if (!db && error) *error = why;
      return db;
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
