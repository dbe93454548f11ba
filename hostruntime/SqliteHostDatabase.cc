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
#include <set>
#include <utility>

#include "hostruntime/DatabaseFile.h"
#include "hostruntime/Env.h"
#include "hostruntime/SecretCodec.h"
#include "hostruntime/SqliteStatement.h"

namespace hostrt {

namespace {

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

using Statement = SqliteStatement;

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
  if (!PreparePrivateDatabaseFile(path, error)) return nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Fail(error, "cannot open host database " +
                    DescribeDatabaseFailure(
                        path, rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<SqliteHostDatabase> self(new SqliteHostDatabase(db, path));
  if (!self->Exec("PRAGMA journal_mode=WAL", error) ||
      !self->Exec("PRAGMA synchronous=FULL", error) ||
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
      version = int(q.Int(0));
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
    if (!w.ok() || w.Bind(1, kSchemaVersion).Step() != SQLITE_DONE)
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
  *version = int(q.Int(0));
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
    if (q.Bind(1, name).Step() != SQLITE_ROW)
      return Fail(error, "host database " + path_ + " has no " + name + " counter");
    next = q.Int(0);
  }
  long long start = std::max(next, floor);
  if (start > MaxHostId(kind) - (count - 1))
    return Fail(error, "host database " + path_ + " has no " + name + " left");
  Statement w(db_, "UPDATE host_ids SET next_id = ? WHERE kind = ?");
  if (!w.ok() || w.Bind(1, start + count).Bind(2, name).Step() != SQLITE_DONE)
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
  int rc = q.Bind(1, serial).Step();
  if (rc == SQLITE_DONE) return Fail(error, "array " + serial + " is not known");
  if (rc != SQLITE_ROW) return Fail(error, DbError(db_, "array information"));
  *record = q.Text(0);
  return true;
}

bool SqliteHostDatabase::GetArrayDetails(int arrayNumber, ArrayDetailsRow* row,
                                         std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement q(db_,
              "SELECT array_name, control_host, user_name, encoded_password "
              "FROM array_details WHERE array_number = ?");
  if (!q.ok()) return Fail(error, DbError(db_, "array details"));
  int rc = q.Bind(1, arrayNumber).Step();
  if (rc == SQLITE_DONE)
    return Fail(error, "array number " + std::to_string(arrayNumber) + " is not known");
  if (rc != SQLITE_ROW) return Fail(error, DbError(db_, "array details"));
  row->arrayNumber = arrayNumber;
  row->arrayName = q.Text(0);
  row->controlHost = q.Text(1);
  row->userName = q.Text(2);
  row->encodedPassword = q.Text(3);
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

bool SqliteHostDatabase::ReserveFirstFree(const std::vector<Reservation>& request,
                                          std::vector<std::string>* granted,
                                          std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock reservations"));
  std::vector<std::string> result;
  std::set<std::pair<std::string, std::string>> given;  // (array, target) of this call
  long long now = static_cast<long long>(CurrentEnv()->NowMicros() / 1000000);
  Statement q(db_, "SELECT sm_snap_id FROM reservations WHERE array = ? AND target = ?");
  Statement w(db_,
              "INSERT INTO reservations(array, target, source, sm_snap_id, "
              "job_id, created) VALUES(?, ?, ?, ?, ?, ?)");
  if (!q.ok() || !w.ok()) return Fail(error, DbError(db_, "reservations"));
  for (const Reservation& r : request) {
    std::string got;
    for (size_t k = 0; r.array.size() && k <= r.alternatives.size() && got.empty(); ++k) {
      const std::string& candidate = k == 0 ? r.target : r.alternatives[k - 1];
      if (candidate.empty() || given.count({r.array, candidate})) continue;
      q.Reset();
      int rc = q.Bind(1, r.array).Bind(2, candidate).Step();
      if (rc == SQLITE_ROW) {
        // Only the device asked for by name is granted again to its holder.
        if (k == 0 && q.Int(0) == r.smSnapId) got = candidate;
        continue;
      }
      if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "reservations"));
      w.Reset();
      if (w.Bind(1, r.array).Bind(2, candidate).Bind(3, r.source)
              .Bind(4, r.smSnapId).Bind(5, r.jobId).Bind(6, now).Step() != SQLITE_DONE)
        return Fail(error, DbError(db_, "cannot reserve " + candidate));
      got = candidate;
    }
    if (!got.empty()) given.insert({r.array, got});
    result.push_back(got);
  }
  q.Reset();
  w.Reset();
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
        w.Bind(1, r.array).Bind(2, r.target).Bind(3, r.smSnapId).Step() != SQLITE_DONE)
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
  if (!w.ok() || w.Bind(1, serial).Bind(2, record).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot store array " + serial));
  return true;
}

bool SqliteHostDatabase::RemoveArrayInfoRecord(const std::string& serial,
                                               bool* removed, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "DELETE FROM array_info WHERE serial = ?");
  if (!w.ok() || w.Bind(1, serial).Step() != SQLITE_DONE)
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
  while ((rc = q.Step()) == SQLITE_ROW) serials->push_back(q.Text(0));
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
  if (!w.ok() || w.Bind(1, row.arrayNumber).Bind(2, row.arrayName)
                         .Bind(3, row.controlHost).Bind(4, row.userName)
                         .Bind(5, EncodeSecret(password)).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot store array details"));
  return true;
}

bool SqliteHostDatabase::RemoveArrayDetails(int arrayNumber, bool* removed,
                                            std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  Statement w(db_, "DELETE FROM array_details WHERE array_number = ?");
  if (!w.ok() || w.Bind(1, arrayNumber).Step() != SQLITE_DONE)
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
    row.arrayNumber = int(q.Int(0));
    row.arrayName = q.Text(1);
    row.controlHost = q.Text(2);
    row.userName = q.Text(3);
    row.encodedPassword = q.Text(4);
    rows->push_back(row);
  }
  if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "array details"));
  return true;
}

bool SqliteHostDatabase::RemoveArray(const std::string& serial,
                                     std::vector<Reservation>* holding,
                                     bool* removed, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  holding->clear();
  *removed = false;
  WriteTransaction tx(db_);
  if (!tx.began()) return Fail(error, DbError(db_, "cannot lock host database"));
  Statement q(db_,
              "SELECT sm_snap_id, source, target, job_id FROM reservations "
              "WHERE array = ? ORDER BY target");
  if (!q.ok()) return Fail(error, DbError(db_, "reservations"));
  q.Bind(1, serial);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    Reservation r;
    r.array = serial;
    r.smSnapId = int(q.Int(0));
    r.source = q.Text(1);
    r.target = q.Text(2);
    r.jobId = q.Int(3);
    holding->push_back(r);
  }
  if (rc != SQLITE_DONE) return Fail(error, DbError(db_, "reservations"));
  if (!holding->empty()) return true;
  int changes = 0;
  for (const char* sql : {"DELETE FROM array_info WHERE serial = ?",
                          "DELETE FROM array_details WHERE array_name = ?"}) {
    Statement w(db_, sql);
    if (!w.ok() || w.Bind(1, serial).Step() != SQLITE_DONE)
      return Fail(error, DbError(db_, "cannot remove array " + serial));
    changes += sqlite3_changes(db_);
  }
  if (!tx.Commit()) return Fail(error, DbError(db_, "cannot commit the removal"));
  *removed = changes > 0;
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
    e.reservation.smSnapId = int(q.Int(0));
    e.reservation.array = q.Text(1);
    e.reservation.source = q.Text(2);
    e.reservation.target = q.Text(3);
    e.reservation.jobId = q.Int(4);
    e.createdSeconds = q.Int(5);
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
  if (!w.ok() || w.Bind(1, array).Bind(2, target).Step() != SQLITE_DONE)
    return Fail(error, DbError(db_, "cannot release " + target));
  if (removed) *removed = sqlite3_changes(db_) > 0;
  return true;
}

}  // namespace hostrt
