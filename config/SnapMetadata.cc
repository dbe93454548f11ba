// Snapshot unique-identifier metadata ("serial|device|name|"), identifiers
// derived from a request, and the array details of a request.
#include <vector>

#include "config/VMAXConfig.h"
#include "common/Vocabulary.h"
#include "host/HostServices.h"

using PZSO::SnapInfo;
using PZSO::SnapStatus;

namespace {

constexpr size_t kMetadataFields = 3;
const char* kMetadataSeparator = "|";

}  // namespace

bool parseSnapUidMetadata(const std::string& value, VMAXMetadata& md) {
  if (value.empty()) return false;
  std::vector<std::string> fields;
  FXString::Split(value, kMetadataSeparator, 0, fields);
  if (fields.size() >= kMetadataFields) {
    md.arraySerial = fields[0];
    md.sourceDevice = fields[1];
    md.snapName = fields[2];
  }
  return true;
}

bool getSnapMetadata(SnapInfo* si, SnapStatus failStatus, int type,
                     VMAXMetadata& md) {
  static const char* kFn = "getSnapMetadata";
  if (!si) return false;
  std::string value;
  if (!si->getMetadata(type, value)) {
    si->log(LOG_FAILURE, kFn, "Failed to get unique identifier metadata [%d]",
            type);
    si->setStatus(failStatus);
    si->setErrorInfo(PZ_ERR_SNAP_METADATA,
                     "Failed to get unique identifier metadata");
    return false;
  }
  si->log(LOG_PROGRESS, kFn, "Received metadata [%d : %s]", type, value.c_str());
  if (!parseSnapUidMetadata(value, md)) {
    si->log(LOG_FAILURE, kFn,
            "Failed to get Snap information from unique identifier [%s]",
            value.c_str());
    si->setStatus(failStatus);
    si->setErrorInfo(PZ_ERR_SNAP_METADATA,
                     "Failed to parse device identifier to get snap info");
    return false;
  }
  return true;
}

std::string getStorageArrayId(SnapInfo* si) {
  if (!si) return std::string();
  std::string value;
  si->getMetadata(PZSO::SM_MDT_SNAP_UNIQUE_ID, value);
  VMAXMetadata md;
  parseSnapUidMetadata(value, md);
  return md.arraySerial;
}

std::string getMountSnapId(SnapInfo* si) {
  return FXString::Format("%d", si ? si->getMountId() : 0);
}

bool GetArrayDetails(SnapInfo* si, ArrayDetails& details) {
  static const char* kFn = "GetArrayDetails";
  if (!si) return false;
  int num = si->getArrayNum();
  si->log(LOG_PROGRESS, kFn, "Getting details for array # [%d]...", num);
  PZSO::ArrayDetailsSource* obj = nullptr;
  if (si->getArrayDetailsObject(&obj) != 0 || !obj) {
    if (obj) si->releaseArrayDetailsObject(&obj);
    std::string text =
        "Failed to get PowerMax details for array num [" + std::to_string(num) +
        "] from database. Please ensure that Cisco HyperFlex details are "
        "properly entered and configured in Array Management and host has "
        "connectivity to Centrix";
    si->log(LOG_FAILURE, kFn, "%s", text.c_str());
    return false;
  }
  details.reset();
  details.arrayNum = obj->getArrayNumber();
  details.arrayName = obj->getArrayName();
  details.arrayId = details.arrayName;
  details.controlHost = obj->getControlHost();
  details.userName = obj->getUserName();
  std::string encoded = obj->getEncodedPassword();
  si->releaseArrayDetailsObject(&obj);
  if (si->decodeArrayDetail(encoded, &details.password) != 0) {
    details.password.clear();
    si->log(LOG_FAILURE, kFn,
            "Failed to decode PowerMax details for array num [%d]", num);
    return false;
  }
  si->log(LOG_PROGRESS, kFn, "Got PowerMax details [%s] num# [%d]",
          details.arrayName.c_str(), details.arrayNum);
  return true;
}
