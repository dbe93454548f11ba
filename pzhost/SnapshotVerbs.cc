// backup, list, mount, unmount, revert, delete and reconcile: each one job
// of plug-in calls over the catalog's requests.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <cstring>
#include <set>

#include "hostruntime/ProcessRunner.h"

#include "host/HostConstants.h"
#include "pzhost/Inquiry.h"
#include "pzhost/SnapName.h"
#include "pzhost/Verbs.h"

namespace pzhost {

namespace {

constexpr size_t kWwnDigits = 32;

std::string MetadataItem(const DeviceRecord& d, int type) {
  auto it = d.metadata.find(type);
  return it == d.metadata.end() ? std::string() : it->second;
}

nlohmann::json DeviceJson(const DeviceRecord& d) {
  nlohmann::json j = {
      {"smSnapId", d.smSnapId},
      {"source", d.source},
      {"status", d.status},
      {"statusName", StatusName(d.status)},
      {"errorCode", d.errorCode},
      {"errorText", d.errorText},
      {"snapFlags", d.snapFlags},
      {"jobFlags", d.jobFlags},
      {"devicePath", d.devicePath},
      {"mountId", d.mountId},
      {"arrayNum", d.arrayNum},
      {"created", d.created},
      {"mounted", d.mounted},
  };
  nlohmann::json md = nlohmann::json::object();
  for (const auto& m : d.metadata) md[std::to_string(m.first)] = m.second;
  j["metadata"] = md;
  // The array device the snapshot is linked to and where the host sees it.
  std::string target = MetadataItem(d, PZSO::SM_MDT_MAPPED_TARGET_DEVICE);
  if (target.empty()) target = MetadataItem(d, PZSO::SM_MDT_MOUNT_TARGET_DEVICE);
  j["target"] = DeviceNumber(target);
  j["mountPath"] = d.mounted ? d.devicePath : std::string();
  return j;
}

nlohmann::json SnapshotJson(const SnapshotRecord& s) {
  nlohmann::json j = {{"id", s.id},
                      {"name", s.name},
                      {"array", s.array},
                      {"jobId", s.jobId},
                      {"created", s.created}};
  j["devices"] = nlohmann::json::array();
  for (const DeviceRecord& d : s.devices) j["devices"].push_back(DeviceJson(d));
  return j;
}

std::string DeviceLine(const DeviceRecord& d) {
  std::string line = "  [" + std::to_string(d.smSnapId) + "] " + d.source +
                     ": " + StatusName(d.status);
  std::string target = MetadataItem(d, PZSO::SM_MDT_MAPPED_TARGET_DEVICE);
  if (!target.empty()) line += ", target " + DeviceNumber(target);
  if (!d.devicePath.empty()) line += ", mounted at " + d.devicePath;
  if (d.errorCode != 0 || !d.errorText.empty())
    line += "; error " + std::to_string(d.errorCode) + ": " + d.errorText;
  return line;
}

void ShowSnapshot(Session& s, const SnapshotRecord& snap) {
  s.out().Line("snapshot " + std::to_string(snap.id) + " " + snap.name +
               (snap.array.empty() ? "" : " on array " + snap.array));
  for (const DeviceRecord& d : snap.devices) s.out().Line(DeviceLine(d));
}

// Loads a snapshot of the catalog or says why not.
bool LoadSnapshot(Session& s, int id, SnapshotRecord* snap) {
  std::string error;
  bool found = false;
  if (!s.catalog().GetSnapshot(id, snap, &found, &error)) {
    s.out().Error(error);
    return false;
  }
  if (!found) {
    s.out().Error("no snapshot " + std::to_string(id) + " in the catalog");
    return false;
  }
  return true;
}

bool AnyMounted(const SnapshotRecord& snap) {
  for (const DeviceRecord& d : snap.devices)
    if (d.mounted) return true;
  return false;
}

bool IsHexText(const std::string& text) {
  for (char c : text)
    if (!isxdigit((unsigned char)c)) return false;
  return true;
}

// Shows the job's outcome and the first device error as the verb's error.
int Finish(Session& s, const char* verb, long long jobId, int rc,
           const SnapshotRecord& snap) {
  int code = rc == kPzsoSuccess   ? kExitSuccess
             : rc == kPzsoPartial ? kExitPartial
                                  : kExitFailure;
  int signal = hostrt::CancelSignal();
  if (signal != 0) code = kExitSignalBase + signal;
  s.EndJob(jobId, code);
  s.out().FlushPluginFailures(code != kExitSuccess);
  ShowSnapshot(s, snap);
  nlohmann::json& doc = s.out().doc();
  doc["verb"] = verb;
  doc["jobId"] = jobId;
  doc["snapshot"] = SnapshotJson(snap);
  if (signal != 0) {
    s.out().Error(std::string(verb) + " stopped by " + strsignal(signal) +
                  " (job " + std::to_string(jobId) +
                  "); what it did is in the catalog");
  } else if (code != kExitSuccess) {
    std::string why;
    for (const DeviceRecord& d : snap.devices) {
      if (d.errorCode != 0 || !d.errorText.empty()) {
        why = d.source + ": error " + std::to_string(d.errorCode) + ": " +
              d.errorText;
        break;
      }
    }
    s.out().Error(std::string(verb) + (code == kExitPartial
                                           ? " partly failed"
                                           : " failed") +
                  " (job " + std::to_string(jobId) + ")" +
                  (why.empty() ? "" : ": " + why));
  } else {
    s.out().Line(std::string(verb) + " done (job " + std::to_string(jobId) +
                 ")");
  }
  return code;
}

// One export over `set`, written through to the catalog as it goes.
int CallPlugin(Session& s, Step step, PzsoOpFn fn, RequestSet* set,
               SnapshotRecord* snap, long long jobId) {
  s.BeginCall(step, {{set, snap}});
  int rc;
  {
    hostrt::HostOSUtil util(set->requests, long(jobId));
    rc = fn(set->data(), set->count(), &util);
  }
  std::string error;
  if (!s.EndCall(&error)) {
    s.out().Error("cannot store the outcome in the catalog: " + error);
    rc = kPzsoFailure;
  }
  return rc;
}

// The newest job of a snapshot when its process died before it ended.
bool InterruptedJob(Session& s, int snapshotId, JobRecord* job) {
  bool found = false;
  return s.catalog().LastJobOf(snapshotId, job, &found, nullptr) && found &&
         job->result == kJobResultInterrupted;
}

// What to run after an interrupted job of `verb` on snapshot `id`.
std::string RecoveryHint(const std::string& verb, int id) {
  std::string n = std::to_string(id);
  if (verb == "backup")
    return "run pzhost reconcile; then pzhost adopt " + n +
           " keeps what the array holds, pzhost delete " + n + " removes it";
  if (verb == "mount" || verb == "unmount")
    return "run pzhost unmount " + n + " (or mount it again)";
  if (verb == "revert") return "run pzhost revert --yes " + n + " again";
  return "run pzhost " + verb + " " + n + " again";
}

}  // namespace

int RunBackup(Session& s, const std::vector<std::string>& devices, bool wwn,
              bool postSnap) {
  Output& out = s.out();
  if (devices.empty()) {
    out.Error("backup needs at least one device");
    return kExitFailure;
  }
  if (devices.size() > size_t(SHRT_MAX)) {
    out.Error("too many devices for one job");
    return kExitFailure;
  }
  std::set<std::string> seen;
  for (const std::string& d : devices) {
    if (!seen.insert(d).second) {
      out.Error("device " + d + " is named twice");
      return kExitFailure;
    }
    if (wwn && (d.size() != kWwnDigits || !IsHexText(d))) {
      out.Error("--wwn sources are 32 hexadecimal digits, not " + d);
      return kExitFailure;
    }
  }
  std::string error;
  if (!s.LoadPlugin(&error)) {
    out.Error(error);
    return kExitFailure;
  }
  // On an ESX host the plug-in reads a device from its ESX description.
  std::vector<std::string> sources = devices;
  if (s.HostType() == "vmware") {
    std::vector<std::string> entries;
    s.EsxEntries(&entries);
    for (std::string& src : sources) {
      if (src.compare(0, strlen(kEsxEntryPrefix), kEsxEntryPrefix) == 0)
        continue;
      for (const std::string& e : entries)
        if (EsxEntryPath(e) == src) src = e;
    }
  }
  long long jobId = 0;
  if (!s.BeginJob("backup", 0, &jobId)) return kExitFailure;

  SnapshotRecord snap;
  snap.name = MakeSnapName(s.NowSeconds(), s.HostName(), RandomBits());
  snap.jobId = jobId;
  snap.created = s.NowSeconds();
  for (const std::string& d : sources) {
    DeviceRecord r;
    r.source = d;
    if (wwn) r.snapFlags |= PZSO::SNAP_FLAG_SOURCE_IS_WWN;
    snap.devices.push_back(r);
  }
  RequestSet set;
  if (!s.AllocateSnapIds(&snap, &error) ||
      !s.catalog().CreateSnapshot(&snap, &error) ||
      !s.catalog().SetJobSnapshot(jobId, snap.id, &error) ||
      !s.LockSnapshot(snap.id, &error) ||
      !s.MakeRequests(snap, jobId, &set, &error)) {
    out.Error(error);
    s.EndJob(jobId, kExitFailure);
    return kExitFailure;
  }
  out.Line("backup job " + std::to_string(jobId) + ": snapshot " +
           std::to_string(snap.id) + " " + snap.name);

  const PluginExports& e = s.plugin().exports();
  int rc = CallPlugin(s, Step::kPrepare, e.prepareDevices, &set, &snap, jobId);
  if (rc != kPzsoSuccess) {
    // Nothing exists on the array after a failed prepare: the catalog
    // keeps no snapshot for it.
    int code = Finish(s, "backup", jobId, rc, snap);
    if (!s.catalog().RemoveSnapshot(snap.id, &error)) out.Error(error);
    return code;
  }
  rc = CallPlugin(s, Step::kSnap, postSnap ? e.postSnapDevices : e.snapDevices,
                  &set, &snap, jobId);
  int code = Finish(s, "backup", jobId, rc, snap);
  out.doc()["snapshotId"] = snap.id;
  if (code == kExitSuccess) out.Line("snapshot id " + std::to_string(snap.id));
  return code;
}

int RunList(Session& s, bool all) {
  std::vector<SnapshotRecord> snaps;
  std::string error;
  if (!s.catalog().ListSnapshots(&snaps, &error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  nlohmann::json list = nlohmann::json::array();
  int shown = 0;
  for (const SnapshotRecord& snap : snaps) {
    bool gone = true;
    for (const DeviceRecord& d : snap.devices)
      if (d.status != PZSO::SNAP_STATUS_DELETED) gone = false;
    if (gone && !all) continue;
    ShowSnapshot(s, snap);
    nlohmann::json j = SnapshotJson(snap);
    JobRecord job;
    if (InterruptedJob(s, snap.id, &job)) {
      std::string hint = RecoveryHint(job.operation, snap.id);
      s.out().Line("  interrupted: " + job.operation + " job " +
                   std::to_string(job.id) + " ended without recording its "
                   "outcome; " + hint);
      j["interrupted"] = {{"jobId", job.id},
                          {"verb", job.operation},
                          {"recovery", hint}};
    }
    list.push_back(j);
    ++shown;
  }
  if (shown == 0) s.out().Line("no snapshots in the catalog");
  s.out().doc()["snapshots"] = list;
  return kExitSuccess;
}

namespace {

// Runs one export over every device of a snapshot as a new job.
int RunSnapshotJob(Session& s, const char* verb, Step step, PzsoOpFn fn,
                   SnapshotRecord* snap) {
  std::string error;
  long long jobId = 0;
  if (!s.BeginJob(verb, snap->id, &jobId)) return kExitFailure;
  if (step == Step::kMap) {
    for (DeviceRecord& d : snap->devices) d.mountId = int(jobId);
  }
  RequestSet set;
  if (!s.MakeRequests(*snap, jobId, &set, &error)) {
    s.out().Error(error);
    s.EndJob(jobId, kExitFailure);
    return kExitFailure;
  }
  int rc = CallPlugin(s, step, fn, &set, snap, jobId);
  return Finish(s, verb, jobId, rc, *snap);
}

// Takes the snapshot's lock (one job a snapshot), then reads it.
bool Prepare(Session& s, int id, SnapshotRecord* snap) {
  std::string error;
  if (!s.LockSnapshot(id, &error)) {
    s.out().Error(error);
    return false;
  }
  if (!LoadSnapshot(s, id, snap)) return false;
  if (!s.LoadPlugin(&error)) {
    s.out().Error(error);
    return false;
  }
  return true;
}

}  // namespace

namespace {

bool AllMapped(const SnapshotRecord& snap) {
  for (const DeviceRecord& d : snap.devices)
    if (d.status != PZSO::SNAP_STATUS_MAPPED) return false;
  return true;
}

// Unmaps the snapshot and then frees what the array no longer links; the
// snapshot's lock is held.
int Unmount(Session& s, SnapshotRecord* snap) {
  int code = RunSnapshotJob(s, "unmount", Step::kUnmap,
                            s.plugin().exports().unmapSnaps, snap);
  if (hostrt::CancelSignal() != 0) return code;
  int released = 0;
  std::string error;
  if (!ReleaseUnlinkedReservations(s, *snap, &released, &error)) {
    s.out().Error("reservations of snapshot " + std::to_string(snap->id) +
                  " were not checked: " + error +
                  " (pzhost reservations --reconcile frees them later)");
  } else if (released > 0) {
    s.out().Line("released " + std::to_string(released) +
                 " reservation(s) of targets no longer linked");
  }
  return code;
}

// A mounted snapshot is refused with `refusal`; what a mount that failed or
// was interrupted left on the array is unmounted first, so the verb starts
// clean. False (with the exit code) when the verb must not go on.
bool ClearEarlierMount(Session& s, SnapshotRecord* snap, const char* refusal,
                       const char* notDone, int* code) {
  if (!AnyMounted(*snap)) return true;
  JobRecord job;
  std::string id = std::to_string(snap->id);
  if (AllMapped(*snap) && !InterruptedJob(s, snap->id, &job)) {
    s.out().Error("snapshot " + id + " " + refusal);
    *code = kExitFailure;
    return false;
  }
  s.out().Line("snapshot " + id +
               " holds what an earlier mount left; unmounting it first");
  *code = Unmount(s, snap);
  if (*code == kExitSuccess && !AnyMounted(*snap)) return true;
  s.out().Error("snapshot " + id + " could not be unmounted; " + notDone);
  if (*code == kExitSuccess) *code = kExitFailure;
  return false;
}

}  // namespace

int RunMount(Session& s, int id, bool clone) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  int code = kExitSuccess;
  if (!ClearEarlierMount(s, &snap, "is mounted already; unmount it first",
                         "it is not mounted again", &code))
    return code;
  for (DeviceRecord& d : snap.devices) {
    if (!d.created) {
      s.out().Error("snapshot " + std::to_string(id) + " device " + d.source +
                    " has no snapshot on the array (" +
                    StatusName(d.status) + ")");
      return kExitFailure;
    }
    if (clone) {
      d.snapFlags |= unsigned(PZSO::SNAP_FLAG_CLONE_MOUNT);
      d.jobFlags |= PZSO::JOB_FLAG_CLONE_MOUNT;
    }
  }
  code = RunSnapshotJob(s, "mount", Step::kMap,
                            s.plugin().exports().mapSnaps, &snap);
  nlohmann::json paths = nlohmann::json::array();
  for (const DeviceRecord& d : snap.devices) {
    if (d.devicePath.empty()) continue;
    // The plug-in found the path by INQUIRY against the array and target it
    // expected (status 12): what it matched is shown, not inquired again.
    std::string target =
        DeviceNumber(MetadataItem(d, PZSO::SM_MDT_MAPPED_TARGET_DEVICE));
    bool verified = d.status == PZSO::SNAP_STATUS_MAPPED;
    nlohmann::json p = {{"source", d.source},   {"path", d.devicePath},
                        {"serial", snap.array}, {"device", target},
                        {"verified", verified}};
    s.out().Line("  " + d.devicePath + ": array " + snap.array + ", device " +
                 target + (verified ? " (identified by INQUIRY)" : ""));
    paths.push_back(p);
  }
  s.out().doc()["paths"] = paths;
  return code;
}

namespace {

constexpr char kUidSeparator = '|';

// Second field of the snapshot identifier "serial|device|name|": the
// array device the snapshot was taken of.
std::string ArrayDeviceOf(const DeviceRecord& d) {
  std::string uid = MetadataItem(d, PZSO::SM_MDT_SNAP_UNIQUE_ID);
  size_t a = uid.find(kUidSeparator);
  if (a == std::string::npos) return std::string();
  size_t b = uid.find(kUidSeparator, a + 1);
  return b == std::string::npos ? std::string() : uid.substr(a + 1, b - a - 1);
}

// What `verb` would act on, from the catalog; no plug-in call and no array
// command is made.
int ShowPlan(Session& s, const std::string& verb, const SnapshotRecord& snap,
             const std::string& action) {
  s.out().Line("dry run: " + verb + " would " + action + " (snapshot " +
               std::to_string(snap.id) + " " + snap.name +
               (snap.array.empty() ? "" : " on array " + snap.array) + ")");
  nlohmann::json devices = nlohmann::json::array();
  for (const DeviceRecord& d : snap.devices) {
    std::string arrayDevice = ArrayDeviceOf(d);
    std::string target = MetadataItem(d, PZSO::SM_MDT_MAPPED_TARGET_DEVICE);
    std::string line = "  " + d.source;
    if (!arrayDevice.empty()) line += " (array device " + arrayDevice + ")";
    line += ": " + StatusName(d.status);
    if (!target.empty()) line += ", target " + target;
    if (!d.devicePath.empty()) line += ", mounted at " + d.devicePath;
    s.out().Line(line);
    devices.push_back({{"source", d.source},
                       {"arrayDevice", arrayDevice},
                       {"status", StatusName(d.status)},
                       {"target", target},
                       {"mountedPath", d.devicePath}});
  }
  s.out().Line("dry run: nothing changed");
  nlohmann::json& doc = s.out().doc();
  doc["verb"] = verb;
  doc["dryRun"] = true;
  doc["action"] = action;
  doc["snapshot"] = {{"id", snap.id}, {"name", snap.name}, {"array", snap.array}};
  doc["devices"] = devices;
  return kExitSuccess;
}

std::string SourceList(const SnapshotRecord& snap) {
  std::string list;
  for (const DeviceRecord& d : snap.devices)
    list += (list.empty() ? "" : ", ") + d.source;
  return list;
}

// Asks on the terminal whether to go on; without one, `--yes` is the
// only way to say so.
bool Confirmed(Session& s, const std::string& what) {
  if (!isatty(STDIN_FILENO)) {
    s.out().Error(what + "; no terminal to confirm on: pass --yes to go ahead "
                  "(--dry-run shows what it would act on)");
    return false;
  }
  fprintf(stderr, "%s; go on? [y/N] ", what.c_str());
  fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer) || (answer != "y" && answer != "yes")) {
    s.out().Error("not confirmed; nothing changed");
    return false;
  }
  return true;
}

// A snapshot whose devices a delete must unmount first: false (with the
// refusal shown) when it is properly mounted and must be unmounted by hand.
bool DeleteMayUnmount(Session& s, int id, const SnapshotRecord& snap) {
  JobRecord job;
  if (AllMapped(snap) && !InterruptedJob(s, id, &job)) {
    s.out().Error("snapshot " + std::to_string(id) +
                  " is mounted; unmount it before deleting it");
    return false;
  }
  return true;
}

}  // namespace

int RunUnmount(Session& s, int id, const ChangeOptions& o) {
  SnapshotRecord snap;
  if (o.dryRun) {
    if (!LoadSnapshot(s, id, &snap)) return kExitFailure;
  } else if (!Prepare(s, id, &snap)) {
    return kExitFailure;
  }
  if (!AnyMounted(snap)) {
    s.out().Error("snapshot " + std::to_string(id) + " is not mounted");
    return kExitFailure;
  }
  if (o.dryRun)
    return ShowPlan(s, "unmount", snap,
                    "unmount the targets from this host and unlink them");
  return Unmount(s, &snap);
}

int RunRevert(Session& s, int id, const ChangeOptions& o) {
  SnapshotRecord snap;
  // The question is asked before the snapshot's lock is taken, so no other
  // job waits on an operator's answer.
  if (!LoadSnapshot(s, id, &snap)) return kExitFailure;
  std::string action = "overwrite the source devices " + SourceList(snap) +
                       " with snapshot " + snap.name;
  if (o.dryRun) return ShowPlan(s, "revert", snap, action);
  if (!o.yes && !Confirmed(s, "revert would " + action))
    return kExitFailure;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  return RunSnapshotJob(s, "revert", Step::kRevert,
                        s.plugin().exports().revertSnaps, &snap);
}

int RunDelete(Session& s, int id, const ChangeOptions& o) {
  SnapshotRecord snap;
  if (o.dryRun) {
    if (!LoadSnapshot(s, id, &snap)) return kExitFailure;
    if (AnyMounted(snap) && !DeleteMayUnmount(s, id, snap)) return kExitFailure;
    return ShowPlan(s, "delete", snap,
                    std::string(AnyMounted(snap) ? "unmount what an earlier mount "
                                                   "left, then "
                                                 : "") +
                        "terminate the array snapshot and remove it from the "
                        "catalog");
  }
  if (!Prepare(s, id, &snap)) return kExitFailure;
  int code = kExitSuccess;
  if (!ClearEarlierMount(s, &snap, "is mounted; unmount it before deleting it",
                         "it is not deleted", &code))
    return code;
  // The plug-in checks what the array still has, so a snapshot that
  // vanished deletes without array work.
  SnapshotRecord work = snap;
  work.devices.clear();
  for (const DeviceRecord& d : snap.devices)
    if (d.status != PZSO::SNAP_STATUS_DELETED) work.devices.push_back(d);
  if (!work.devices.empty())
    code = RunSnapshotJob(s, "delete", Step::kDelete,
                          s.plugin().exports().deleteSnaps, &work);
  std::string error;
  bool gone = true;
  for (const DeviceRecord& d : work.devices)
    if (d.status != PZSO::SNAP_STATUS_DELETED) gone = false;
  if (gone) {
    if (!s.catalog().RemoveSnapshot(id, &error)) {
      s.out().Error(error);
      return kExitFailure;
    }
    s.out().Line("snapshot " + std::to_string(id) +
                 " removed from the catalog");
    s.out().doc()["removed"] = true;
  }
  return code;
}

namespace {

// A device whose snapshot the array may hold: created, or named by a
// backup that did not record the outcome.
bool MayBeOnArray(const DeviceRecord& d) {
  return d.metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID) &&
         d.status != PZSO::SNAP_STATUS_DELETED &&
         (d.created || d.status != PZSO::SNAP_STATUS_VANISHED);
}

// Runs the reconcile export over `work` (one request set per snapshot) as
// job `jobId`, written through.
int ReconcileCall(Session& s, std::vector<SnapshotRecord>* work,
                  long long jobId) {
  RequestSet set;
  std::vector<RequestSet> parts(work->size());
  std::vector<Session::CallPart> call;
  std::string error;
  for (size_t i = 0; i < work->size(); ++i) {
    if (!s.MakeRequests((*work)[i], jobId, &parts[i], &error)) {
      s.out().Error(error);
      return kPzsoFailure;
    }
    for (auto* r : parts[i].requests) {
      set.requests.push_back(r);
      set.raw.push_back(r);
    }
    call.push_back({&parts[i], &(*work)[i]});
  }
  s.BeginCall(Step::kReconcile, call);
  int rc;
  {
    hostrt::HostOSUtil util(set.requests, long(jobId));
    rc = s.plugin().exports().reconcileSnaps(set.data(), set.count(), &util);
  }
  if (!s.EndCall(&error)) {
    s.out().Error("cannot store the outcome in the catalog: " + error);
    rc = kPzsoFailure;
  }
  return rc;
}

// Says what the reconcile found: snapshots gone from their array, and
// snapshots the array holds that no backup recorded as created (only a
// complete answer tells that).
void ReportReconciled(Session& s, const std::vector<SnapshotRecord>& work,
                      const std::vector<std::set<int>>& uncreated, bool complete) {
  nlohmann::json vanished = nlohmann::json::array();
  nlohmann::json unrecorded = nlohmann::json::array();
  for (size_t i = 0; i < work.size(); ++i) {
    for (const DeviceRecord& d : work[i].devices) {
      bool notCreated = uncreated[i].count(d.smSnapId) > 0;
      if (d.status == PZSO::SNAP_STATUS_VANISHED) {
        if (notCreated) continue;  // nothing was made: nothing to report
        s.out().Line("snapshot " + std::to_string(work[i].id) + " " +
                     work[i].name + ": " + d.source +
                     " vanished from the array");
        vanished.push_back({{"snapshot", work[i].id}, {"smSnapId", d.smSnapId},
                            {"source", d.source}});
      } else if (notCreated && complete) {
        // Only a complete answer tells that the array holds it.
        s.out().Line("snapshot " + std::to_string(work[i].id) + " " +
                     work[i].name + ": " + d.source +
                     " is on the array but not recorded as created; " +
                     "pzhost adopt " + std::to_string(work[i].id) +
                     " keeps it, pzhost delete " + std::to_string(work[i].id) +
                     " removes it");
        unrecorded.push_back({{"snapshot", work[i].id},
                              {"smSnapId", d.smSnapId},
                              {"source", d.source}});
      }
    }
  }
  if (vanished.empty() && unrecorded.empty())
    s.out().Line("every snapshot is still on its array");
  s.out().doc()["vanished"] = vanished;
  s.out().doc()["unrecorded"] = unrecorded;
}

}  // namespace

int RunReconcile(Session& s) {
  std::string error;
  if (!s.LoadPlugin(&error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  std::vector<SnapshotRecord> all;
  if (!s.catalog().ListSnapshots(&all, &error)) {
    s.out().Error(error);
    return kExitFailure;
  }
  // Every device whose snapshot an array may hold, of the snapshots no
  // other job is working on.
  std::vector<SnapshotRecord> work;
  std::vector<std::set<int>> uncreated;  // SMSnapIds not recorded as created
  size_t total = 0;
  nlohmann::json skipped = nlohmann::json::array();
  for (const SnapshotRecord& snap : all) {
    SnapshotRecord w = snap;
    w.devices.clear();
    std::set<int> notCreated;
    for (const DeviceRecord& d : snap.devices) {
      if (!MayBeOnArray(d)) continue;
      w.devices.push_back(d);
      if (!d.created) notCreated.insert(d.smSnapId);
    }
    if (w.devices.empty()) continue;
    if (!s.LockSnapshot(snap.id, &error)) {
      s.out().Line("snapshot " + std::to_string(snap.id) + " skipped: " + error);
      skipped.push_back(snap.id);
      continue;
    }
    total += w.devices.size();
    work.push_back(w);
    uncreated.push_back(notCreated);
  }
  s.out().doc()["skipped"] = skipped;
  if (work.empty()) {
    s.out().Line("nothing to reconcile");
    s.out().doc()["vanished"] = nlohmann::json::array();
    s.out().doc()["unrecorded"] = nlohmann::json::array();
    return kExitSuccess;
  }
  if (total > size_t(SHRT_MAX)) {
    s.out().Error("too many devices for one job");
    return kExitFailure;
  }
  long long jobId = 0;
  if (!s.BeginJob("reconcile", 0, &jobId)) return kExitFailure;
  int rc = ReconcileCall(s, &work, jobId);
  int code = rc == kPzsoSuccess ? kExitSuccess : kExitFailure;
  if (hostrt::CancelSignal() != 0)
    code = kExitSignalBase + hostrt::CancelSignal();
  ReportReconciled(s, work, uncreated, code == kExitSuccess);
  s.out().doc()["jobId"] = jobId;
  s.EndJob(jobId, code);
  return code;
}

int RunAdopt(Session& s, int id) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  SnapshotRecord work = snap;
  work.devices.clear();
  for (const DeviceRecord& d : snap.devices)
    if (!d.created && MayBeOnArray(d)) work.devices.push_back(d);
  if (work.devices.empty()) {
    s.out().Line("snapshot " + std::to_string(id) + " has nothing to adopt");
    s.out().doc()["adopted"] = nlohmann::json::array();
    return kExitSuccess;
  }
  long long jobId = 0;
  if (!s.BeginJob("adopt", id, &jobId)) return kExitFailure;
  std::vector<SnapshotRecord> parts = {work};
  int rc = ReconcileCall(s, &parts, jobId);
  work = parts[0];
  nlohmann::json adopted = nlohmann::json::array();
  std::string error;
  if (rc == kPzsoSuccess && hostrt::CancelSignal() == 0) {
    for (DeviceRecord& d : work.devices) {
      if (d.status == PZSO::SNAP_STATUS_VANISHED) {
        s.out().Line("  " + d.source + ": not on the array");
        continue;
      }
      d.created = true;
      d.status = PZSO::SNAP_STATUS_CREATED;
      d.errorCode = 0;
      d.errorText.clear();
      adopted.push_back(d.smSnapId);
      s.out().Line("  " + d.source + ": adopted, snapshot on the array");
    }
    if (!s.catalog().SaveSnapshot(work, &error)) {
      s.out().Error("cannot store the outcome in the catalog: " + error);
      rc = kPzsoFailure;
    }
  }
  s.out().doc()["adopted"] = adopted;
  return Finish(s, "adopt", jobId, rc, work);
}

}  // namespace pzhost
