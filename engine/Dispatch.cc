// Request validation, per-request error helpers and the entry points that
// carry no array work.
#include <cstring>

#include "engine/PZSOVMAX.h"
#include "host/HostServices.h"

namespace {

constexpr short kErrorTextSize = 1024;

const char kReplicationUnsupported[] =
    "Replication is not supported with Dell EMC TimeFinder SnapVX(SYMCLI) engine. "
    "Please remove Replica Copy association for this subclient.";

}  // namespace

bool validateInputParams(SnapInfo** requests, short count, PZOSUtil* util) {
  static const char* kFunction = "validateInputParams";
  EvDebug& dbg = engineDebug();
  if (count < 1) {
    dbg.DebugLvl(DBG_ERROR, kFunction, "Invalid Device Count received [%d]", int(count));
    return false;
  }
  if (!requests || !requests[0]) {
    dbg.DebugLvl(DBG_ERROR, kFunction, "Snap device list is NULL.");
    return false;
  }
  if (!util) {
    dbg.DebugLvl(DBG_ERROR, kFunction, "Snap Util object is NULL.");
    return false;
  }
  for (short i = 0; i < count; ++i) {
    if (!requests[i]) {
      dbg.DebugLvl(DBG_ERROR, kFunction, "Invalid Snap Info object received.");
      return false;
    }
  }
  return true;
}

void setError(SnapInfo* request, int code, const char* text) {
  if (!request || !text) return;
  int current = PZ_ERR_NONE;
  char currentText[kErrorTextSize];
  memset(currentText, 0, sizeof currentText);
  request->getErrorInfo(&current, currentText, kErrorTextSize);
  // The first error set on a request is the one the user sees.
  if (current == PZ_ERR_NONE) request->setErrorInfo(code, text);
}

std::string getRemoteOpNameUsingMsgId(short msgId) {
  switch (msgId) {
    case REMOTE_MSG_PREPARE: return "PREPARE";
    case REMOTE_MSG_SNAP: return "SNAP";
    case REMOTE_MSG_REVERT: return "REVERT";
    case REMOTE_MSG_RECONCILE: return "RECONCILE";
    case REMOTE_MSG_MAP: return "MAP";
    case REMOTE_MSG_UNMAP: return "UNMAP";
    case REMOTE_MSG_DELETE: return "DELETE";
    case REMOTE_MSG_PREPARE_REMOTE: return "PREPARE-REMOTE";
    case REMOTE_MSG_POST_SNAP: return "POST-SNAP";
    default: return "UNKNOWN";
  }
}

void setErrorMessage(const char* text, char* buffer, short size) {
  if (!text || !buffer || size <= 0) return;
  // Terminate here: the caller's buffer need not have been zeroed.
  size_t room = size_t(size) - 1;
  size_t length = strnlen(text, room);
  memcpy(buffer, text, length);
  buffer[length] = '\0';
}

int vmax_prepareRemoteWorker(SnapInfo** requests, short count, PZOSUtil* util,
                             bool /*allowRemote*/) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  for (short i = 0; i < count; ++i) {
    requests[i]->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
    requests[i]->setErrorInfo(PZ_ERR_REPLICATION_UNSUPPORTED, kReplicationUnsupported);
  }
  return PZ_RESULT_FAILURE;
}

int vmax_SRDFMetroWorker(SnapInfo** /*requests*/, short /*count*/,
                         PZOSUtil* /*util*/) {
  return PZ_RESULT_SUCCESS;
}

PZSO_EXPORT int pzso_preSnapDevices(SnapInfo** /*requests*/, short /*count*/,
                                    PZOSUtil* /*util*/) {
  return PZ_RESULT_SUCCESS;
}

PZSO_EXPORT int pzso_isMapped(SnapInfo** /*requests*/, short /*count*/,
                              PZOSUtil* /*util*/) {
  return PZ_RESULT_FAILURE;
}

PZSO_EXPORT int pzso_prepareRemoteSnaps(SnapInfo** requests, short count,
                                        PZOSUtil* util) {
  return vmax_prepareRemoteWorker(requests, count, util, true);
}
