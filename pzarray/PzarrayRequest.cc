#include "pzarray/PzarrayRequest.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/HostConstants.h"

namespace pzarray {

namespace {
constexpr int kHostOk = 0;
constexpr int kHostFailure = 1;
constexpr int kDecimalBase = 10;
}  // namespace

PzarrayRequest::PzarrayRequest(std::map<std::string, std::string> configs,
                               long long jobId, bool verbose)
    : configs_(std::move(configs)), jobId_(jobId), verbose_(verbose) {}

int PzarrayRequest::setSnapUniqueId(const char*) { return kHostOk; }
int PzarrayRequest::getArrayInfoString(char*, short*) { return kHostFailure; }
int PzarrayRequest::setArrayInfo(const char*) { return kHostOk; }
int PzarrayRequest::getVMHostIdentifier(char*, short*) { return kHostFailure; }
bool PzarrayRequest::isSnapFlagSet(int) { return false; }
unsigned int PzarrayRequest::getSnapFlags() { return 0; }
int PzarrayRequest::getStatus() { return status_; }
void PzarrayRequest::setStatus(int status) { status_ = status; }
int PzarrayRequest::getHostTypeInfo(char*, short*) { return kHostFailure; }
int PzarrayRequest::setDevicePath(const char*) { return kHostOk; }
int PzarrayRequest::setMetadata(int, const char*) { return kHostOk; }

void PzarrayRequest::setErrorInfo(int code, const char* text) {
  errorCode_ = code;
  errorText_ = text ? text : "";
}

int PzarrayRequest::getErrorInfo(int* code, char* text, short size) {
  if (code) *code = errorCode_;
  if (text && size > 0) snprintf(text, size_t(size), "%s", errorText_.c_str());
  return kHostOk;
}

void PzarrayRequest::reportEvent(int severity, const char* message) {
  events_.emplace_back(severity, message ? message : "");
  fprintf(stderr, "pzarray: event [%d] %s\n", severity, message ? message : "");
}

void PzarrayRequest::log(int level, const char* function, const char* format,
                         ...) {
  if (!verbose_) return;
  va_list args;
  va_start(args, format);
  fprintf(stderr, "[%d] %s: ", level, function ? function : "");
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
}

int PzarrayRequest::getMountId() { return 0; }
int PzarrayRequest::findArrayInfoInCache(const char*) { return kHostFailure; }

int PzarrayRequest::getSnapConfigInt(const char* name, int* value) {
  auto it = configs_.find(name ? name : "");
  if (it == configs_.end() || !value) return kHostFailure;
  char* end = nullptr;
  errno = 0;
  long v = strtol(it->second.c_str(), &end, kDecimalBase);
  if (end == it->second.c_str() || *end || errno == ERANGE) return kHostFailure;
  *value = int(v);
  return kHostOk;
}

int PzarrayRequest::getSnapConfigString(const char* name, char* buffer,
                                        int* size) {
  auto it = configs_.find(name ? name : "");
  if (it == configs_.end() || !buffer || !size || *size <= 0)
    return kHostFailure;
  size_t n = std::min(it->second.size(), size_t(*size));
  memcpy(buffer, it->second.data(), n);
  *size = int(n);
  return kHostOk;
}

int PzarrayRequest::setRequestMetadata(int, const char*) { return kHostOk; }

int PzarrayRequest::getJobParam(int id, void* value) {
  if (id != PZSO::JOB_PARAM_JOB_ID || !value) return kHostFailure;
  *static_cast<long long*>(value) = jobId_;
  return kHostOk;
}

int PzarrayRequest::getArrayNum() { return 0; }
bool PzarrayRequest::hasSRDFInfo() { return false; }
int PzarrayRequest::getSMSnapId() { return 0; }
bool PzarrayRequest::isSRDFAsync() { return false; }
bool PzarrayRequest::isJobFlagSet(uint64_t flag) {
  return (jobFlags_ & flag) != 0;
}
void PzarrayRequest::setJobFlag(uint64_t flag) { jobFlags_ |= flag; }
void PzarrayRequest::clearJobFlag(uint64_t flag) { jobFlags_ &= ~flag; }
int PzarrayRequest::decodeArrayDetail(std::string, std::string*) {
  return kHostFailure;
}
bool PzarrayRequest::getSnapUniqueId(std::string&) { return false; }
int PzarrayRequest::getArrayDetailsObject(PZSO::ArrayDetailsSource** object) {
  if (object) *object = nullptr;
  return kHostFailure;
}
void PzarrayRequest::releaseArrayDetailsObject(
    PZSO::ArrayDetailsSource** object) {
  if (object) *object = nullptr;
}
bool PzarrayRequest::getSourceDevice(std::string&) { return false; }
bool PzarrayRequest::getDevicePath(std::string&) { return false; }
bool PzarrayRequest::getMetadata(int, std::string&) { return false; }

}  // namespace pzarray
