#include "simulator/state/StateDb.h"

#include <sys/stat.h>

namespace symsim {

namespace {

constexpr int kBusyTimeoutMs = 120000;

const char kSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS arrays(serial TEXT PRIMARY KEY, model TEXT NOT NULL,
  microcode TEXT NOT NULL, snap_limit INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS devices(serial TEXT NOT NULL, dev INTEGER NOT NULL,
  cylinders INTEGER NOT NULL, thin INTEGER NOT NULL, mapped INTEGER NOT NULL,
  PRIMARY KEY(serial, dev));
CREATE TABLE IF NOT EXISTS sgs(serial TEXT NOT NULL, name TEXT NOT NULL,
  created INTEGER NOT NULL, PRIMARY KEY(serial, name));
CREATE TABLE IF NOT EXISTS sg_children(serial TEXT NOT NULL, parent TEXT NOT NULL,
  child TEXT NOT NULL, PRIMARY KEY(serial, parent, child));
CREATE TABLE IF NOT EXISTS sg_devices(serial TEXT NOT NULL, sg TEXT NOT NULL,
  dev INTEGER NOT NULL, PRIMARY KEY(serial, sg, dev));
CREATE INDEX IF NOT EXISTS sg_devices_dev ON sg_devices(serial, dev);
CREATE TABLE IF NOT EXISTS pgs(serial TEXT NOT NULL, name TEXT NOT NULL,
  PRIMARY KEY(serial, name));
CREATE TABLE IF NOT EXISTS pg_ports(serial TEXT NOT NULL, pg TEXT NOT NULL,
  port TEXT NOT NULL, PRIMARY KEY(serial, pg, port));
CREATE TABLE IF NOT EXISTS igs(serial TEXT NOT NULL, name TEXT NOT NULL,
  created INTEGER NOT NULL, PRIMARY KEY(serial, name));
CREATE TABLE IF NOT EXISTS ig_initiators(serial TEXT NOT NULL, ig TEXT NOT NULL,
  name TEXT NOT NULL, type INTEGER NOT NULL, PRIMARY KEY(serial, ig, name));
CREATE TABLE IF NOT EXISTS views(serial TEXT NOT NULL, name TEXT NOT NULL,
  ig TEXT NOT NULL, pg TEXT NOT NULL, sg TEXT NOT NULL, created INTEGER NOT NULL,
  PRIMARY KEY(serial, name));
CREATE TABLE IF NOT EXISTS snapshots(id INTEGER PRIMARY KEY AUTOINCREMENT,
  serial TEXT NOT NULL, dev INTEGER NOT NULL, name TEXT NOT NULL,
  created INTEGER NOT NULL, failed INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS snapshots_dev ON snapshots(serial, dev, name);
CREATE TABLE IF NOT EXISTS links(serial TEXT NOT NULL, target INTEGER NOT NULL,
  snap_id INTEGER NOT NULL, copy INTEGER NOT NULL, created INTEGER NOT NULL,
  listings INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(serial, target));
CREATE TABLE IF NOT EXISTS restores(serial TEXT NOT NULL, dev INTEGER NOT NULL,
  snap_id INTEGER NOT NULL, started INTEGER NOT NULL,
  listings INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(serial, dev));
CREATE TABLE IF NOT EXISTS hosts(name TEXT PRIMARY KEY, esx INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS host_initiators(host TEXT NOT NULL, name TEXT NOT NULL,
  type INTEGER NOT NULL, PRIMARY KEY(host, name));
CREATE TABLE IF NOT EXISTS host_devices(host TEXT NOT NULL, path TEXT NOT NULL,
  serial TEXT NOT NULL, dev INTEGER NOT NULL, PRIMARY KEY(host, path));
CREATE TABLE IF NOT EXISTS faults(id INTEGER PRIMARY KEY AUTOINCREMENT,
  nth INTEGER NOT NULL, pattern TEXT NOT NULL, exit_code INTEGER NOT NULL,
  message TEXT NOT NULL, hang_seconds INTEGER NOT NULL, remaining INTEGER NOT NULL,
  phase TEXT NOT NULL, hits INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS audit(id INTEGER PRIMARY KEY AUTOINCREMENT,
  started_us INTEGER NOT NULL, tool TEXT NOT NULL, args TEXT NOT NULL,
  file_content TEXT NOT NULL DEFAULT '', exit_code INTEGER,
  duration_ms REAL, output TEXT NOT NULL DEFAULT '', error TEXT NOT NULL DEFAULT '',
  fault INTEGER);
)SQL";

}  // namespace

std::string StatePath(const std::string& worldDir) {
  return worldDir + "/symsim.db";
}
std::string BinDir(const std::string& worldDir) { return worldDir + "/bin"; }

Stmt::Stmt(sqlite3* db, const char* sql) : SqliteStatement(db, sql) {
  if (!ok())
    throw DbError(std::string("prepare failed: ") + sqlite3_errmsg(db) + " in: " + sql);
}

bool Stmt::Step() {
  int rc = SqliteStatement::Step();
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw DbError(std::string("step failed: ") + sqlite3_errmsg(db()));
}

void Stmt::Run() {
  while (Step()) {
  }
}

std::unique_ptr<StateDb> StateDb::Open(const std::string& worldDir,
                                       bool create, std::string* error) {
  std::string path = StatePath(worldDir);
  struct stat st;
  if (!create && stat(path.c_str(), &st) != 0) {
    if (error) *error = "no simulated world in " + worldDir + " (" + path + " missing)";
    return nullptr;
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
              (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    if (error) *error = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // A simulated world needs no durability against power loss: no syncs,
  // and the write-ahead log stays when the last tool process closes it
  // (checkpointing on every close would cost each invocation a sync).
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  int persist = 1;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  std::unique_ptr<StateDb> state(new StateDb(db));
  try {
    state->Exec("PRAGMA synchronous=OFF");
    if (create) {
      state->Exec("PRAGMA journal_mode=WAL");
      state->Begin();
      state->Exec(kSchema);
      state->Commit();
    }
  } catch (const DbError& e) {
    if (error) *error = e.what();
    return nullptr;
  }
  return state;
}

StateDb::~StateDb() { sqlite3_close(db_); }

void StateDb::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DbError(text);
  }
}

void StateDb::Begin() { Exec("BEGIN IMMEDIATE"); }
void StateDb::Commit() { Exec("COMMIT"); }
void StateDb::Rollback() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}
int64_t StateDb::LastId() { return sqlite3_last_insert_rowid(db_); }
int StateDb::Changes() { return sqlite3_changes(db_); }

std::string StateDb::Setting(const std::string& key,
                             const std::string& fallback) {
  Stmt s(db_, "SELECT value FROM settings WHERE key=?");
  s.Bind(1, key);
  return s.Step() ? s.Text(0) : fallback;
}

int64_t StateDb::IntSetting(const std::string& key, int64_t fallback) {
  std::string value = Setting(key, "");
  if (value.empty()) return fallback;
  try {
    return std::stoll(value);
  } catch (...) {
    return fallback;
  }
}

void StateDb::SetSetting(const std::string& key, const std::string& value) {
  Stmt s(db_, "INSERT INTO settings(key, value) VALUES(?, ?) "
              "ON CONFLICT(key) DO UPDATE SET value=excluded.value");
  s.Bind(1, key).Bind(2, value).Run();
}

Transaction::~Transaction() {
  if (!done_) db_->Rollback();
}

void Transaction::Commit() {
  db_->Commit();
  done_ = true;
}

}  // namespace symsim
