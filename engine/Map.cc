// Map: present the snapshots of a mount request to the mounting host. The
// host side finds the initiators, has the array side link and map targets,
// then rescans until every target shows up.
#include <algorithm>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "hostdev/VMAXUtils.h"
#include "host/PzClock.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

using vmaxcfg::kDefaultMountRetryAttempts;
using vmaxcfg::kDefaultMountRetryWaitSecs;
constexpr int64_t kMsPerSecond = 1000;
const char* const kDeviceVendor = "EMC";

void printDeviceList(SnapInfo* si, const std::list<std::string>& devices) {
  int i = 0;
  for (const auto& d : devices)
    si->log(LOG_DETAIL, "PRINT_DEVICE_LIST", " Volume [%d] DeviceName [%s]", i++,
            d.c_str());
}

// An additional setting of at least 1, else its default.
int mountSetting(const char* name, int fallback) {
  int value = fallback;
  GetRegInt(nullptr, name, &value);
  return value < 1 ? 1 : value;
}

bool allMapped(SnapInfo** requests, short count) {
  return countStatus(requests, count, PZSO::SNAP_STATUS_MAPPED) == count;
}

// Rescans until every pending request has found its device (status 12) or
// the configured attempts are used up.
void rescanForDevices(SnapInfo** requests, short count, PZOSUtil* os,
                      const VMAX_HBAs& hbas, bool isVMware,
                      const std::string& hostId, std::list<std::string> before,
                      const std::vector<VMAXMappedDevices>& pending) {
  SnapInfo* first = requests[0];
  const std::list<std::string>& initiators = isVMware ? hbas.esxHbas : hbas.localHbas;
  const int attempts =
      mountSetting(vmaxcfg::kSettingMountRetryAttempts, kDefaultMountRetryAttempts);
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    int waitSecs = mountSetting(vmaxcfg::kSettingMountRetryWaitSecs, kDefaultMountRetryWaitSecs);
    PzClock::sleepMs(int64_t(waitSecs) * kMsPerSecond);
    refreshSystemBus(os, initiators, std::list<std::string>(), hostId);
    std::list<std::string> after;
    getDeviceListWrapper(first, after, os, hostId, kDeviceVendor, isVMware);
    printDeviceList(first, after);
    std::set<std::string> seen(before.begin(), before.end());
    std::list<std::string> fresh;
    for (const auto& d : after)
      if (!seen.count(d)) fresh.push_back(d);
    discoverMappedDevices(os, fresh.empty() ? after : fresh, pending, isVMware);
    if (allMapped(requests, count)) {
      first->log(LOG_PROGRESS, "pzso_mapSnaps", "All device paths found on %s",
                 isVMware ? "ESX" : "host");
      return;
    }
    before.swap(after);
  }
}

// Records each request's target as its mount target and finds those whose
// device the host does not show yet (pending). False when a request's
// metadata cannot be read or written.
bool PendingDevices(SnapInfo** requests, short count,
                    std::vector<VMAXMappedDevices>* pending, std::string* targets,
                    std::string* snaps) {
  const char* fn = "pzso_mapSnaps";
  SnapInfo* first = requests[0];
  bool checked = true;
  for (short i = 0; i < count && checked; ++i) {
    SnapInfo* si = requests[i];
    VMAXMetadata rmd;
    std::string target;
    if (!getSnapMetadata(si, PZSO::SNAP_STATUS_MAP_FAILED,
                         PZSO::SM_MDT_SNAP_UNIQUE_ID, rmd)) {
      checked = false;
      break;
    }
    if (!si->getMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, target) || target.empty()) {
      first->log(LOG_PROGRESS, fn,
                 "Target device not found in metadata SM_MDT_MAPPED_TARGET_DEVICE");
      checked = false;
      break;
    }
    first->log(LOG_PROGRESS, fn, "SM_MDT_MAPPED_TARGET_DEVICE [%s]", target.c_str());
    if (si->setMetadata(PZSO::SM_MDT_MOUNT_TARGET_DEVICE, target.c_str()) != 0) {
      first->log(LOG_FAILURE, fn, "Failed to set metadata id [%d] for for SMSnapId [%d]",
                 PZSO::SM_MDT_MOUNT_TARGET_DEVICE, si->getSMSnapId());
      checked = false;
      break;
    }
    *targets += target + " ";
    *snaps += rmd.snapName + " ";
    bool found = false;
    if (si->getStatus() == PZSO::SNAP_STATUS_MAPPED) {
      std::string path;
      si->getDevicePath(path);
      if (verifyDeviceBySCSIInquiry(si, path, rmd.arraySerial, target)) {
        found = true;
        first->log(LOG_PROGRESS, fn,
                   "Device Path [%s] found on host matching device number [%s]",
                   path.c_str(), target.c_str());
      }
    }
    if (!found) {
      VMAXMappedDevices m;
      m.snapInfo = si;
      m.sourceDevice = rmd.sourceDevice;
      m.targetDevice = target;
      m.arraySerial = rmd.arraySerial;
      pending->push_back(m);
    }
  }

  return checked;
}

// The initiators of the mounting host (and of its ESX host for a VMware
// request); false with the request's error set when they cannot be found.
bool DetectMapInitiators(SnapInfo* first, PZOSUtil* os, const std::string& hostId,
                         std::string& arraySerial, bool isVMware, VMAX_HBAs& hbas) {
  const char* fn = "pzso_mapSnaps";
  bool isIscsi = false;
  bool detected = detectHbalist(first, os, hbas.localHbas, "", arraySerial, isIscsi);
  if (!detected || hbas.localHbas.empty()) {
    if (!isVMware) {
      setError(first, PZ_ERR_INITIATORS, "Unable to detect initiators.");
      return false;
    }
    first->log(LOG_FAILURE, fn, "Unable to detect local host initiator(s).");
  }
  first->log(LOG_PROGRESS, fn, "Local host HBA list [%s]",
             concatStrings(hbas.localHbas, ",").c_str());
  if (isVMware) {
    std::string esxHba;
    if (!detectHBA(first, esxHba, isIscsi, arraySerial, os, hostId) || esxHba.empty()) {
      setError(first, PZ_ERR_INITIATORS, "Unable to detect initiator info.");
      return false;
    }
    hbas.esxHbas.push_back(esxHba);
    first->log(LOG_PROGRESS, fn, "ESX HBA list [%s]",
               concatStrings(hbas.esxHbas, ",").c_str());
  }
  return true;
}

}  // namespace

PZSO_EXPORT int pzso_mapSnaps(SnapInfo** requests, short count, PZOSUtil* os) {
  if (!validateInputParams(requests, count, os)) return PZ_RESULT_FAILURE;
  const char* fn = "pzso_mapSnaps";
  SnapInfo* first = requests[0];
  SnapInfo* last = requests[count - 1];
  first->log(LOG_DETAIL, fn, "Going to map [%d] snaps to the host", count);

  std::string hostId;
  if (!getHostIdentifier(last, hostId)) {
    first->log(LOG_DETAIL, fn, "Failed to get host identifier");
    setError(last, PZ_ERR_HOST_IDENTIFIER, "Failed to get host identifier");
    return PZ_RESULT_FAILURE;
  }
  VMAXMetadata md;
  if (!getSnapMetadata(first, PZSO::SNAP_STATUS_MAP_FAILED,
                       PZSO::SM_MDT_SNAP_UNIQUE_ID, md))
    return PZ_RESULT_FAILURE;
  std::string arraySerial = md.arraySerial;

  VMAX_HBAs hbas;
  bool isVMware = false;
  IsIDATypeVMWare(first, isVMware);
  if (!DetectMapInitiators(first, os, hostId, arraySerial, isVMware, hbas))
    return PZ_RESULT_FAILURE;

  std::list<std::string> before;
  if (!getDeviceListWrapper(first, before, os, hostId, kDeviceVendor, isVMware)) {
    setAllStatus(requests, count, PZSO::SNAP_STATUS_MAP_FAILED);
    return PZ_RESULT_FAILURE;
  }
  printDeviceList(first, before);

  if (vmax_mapWorker(requests, count, os, hbas, true) != PZ_RESULT_SUCCESS) {
    first->log(LOG_PROGRESS, fn, "Failed to map snaps");
    setAllStatus(requests, count, PZSO::SNAP_STATUS_MAP_FAILED);
    return PZ_RESULT_FAILURE;
  }
  first->log(LOG_PROGRESS, fn, "Successfully mapped snaps");

  std::string targets, snaps;
  std::vector<VMAXMappedDevices> pending;
  bool checked = PendingDevices(requests, count, &pending, &targets, &snaps);
  if (checked) {
    if (pending.empty()) {
      first->log(LOG_PROGRESS, fn, "All device paths found corresponding to target devices [%s]",
                 targets.c_str());
      return PZ_RESULT_SUCCESS;
    }
    rescanForDevices(requests, count, os, hbas, isVMware, hostId, before, pending);
  }

  if (allMapped(requests, count)) {
    first->log(LOG_PROGRESS, fn, "Successfully mapped snaps [%s]", snaps.c_str());
    return PZ_RESULT_SUCCESS;
  }
  first->log(LOG_PROGRESS, fn, "Failed to map snaps [%s]", snaps.c_str());
  return PZ_RESULT_FAILURE;
}

namespace {

// Reserves, links and maps the targets of one array; false on failure.
bool mapArrayList(SnapInfo** requests, short count, PZOSUtil* os,
                  VMAXSnapParamList& list, const VMAX_HBAs& hbas) {
  const char* fn = "vmax_mapWorker";
  SnapInfo* first = requests[0];
  SnapInfo* head = list.params.front().snapInfo;
  std::shared_ptr<VMAXAPI> api =
      initArrayParams(head, os, list.serial, PZSO::SNAP_STATUS_MAP_FAILED);
  if (!api) {
    first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
    return false;
  }
  VMAXSnapConfig config = api->getSnapConfig();
  if (config.linkDeviceStorageGroup.empty()) {
    const char* text =
        "Snap config [Use SnapVX target devices from storage group] is empty, "
        "please specify target device storage group";
    for (short i = 0; i < count; ++i)
      requests[i]->setErrorInfo(PZSO::SNAP_STATUS_MAP_FAILED, text);
    return false;
  }
  if (first->isJobFlagSet(PZSO::JOB_FLAG_CLONE_MOUNT) && config.bDecoupledInstantClone) {
    first->log(LOG_PROGRESS, fn, "Decoupled mode instant clone config is enabled.");
    list.decoupledClone = true;
    for (short i = 0; i < count; ++i) requests[i]->setJobFlag(PZSO::JOB_FLAG_DECOUPLED_CLONE);
  }
  if (!api->ReserveTarget(list, os->getJobId())) {
    first->log(LOG_FAILURE, fn, "Failed to find and link target devices to snaps");
    if (!list.errStr.empty())
      for (short i = 0; i < count; ++i)
        requests[i]->setErrorInfo(PZSO::SNAP_STATUS_MAP_FAILED, list.errStr.c_str());
    return false;
  }
  std::string targets;
  for (const auto& p : list.params) targets += p.targetDevice + " ";
  if (!api->MapSnaps(list)) {
    first->log(LOG_FAILURE, fn, "Map operation failed for snaps(s) [%s]",
               list.serial.c_str());
    if (!list.errStr.empty())
      for (short i = 0; i < count; ++i)
        requests[i]->setErrorInfo(PZSO::SNAP_STATUS_MAP_FAILED, list.errStr.c_str());
    return false;
  }
  first->log(LOG_PROGRESS, fn, "Successfully mapped target devices [%s] to [%s]",
             targets.c_str(), list.isVMware ? "ESX" : "local host");
  if (list.isVMware && !hbas.localHbas.empty()) {
    first->log(LOG_PROGRESS, fn,
               "Going to map devices to  mapped devices [%s] to local host",
               targets.c_str());
    list.initiators = hbas.localHbas;
    list.isVMware = false;
    if (!api->MapSnaps(list))
      first->log(LOG_FAILURE, fn,
                 "Failed to map devices [%s] to local host, ignoring the failure",
                 targets.c_str());
    else
      first->log(LOG_PROGRESS, fn, "Successfully mapped devices [%s] to local host",
                 targets.c_str());
  }
  return true;
}

}  // namespace

int vmax_mapWorker(SnapInfo** requests, short count, PZOSUtil* os,
                   VMAX_HBAs& hbas, bool allowRemote) {
  if (!validateInputParams(requests, count, os)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_mapWorker";
  SnapInfo* first = requests[0];
  std::string remoteMA;
  if (allowRemote && remoteSnapMAOther(first, fn, remoteMA)) {
    std::string json, response;
    populateJsonForArrayMapRequest(hbas, json);
    first->log(LOG_PROGRESS, fn, "Sending request to Remote Snap MA [%s] Request[%s]",
               remoteMA.c_str(), json.c_str());
    return executeOnRemoteMA(requests, count, os, remoteMA, REMOTE_MSG_MAP, json,
                             response);
  }

  first->log(LOG_PROGRESS, fn, "Starting map for [%d] snaps", count);
  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i)
    groups[requests[i]->getArrayNum()].push_back(requests[i]);
  bool isVMware = false;
  IsIDATypeVMWare(first, isVMware);

  bool failed = false;
  for (auto& group : groups) {
    std::map<std::string, VMAXSnapParamList> lists;
    for (SnapInfo* si : group.second) {
      std::string value;
      si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value);
      first->log(LOG_PROGRESS, fn, "Received metadata [%d : %s]",
                 PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str());
      VMAXMetadata md;
      if (!parseSnapUidMetadata(value, md)) {
        si->log(LOG_FAILURE, fn, "Failed to get Snap information from unique identifier [%s]",
                value.c_str());
        setAllStatus(requests, count, PZSO::SNAP_STATUS_MAP_FAILED);
        return PZ_RESULT_FAILURE;
      }
      VMAXSnapParam p(si);
      p.sourceDevice = md.sourceDevice;
      p.snapUid = md.snapName;
      std::string target;
      if (si->getMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, target)) {
        p.targetDevice = target;
        first->log(LOG_PROGRESS, fn, "Found target dev saved in metadata. snap [%d] target [%s]",
                   si->getSMSnapId(), target.c_str());
      }
      p.snapDevFName = snapDeviceName(si, md);
      auto it = lists.find(md.arraySerial);
      if (it == lists.end()) {
        it = lists.emplace(md.arraySerial, VMAXSnapParamList()).first;
        it->second.serial = md.arraySerial;
        it->second.initiators = isVMware ? hbas.esxHbas : hbas.localHbas;
        it->second.isVMware = isVMware;
      }
      it->second.params.push_back(p);
    }
    for (auto& entry : lists) {
      if (!mapArrayList(requests, count, os, entry.second, hbas)) {
        failed = true;
        break;  // the group's remaining lists are skipped
      }
    }
  }
  if (!failed) return PZ_RESULT_SUCCESS;
  for (short i = 0; i < count; ++i) {
    requests[i]->setStatus(PZSO::SNAP_STATUS_MAP_FAILED);
    if (requests[i]->isJobFlagSet(PZSO::JOB_FLAG_DECOUPLED_CLONE))
      requests[i]->clearJobFlag(PZSO::JOB_FLAG_DECOUPLED_CLONE);
  }
  return PZ_RESULT_FAILURE;
}

int vmax_mapWorkerWrapper(SnapInfo** requests, short count, PZOSUtil* os) {
  if (!validateInputParams(requests, count, os)) return PZ_RESULT_FAILURE;
  SnapInfo* first = requests[0];
  std::string value;
  if (!first->getMetadata(PZSO::SM_MDT_REMOTE_REQUEST, value)) {
    first->log(LOG_FAILURE, "vmax_mapWorkerWrapper",
               "Failed to get the request metadata of type [%d]",
               PZSO::SM_MDT_REMOTE_REQUEST);
    return PZ_RESULT_FAILURE;
  }
  VMAX_HBAs hbas;
  getDetailsForArrayMapRequest(value, hbas);
  int result = vmax_mapWorker(requests, count, os, hbas, false);
  first->setRequestMetadata(PZSO::SM_MDT_REMOTE_REQUEST, nullptr);
  return result;
}
