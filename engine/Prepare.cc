// Prepare: locate every source device on its array, give the job's snapshot
// name to every request, insist on one array, then prepare the array side.
#include <set>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "engine/WorkerSupport.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"
#include "orchestration/ArraySession.h"
#include "orchestration/VMAXAPI.h"

namespace {

constexpr short kArrayInfoBufferSize = 4096;

// Identifies one source device; on failure the request carries status and
// error and false comes back.
bool identifySource(SnapInfo* si, SnapInfo* logger, const std::string& source,
                    std::string& serial, std::string& device,
                    std::vector<std::string>& candidates) {
  const char* fn = "pzso_prepareDevices";
  std::string vplex;
  bool identified = false;
  if (!si->getMetadata(PZSO::SM_MDT_VPLEX_BACKEND_DEVICE, vplex)) {
    if (si->getSnapFlags() & PZSO::SNAP_FLAG_SOURCE_IS_WWN) {
      if (!parseDeviceWWN(si, source, serial, device)) {
        std::string text = FXString::Format(
            "Failed to parse device WWN [%s] to get source device info",
            source.c_str());
        si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
        si->setErrorInfo(PZ_ERR_SOURCE_INFO, text.c_str());
        return false;
      }
      logger->log(LOG_PROGRESS, fn, "Source device [%s] VMAX array serial [%s]",
                  device.c_str(), serial.c_str());
      identified = true;
    }
  } else {
    logger->log(LOG_DETAIL, fn, "Found metadata [%d: %s]",
                PZSO::SM_MDT_VPLEX_BACKEND_DEVICE, vplex.c_str());
    std::string wwn;
    if (!ParseVPLEXBackendMetadata(vplex, serial, wwn)) {
      std::string text = FXString::Format(
          "Failed to parse VPLEX backend device identifier [%s]", vplex.c_str());
      si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
      si->setErrorInfo(PZ_ERR_SOURCE_INFO, text.c_str());
      return false;
    }
    logger->log(LOG_PROGRESS, fn, "Backend VMAX array serial [%s] device WWN [%s]",
                serial.c_str(), wwn.c_str());
    std::string ignored;
    if (!parseDeviceWWN(si, wwn, ignored, device)) {
      std::string text = FXString::Format(
          "Failed to parse WWN [%s] to get source device info", wwn.c_str());
      si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
      si->setErrorInfo(PZ_ERR_SOURCE_INFO, text.c_str());
      return false;
    }
    identified = true;
  }
  if (identified) {
    candidates = {serial};
    return true;
  }
  if (!getDeviceInfo(si, source, device, candidates)) {
    logger->log(LOG_FAILURE, fn, "Failed to get device information for device [%s]",
                source.c_str());
    si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
    si->setErrorInfo(PZ_ERR_SOURCE_INFO, "Failed to get device info");
    return false;
  }
  return true;
}

}  // namespace

PZSO_EXPORT int pzso_prepareDevices(SnapInfo** requests, short count,
                                    PZOSUtil* util) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "pzso_prepareDevices";
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, fn, "Starting to prepare [%d] snapshot(s).", count);
  for (short i = 0; i < count; ++i) {
    requests[i]->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
    requests[i]->setErrorInfo(PZ_ERR_NONE, "");
  }

  std::vector<char> arrayInfo(kArrayInfoBufferSize, 0);
  std::set<std::string> serials;
  std::string uid;
  for (short i = 0; i < count; ++i) {
    SnapInfo* si = requests[i];
    std::string source;
    if (!si->getSourceDevice(source)) {
      first->log(LOG_DETAIL, fn, "Failed to get source device for SMSnapId [%d]",
                 si->getSMSnapId());
      return PZ_RESULT_FAILURE;
    }
    first->log(LOG_DETAIL, fn, "Attempting to prepare snapshot for source device [%s]",
               source.c_str());
    std::string serial, device;
    std::vector<std::string> candidates;
    if (!identifySource(si, first, source, serial, device, candidates))
      return PZ_RESULT_FAILURE;
    if (!getArrayInfoFromDB(si, candidates, serial, arrayInfo.data(),
                            kArrayInfoBufferSize, i == 0)) {
      first->log(LOG_FAILURE, fn, "Failed to get array information for VMAX serial [%s]",
                 serial.c_str());
      si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
      si->setErrorInfo(PZ_ERR_SOURCE_INFO, "Failed to get array info");
      return PZ_RESULT_FAILURE;
    }
    if (i == 0) {
      if (!si->getSnapUniqueId(uid)) {
        first->log(LOG_FAILURE, fn,
                   "Failed to get snap unique identifier for device [%s]",
                   device.c_str());
        si->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
        si->setErrorInfo(PZ_ERR_SOURCE_INFO, "Failed to get snap unique identifier");
        return PZ_RESULT_FAILURE;
      }
    } else {
      si->setSnapUniqueId(uid.c_str());
    }
    serials.insert(serial);
    std::string value = serial + "|" + device + "|" + uid + "|";
    first->log(LOG_PROGRESS, fn,
               "Setting snapshot identifier metadata [%d:%s] for SMSnapId [%d]",
               PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str(), si->getSMSnapId());
    if (si->setMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str()) != 0) {
      first->log(LOG_FAILURE, fn, "Failed to set metadata id [%d] for for SMSnapId [%d]",
                 PZSO::SM_MDT_SNAP_UNIQUE_ID, si->getSMSnapId());
      return PZ_RESULT_FAILURE;
    }
  }

  if (serials.size() > 1) {
    std::string list;
    for (const auto& s : serials) list += s + " ";
    std::string text = FXString::Format(
        "Source devices belong to multiple VMAX arrays [%s].Please change "
        "subclient content to have devices from a single VMAX array.",
        list.c_str());
    first->log(LOG_FAILURE, fn, "%s", text.c_str());
    for (short i = 0; i < count; ++i) {
      requests[i]->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
      requests[i]->setErrorInfo(PZ_ERR_PREPARE, text.c_str());
    }
    return PZ_RESULT_FAILURE;
  }
  return vmax_prepareWorker(requests, count, util, true);
}

int vmax_prepareWorker(SnapInfo** requests, short count, PZOSUtil* util,
                       bool allowRemote) {
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "vmax_prepareWorker";
  SnapInfo* first = requests[0];
  int forwarded = PZ_RESULT_FAILURE;
  if (allowRemote && forwardToRemoteSnapMA(requests, count, util, fn,
                                           REMOTE_MSG_PREPARE, &forwarded))
    return forwarded;

  VMAXSnapParamList list;
  for (short i = 0; i < count; ++i) {
    VMAXMetadata md;
    if (!getSnapMetadata(requests[i], PZSO::SNAP_STATUS_PREPARE_FAILED,
                         PZSO::SM_MDT_SNAP_UNIQUE_ID, md))
      return PZ_RESULT_FAILURE;
    if (i == 0) list.serial = md.arraySerial;
    VMAXSnapParam p(requests[i]);
    p.sourceDevice = md.sourceDevice;
    p.snapUid = md.snapName;
    list.params.push_back(p);
  }

  std::shared_ptr<VMAXAPI> api =
      initArrayParams(first, util, list.serial, PZSO::SNAP_STATUS_PREPARE_FAILED);
  if (!api) {
    first->log(LOG_FAILURE, fn, "Failed to initialize the array parameters");
    setAllStatus(requests, count, PZSO::SNAP_STATUS_PREPARE_FAILED);
    return PZ_RESULT_FAILURE;
  }
  if (!api->PrepareSnaps(list)) {
    first->log(LOG_FAILURE, fn, "Prepare snapshot failed");
    for (short i = 0; i < count; ++i) {
      requests[i]->setStatus(PZSO::SNAP_STATUS_PREPARE_FAILED);
      requests[i]->setErrorInfo(PZ_ERR_PREPARE, list.errStr.c_str());
    }
    return PZ_RESULT_FAILURE;
  }
  setAllStatus(requests, count, PZSO::SNAP_STATUS_PREPARED);

  std::string vplex;
  if (!api->getSnapConfig().bDisableSRDFMetroConfig &&
      !first->getMetadata(PZSO::SM_MDT_VPLEX_BACKEND_DEVICE, vplex) &&
      vmax_SRDFMetroWorker(requests, count, util) != 0) {
    first->log(LOG_FAILURE, fn, "Failed to check and process SRDF/Metro secondary snaps");
    return PZ_RESULT_FAILURE;
  }
  first->log(LOG_PROGRESS, fn, "Prepare snapshot completed successfully");
  return PZ_RESULT_SUCCESS;
}
