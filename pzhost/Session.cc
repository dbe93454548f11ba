#include "pzhost/Session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/HostConstants.h"
#include "hostruntime/HostSystem.h"

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
  previousEnv_ = hostrt::SetCurrentEnv(env_.get());
  // The catalog is this host's own record and stays in the home's file,
  // whichever database holds the arrays and reservations.
  catalog_ = Catalog::Open(DatabasePath(home_, settings_), error);
  if (!catalog_ || !catalog_->SnapConfigs(&snapConfigs_, error)) return false;
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
  hostrt::HostSystem* system = env_->System();
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
  if (!AllocateJobId(jobId, &error) ||
      !catalog_->BeginJob(operation, snapshotId, int(getpid()), HostName(),
                          NowSeconds(), jobId, &error)) {
    out_->Error(error);
    return false;
  }
  return true;
}

void Session::EndJob(long long jobId, int result) {
  std::string error;
  if (!catalog_->EndJob(jobId, result, NowSeconds(), &error))
    out_->Error(error);
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
  for (size_t i = 0; i < set.requests.size(); ++i) {
    const hostrt::HostSnapInfo& r = *set.requests[i];
    DeviceRecord& d = snapshot->devices[i];
    d.status = r.status;
    d.errorCode = r.errorCode;
    d.errorText = r.errorText;
    d.devicePath = r.devicePath;
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
  return catalog_->SaveSnapshot(*snapshot, error);
}

}  // namespace pzhost
