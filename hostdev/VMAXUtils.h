// Host devices and identifiers: device numbers and WWNs, the name-value
// scanner, array information lookup, SCSI inquiry identification, host
// initiators and device discovery.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

#include "host/SnapInfo.h"
#include "orchestration/VMAXParams.h"

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

// Name-value scanner. The value of an item named "hostPassword" is never
// logged, and logged record texts have that value replaced by "****".
bool parseJSONString(const std::string& text, const std::string& name,
                     std::string& value);
// Copies at most `size` bytes of the value into `area` (no terminator);
// returns the number copied, -1 on failure or when the value does not fit.
int parseJSONString(const std::string& text, const std::string& name,
                    char* area, size_t size);
bool parseJsonString(PZSO::SnapInfo* si, const std::string& text,
                     const std::string& name, std::string& value);
// Copy of `text` with the value of any "hostPassword" item replaced by ****.
std::string maskSecrets(const std::string& text);

// Array information lookup.
bool getArrayInfoFromDB(PZSO::SnapInfo* si, const std::vector<std::string>& ids,
                        std::string& usedId, char* buffer, short size,
                        bool skipCache);
bool getArrayInfoFromDB(PZSO::SnapInfo* si, std::string& id, char* buffer,
                        short size, bool skipCache);
bool getArrayInfo(PZSO::SnapInfo* si, const std::vector<std::string>& ids,
                  std::string& usedId, int& engineId, std::string& hostName,
                  std::string& userName, std::string& password,
                  bool skipCache);
bool getArrayInfo(PZSO::SnapInfo* si, const std::string& id, int& engineId,
                  std::string& hostName, std::string& userName,
                  std::string& password, bool skipCache);
bool parseArrayInfo(const std::string& record, int& engineId,
                    std::string& hostName, std::string& userName,
                    std::string& password);
std::string concatStrings(const std::vector<std::string>& items,
                          const char* separator);
std::string concatStrings(const std::list<std::string>& items,
                          const char* separator);
void PrintStringList(PZSO::SnapInfo* si, const std::string& title,
                     const std::list<std::string>& items);

// SCSI inquiry identification.
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
