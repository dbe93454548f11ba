// Questions about host devices: is a device a PowerMax / VMAX device, and
// which mounted devices are the mapped targets of the given requests.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

constexpr int kIdentifyModeMapped = 3;
// Host debug log level of the call line.
constexpr int kDebugLevelCall = 2;
const char* const kVendorEMC = "EMC";
const char* const kProductSymmetrix = "SYMMETRIX";
const char* const kPaddedVendor = "EMC     ";
const char* const kPaddedProduct = "SYMMETRIX       ";

}  // namespace

PZSO_EXPORT int pzso_isSupported(const char* deviceName, int snapType,
                                 void* context, char* errorBuffer,
                                 short errorBufferSize) {
  const char* fn = "pzso_isSupported";
  EvDebug& dbg = engineDebug();
  dbg.DebugLvl(kDebugLevelCall, fn, "Device [%s] Snap type [%d]",
               deviceName ? deviceName : "NULL", snapType);
  if (!deviceName || !context || !errorBuffer) {
    dbg.DebugLvl(DBG_ERROR, fn, "Invalid parameters received");
    setErrorMessage("Invalid parameters received", errorBuffer, errorBufferSize);
    return PZ_RESULT_FAILURE;
  }
  std::string vendor, product, device;
  std::vector<std::string> ids;
  if (!getDeviceInfoBySCSIInquiry(deviceName, vendor, product, ids, device)) {
    std::string text = FXString::Format(
        "Failed to get the array info from device name[%s]", deviceName);
    setErrorMessage(text.c_str(), errorBuffer, errorBufferSize);
    return PZ_RESULT_FAILURE;
  }
  if (vendor.compare(0, 3, kVendorEMC) == 0 &&
      product.compare(0, 9, kProductSymmetrix) == 0) {
    dbg.DebugLvl(LOG_DETAIL, fn,
                 "Device [%s] belongs to PowerMax - Vendor [%s] Product[%s] "
                 "Possible Array IDs [%s] VMAX-Device[%s]",
                 deviceName, vendor.c_str(), product.c_str(),
                 concatStrings(ids, ",").c_str(), device.c_str());
    return PZ_RESULT_SUCCESS;
  }
  std::string text = FXString::Format(
      "Device [%s] does not belong to PowerMax - found Vendor [%s] Product [%s]",
      deviceName, vendor.c_str(), product.c_str());
  dbg.DebugLvl(DBG_ERROR, fn, "%s", text.c_str());
  setErrorMessage(text.c_str(), errorBuffer, errorBufferSize);
  return PZ_RESULT_FAILURE;
}

PZSO_EXPORT int pzso_identifyDevices(SnapInfo** requests, short count,
                                     DeviceMap* devices, int mode, void* extra,
                                     PZOSUtil* util) {
  (void)extra;
  if (!validateInputParams(requests, count, util)) return PZ_RESULT_FAILURE;
  const char* fn = "pzso_identifyDevices";
  SnapInfo* first = requests[0];
  first->log(LOG_PROGRESS, fn, "Starting to identify [%d] device(s).", count);
  if (mode != kIdentifyModeMapped || !devices) return PZ_RESULT_SUCCESS;

  const std::string key = std::string(kPaddedVendor) + "|::|" + kPaddedProduct;
  std::list<std::string> hostDevices;
  auto it = devices->find(key);
  if (it != devices->end()) {
    if (it->second.empty()) {
      first->log(LOG_PROGRESS, fn,
                 "None of the mounted devices belongs to vendor [%s] and product [%s]",
                 kPaddedVendor, kPaddedProduct);
      return PZ_RESULT_SUCCESS;
    }
    hostDevices = it->second;
  }

  // (joined candidate array ids, device number) -> host device
  std::map<std::pair<std::string, std::string>, std::string> known;
  for (const auto& hostDev : hostDevices) {
    std::string vendor, product, device;
    std::vector<std::string> ids;
    if (!getDeviceInfoBySCSIInquiry(hostDev, vendor, product, ids, device)) {
      first->log(LOG_FAILURE, fn,
                 "Unable to get array id(s) and device name for host device [%s]",
                 hostDev.c_str());
      continue;
    }
    std::string joined = concatStrings(ids, ",");
    first->log(LOG_FAILURE, fn,
               "Found possible array id(s) [%s] and device number [%s] for host "
               "device [%s]",
               joined.c_str(), device.c_str(), hostDev.c_str());
    known[{joined, device}] = hostDev;
  }

  std::list<std::string> result;
  for (short i = 0; i < count; ++i) {
    SnapInfo* si = requests[i];
    std::string source, value;
    si->getSourceDevice(source);
    if (!si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value)) {
      first->log(LOG_FAILURE, fn, "Unable to get metadata for source device [%s]",
                 source.c_str());
      continue;
    }
    first->log(LOG_PROGRESS, fn, "Received metadata [%d : %s]",
               PZSO::SM_MDT_SNAP_UNIQUE_ID, value.c_str());
    VMAXMetadata md;
    if (!parseSnapUidMetadata(value, md)) {
      si->log(LOG_FAILURE, fn, "Failed to get Snap information from unique identifier [%s]",
              value.c_str());
      continue;
    }
    std::string target;
    if (!si->getMetadata(PZSO::SM_MDT_MOUNT_TARGET_DEVICE, target)) {
      first->log(LOG_FAILURE, fn, "Unable to get target device name for source device [%s]",
                 source.c_str());
      continue;
    }
    for (const auto& k : known) {
      if (!md.arraySerial.empty() &&
          k.first.first.find(md.arraySerial) != std::string::npos &&
          k.first.second == target) {
        first->log(LOG_PROGRESS, fn, "Found device [%s]", k.second.c_str());
        result.push_back(k.second);
        break;
      }
    }
  }
  (*devices)[key] = result;
  return PZ_RESULT_SUCCESS;
}
