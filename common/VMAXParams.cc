#include "common/VMAXParams.h"

#include "common/Strings.h"

namespace {
const char* BoolText(bool b) { return b ? "true" : "false"; }
}  // namespace

// ---- VMAXSnapParam

VMAXSnapParam::VMAXSnapParam() { reset(); }

VMAXSnapParam::VMAXSnapParam(PZSO::SnapInfo* si) {
  reset();
  snapInfo = si;
}

VMAXSnapParam::VMAXSnapParam(const VMAXSnapParam& other) {
  reset();
  copy(other);
}

VMAXSnapParam& VMAXSnapParam::operator=(const VMAXSnapParam& other) {
  if (this != &other) {
    reset();
    copy(other);
  }
  return *this;
}

VMAXSnapParam::~VMAXSnapParam() { reset(); }

void VMAXSnapParam::reset() {
  snapInfo = nullptr;
  targetLinked = false;
  targetMapped = false;
  reserved = false;
}

void VMAXSnapParam::copy(const VMAXSnapParam& other) {
  if (this == &other) return;
  snapInfo = other.snapInfo;
  snapUid = other.snapUid;
  sourceDevice = other.sourceDevice;
  targetDevice = other.targetDevice;
  snapDevFName = other.snapDevFName;
  targetLinked = other.targetLinked;
  targetMapped = other.targetMapped;
  extraDevices = other.extraDevices;
  reserved = other.reserved;
}

void VMAXSnapParam::dump(std::string& out) const {
  out = "SourceDevice [" + sourceDevice + "] TargetDevice [" + targetDevice +
        "] SnapUid [" + snapUid + "] SnapDevFName [" + snapDevFName +
        "] TargetDeviceLinked [" + BoolText(targetLinked) +
        "] TargetDeviceMapped [" + BoolText(targetMapped) + "] Reserved [" +
        BoolText(reserved) + "]";
}

bool isVMAXSnapLinked(const VMAXSnapParam& p) { return p.targetLinked; }
bool isVMAXSnapMapped(const VMAXSnapParam& p) { return p.targetMapped; }
bool isVMAXSnapNotLinked(const VMAXSnapParam& p) { return !p.targetLinked; }

// ---- VMAXSnapParamList

VMAXSnapParamList::VMAXSnapParamList() { reset(); }

VMAXSnapParamList::VMAXSnapParamList(const VMAXSnapParamList& other) {
  reset();
  copy(other);
}

VMAXSnapParamList& VMAXSnapParamList::operator=(
    const VMAXSnapParamList& other) {
  if (this != &other) {
    reset();
    copy(other);
  }
  return *this;
}

VMAXSnapParamList::~VMAXSnapParamList() { reset(); }

void VMAXSnapParamList::reset() {
  snapOperation = 0;
  replType = 0;
  serial.clear();
  isVMware = false;
  decoupledClone = false;
  params.clear();
  initiators.clear();
  errCode = 0;
  errStr.clear();
}

void VMAXSnapParamList::copy(const VMAXSnapParamList& other) {
  // Copying onto itself would clear the very list being copied.
  if (this == &other) return;
  snapOperation = other.snapOperation;
  replType = other.replType;
  serial = other.serial;
  isVMware = other.isVMware;
  decoupledClone = other.decoupledClone;
  initiators = other.initiators;
  errCode = other.errCode;
  errStr = other.errStr;
  params.clear();
  for (const VMAXSnapParam& p : other.params) params.push_back(p);
}

void VMAXSnapParamList::dump(std::string& out, bool withHeader) const {
  out.clear();
  if (withHeader) out = "Dump of VMAXSnapParamList Object: ";
  out += "VMAX serial [" + serial + "] SnapOperation [" +
         std::to_string(snapOperation) + "] ReplType [" +
         std::to_string(replType) + "] Count [" +
         std::to_string(params.size()) + "] VmWare [" + BoolText(isVMware) +
         "] InitiatorList [" + concatStrings(initiators, ",") + "] ErrCode [" +
         std::to_string(errCode) + "] ErrStr [" + errStr + "]\n";
  std::string line;
  for (const VMAXSnapParam& p : params) {
    p.dump(line);
    out += "\t" + line + "\n";
  }
}

// ---- VMAXMapParams

void VMAXMapParams::dump(std::string& out) const {
  out = "VMAX serial [" + serial + "] Initiator(s) [" +
        concatStrings(initiators, ",") + "] Device List [" +
        concatStrings(devices, ",") + "]";
}
