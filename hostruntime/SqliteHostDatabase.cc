#include "hostruntime/SqliteHostDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "hostruntime/Env.h"
#include "hostruntime/SecretCodec.h"

namespace hostrt {

namespace {

constexpr mode_t kDatabaseMode = 0600;

// Schema steps: step i brings a database from version i to version i + 1.
const char* const kUpgradeSteps[] = {
    // 0 -> 1: arrays, array details and reservations.
    "CREATE TABLE IF NOT EXISTS array_info("
    "  serial TEXT PRIMARY KEY, record TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS array_details("
    "  array_number INTEGER PRIMARY KEY, array_name TEXT NOT NULL,"
    "  control_host TEXT NOT NULL, user_name TEXT NOT NULL,"
    "  encoded_password TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reservations("
    "  array TEXT NOT NULL, target TEXT NOT NULL, source TEXT NOT NULL,"
    "  sm_snap_id INTEGER NOT NULL, job_id INTEGER NOT NULL,"
    "  UNIQUE(array, target));",
    // 1 -> 2: the time a reservation was granted, for finding stale ones.
    "ALTER TABLE reservations ADD COLUMN created INTEGER NOT NULL DEFAULT 0;",
    // 2 -> 3: the next free SMSnapId and job id, handed out to every host of
    // the database so that no two hosts hold reservations under one id.
    "CREATE TABLE IF NOT EXISTS host_ids(kind TEXT PRIMARY KEY, next_id INTEGER NOT NULL);"
    "INSERT OR IGNORE INTO host_ids(kind, next_id) VALUES('sm_snap_id', 1), ('job_id', 1);",
};
static_assert(sizeof kUpgradeSteps / sizeof kUpgradeSteps[0] ==
                  size_t(SqliteHostDatabase::kSchemaVersion),
              "one upgrade step per schema version");

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string DbError(sqlite3* db, const std::string& what) {
  return what + ": " + sqlite3_errmsg(db);
}

// One prepared statement; finalised on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  bool ok() const { return rc_ == SQLITE_OK; }
  Statement& Text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Int(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  std::string ColumnText(int i) {
    const unsigned char* t = sqlite3_column_text(stmt_, i);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           size_t(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }
  long long ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

// A write transaction taken at once (BEGIN IMMEDIATE): the decision and the
// write it leads to happen under one lock. Rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {
    began_ = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) ==
             SQLITE_OK;
  }
  ~WriteTransaction() {
    if (began_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  bool began() const { return began_; }
  bool Commit() {
    done_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    return done_;
  }

 private:
  sqlite3* db_;
  bool began_ = false;
  bool done_ = false;
};

bool CreatePrivateFile(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kDatabaseMode);
  if (fd < 0)
    return Fail(error, "cannot create host database " + path + ": " + strerror(errno));
  // The file holds credentials: whatever made it, only its owner reads it.
  int rc = fchmod(fd, kDatabaseMode);
  int saved = errno;
  ::close(fd);
  if (rc != 0)
    return Fail(error, "cannot protect host database " + path + ": " + strerror(saved));
  return true;
}

}  // namespace

std::string MakeArrayInfoRecord(int engineId, const std::string& hostName,
                                const std::string& hostUserName,
                                const std::string& hostPassword) {
  return "{engineId:" + std::to_string(engineId) + ",hostName:" + hostName +
         ",hostUserName:" + hostUserName + ",hostPassword:" + hostPassword + "}";
}

SqliteHostDatabase::SqliteHostDatabase(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)) {}

SqliteHostDatabase::~SqliteHostDatabase() { sqlite3_close(db_); }

std::unique_ptr<SqliteHostDatabase> SqliteHostDatabase::Open(
    const std::string& path, std::string* error) {
  if (path.empty()) {
    Fail(error, "no host database path");
    return nullptr;
  }
  if (!CreatePrivateFile(path, error)) return nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Fail(error, "cannot open host database " + path + ": " +
                    (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<SqliteHostDatabase> self(new SqliteHostDatabase(db, path));
  if (!self->Exec("PRAGMA journal_mode=WAL", error) ||
      !self->Exec("PRAGMA synchronous=NORMAL", error) ||
      !self->Exec("PRAGMA foreign_keys=ON", error) || !self->Upgrade(error))
    return nullptr;
  return self;
}

bool SqliteHostDatabase::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  std::string text = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return Fail(error, "host database " + path_ + ": " + text);
}

// Brings the schema to kSchemaVersion in one write transaction, so processes
// opening a new file together create it once.
bool SqliteHostDatabase::Upgrade(std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock host database"));
  if (!Exec("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)",
            error))
    return false;
  int version = 0;
  bool haveRow = false;
  {
    Statement q(db_, "SELECT version FROM schema_version");
    if (!q.ok()) return Fail(error, DbError(db_, "schema version"));
    if (q.Step() == SQLITE_ROW) {
      version = int(q.ColumnInt(0));
      haveRow = true;
    }
  }
  if (version > kSchemaVersion)
    return Fail(error, "host database " + path_ + " has schema version " +
                           std::to_string(version) + ", newer than this host's " +
                           std::to_string(kSchemaVersion));
  if (version < 0) return Fail(error, "host database " + path_ + " has a bad schema version");
  for (int v = version; v < kSchemaVersion; ++v)
    if (!Exec(kUpgradeSteps[v], error)) return false;
  if (version != kSchemaVersion || !haveRow) {
    Statement w(db_, haveRow ? "UPDATE schema_version SET version = ?"
                             : "INSERT INTO schema_version(version) VALUES(?)");
    if (!w.ok() || w.Int(1, kSchemaVersion).Step() != SQLITE_DONE)
      return Fail(error, DbError(db_, "cannot record schema version"));
  }
  if (!tx.Commit()) return Fail(error, DbError(db_, "cannot commit schema"));
  return true;
}

bool SqliteHostDatabase::SchemaVersion(int* version, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_, "SELECT version FROM schema_version");
  if (!q.ok() || q.Step() != SQLITE_ROW)
    return Fail(error, DbError(db_, "schema version"));
  *version = int(q.ColumnInt(0));
  return true;
}

long long MaxHostId(HostIdKind kind) {
  // Job ids stay far from the end of 64 bits, so the counter never wraps.
  return kind == HostIdKind::kSmSnapId ? INT32_MAX : INT64_MAX / 2;
}

const char* HostIdKindName(HostIdKind kind) {
  return kind == HostIdKind::kSmSnapId ? "sm_snap_id" : "job_id";
}

bool SqliteHostDatabase::AllocateIds(HostIdKind kind, int count, long long floor,
                                     long long* first, std::string* error) {
  if (count < 1 || floor < 1) return Fail(error, "bad id request");
  const std::string name = HostIdKindName(kind);
  std::lock_guard<std::mutex> lock(mu_);
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock the id counters"));
  long long next = 0;
  {
    Statement q(db_, "SELECT next_id FROM host_ids WHERE kind = ?");
    if (!q.ok()) return Fail(error, DbError(db_, "id counters"));
    if (q.Text(1, name).Step() != SQLITE_ROW)
      return Fail(error, "host database " + path_ + " has no " + name + " counter");
    next = q.ColumnInt(0);
  }
  long long start = std::max(next, floor);
  if (start > MaxHostId(kind) - (count - 1))
    return Fail(error, "host database " + path_ + " has no " + name + " left");
  Statement w(db_, "UPDATE host_ids SET next_id = ? WHERE kind = ?");
  if (!w.ok() || w.Int(1, start + count).Text(2, name).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot allocate " + name));
  if (!tx.Commit()) return Fail(error, DbError(db_, "cannot commit " + name));
  *first = start;
  return true;
}

bool SqliteHostDatabase::GetArrayInfoRecord(const std::string& serial,
                                            std::string* record,
                                            std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_, "SELECT record FROM array_info WHERE serial = ?");
  if (!q.ok()) return Fail(error, DbError(db_, "array information"));
  int rc = q.Text(1, serial).Step();
  if (rc == SQLITE_DONE) return Fail(error, "array " + serial + " is not known");
  if (rc != SQLITE_ROW) return Fail(error, DbError(db_, "array information"));
  *record = q.ColumnText(0);
  return true;
}

bool SqliteHostDatabase::GetArrayDetails(int arrayNumber, ArrayDetailsRow* row,
                                         std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_,
              "SELECT array_name, control_host, user_name, encoded_password "
              "FROM array_details WHERE array_number = ?");
  if (!q.ok()) return Fail(error, DbError(db_, "array details"));
  int rc = q.Int(1, arrayNumber).Step();
  if (rc == SQLITE_DONE)
    return Fail(error, "array number " + std::to_string(arrayNumber) + " is not known");
  if (rc != SQLITE_ROW) return Fail(error, DbError(db_, "array details"));
  row->arrayNumber = arrayNumber;
  row->arrayName = q.ColumnText(0);
  row->controlHost = q.ColumnText(1);
  row->userName = q.ColumnText(2);
  row->encodedPassword = q.ColumnText(3);
  return true;
}

bool SqliteHostDatabase::QueryReservations(const std::string& array,
                                           std::vector<Reservation>* out,
                                           std::string* error) {
  std::vector<ReservationEntry> all;
  if (!ListAllReservations(&all, error)) return false;
  out->clear();
  for (const ReservationEntry& e : all)
    if (array.empty() || e.reservation.array == array) out->push_back(e.reservation);
  return true;
}

bool SqliteHostDatabase::Reserve(const std::vector<Reservation>& request,
                                 std::vector<bool>* granted,
                                 std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock reservations"));
  std::vector<bool> result;
  long long now = static_cast<long long>(CurrentEnv()->NowMicros() / 1000000);
  for (const Reservation& r : request) {
    if (r.array.empty() || r.target.empty()) {
      result.push_back(false);
      continue;
    }
    Statement q(db_, "SELECT sm_snap_id FROM reservations WHERE array = ? AND target = ?");
    if (!q.ok()) return Fail(error, DbError(db_, "reservations"));
    int rc = q.Text(1, r.array).Text(2, r.target).Step();
    if (rc == SQLITE_ROW) {
      result.push_back(q.ColumnInt(0) == r.smSnapId);
      continue;
    }
    if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "reservations"));
    Statement w(db_,
                "INSERT INTO reservations(array, target, source, sm_snap_id, "
                "job_id, created) VALUES(?, ?, ?, ?, ?, ?)");
    if (!w.ok() || w.Text(1, r.array).Text(2, r.target).Text(3, r.source)
                           .Int(4, r.smSnapId).Int(5, r.jobId).Int(6, now)
                           .Step() != SQLITE_DONE)
      return Fail(error, DbError(db_, "cannot reserve " + r.target));
    result.push_back(true);
  }
  if (!tx.Commit()) return Fail(error, DbError(db_, "cannot commit reservations"));
  *granted = result;
  return true;
}

bool SqliteHostDatabase::Release(const std::vector<Reservation>& request,
                                 std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock reservations"));
  for (const Reservation& r : request) {
    Statement w(db_,
                "DELETE FROM reservations WHERE array = ? AND target = ? AND "
                "sm_snap_id = ?");
    if (!w.ok() ||
        w.Text(1, r.array).Text(2, r.target).Int(3, r.smSnapId).Step() != SQLITE_DONE)
      return Fail(error, DbError(db_, "cannot release " + r.target));
  }
  if (!tx.Commit()) return Fail(error, DbError(db_, "cannot commit release"));
  return true;
}

bool SqliteHostDatabase::PutArrayInfoRecord(const std::string& serial,
                                            const std::string& record,
                                            std::string* error) {
  if (serial.empty()) return Fail(error, "an array serial is needed");
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "INSERT OR REPLACE INTO array_info(serial, record) VALUES(?, ?)");
  if (!w.ok() || w.Text(1, serial).Text(2, record).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot store array " + serial));
  return true;
}

bool SqliteHostDatabase::RemoveArrayInfoRecord(const std::string& serial,
                                               bool* removed, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "DELETE FROM array_info WHERE serial = ?");
  if (!w.ok() || w.Text(1, serial).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot remove array " + serial));
  if (removed) *removed = sqlite3_changes(db_) > 0;
  return true;
}

bool SqliteHostDatabase::ListArrayInfoSerials(std::vector<std::string>* serials,
                                              std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_, "SELECT serial FROM array_info ORDER BY serial");
  if (!q.ok()) return Fail(error, DbError(db_, "arrays"));
  serials->clear();
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) serials->push_back(q.ColumnText(0));
  if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "arrays"));
  return true;
}

bool SqliteHostDatabase::PutArrayDetails(const ArrayDetailsRow& row,
                                         const std::string& password,
                                         std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_,
              "INSERT OR REPLACE INTO array_details(array_number, array_name, "
              "control_host, user_name, encoded_password) VALUES(?, ?, ?, ?, ?)");
  if (!w.ok() || w.Int(1, row.arrayNumber).Text(2, row.arrayName)
                         .Text(3, row.controlHost).Text(4, row.userName)
                         .Text(5, EncodeSecret(password)).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot store array details"));
  return true;
}

bool SqliteHostDatabase::RemoveArrayDetails(int arrayNumber, bool* removed,
                                            std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "DELETE FROM array_details WHERE array_number = ?");
  if (!w.ok() || w.Int(1, arrayNumber).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot remove array details"));
  if (removed) *removed = sqlite3_changes(db_) > 0;
  return true;
}

bool SqliteHostDatabase::ListArrayDetails(std::vector<ArrayDetailsRow>* rows,
                                          std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_,
              "SELECT array_number, array_name, control_host, user_name, "
              "encoded_password FROM array_details ORDER BY array_number");
  if (!q.ok()) return Fail(error, DbError(db_, "array details"));
  rows->clear();
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    ArrayDetailsRow row;
    row.arrayNumber = int(q.ColumnInt(0));
    row.arrayName = q.ColumnText(1);
    row.controlHost = q.ColumnText(2);
    row.userName = q.ColumnText(3);
    row.encodedPassword = q.ColumnText(4);
    rows->push_back(row);
  }
  if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "array details"));
  return true;
}

bool SqliteHostDatabase::ListAllReservations(std::vector<ReservationEntry>* out,
                                             std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_,
              "SELECT sm_snap_id, array, source, target, job_id, created "
              "FROM reservations ORDER BY array, target");
  if (!q.ok()) return Fail(error, DbError(db_, "reservations"));
  out->clear();
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    ReservationEntry e;
    e.reservation.smSnapId = int(q.ColumnInt(0));
    e.reservation.array = q.ColumnText(1);
    e.reservation.source = q.ColumnText(2);
    e.reservation.target = q.ColumnText(3);
    e.reservation.jobId = q.ColumnInt(4);
    e.createdSeconds = q.ColumnInt(5);
    out->push_back(e);
  }
  if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "reservations"));
  return true;
}

bool SqliteHostDatabase::ForceRelease(const std::string& array,
                                      const std::string& target, bool* removed,
                                      std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "DELETE FROM reservations WHERE array = ? AND target = ?");
  if (!w.ok() || w.Text(1, array).Text(2, target).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot release " + target));
  if (removed) *removed = sqlite3_changes(db_) > 0;
  return true;
}

}  // namespace hostrt
