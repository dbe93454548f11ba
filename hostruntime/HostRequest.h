// Concrete request and utility objects of the host runtime: what the host
// (pzhost) builds for every device of a job and hands to the plug-in, and
// their JSON form for carrying a request array to another host and back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/SnapInfo.h"

namespace hostrt {

// Array connection details of one array number, as the host database keeps
// them (the password stays encoded).
class HostArrayDetails : public PZSO::ArrayDetailsSource {
 public:
  int number = 0;
  std::string name, controlHost, userName, encodedPassword;
  int getArrayNumber() override { return number; }
  std::string getArrayName() override { return name; }
  std::string getControlHost() override { return controlHost; }
  std::string getUserName() override { return userName; }
  std::string getEncodedPassword() override { return encodedPassword; }
};

// Array information records by array serial, shared by the requests of one
// job when the host wants them to share what they fetched.
using ArrayInfoCache = std::map<std::string, std::string>;

class HostSnapInfo : public PZSO::SnapInfo {
 public:
  using EventCallback = std::function<void(int severity, const std::string&)>;
  using LogCallback = std::function<void(int level, const std::string& function,
                                         const std::string& text)>;
  using ChangeCallback = std::function<void(const HostSnapInfo&)>;

  HostSnapInfo();

  // --- request state
  std::string sourceDevice;
  unsigned int snapFlags = 0;
  uint64_t jobFlags = 0;
  int status = 0;
  int errorCode = 0;
  std::string errorText;
  std::map<int, std::string> metadata;         // device metadata
  std::map<int, std::string> requestMetadata;  // request metadata
  std::map<std::string, int> snapConfigInts;
  std::map<std::string, std::string> snapConfigStrings;
  long long jobId = 0;       // job parameter 12
  int operationSource = 0;   // job parameter 33
  int smSnapId = 0;
  int mountId = 0;
  int arrayNum = 0;
  std::string devicePath;
  // What getSnapUniqueId hands out; empty: a name is made from the job id.
  std::string snapUniqueId;
  std::string hostTypeInfo = "linux";
  std::string vmHostId;  // empty: the host has no VM host identifier
  bool srdfInfo = false;
  bool srdfAsync = false;

  // --- events and log lines
  std::vector<std::pair<int, std::string>> events;
  EventCallback onEvent;  // optional, e.g. live display
  LogCallback onLog;      // optional, e.g. live display
  // Called after every change of the state the host keeps (status, error,
  // device path, metadata, job flags, snapshot name), so the host can write
  // it through before the plug-in's next step.
  ChangeCallback onChange;

  // --- array information: the current record and the cache of records
  std::string arrayInfoSerial;
  std::string arrayInfo;
  std::shared_ptr<ArrayInfoCache> arrayInfoCache;

  // --- SnapInfo
  int setSnapUniqueId(const char* uid) override;
  int getArrayInfoString(char* buffer, short* size) override;
  int setArrayInfo(const char* arrayId) override;
  int getVMHostIdentifier(char* buffer, short* size) override;
  bool isSnapFlagSet(int flag) override;
  unsigned int getSnapFlags() override;
  int getStatus() override;
  void setStatus(int s) override;
  int getHostTypeInfo(char* buffer, short* size) override;
  int setDevicePath(const char* path) override;
  int setMetadata(int type, const char* value) override;
  void setErrorInfo(int code, const char* text) override;
  int getErrorInfo(int* code, char* text, short size) override;
  void reportEvent(int severity, const char* message) override;
  void log(int level, const char* function, const char* format, ...) override
      __attribute__((format(printf, 4, 5)));
  int getMountId() override;
  int findArrayInfoInCache(const char* arrayId) override;
  int getSnapConfigInt(const char* name, int* value) override;
  int getSnapConfigString(const char* name, char* buffer, int* size) override;
  int setRequestMetadata(int type, const char* value) override;
  int getJobParam(int id, void* value) override;
  int getArrayNum() override;
  bool hasSRDFInfo() override;
  int getSMSnapId() override;
  bool isSRDFAsync() override;
  bool isJobFlagSet(uint64_t flag) override;
  void setJobFlag(uint64_t flag) override;
  void clearJobFlag(uint64_t flag) override;
  int decodeArrayDetail(std::string encoded, std::string* decoded) override;
  bool getSnapUniqueId(std::string& uid) override;
  int getArrayDetailsObject(PZSO::ArrayDetailsSource** object) override;
  void releaseArrayDetailsObject(PZSO::ArrayDetailsSource** object) override;
  bool getSourceDevice(std::string& source) override;
  bool getDevicePath(std::string& path) override;
  bool getMetadata(int type, std::string& value) override;

  // Tells onChange that the kept state changed.
  void Changed();

  // Writes one line to the request log (and the callback) as is.
  void LogText(int level, const std::string& function, const std::string& text);
};

// Sets what the host knows about itself on a request: its host type
// ("vmware" for an ESX host, which also gives its VM host identifier).
void FillHostFacts(HostSnapInfo* request);

// Operating-system utilities of one call over the environment's HostSystem.
// `requests` is the request array of the call (what executeOnRemoteClient
// sends); the objects stay the caller's.
class HostOSUtil : public PZSO::PZOSUtil {
 public:
  explicit HostOSUtil(std::vector<HostSnapInfo*> requests = {},
                      long jobId = 0);

  std::vector<HostSnapInfo*> requests;
  long jobId;
  // Why the last executeOnRemoteClient failed (empty after success).
  std::string lastRemoteError;

  int rescanBus(const char* host, const char** initiators,
                const char** cleanupPaths) override;
  int getDeviceListString(const char* host, const char* vendor,
                          const char* separator, int bufferSize,
                          char* buffer) override;
  int queryInitiators(const char* host, const char* arraySerial, char* names,
                      int* namesLength, char* types, int* typesLength) override;
  int queryHostInitiator(const char* hostId, const char* arraySerial,
                         char* buffer, int* size, bool* isIscsi) override;
  long getJobId() override { return jobId; }
  bool executeOnRemoteClient(const std::string& client) override;
  int getLocalDeviceList(const char* host, const char* vendor,
                         std::vector<std::string>& devices) override;
};

// JSON form of a request array: {"version": 1, "requests": [ {...}, ... ]}.
// Passwords never travel: the array information text is not serialised.
nlohmann::json ToJson(const std::vector<HostSnapInfo*>& requests);
// Builds new request objects from the JSON form (the remote side).
bool RequestsFromJson(const nlohmann::json& json,
                      std::vector<std::unique_ptr<HostSnapInfo>>* requests,
                      std::string* error);
// Applies the statuses, errors, device paths, snapshot names, job flags,
// both metadata kinds and the new events of an answer to `requests`. The
// whole answer is checked first; on any fault nothing is applied.
bool ApplyJson(const nlohmann::json& json,
               const std::vector<HostSnapInfo*>& requests, std::string* error);

}  // namespace hostrt
