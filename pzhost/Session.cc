#include "pzhost/Session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>

#include "host/HostConstants.h"
#include "hostruntime/HostSystem.h"
#include "simulator/hostenv/SimulatedHostEnv.h"

namespace pzhost {

namespace {

constexpr const char* kHostTypeLinux = "linux";
constexpr const char* kHostTypeVmware = "vmware";
constexpr uint64_t kCloneJobFlags =
    PZSO::JOB_FLAG_CLONE_MOUNT | PZSO::JOB_FLAG_DECOUPLED_CLONE;

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    return false;
  *value = int(v);
  return true;
}

// First field of the snapshot identifier metadata "serial|device|name|".
std::string SerialOf(const std::map<int, std::string>& metadata) {
  auto it = metadata.find(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  if (it == metadata.end()) return std::string();
  return it->second.substr(0, it->second.find('|'));
}

}  // namespace

int PzRequest::setArrayInfo(const char* arrayId) {
  int rc = hostrt::HostSnapInfo::setArrayInfo(arrayId);
  if (rc == 0) TakeArrayNumber(arrayId);
  return rc;
}

// A request whose array the host already holds is on that array as well.
int PzRequest::findArrayInfoInCache(const char* arrayId) {
  int rc = hostrt::HostSnapInfo::findArrayInfoInCache(arrayId);
  if (rc == 0) TakeArrayNumber(arrayId);
  return rc;
}

void PzRequest::TakeArrayNumber(const char* arrayId) {
  if (!arrayNumbers_ || !arrayId) return;
  auto it = arrayNumbers_->find(arrayId);
  if (it != arrayNumbers_->end()) arrayNum = it->second;
}

int PresentedStatus(const DeviceRecord& d) {
  if (d.mounted) return PZSO::SNAP_STATUS_MAPPED;
  if (!d.created) return PZSO::SNAP_STATUS_NO_SNAPSHOT;
  return d.status;
}

Session::Session(const GlobalOptions& options, Output* out)
    : options_(options), out_(out) {
  home_.dir = ResolveHomeDir(options.home);
}

Session::~Session() {
  plugin_.reset();
  catalog_.reset();
  if (env_) hostrt::SetCurrentEnv(previousEnv_);
  hostEnv_.reset();
}

bool Session::Open(std::string* error, bool withDatabase) {
  if (!IsInitialized(home_)) {
    if (error)
      *error = "no pzhost home at " + home_.dir +
               " (create one with: pzhost --home " + home_.dir +
               " init --symcli-home DIR)";
    return false;
  }
  if (!LoadSettings(home_, &settings_, error)) return false;
  env_.reset(new hostrt::PosixEnv(home_.dir));
  std::string why;
  if (!env_->ReloadSettings(&why)) {
    if (error) *error = "cannot read the settings: " + why;
    return false;
  }
  // A simulated host, when the settings name one, plays this machine's
  // host side; everything else stays with the real environment.
  why.clear();
  hostEnv_ = symsim::SimulatedHostFromSettings(env_.get(), &why);
  if (!hostEnv_ && !why.empty()) {
    if (error) *error = why;
    return false;
  }
  previousEnv_ = hostrt::SetCurrentEnv(hostEnv_ ? hostEnv_.get() : env_.get());
  // The catalog is this host's own record and stays in the home's file,
  // whichever database holds the arrays and reservations.
  // A home whose file is gone must not quietly start an empty catalog: the
  // array may hold snapshots and links that only the old file names.
  std::string catalogPath = DatabasePath(home_, settings_);
  if (::access(catalogPath.c_str(), F_OK) != 0) {
    if (error)
      *error = "the host database " + catalogPath +
               " is missing: restore it from a backup, or run pzhost --home " +
               home_.dir + " init to start an empty one (then pzhost reconcile)";
    return false;
  }
  catalog_ = Catalog::Open(catalogPath, error);
  if (!catalog_ || !catalog_->SnapConfigs(&snapConfigs_, error)) return false;
  WatchProgress();
  std::vector<JobRecord> interrupted;
  if (!SweepInterrupted(&interrupted, error)) return false;
  if (!withDatabase) return true;
  database_ = env_->OpenDatabase(&why);
  admin_ = hostrt::AdminOf(database_);
  if (!database_ || !admin_) {
    if (error)
      *error = "the host database is not available: " +
               (database_ ? std::string("it has no administration side") : why);
    database_ = nullptr;
    admin_ = nullptr;
    return false;
  }
  return LoadArrayNumbers(error);
}

namespace {

constexpr double kMsPerSec = 1000.0;
constexpr long long kMicrosPerMs = 1000;

// "10 s", "250 ms", "1.5 s".
std::string Seconds(double ms) {
  long long whole = (long long)ms;
  if (double(whole) == ms && whole % (long long)kMsPerSec == 0)
    return std::to_string(whole / (long long)kMsPerSec) + " s";
  if (ms < kMsPerSec) return std::to_string(whole) + " ms";
  char text[32];
  snprintf(text, sizeof text, "%.1f s", ms / kMsPerSec);
  return text;
}

const char* StepName(Step step) {
  switch (step) {
    case Step::kPrepare: return "prepare";
    case Step::kSnap: return "snapshot";
    case Step::kMap: return "mount";
    case Step::kUnmap: return "unmount";
    case Step::kRevert: return "revert";
    case Step::kDelete: return "delete";
    case Step::kReconcile: return "reconcile";
  }
  return "step";
}

// What a fixed wait in a step is for, as far as the host can tell.
const char* WaitPurpose(Step step, bool inCall) {
  if (!inCall) return "before the next step";
  switch (step) {
    case Step::kMap: return "before rescanning for the linked devices";
    case Step::kRevert:
    case Step::kDelete: return "before asking the array again";
    default: return "before the next step";
  }
}

}  // namespace

void Session::WatchProgress() {
  env_->SetWaitObserver([this](int64_t ms) {
    bool inCall;
    Step step;
    {
      std::lock_guard<std::mutex> lock(callMu_);
      inCall = inCall_;
      step = callStep_;
    }
    out_->Progress("waiting " + Seconds(double(ms)) + " " +
                   WaitPurpose(step, inCall));
  });
  // Every array command of a job goes to its timeline in the catalog.
  env_->SetCommandObserver([this](const hostrt::PosixEnv::CommandRecord& c) {
    std::lock_guard<std::mutex> lock(callMu_);
    if (currentJob_ == 0) return;
    JobCommand command;
    command.durationMs = c.durationMs;
    command.startedMs = env_->NowMicros() / kMicrosPerMs - c.durationMs;
    command.exitCode = c.exitCode;
    command.timedOut = c.killedAtLimit;
    command.commandLine = c.commandLine;
    std::string why;
    if (!catalog_->AddJobCommand(currentJob_, command, &why))
      out_->Progress("cannot record the command in the job's timeline: " + why);
  });
}

namespace {

// `count` ids of `kind` from the host database, above those of the catalog.
bool AllocateIds(hostrt::HostDatabaseAdmin* admin, Catalog* catalog,
                 hostrt::HostIdKind kind, int count, long long* first,
                 std::string* error) {
  if (!admin) {
    if (error) *error = "the host database is not available";
    return false;
  }
  long long snapIds = 0, jobIds = 0;
  if (!catalog->HighestIds(&snapIds, &jobIds, error)) return false;
  long long floor = kind == hostrt::HostIdKind::kSmSnapId ? snapIds : jobIds;
  return admin->AllocateIds(kind, count, floor + 1, first, error);
}

}  // namespace

bool Session::AllocateSnapIds(SnapshotRecord* snapshot, std::string* error) {
  if (snapshot->devices.empty()) return true;
  long long first = 0;
  if (!AllocateIds(admin_, catalog_.get(), hostrt::HostIdKind::kSmSnapId,
                   int(snapshot->devices.size()), &first, error))
    return false;
  for (size_t i = 0; i < snapshot->devices.size(); ++i)
    snapshot->devices[i].smSnapId = int(first + (long long)i);
  return true;
}

bool Session::AllocateJobId(long long* jobId, std::string* error) {
  return AllocateIds(admin_, catalog_.get(), hostrt::HostIdKind::kJobId, 1, jobId,
                     error);
}

bool Session::LoadArrayNumbers(std::string* error) {
  std::vector<hostrt::ArrayDetailsRow> rows;
  if (!admin_->ListArrayDetails(&rows, error)) return false;
  arrayNumbers_.clear();
  for (const hostrt::ArrayDetailsRow& r : rows)
    arrayNumbers_[r.arrayName] = r.arrayNumber;
  return true;
}

bool Session::LoadPlugin(std::string* error) {
  if (plugin_) return true;
  std::string setting;
  settings_.Get(kSectionHost, kKeyPluginPath, &setting);
  plugin_ = Plugin::Load(
      LocatePlugin(options_.plugin, setting, ProgramDirectory()), error);
  return plugin_ != nullptr;
}

long long Session::NowSeconds() { return env_->NowMicros() / 1000000; }

std::string Session::HostName() { return env_->HostName(); }

std::string Session::HostType() {
  // The installed environment: a simulated host plays the host side.
  hostrt::HostSystem* system = hostrt::CurrentEnv()->System();
  if (!system) return kHostTypeLinux;
  return system->HostType(std::string()) == kHostTypeVmware ? kHostTypeVmware
                                                            : kHostTypeLinux;
}

bool Session::EsxEntries(std::vector<std::string>* entries) {
  hostrt::HostOSUtil util;
  return util.getLocalDeviceList(nullptr, "", *entries) == 0;
}

std::string EsxEntryPath(const std::string& entry) {
  static const std::string kItem = "path:";
  size_t at = entry.find(kItem);
  if (entry.compare(0, strlen(kEsxEntryPrefix), kEsxEntryPrefix) != 0 ||
      at == std::string::npos)
    return std::string();
  at += kItem.size();
  size_t end = entry.find_first_of(",}", at);
  return entry.substr(at, end == std::string::npos ? std::string::npos
                                                   : end - at);
}

bool Session::BeginJob(const std::string& operation, int snapshotId,
                       long long* jobId) {
  std::string error;
  *jobId = 0;
  HeldLock lock;
  bool busy = false;
  if (!AllocateJobId(jobId, &error) ||
      !HeldLock::TryTake(JobLockPath(home_.dir, *jobId), &lock, &busy, &error) ||
      !catalog_->BeginJob(operation, snapshotId, int(getpid()), HostName(),
                          NowSeconds(), jobId, &error)) {
    if (busy) error = "job " + std::to_string(*jobId) + " is locked already";
    out_->Error(error);
    return false;
  }
  jobLocks_[*jobId] = std::move(lock);
  {
    std::lock_guard<std::mutex> current(callMu_);
    currentJob_ = *jobId;
  }
  env_->SetJobId(*jobId);
  auto held = snapshotLocks_.find(snapshotId);
  if (held != snapshotLocks_.end())
    held->second.SetText("job " + std::to_string(*jobId) + " (" + operation +
                             ", pid " + std::to_string(getpid()) + ")",
                         nullptr);
  return true;
}

void Session::EndJob(long long jobId, int result) {
  std::string error;
  {
    std::lock_guard<std::mutex> current(callMu_);
    if (currentJob_ == jobId) currentJob_ = 0;
  }
  env_->SetJobId(0);
  bool ended = catalog_->EndJob(jobId, result, NowSeconds(), &error);
  if (!ended) out_->Error(error);
  // Only a recorded end frees the lock: otherwise the job reads as
  // interrupted, which is what it is.
  auto held = jobLocks_.find(jobId);
  if (held != jobLocks_.end() && ended) {
    held->second.Release(true);
    jobLocks_.erase(held);
  }
}

bool Session::LockSnapshot(int snapshotId, std::string* error) {
  if (snapshotLocks_.count(snapshotId)) return true;
  HeldLock lock;
  bool busy = false;
  std::string path = SnapshotLockPath(home_.dir, snapshotId);
  if (!HeldLock::TryTake(path, &lock, &busy, error)) {
    if (busy && error) {
      std::string holder = LockText(path);
      *error = "snapshot " + std::to_string(snapshotId) + " is in use by " +
               (holder.empty() ? std::string("another job") : holder) +
               "; try again when it has ended";
    }
    return false;
  }
  snapshotLocks_[snapshotId] = std::move(lock);
  return true;
}

bool Session::SweepInterrupted(std::vector<JobRecord>* found,
                               std::string* error) {
  found->clear();
  std::vector<JobRecord> open;
  if (!catalog_->OpenJobs(&open, error)) return false;
  for (JobRecord& job : open) {
    if (job.host != HostName()) continue;
    std::string path = JobLockPath(home_.dir, job.id);
    if (IsLockHeld(path)) continue;
    bool marked = false;
    if (!catalog_->MarkInterrupted(job.id, NowSeconds(), &marked, error))
      return false;
    ::unlink(path.c_str());
    if (!marked) continue;  // it ended meanwhile
    job.result = kJobResultInterrupted;
    found->push_back(job);
  }
  return true;
}

void Session::BeginCall(Step step, const std::vector<CallPart>& parts) {
  std::lock_guard<std::mutex> lock(callMu_);
  callStep_ = step;
  callParts_ = parts;
  callDirty_.assign(parts.size(), std::set<size_t>());
  callError_.clear();
  inCall_ = true;
  callStart_ = std::chrono::steady_clock::now();
  for (size_t p = 0; p < parts.size(); ++p) {
    for (size_t i = 0; i < parts[p].set->requests.size(); ++i) {
      parts[p].set->requests[i]->onChange = [this, p,
                                             i](const hostrt::HostSnapInfo&) {
        std::lock_guard<std::mutex> changed(callMu_);
        if (p < callDirty_.size()) callDirty_[p].insert(i);
      };
    }
  }
  env_->SetCheckpoint(
      [this](std::string* error) { return FlushCall(error); });
}

bool Session::FlushCall(std::string* error) {
  std::lock_guard<std::mutex> lock(callMu_);
  if (!callError_.empty()) {
    if (error) *error = callError_;
    return false;
  }
  for (size_t p = 0; p < callParts_.size(); ++p) {
    if (callDirty_[p].empty()) continue;
    Absorb(callStep_, *callParts_[p].set, callParts_[p].snapshot);
    std::vector<size_t> positions(callDirty_[p].begin(), callDirty_[p].end());
    std::string why;
    if (!catalog_->SaveDevices(*callParts_[p].snapshot, positions, &why)) {
      callError_ = "cannot keep the job's state in the catalog: " + why;
      if (error) *error = callError_;
      return false;
    }
    callDirty_[p].clear();
  }
  return true;
}

bool Session::EndCall(std::string* error) {
  env_->SetCheckpoint(nullptr);
  std::vector<CallPart> parts;
  {
    std::lock_guard<std::mutex> lock(callMu_);
    parts.swap(callParts_);
    callDirty_.clear();
    callError_.clear();
    inCall_ = false;
  }
  out_->Progress(
      std::string(StepName(callStep_)) + " step took " +
      Seconds(std::chrono::duration<double, std::milli>(
                  std::chrono::steady_clock::now() - callStart_)
                  .count()));
  bool ok = true;
  for (const CallPart& part : parts) {
    for (hostrt::HostSnapInfo* r : part.set->requests) r->onChange = nullptr;
    std::string why;
    if (!Store(callStep_, *part.set, part.snapshot, &why)) {
      if (error && ok) *error = why;
      ok = false;
    }
  }
  return ok;
}

bool Session::MakeRequests(const SnapshotRecord& snapshot, long long jobId,
                           RequestSet* set, std::string* error) {
  set->owned.clear();
  set->requests.clear();
  set->raw.clear();
  if (snapshot.devices.empty()) {
    if (error) *error = "snapshot " + std::to_string(snapshot.id) +
                        " has no devices";
    return false;
  }
  std::string hostType = HostType();
  std::string vmHost;
  if (hostType == kHostTypeVmware)
    settings_.Get(kSectionHost, kKeySimulatedHost, &vmHost);
  auto cache = std::make_shared<hostrt::ArrayInfoCache>();
  Output* out = out_;
  for (const DeviceRecord& d : snapshot.devices) {
    std::unique_ptr<PzRequest> r(new PzRequest(&arrayNumbers_));
    r->sourceDevice = d.source;
    r->snapFlags = d.snapFlags;
    r->jobFlags = d.jobFlags;
    r->status = PresentedStatus(d);
    r->metadata = d.metadata;
    for (const auto& c : snapConfigs_) {
      r->snapConfigStrings[c.first] = c.second;
      int v;
      if (ParseInt(c.second, &v)) r->snapConfigInts[c.first] = v;
    }
    r->jobId = jobId;
    r->smSnapId = d.smSnapId;
    r->mountId = d.mountId;
    r->arrayNum = d.arrayNum;
    r->devicePath = d.devicePath;
    r->snapUniqueId = snapshot.name;
    r->hostTypeInfo = hostType;
    r->vmHostId = vmHost;
    r->arrayInfoCache = cache;
    r->onEvent = [out](int severity, const std::string& text) {
      out->Event(severity, text);
    };
    r->onLog = [out](int level, const std::string& function,
                     const std::string& text) {
      out->PluginLog(level, function, text);
    };
    set->requests.push_back(r.get());
    set->raw.push_back(r.get());
    set->owned.push_back(std::move(r));
  }
  return true;
}

bool Session::Store(Step step, const RequestSet& set, SnapshotRecord* snapshot,
                    std::string* error) {
  if (set.requests.size() != snapshot->devices.size()) {
    if (error) *error = "request array does not match the snapshot";
    return false;
  }
  Absorb(step, set, snapshot);
  return catalog_->SaveSnapshot(*snapshot, error);
}

void Session::Absorb(Step step, const RequestSet& set, SnapshotRecord* snapshot) {
  if (set.requests.size() != snapshot->devices.size()) return;
  for (size_t i = 0; i < set.requests.size(); ++i) {
    const hostrt::HostSnapInfo& r = *set.requests[i];
    DeviceRecord& d = snapshot->devices[i];
    d.status = r.status;
    d.errorCode = r.errorCode;
    d.errorText = r.errorText;
    d.devicePath = r.devicePath;
    // Taken afresh each time: the clone flags below are cleared on the
    // record only, so a write-through before the link keeps the request's.
    d.snapFlags = r.snapFlags;
    d.jobFlags = r.jobFlags;
    d.metadata = r.metadata;
    d.arrayNum = r.arrayNum;
    // The array of the identifier metadata names the device's array number.
    auto number = arrayNumbers_.find(SerialOf(d.metadata));
    if (number != arrayNumbers_.end()) d.arrayNum = number->second;
    bool linked = d.metadata.count(PZSO::SM_MDT_MAPPED_TARGET_DEVICE) &&
                  !d.metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE].empty();
    switch (step) {
      case Step::kPrepare:
        break;
      case Step::kSnap:
        d.created = d.status == PZSO::SNAP_STATUS_CREATED;
        break;
      case Step::kMap:
        // A failed mount may leave the target linked; the unmount undoes it.
        d.mounted = d.status == PZSO::SNAP_STATUS_MAPPED || linked;
        if (!d.mounted) {
          d.snapFlags &= ~unsigned(PZSO::SNAP_FLAG_CLONE_MOUNT);
          d.jobFlags &= ~kCloneJobFlags;
        }
        break;
      case Step::kUnmap:
        if (d.status == PZSO::SNAP_STATUS_UNMAPPED) {
          d.mounted = false;
          d.devicePath.clear();
          d.snapFlags &= ~unsigned(PZSO::SNAP_FLAG_CLONE_MOUNT);
          d.jobFlags &= ~kCloneJobFlags;
        }
        break;
      case Step::kRevert:
        break;
      case Step::kDelete:
        if (d.status == PZSO::SNAP_STATUS_DELETED) d.created = false;
        break;
      case Step::kReconcile:
        if (d.status == PZSO::SNAP_STATUS_VANISHED) d.created = false;
        break;
    }
  }
  if (snapshot->name.empty() && !set.requests.empty())
    snapshot->name = set.requests[0]->snapUniqueId;
  if (!snapshot->devices.empty()) {
    std::string serial = SerialOf(snapshot->devices[0].metadata);
    if (!serial.empty()) snapshot->array = serial;
  }
}

}  // namespace pzhost
