// Reconcile (check the host's records against the arrays) and revert
// (restore source devices from their snapshots).
#include <map>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "host/HostServices.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

using ListsByName = std::map<std::string, VMAXSnapParamList>;

void addToList(ListsByName& lists, SnapInfo* si, const VMAXMetadata& md) {
  VMAXSnapParam p(si);
  p.snapUid = md.snapName;
  p.sourceDevice = md.sourceDevice;
  auto it = lists.find(md.snapName);
  if (it == lists.end()) {
    it = lists.emplace(md.snapName, VMAXSnapParamList()).first;
    it->second.serial = md.arraySerial;
  }
  it->second.params.push_back(p);
}

std::map<int, std::vector<SnapInfo*>> groupByArrayNum(SnapInfo** requests,
                                                      short count) {
  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i)
    groups[requests[i]->getArrayNum()].push_back(requests[i]);
  return groups;
}

// Revert of the lists of one array-number group; false ends all array work.
bool revertGroup(const std::vector<SnapInfo*>& group, SnapInfo* first,
                 PZOSUtil* util) {
  const char* fn = "vmax_revertWorker";
  ListsByName lists;
  for (SnapInfo* si : group) {
    std::string value;
    si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value);
    first->log(LOG_PROGRESS, fn, "Received metadata [%d : %s]",
               PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str());
    VMAXMetadata md;
    if (!parseSnapUidMetadata(value, md)) {
      si->log(LOG_FAILURE, fn, "Failed to get Snap information from unique identifier [%s]",
              value.c_str());
      return false;
    }
    addToList(lists, si, md);
  }
  for (auto& entry : lists) {
    VMAXSnapParamList& list = entry.second;
    SnapInfo* head = list.params.front().snapInfo;
    std::shared_ptr<VMAXAPI> api =
        initArrayParams(head, util, list.serial, PZSO::SNAP_STATUS_REVERT_FAILED);
    if (!api) {
      first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
      return false;
    }
    std::string description = list.params.front().snapUid;
    if (!api->RevertSnaps(list)) {
      first->log(LOG_FAILURE, fn, "Failed to revert source devices from snaps [%s]",
                 description.c_str());
      return false;
    }
    first->log(LOG_DETAIL, fn, "Successfully reverted source devices from snaps [%s]",
               description.c_str());
  }
  return true;
}

}  // namespace

int vmax_reconcileWorker(SnapInfo** requests, short count, PZOSUtil* util,
                         bool allowRemote) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_reconcileWorker";
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, fn, "Starting reconcile operation for [%d] snaps", count);
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote && forwardToRemoteSnapMA(requests, count, util, fn,
                                           REMOTE_MSG_RECONCILE, &forwarded))
    return forwarded;

  for (auto& group : groupByArrayNum(requests, count)) {
    ListsByName lists;
    for (SnapInfo* si : group.second) {
      std::string value;
      if (!si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value) || value.empty()) {
        first->log(LOG_PROGRESS, fn, "snap unique identifier is empty.");
        continue;
      }
      first->log(LOG_PROGRESS, fn, "Received metadata [%d : %s]",
                 PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str());
      VMAXMetadata md;
      if (!parseSnapUidMetadata(value, md)) {
        si->log(LOG_FAILURE, fn, "Failed to parse snap metadata [%s]", value.c_str());
        si->setStatus(PZSO::SNAP_STATUS_DELETE_FAILED);
        continue;
      }
      addToList(lists, si, md);
    }
    for (auto& entry : lists) {
      VMAXSnapParamList& list = entry.second;
      SnapInfo* head = list.params.front().snapInfo;
      std::shared_ptr<VMAXAPI> api =
          initArrayParams(head, util, list.serial, PZSO::SNAP_STATUS_NO_SNAPSHOT);
      if (!api) {
        first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
        continue;
      }
      std::string description = list.serial + "-";
      for (const auto& p : list.params) description += p.snapUid + " ";
      if (!api->ReconcileSnaps(list))
        first->log(LOG_FAILURE, fn, "Reconciliation failed for snaps [%s]",
                   description.c_str());
      else
        first->log(LOG_DETAIL, fn, "Successfully reconciled snaps [%s]",
                   description.c_str());
    }
  }
  first->log(LOG_PROGRESS, fn, "Reconcile operation completed");
  return PZ_RESULT_SUCCESS;
}

int vmax_revertWorker(SnapInfo** requests, short count, PZOSUtil* util,
                      bool allowRemote) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_revertWorker";
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, fn, "Starting revert operation for [%d] snaps", count);
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote &&
      forwardToRemoteSnapMA(requests, count, util, fn, REMOTE_MSG_REVERT, &forwarded))
    return forwarded;

  // All or nothing: one request without a snapshot or with host mappings
  // refuses the whole call before any array command.
  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i) {
    SnapInfo* si = requests[i];
    int status = si->getStatus();
    if (status == PZSO::SNAP_STATUS_NO_SNAPSHOT) {
      setError(si, PZ_ERR_REVERT_NO_SNAP_DEVICE, "Failed, could not find snap device");
      si->setStatus(PZSO::SNAP_STATUS_REVERT_FAILED);
      return PZ_RESULT_FAILURE;
    }
    if (status == PZSO::SNAP_STATUS_MAPPED) {
      std::string source;
      si->getSourceDevice(source);
      std::string text = FXString::Format(
          "Snap device [%s] has host mappings, cannot perform revert", source.c_str());
      setError(si, PZ_ERR_REVERT_HOST_MAPPINGS, text.c_str());
      return PZ_RESULT_FAILURE;
    }
    si->setStatus(PZSO::SNAP_STATUS_REVERT_FAILED);
    groups[si->getArrayNum()].push_back(si);
  }
  for (auto& group : groups)
    if (!revertGroup(group.second, first, util)) break;
  return countStatus(requests, count, PZSO::SNAP_STATUS_REVERTED) < count
             ? PZ_RESULT_FAILURE
             : PZ_RESULT_SUCCESS;
}

PZSO_EXPORT int pzso_revertSnaps(SnapInfo** requests, short count,
                                 PZOSUtil* util) {
  return vmax_revertWorker(requests, count, util, true);
}

PZSO_EXPORT int pzso_reconcileSnaps(SnapInfo** requests, short count,
                                    PZOSUtil* util) {
  return vmax_reconcileWorker(requests, count, util, true);
}
