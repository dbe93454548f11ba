// Delete: terminate the job's snapshots, one batch per array number and
// snapshot name.
#include <map>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

std::string batchDescription(const VMAXSnapParamList& list) {
  std::string d = list.serial + "-";
  for (const auto& p : list.params) d += p.snapUid + " ";
  return d;
}

}  // namespace

int vmax_deleteWorker(SnapInfo** requests, short count, PZOSUtil* util,
                      bool allowRemote) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_deleteWorker";
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, fn, "Starting delete operation for [%d] snaps", count);
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote &&
      forwardToRemoteSnapMA(requests, count, util, fn, REMOTE_MSG_DELETE, &forwarded))
    return forwarded;

  std::map<int, std::vector<SnapInfo*>> groups;
  for (short i = 0; i < count; ++i)
    groups[requests[i]->getArrayNum()].push_back(requests[i]);

  for (auto& group : groups) {
    std::map<std::string, VMAXSnapParamList> lists;
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
      VMAXSnapParam p(si);
      p.snapUid = md.snapName;
      p.sourceDevice = md.sourceDevice;
      p.snapDevFName = snapDeviceName(si, md);
      auto it = lists.find(md.snapName);
      if (it == lists.end()) {
        it = lists.emplace(md.snapName, VMAXSnapParamList()).first;
        it->second.serial = md.arraySerial;
      }
      it->second.params.push_back(p);
    }

    for (auto& entry : lists) {
      VMAXSnapParamList& list = entry.second;
      if (list.params.empty()) continue;
      SnapInfo* head = list.params.front().snapInfo;
      std::shared_ptr<VMAXAPI> api =
          initArrayParams(head, util, list.serial, PZSO::SNAP_STATUS_DELETE_FAILED);
      if (!api) {
        first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
        for (auto& p : list.params) p.snapInfo->setStatus(PZSO::SNAP_STATUS_DELETE_FAILED);
        continue;
      }
      std::string description = batchDescription(list);
      if (!api->DeleteSnaps(list))
        first->log(LOG_FAILURE, fn, "Batch delete failed for snaps(s) [%s]",
                   description.c_str());
      else
        first->log(LOG_DETAIL, fn, "Successfully deleted snap(s) [%s]",
                   description.c_str());
    }
  }
  return partialResult(requests, count, PZSO::SNAP_STATUS_DELETED);
}

PZSO_EXPORT int pzso_deleteSnaps(SnapInfo** requests, short count,
                                 PZOSUtil* util) {
  return vmax_deleteWorker(requests, count, util, true);
}
