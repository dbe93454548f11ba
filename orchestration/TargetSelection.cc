// Target selection and reservation: pick a free target of exactly the
// source's size from the configured storage group, reserve it in the host
// database (with retries), record it and link it to the snapshot.
#include <unordered_map>
#include <vector>

#include "hostdev/VMAXUtils.h"
#include "orchestration/OrchestrationUtil.h"
#include "orchestration/Sleep.h"
#include "orchestration/VMAXAPI.h"

using PZSO::SnapInfo;

namespace {

constexpr int kReserveAttempts = 3;
constexpr int kReserveRetryWaitSecs = 10;

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
  std::vector<VMAXSnapParam*> keptOld;  // no match; kept an earlier target
  for (VMAXSnapParam& p : l.params) {
    if (p.reserved) {
      PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
             "Target [%s] for source [%s] snap [%s] is already reserved, "
             "continuing with next snap",
             p.targetDevice.c_str(), p.sourceDevice.c_str(), p.snapUid.c_str());
      continue;
    }
    const VMAXLun* src = FindSourceProps(props, p.sourceDevice);
    if (!src) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "source device [%s] properties not found in map",
             p.sourceDevice.c_str());
      return false;
    }
    PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Source device [%s] cylinder count [%zu]",
           p.sourceDevice.c_str(), size_t(src->cylinders));
    const VMAXLun* pick = nullptr;
    for (const VMAXLun& c : freeList) {
      if (activeSnapDevs.count(c.deviceId)) {
        PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
               "Device is already used - entry in ActiveSnapDevs [%s] ",
               c.deviceId.c_str());
        continue;
      }
      if (chosen.count(c.deviceId)) continue;
      if (c.cylinders == src->cylinders) {
        pick = &c;
        break;
      }
    }
    if (!pick) {
      if (!p.targetDevice.empty()) keptOld.push_back(&p);
      continue;
    }
    chosen.insert(pick->deviceId);
    p.targetDevice = pick->deviceId;
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "Found eligible target device [%s] for snap [%s] source [%s]",
           p.targetDevice.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
  }
  // An earlier target kept for lack of a match must not be one that another
  // device of this list now holds: that device would be linked twice.
  for (VMAXSnapParam* p : keptOld) {
    if (chosen.insert(p->targetDevice).second) continue;
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Target [%s] of source [%s] snap [%s] is taken by another device "
           "of this request",
           p->targetDevice.c_str(), p->sourceDevice.c_str(),
           p->snapUid.c_str());
    p->targetDevice.clear();
  }
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
  SnapInfo* front = w.params.front().snapInfo;
  std::vector<bool> wasReserved;
  for (const VMAXSnapParam& p : w.params) wasReserved.push_back(p.reserved);
  const std::vector<bool> keepNone(w.params.size(), false);

  bool reservedAll = false;
  for (int attempt = 1; attempt <= kReserveAttempts; ++attempt) {
    if (attempt > 1) WaitSeconds(kReserveRetryWaitSecs);
    std::unordered_set<std::string> active;
    if (!GetActiveSnaps(front, jobId, w.serial, active)) {
      ReleaseGranted(front, jobId, w, wasReserved, keepNone);
      return false;
    }
    if (!FindTarget(w, active)) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to find target devices.");
      l.errStr = w.errStr;
      ReleaseGranted(front, jobId, w, wasReserved, keepNone);
      return false;
    }
    if (SetActiveSnaps(front, jobId, w)) {
      reservedAll = true;
      break;
    }
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to reserve one or more target devices at attempt [%d of %d]",
           attempt, kReserveAttempts);
  }
  if (!reservedAll) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to reserve target devices");
    ReleaseGranted(front, jobId, w, wasReserved, keepNone);
    return false;
  }

  // Record every target before the link: a link that fails half way may
  // still have linked some pairs, and the unmap finds them through 150.
  for (const VMAXSnapParam& p : w.params) {
    if (!p.snapInfo || p.snapInfo->setMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE,
                                               p.targetDevice.c_str()) != 0) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Failed to save target [%s] of snap [%s] source [%s] in metadata "
             "[SM_MDT_MAPPED_TARGET_DEVICE]",
             p.targetDevice.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
      ReleaseGranted(front, jobId, w, wasReserved, keepNone);
      return false;
    }
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "snap [%s] source [%s] metadata [SM_MDT_MAPPED_TARGET_DEVICE:%s]",
           p.snapUid.c_str(), p.sourceDevice.c_str(), p.targetDevice.c_str());
  }

  bool linked = arrayApi->LinkTarget(w);
  if (!linked) {
    // Ask the array which pairs the failed command linked after all: those
    // keep their reservation (the unmap undoes them); the rest are freed.
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Failed to link target devices to snaps");
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
               p.targetDevice.c_str(), p.snapUid.c_str(),
               p.sourceDevice.c_str());
      }
      ++pp;
      ++i;
    }
    ReleaseGranted(front, jobId, w, wasReserved, keep);
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
