// Target selection and reservation: pick a free target of exactly the
// source's size from the configured storage group, reserve it in the host
// database (with retries), record it and link it to the snapshot.
#include <cstdint>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/ConfigKeys.h"

#include "hostdev/VMAXUtils.h"
#include "orchestration/OrchestrationUtil.h"
#include "orchestration/Sleep.h"
#include "orchestration/VMAXAPI.h"

using PZSO::SnapInfo;

namespace {

// Stand-in targets sent with each reserve entry. Enough for as many other
// jobs as this one racing for the same devices; a job that finds them all
// taken chooses again after a short wait.
constexpr size_t kMaxStandIns = 64;
constexpr int64_t kMicrosPerSecond = 1000000;

// The reservation retry policy (additional settings).
struct RetryPolicy {
  int attempts;
  int waitMs;
  int64_t deadlineMicros;
};

RetryPolicy ReadRetryPolicy() {
  RetryPolicy r;
  r.attempts = PositiveSetting(vmaxcfg::kSettingReserveRetryAttempts,
                               vmaxcfg::kDefaultReserveRetryAttempts);
  r.waitMs = PositiveSetting(vmaxcfg::kSettingReserveRetryWaitMs,
                             vmaxcfg::kDefaultReserveRetryWaitMs);
  int maxSecs = PositiveSetting(vmaxcfg::kSettingReserveRetryMaxSecs,
                                vmaxcfg::kDefaultReserveRetryMaxSecs);
  r.deadlineMicros = PzClock::nowMicros() + maxSecs * kMicrosPerSecond;
  return r;
}

// A wait between half the configured one and all of it, so that jobs that
// lost the same race do not come back at the same moment.
int64_t JitteredWaitMs(std::minstd_rand& random, int waitMs) {
  int64_t low = waitMs / 2;
  std::uniform_int_distribution<int64_t> pick(low, waitMs);
  return pick(random);
}

const VMAXLun* FindSourceProps(
    const std::unordered_map<std::string, VMAXLun>& props,
    const std::string& source) {
  auto it = props.find(source);
  if (it == props.end()) it = props.find(StdDevName(source));
  return it == props.end() ? nullptr : &it->second;
}

// Releases the reservations that this call was granted (params that are
// reserved now but were not at the start), and nothing else.
void ReleaseGranted(SnapInfo* front, long jobId, const VMAXSnapParamList& w,
                    const std::vector<bool>& wasReserved,
                    const std::vector<bool>& keep) {
  VMAXSnapParamList rel(w);
  rel.params.clear();
  size_t i = 0;
  for (const VMAXSnapParam& p : w.params) {
    if (p.reserved && !wasReserved[i] && !keep[i]) rel.params.push_back(p);
    ++i;
  }
  if (rel.params.empty()) return;
  DeleteActiveSnaps(front, jobId, rel);
}

// The free devices nobody has reserved, by size, in array listing order.
// Every device before a size's cursor has been given to an earlier param,
// so each param's walk starts there: first fit in O(devices + params).
struct Pool {
  std::vector<const std::string*> devices;
  size_t next = 0;
};
using Pools = std::unordered_map<uint64_t, Pool>;

Pools PoolsOfFree(SnapInfo* si, const std::list<VMAXLun>& freeList,
                  const std::unordered_set<std::string>& activeSnapDevs) {
  Pools pools;
  for (const VMAXLun& c : freeList) {
    if (activeSnapDevs.count(c.deviceId)) {
      PZ_LOG(si, LOG_PROGRESS, "FindTarget",
             "Device is already used - entry in ActiveSnapDevs [%s] ", c.deviceId.c_str());
      continue;
    }
    pools[c.cylinders].devices.push_back(&c.deviceId);
  }
  return pools;
}

// The first free device of the size that no param of this list holds.
const std::string* FirstFit(Pools& pools, uint64_t cylinders,
                            const std::unordered_set<std::string>& chosen) {
  auto pool = pools.find(cylinders);
  if (pool == pools.end()) return nullptr;
  Pool& pl = pool->second;
  while (pl.next < pl.devices.size() && chosen.count(*pl.devices[pl.next])) ++pl.next;
  return pl.next < pl.devices.size() ? pl.devices[pl.next++] : nullptr;
}

// An earlier target kept for lack of a match must not be one that another
// device of this list now holds: that device would be linked twice.
void DropTakenKeptTargets(SnapInfo* si, const std::vector<VMAXSnapParam*>& keptOld,
                          std::unordered_set<std::string>& chosen) {
  for (VMAXSnapParam* p : keptOld) {
    if (chosen.insert(p->targetDevice).second) continue;
    PZ_LOG(si, LOG_FAILURE, "FindTarget",
           "Target [%s] of source [%s] snap [%s] is taken by another device "
           "of this request",
           p->targetDevice.c_str(), p->sourceDevice.c_str(), p->snapUid.c_str());
    p->targetDevice.clear();
  }
}

// Stand-ins for the reservation: the free devices of the same size that no
// param of this list was given, in listing order. When another job has
// just reserved a chosen target, the host database grants the first of
// them that is still free, in the same request.
void GiveStandIns(const Pools& pools, const std::unordered_set<std::string>& chosen,
                  const std::vector<std::pair<VMAXSnapParam*, uint64_t>>& picked) {
  std::unordered_map<uint64_t, std::list<std::string>> spares;
  for (const auto& [cylinders, pl] : pools) {
    std::list<std::string>& out = spares[cylinders];
    for (size_t i = pl.next; i < pl.devices.size() && out.size() < kMaxStandIns; ++i)
      if (!chosen.count(*pl.devices[i])) out.push_back(*pl.devices[i]);
  }
  for (const auto& [p, cylinders] : picked) p->extraDevices = spares[cylinders];
}

}  // namespace

bool VMAXAPI::FindTarget(VMAXSnapParamList& l,
                         std::unordered_set<std::string>& activeSnapDevs) {
  static const char* kFn = "FindTarget";
  if (!arrayApi) return false;
  const std::string& sg = config.linkDeviceStorageGroup;
  std::list<VMAXLun> freeList;
  if (!arrayApi->GetFreeTDEVListBySG(l.serial, sg, freeList)) {
    l.errStr = "Failed to find target devices from specified storage group [" +
               sg + "]";
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", l.errStr.c_str());
    return false;
  }
  if (freeList.empty()) {
    l.errStr =
        "There are no target devices available in specified storage group [" +
        sg + "]";
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", l.errStr.c_str());
    return false;
  }
  std::unordered_map<std::string, VMAXLun> props;
  if (!arrayApi->GetDevProps(l.serial, SourcesOf(l), props)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to get source device properties");
    return false;
  }
  // Targets already held by params of this list are never handed out again.
  std::unordered_set<std::string> chosen;
  for (const VMAXSnapParam& p : l.params)
    if (p.reserved && !p.targetDevice.empty()) chosen.insert(p.targetDevice);
  Pools pools = PoolsOfFree(snapInfo, freeList, activeSnapDevs);
  std::vector<std::pair<VMAXSnapParam*, uint64_t>> picked;
  std::vector<VMAXSnapParam*> keptOld;  // no match; kept an earlier target
  for (VMAXSnapParam& p : l.params) {
    if (p.reserved) {
      PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
             "Target [%s] for source [%s] snap [%s] is already reserved, "
             "continuing with next snap",
             p.targetDevice.c_str(), p.sourceDevice.c_str(), p.snapUid.c_str());
      continue;
    }
    p.extraDevices.clear();
    const VMAXLun* src = FindSourceProps(props, p.sourceDevice);
    if (!src) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "source device [%s] properties not found in map",
             p.sourceDevice.c_str());
      return false;
    }
    PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Source device [%s] cylinder count [%zu]",
           p.sourceDevice.c_str(), size_t(src->cylinders));
    const std::string* pick = FirstFit(pools, src->cylinders, chosen);
    if (!pick) {
      if (!p.targetDevice.empty()) keptOld.push_back(&p);
      continue;
    }
    chosen.insert(*pick);
    p.targetDevice = *pick;
    picked.emplace_back(&p, src->cylinders);
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "Found eligible target device [%s] for snap [%s] source [%s]",
           p.targetDevice.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
  }
  DropTakenKeptTargets(snapInfo, keptOld, chosen);
  std::string missing;
  for (const VMAXSnapParam& p : l.params)
    if (p.targetDevice.empty()) missing += p.snapUid + ",";
  if (!missing.empty()) {
    l.errStr = "No suitable target device found for snaps [" + missing +
               "].Please add or free target devices in specified storage "
               "group [" + sg + "].";
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", l.errStr.c_str());
    return false;
  }
  GiveStandIns(pools, chosen, picked);
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
         "Found eligible target devices for all the snaps");
  return true;
}

bool VMAXAPI::ReserveTarget(VMAXSnapParamList& l, long jobId) {
  static const char* kFn = "ReserveTarget";
  if (!arrayApi) return false;
  if (!arrayApi->IsSnapLinked(l)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to check if snaps are linked to target devices.");
    return false;
  }
  VMAXSnapParamList w(l);
  w.params.remove_if(isVMAXSnapLinked);
  if (w.params.empty()) {
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "All snaps are already linked to target devices.");
    return true;
  }
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
         "Target devices will be selected from storage group [%s]",
         config.linkDeviceStorageGroup.c_str());
  std::vector<bool> wasReserved;
  for (const VMAXSnapParam& p : w.params) wasReserved.push_back(p.reserved);
  if (!ReserveFoundTargets(w, l, jobId, wasReserved) ||
      !RecordTargets(w, l, jobId, wasReserved))
    return false;

  bool linked = arrayApi->LinkTarget(w);
  if (!linked) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to link target devices to snaps");
    if (!KeepWhatAFailedLinkLinked(w, jobId, wasReserved)) return false;
  }

  // Copy the results back by position: `w` holds the unlinked params of `l`
  // in order, and host snap ids may repeat within one list.
  auto wi = w.params.begin();
  for (VMAXSnapParam& p : l.params) {
    if (p.targetLinked) continue;
    if (wi == w.params.end()) break;
    p = *wi;
    ++wi;
  }
  return linked;
}

// Chooses and reserves a target for every param of `w`. Each attempt reads
// the reservations again, so a retry chooses among the devices nobody holds
// now; the waits between attempts are short and jittered, and attempts stop
// at a deadline. On failure the reason is in l.errStr and what this call was
// granted is released.
bool VMAXAPI::ReserveFoundTargets(VMAXSnapParamList& w, VMAXSnapParamList& l,
                                  long jobId, const std::vector<bool>& wasReserved) {
  static const char* kFn = "ReserveTarget";
  SnapInfo* front = w.params.front().snapInfo;
  const std::vector<bool> keepNone(w.params.size(), false);
  const RetryPolicy policy = ReadRetryPolicy();
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      uint64_t(jobId) * 7919u + uint64_t(SnapIdOf(w.params.front())) +
      uint64_t(PzClock::nowMicros())));
  int attempt = 1;
  for (;; ++attempt) {
    std::unordered_set<std::string> active;
    if (!GetActiveSnaps(front, jobId, w.serial, active)) {
      l.errStr = "Failed to read the target device reservations of array [" +
                 w.serial + "] from the host database";
      ReleaseGranted(front, jobId, w, wasReserved, keepNone);
      return false;
    }
    if (!FindTarget(w, active)) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to find target devices.");
      l.errStr = w.errStr.empty()
                     ? "Failed to find target devices in storage group [" +
                           config.linkDeviceStorageGroup + "]"
                     : w.errStr;
      ReleaseGranted(front, jobId, w, wasReserved, keepNone);
      return false;
    }
    if (SetActiveSnaps(front, jobId, w)) return true;
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to reserve one or more target devices at attempt [%d of %d]",
           attempt, policy.attempts);
    if (attempt >= policy.attempts ||
        PzClock::nowMicros() >= policy.deadlineMicros)
      break;
    WaitMillis(JitteredWaitMs(random, policy.waitMs));
  }
  PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to reserve target devices");
  std::string refused;
  for (const VMAXSnapParam& p : w.params)
    if (!p.reserved) refused += p.snapUid + ",";
  l.errStr = "Target devices for snaps [" + refused +
             "] were reserved by other jobs in every one of " +
             std::to_string(attempt) +
             " attempts: no free target device is left in storage group [" +
             config.linkDeviceStorageGroup +
             "] for them. Please add or free target devices.";
  PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", l.errStr.c_str());
  ReleaseGranted(front, jobId, w, wasReserved, keepNone);
  return false;
}

// Records every target before the link: a link that fails half way may
// still have linked some pairs, and the unmap finds them through 150.
bool VMAXAPI::RecordTargets(VMAXSnapParamList& w, VMAXSnapParamList& l, long jobId,
                            const std::vector<bool>& wasReserved) {
  static const char* kFn = "ReserveTarget";
  for (const VMAXSnapParam& p : w.params) {
    if (!p.snapInfo || p.snapInfo->setMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE,
                                               p.targetDevice.c_str()) != 0) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Failed to save target [%s] of snap [%s] source [%s] in metadata "
             "[SM_MDT_MAPPED_TARGET_DEVICE]",
             p.targetDevice.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
      l.errStr = "Failed to record target device [" + p.targetDevice +
                 "] of snap [" + p.snapUid + "] in the request";
      ReleaseGranted(w.params.front().snapInfo, jobId, w, wasReserved,
                     std::vector<bool>(w.params.size(), false));
      return false;
    }
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "snap [%s] source [%s] metadata [SM_MDT_MAPPED_TARGET_DEVICE:%s]",
           p.snapUid.c_str(), p.sourceDevice.c_str(), p.targetDevice.c_str());
  }
  return true;
}

// After a failed link, asks the array which pairs the command linked after
// all: those keep their reservation (the unmap undoes them); the rest are
// freed and no longer recorded, or the host would take the snapshot for
// mounted. False when the array cannot tell (every reservation is kept).
bool VMAXAPI::KeepWhatAFailedLinkLinked(VMAXSnapParamList& w, long jobId,
                                        const std::vector<bool>& wasReserved) {
  static const char* kFn = "ReserveTarget";
  VMAXSnapParamList probe(w);
  std::vector<bool> keep(w.params.size(), false);
  if (!arrayApi->IsSnapLinked(probe)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Could not check which target devices were linked, keeping "
           "their reservations");
    return false;
  }
  auto pp = probe.params.begin();
  size_t i = 0;
  for (VMAXSnapParam& p : w.params) {
    if (pp == probe.params.end()) break;
    if (pp->targetLinked) {
      keep[i] = true;
      p.targetLinked = true;
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Target device [%s] was linked to snap [%s] source [%s]",
             p.targetDevice.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
    }
    ++pp;
    ++i;
  }
  ReleaseGranted(w.params.front().snapInfo, jobId, w, wasReserved, keep);
  i = 0;
  for (VMAXSnapParam& p : w.params) {
    if (!keep[i] && !wasReserved[i] && p.snapInfo)
      p.snapInfo->setMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, nullptr);
    ++i;
  }
  return true;
}
