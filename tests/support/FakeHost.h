// Test host: request and utility objects that record every call and answer
// from what the test scripted.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "host/SnapInfo.h"
#include "hostruntime/HostRequest.h"
#include "tests/support/FakeEnv.h"

namespace testing_host {

// The host runtime's request object with scripted answers and a record of
// what the plug-in asked and set. The runtime's state fields (status, error,
// metadata, snap configs, job flags, events...) are the test's to set and
// inspect; `snapFlags` and `arrayInfoCache` here hide the runtime's own.
class FakeSnapInfo : public hostrt::HostSnapInfo, public LogBook {
 public:
  FakeSnapInfo();

  // --- scripted answers and records
  std::set<int> refuseMetadataTypes;  // setMetadata returns 1
  std::vector<std::pair<int, std::string>> errorHistory;
  std::vector<int> statusHistory;
  std::map<int, long long> jobParams;  // 12 job id (long long), 33 source
  std::set<int> failingJobParams;
  std::set<int> snapFlags;         // isSnapFlagSet
  int vmHostIdentifierResult = 0;  // getVMHostIdentifier: vmHostId or this
  bool sourceDeviceOk = true;      // getSourceDevice
  bool snapUniqueIdOk = true;      // getSnapUniqueId
  std::vector<std::string> setSnapUniqueIds;
  int getSnapUniqueIdCalls = 0;
  // Array information: records by serial in the "database" (the one found
  // becomes `arrayInfo`), cache set.
  std::map<std::string, std::string> arrayInfoDb;
  std::set<std::string> arrayInfoCache;
  std::vector<std::string> setArrayInfoCalls;
  std::vector<std::string> cacheLookups;
  hostrt::HostArrayDetails arrayDetails;  // array number 1
  int releasedArrayDetails = 0;

  // --- SnapInfo calls the fake answers or records itself
  int setSnapUniqueId(const char* uid) override;
  int getArrayInfoString(char* buffer, short* size) override;
  int setArrayInfo(const char* arrayId) override;
  int getVMHostIdentifier(char* buffer, short* size) override;
  bool isSnapFlagSet(int flag) override { return snapFlags.count(flag) > 0; }
  void setStatus(int s) override;
  int setMetadata(int type, const char* value) override;
  void setErrorInfo(int code, const char* text) override;
  void log(int level, const char* function, const char* format, ...) override
      __attribute__((format(printf, 4, 5)));
  int findArrayInfoInCache(const char* arrayId) override;
  int setRequestMetadata(int type, const char* value) override;
  int getJobParam(int id, void* value) override;
  int decodeArrayDetail(std::string encoded, std::string* decoded) override;
  bool getSnapUniqueId(std::string& uid) override;
  int getArrayDetailsObject(PZSO::ArrayDetailsSource** object) override;
  void releaseArrayDetailsObject(PZSO::ArrayDetailsSource** object) override;
  bool getSourceDevice(std::string& source) override;
};

class FakeOSUtil : public PZSO::PZOSUtil {
 public:
  struct Rescan {
    std::string host;  // "" for a null host
    std::vector<std::string> cleanup;
  };
  // queryInitiators answer: names joined with ",", one type byte per name.
  std::string initiatorNames;
  std::string initiatorTypes;
  int queryInitiatorsResult = 0;
  // queryHostInitiator answer.
  std::string hostInitiator;
  int hostInitiatorAsks = 0;  // times it answered "need more"
  bool hostInitiatorAlwaysBigger = false;
  // Device lists: each call pops the front list; the last one stays.
  std::vector<std::vector<std::string>> deviceLists;
  std::string deviceListString;  // for getDeviceListString
  bool deviceListStringAlwaysBigger = false;
  int deviceListStringCalls = 0;
  std::vector<Rescan> rescans;
  bool remoteResult = true;
  std::vector<std::string> remoteCalls;
  // Runs on executeOnRemoteClient (e.g. to set item 60 on the requests).
  std::function<bool(const std::string&)> onRemote;

  int rescanBus(const char* host, const char** initiators, const char** cleanupPaths) override;
  int getDeviceListString(const char* host, const char* vendor, const char* separator,
                          int bufferSize, char* buffer) override;
  int queryInitiators(const char* host, const char* arraySerial, char* names, int* namesLength,
                      char* types, int* typesLength) override;
  int queryHostInitiator(const char* hostId, const char* arraySerial, char* buffer, int* size,
                         bool* isIscsi) override;
  long getJobId() override { return 4711; }
  bool executeOnRemoteClient(const std::string& client) override;
  int getLocalDeviceList(const char* host, const char* vendor,
                         std::vector<std::string>& devices) override;
};

}  // namespace testing_host
