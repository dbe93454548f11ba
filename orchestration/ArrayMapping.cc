// Array-side mapping and unmapping: present linked targets to the host's
// storage group, and take them away again (storage groups, reservations,
// unlink with retries, decoupled clone record).
#include <atomic>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "array/CommandRunner.h"
#include "common/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "hostdev/VMAXUtils.h"
#include "orchestration/OrchestrationUtil.h"
#include "orchestration/Sleep.h"
#include "orchestration/VMAXAPI.h"

using PZSO::SnapInfo;

namespace {

const char* kDecoupledClonePrefix = "VMAX_DClone_";

// Runs body(0) .. body(count - 1), at most `width` at once, on threads of
// this call, and returns when every one has ended. A body that returns false
// stops those after it that have not started (alone, the loop would have
// stopped there). Each body keeps its command-layer log lines in logs[i]
// for the caller to write in order.
void RunBounded(size_t count, int width, std::vector<DeferredCommandLog>& logs,
                const std::function<bool(size_t)>& body) {
  logs.assign(count, DeferredCommandLog());
  size_t threads = std::min(count, size_t(width < 1 ? 1 : width));
  if (threads <= 1) {
    for (size_t i = 0; i < count && body(i); ++i) {
    }
    return;
  }
  std::atomic<size_t> next{0}, stop{count};
  auto worker = [&] {
    for (size_t i = next++; i < count && i < stop; i = next++) {
      ScopedCommandLogDeferral defer(&logs[i]);
      if (body(i)) continue;
      for (size_t s = stop; i < s && !stop.compare_exchange_weak(s, i);) {
      }
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
  for (std::thread& t : pool) t.join();
}

std::string Join(const std::list<std::string>& items) {
  return concatStrings(items, ",");
}

// The storage groups masking views of the host's initiators reach, in the
// order they are preferred: the groups of the first initiator (in list
// order) that reaches any, by name, then every other group by name.
std::vector<std::string> ReachableGroups(
    const std::list<std::string>& initiators,
    const std::unordered_map<std::string, std::unordered_set<std::string>>&
        sgByHba) {
  std::vector<std::string> out;
  for (const std::string& i : initiators) {
    auto it = sgByHba.find(i);
    if (it == sgByHba.end() || it->second.empty()) continue;
    std::set<std::string> first(it->second.begin(), it->second.end());
    out.assign(first.begin(), first.end());
    break;
  }
  std::set<std::string> all;
  for (const auto& e : sgByHba) all.insert(e.second.begin(), e.second.end());
  for (const std::string& g : all)
    if (std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
  return out;
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
  std::vector<std::string> reachable;
  if (arrayApi->GetSGListByHBA(l.serial, l.initiators, sgByHba))
    reachable = ReachableGroups(l.initiators, sgByHba);
  if (reachable.empty()) {
    PZ_LOG(snapInfo, LOG_DETAIL, kFn, "No storage group found");
    l.errStr = "Failed to find a storage group that a masking view presents "
               "to the host's initiators on array [" + l.serial + "]";
    return false;
  }
  std::string sg;
  std::unordered_set<std::string> inGroup;
  if (!ChooseMountGroup(l, reachable, &sg, &inGroup)) return false;
  PZ_LOG(snapInfo, LOG_PROGRESS, kFn, "Going to map devices to storage group [%s]",
         sg.c_str());
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

// The group of `reachable` (in order) that the targets go into. A group that
// also presents source devices of this mount is a production group: the
// targets go into a group that holds none of them. Views named in the
// configuration were chosen on purpose and are taken as they are.
bool VMAXAPI::ChooseMountGroup(VMAXSnapParamList& l,
                               const std::vector<std::string>& reachable,
                               std::string* sg,
                               std::unordered_set<std::string>* inGroup) {
  static const char* kFn = "MapSnaps";
  std::unordered_set<std::string> sources;
  for (const VMAXSnapParam& p : l.params) sources.insert(StdDevName(p.sourceDevice));
  const bool anyGroup = !config.allowMaskingViews.empty();
  std::string withSources;
  for (const std::string& g : reachable) {
    std::unordered_set<std::string> devs;
    if (!arrayApi->GetDevListBySG(l.serial, g, devs)) {
      PZ_LOG(snapInfo, LOG_FAILURE, kFn,
             "Could not find current list of devices in storage group [%s]",
             g.c_str());
      l.errStr = "Failed to list the devices of storage group [" + g + "]";
      return false;
    }
    bool holdsSources = false;
    for (const std::string& d : devs)
      holdsSources = holdsSources || sources.count(StdDevName(d));
    if (holdsSources && !anyGroup) {
      PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
             "Storage group [%s] holds source devices of the snapshots, "
             "looking for another one",
             g.c_str());
      withSources += (withSources.empty() ? "" : ",") + g;
      continue;
    }
    *sg = g;
    inGroup->swap(devs);
    break;
  }
  if (sg->empty()) {
    int allow = 0;
    GetRegInt(nullptr, vmaxcfg::kSettingAllowMapToSourceSG, &allow);
    if (allow != vmaxcfg::kFlagOn) {
      l.errStr = "Every storage group that the host's masking views reach [" +
                 withSources +
                 "] holds source devices of the snapshots; the target devices "
                 "are not added to a production group. Present a storage group "
                 "for mounts to the host, or set additional setting " +
                 std::string(vmaxcfg::kSettingAllowMapToSourceSG) + " to 1";
      PZ_LOG(snapInfo, LOG_FAILURE, kFn, "%s", l.errStr.c_str());
      return false;
    }
    *sg = reachable.front();
    PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
           "Storage group [%s] holds source devices, used as %s is set", sg->c_str(),
           vmaxcfg::kSettingAllowMapToSourceSG);
    if (!arrayApi->GetDevListBySG(l.serial, *sg, *inGroup)) {
      PZ_LOG(snapInfo, LOG_DETAIL, kFn,
             "Could not find current list of devices in storage group [%s]",
             sg->c_str());
      return false;
    }
  }
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
  // The lookups only read: several run at once, and their outcomes (and
  // log lines) are taken in device order, as if they had run one by one.
  const std::vector<std::string> devices(mp.devices.begin(), mp.devices.end());
  std::vector<std::list<std::string>> groupsOf(devices.size());
  std::unique_ptr<bool[]> found(new bool[devices.size()]());
  std::vector<DeferredCommandLog> logs;
  RunBounded(devices.size(),
             PositiveSetting(vmaxcfg::kSettingParallelLookups,
                             vmaxcfg::kDefaultParallelLookups),
             logs, [&](size_t i) {
               found[i] = arrayApi->GetSGListByDevice(mp.serial, devices[i],
                                                      groupsOf[i]);
               return found[i];
             });
  std::map<std::string, std::list<std::string>> byGroup;
  for (size_t i = 0; i < devices.size(); ++i) {
    logs[i].Replay();
    if (!found[i]) {
      PZ_LOG(snapInfo, LOG_PROGRESS, kFn,
             "Failed to find storage group for target devices [%s]",
             devices[i].c_str());
      return false;
    }
    for (const std::string& g : groupsOf[i])
      if (!parents.count(g)) byGroup[g].push_back(devices[i]);
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

  size_t unlinked = 0;
  bool staleOk = UnmapStaleTargets(l, targets, jobId, &unlinked);
  if (unlinked == l.params.size()) {
    PZ_LOG(snapInfo, LOG_FAILURE, kFn, "All snaps are unmapped");
    return staleOk;
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
  } else if (!DetachTargets(w, jobId)) {
    return false;
  }
  for (const VMAXSnapParam& p : w.params)
    SetOutcome(p.snapInfo, PZSO::SNAP_STATUS_UNMAPPED);
  if (w.decoupledClone) WriteDecoupledCloneRecord(snapInfo, w);
  return staleOk;
}

// The params of `l` that are not linked (their recorded targets in
// `targets`, by position): each counts as unmapped, once a recorded target
// that is no longer linked (unlinked outside the host, or a map that failed
// half way) is out of the storage groups that may still present it;
// otherwise it would stay visible to the host and lost to the pool. False
// when that removal failed (those params are then 15).
bool VMAXAPI::UnmapStaleTargets(VMAXSnapParamList& l,
                                const std::vector<std::string>& targets,
                                long jobId, size_t* unlinked) {
  static const char* kFn = "UnmapSnaps";
  VMAXSnapParamList stale(l);  // unlinked params with their recorded target
  stale.params.clear();
  size_t i = 0;
  for (const VMAXSnapParam& p : l.params) {
    const std::string& target = targets[i++];
    if (p.targetLinked) continue;
    ++*unlinked;
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Target device [%s] is not linked to snap [%s] source [%s], "
           "considering unmapped.",
           target.c_str(), p.snapUid.c_str(), p.sourceDevice.c_str());
    if (!target.empty()) {
      stale.params.push_back(p);
      stale.params.back().targetDevice = target;
    } else {
      SetStatusOnly(p.snapInfo, PZSO::SNAP_STATUS_UNMAPPED);
    }
  }
  bool staleOk = true;
  if (!stale.params.empty() && !l.decoupledClone) {
    VMAXMapParams mp;
    mp.serial = stale.serial;
    mp.devices = TargetsOf(stale);
    PZ_LOG(snapInfo, LOG_FAILURE, kFn,
           "Target device(s) [%s] are not linked; removing them from the "
           "storage groups that still present them",
           Join(mp.devices).c_str());
    staleOk = UnMapDeviceFromAllHosts(mp);
  }
  for (const VMAXSnapParam& p : stale.params)
    SetStatusOnly(p.snapInfo, staleOk ? PZSO::SNAP_STATUS_UNMAPPED
                                      : PZSO::SNAP_STATUS_UNMAP_FAILED);
  // A reservation of a target that is not linked would otherwise stay in
  // the database for good.
  if (!stale.params.empty() && staleOk)
    DeleteActiveSnaps(stale.params.front().snapInfo, jobId, stale);
  return staleOk;
}

// Frees the reservations of the linked targets of `w` and unlinks them,
// with the configured attempts and waits.
bool VMAXAPI::DetachTargets(VMAXSnapParamList& w, long jobId) {
  static const char* kFn = "UnmapSnaps";
  if (!DeleteActiveSnaps(w.params.front().snapInfo, jobId, w)) return false;
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
  return true;
}
