// Unmap: take the targets of a mount away from the host (array side) and
// have the host forget their device paths (host side).
#include <list>
#include <map>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "hostdev/VMAXUtils.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

const char* const kDeviceVendor = "EMC";
const char* const kFn = "pzso_unmapSnaps";
using PathsByNumber = std::map<std::string, std::list<std::string>>;

// The host's initiators that reach the array: the local HBAs, or the ESX
// host's one.
bool DetectInitiators(SnapInfo* first, PZOSUtil* os, const std::string& hostId,
                      std::string& arraySerial, bool isVMware, VMAX_HBAs& hbas) {
  bool isIscsi = false;
  if (!isVMware)
    return detectHbalist(first, os, hbas.localHbas, hostId, arraySerial, isIscsi) &&
           !hbas.localHbas.empty();
  std::string esxHba;
  if (!detectHBA(first, esxHba, isIscsi, arraySerial, os, hostId) || esxHba.empty())
    return false;
  hbas.esxHbas.push_back(esxHba);
  return true;
}

// Host paths of this array's devices, by array device number.
PathsByNumber PathsByDevice(SnapInfo* first, PZOSUtil* os, const std::string& hostId,
                            const std::string& arraySerial) {
  PathsByNumber out;
  std::list<std::string> devices;
  if (!getDeviceListWrapper(first, devices, os, hostId, kDeviceVendor, false)) {
    first->log(LOG_FAILURE, kFn, "getDeviceList failed");
    devices.clear();
  }
  for (const auto& path : devices) {
    std::string device;
    std::vector<std::string> ids;
    if (!getDeviceInfo(first, path, device, ids)) continue;
    for (const auto& id : ids) {
      if (id == arraySerial) {
        out[device].push_back(path);
        break;
      }
    }
  }
  return out;
}

// The host paths of the targets of the unmapped requests; each of those
// forgets its target.
std::list<std::string> PathsToCleanUp(SnapInfo** requests, short count,
                                      const PathsByNumber& pathsByDevice) {
  SnapInfo* first = requests[0];
  std::list<std::string> cleanup;
  for (short i = 0; i < count; ++i) {
    SnapInfo* si = requests[i];
    if (si->getStatus() != PZSO::SNAP_STATUS_UNMAPPED) continue;
    std::string target;
    si->getMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, target);
    if (target.empty()) {
      first->log(LOG_PROGRESS, kFn,
                 "target device not found in metadata [SM_MDT_MAPPED_TARGET_DEVICE]");
    } else {
      auto it = pathsByDevice.find(target);
      if (it != pathsByDevice.end()) {
        first->log(LOG_PROGRESS, kFn, "Target Device [%s] Host device path [%s]",
                   target.c_str(), concatStrings(it->second, ",").c_str());
        cleanup.insert(cleanup.end(), it->second.begin(), it->second.end());
      }
    }
    si->setMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, nullptr);
  }
  return cleanup;
}

}  // namespace

PZSO_EXPORT int pzso_unmapSnaps(SnapInfo** requests, short count, PZOSUtil* os) {
  if (!validateInputParams(requests, count, os)) return PZ_RESULT_FAILURE;
  const char* fn = "pzso_unmapSnaps";
  SnapInfo* first = requests[0];
  SnapInfo* last = requests[count - 1];
  first->log(LOG_PROGRESS, fn, "Going to unmap [%d] snap device(s) from the host", count);

  std::string hostId;
  if (!getHostIdentifier(last, hostId)) {
    first->log(LOG_FAILURE, fn, "Failed to get host identifier");
    setError(last, PZ_ERR_HOST_IDENTIFIER, "Failed to get host identifier");
    return PZ_RESULT_FAILURE;
  }
  std::string arraySerial = getStorageArrayId(first);
  bool isVMware = false;
  IsIDATypeVMWare(first, isVMware);

  VMAX_HBAs hbas;
  if (!DetectInitiators(first, os, hostId, arraySerial, isVMware, hbas)) {
    std::string text = std::string(fn) + "Unable to detect initiator info.";
    setError(first, PZ_ERR_INITIATORS, text.c_str());
    return PZ_RESULT_FAILURE;
  }

  std::map<std::string, std::list<std::string>> pathsByDevice;
  if (!isVMware) pathsByDevice = PathsByDevice(first, os, hostId, arraySerial);

  // Preset so that a forward that never reached the remote side, which sets
  // no status, does not pass for unmapped.
  setAllStatus(requests, count, PZSO::SNAP_STATUS_UNMAP_FAILED);
  int arrayResult = vmax_unmapWorker(requests, count, os, true);
  int unmapped = countStatus(requests, count, PZSO::SNAP_STATUS_UNMAPPED);
  if (arrayResult != PZ_RESULT_SUCCESS) {
    first->log(LOG_PROGRESS, fn, "Failed to unmap snaps");
    // Requests the array side did unmap keep 14; their host paths are
    // cleaned up below like those of a full success.
    for (short i = 0; i < count; ++i)
      if (requests[i]->getStatus() != PZSO::SNAP_STATUS_UNMAPPED)
        requests[i]->setStatus(PZSO::SNAP_STATUS_UNMAP_FAILED);
  } else {
    first->log(LOG_PROGRESS, fn, "Successfully unmapped snaps");
  }

  if (unmapped > 0) {
    std::list<std::string> cleanup;
    bool keepOnHost = isVMware || first->isJobFlagSet(PZSO::JOB_FLAG_DECOUPLED_CLONE);
    if (!keepOnHost) cleanup = PathsToCleanUp(requests, count, pathsByDevice);
    first->log(LOG_PROGRESS, fn, "Device paths to cleanup [%s]\n",
               concatStrings(cleanup, ",").c_str());
    refreshSystemBus(os, isVMware ? hbas.esxHbas : hbas.localHbas, cleanup, hostId);
  }

  int result = partialResult(requests, count, PZSO::SNAP_STATUS_UNMAPPED);
  if (result == PZ_RESULT_SUCCESS)
    first->log(LOG_PROGRESS, fn, "Successfully unmapped all snaps");
  else if (result == PZ_RESULT_PARTIAL)
    first->log(LOG_PROGRESS, fn, "Failed to unmap some snaps");
  else
    first->log(LOG_PROGRESS, fn, "Failed to unmap all snaps.");
  return result;
}

int vmax_unmapWorker(SnapInfo** requests, short count, PZOSUtil* os,
                     bool allowRemote) {
  if (!validateInputParams(requests, count, os)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_unmapWorker";
  SnapInfo* first = requests[0];
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote &&
      forwardToRemoteSnapMA(requests, count, os, fn, REMOTE_MSG_UNMAP, &forwarded))
    return forwarded;

  first->log(LOG_PROGRESS, fn, "Starting unmap for [%d] snaps", count);
  setAllStatus(requests, count, PZSO::SNAP_STATUS_UNMAP_FAILED);
  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i)
    groups[requests[i]->getArrayNum()].push_back(requests[i]);
  bool isVMware = false;
  IsIDATypeVMWare(first, isVMware);

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
        continue;
      }
      VMAXSnapParam p(si);
      p.sourceDevice = md.sourceDevice;
      p.snapUid = md.snapName;
      si->getMetadata(PZSO::SM_MDT_MAPPED_TARGET_DEVICE, p.targetDevice);
      if (p.targetDevice.empty()) {
        si->log(LOG_PROGRESS, fn,
                "Target dev metadata is empty for snap [%d], considering it unmapped ",
                si->getSMSnapId());
        si->setStatus(PZSO::SNAP_STATUS_UNMAPPED);
        continue;
      }
      first->log(LOG_PROGRESS, fn, "Target device metadata. snap [%d] target [%s]",
                 si->getSMSnapId(), p.targetDevice.c_str());
      p.snapDevFName = snapDeviceName(si, md);
      auto it = lists.find(md.arraySerial);
      if (it == lists.end()) {
        it = lists.emplace(md.arraySerial, VMAXSnapParamList()).first;
        it->second.serial = md.arraySerial;
        it->second.isVMware = isVMware;
        it->second.decoupledClone = si->isJobFlagSet(PZSO::JOB_FLAG_DECOUPLED_CLONE);
      }
      it->second.params.push_back(p);
    }
    for (auto& entry : lists) {
      VMAXSnapParamList& list = entry.second;
      SnapInfo* head = list.params.front().snapInfo;
      std::shared_ptr<VMAXAPI> api =
          initArrayParams(head, os, list.serial, PZSO::SNAP_STATUS_UNMAP_FAILED);
      if (!api) {
        first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
        continue;
      }
      if (!api->UnmapSnaps(list, os->getJobId()))
        first->log(LOG_FAILURE, fn, "Failed to unmap snap(s)");
    }
  }
  return countStatus(requests, count, PZSO::SNAP_STATUS_UNMAPPED) == count
             ? PZ_RESULT_SUCCESS
             : PZ_RESULT_FAILURE;
}
