// Forwarding of an operation to the remote snap MA: the calling side.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ConfigKeys.h"
#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "host/HostServices.h"

namespace {
constexpr int kRemoteSnapMABufferSize = 1024;
constexpr int kClientNameBufferSize = 256;
constexpr size_t kMachineNameMaxLength = 255;
constexpr long kRemoteResultSuccess = 0;
constexpr long kRemoteResultFailure = 1;
}  // namespace

bool parseDecimal(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (errno == ERANGE || end == text.c_str() || *end != '\0') return false;
  value = v;
  return true;
}

bool getRemoteSnapMA(SnapInfo* si, std::string& name) {
  name.clear();
  std::vector<char> buffer(kRemoteSnapMABufferSize, 0);
  int size = kRemoteSnapMABufferSize - 1;
  const char* key = vmaxcfg::kRemoteSnapMA;
  si->getSnapConfigString(key, buffer.data(), &size);
  buffer.back() = 0;
  std::string value = buffer.data();
  if (value.empty()) return false;
  si->log(LOG_DETAIL, "getRemoteSnapMA", "Read snap config [%s = '%s']", key,
          value.c_str());
  name = value;
  return true;
}

std::string getLocalClientName() {
  if (PZPlatformInfo::getPZPlatformType() & PZSO::PLATFORM_TYPE_MANAGED_CLIENT) {
    std::vector<char> buffer(kClientNameBufferSize, 0);
    if (PZPlatformInfo::getCSClientName(buffer.data(), kClientNameBufferSize)) {
      buffer.back() = 0;
      return buffer.data();
    }
    return std::string();
  }
  return PZPlatformInfo::getPhysicalMachine().substr(0, kMachineNameMaxLength);
}

bool remoteSnapMAOther(SnapInfo* first, const char* function,
                       std::string& remoteMA) {
  if (!getRemoteSnapMA(first, remoteMA)) return false;
  std::string local = getLocalClientName();
  if (remoteMA == local) {
    first->log(LOG_PROGRESS, function,
               "Remote Snap MA [%s] and current client [%s] are same, "
               "continuing in local mode.",
               remoteMA.c_str(), local.c_str());
    return false;
  }
  return true;
}

bool forwardToRemoteSnapMA(SnapInfo** requests, short count, PZOSUtil* util,
                           const char* function, unsigned msgId, int* result) {
  std::string remoteMA;
  if (!remoteSnapMAOther(requests[0], function, remoteMA)) return false;
  requests[0]->log(LOG_PROGRESS, function, "Sending request to Remote Snap MA:[%s]",
                   remoteMA.c_str());
  std::string response;
  *result = executeOnRemoteMA(requests, count, util, remoteMA, msgId, "", response);
  return true;
}

int executeOnRemoteMA(SnapInfo** requests, short count, PZOSUtil* util,
                      const std::string& remoteMA, unsigned msgId,
                      const std::string& request, std::string& response) {
  (void)count;
  const char* fn = "executeOnRemoteMA";
  SnapInfo* si = requests[0];
  response.clear();
  std::string id = std::to_string(msgId);
  std::string name = getRemoteOpNameUsingMsgId(short(msgId));
  si->log(LOG_PROGRESS, fn, "Setting metadata - type [%d] metadata message id [%s][%s]",
          PZSO::SM_MDT_REMOTE_MSG_ID, id.c_str(), name.c_str());
  si->setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, id.c_str());
  if (!request.empty()) {
    si->log(LOG_PROGRESS, fn, "Setting metadata - type[%d] metadata request[%s]",
            PZSO::SM_MDT_REMOTE_REQUEST, request.c_str());
    si->setRequestMetadata(PZSO::SM_MDT_REMOTE_REQUEST, request.c_str());
  }
  int result = ExecuteRemote(requests, util, remoteMA);
  si->getMetadata(PZSO::SM_MDT_REMOTE_REQUEST, response);
  si->log(LOG_PROGRESS, fn, "Getting metadata - type [%d] metadata response [%s]",
          PZSO::SM_MDT_REMOTE_REQUEST, response.c_str());
  if (result != PZ_RESULT_SUCCESS)
    si->log(LOG_FAILURE, fn, "Remote operation failed on MA [%s]. message id [%d][%s]",
            remoteMA.c_str(), int(msgId), name.c_str());
  else
    si->log(LOG_PROGRESS, fn,
            "Remote operation succeeded on MA [%s]. message id [%d][%s]",
            remoteMA.c_str(), int(msgId), name.c_str());
  si->setRequestMetadata(PZSO::SM_MDT_REMOTE_MSG_ID, nullptr);
  si->setRequestMetadata(PZSO::SM_MDT_REMOTE_EXEC_MSG, nullptr);
  si->setRequestMetadata(PZSO::SM_MDT_REMOTE_REQUEST, nullptr);
  return result;
}

int ExecuteRemote(SnapInfo** requests, PZOSUtil* util,
                  const std::string& remoteMA) {
  const char* fn = "ExecuteRemote";
  SnapInfo* si = requests[0];
  if (!util->executeOnRemoteClient(remoteMA)) {
    si->log(LOG_FAILURE, fn, "executeOnRemoteMA failed");
    return PZ_RESULT_FAILURE;
  }
  std::string code;
  if (!si->getMetadata(PZSO::SM_MDT_REMOTE_EXEC_MSG, code)) {
    si->log(LOG_FAILURE, fn,
            "Failed to get the metadata SM_MDT_REMOTE_EXEC_MSG containing "
            "return code");
    return PZ_RESULT_FAILURE;
  }
  if (code.empty()) return PZ_RESULT_FAILURE;
  long value = 0;
  if (!parseDecimal(code, value)) {
    si->log(LOG_FAILURE, fn,
            "Invalid Remote execution return code [%s]: not a decimal number.",
            code.c_str());
    return PZ_RESULT_FAILURE;
  }
  if (value < kRemoteResultSuccess || value > kRemoteResultFailure) {
    si->log(LOG_FAILURE, fn, "Invalid Remote execution return code.");
    return PZ_RESULT_FAILURE;
  }
  if (value == kRemoteResultFailure) {
    si->log(LOG_FAILURE, fn, "Remote execution failed.");
    return PZ_RESULT_FAILURE;
  }
  return PZ_RESULT_SUCCESS;
}
