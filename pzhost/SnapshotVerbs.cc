// backup, list, mount, unmount, revert, delete and reconcile: each one job
// of plug-in calls over the catalog's requests.
#include <climits>
#include <cstring>
#include <set>

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
  if (!target.empty()) line += ", target " + target;
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
  s.EndJob(jobId, code);
  s.out().FlushPluginFailures(code != kExitSuccess);
  ShowSnapshot(s, snap);
  nlohmann::json& doc = s.out().doc();
  doc["verb"] = verb;
  doc["jobId"] = jobId;
  doc["snapshot"] = SnapshotJson(snap);
  if (code != kExitSuccess) {
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

bool StoreOrReport(Session& s, Step step, const RequestSet& set,
                   SnapshotRecord* snap) {
  std::string error;
  if (s.Store(step, set, snap, &error)) return true;
  s.out().Error("cannot store the outcome in the catalog: " + error);
  return false;
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
      !s.MakeRequests(snap, jobId, &set, &error)) {
    out.Error(error);
    s.EndJob(jobId, kExitFailure);
    return kExitFailure;
  }
  out.Line("backup job " + std::to_string(jobId) + ": snapshot " +
           std::to_string(snap.id) + " " + snap.name);

  const PluginExports& e = s.plugin().exports();
  int rc;
  {
    hostrt::HostOSUtil util(set.requests, long(jobId));
    rc = e.prepareDevices(set.data(), set.count(), &util);
  }
  if (!StoreOrReport(s, Step::kPrepare, set, &snap)) rc = kPzsoFailure;
  if (rc != kPzsoSuccess) {
    // Nothing exists on the array after a failed prepare: the catalog
    // keeps no snapshot for it.
    int code = Finish(s, "backup", jobId, rc, snap);
    if (!s.catalog().RemoveSnapshot(snap.id, &error)) out.Error(error);
    return code;
  }
  {
    hostrt::HostOSUtil util(set.requests, long(jobId));
    rc = postSnap ? e.postSnapDevices(set.data(), set.count(), &util)
                  : e.snapDevices(set.data(), set.count(), &util);
  }
  if (!StoreOrReport(s, Step::kSnap, set, &snap)) rc = kPzsoFailure;
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
    list.push_back(SnapshotJson(snap));
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
  int rc;
  {
    hostrt::HostOSUtil util(set.requests, long(jobId));
    rc = fn(set.data(), set.count(), &util);
  }
  if (!StoreOrReport(s, step, set, snap)) rc = kPzsoFailure;
  return Finish(s, verb, jobId, rc, *snap);
}

bool Prepare(Session& s, int id, SnapshotRecord* snap) {
  std::string error;
  if (!LoadSnapshot(s, id, snap)) return false;
  if (!s.LoadPlugin(&error)) {
    s.out().Error(error);
    return false;
  }
  return true;
}

}  // namespace

int RunMount(Session& s, int id, bool clone) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  if (AnyMounted(snap)) {
    s.out().Error("snapshot " + std::to_string(id) +
                  " is mounted already; unmount it first");
    return kExitFailure;
  }
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
  int code = RunSnapshotJob(s, "mount", Step::kMap,
                            s.plugin().exports().mapSnaps, &snap);
  nlohmann::json paths = nlohmann::json::array();
  for (const DeviceRecord& d : snap.devices) {
    if (d.devicePath.empty()) continue;
    InquiryFacts facts;
    std::string error;
    nlohmann::json p = {{"source", d.source}, {"path", d.devicePath}};
    if (InquireDevice(d.devicePath, &facts, &error)) {
      s.out().Line("  " + d.devicePath + ": " + DescribeInquiry(facts));
      p["vendor"] = facts.vendor;
      p["product"] = facts.product;
      p["serial"] = facts.serial;
      p["device"] = facts.device;
    } else {
      s.out().Line("  " + d.devicePath + ": inquiry failed: " + error);
      p["inquiryError"] = error;
    }
    paths.push_back(p);
  }
  s.out().doc()["paths"] = paths;
  return code;
}

int RunUnmount(Session& s, int id) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  if (!AnyMounted(snap)) {
    s.out().Error("snapshot " + std::to_string(id) + " is not mounted");
    return kExitFailure;
  }
  return RunSnapshotJob(s, "unmount", Step::kUnmap,
                        s.plugin().exports().unmapSnaps, &snap);
}

int RunRevert(Session& s, int id) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  return RunSnapshotJob(s, "revert", Step::kRevert,
                        s.plugin().exports().revertSnaps, &snap);
}

int RunDelete(Session& s, int id) {
  SnapshotRecord snap;
  if (!Prepare(s, id, &snap)) return kExitFailure;
  if (AnyMounted(snap)) {
    s.out().Error("snapshot " + std::to_string(id) +
                  " is mounted; unmount it before deleting it");
    return kExitFailure;
  }
  // The plug-in checks what the array still has, so a snapshot that
  // vanished deletes without array work.
  SnapshotRecord work = snap;
  work.devices.clear();
  for (const DeviceRecord& d : snap.devices)
    if (d.status != PZSO::SNAP_STATUS_DELETED) work.devices.push_back(d);
  int code = kExitSuccess;
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
  // Every device the host believes has a snapshot on an array.
  std::vector<SnapshotRecord> work;
  size_t total = 0;
  for (const SnapshotRecord& snap : all) {
    SnapshotRecord w = snap;
    w.devices.clear();
    for (const DeviceRecord& d : snap.devices)
      if (d.created && d.metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID))
        w.devices.push_back(d);
    total += w.devices.size();
    if (!w.devices.empty()) work.push_back(w);
  }
  if (work.empty()) {
    s.out().Line("nothing to reconcile");
    s.out().doc()["vanished"] = nlohmann::json::array();
    return kExitSuccess;
  }
  if (total > size_t(SHRT_MAX)) {
    s.out().Error("too many devices for one job");
    return kExitFailure;
  }
  long long jobId = 0;
  if (!s.BeginJob("reconcile", 0, &jobId)) return kExitFailure;
  RequestSet set;
  std::vector<RequestSet> parts(work.size());
  for (size_t i = 0; i < work.size(); ++i) {
    if (!s.MakeRequests(work[i], jobId, &parts[i], &error)) {
      s.out().Error(error);
      s.EndJob(jobId, kExitFailure);
      return kExitFailure;
    }
    for (auto* r : parts[i].requests) {
      set.requests.push_back(r);
      set.raw.push_back(r);
    }
  }
  int rc;
  {
    hostrt::HostOSUtil util(set.requests, long(jobId));
    rc = s.plugin().exports().reconcileSnaps(set.data(), set.count(), &util);
  }
  int code = rc == kPzsoSuccess ? kExitSuccess : kExitFailure;
  nlohmann::json vanished = nlohmann::json::array();
  for (size_t i = 0; i < work.size(); ++i) {
    if (!StoreOrReport(s, Step::kReconcile, parts[i], &work[i]))
      code = kExitFailure;
    for (const DeviceRecord& d : work[i].devices) {
      if (d.status != PZSO::SNAP_STATUS_VANISHED) continue;
      s.out().Line("snapshot " + std::to_string(work[i].id) + " " +
                   work[i].name + ": " + d.source +
                   " vanished from the array");
      vanished.push_back({{"snapshot", work[i].id}, {"smSnapId", d.smSnapId},
                          {"source", d.source}});
    }
  }
  if (vanished.empty()) s.out().Line("every snapshot is still on its array");
  s.out().doc()["vanished"] = vanished;
  s.out().doc()["jobId"] = jobId;
  s.EndJob(jobId, code);
  return code;
}

}  // namespace pzhost
