// Identification of host block devices by SCSI INQUIRY: vendor, product,
// candidate array serials and the array device number.
#include <cstring>
#include <string>
#include <vector>

#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "host/HostServices.h"
#include "host/PzDeviceTree.h"
#include "hostdev/VMAXUtils.h"

namespace {

// Inquiry data area handed to the device and walked for the hex dumps.
constexpr size_t kInquiryAreaSize = 4096;
constexpr int kCdbLength = 6;
constexpr unsigned char kInquiryOpcode = 0x12;
constexpr unsigned char kEvpdBit = 0x01;
constexpr unsigned char kDeviceIdPage = 0x83;
constexpr unsigned char kAllocationLength = 0xFF;
// sendCDB's fixed arguments: flags, direction, lun, reserved, timeout.
constexpr int kCdbFlags = 0;
constexpr int kCdbLun = 0;
constexpr int kCdbReserved = 0;
constexpr int kCdbTimeoutSecs = 10;

// Standard inquiry data.
constexpr size_t kVendorOffset = 8;
constexpr size_t kVendorLength = 8;
constexpr size_t kProductOffset = 16;
constexpr size_t kProductLength = 16;
constexpr size_t kMicrocodeOffset = 56;
constexpr size_t kMicrocodeLength = 4;
constexpr size_t kSymDevOffset = 132;
constexpr size_t kSymDevLength = 4;
// Array serials inside the standard data as a VMware host hands it over.
constexpr size_t kVmwSymm3Offset = 115;
constexpr size_t kVmwSymm4Offset = 123;
// Device Identification page (the older layout at 8, the SPC layout at 12).
constexpr size_t kPageSymm3Offset = 8;
constexpr size_t kPageSymm4Offset = 12;
constexpr size_t kSerialBytes = 6;
// Array serial inside the VMware LUN UUID text.
constexpr size_t kLunUuidSerialOffset = 18;
constexpr size_t kLunUuidSerialLength = 12;

// Hex dumps in the debug log.
constexpr size_t kDumpLimit = 1024;
constexpr size_t kDumpLineLength = 128;
constexpr int kLevelDump = 4;
constexpr int kLevelSummary = 3;

const char* const kIdaTypeVMware = "vmware";

std::string HexOf(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 0xF];
  }
  return s;
}

// Text of a fixed field, ending at the first NUL.
std::string FieldText(const unsigned char* area, size_t offset, size_t len) {
  std::string s;
  for (size_t i = 0; i < len && area[offset + i] != 0; ++i)
    s += char(area[offset + i]);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two hex characters per byte; a pair that is not hex gives 0.
void HexToBytes(const std::string& text, unsigned char* area, size_t size) {
  for (size_t i = 0; i < text.size() && i / 2 < size; i += 2) {
    int hi = HexDigit(text[i]);
    int lo = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    area[i / 2] = (hi < 0 || lo < 0) ? 0 : (unsigned char)(hi * 16 + lo);
  }
}

void DumpHex(const char* title, const std::string& hex) {
  engineDebug().DebugLvl(kLevelDump, "getDeviceInfoBySCSIInquiry", "%s", title);
  std::string head = hex.substr(0, kDumpLimit);
  for (size_t i = 0; i < head.size(); i += kDumpLineLength)
    engineDebug().DebugLvl(kLevelDump, "getDeviceInfoBySCSIInquiry", "%s",
                           head.substr(i, kDumpLineLength).c_str());
}

bool SendInquiry(PzDeviceScsiIface* scsi, bool page, unsigned char* area,
                 CWvError* error) {
  const unsigned char cdb[kCdbLength] = {
      kInquiryOpcode, page ? kEvpdBit : (unsigned char)0,
      page ? kDeviceIdPage : (unsigned char)0, 0, kAllocationLength, 0};
  memset(area, 0, kInquiryAreaSize);
  return scsi->sendCDB(cdb, kCdbLength, area, int(kInquiryAreaSize), kCdbFlags,
                       SCSI_DIR_READ, kCdbLun, kCdbReserved, kCdbTimeoutSecs,
                       error) != -1;
}

// Replaces the first candidate equal to the configured id, if any.
void CorrectArrayId(std::string* ids[], size_t n) {
  std::string rule;
  if (!GetRegStr(nullptr, "sSymmCorrectiveArrayID", rule)) return;
  size_t colon = rule.find(':');
  if (colon == std::string::npos) return;
  std::string from = rule.substr(0, colon), to = rule.substr(colon + 1);
  for (size_t i = 0; i < n; ++i) {
    if (*ids[i] == from) {
      *ids[i] = to;
      return;
    }
  }
}

}  // namespace

bool getDeviceInfoBySCSIInquiry(std::string deviceSpec, std::string& vendor,
                                std::string& product,
                                std::vector<std::string>& arrayIds,
                                std::string& symDev) {
  vendor.clear();
  product.clear();
  arrayIds.clear();
  symDev.clear();
  EvDebug& dbg = engineDebug();
  const char* fn = "getDeviceInfoBySCSIInquiry";

  std::string idaType;
  parseJSONString(deviceSpec, "idatype", idaType);
  const bool vmware = idaType == kIdaTypeVMware;

  std::vector<unsigned char> area(kInquiryAreaSize, 0);
  size_t walk = kInquiryAreaSize;
  std::shared_ptr<PzDevice> device;
  PzDeviceScsiIface* scsi = nullptr;
  CWvError error;
  if (vmware) {
    std::string hex;
    parseJSONString(deviceSpec, "standardinqury", hex);
    walk = std::min(hex.size(), kInquiryAreaSize);
    HexToBytes(hex, area.data(), kInquiryAreaSize);
  } else {
    device = PzDeviceTree::getDevice(deviceSpec, &error);
    if (!device) {
      dbg.DebugLvl(DBG_ERROR, fn, "PzDeviceTree::getDevice exception caught :%s",
                   error.text().c_str());
      return false;
    }
    scsi = device->getInterface("PzDeviceScsiIface");
    if (!scsi) {
      dbg.DebugLvl(DBG_ERROR, fn, "'%s' is not SCSI device", deviceSpec.c_str());
      return false;
    }
    if (!SendInquiry(scsi, false, area.data(), &error)) {
      dbg.DebugLvl(DBG_ERROR, fn,
                   "Fail to send scsi inquiry cdb, caught exception:%s",
                   error.text().c_str());
      return false;
    }
  }

  vendor = FieldText(area.data(), kVendorOffset, kVendorLength);
  product = FieldText(area.data(), kProductOffset, kProductLength);
  std::string microcode;
  if (walk >= kMicrocodeOffset + kMicrocodeLength)
    microcode = HexOf(&area[kMicrocodeOffset], kMicrocodeLength);
  if (walk > kSymDevOffset)
    symDev = FieldText(area.data(), kSymDevOffset, kSymDevLength);
  std::string hex = HexOf(area.data(), walk);
  dbg.DebugLvl(kLevelDump, fn, "SCSI Inquiry data (Basic) HEX (first 1024 bytes only)");

  std::string symm3, symm4, lunArrayId;
  if (vmware) {
    symm3 = HexOf(&area[kVmwSymm3Offset], kSerialBytes);
    symm4 = HexOf(&area[kVmwSymm4Offset], kSerialBytes);
    std::string uuid;
    parseJSONString(deviceSpec, "lunuuid", uuid);
    if (uuid.size() > kLunUuidSerialOffset)
      lunArrayId = uuid.substr(kLunUuidSerialOffset, kLunUuidSerialLength);
  } else {
    std::string head = hex.substr(0, kDumpLimit);
    for (size_t i = 0; i < head.size(); i += kDumpLineLength)
      dbg.DebugLvl(kLevelDump, fn, "%s", head.substr(i, kDumpLineLength).c_str());
    if (!SendInquiry(scsi, true, area.data(), &error)) {
      dbg.DebugLvl(DBG_ERROR, fn,
                   "Fail to send scsi inquiry cdb, caught exception: %s",
                   error.text().c_str());
      return false;
    }
    symm3 = HexOf(&area[kPageSymm3Offset], kSerialBytes);
    symm4 = HexOf(&area[kPageSymm4Offset], kSerialBytes);
    dbg.DebugLvl(kLevelDump, fn, "SYMM3 [%s] SYMM4 [%s] Microcode [%s]",
                 symm3.c_str(), symm4.c_str(), microcode.c_str());
    DumpHex("SCSI Inquiry data (Page 80) HEX (first 1024 bytes only)",
            HexOf(area.data(), kInquiryAreaSize));
  }

  std::string* candidates[] = {&symm4, &symm3, &lunArrayId};
  CorrectArrayId(candidates, lunArrayId.empty() ? 2 : 3);
  symDev = StdDevName(symDev);

  if (!lunArrayId.empty()) {
    dbg.DebugLvl(kLevelSummary, fn,
                 "SCSI Inquiry on physical path [%s] - SymDev[%s] SYMM4[%s] "
                 "SYMM3[%s] ARRAY-ID-FROM-LUN-UUID[%s] Product[%s] Vendor[%s]",
                 deviceSpec.c_str(), symDev.c_str(), symm4.c_str(),
                 symm3.c_str(), lunArrayId.c_str(), product.c_str(),
                 vendor.c_str());
    arrayIds = {symm4, symm3, lunArrayId};
  } else {
    dbg.DebugLvl(kLevelSummary, fn,
                 "SCSI Inquiry on physical path [%s] - SymDev[%s] SYMM4[%s] "
                 "SYMM3[%s] Product[%s] Vendor[%s]",
                 deviceSpec.c_str(), symDev.c_str(), symm4.c_str(),
                 symm3.c_str(), product.c_str(), vendor.c_str());
    arrayIds = {symm4, symm3};
  }
  return true;
}

bool getDeviceInfo(PZSO::SnapInfo* si, std::string devicePath,
                   std::string& symDev, std::vector<std::string>& arrayIds) {
  const char* fn = "getDeviceInfo";
  si->log(LOG_DETAIL, fn, "Getting device information for mount point [%s]",
          devicePath.c_str());
  std::string vendor, product;
  if (!getDeviceInfoBySCSIInquiry(devicePath, vendor, product, arrayIds,
                                  symDev)) {
    si->log(LOG_FAILURE, fn, "Failed to get array information from device path [%s]",
            devicePath.c_str());
    return false;
  }
  if (vendor.compare(0, 3, "EMC") == 0 &&
      product.find("SYMMETRIX") != std::string::npos) {
    si->log(LOG_DETAIL, fn,
            "Device [%s] belongs to VMAX - Vendor [%s] Product[%s] Possible "
            "Array IDs [%s] VMAX-Device[%s] ",
            devicePath.c_str(), vendor.c_str(), product.c_str(),
            concatStrings(arrayIds, ",").c_str(), symDev.c_str());
    return true;
  }
  si->log(LOG_FAILURE, fn,
          "Device [%s] does not belong to VMAX, found Vendor [%s], Product [%s]",
          devicePath.c_str(), vendor.c_str(), product.c_str());
  return false;
}

bool verifyDeviceBySCSIInquiry(PZSO::SnapInfo* si,
                               const std::string& devicePath,
                               const std::string& expectedArrayId,
                               const std::string& expectedDev) {
  const char* fn = "verifyDeviceBySCSIInquiry";
  std::string vendor, product, symDev;
  std::vector<std::string> ids;
  if (!getDeviceInfoBySCSIInquiry(devicePath, vendor, product, ids, symDev)) {
    si->log(LOG_FAILURE, fn,
            "Failed to verify device at path [%s] - SCSI Inquiry failed",
            devicePath.c_str());
    return false;
  }
  if (product.find("SYMMETRIX") == std::string::npos) {
    si->log(LOG_FAILURE, fn,
            "Failed to verify device at path [%s] - Found Product Name [%s]",
            devicePath.c_str(), product.c_str());
    return false;
  }
  bool arrayOk = false;
  for (const auto& id : ids) arrayOk = arrayOk || id == expectedArrayId;
  if (!arrayOk) {
    si->log(LOG_FAILURE, fn,
            "Failed to verify device at path [%s] - Found SymmId [%s]",
            devicePath.c_str(), ids.empty() ? "" : ids.front().c_str());
    return false;
  }
  if (compareDevs(expectedDev, symDev)) {
    si->log(LOG_PROGRESS, fn, "SCSI Inquiry verified device at path [%s] is [%s]",
            devicePath.c_str(), expectedDev.c_str());
    return true;
  }
  si->log(LOG_DETAIL, fn,
          "SCSI Inquiry revealed different device at path [%s] - Expected [%s] "
          "Found [%s, %s, %s]",
          devicePath.c_str(), expectedDev.c_str(), vendor.c_str(),
          product.c_str(), symDev.c_str());
  return false;
}
