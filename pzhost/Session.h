// One pzhost run as one host: the home and its settings, the runtime's
// environment for that home, the catalog, the plug-in, and the request
// objects of a job built from the catalog and stored back after each call.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hostruntime/HostRequest.h"
#include "hostruntime/PosixEnv.h"
#include "hostruntime/DatabaseBackend.h"
#include "hostruntime/SqliteHostDatabase.h"
#include "pzhost/Catalog.h"
#include "pzhost/Home.h"
#include "pzhost/Locks.h"
#include "pzhost/Output.h"
#include "pzhost/Plugin.h"

namespace pzhost {

struct GlobalOptions {
  std::string home;
  std::string plugin;
  bool json = false;
  bool verbose = false;
};

// Which call the requests went through, for what the host keeps afterwards.
enum class Step { kPrepare, kSnap, kMap, kUnmap, kRevert, kDelete, kReconcile };

// The request array of one plug-in call.
struct RequestSet {
  std::vector<std::unique_ptr<hostrt::HostSnapInfo>> owned;
  std::vector<hostrt::HostSnapInfo*> requests;
  std::vector<PZSO::SnapInfo*> raw;  // what the exports take
  short count() const { return short(raw.size()); }
  PZSO::SnapInfo** data() { return raw.data(); }
};

// Request object of this host: array numbers follow the array the plug-in
// selects by serial (as the host database's array records number them).
class PzRequest : public hostrt::HostSnapInfo {
 public:
  explicit PzRequest(const std::map<std::string, int>* arrayNumbers)
      : arrayNumbers_(arrayNumbers) {}
  int setArrayInfo(const char* arrayId) override;
  int findArrayInfoInCache(const char* arrayId) override;

 private:
  void TakeArrayNumber(const char* arrayId);
  const std::map<std::string, int>* arrayNumbers_;
};

class Session {
 public:
  Session(const GlobalOptions& options, Output* out);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens an initialised home: settings, environment, catalog and, unless
  // `withDatabase` is false (verbs that only edit the home), the host
  // database the settings name.
  bool Open(std::string* error, bool withDatabase = true);
  bool LoadPlugin(std::string* error);

  const Home& home() const { return home_; }
  hostrt::IniFile& settings() { return settings_; }
  hostrt::PosixEnv& env() { return *env_; }
  Catalog& catalog() { return *catalog_; }
  Plugin& plugin() { return *plugin_; }
  Output& out() { return *out_; }
  void set_out(Output* out) { out_ = out; }
  // Array records and reservations of the host database: the very database
  // the plug-in reaches through the environment. Null when not opened.
  hostrt::HostDatabaseAdmin* admin() { return admin_; }
  hostrt::HostDatabase* database() { return database_; }
  const GlobalOptions& options() const { return options_; }

  // Gives the devices of a new snapshot SMSnapIds from the host database, so
  // that no other host sharing it uses them; above every id of the catalog.
  bool AllocateSnapIds(SnapshotRecord* snapshot, std::string* error);
  // A job id from the host database likewise.
  bool AllocateJobId(long long* jobId, std::string* error);

  // A job holds its lock (locks/job-<id>.lock) from before its row exists
  // until after its end is recorded, so an open row whose lock is free is
  // a job whose process died.
  bool BeginJob(const std::string& operation, int snapshotId, long long* jobId);
  void EndJob(long long jobId, int result);
  // Takes the one-job-at-a-time lock of a snapshot for this session's job;
  // when another job has it, says which.
  bool LockSnapshot(int snapshotId, std::string* error);
  // Records, as interrupted, the open jobs of this host whose process is
  // gone; returns them.
  bool SweepInterrupted(std::vector<JobRecord>* found, std::string* error);

  // Write-through of one plug-in call: from BeginCall to EndCall, every
  // change the plug-in makes on the requests reaches the catalog before the
  // next tool starts or fixed wait begins (a failed write stops the tools).
  // EndCall stores the outcome; false with the reason.
  struct CallPart {
    RequestSet* set;
    SnapshotRecord* snapshot;
  };
  void BeginCall(Step step, const std::vector<CallPart>& parts);
  bool EndCall(std::string* error);

  // Requests for the devices of `snapshot` in job `jobId`: the state the
  // catalog holds, the home's snap configs, clean errors.
  bool MakeRequests(const SnapshotRecord& snapshot, long long jobId,
                    RequestSet* set, std::string* error);
  // Keeps what the plug-in left on the requests, in one transaction.
  bool Store(Step step, const RequestSet& set, SnapshotRecord* snapshot,
             std::string* error);
  // Takes what the plug-in left on the requests into `snapshot` (memory
  // only).
  void Absorb(Step step, const RequestSet& set, SnapshotRecord* snapshot);

  // Host type of the (simulated or real) local host: "linux" or "vmware".
  std::string HostType();
  std::string HostName();
  // ESX hosts: the host's device descriptions ("{idatype:vmware,...}").
  bool EsxEntries(std::vector<std::string>* entries);
  long long NowSeconds();

 private:
  bool LoadArrayNumbers(std::string* error);
  // Announces fixed waits and records the job's commands.
  void WatchProgress();
  bool FlushCall(std::string* error);

  GlobalOptions options_;
  Output* out_;
  Home home_;
  hostrt::IniFile settings_;
  std::unique_ptr<hostrt::PosixEnv> env_;
  std::unique_ptr<hostrt::Env> hostEnv_;  // the simulated host over env_, if any
  hostrt::Env* previousEnv_ = nullptr;
  std::unique_ptr<Catalog> catalog_;
  hostrt::HostDatabase* database_ = nullptr;  // owned by env_
  hostrt::HostDatabaseAdmin* admin_ = nullptr;
  std::unique_ptr<Plugin> plugin_;
  std::map<std::string, std::string> snapConfigs_;
  std::map<std::string, int> arrayNumbers_;
  std::map<long long, HeldLock> jobLocks_;
  std::map<int, HeldLock> snapshotLocks_;
  // The plug-in call being written through.
  std::mutex callMu_;
  Step callStep_ = Step::kPrepare;
  std::vector<CallPart> callParts_;
  std::vector<std::set<size_t>> callDirty_;
  std::string callError_;  // sticky: a write failed, no tool may start
  bool inCall_ = false;
  std::chrono::steady_clock::time_point callStart_;
  long long currentJob_ = 0;  // the job whose commands are recorded
};

// The status the host presents for a device: what the host knows of its
// snapshot, not the outcome of the last call (a failed revert must not make
// a mounted snapshot look unmounted).
int PresentedStatus(const DeviceRecord& device);

// The "path" item of an ESX device description (empty when none).
std::string EsxEntryPath(const std::string& entry);
constexpr const char* kEsxEntryPrefix = "{idatype:vmware";

}  // namespace pzhost
