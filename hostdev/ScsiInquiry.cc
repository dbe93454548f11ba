// Identification of host block devices by SCSI INQUIRY: vendor, product,
// candidate array serials and the array device number.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/ConfigKeys.h"
#include "common/AdditionalSettings.h"
#include "common/Vocabulary.h"
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
constexpr size_t kAdditionalLengthOffset = 4;
constexpr size_t kAdditionalLengthBase = 5;  // bytes 0..4 are not counted
constexpr size_t kVendorOffset = 8;
constexpr size_t kVendorLength = 8;
constexpr size_t kProductOffset = 16;
constexpr size_t kProductLength = 16;
constexpr size_t kRevisionOffset = 32;
constexpr size_t kRevisionLength = 4;
// The long vendor-specific area: microcode, serials, device characters.
constexpr size_t kMicrocodeOffset = 56;
constexpr size_t kMicrocodeLength = 4;
constexpr size_t kSymDevOffset = 132;
constexpr size_t kSymDevLength = 4;
// Array serials inside the standard data as a VMware host hands it over.
constexpr size_t kVmwSymm3Offset = 115;
constexpr size_t kVmwSymm4Offset = 123;
constexpr size_t kSerialBytes = 6;
// Array serial inside the VMware LUN UUID text, and the device identifier
// (32 hex characters) it carries after its ten-character header.
constexpr size_t kLunUuidSerialOffset = 18;
constexpr size_t kLunUuidSerialLength = 12;
constexpr size_t kLunUuidNaaOffset = 10;
constexpr size_t kNaaBytes = 16;

// Device Identification page.
constexpr size_t kPageCodeOffset = 1;
constexpr size_t kPageLengthHigh = 2;
constexpr size_t kPageLengthLow = 3;
constexpr size_t kPageHeaderLength = 4;
// Designation descriptor header: code set, association and type, length.
constexpr size_t kDescCodeSet = 0;
constexpr size_t kDescTypeByte = 1;
constexpr size_t kDescReserved = 2;
constexpr size_t kDescLength = 3;
constexpr size_t kDescHeaderLength = 4;
constexpr unsigned char kCodeSetMask = 0x0F;
constexpr unsigned char kCodeSetBinary = 0x1;
constexpr unsigned kAssociationShift = 4;
constexpr unsigned char kAssociationMask = 0x3;
constexpr unsigned char kAssociationLu = 0x0;
constexpr unsigned char kDesignatorTypeMask = 0x0F;
constexpr unsigned char kDesignatorTypeNaa = 0x3;
// In the older layout the identifier follows the page header directly, so
// the byte where a descriptor header keeps a reserved zero holds the OUI.
constexpr size_t kOldLayoutMarker = kPageHeaderLength + kDescReserved;

// Hex dumps in the debug log.
constexpr size_t kDumpLimit = 1024;
constexpr size_t kDumpLineLength = 128;
constexpr int kLevelDump = 4;
constexpr int kLevelSummary = 3;

const char* const kIdaTypeVMware = "vmware";
const char* const kVendorEMC = "EMC";
constexpr size_t kVendorEMCLength = 3;
// Where the device number and the microcode were read.
const char* const kFromVendorArea = "the standard inquiry vendor area";
const char* const kFromIdentifier = "the device identifier";
const char* const kFromRevision = "the product revision";
const char* const kFromNowhere = "nowhere (not in the answer)";

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

// Text of a field inside the `valid` bytes, ending at the first NUL; a field
// that the answer cuts short gives the part that is there.
std::string FieldText(const unsigned char* data, size_t valid, size_t offset,
                      size_t len) {
  std::string s;
  for (size_t i = offset; i < offset + len && i < valid && data[i] != 0; ++i)
    s += char(data[i]);
  return s;
}

// Hex of a field only when the whole field is inside the `valid` bytes.
std::string FieldHex(const unsigned char* data, size_t valid, size_t offset,
                     size_t len) {
  return offset + len <= valid ? HexOf(data + offset, len) : std::string();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two hex characters per byte; a pair that is not hex gives 0. Returns the
// number of bytes written.
size_t HexToBytes(const std::string& text, unsigned char* area, size_t size) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < text.size() && n < size; i += 2, ++n) {
    int hi = HexDigit(text[i]);
    int lo = HexDigit(text[i + 1]);
    area[n] = (hi < 0 || lo < 0) ? 0 : (unsigned char)(hi * 16 + lo);
  }
  return n;
}

void DumpHex(const char* title, const std::string& hex) {
  engineDebug().DebugLvl(kLevelDump, "getDeviceInfoBySCSIInquiry", "%s", title);
  std::string head = hex.substr(0, kDumpLimit);
  for (size_t i = 0; i < head.size(); i += kDumpLineLength)
    engineDebug().DebugLvl(kLevelDump, "getDeviceInfoBySCSIInquiry", "%s",
                           head.substr(i, kDumpLineLength).c_str());
}

// Sends one INQUIRY into the zeroed area and keeps exactly the bytes the
// device returned; false on failure.
bool SendInquiry(PzDeviceScsiIface* scsi, bool page, unsigned char* area,
                 std::vector<unsigned char>& answer, CWvError* error) {
  const unsigned char cdb[kCdbLength] = {
      kInquiryOpcode, page ? kEvpdBit : (unsigned char)0,
      page ? kDeviceIdPage : (unsigned char)0, 0, kAllocationLength, 0};
  memset(area, 0, kInquiryAreaSize);
  int n = scsi->sendCDB(cdb, kCdbLength, area, int(kInquiryAreaSize), kCdbFlags,
                        SCSI_DIR_READ, kCdbLun, kCdbReserved, kCdbTimeoutSecs,
                        error);
  if (n == -1) return false;
  size_t count = n < 0 ? 0 : std::min(size_t(n), kInquiryAreaSize);
  answer.assign(area, area + count);
  return true;
}

// Replaces the first candidate equal to the configured id, if any.
void CorrectArrayId(std::string* ids[], size_t n) {
  std::string rule;
  if (!GetRegStr(nullptr, vmaxcfg::kSettingCorrectiveArrayID, rule)) return;
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

void parseStandardInquiry(const unsigned char* data, size_t returned,
                          StandardInquiryInfo& info) {
  info = StandardInquiryInfo();
  size_t valid = data ? returned : 0;
  if (valid > kAdditionalLengthOffset)
    valid = std::min(valid, size_t(data[kAdditionalLengthOffset]) +
                                kAdditionalLengthBase);
  info.validLength = valid;
  if (valid == 0) return;
  info.vendor = FieldText(data, valid, kVendorOffset, kVendorLength);
  info.product = FieldText(data, valid, kProductOffset, kProductLength);
  info.vendorArea = valid >= kSymDevOffset + kSymDevLength;
  if (valid >= kMicrocodeOffset + kMicrocodeLength)
    info.microcode = HexOf(data + kMicrocodeOffset, kMicrocodeLength);
  else
    info.microcode = FieldText(data, valid, kRevisionOffset, kRevisionLength);
  if (info.vendorArea)
    info.symDev = FieldText(data, valid, kSymDevOffset, kSymDevLength);
  info.symm3 = FieldHex(data, valid, kVmwSymm3Offset, kSerialBytes);
  info.symm4 = FieldHex(data, valid, kVmwSymm4Offset, kSerialBytes);
}

void parseDeviceIdPage(const unsigned char* data, size_t returned,
                       DeviceIdPageInfo& info) {
  info = DeviceIdPageInfo();
  if (!data || returned < kPageHeaderLength || data[kPageCodeOffset] != kDeviceIdPage)
    return;
  info.valid = true;
  size_t end = std::min(returned, ((size_t(data[kPageLengthHigh]) << 8) |
                                   data[kPageLengthLow]) + kPageHeaderLength);
  std::string serial, device;
  if (end > kOldLayoutMarker && data[kOldLayoutMarker] != 0) {
    info.oldLayout = true;
    const unsigned char* naa = data + kPageHeaderLength;
    if (end >= kPageHeaderLength + kNaaBytes &&
        parseSymmetrixNaa(naa, kNaaBytes, serial, device)) {
      info.symm3 = serial;
      info.device = device;
      info.identifier = HexOf(naa, kNaaBytes);
    }
    return;
  }
  // Designation descriptors in any order; the logical unit's binary NAA
  // designator of these arrays is the one that names the device.
  for (size_t pos = kPageHeaderLength; pos + kDescHeaderLength <= end;) {
    const unsigned char* desc = data + pos;
    size_t length = desc[kDescLength];
    if (pos + kDescHeaderLength + length > end) break;
    const unsigned char* designator = desc + kDescHeaderLength;
    unsigned char association =
        (desc[kDescTypeByte] >> kAssociationShift) & kAssociationMask;
    if ((desc[kDescCodeSet] & kCodeSetMask) == kCodeSetBinary &&
        association == kAssociationLu &&
        (desc[kDescTypeByte] & kDesignatorTypeMask) == kDesignatorTypeNaa &&
        parseSymmetrixNaa(designator, length, serial, device)) {
      info.symm4 = serial;
      info.device = device;
      info.identifier = HexOf(designator, length);
      return;
    }
    pos += kDescHeaderLength + length;
  }
}

namespace {

// What the answers name, before the vendor check and the corrective rule.
struct InquiryIds {
  std::string symm3, symm4, lunArrayId, naaDev;
};

// The standard INQUIRY answer: from the device, or as the VMware host handed
// it over. `scsi` is left on the opened device for the page that follows.
bool ReadStandardAnswer(const std::string& deviceSpec, bool vmware,
                        std::vector<unsigned char>& area,
                        std::shared_ptr<PzDevice>& device, PzDeviceScsiIface*& scsi,
                        std::vector<unsigned char>& answer) {
  EvDebug& dbg = engineDebug();
  const char* fn = "getDeviceInfoBySCSIInquiry";
  CWvError error;
  if (vmware) {
    std::string hex;
    parseJSONString(deviceSpec, "standardinqury", hex);
    answer.assign(area.begin(),
                  area.begin() + HexToBytes(hex, area.data(), kInquiryAreaSize));
    return true;
  }
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
  if (!SendInquiry(scsi, false, area.data(), answer, &error)) {
    dbg.DebugLvl(DBG_ERROR, fn, "Fail to send scsi inquiry cdb, caught exception:%s",
                 error.text().c_str());
    return false;
  }
  return true;
}

// A VMware device: serials from the standard answer, the array id and the
// device number from the LUN UUID the host gave.
void VmwareIds(const std::string& deviceSpec, const StandardInquiryInfo& std,
               InquiryIds& ids) {
  ids.symm3 = std.symm3;
  ids.symm4 = std.symm4;
  std::string uuid;
  parseJSONString(deviceSpec, "lunuuid", uuid);
  if (uuid.size() > kLunUuidSerialOffset)
    ids.lunArrayId = uuid.substr(kLunUuidSerialOffset, kLunUuidSerialLength);
  if (uuid.size() >= kLunUuidNaaOffset + 2 * kNaaBytes) {
    unsigned char naa[kNaaBytes];
    HexToBytes(uuid.substr(kLunUuidNaaOffset, 2 * kNaaBytes), naa, kNaaBytes);
    std::string serial;
    parseSymmetrixNaa(naa, kNaaBytes, serial, ids.naaDev);
  }
}

// A local device: the standard answer dumped, then the Device Identification
// page asked for and read.
bool PageIds(const std::string& deviceSpec, PzDeviceScsiIface* scsi,
             std::vector<unsigned char>& area, const std::string& hex,
             const StandardInquiryInfo& std, InquiryIds& ids) {
  EvDebug& dbg = engineDebug();
  const char* fn = "getDeviceInfoBySCSIInquiry";
  std::string head = hex.substr(0, kDumpLimit);
  for (size_t i = 0; i < head.size(); i += kDumpLineLength)
    dbg.DebugLvl(kLevelDump, fn, "%s", head.substr(i, kDumpLineLength).c_str());
  std::vector<unsigned char> page;
  CWvError error;
  if (!SendInquiry(scsi, true, area.data(), page, &error)) {
    dbg.DebugLvl(DBG_ERROR, fn, "Fail to send scsi inquiry cdb, caught exception: %s",
                 error.text().c_str());
    return false;
  }
  DeviceIdPageInfo info;
  parseDeviceIdPage(page.data(), page.size(), info);
  if (!info.valid)
    dbg.DebugLvl(kLevelSummary, fn,
                 "Device Identification page of [%s] not usable: %zu bytes, page code [%s]",
                 deviceSpec.c_str(), page.size(),
                 page.size() > kPageCodeOffset ? HexOf(&page[kPageCodeOffset], 1).c_str() : "");
  else if (info.identifier.empty())
    dbg.DebugLvl(kLevelSummary, fn,
                 "Device Identification page of [%s] names no device of these arrays",
                 deviceSpec.c_str());
  else
    dbg.DebugLvl(kLevelDump, fn, "Device identifier [%s] (%s layout)",
                 info.identifier.c_str(), info.oldLayout ? "older" : "SPC");
  ids.symm3 = info.symm3;
  ids.symm4 = info.symm4;
  ids.naaDev = info.device;
  dbg.DebugLvl(kLevelDump, fn, "SYMM3 [%s] SYMM4 [%s] Microcode [%s]", ids.symm3.c_str(),
               ids.symm4.c_str(), std.microcode.c_str());
  DumpHex("SCSI Inquiry data (Page 80) HEX (first 1024 bytes only)",
          HexOf(page.data(), page.size()));
  return true;
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
  // Exactly the bytes the device (or the VMware host) handed over.
  std::vector<unsigned char> answer;
  std::shared_ptr<PzDevice> device;
  PzDeviceScsiIface* scsi = nullptr;
  if (!ReadStandardAnswer(deviceSpec, vmware, area, device, scsi, answer)) return false;

  StandardInquiryInfo std;
  parseStandardInquiry(answer.data(), answer.size(), std);
  vendor = std.vendor;
  product = std.product;
  const bool ours = vendor.compare(0, kVendorEMCLength, kVendorEMC) == 0;
  std::string hex = HexOf(answer.data(), std.validLength);
  dbg.DebugLvl(kLevelDump, fn, "SCSI Inquiry data (Basic) HEX (first 1024 bytes only)");

  InquiryIds ids;
  if (vmware) VmwareIds(deviceSpec, std, ids);
  else if (!PageIds(deviceSpec, scsi, area, hex, std, ids)) return false;

  // Identifiers only of a device of these arrays, never another vendor's.
  const char* devFrom = kFromNowhere;
  if (!ours) {
    ids.symm3.clear();
    ids.symm4.clear();
    ids.lunArrayId.clear();
  } else if (std.vendorArea) {
    symDev = std.symDev;
    devFrom = kFromVendorArea;
  } else if (!ids.naaDev.empty()) {
    symDev = ids.naaDev;
    devFrom = kFromIdentifier;
  }
  const char* microcodeFrom =
      std.microcode.empty() ? kFromNowhere : std.vendorArea ? kFromVendorArea
                                                            : kFromRevision;

  std::string* candidates[] = {&ids.symm4, &ids.symm3, &ids.lunArrayId};
  CorrectArrayId(candidates, ids.lunArrayId.empty() ? 2 : 3);
  symDev = StdDevName(symDev);
  dbg.DebugLvl(kLevelSummary, fn,
               "Device number [%s] from %s, microcode [%s] from %s "
               "(%zu valid bytes of standard inquiry data)",
               symDev.c_str(), devFrom, std.microcode.c_str(), microcodeFrom,
               std.validLength);

  if (!ids.lunArrayId.empty()) {
    dbg.DebugLvl(kLevelSummary, fn,
                 "SCSI Inquiry on physical path [%s] - SymDev[%s] SYMM4[%s] "
                 "SYMM3[%s] ARRAY-ID-FROM-LUN-UUID[%s] Product[%s] Vendor[%s]",
                 deviceSpec.c_str(), symDev.c_str(), ids.symm4.c_str(),
                 ids.symm3.c_str(), ids.lunArrayId.c_str(), product.c_str(),
                 vendor.c_str());
    arrayIds = {ids.symm4, ids.symm3, ids.lunArrayId};
  } else {
    dbg.DebugLvl(kLevelSummary, fn,
                 "SCSI Inquiry on physical path [%s] - SymDev[%s] SYMM4[%s] "
                 "SYMM3[%s] Product[%s] Vendor[%s]",
                 deviceSpec.c_str(), symDev.c_str(), ids.symm4.c_str(),
                 ids.symm3.c_str(), product.c_str(), vendor.c_str());
    arrayIds = {ids.symm4, ids.symm3};
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
