// Request and utility objects that the backup host hands to every entry point.
// The virtual operations stand in the host's slot order: a real host's vtable
// relies on it, so never reorder, insert or remove an operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace PZSO {

// Array connection details object of the host database (one array record).
class ArrayDetailsSource {
 public:
  virtual int getArrayNumber() = 0;
  virtual std::string getArrayName() = 0;
  virtual std::string getControlHost() = 0;
  virtual std::string getUserName() = 0;
  virtual std::string getEncodedPassword() = 0;
  virtual ~ArrayDetailsSource() = default;
};

// One device request of a snapshot job. Integer results are 0 on success
// unless noted.
class SnapInfo {
 public:
  virtual int setSnapUniqueId(const char* uid) = 0;
  virtual int getArrayInfoString(char* buffer, short* size) = 0;
  virtual int setArrayInfo(const char* arrayId) = 0;
  virtual int getVMHostIdentifier(char* buffer, short* size) = 0;
  virtual bool isSnapFlagSet(int flag) = 0;
  virtual unsigned int getSnapFlags() = 0;
  virtual int getStatus() = 0;
  virtual void setStatus(int status) = 0;
  virtual int getHostTypeInfo(char* buffer, short* size) = 0;
  virtual int setDevicePath(const char* path) = 0;
  // Non-zero means the host refused the item.
  virtual int setMetadata(int type, const char* value) = 0;
  virtual void setErrorInfo(int code, const char* text) = 0;
  virtual int getErrorInfo(int* code, char* text, short size) = 0;
  virtual void reportEvent(int severity, const char* message) = 0;
  virtual void log(int level, const char* function, const char* format, ...)
      __attribute__((format(printf, 4, 5))) = 0;
  virtual int getMountId() = 0;
  virtual int findArrayInfoInCache(const char* arrayId) = 0;
  // Both leave the value as preset when the config is absent.
  virtual int getSnapConfigInt(const char* name, int* value) = 0;
  virtual int getSnapConfigString(const char* name, char* buffer, int* size) = 0;
  // A null value clears the item; 1 means failure.
  virtual int setRequestMetadata(int type, const char* value) = 0;
  virtual int getJobParam(int id, void* value) = 0;
  virtual int getArrayNum() = 0;
  virtual bool hasSRDFInfo() = 0;
  virtual int getSMSnapId() = 0;
  virtual bool isSRDFAsync() = 0;
  virtual bool isJobFlagSet(uint64_t flag) = 0;
  virtual void setJobFlag(uint64_t flag) = 0;
  virtual void clearJobFlag(uint64_t flag) = 0;
  virtual int decodeArrayDetail(std::string encoded, std::string* decoded) = 0;
  virtual bool getSnapUniqueId(std::string& uid) = 0;
  // Non-zero on failure; the object is released with releaseArrayDetailsObject.
  virtual int getArrayDetailsObject(ArrayDetailsSource** object) = 0;
  virtual void releaseArrayDetailsObject(ArrayDetailsSource** object) = 0;
  virtual bool getSourceDevice(std::string& source) = 0;
  virtual bool getDevicePath(std::string& path) = 0;
  // Reads request metadata and device metadata alike; true when present.
  virtual bool getMetadata(int type, std::string& value) = 0;
  virtual ~SnapInfo() = default;
};

// Host operating-system utilities of one call.
class PZOSUtil {
 public:
  // Rescans the SCSI bus of `host` (null: local host). `initiators` and
  // `cleanupPaths` are NULL-terminated; the listed paths are removed first.
  virtual int rescanBus(const char* host, const char** initiators,
                        const char** cleanupPaths) = 0;
  // Fills `buffer` with the device paths of `vendor` joined by `separator`.
  // Negative: failure; positive: the buffer size the host needs; 0: done.
  virtual int getDeviceListString(const char* host, const char* vendor,
                                  const char* separator, int bufferSize,
                                  char* buffer) = 0;
  // Two-call protocol: with null buffers and zero lengths the host returns
  // the needed lengths of the comma-separated names and of the type bytes
  // (0 FC, 1 iSCSI, one byte per name). 0 on success.
  virtual int queryInitiators(const char* host, const char* arraySerial,
                              char* names, int* namesLength, char* types,
                              int* typesLength) = 0;
  // Initiator of a remote (ESX) host. On a too-small buffer returns non-zero
  // and sets `size` to the size needed (0: no initiator).
  virtual int queryHostInitiator(const char* hostId, const char* arraySerial,
                                 char* buffer, int* size, bool* isIscsi) = 0;
  virtual long getJobId() = 0;
  virtual bool executeOnRemoteClient(const std::string& client) = 0;
  virtual int getLocalDeviceList(const char* host, const char* vendor,
                                 std::vector<std::string>& devices) = 0;
  virtual ~PZOSUtil() = default;
};

}  // namespace PZSO
