// Host devices and identifiers: device numbers and WWNs, the name-value
// scanner, array information lookup, SCSI inquiry identification, host
// initiators and device discovery.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

#include "host/SnapInfo.h"
#include "common/Strings.h"
#include "common/VMAXParams.h"

// Device identifiers.
std::string StdDevName(const std::string& dev);
bool compareDevs(const std::string& a, const std::string& b);
bool compareWWNs(const std::string& a, const std::string& b);
bool parseDeviceWWN(PZSO::SnapInfo* si, const std::string& wwn,
                    std::string& serial, std::string& device);
std::string DeviceWWNToString(const unsigned char* bytes);
std::string WWNToString(const unsigned char* bytes);
std::string StringToWWN(const std::string& text);
std::string ToLower(const std::string& text);
// The organisation identifier (OUI) of an NAA designator; 0 when too short.
unsigned long naaOrganisationId(const unsigned char* naa, size_t length);
// A 16-byte NAA-6 device identifier of these arrays (OUI 0x000097 or
// 0x006048): the array serial (12 hex digits of bytes 4..9) and, when the
// tail reads "S" and hex characters, those characters left-padded to five
// (else an empty device). False, outputs untouched, for any other identifier.
bool parseSymmetrixNaa(const unsigned char* naa, size_t length,
                       std::string& serial, std::string& device);

// Name-value scanner. The value of an item named "hostPassword" is never
// logged, and logged record texts have that value replaced by "****".
bool parseJSONString(const std::string& text, const std::string& name,
                     std::string& value);
// Copy of `text` with the value of any "hostPassword" item replaced by ****.
std::string maskSecrets(const std::string& text);

// Array information lookup.
bool getArrayInfoFromDB(PZSO::SnapInfo* si, const std::vector<std::string>& ids,
                        std::string& usedId, char* buffer, short size,
                        bool skipCache);

// SCSI inquiry identification.
// What a standard INQUIRY answer holds. The valid bytes are those the device
// returned, cut to the length it claims (byte 4 + 5); nothing past them is
// read.
struct StandardInquiryInfo {
  size_t validLength = 0;
  std::string vendor, product;
  bool vendorArea = false;  // the long vendor-specific area is present
  std::string microcode;    // hex of the vendor area, else the product revision
  std::string symDev;       // device characters of the vendor area
  std::string symm3, symm4; // serials of the vendor area (VMware hosts)
};
void parseStandardInquiry(const unsigned char* data, size_t returned,
                          StandardInquiryInfo& info);
// What a Device Identification page (0x83) holds: the LU's NAA designator
// found by walking the designators, or the identifier of the older layout
// that follows the page header directly.
struct DeviceIdPageInfo {
  bool valid = false;      // page code 0x83 and a complete header
  bool oldLayout = false;
  std::string symm4;       // serial of the LU's NAA designator
  std::string symm3;       // serial of the older layout's identifier
  std::string device;      // five device characters of the identifier's tail
  std::string identifier;  // the 16 designator bytes as hex
};
void parseDeviceIdPage(const unsigned char* data, size_t returned,
                       DeviceIdPageInfo& info);
bool getDeviceInfoBySCSIInquiry(std::string deviceSpec, std::string& vendor,
                                std::string& product,
                                std::vector<std::string>& arrayIds,
                                std::string& symDev);
bool getDeviceInfo(PZSO::SnapInfo* si, std::string devicePath,
                   std::string& symDev, std::vector<std::string>& arrayIds);
bool verifyDeviceBySCSIInquiry(PZSO::SnapInfo* si,
                               const std::string& devicePath,
                               const std::string& expectedArrayId,
                               const std::string& expectedDev);

// Host initiators and device discovery.
bool getHostIdentifier(PZSO::SnapInfo* si, std::string& hostId);
bool IsIDATypeVMWare(PZSO::SnapInfo* si, bool& isVMware);
bool detectHbalist(PZSO::SnapInfo* si, PZSO::PZOSUtil* os,
                   std::list<std::string>& initiators, const std::string& host,
                   std::string& arraySerial, bool& isIscsi);
bool detectHBA(PZSO::SnapInfo* si, std::string& initiator, bool& isIscsi,
               std::string& arraySerial, PZSO::PZOSUtil* os,
               const std::string& hostId);
bool getDeviceListWrapper(PZSO::SnapInfo* si, std::list<std::string>& devices,
                          PZSO::PZOSUtil* os, const std::string& hostId,
                          const std::string& vendor, bool isESX);
bool getDeviceList(PZSO::SnapInfo* si, std::list<std::string>& devices,
                   PZSO::PZOSUtil* os, const std::string& host,
                   const std::string& vendor);
void refreshSystemBus(PZSO::PZOSUtil* os,
                      const std::list<std::string>& initiators,
                      const std::list<std::string>& targets,
                      const std::string& host);
void discoverMappedDevices(PZSO::PZOSUtil* os,
                           const std::list<std::string>& hostDevices,
                           const std::vector<VMAXMappedDevices>& pending,
                           bool isVMware);
bool getAllDevicePaths(PZSO::SnapInfo* si, const std::string& expectedArrayId,
                       const std::string& expectedDev,
                       const std::list<std::string>& paths,
                       std::list<std::string>& out);
std::string convertHbaList(std::list<std::string>& initiators, bool isIscsi);
