// Snapshot catalog of one host: jobs, snapshots, the per-device request state
// the plug-in left after each call, and the home's snap configs. It lives in
// the host database file beside the runtime's own tables.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace pzhost {

// Current layout of the catalog tables (catalog_meta "schema_version").
constexpr int kCatalogSchemaVersion = 3;

// What the host keeps of one device request between jobs.
struct DeviceRecord {
  int smSnapId = 0;  // unique in the catalog, the same in every job
  int position = 0;  // order of the device in its snapshot
  std::string source;
  unsigned int snapFlags = 0;
  uint64_t jobFlags = 0;  // flags the plug-in set, handed to later jobs
  int status = 0;
  int errorCode = 0;
  std::string errorText;
  std::string devicePath;
  int mountId = 0;
  int arrayNum = 0;
  bool created = false;  // the array snapshot exists (as far as the host knows)
  bool mounted = false;  // presented to a host (or a target still linked)
  std::map<int, std::string> metadata;  // device metadata items by type
};

struct SnapshotRecord {
  int id = 0;
  std::string name;   // snapshot unique identifier issued at prepare
  std::string array;  // array serial
  long long jobId = 0;  // the backup job
  long long created = 0;  // seconds since the epoch
  std::vector<DeviceRecord> devices;
};

// Results a job row carries besides the verb's exit code.
constexpr int kJobResultRunning = -1;      // no end recorded (yet)
constexpr int kJobResultInterrupted = -2;  // its process ended without one

struct JobRecord {
  long long id = 0;
  std::string operation;
  int snapshotId = 0;
  long long started = 0;
  long long ended = 0;  // 0 while running
  int result = -1;
  int pid = 0;
  std::string host;
};

// An array command a job ran (secrets masked), for the job's timeline.
struct JobCommand {
  long long startedMs = 0;  // milliseconds since the epoch
  long long durationMs = 0;
  int exitCode = -1;
  bool timedOut = false;  // killed at its time limit
  std::string commandLine;
};

class Catalog {
 public:
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Opens (creating or upgrading the tables) the catalog in the database
  // file `path`.
  static std::unique_ptr<Catalog> Open(const std::string& path,
                                       std::string* error);
  int schemaVersion() const { return version_; }

  // Jobs. A job is started before the first plug-in call and ended after
  // the last one, with the verb's result. A `*jobId` other than 0 is the id
  // to record the job under (it must be unused), else a new one is taken.
  bool BeginJob(const std::string& operation, int snapshotId, int pid,
                const std::string& host, long long now, long long* jobId,
                std::string* error);
  bool EndJob(long long jobId, int result, long long now, std::string* error);
  bool GetJob(long long jobId, JobRecord* job, bool* found,
              std::string* error);
  // A backup's snapshot is made after its job has begun.
  bool SetJobSnapshot(long long jobId, int snapshotId, std::string* error);
  // Jobs with no recorded end, oldest first.
  bool OpenJobs(std::vector<JobRecord>* jobs, std::string* error);
  // Records that an open job's process is gone; false in `*marked` when
  // the job has ended meanwhile.
  bool MarkInterrupted(long long jobId, long long now, bool* marked,
                       std::string* error);
  // Every job, oldest first.
  bool ListJobs(std::vector<JobRecord>* jobs, std::string* error);
  bool AddJobCommand(long long jobId, const JobCommand& command,
                     std::string* error);
  // The commands of a job in the order they ran.
  bool JobCommands(long long jobId, std::vector<JobCommand>* commands,
                   std::string* error);
  // The newest job of a snapshot.
  bool LastJobOf(int snapshotId, JobRecord* job, bool* found,
                 std::string* error);

  // Creates a snapshot with its devices; a device without an SMSnapId is
  // given a new one, one with an SMSnapId keeps it (it must be unused).
  bool CreateSnapshot(SnapshotRecord* snapshot, std::string* error);
  // Stores the snapshot's name, array and every device's state in one
  // transaction.
  bool SaveSnapshot(const SnapshotRecord& snapshot, std::string* error);
  // Stores the devices at `positions` (indexes into snapshot.devices) in
  // one transaction: what a running job writes through as it goes.
  bool SaveDevices(const SnapshotRecord& snapshot,
                   const std::vector<size_t>& positions, std::string* error);
  bool GetSnapshot(int id, SnapshotRecord* snapshot, bool* found,
                   std::string* error);
  bool ListSnapshots(std::vector<SnapshotRecord>* out, std::string* error);
  bool RemoveSnapshot(int id, std::string* error);
  // The largest SMSnapId and job id the catalog has used (0 when none).
  bool HighestIds(long long* smSnapId, long long* jobId, std::string* error);
  // The snapshot a device (SMSnapId) belongs to.
  bool SnapshotOfDevice(int smSnapId, int* snapshotId, bool* found,
                        std::string* error);

  // Snap configs handed to every request of this home.
  bool SetSnapConfig(const std::string& key, const std::string& value,
                     std::string* error);
  bool RemoveSnapConfig(const std::string& key, bool* removed,
                        std::string* error);
  bool SnapConfigs(std::map<std::string, std::string>* out,
                   std::string* error);

 private:
  // Jobs of the statement that the job columns and `tail` make.
  bool ReadJobs(const char* tail, std::vector<JobRecord>* jobs, std::string* error);
  explicit Catalog(sqlite3* db) : db_(db) {}
  bool Migrate(std::string* error);
  bool Exec(const char* sql, std::string* error);
  bool LoadDevices(SnapshotRecord* snapshot, std::string* error);
  bool WriteDevice(int snapshotId, const DeviceRecord& device,
                   std::string* error);

  sqlite3* db_ = nullptr;
  int version_ = 0;
};

}  // namespace pzhost
