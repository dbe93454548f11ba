// Array-side mapping and unmapping: present linked targets to the host's
// storage group, and take them away again (storage groups, reservations,
// unlink with retries, decoupled clone record).
#include <map>
#include <set>
#include <vector>

#include "array/CommandRunner.h"
#include "config/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "hostdev/VMAXUtils.h"
#include "orchestration/OrchestrationUtil.h"
#include "orchestration/Sleep.h"
#include "orchestration/VMAXAPI.h"

using PZSO::SnapInfo;

namespace {

const char* kDecoupledClonePrefix = "VMAX_DClone_";

// An additional setting of at least 1, or its default when absent.
int PositiveSetting(const char* key, int fallback) {
  int value = fallback;
  GetRegInt(nullptr, key, &value);
  return value < 1 ? 1 : value;
}

std::string Join(const std::list<std::string>& items) {
  return concatStrings(items, ",");
}

// The storage group a masking view of the host's initiators reaches: the
// first initiator (in list order) that reaches any, its lowest group name.
std::string ChooseStorageGroup(
    const std::list<std::string>& initiators,
    const std::unordered_map<std::string, std::unordered_set<std::string>>&
        sgByHba) {
  auto lowest = [](const std::unordered_set<std::string>& s) {
    return *std::set<std::string>(s.begin(), s.end()).begin();
  };
  for (const std::string& i : initiators) {
    auto it = sgByHba.find(i);
    if (it != sgByHba.end() && !it->second.empty()) return lowest(it->second);
  }
  std::set<std::string> all;
  for (const auto& e : sgByHba) all.insert(e.second.begin(), e.second.end());
  return all.empty() ? std::string() : *all.begin();
}

void WriteDecoupledCloneRecord(SnapInfo* si, const VMAXSnapParamList& w) {
  static const char* kFn = "UnmapSnaps";
  std::string text;
  for (const VMAXSnapParam& p : w.params)
    text += p.sourceDevice + " " + p.snapUid + " " + p.targetDevice + " " +
            p.snapDevFName + "\n";
  PZ_LOG(si, LOG_PROGRESS, kFn, "Decoupled instant clones [%s]", text.c_str());
  std::string name = kDecoupledClonePrefix + w.serial + "_";
  if (WriteToFile(text, name))
    PZ_LOG(si, LOG_PROGRESS, kFn, "Decoupled clone details are saved to file [%s]",
           name.c_str());
  else
    PZ_LOG(si, LOG_FAILURE, kFn, "Failed to save decoupled clone details to file");
}

}  // namespace

bool VMAXAPI::MapSnaps(VMAXSnapParamList& l) {
  static const char* kFn = "MapSnaps";
  if (!arrayApi) return false;
  if (l.serial.empty() || l.initiators.empty() || l.params.empty()) {
    std::string text;
    l.dump(text, true);
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Invalid parameters [%s]", text.c_str());
    return false;
  }
  if (!config.bSkipRestoreCleanup)
    arrayApi->RestoreCleanup(l.serial, l.params.front().snapUid, SourcesOf(l),
                             false);
  VMAXMapParams mp;
  mp.serial = l.serial;
  mp.initiators = l.initiators;
  for (const VMAXSnapParam& p : l.params)
    if (!p.targetMapped) mp.devices.push_back(p.targetDevice);

  std::unordered_map<std::string, std::unordered_set<std::string>> sgByHba;
  std::string sg;
  if (arrayApi->GetSGListByHBA(l.serial, l.initiators, sgByHba))
    sg = ChooseStorageGroup(l.initiators, sgByHba);
  if (sg.empty()) {
    PZ_LOG(snapInfo, LOG_DETAIL, kFn, "No storage group found");
    return false;
  }
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn, "Going to map devices to storage group [%s]",
         sg.c_str());
  std::unordered_set<std::string> inGroup;
  if (!arrayApi->GetDevListBySG(l.serial, sg, inGroup)) {
    PZ_LOG(snapInfo, LOG_DETAIL, kFn,
           "Could not find current list of devices in storage group [%s]",
           sg.c_str());
    return false;
  }
  std::list<std::string> already, toAdd;
  for (const std::string& d : mp.devices)
    (inGroup.count(d) ? already : toAdd).push_back(d);
  if (toAdd.empty()) {
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "All the target devices are already in storage group [%s]", sg.c_str());
    return true;
  }
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
         "List of target devices already in storage group [%s]",
         Join(already).c_str());
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
         "List of target devices to be added to storage group [%s]",
         Join(toAdd).c_str());
  bool ok = arrayApi->SGDevAdd(l.serial, toAdd, sg);

  std::set<std::string> all;
  for (const auto& e : sgByHba) all.insert(e.second.begin(), e.second.end());
  int toAll = 0;
  GetRegInt(nullptr, vmaxcfg::kSettingMapToAllSgsOfHost, &toAll);
  if (all.size() >= 2 && toAll == vmaxcfg::kFlagOn)
    for (const std::string& g : all) ok = arrayApi->SGDevAdd(l.serial, toAdd, g);
  if (!ok) return false;
  PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Device mapping success");
  return true;
}

bool VMAXAPI::UnMapDeviceFromAllHosts(VMAXMapParams& mp) {
  static const char* kFn = "UnMapDeviceFromAllHosts";
  if (!arrayApi) return false;
  if (mp.serial.empty() || mp.devices.empty()) {
    std::string text;
    mp.dump(text);
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Invalid parameters");
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", text.c_str());
    return false;
  }
  std::unordered_set<std::string> parents;
  arrayApi->GetParentSGList(mp.serial, parents);
  std::map<std::string, std::list<std::string>> byGroup;
  for (const std::string& dev : mp.devices) {
    std::list<std::string> groups;
    if (!arrayApi->GetSGListByDevice(mp.serial, dev, groups)) {
      PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
             "Failed to find storage group for target devices [%s]", dev.c_str());
      return false;
    }
    for (const std::string& g : groups)
      if (!parents.count(g)) byGroup[g].push_back(dev);
  }
  for (const auto& e : byGroup) {
    std::string devs = Join(e.second);
    if (!arrayApi->SGDevRemove(mp.serial, e.second, e.first)) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Failed to remove devices [%s] from storage group [%s]",
             devs.c_str(), e.first.c_str());
      return false;
    }
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "Successfully removed devices [%s] from storage group [%s].",
           devs.c_str(), e.first.c_str());
  }
  return true;
}

bool VMAXAPI::UnmapSnaps(VMAXSnapParamList& l, long jobId) {
  static const char* kFn = "UnmapSnaps";
  if (!arrayApi) return false;
  if (l.params.empty()) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "Invalid parameters");
    return false;
  }
  if (!config.bSkipRestoreCleanup)
    arrayApi->RestoreCleanup(l.serial, l.params.front().snapUid, SourcesOf(l),
                             false);
  if (l.decoupledClone)
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "Decoupled instant clone. Target devices will be unlinked from snap "
           "but will be left mapped to host. Please cleanup manually once done.");
  // The link query clears the target of every unlinked param; keep them.
  std::vector<std::string> targets;
  for (const VMAXSnapParam& p : l.params) targets.push_back(p.targetDevice);
  if (!arrayApi->IsSnapLinked(l)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Failed to check if snaps are linked to target device(s).");
    return false;
  }
  if (!l.isVMware)
    for (const VMAXSnapParam& p : l.params)
      if (p.targetLinked && p.snapInfo)
        p.snapInfo->setMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE,
                                p.targetDevice.c_str());

  VMAXSnapParamList stale(l);  // unlinked params with their recorded target
  stale.params.clear();
  size_t i = 0, unlinked = 0;
  for (const VMAXSnapParam& p : l.params) {
    const std::string& target = targets[i++];
    if (p.targetLinked) continue;
    ++unlinked;
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Target device [%s] is not linked to snap [%s] source [%s], "
           "considering unmapped.",
           target.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
    SetStatusOnly(p.snapInfo, PZSO::SNAP_STATUS_UNMAPPED);
    if (!target.empty()) {
      stale.params.push_back(p);
      stale.params.back().targetDevice = target;
    }
  }
  // A reservation of a target that is not linked (a map that failed half
  // way) would otherwise stay in the database for good.
  if (!stale.params.empty())
    DeleteActiveSnaps(stale.params.front().snapInfo, jobId, stale);
  if (unlinked == l.params.size()) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "All snaps are unmapped");
    return true;
  }

  VMAXSnapParamList w(l);
  w.params.remove_if(isVMAXSnapNotLinked);
  if (!w.decoupledClone) {
    VMAXMapParams mp;
    mp.serial = w.serial;
    mp.initiators = w.initiators;
    mp.devices = TargetsOf(w);
    if (!UnMapDeviceFromAllHosts(mp)) {
      for (const VMAXSnapParam& p : w.params)
        SetStatusOnly(p.snapInfo, PZSO::SNAP_STATUS_UNMAP_FAILED);
      return false;
    }
  }
  SnapInfo* front = w.params.front().snapInfo;
  if (front && front->isSnapFlagSet(PZSO::SNAP_FLAG_HYPERV_BACKUP)) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Hyper-V snap backup. target device(s) will not be unlinked from "
           "snap(s)");
  } else {
    if (!DeleteActiveSnaps(front, jobId, w)) return false;
    int attempts = PositiveSetting(vmaxcfg::kSettingDetachRetryAttempts,
                                   vmaxcfg::kDefaultDetachRetryAttempts);
    int waitSecs = PositiveSetting(vmaxcfg::kSettingDetachRetryWaitSecs,
                                   vmaxcfg::kDefaultDetachRetryWaitSecs);
    bool unlinkedOk = false;
    for (int attempt = 1; attempt <= attempts && !unlinkedOk; ++attempt) {
      PZ_LOG(snapInfo, LOG_DETAIL, kFn, "Link Device detach attempt [%d of %d]",
             attempt, attempts);
      if (attempt > 1) WaitSeconds(waitSecs);
      unlinkedOk = arrayApi->UnlinkTarget(w);
    }
    if (!unlinkedOk) {
      if (!config.bSYMCLIForceUnlink)
        for (const VMAXSnapParam& p : w.params)
          SetStatusOnly(p.snapInfo, PZSO::SNAP_STATUS_UNMAP_FAILED);
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Failed to unlink target device(s) from Snap(s)");
      return false;
    }
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Successfully unlinked target devices from snap(s)");
  }
  for (const VMAXSnapParam& p : w.params)
    SetOutcome(p.snapInfo, PZSO::SNAP_STATUS_UNMAPPED);
  if (w.decoupledClone) WriteDecoupledCloneRecord(snapInfo, w);
  return true;
}
