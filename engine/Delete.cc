// Delete: terminate the job's snapshots, one batch per array number and
// snapshot name.
#include <string>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "orchestration/VMAXAPI.h"

int vmax_deleteWorker(SnapInfo** requests, short count, PZOSUtil* util,
                      bool allowRemote) {
  const char* fn = "vmax_deleteWorker";
  int result = PZ_RESULT_FAILURE;
  if (beginWorker(requests, count, util, allowRemote, fn, "delete", REMOTE_MSG_DELETE,
                  &result))
    return result;
  SnapInfo* first = requests[0];
  const ListStep step = {fn, PZSO::SNAP_STATUS_DELETE_FAILED, /*markListWithoutSession=*/true,
                         /*stopOnFailure=*/false, /*describeBySnapName=*/false,
                         "Batch delete failed for snaps(s)", "Successfully deleted snap(s)",
                         [](VMAXAPI& api, VMAXSnapParamList& l) { return api.DeleteSnaps(l); }};
  for (auto& group : groupByArrayNum(requests, count)) {
    ListsByName lists;
    for (SnapInfo* si : group.second) {
      std::string value;
      if (!si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value) || value.empty()) {
        first->log(LOG_PROGRESS, fn, "Nothing to delete as unique identifier is empty.");
        si->setStatus(PZSO::SNAP_STATUS_DELETED);
        continue;
      }
      first->log(LOG_PROGRESS, fn, "Received metadata [%d : %s]",
                 PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str());
      VMAXMetadata md;
      if (!parseSnapUidMetadata(value, md)) {
        si->log(LOG_FAILURE, fn, "Failed to get Snap information from unique identifier [%s]",
                value.c_str());
        si->setStatus(PZSO::SNAP_STATUS_DELETE_FAILED);
        continue;
      }
      addToList(lists, si, md).snapDevFName = snapDeviceName(si, md);
    }
    runOnLists(lists, first, util, step);
  }
  return partialResult(requests, count, PZSO::SNAP_STATUS_DELETED);
}

PZSO_EXPORT int pzso_deleteSnaps(SnapInfo** requests, short count,
                                 PZOSUtil* util) {
  return vmax_deleteWorker(requests, count, util, true);
}
