// Plain records that carry one snapshot operation from a worker down to the
// array command layer and back. They own their strings and lists; the only
// pointer they hold, the host request, is borrowed.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "common/VMAXSnapConfig.h"
#include "host/SnapInfo.h"

// One device of one snapshot operation.
class VMAXSnapParam {
 public:
  VMAXSnapParam();
  explicit VMAXSnapParam(PZSO::SnapInfo* si);
  VMAXSnapParam(const VMAXSnapParam& other);
  VMAXSnapParam& operator=(const VMAXSnapParam& other);
  ~VMAXSnapParam();

  // Clears the pointer and the flags; strings and the list stay.
  void reset();
  void copy(const VMAXSnapParam& other);
  void dump(std::string& out) const;

  PZSO::SnapInfo* snapInfo;
  std::string snapUid;
  std::string sourceDevice;
  std::string targetDevice;
  std::string snapDevFName;
  bool targetLinked;
  bool targetMapped;
  std::list<std::string> extraDevices;
  bool reserved;
};

bool isVMAXSnapLinked(const VMAXSnapParam& p);
bool isVMAXSnapMapped(const VMAXSnapParam& p);
bool isVMAXSnapNotLinked(const VMAXSnapParam& p);

// All devices of one operation on one array.
class VMAXSnapParamList {
 public:
  VMAXSnapParamList();
  VMAXSnapParamList(const VMAXSnapParamList& other);
  VMAXSnapParamList& operator=(const VMAXSnapParamList& other);
  ~VMAXSnapParamList();

  void reset();
  // Deep copy: params are cleared and every element copied in order.
  void copy(const VMAXSnapParamList& other);
  void dump(std::string& out, bool withHeader) const;

  int snapOperation;
  int replType;
  std::string serial;
  bool isVMware;
  bool decoupledClone;
  std::list<VMAXSnapParam> params;
  std::list<std::string> initiators;
  int errCode;
  std::string errStr;
};

struct VMAXMapParams {
  std::string serial;
  std::list<std::string> devices;
  std::list<std::string> initiators;
  void dump(std::string& out) const;
};

struct VMAX_HBAs {
  std::list<std::string> localHbas;  // JSON key "LocalHBA"
  std::list<std::string> esxHbas;    // JSON key "ESXHBA"
};

struct VMAXMetadata {
  std::string arraySerial;
  std::string sourceDevice;
  std::string snapName;
};

struct VMAXLinkDevice {
  std::string linkDevName;
  bool defined = false;
  int linkState = 0;
  bool fourthFlagSet = false;
  bool firstFlagSet = false;
};

// One snapshot of one source device as the array reports it.
struct VMAXSnapInfo {
  VMAXSnapInfo(PZSO::SnapInfo* si, const std::string& sid,
               const std::string& srcDev, const std::string& snapName)
      : snapInfo(si), sid(sid), snapName(snapName), srcDev(srcDev) {}
  VMAXSnapInfo(const VMAXSnapInfo&) = default;
  VMAXSnapInfo& operator=(const VMAXSnapInfo&) = default;

  PZSO::SnapInfo* snapInfo;
  std::string sid;
  std::string snapName;
  std::string srcDev;
  bool exists = false;
  bool restoreActive = false;
  bool linked = false;
  bool failed = false;
  bool reserved1 = false;
  bool reserved2 = false;
  int64_t generation = 0;
  int64_t createTime = 0;
  int64_t reserved3 = 0;
  std::vector<VMAXLinkDevice> linkDevs;
};

struct VMAXLun {
  std::string sid;
  std::string deviceId;
  std::string deviceName;  // not filled
  std::string wwn;         // not filled
  uint64_t cylinders = 0;
};

struct VMAXMaskViewInfo {
  std::string sid;  // not filled
  std::string maskingView;
  std::string initiatorGroup;
  std::string portGroup;
  std::string storageGroup;
};

struct VMAXMappedDevices {
  PZSO::SnapInfo* snapInfo = nullptr;
  std::string sourceDevice;
  std::string targetDevice;
  std::string arraySerial;
};

// Connection details of one array.
struct ArrayDetails {
  int arrayNum = 0;
  std::string arrayId;      // copy of arrayName
  std::string arrayName;    // array serial
  std::string controlHost;
  std::string userName;
  std::string password;     // decoded; never logged
  void reset() {
    arrayNum = 0;
    arrayId.clear();
    arrayName.clear();
    controlHost.clear();
    userName.clear();
    password.clear();
  }
};

struct VMAXArrayInfo {};

struct ArrayAPIInitParams {
  int type = 0;
  ArrayDetails arrayDetails;
  VMAXSnapConfig config;
};

struct VMAXAPIInitParams {
  VMAXAPIInitParams(int mode, const ArrayDetails& details,
                    const VMAXSnapConfig& config)
      : mode(mode), arrayDetails(details), config(config) {}
  int mode;
  ArrayDetails arrayDetails;
  VMAXSnapConfig config;
};
