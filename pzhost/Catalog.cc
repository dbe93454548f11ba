#include "pzhost/Catalog.h"

#include <sqlite3.h>

#include <cstdio>

namespace pzhost {

namespace {

constexpr int kBusyTimeoutMs = 10000;

// Each step brings the tables from version i to i + 1; steps are never
// edited once released, only appended.
const char* const kMigrations[] = {
    // 0 -> 1: jobs, snapshots, devices and their metadata, snap configs.
    "CREATE TABLE IF NOT EXISTS catalog_jobs ("
    "  job_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  operation TEXT NOT NULL, snapshot_id INTEGER NOT NULL DEFAULT 0,"
    "  started INTEGER NOT NULL, ended INTEGER NOT NULL DEFAULT 0,"
    "  result INTEGER NOT NULL DEFAULT -1);"
    "CREATE TABLE IF NOT EXISTS catalog_snapshots ("
    "  snapshot_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  name TEXT NOT NULL DEFAULT '', array TEXT NOT NULL DEFAULT '',"
    "  job_id INTEGER NOT NULL, created INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS catalog_devices ("
    "  sm_snap_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  snapshot_id INTEGER NOT NULL REFERENCES catalog_snapshots"
    "    ON DELETE CASCADE,"
    "  position INTEGER NOT NULL, source TEXT NOT NULL,"
    "  snap_flags INTEGER NOT NULL DEFAULT 0,"
    "  job_flags INTEGER NOT NULL DEFAULT 0,"
    "  status INTEGER NOT NULL DEFAULT 0,"
    "  error_code INTEGER NOT NULL DEFAULT 0,"
    "  error_text TEXT NOT NULL DEFAULT '',"
    "  device_path TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS catalog_metadata ("
    "  sm_snap_id INTEGER NOT NULL REFERENCES catalog_devices"
    "    ON DELETE CASCADE,"
    "  type INTEGER NOT NULL, value TEXT NOT NULL,"
    "  PRIMARY KEY (sm_snap_id, type));"
    "CREATE TABLE IF NOT EXISTS catalog_snap_config ("
    "  key TEXT PRIMARY KEY, value TEXT NOT NULL);",
    // 1 -> 2: the process behind a job (so a crashed job can be told from a
    // running one), mount ids and array numbers of devices.
    "ALTER TABLE catalog_jobs ADD COLUMN pid INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE catalog_jobs ADD COLUMN host TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE catalog_devices ADD COLUMN mount_id INTEGER NOT NULL"
    "  DEFAULT 0;"
    "ALTER TABLE catalog_devices ADD COLUMN array_num INTEGER NOT NULL"
    "  DEFAULT 0;"
    "ALTER TABLE catalog_devices ADD COLUMN created INTEGER NOT NULL"
    "  DEFAULT 0;"
    "ALTER TABLE catalog_devices ADD COLUMN mounted INTEGER NOT NULL"
    "  DEFAULT 0;",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] ==
                  size_t(kCatalogSchemaVersion),
              "one migration step per catalog version");

// A prepared statement that finalizes itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      stmt_ = nullptr;
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Stmt& Bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Stmt& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  long long Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t ? reinterpret_cast<const char*>(t) : std::string();
  }
  std::string Error() const { return sqlite3_errmsg(db_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

bool Fail(std::string* error, const std::string& what, sqlite3* db) {
  if (error) *error = what + ": " + sqlite3_errmsg(db);
  return false;
}

// Runs a statement to completion.
bool Run(Stmt& s, std::string* error, const char* what) {
  if (!s.ok() || s.Step() != SQLITE_DONE) {
    if (error) *error = std::string(what) + ": " + s.Error();
    return false;
  }
  return true;
}

}  // namespace

Catalog::~Catalog() { sqlite3_close(db_); }

std::unique_ptr<Catalog> Catalog::Open(const std::string& path,
                                       std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                               SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    if (error)
      *error = "cannot open the host database " + path + ": " +
               (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<Catalog> catalog(new Catalog(db));
  if (!catalog->Exec("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;",
                     error) ||
      !catalog->Migrate(error))
    return nullptr;
  return catalog;
}

bool Catalog::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    if (error) *error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool Catalog::Migrate(std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  bool ok = Exec("CREATE TABLE IF NOT EXISTS catalog_meta ("
                 "key TEXT PRIMARY KEY, value TEXT NOT NULL)",
                 error);
  int version = 0;
  if (ok) {
    Stmt s(db_, "SELECT value FROM catalog_meta WHERE key='schema_version'");
    if (s.Step() == SQLITE_ROW) version = int(s.Int(0));
  }
  if (ok && version > kCatalogSchemaVersion) {
    if (error)
      *error = "the host database has catalog version " +
               std::to_string(version) + ", newer than this pzhost (" +
               std::to_string(kCatalogSchemaVersion) + ")";
    ok = false;
  }
  for (int v = version; ok && v < kCatalogSchemaVersion; ++v)
    ok = Exec(kMigrations[v], error);
  if (ok) {
    Stmt s(db_,
           "INSERT OR REPLACE INTO catalog_meta(key, value) "
           "VALUES('schema_version', ?)");
    s.Bind(1, std::to_string(kCatalogSchemaVersion));
    ok = Run(s, error, "cannot record the catalog version");
  }
  if (!ok) {
    Exec("ROLLBACK", nullptr);
    return false;
  }
  version_ = kCatalogSchemaVersion;
  return Exec("COMMIT", error);
}

bool Catalog::BeginJob(const std::string& operation, int snapshotId, int pid,
                       const std::string& host, long long now,
                       long long* jobId, std::string* error) {
  // A NULL key takes the next free one.
  Stmt s(db_,
         "INSERT INTO catalog_jobs(job_id, operation, snapshot_id, started, pid,"
         " host) VALUES(NULLIF(?, 0), ?, ?, ?, ?, ?)");
  s.Bind(1, *jobId).Bind(2, operation).Bind(3, snapshotId).Bind(4, now).Bind(
      5, pid).Bind(6, host);
  if (!Run(s, error, "cannot record the job")) return false;
  *jobId = sqlite3_last_insert_rowid(db_);
  return true;
}

bool Catalog::EndJob(long long jobId, int result, long long now,
                     std::string* error) {
  Stmt s(db_, "UPDATE catalog_jobs SET ended=?, result=? WHERE job_id=?");
  s.Bind(1, now).Bind(2, result).Bind(3, jobId);
  return Run(s, error, "cannot record the end of the job");
}

bool Catalog::GetJob(long long jobId, JobRecord* job, bool* found,
                     std::string* error) {
  Stmt s(db_,
         "SELECT job_id, operation, snapshot_id, started, ended, result, pid,"
         " host FROM catalog_jobs WHERE job_id=?");
  s.Bind(1, jobId);
  int rc = s.Step();
  *found = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return Fail(error, "cannot read job", db_);
  if (*found) {
    job->id = s.Int(0);
    job->operation = s.Text(1);
    job->snapshotId = int(s.Int(2));
    job->started = s.Int(3);
    job->ended = s.Int(4);
    job->result = int(s.Int(5));
    job->pid = int(s.Int(6));
    job->host = s.Text(7);
  }
  return true;
}

bool Catalog::WriteDevice(int snapshotId, const DeviceRecord& d,
                          std::string* error) {
  Stmt s(db_,
         "UPDATE catalog_devices SET position=?, source=?, snap_flags=?,"
         " job_flags=?, status=?, error_code=?, error_text=?, device_path=?,"
         " mount_id=?, array_num=?, created=?, mounted=?"
         " WHERE sm_snap_id=? AND snapshot_id=?");
  s.Bind(1, d.position)
      .Bind(2, d.source)
      .Bind(3, (long long)d.snapFlags)
      .Bind(4, (long long)d.jobFlags)
      .Bind(5, d.status)
      .Bind(6, d.errorCode)
      .Bind(7, d.errorText)
      .Bind(8, d.devicePath)
      .Bind(9, d.mountId)
      .Bind(10, d.arrayNum)
      .Bind(11, d.created ? 1 : 0)
      .Bind(12, d.mounted ? 1 : 0)
      .Bind(13, d.smSnapId)
      .Bind(14, snapshotId);
  if (!Run(s, error, "cannot store the device")) return false;
  if (sqlite3_changes(db_) != 1) {
    if (error)
      *error = "device " + std::to_string(d.smSnapId) +
               " is not part of snapshot " + std::to_string(snapshotId);
    return false;
  }
  Stmt clear(db_, "DELETE FROM catalog_metadata WHERE sm_snap_id=?");
  clear.Bind(1, d.smSnapId);
  if (!Run(clear, error, "cannot store the device metadata")) return false;
  for (const auto& item : d.metadata) {
    Stmt m(db_,
           "INSERT INTO catalog_metadata(sm_snap_id, type, value) "
           "VALUES(?, ?, ?)");
    m.Bind(1, d.smSnapId).Bind(2, item.first).Bind(3, item.second);
    if (!Run(m, error, "cannot store the device metadata")) return false;
  }
  return true;
}

bool Catalog::HighestIds(long long* smSnapId, long long* jobId,
                         std::string* error) {
  // The AUTOINCREMENT counters remember the ids of removed rows too.
  Stmt s(db_,
         "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE "
         "name='catalog_devices'), 0), coalesce((SELECT max(sm_snap_id) FROM "
         "catalog_devices), 0)), max(coalesce((SELECT seq FROM sqlite_sequence "
         "WHERE name='catalog_jobs'), 0), coalesce((SELECT max(job_id) FROM "
         "catalog_jobs), 0))");
  if (s.Step() != SQLITE_ROW) return Fail(error, "catalog ids", db_);
  *smSnapId = s.Int(0);
  *jobId = s.Int(1);
  return true;
}

bool Catalog::CreateSnapshot(SnapshotRecord* snap, std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  bool ok;
  {
    Stmt s(db_,
           "INSERT INTO catalog_snapshots(name, array, job_id, created) "
           "VALUES(?, ?, ?, ?)");
    s.Bind(1, snap->name).Bind(2, snap->array).Bind(3, snap->jobId).Bind(
        4, snap->created);
    ok = Run(s, error, "cannot record the snapshot");
  }
  if (ok) snap->id = int(sqlite3_last_insert_rowid(db_));
  for (size_t i = 0; ok && i < snap->devices.size(); ++i) {
    DeviceRecord& d = snap->devices[i];
    d.position = int(i);
    // A NULL key takes the next free one.
    Stmt s(db_,
           "INSERT INTO catalog_devices(sm_snap_id, snapshot_id, position, "
           "source) VALUES(NULLIF(?, 0), ?, ?, ?)");
    s.Bind(1, d.smSnapId).Bind(2, snap->id).Bind(3, d.position).Bind(4, d.source);
    ok = Run(s, error, "cannot record the device");
    if (ok) {
      d.smSnapId = int(sqlite3_last_insert_rowid(db_));
      ok = WriteDevice(snap->id, d, error);
    }
  }
  if (!ok) {
    Exec("ROLLBACK", nullptr);
    return false;
  }
  return Exec("COMMIT", error);
}

bool Catalog::SaveSnapshot(const SnapshotRecord& snap, std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  bool ok;
  {
    Stmt s(db_,
           "UPDATE catalog_snapshots SET name=?, array=? WHERE snapshot_id=?");
    s.Bind(1, snap.name).Bind(2, snap.array).Bind(3, snap.id);
    ok = Run(s, error, "cannot store the snapshot");
    if (ok && sqlite3_changes(db_) != 1) {
      if (error) *error = "snapshot " + std::to_string(snap.id) + " is gone";
      ok = false;
    }
  }
  for (size_t i = 0; ok && i < snap.devices.size(); ++i)
    ok = WriteDevice(snap.id, snap.devices[i], error);
  if (!ok) {
    Exec("ROLLBACK", nullptr);
    return false;
  }
  return Exec("COMMIT", error);
}

bool Catalog::LoadDevices(SnapshotRecord* snap, std::string* error) {
  snap->devices.clear();
  Stmt s(db_,
         "SELECT sm_snap_id, position, source, snap_flags, job_flags, status,"
         " error_code, error_text, device_path, mount_id, array_num,"
         " created, mounted FROM catalog_devices WHERE snapshot_id=? ORDER BY position");
  s.Bind(1, snap->id);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    DeviceRecord d;
    d.smSnapId = int(s.Int(0));
    d.position = int(s.Int(1));
    d.source = s.Text(2);
    d.snapFlags = unsigned(s.Int(3));
    d.jobFlags = uint64_t(s.Int(4));
    d.status = int(s.Int(5));
    d.errorCode = int(s.Int(6));
    d.errorText = s.Text(7);
    d.devicePath = s.Text(8);
    d.mountId = int(s.Int(9));
    d.arrayNum = int(s.Int(10));
    d.created = s.Int(11) != 0;
    d.mounted = s.Int(12) != 0;
    snap->devices.push_back(d);
  }
  if (rc != SQLITE_DONE) return Fail(error, "cannot read devices", db_);
  for (DeviceRecord& d : snap->devices) {
    Stmt m(db_, "SELECT type, value FROM catalog_metadata WHERE sm_snap_id=?");
    m.Bind(1, d.smSnapId);
    while ((rc = m.Step()) == SQLITE_ROW) d.metadata[int(m.Int(0))] = m.Text(1);
    if (rc != SQLITE_DONE) return Fail(error, "cannot read metadata", db_);
  }
  return true;
}

bool Catalog::GetSnapshot(int id, SnapshotRecord* snap, bool* found,
                          std::string* error) {
  Stmt s(db_,
         "SELECT snapshot_id, name, array, job_id, created"
         " FROM catalog_snapshots WHERE snapshot_id=?");
  s.Bind(1, id);
  int rc = s.Step();
  *found = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return Fail(error, "cannot read snapshot", db_);
  if (!*found) return true;
  snap->id = int(s.Int(0));
  snap->name = s.Text(1);
  snap->array = s.Text(2);
  snap->jobId = s.Int(3);
  snap->created = s.Int(4);
  return LoadDevices(snap, error);
}

bool Catalog::ListSnapshots(std::vector<SnapshotRecord>* out,
                            std::string* error) {
  out->clear();
  std::vector<int> ids;
  {
    Stmt s(db_, "SELECT snapshot_id FROM catalog_snapshots ORDER BY 1");
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) ids.push_back(int(s.Int(0)));
    if (rc != SQLITE_DONE) return Fail(error, "cannot list snapshots", db_);
  }
  for (int id : ids) {
    SnapshotRecord snap;
    bool found = false;
    if (!GetSnapshot(id, &snap, &found, error)) return false;
    if (found) out->push_back(snap);
  }
  return true;
}

bool Catalog::RemoveSnapshot(int id, std::string* error) {
  Stmt s(db_, "DELETE FROM catalog_snapshots WHERE snapshot_id=?");
  s.Bind(1, id);
  return Run(s, error, "cannot remove the snapshot");
}

bool Catalog::SnapshotOfDevice(int smSnapId, int* snapshotId, bool* found,
                               std::string* error) {
  Stmt s(db_, "SELECT snapshot_id FROM catalog_devices WHERE sm_snap_id=?");
  s.Bind(1, smSnapId);
  int rc = s.Step();
  *found = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return Fail(error, "cannot read device", db_);
  if (*found) *snapshotId = int(s.Int(0));
  return true;
}

bool Catalog::SetSnapConfig(const std::string& key, const std::string& value,
                            std::string* error) {
  Stmt s(db_,
         "INSERT OR REPLACE INTO catalog_snap_config(key, value) VALUES(?, ?)");
  s.Bind(1, key).Bind(2, value);
  return Run(s, error, "cannot store the snap config");
}

bool Catalog::RemoveSnapConfig(const std::string& key, bool* removed,
                               std::string* error) {
  Stmt s(db_, "DELETE FROM catalog_snap_config WHERE key=?");
  s.Bind(1, key);
  if (!Run(s, error, "cannot remove the snap config")) return false;
  *removed = sqlite3_changes(db_) > 0;
  return true;
}

bool Catalog::SnapConfigs(std::map<std::string, std::string>* out,
                          std::string* error) {
  out->clear();
  Stmt s(db_, "SELECT key, value FROM catalog_snap_config");
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) (*out)[s.Text(0)] = s.Text(1);
  if (rc != SQLITE_DONE) return Fail(error, "cannot read snap configs", db_);
  return true;
}

}  // namespace pzhost
