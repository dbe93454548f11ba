// Binding a VMAXAPI to the array of a request: its details, the engine
// configuration, and the Solutions Enabler version gate.
#include "orchestration/ArraySession.h"

#include "common/Vocabulary.h"
#include "config/VMAXConfig.h"
#include "orchestration/OrchestrationUtil.h"

using PZSO::SnapInfo;
using PZSO::SnapStatus;

bool verifySEVersion(VMAXAPI& api, SnapInfo* si, SnapStatus failStatus) {
  static const char* kFn = "initArrayParams";
  unsigned long version = 0;
  const char* message = nullptr;
  if (!api.GetSEVersion(version))
    message =
        "Failed to get installed Solutions Enabler version information. Please "
        "check if Solutions Enabler version 9.0 and above is installed and "
        "additional settings [SYMAPI_HOME_DIR] is specified.";
  else if (version < kMinSEVersion)
    message =
        "Installed Solution Enabler version is lower than 9.0, Please install "
        "Solutions Enabler version 9.0 and above";
  if (!message) return true;
  PZ_LOG(si, LOG_FAILURE, kFn, "%s", message);
  if (si && failStatus != PZSO::SNAP_STATUS_NO_SNAPSHOT)
    si->setErrorInfo(failStatus, message);
  return false;
}

std::shared_ptr<VMAXAPI> initArrayParams(SnapInfo* si, PZSO::PZOSUtil* util,
                                         std::string& arrayId,
                                         SnapStatus failStatus) {
  static const char* kFn = "initArrayParams";
  if (!si) return nullptr;
  ArrayDetails details;
  if (!GetArrayDetails(si, details)) {
    si->log(LOG_FAILURE, kFn, "Failed to get array information for array ID [%s]",
            arrayId.c_str());
    si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
    si->setErrorInfo(PZ_ERR_SOURCE_INFO, "Failed to get array info");
    return nullptr;
  }
  auto api = std::make_shared<VMAXAPI>(si, util);
  VMAXSnapConfig config;
  readSnapConfigs(si, config);
  readRegistryKeys(si, config);
  VMAXAPIInitParams params(0, details, config);
  if (!api->Init(params)) {
    si->log(LOG_FAILURE, kFn, "Failed to initialized PMAXAPI");
    return nullptr;
  }
  if (!verifySEVersion(*api, si, failStatus)) return nullptr;
  return api;
}
