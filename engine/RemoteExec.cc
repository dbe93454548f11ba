// The remote snap MA side: run an operation another host forwarded here.
#include <string>

#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"

namespace {

// Runs the worker of a message id locally; false for an unknown id.
bool runWorker(long msgId, SnapInfo** r, short n, PZOSUtil* u, int* result) {
  switch (msgId) {
    case REMOTE_MSG_PREPARE: *result = vmax_prepareWorker(r, n, u, false); return true;
    case REMOTE_MSG_SNAP: *result = vmax_snapWorker(r, n, u, false); return true;
    case REMOTE_MSG_REVERT: *result = vmax_revertWorker(r, n, u, false); return true;
    case REMOTE_MSG_RECONCILE: *result = vmax_reconcileWorker(r, n, u, false); return true;
    case REMOTE_MSG_MAP: *result = vmax_mapWorkerWrapper(r, n, u); return true;
    case REMOTE_MSG_UNMAP: *result = vmax_unmapWorker(r, n, u, false); return true;
    case REMOTE_MSG_DELETE: *result = vmax_deleteWorker(r, n, u, false); return true;
    case REMOTE_MSG_PREPARE_REMOTE:
      *result = vmax_prepareRemoteWorker(r, n, u, false);
      return true;
    case REMOTE_MSG_POST_SNAP: *result = vmax_postSnapWorker(r, n, u, false); return true;
    default: return false;
  }
}

}  // namespace

PZSO_EXPORT int pzso_execSnapEngineOp(SnapInfo** requests, short count,
                                      PZOSUtil* util) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "pzso_execSnapEngineOp";
  SnapInfo* first = requests[0];
  std::string text;
  if (!first->getMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, text)) {
    first->log(LOG_FAILURE, fn, "Failed to get Remote Request Message Id");
    return PZ_RESULT_FAILURE;
  }
  long msgId = 0;
  if (!parseDecimal(text, msgId)) {
    first->log(LOG_FAILURE, fn, "Remote MA Msg-Id [%s] is not a decimal number",
               text.c_str());
    return PZ_RESULT_FAILURE;
  }
  // Ids outside the table name no operation; keep them out of short range
  // conversion so a huge value cannot alias a valid id.
  bool inTable = msgId >= REMOTE_MSG_PREPARE && msgId <= REMOTE_MSG_POST_SNAP;
  std::string name = getRemoteOpNameUsingMsgId(inTable ? short(msgId) : short(0));
  first->log(LOG_PROGRESS, fn, "Remote MA Msg-Id [%ld][%s]", msgId, name.c_str());
  int result = PZ_RESULT_FAILURE;
  if (!runWorker(msgId, requests, count, util, &result)) {
    first->log(LOG_FAILURE, fn, "Unknown Remote MA Msg-Id [%ld]", msgId);
    return PZ_RESULT_FAILURE;
  }
  if (result != PZ_RESULT_SUCCESS)
    first->log(LOG_FAILURE, fn, "Remote MA Msg-Id [%ld][%s] completed with status [%u]",
               msgId, name.c_str(), unsigned(result));
  else
    first->log(LOG_PROGRESS, fn, "Remote MA Msg-Id [%ld][%s] completed with status [%u]",
               msgId, name.c_str(), unsigned(result));
  std::string code = std::to_string(result);
  if (first->setRequestMetadata(PZSO::SM_MDT_REMOTE_EXEC_MSG, code.c_str()) == 1)
    first->log(LOG_FAILURE, fn,
               "Error setting Metadata SM_MDT_REMOTE_EXEC_MSG containing return code.");
  return result;
}
