#include "hostruntime/HostRequest.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/HostConstants.h"
#include "host/HostServices.h"
#include "hostruntime/Env.h"
#include "hostruntime/HostDatabase.h"
#include "hostruntime/HostSystem.h"
#include "hostruntime/LogMask.h"
#include "hostruntime/SecretCodec.h"

namespace hostrt {

namespace {

constexpr const char* kHostTypeLinux = "linux";
constexpr const char* kHostTypeVmware = "vmware";

// Copies `text` with its terminator; 1 (and the size needed in `size`) when
// the buffer is too small.
int CopyOut(const std::string& text, char* buffer, short* size) {
  if (!buffer || !size || *size <= 0) return 1;
  if (text.size() + 1 > size_t(*size)) {
    *size = text.size() + 1 > size_t(INT16_MAX) ? INT16_MAX
                                                 : short(text.size() + 1);
    return 1;
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

void DebugLine(int level, const char* function, const std::string& text) {
  LogRecord r;
  r.kind = LogKind::kDebug;
  r.level = level;
  r.function = function;
  r.text = text;
  CurrentEnv()->Log(r);
}

// The password item of an array information record, so that the log never
// shows it wherever else it turns up.
void RegisterRecordPassword(const std::string& record) {
  size_t at = record.find("hostPassword");
  if (at == std::string::npos) return;
  size_t colon = record.find(':', at);
  if (colon == std::string::npos) return;
  size_t end = record.find_first_of(",}", colon + 1);
  RegisterSecret(record.substr(colon + 1, end == std::string::npos
                                              ? std::string::npos
                                              : end - colon - 1));
}

}  // namespace

HostSnapInfo::HostSnapInfo() : arrayInfoCache(std::make_shared<ArrayInfoCache>()) {}

int HostSnapInfo::setSnapUniqueId(const char* uid) {
  if (!uid || !*uid) return 1;
  snapUniqueId = uid;
  Changed();
  return 0;
}

int HostSnapInfo::getArrayInfoString(char* buffer, short* size) {
  if (arrayInfo.empty()) return 1;
  return CopyOut(arrayInfo, buffer, size);
}

int HostSnapInfo::setArrayInfo(const char* arrayId) {
  if (!arrayId || !*arrayId) return 1;
  HostDatabase* db = CurrentEnv()->Database();
  if (!db) {
    LogText(2, "setArrayInfo", "The host database is not available");
    return 1;
  }
  std::string record, error;
  if (!db->GetArrayInfoRecord(arrayId, &record, &error)) {
    LogText(0, "setArrayInfo",
            std::string("No array information for array [") + arrayId + "]" +
                (error.empty() ? "" : ": " + error));
    return 1;
  }
  RegisterRecordPassword(record);
  (*arrayInfoCache)[arrayId] = record;
  arrayInfoSerial = arrayId;
  arrayInfo = record;
  return 0;
}

int HostSnapInfo::getVMHostIdentifier(char* buffer, short* size) {
  if (vmHostId.empty()) return 1;
  return CopyOut(vmHostId, buffer, size);
}

bool HostSnapInfo::isSnapFlagSet(int flag) {
  unsigned int bits = static_cast<unsigned int>(flag);
  return bits != 0 && (snapFlags & bits) == bits;
}

unsigned int HostSnapInfo::getSnapFlags() { return snapFlags; }
int HostSnapInfo::getStatus() { return status; }
void HostSnapInfo::setStatus(int s) {
  status = s;
  Changed();
}

void HostSnapInfo::Changed() {
  if (onChange) onChange(*this);
}

int HostSnapInfo::getHostTypeInfo(char* buffer, short* size) {
  return CopyOut(hostTypeInfo, buffer, size);
}

int HostSnapInfo::setDevicePath(const char* path) {
  devicePath = path ? path : "";
  Changed();
  return 0;
}

int HostSnapInfo::setMetadata(int type, const char* value) {
  if (value) metadata[type] = value;
  else metadata.erase(type);
  Changed();
  return 0;
}

void HostSnapInfo::setErrorInfo(int code, const char* text) {
  errorCode = code;
  errorText = text ? text : "";
  Changed();
}

int HostSnapInfo::getErrorInfo(int* code, char* text, short size) {
  if (code) *code = errorCode;
  if (text && size > 0) snprintf(text, size_t(size), "%s", errorText.c_str());
  return 0;
}

void HostSnapInfo::reportEvent(int severity, const char* message) {
  std::string text = message ? message : "";
  events.emplace_back(severity, text);
  if (onEvent) onEvent(severity, text);
}

void HostSnapInfo::log(int level, const char* function, const char* format,
                       ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  std::string text = FXString::FormatV(format, args);
  va_end(args);
  LogText(level, function ? function : "", text);
}

void HostSnapInfo::LogText(int level, const std::string& function,
                           const std::string& text) {
  LogRecord r;
  r.kind = LogKind::kRequest;
  r.level = level;
  r.function = function;
  r.text = text;
  r.smSnapId = smSnapId;
  CurrentEnv()->Log(r);
  if (onLog) onLog(level, function, text);
}

int HostSnapInfo::getMountId() { return mountId; }

int HostSnapInfo::findArrayInfoInCache(const char* arrayId) {
  if (!arrayId || !*arrayId) return 1;
  auto it = arrayInfoCache->find(arrayId);
  if (it == arrayInfoCache->end()) return 1;
  arrayInfoSerial = it->first;
  arrayInfo = it->second;
  return 0;
}

int HostSnapInfo::getSnapConfigInt(const char* name, int* value) {
  if (!name || !value) return 1;
  auto it = snapConfigInts.find(name);
  if (it == snapConfigInts.end()) return 1;
  *value = it->second;
  return 0;
}

// Copies at most *size bytes (terminated when there is room). A value longer
// than the buffer is refused rather than cut: a cut value would be a wrong
// one. *size then tells the length needed.
int HostSnapInfo::getSnapConfigString(const char* name, char* buffer,
                                      int* size) {
  if (!name || !buffer || !size || *size <= 0) return 1;
  auto it = snapConfigStrings.find(name);
  if (it == snapConfigStrings.end()) return 1;
  const std::string& v = it->second;
  if (v.size() > size_t(*size)) {
    *size = int(v.size());
    return 1;
  }
  memcpy(buffer, v.data(), v.size());
  if (v.size() < size_t(*size)) buffer[v.size()] = '\0';
  *size = int(v.size());
  return 0;
}

int HostSnapInfo::setRequestMetadata(int type, const char* value) {
  if (value) requestMetadata[type] = value;
  else requestMetadata.erase(type);
  return 0;
}

int HostSnapInfo::getJobParam(int id, void* value) {
  if (!value) return 1;
  switch (id) {
    case PZSO::JOB_PARAM_JOB_ID:
      *static_cast<long long*>(value) = jobId;
      return 0;
    case PZSO::JOB_PARAM_OPERATION_SOURCE:
      *static_cast<int*>(value) = operationSource;
      return 0;
    default:
      return 1;
  }
}

int HostSnapInfo::getArrayNum() { return arrayNum; }
bool HostSnapInfo::hasSRDFInfo() { return srdfInfo; }
int HostSnapInfo::getSMSnapId() { return smSnapId; }
bool HostSnapInfo::isSRDFAsync() { return srdfAsync; }

bool HostSnapInfo::isJobFlagSet(uint64_t flag) {
  return flag != 0 && (jobFlags & flag) == flag;
}
void HostSnapInfo::setJobFlag(uint64_t flag) {
  jobFlags |= flag;
  Changed();
}
void HostSnapInfo::clearJobFlag(uint64_t flag) {
  jobFlags &= ~flag;
  Changed();
}

int HostSnapInfo::decodeArrayDetail(std::string encoded, std::string* decoded) {
  if (!decoded) return 1;
  if (!DecodeSecret(encoded, decoded)) {
    DebugLine(-1, "decodeArrayDetail", "The stored array detail is not encoded");
    return 1;
  }
  RegisterSecret(*decoded);
  return 0;
}

// The job's snapshot name; the host makes one from the job id and the time
// the first request asks for it. SnapVX names allow letters, digits and "_".
bool HostSnapInfo::getSnapUniqueId(std::string& uid) {
  if (snapUniqueId.empty()) {
    long long seconds = CurrentEnv()->NowMicros() / 1000000;
    snapUniqueId = "SP_" + std::to_string(jobId) + "_" + std::to_string(seconds);
  }
  uid = snapUniqueId;
  return true;
}

int HostSnapInfo::getArrayDetailsObject(PZSO::ArrayDetailsSource** object) {
  if (!object) return 1;
  *object = nullptr;
  HostDatabase* db = CurrentEnv()->Database();
  if (!db) {
    LogText(2, "getArrayDetailsObject", "The host database is not available");
    return 1;
  }
  ArrayDetailsRow row;
  std::string error;
  if (!db->GetArrayDetails(arrayNum, &row, &error)) {
    LogText(2, "getArrayDetailsObject",
            "No array details for array number [" + std::to_string(arrayNum) +
                "]" + (error.empty() ? "" : ": " + error));
    return 1;
  }
  auto* details = new HostArrayDetails;
  details->number = row.arrayNumber;
  details->name = row.arrayName;
  details->controlHost = row.controlHost;
  details->userName = row.userName;
  details->encodedPassword = row.encodedPassword;
  *object = details;
  return 0;
}

void HostSnapInfo::releaseArrayDetailsObject(PZSO::ArrayDetailsSource** object) {
  if (!object) return;
  // Only objects this class handed out come back here.
  delete static_cast<HostArrayDetails*>(*object);
  *object = nullptr;
}

bool HostSnapInfo::getSourceDevice(std::string& source) {
  if (sourceDevice.empty()) return false;
  source = sourceDevice;
  return true;
}

bool HostSnapInfo::getDevicePath(std::string& path) {
  path = devicePath;
  return !devicePath.empty();
}

bool HostSnapInfo::getMetadata(int type, std::string& value) {
  auto it = metadata.find(type);
  if (it != metadata.end()) {
    value = it->second;
    return true;
  }
  it = requestMetadata.find(type);
  if (it == requestMetadata.end()) return false;
  value = it->second;
  return true;
}

void FillHostFacts(HostSnapInfo* request) {
  if (!request) return;
  HostSystem* system = CurrentEnv()->System();
  request->hostTypeInfo = system ? system->HostType("") : kHostTypeLinux;
  if (system && request->hostTypeInfo == kHostTypeVmware)
    request->vmHostId = system->VmHostId("");
}

}  // namespace hostrt
