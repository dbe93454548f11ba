// Host device tree and its SCSI pass-through interface.
#pragma once

#include <memory>
#include <string>

#include "host/HostServices.h"

// Data direction argument of sendCDB.
constexpr int SCSI_DIR_NONE = 0;
constexpr int SCSI_DIR_READ = 1;

class PzDeviceScsiIface {
 public:
  virtual ~PzDeviceScsiIface() = default;
  // Sends one CDB; reads at most `bufferSize` bytes into `buffer`.
  // Returns the number of bytes transferred, or -1 with `error` set.
  virtual int sendCDB(const unsigned char* cdb, int cdbLength,
                      unsigned char* buffer, int bufferSize, int flags,
                      int direction, int lun, int reserved, int timeoutSecs,
                      CWvError* error) = 0;
};

class PzDevice {
 public:
  virtual ~PzDevice() = default;
  // "PzDeviceScsiIface" gives the SCSI interface, or null when not SCSI.
  virtual PzDeviceScsiIface* getInterface(const char* name) = 0;
  virtual const std::string& path() const = 0;
};

class PzDeviceTree {
 public:
  // Null with `error` set when the device cannot be opened.
  static std::shared_ptr<PzDevice> getDevice(const std::string& path,
                                             CWvError* error);
};
