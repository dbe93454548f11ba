// Target device reservation records, kept by the host's active-snap service
// so that concurrent jobs never link the same target device.
#include <map>
#include <set>
#include <vector>

#include "host/PZMMSnapAPI.h"
#include "hostdev/VMAXUtils.h"
#include "orchestration/OrchestrationUtil.h"
#include "orchestration/VMAXAPI.h"

using PZSO::SnapInfo;

namespace {

// Client id of the plug-in's requests to the active-snap service.
constexpr int kActiveSnapClient = 2;
const char kStandInSeparator[] = {SM_ACTIVE_SNAP_ALTERNATIVE_SEPARATOR, '\0'};

// Holders (host snap ids) of each reserved target device.
using Holders = std::map<std::string, std::set<int>>;

void LogEntry(SnapInfo* si, const char* fn, const SMActiveSnapInfo& e) {
  PZ_LOG(si, LOG_DETAIL, fn, "    [%d:%s-%s-%s:%d-%d]", e.getSMSnapId(),
         e.getArrayName().c_str(), e.getSourceDevice().c_str(),
         e.getTargetDevice().c_str(), e.getStatus(), e.getFlags());
}

void LogError(SnapInfo* si, const char* fn, const SMActiveSnapInfoMsg& msg) {
  PZ_LOG(si, LOG_FAILURE, fn, "Error [%d: %s]", msg.getErrCode(),
         msg.getErrString().c_str());
}

// False with error code 0 is an answer, not a failure.
bool CallFailed(bool ok, const SMActiveSnapInfoMsg& msg) {
  return !ok && msg.getErrCode() != 0;
}

SMActiveSnapInfo EntryFor(const VMAXSnapParam& p, const std::string& serial) {
  SMActiveSnapInfo e;
  e.setSMSnapId(SnapIdOf(p));
  e.setArrayName(serial);
  e.setSourceDevice(p.sourceDevice);
  e.setTargetDevice(p.targetDevice);
  e.setStatus(0);
  e.setFlags(0);
  return e;
}

// Steps shared by reserve and release: the snapshot test tool keeps no
// reservations. False when the operation source cannot be read.
bool ReadSkip(SnapInfo* si, const char* fn, bool& skip) {
  int source = 0;
  if (!si || si->getJobParam(PZSO::JOB_PARAM_OPERATION_SOURCE, &source) != 0) {
    PZ_LOG(si, LOG_FAILURE, fn, "Could not retrieve snap operation source");
    return false;
  }
  skip = source == PZSO::OPERATION_SOURCE_TEST_TOOL;
  if (skip)
    PZ_LOG(si, LOG_PROGRESS, fn, "Skipping device reservation for Trialrig tool");
  return true;
}

bool QueryActiveSnaps(SnapInfo* si, long jobId, const std::string& arrayName,
                      std::unordered_set<std::string>& activeDevs,
                      Holders* holders) {
  static const char* kFn = "GetActiveSnaps";
  SMActiveSnapInfo query;
  query.setArrayName(arrayName);
  query.setStatus(0);
  query.setFlags(0);
  SMActiveSnapInfoMsg msg;
  msg.setActiveSnapInfoList({query});
  msg.setJobId(jobId);
  msg.setOpType(ActiveSnapQuery);
  PZMMSnapAPI api(kActiveSnapClient);
  bool ok = api.activeSnapOperation(jobId, ActiveSnapQuery, msg);
  if (CallFailed(ok, msg)) {
    PZ_LOG(si, LOG_FAILURE, kFn, "Failed to get active snaps for array [%s]",
           arrayName.c_str());
    LogError(si, kFn, msg);
    return false;
  }
  PZ_LOG(si, LOG_DETAIL, kFn, "GetActiveSnaps response:");
  std::string summary;
  for (const SMActiveSnapInfo& e : msg.getActiveSnapInfoList()) {
    LogEntry(si, kFn, e);
    std::string dev = StdDevName(e.getTargetDevice());
    if (holders) (*holders)[dev].insert(e.getSMSnapId());
    if (activeDevs.insert(dev).second) summary += dev + " ";
  }
  if (!summary.empty())
    PZ_LOG(si, LOG_FAILURE, kFn,
           "Snapshots currently active on VMAX array [%s] are [%s]",
           arrayName.c_str(), summary.c_str());
  else
    PZ_LOG(si, LOG_FAILURE, kFn,
           "No snapshots are currently active for Symmetrix array [%s]",
           arrayName.c_str());
  return true;
}

// Marks reserved each param of `sent` whose entry the response grants. A
// grant belongs to the one device that asked for it. Several devices of one
// snapshot share a host snap id, so the id alone would also mark devices
// whose own entry was refused. Entries come back in request order; a
// granted entry names the device granted, its target or a stand-in.
void ApplyGrants(SnapInfo* si, const SMActiveSnapInfoMsg::List& response,
                 const std::vector<VMAXSnapParam*>& sent) {
  static const char* kFn = "SetActiveSnaps";
  std::vector<bool> matched(sent.size(), false);
  auto asked = [](const VMAXSnapParam& p, const SMActiveSnapInfo& e) {
    if (SnapIdOf(p) != e.getSMSnapId() || p.sourceDevice != e.getSourceDevice())
      return false;
    if (p.targetDevice == e.getTargetDevice()) return true;
    for (const std::string& d : p.extraDevices)
      if (d == e.getTargetDevice()) return true;
    return false;
  };
  for (size_t r = 0; r < response.size(); ++r) {
    const SMActiveSnapInfo& e = response[r];
    LogEntry(si, kFn, e);
    if (e.getStatus() != SM_ACTIVE_SNAP_GRANTED) continue;
    size_t i = r;
    if (i >= sent.size() || matched[i] || !asked(*sent[i], e))
      for (i = 0; i < sent.size(); ++i)
        if (!matched[i] && asked(*sent[i], e)) break;
    if (i == sent.size()) continue;
    matched[i] = true;
    VMAXSnapParam& p = *sent[i];
    if (p.targetDevice != e.getTargetDevice()) {
      PZ_LOG(si, LOG_PROGRESS, kFn,
             "Target [%s] of source [%s] snap [%s] is reserved by another job, "
             "reserved [%s] instead",
             p.targetDevice.c_str(), p.sourceDevice.c_str(), p.snapUid.c_str(),
             e.getTargetDevice().c_str());
      p.targetDevice = e.getTargetDevice();
    }
    p.reserved = true;
    p.extraDevices.clear();
  }
}

}  // namespace

bool GetActiveSnaps(SnapInfo* si, long jobId, std::string arrayName,
                    std::unordered_set<std::string>& activeDevs) {
  return QueryActiveSnaps(si, jobId, arrayName, activeDevs, nullptr);
}

bool SetActiveSnaps(SnapInfo* si, long jobId, VMAXSnapParamList& l) {
  static const char* kFn = "SetActiveSnaps";
  bool skip = false;
  if (!ReadSkip(si, kFn, skip)) return false;
  if (skip) {
    for (VMAXSnapParam& p : l.params) p.reserved = true;
    return true;
  }
  PZ_LOG(si, LOG_DETAIL, kFn, "SetActiveSnaps request:");
  SMActiveSnapInfoMsg::List entries;
  std::vector<VMAXSnapParam*> sent;  // sent[i] asked for entries[i]
  std::string desc;
  for (VMAXSnapParam& p : l.params) {
    if (p.reserved || p.targetDevice.empty()) continue;
    entries.push_back(EntryFor(p, l.serial));
    entries.back().setExtra1(concatStrings(p.extraDevices, kStandInSeparator));
    sent.push_back(&p);
    desc += p.sourceDevice + "-" + p.targetDevice + " ";
    LogEntry(si, kFn, entries.back());
  }
  PZ_LOG(si, LOG_PROGRESS, kFn, "Attempting to reserve target devices [%s]",
         desc.c_str());
  SMActiveSnapInfoMsg msg;
  msg.setActiveSnapInfoList(entries);
  msg.setJobId(jobId);
  msg.setOpType(ActiveSnapReserve);
  PZMMSnapAPI api(kActiveSnapClient);
  bool ok = api.activeSnapOperation(jobId, ActiveSnapReserve, msg);
  if (CallFailed(ok, msg)) {
    PZ_LOG(si, LOG_FAILURE, kFn, "Failed to reserve target devices [%s]",
           desc.c_str());
    LogError(si, kFn, msg);
    return false;
  }
  PZ_LOG(si, LOG_DETAIL, kFn, "SetActiveSnaps response:");
  ApplyGrants(si, msg.getActiveSnapInfoList(), sent);
  size_t count = 0;
  for (const VMAXSnapParam& p : l.params)
    if (p.reserved && !p.targetDevice.empty()) ++count;
  if (count == l.params.size()) {
    PZ_LOG(si, LOG_DETAIL, kFn, "Successfully reserved all target devices [%s]",
           desc.c_str());
    return true;
  }
  PZ_LOG(si, LOG_DETAIL, kFn, "Failed to reserve one or more target devices [%s]",
         desc.c_str());
  return false;
}

bool DeleteActiveSnaps(SnapInfo* si, long jobId, VMAXSnapParamList& l) {
  static const char* kFn = "DeleteActiveSnaps";
  bool skip = false;
  if (!ReadSkip(si, kFn, skip)) return false;
  if (skip) return true;
  std::unordered_set<std::string> active;
  Holders holders;
  if (!QueryActiveSnaps(si, jobId, l.serial, active, &holders)) {
    PZ_LOG(si, LOG_PROGRESS, kFn, "Failed to get active snap devices list");
    return false;
  }
  // Only a device's own reservation (same host snap id) is released; a
  // target that another job holds is never part of the request.
  std::vector<const VMAXSnapParam*> own;
  for (VMAXSnapParam& p : l.params) {
    if (p.targetDevice.empty() || !active.count(p.targetDevice)) continue;
    if (!holders[p.targetDevice].count(SnapIdOf(p))) continue;
    p.reserved = true;
    own.push_back(&p);
  }
  if (own.empty()) {
    PZ_LOG(si, LOG_DETAIL, kFn,
           "None of the target devices in current request are reserved in DB");
    return true;
  }
  PZ_LOG(si, LOG_DETAIL, kFn, "DeleteActiveSnaps request:");
  SMActiveSnapInfoMsg::List entries;
  std::string desc;
  for (const VMAXSnapParam* p : own) {
    entries.push_back(EntryFor(*p, l.serial));
    desc += p->sourceDevice + "-" + p->targetDevice + " ";
    LogEntry(si, kFn, entries.back());
  }
  PZ_LOG(si, LOG_PROGRESS, kFn,
         "Attempting to delete device reservation for target devices [%s]",
         desc.c_str());
  SMActiveSnapInfoMsg msg;
  msg.setActiveSnapInfoList(entries);
  msg.setJobId(jobId);
  msg.setOpType(ActiveSnapRelease);
  PZMMSnapAPI api(kActiveSnapClient);
  bool ok = api.activeSnapOperation(jobId, ActiveSnapRelease, msg);
  if (CallFailed(ok, msg)) {
    PZ_LOG(si, LOG_FAILURE, kFn,
           "Failed to delete reservation for target devices [%s]", desc.c_str());
    LogError(si, kFn, msg);
    return false;
  }
  PZ_LOG(si, LOG_DETAIL, kFn,
         "Successfully deleted reservation for target devices [%s]",
         desc.c_str());
  return true;
}
