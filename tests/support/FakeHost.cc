#include "tests/support/FakeHost.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/HostServices.h"

namespace testing_host {

namespace {
// Unlike the runtime, this host cuts a text too long for the buffer.
int CopyCut(const std::string& text, char* buffer, short* size) {
  if (!buffer || !size || *size <= 0) return 1;
  snprintf(buffer, size_t(*size), "%s", text.c_str());
  return 0;
}

// Sets or (for a null value) clears one item, unless the test refuses it.
int Put(std::map<int, std::string>& items, const std::set<int>& refused, int type,
        const char* value) {
  if (refused.count(type)) return 1;
  if (value) items[type] = value;
  else items.erase(type);
  return 0;
}
}  // namespace

FakeSnapInfo::FakeSnapInfo() {
  jobParams[PZSO::JOB_PARAM_JOB_ID] = 4711;
  smSnapId = 1;
  arrayNum = 1;
  snapUniqueId = "SNAP_1";
  arrayDetails.number = 1;
}

int FakeSnapInfo::setSnapUniqueId(const char* uid) {
  setSnapUniqueIds.push_back(uid ? uid : "");
  return 0;
}

int FakeSnapInfo::setArrayInfo(const char* arrayId) {
  setArrayInfoCalls.push_back(arrayId ? arrayId : "");
  auto it = arrayInfoDb.find(setArrayInfoCalls.back());
  if (it == arrayInfoDb.end()) return 1;
  arrayInfo = it->second;
  return 0;
}

int FakeSnapInfo::getArrayInfoString(char* buffer, short* size) {
  return arrayInfo.empty() ? 1 : CopyCut(arrayInfo, buffer, size);
}

int FakeSnapInfo::getVMHostIdentifier(char* buffer, short* size) {
  return vmHostIdentifierResult ? vmHostIdentifierResult : CopyCut(vmHostId, buffer, size);
}

void FakeSnapInfo::setStatus(int s) {
  status = s;
  statusHistory.push_back(s);
}

int FakeSnapInfo::setMetadata(int type, const char* value) {
  return Put(metadata, refuseMetadataTypes, type, value);
}

void FakeSnapInfo::setErrorInfo(int code, const char* text) {
  errorCode = code;
  errorText = text ? text : "";
  errorHistory.emplace_back(code, errorText);
}

void FakeSnapInfo::log(int level, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FXString::FormatV(format, args);
  va_end(args);
  logs.push_back({hostrt::LogKind::kRequest, level, function ? function : "", text, smSnapId});
}

int FakeSnapInfo::findArrayInfoInCache(const char* arrayId) {
  cacheLookups.push_back(arrayId ? arrayId : "");
  return arrayInfoCache.count(cacheLookups.back()) ? 0 : 1;
}

int FakeSnapInfo::setRequestMetadata(int type, const char* value) {
  return Put(requestMetadata, refuseMetadataTypes, type, value);
}

int FakeSnapInfo::getJobParam(int id, void* value) {
  if (failingJobParams.count(id) || !value) return 1;
  auto it = jobParams.find(id);
  if (it == jobParams.end()) return 1;
  if (id == PZSO::JOB_PARAM_JOB_ID) *static_cast<long long*>(value) = it->second;
  else *static_cast<int*>(value) = int(it->second);
  return 0;
}

// The fake host "encodes" a password by reversing it.
int FakeSnapInfo::decodeArrayDetail(std::string encoded, std::string* decoded) {
  if (!decoded) return 1;
  decoded->assign(encoded.rbegin(), encoded.rend());
  return 0;
}

bool FakeSnapInfo::getSnapUniqueId(std::string& uid) {
  ++getSnapUniqueIdCalls;
  if (!snapUniqueIdOk) return false;
  uid = snapUniqueId;
  return true;
}

int FakeSnapInfo::getArrayDetailsObject(PZSO::ArrayDetailsSource** object) {
  if (!object) return 1;
  *object = &arrayDetails;
  return 0;
}

void FakeSnapInfo::releaseArrayDetailsObject(PZSO::ArrayDetailsSource** object) {
  ++releasedArrayDetails;
  if (object) *object = nullptr;
}

bool FakeSnapInfo::getSourceDevice(std::string& source) {
  if (!sourceDeviceOk) return false;
  source = sourceDevice;
  return true;
}

// ---- FakeOSUtil

int FakeOSUtil::rescanBus(const char* host, const char**, const char** cleanupPaths) {
  rescans.emplace_back();
  rescans.back().host = host ? host : "";
  for (const char** p = cleanupPaths; p && *p; ++p) rescans.back().cleanup.push_back(*p);
  return 0;
}

int FakeOSUtil::getDeviceListString(const char*, const char*, const char*, int bufferSize,
                                    char* buffer) {
  ++deviceListStringCalls;
  int needed = int(deviceListString.size()) + 1;
  if (deviceListStringAlwaysBigger) return bufferSize + 1;
  if (bufferSize < needed) return needed;
  memcpy(buffer, deviceListString.c_str(), size_t(needed));
  return 0;
}

int FakeOSUtil::queryInitiators(const char*, const char*, char* names, int* namesLength,
                                char* types, int* typesLength) {
  if (queryInitiatorsResult != 0) return queryInitiatorsResult;
  if (!names || !types) {
    if (namesLength) *namesLength = initiatorNames.empty() ? 0 : int(initiatorNames.size()) + 1;
    if (typesLength) *typesLength = int(initiatorTypes.size()) + 1;
    return 0;
  }
  if (!namesLength || *namesLength < int(initiatorNames.size()) + 1) return 1;
  memcpy(names, initiatorNames.c_str(), initiatorNames.size() + 1);
  memcpy(types, initiatorTypes.data(), initiatorTypes.size());
  return 0;
}

int FakeOSUtil::queryHostInitiator(const char*, const char*, char* buffer, int* size,
                                   bool* isIscsi) {
  if (hostInitiator.empty()) {
    *size = 0;
    return 1;
  }
  if (hostInitiatorAlwaysBigger || *size < int(hostInitiator.size()) + 1) {
    ++hostInitiatorAsks;
    *size = hostInitiatorAlwaysBigger ? *size + 1 : int(hostInitiator.size()) + 1;
    return 1;
  }
  memcpy(buffer, hostInitiator.c_str(), hostInitiator.size() + 1);
  if (isIscsi) *isIscsi = false;
  return 0;
}

bool FakeOSUtil::executeOnRemoteClient(const std::string& client) {
  remoteCalls.push_back(client);
  if (onRemote) return onRemote(client);
  return remoteResult;
}

int FakeOSUtil::getLocalDeviceList(const char*, const char*, std::vector<std::string>& devices) {
  devices = deviceLists.empty() ? std::vector<std::string>() : deviceLists.front();
  if (deviceLists.size() > 1) deviceLists.erase(deviceLists.begin());
  return 0;
}

}  // namespace testing_host
