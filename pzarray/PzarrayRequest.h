// The request object pzarray hands to the command layer: it answers snap
// configs from --set values and the job id, and logs to standard error
// with --verbose. Everything else is inert.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/SnapInfo.h"

namespace pzarray {

class PzarrayRequest : public PZSO::SnapInfo {
 public:
  PzarrayRequest(std::map<std::string, std::string> configs, long long jobId,
                 bool verbose);

  // User events posted by the operation (severity, text).
  const std::vector<std::pair<int, std::string>>& events() const {
    return events_;
  }

  int setSnapUniqueId(const char* uid) override;
  int getArrayInfoString(char* buffer, short* size) override;
  int setArrayInfo(const char* arrayId) override;
  int getVMHostIdentifier(char* buffer, short* size) override;
  bool isSnapFlagSet(int flag) override;
  unsigned int getSnapFlags() override;
  int getStatus() override;
  void setStatus(int status) override;
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

 private:
  std::map<std::string, std::string> configs_;
  long long jobId_;
  bool verbose_;
  int status_ = 0;
  int errorCode_ = 0;
  std::string errorText_;
  uint64_t jobFlags_ = 0;
  std::vector<std::pair<int, std::string>> events_;
};

}  // namespace pzarray
