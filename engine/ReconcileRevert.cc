// Reconcile (check the host's records against the arrays) and revert
// (restore source devices from their snapshots).
#include <map>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "host/HostServices.h"
#include "orchestration/VMAXAPI.h"

namespace {

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
  const ListStep step = {fn, PZSO::SNAP_STATUS_REVERT_FAILED, /*markListWithoutSession=*/false,
                         /*stopOnFailure=*/true, /*describeBySnapName=*/true,
                         "Failed to revert source devices from snaps",
                         "Successfully reverted source devices from snaps",
                         [](VMAXAPI& api, VMAXSnapParamList& l) { return api.RevertSnaps(l); }};
  return runOnLists(lists, first, util, step);
}

}  // namespace

int vmax_reconcileWorker(SnapInfo** requests, short count, PZOSUtil* util,
                         bool allowRemote) {
  const char* fn = "vmax_reconcileWorker";
  int result = PZ_RESULT_FAILURE;
  if (beginWorker(requests, count, util, allowRemote, fn, "reconcile",
                  REMOTE_MSG_RECONCILE, &result))
    return result;
  SnapInfo* first = requests[0];
  const ListStep step = {fn, PZSO::SNAP_STATUS_NO_SNAPSHOT, /*markListWithoutSession=*/false,
                         /*stopOnFailure=*/false, /*describeBySnapName=*/false,
                         "Reconciliation failed for snaps", "Successfully reconciled snaps",
                         [](VMAXAPI& api, VMAXSnapParamList& l) {
                           return api.ReconcileSnaps(l);
                         }};
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
    runOnLists(lists, first, util, step);
  }
  first->log(LOG_PROGRESS, fn, "Reconcile operation completed");
  return PZ_RESULT_SUCCESS;
}

int vmax_revertWorker(SnapInfo** requests, short count, PZOSUtil* util,
                      bool allowRemote) {
  const char* fn = "vmax_revertWorker";
  int forwarded = PZ_RESULT_FAILURE;
  if (beginWorker(requests, count, util, allowRemote, fn, "revert", REMOTE_MSG_REVERT,
                  &forwarded))
    return forwarded;
  SnapInfo* first = requests[0];

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
