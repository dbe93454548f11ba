// Snap and post-snap: one SnapVX snapshot per array of the job.
#include <map>
#include <string>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

// Snap and post-snap differ only in their log lines, message id and the
// SRDF line.
struct SnapVariant {
  const char* function;
  unsigned msgId;
  bool post;
};

const SnapVariant kSnap = {"vmax_snapWorker", REMOTE_MSG_SNAP, false};
const SnapVariant kPostSnap = {"vmax_postSnapWorker", REMOTE_MSG_POST_SNAP, true};

int runSnap(const SnapVariant& v, SnapInfo** requests, short count,
            PZOSUtil* util, bool allowRemote) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, v.function,
             v.post ? "Starting post-snap for [%d] devices"
                    : "Starting snap operation for [%d] devices",
             count);
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote &&
      forwardToRemoteSnapMA(requests, count, util, v.function, v.msgId, &forwarded))
    return forwarded;

  std::map<std::string, VMAXSnapParamList> lists;
  for (short i = 0; i < count; ++i) {
    VMAXMetadata md;
    if (!getSnapMetadata(requests[i], PZSO::SNAP_STATUS_CREATE_FAILED,
                         PZSO::SM_MDT_SNAP_UNIQUE_ID, md))
      return PZ_RESULT_FAILURE;
    VMAXSnapParam p(requests[i]);
    p.sourceDevice = md.sourceDevice;
    p.snapUid = md.snapName;
    VMAXSnapParamList& list = lists[md.arraySerial];
    list.serial = md.arraySerial;
    list.params.push_back(p);
  }

  for (auto& entry : lists) {
    VMAXSnapParamList& list = entry.second;
    std::shared_ptr<VMAXAPI> api =
        initArrayParams(first, util, list.serial, PZSO::SNAP_STATUS_CREATE_FAILED);
    if (!api) {
      first->log(LOG_FAILURE, v.function, "Failed to initialize the array parameters");
      setAllStatus(requests, count, PZSO::SNAP_STATUS_CREATE_FAILED);
      return PZ_RESULT_FAILURE;
    }
    if (!api->CreateSnaps(list)) {
      first->log(LOG_FAILURE, v.function, "Snap Creation failed");
      setAllStatus(requests, count, PZSO::SNAP_STATUS_CREATE_FAILED);
      return PZ_RESULT_FAILURE;
    }
    first->log(LOG_PROGRESS, v.function, "Successfully created snap(s).");
    if (!v.post && first->hasSRDFInfo())
      first->log(LOG_DETAIL, v.function, "SRDF Async [%s]",
                 first->isSRDFAsync() ? "true" : "false");
    for (auto& p : list.params) p.snapInfo->setStatus(PZSO::SNAP_STATUS_CREATED);
  }
  first->log(LOG_PROGRESS, v.function, "%s",
             v.post ? " Snap operation completed" : " Snap/clone operation completed");
  return countStatus(requests, count, PZSO::SNAP_STATUS_CREATED) == count
             ? PZ_RESULT_SUCCESS
             : PZ_RESULT_FAILURE;
}

}  // namespace

int vmax_snapWorker(SnapInfo** requests, short count, PZOSUtil* util,
                    bool allowRemote) {
  return runSnap(kSnap, requests, count, util, allowRemote);
}

int vmax_postSnapWorker(SnapInfo** requests, short count, PZOSUtil* util,
                        bool allowRemote) {
  return runSnap(kPostSnap, requests, count, util, allowRemote);
}

PZSO_EXPORT int pzso_snapDevices(SnapInfo** requests, short count,
                                 PZOSUtil* util) {
  return vmax_snapWorker(requests, count, util, true);
}

PZSO_EXPORT int pzso_postSnapDevices(SnapInfo** requests, short count,
                                     PZOSUtil* util) {
  return vmax_postSnapWorker(requests, count, util, true);
}
