#include "pzhost/Catalog.h"

#include <sqlite3.h>

#include <cstdio>

#include "hostruntime/DatabaseFile.h"
#include "hostruntime/SqliteStatement.h"

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
    // 2 -> 3: the array commands each job ran, for its timeline.
    "CREATE TABLE IF NOT EXISTS catalog_job_commands ("
    "  command_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  job_id INTEGER NOT NULL, started_ms INTEGER NOT NULL,"
    "  duration_ms INTEGER NOT NULL, exit_code INTEGER NOT NULL,"
    "  timed_out INTEGER NOT NULL DEFAULT 0, command TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS catalog_job_commands_job"
    "  ON catalog_job_commands(job_id);",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] ==
                  size_t(kCatalogSchemaVersion),
              "one migration step per catalog version");

// The failure with the file it concerns and what an operator can do.
std::string Why(sqlite3* db, const std::string& message) {
  const char* file = sqlite3_db_filename(db, "main");
  return message + hostrt::DatabaseFailureHint(sqlite3_extended_errcode(db)) +
         (file && *file ? std::string(" [") + file + "]" : std::string());
}

using Stmt = hostrt::SqliteStatement;

bool Fail(std::string* error, const std::string& what, sqlite3* db) {
  if (error) *error = what + ": " + Why(db, sqlite3_errmsg(db));
  return false;
}

// Runs a statement to completion.
bool Run(Stmt& s, std::string* error, const char* what) {
  if (!s.ok() || s.Step() != SQLITE_DONE) {
    if (error) *error = std::string(what) + ": " + Why(s.db(), sqlite3_errmsg(s.db()));
    return false;
  }
  return true;
}

}  // namespace

Catalog::~Catalog() { sqlite3_close(db_); }

std::unique_ptr<Catalog> Catalog::Open(const std::string& path,
                                       std::string* error) {
  if (!hostrt::PreparePrivateDatabaseFile(path, error)) return nullptr;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                               SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    if (error)
      *error = "cannot open the host database " +
               hostrt::DescribeDatabaseFailure(
                   path, rc, db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<Catalog> catalog(new Catalog(db));
  if (!catalog->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                     " PRAGMA foreign_keys=ON;",
                     error) ||
      !catalog->Migrate(error))
    return nullptr;
  return catalog;
}

bool Catalog::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    if (error) *error = Why(db_, message ? message : sqlite3_errmsg(db_));
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
  // A catalog at this version is left unwritten: a verb that only reads
  // then commits nothing and waits for no sync of the file.
  if (ok && version != kCatalogSchemaVersion) {
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

namespace {

void ReadJob(Stmt& s, JobRecord* job) {
  job->id = s.Int(0);
  job->operation = s.Text(1);
  job->snapshotId = int(s.Int(2));
  job->started = s.Int(3);
  job->ended = s.Int(4);
  job->result = int(s.Int(5));
  job->pid = int(s.Int(6));
  job->host = s.Text(7);
}

constexpr const char* kJobColumns =
    "SELECT job_id, operation, snapshot_id, started, ended, result, pid, host"
    " FROM catalog_jobs ";

}  // namespace

bool Catalog::SetJobSnapshot(long long jobId, int snapshotId,
                             std::string* error) {
  Stmt s(db_, "UPDATE catalog_jobs SET snapshot_id=? WHERE job_id=?");
  s.Bind(1, snapshotId).Bind(2, jobId);
  return Run(s, error, "cannot record the job's snapshot");
}

bool Catalog::ReadJobs(const char* tail, std::vector<JobRecord>* jobs,
                       std::string* error) {
  jobs->clear();
  Stmt s(db_, (std::string(kJobColumns) + tail).c_str());
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    JobRecord job;
    ReadJob(s, &job);
    jobs->push_back(job);
  }
  if (rc != SQLITE_DONE) return Fail(error, "cannot read jobs", db_);
  return true;
}

bool Catalog::OpenJobs(std::vector<JobRecord>* jobs, std::string* error) {
  return ReadJobs("WHERE ended=0 ORDER BY job_id", jobs, error);
}

bool Catalog::MarkInterrupted(long long jobId, long long now, bool* marked,
                              std::string* error) {
  Stmt s(db_, "UPDATE catalog_jobs SET ended=?, result=? WHERE job_id=? AND ended=0");
  s.Bind(1, now).Bind(2, kJobResultInterrupted).Bind(3, jobId);
  if (!Run(s, error, "cannot record the interrupted job")) return false;
  *marked = sqlite3_changes(db_) == 1;
  return true;
}

bool Catalog::LastJobOf(int snapshotId, JobRecord* job, bool* found,
                        std::string* error) {
  Stmt s(db_, (std::string(kJobColumns) +
               "WHERE snapshot_id=? ORDER BY job_id DESC LIMIT 1").c_str());
  s.Bind(1, snapshotId);
  int rc = s.Step();
  *found = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return Fail(error, "cannot read jobs", db_);
  if (*found) ReadJob(s, job);
  return true;
}

bool Catalog::ListJobs(std::vector<JobRecord>* jobs, std::string* error) {
  return ReadJobs("ORDER BY job_id", jobs, error);
}

bool Catalog::AddJobCommand(long long jobId, const JobCommand& command,
                            std::string* error) {
  Stmt s(db_,
         "INSERT INTO catalog_job_commands(job_id, started_ms, duration_ms,"
         " exit_code, timed_out, command) VALUES(?, ?, ?, ?, ?, ?)");
  s.Bind(1, jobId).Bind(2, command.startedMs).Bind(3, command.durationMs)
      .Bind(4, command.exitCode).Bind(5, command.timedOut ? 1 : 0)
      .Bind(6, command.commandLine);
  return Run(s, error, "cannot record the job's command");
}

bool Catalog::JobCommands(long long jobId, std::vector<JobCommand>* commands,
                          std::string* error) {
  commands->clear();
  Stmt s(db_,
         "SELECT started_ms, duration_ms, exit_code, timed_out, command FROM "
         "catalog_job_commands WHERE job_id=? ORDER BY command_id");
  s.Bind(1, jobId);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    JobCommand c;
    c.startedMs = s.Int(0);
    c.durationMs = s.Int(1);
    c.exitCode = int(s.Int(2));
    c.timedOut = s.Int(3) != 0;
    c.commandLine = s.Text(4);
    commands->push_back(c);
  }
  if (rc != SQLITE_DONE) return Fail(error, "cannot read the job's commands", db_);
  return true;
}

bool Catalog::SaveDevices(const SnapshotRecord& snap,
                          const std::vector<size_t>& positions,
                          std::string* error) {
  if (positions.empty()) return true;
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  bool ok = true;
  for (size_t i = 0; ok && i < positions.size(); ++i)
    ok = positions[i] < snap.devices.size() &&
         WriteDevice(snap.id, snap.devices[positions[i]], error);
  if (!ok) {
    Exec("ROLLBACK", nullptr);
    return false;
  }
  return Exec("COMMIT", error);
}

bool Catalog::GetJob(long long jobId, JobRecord* job, bool* found,
                     std::string* error) {
  Stmt s(db_, (std::string(kJobColumns) + "WHERE job_id=?").c_str());
  s.Bind(1, jobId);
  int rc = s.Step();
  *found = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return Fail(error, "cannot read job", db_);
  if (*found) ReadJob(s, job);
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
