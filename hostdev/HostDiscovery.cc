// Host identity, initiators, device lists, bus rescans and the search for
// mapped targets among the host's devices.
#include <algorithm>
#include <unordered_map>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/Vocabulary.h"
#include "host/HostServices.h"
#include "hostdev/VMAXUtils.h"

namespace {

constexpr short kHostTypeBufferSize = 2048;
constexpr short kVMHostIdBufferSize = 1024;
constexpr size_t kHostIdMaxLength = 1023;
constexpr int kHostInitiatorBufferSize = 2048;
constexpr size_t kFcNameMaxLength = 127;
constexpr int kDeviceListBufferSize = 4096;
// A host that keeps asking for a bigger buffer is not followed for ever.
constexpr int kMaxBufferRetries = 8;
// Initiator type bytes of queryInitiators.
constexpr char kInitiatorTypeFC = 0;
constexpr char kInitiatorTypeIscsi = 1;

const char* const kDeviceListSeparator = "*";
const char* const kVMwareEntryPrefix = "{idatype:vmware";

// FC names are kept without colons and in upper case.
std::string FcName(const std::string& raw) {
  std::string s;
  for (char c : raw)
    if (c != ':') s += char(toupper((unsigned char)c));
  return s;
}

const char* HostOrNull(const std::string& host) {
  return host.empty() ? nullptr : host.c_str();
}

}  // namespace

bool getHostIdentifier(PZSO::SnapInfo* si, std::string& hostId) {
  const char* fn = "VMAXAPIUtils::getHostIdentifier";
  std::vector<char> type(kHostTypeBufferSize, 0);
  short size = kHostTypeBufferSize;
  si->getHostTypeInfo(type.data(), &size);
  type.back() = 0;
  std::string name;
  if (strstr(type.data(), "vmware")) {
    std::vector<char> id(kVMHostIdBufferSize, 0);
    short idSize = kVMHostIdBufferSize;
    if (si->getVMHostIdentifier(id.data(), &idSize) != 0) {
      si->log(LOG_FAILURE, fn, "Error:Unable to get the host identifier");
      return false;
    }
    id.back() = 0;
    name = id.data();
  } else {
    name = PZPlatformInfo::getPhysicalMachine();
  }
  hostId = name.substr(0, kHostIdMaxLength);
  si->log(LOG_DETAIL, fn, "HostIdentifier [%s] ", hostId.c_str());
  return true;
}

bool IsIDATypeVMWare(PZSO::SnapInfo* si, bool& isVMware) {
  const char* fn = "IsIDATypeVMWare";
  isVMware = false;
  std::string source;
  if (!si->getSourceDevice(source)) {
    si->log(LOG_FAILURE, fn, "Failed to get source device path");
    return false;
  }
  std::string idaType;
  if (parseJSONString(source, "idatype", idaType) && idaType == "vmware") {
    si->log(LOG_DETAIL, fn, "VMWare source device detected");
    isVMware = true;
  }
  return true;
}

bool detectHbalist(PZSO::SnapInfo* si, PZSO::PZOSUtil* os,
                   std::list<std::string>& initiators, const std::string& host,
                   std::string& arraySerial, bool& isIscsi) {
  const char* fn = "detectHbalist";
  si->log(LOG_DETAIL, fn, "Calling osutil detectHbalist");
  int namesLength = 0, typesLength = 0;
  os->queryInitiators(HostOrNull(host), arraySerial.c_str(), nullptr,
                      &namesLength, nullptr, &typesLength);
  si->log(LOG_DETAIL, fn, "After calling osutil detectHbalist");
  if (namesLength <= 0) {
    si->log(LOG_FAILURE, fn, "Error: Unable to detect initiator info.");
    return false;
  }
  if (typesLength < 0) typesLength = 0;
  // One spare byte keeps the names terminated whatever the host writes.
  std::unique_ptr<char[]> names(new (std::nothrow) char[size_t(namesLength) + 1]());
  std::unique_ptr<char[]> types(new (std::nothrow) char[size_t(typesLength) + 1]());
  if (!names || !types) {
    si->log(LOG_FAILURE, fn, "Error:Unable to allocate memory for HBAName");
    return false;
  }
  if (os->queryInitiators(HostOrNull(host), arraySerial.c_str(), names.get(),
                          &namesLength, types.get(), &typesLength) != 0) {
    if (namesLength == 0) {
      si->log(LOG_FAILURE, fn, "Unable to detect initiator info.");
      return false;
    }
    return true;
  }
  si->log(LOG_DETAIL, fn, "detectHBAlist [%s]", names.get());
  isIscsi = typesLength > 0 && types[0] != kInitiatorTypeFC;
  std::vector<std::string> pieces;
  FXString::Split(names.get(), ",", FXSPLIT_SKIP_EMPTY, pieces);
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (int(i) >= typesLength) break;  // a name without a type byte is skipped
    if (isIscsi) {
      if (types[i] != kInitiatorTypeIscsi) continue;
      si->log(LOG_DETAIL, fn, "iSCSI initiator:[%s]", pieces[i].c_str());
      initiators.push_back(pieces[i]);
    } else {
      if (types[i] != kInitiatorTypeFC) continue;
      std::string name = FcName(pieces[i]);
      si->log(LOG_DETAIL, fn, "FC initiator:[%s]", name.c_str());
      initiators.push_back(name);
    }
  }
  return true;
}

bool detectHBA(PZSO::SnapInfo* si, std::string& initiator, bool& isIscsi,
               std::string& arraySerial, PZSO::PZOSUtil* os,
               const std::string& hostId) {
  const char* fn = "detectHBA";
  initiator.clear();
  int size = kHostInitiatorBufferSize;
  std::vector<char> buffer;
  int asks = 0;
  for (;;) {
    try {
      buffer.assign(size_t(size) + 1, 0);
    } catch (const std::bad_alloc&) {
      si->log(LOG_FAILURE, fn, "Unable to allocate memory for HBAName");
      return false;
    }
    int given = size;
    if (os->queryHostInitiator(hostId.c_str(), arraySerial.c_str(),
                               buffer.data(), &given, &isIscsi) == 0)
      break;
    if (given <= 0) {
      si->log(LOG_FAILURE, fn, "Unable to detect initiator info.");
      return false;
    }
    if (++asks > kMaxBufferRetries) {
      si->log(LOG_FAILURE, fn,
              "Unable to detect initiator info: the host asked for a bigger "
              "buffer %d times (last size [%d])",
              asks, given);
      return false;
    }
    size = given;
  }
  std::string raw = buffer.data();
  si->log(LOG_DETAIL, fn, "Detected initiator port %s", raw.c_str());
  initiator = isIscsi ? raw : FcName(raw).substr(0, kFcNameMaxLength);
  return true;
}

bool getDeviceListWrapper(PZSO::SnapInfo* si, std::list<std::string>& devices,
                          PZSO::PZOSUtil* os, const std::string& hostId,
                          const std::string& vendor, bool isESX) {
  const char* fn = "getDeviceListWrapper";
  if (isESX) {
    si->log(LOG_PROGRESS, fn, "Getting device list for ESX host [%s] vendor [%s]",
            hostId.c_str(), vendor.c_str());
    return getDeviceList(si, devices, os, hostId, vendor);
  }
  si->log(LOG_PROGRESS, fn, "Getting device list for local host[%s]",
          hostId.c_str());
  std::vector<std::string> found;
  if (os->getLocalDeviceList(hostId.c_str(), vendor.c_str(), found) != 0) {
    si->log(LOG_FAILURE, fn, "Failed to get device list for local host [%s]",
            hostId.c_str());
    return false;
  }
  devices.assign(found.begin(), found.end());
  return true;
}

bool getDeviceList(PZSO::SnapInfo* si, std::list<std::string>& devices,
                   PZSO::PZOSUtil* os, const std::string& host,
                   const std::string& vendor) {
  const char* fn = "getDeviceList";
  devices.clear();
  int size = kDeviceListBufferSize;
  std::vector<char> buffer;
  for (int attempt = 0;; ++attempt) {
    try {
      buffer.assign(size_t(size) + 1, 0);
    } catch (const std::bad_alloc&) {
      si->log(LOG_FAILURE, fn, "Unable to allocate memory for device list");
      return false;
    }
    int rc = os->getDeviceListString(host.c_str(), vendor.c_str(),
                                     kDeviceListSeparator, size, buffer.data());
    if (rc < 0) {
      si->log(LOG_FAILURE, fn, "Unable to get the device list");
      return false;
    }
    if (rc == 0) break;
    if (attempt >= kMaxBufferRetries) {
      si->log(LOG_FAILURE, fn,
              "Unable to get the device list: the host asked for a bigger "
              "buffer %d times (last size [%d])",
              attempt + 1, rc);
      return false;
    }
    size = rc;
  }
  std::string text = buffer.data();
  std::string separator = kDeviceListSeparator;
  if (text.find("vmware") != std::string::npos)
    separator += kVMwareEntryPrefix;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t hit = text.find(separator, pos);
    if (hit == std::string::npos) {
      devices.push_back(text.substr(pos));
      break;
    }
    devices.push_back(text.substr(pos, hit - pos));
    pos = hit + 1;  // the VMware prefix stays at the head of the next entry
  }
  if (devices.empty()) {
    si->log(LOG_FAILURE, fn, "Device list is empty");
    return false;
  }
  return true;
}

void refreshSystemBus(PZSO::PZOSUtil* os,
                      const std::list<std::string>& initiators,
                      const std::list<std::string>& targets,
                      const std::string& host) {
  std::vector<const char*> inits, paths;
  for (const auto& i : initiators) inits.push_back(i.c_str());
  for (const auto& t : targets) paths.push_back(t.c_str());
  inits.push_back(nullptr);
  paths.push_back(nullptr);
  os->rescanBus(HostOrNull(host), inits.data(), paths.data());
}

void discoverMappedDevices(PZSO::PZOSUtil* /*os*/,
                           const std::list<std::string>& hostDevices,
                           const std::vector<VMAXMappedDevices>& pending,
                           bool /*isVMware*/) {
  if (pending.empty()) return;
  PZSO::SnapInfo* logger = pending.front().snapInfo;
  const char* fn = "discoverMappedDevices";
  // The devices still looked for, by canonical device number; a host device
  // is matched against those of its number only, in pending order.
  std::unordered_map<std::string, std::vector<size_t>> waiting;
  size_t left = 0;
  for (size_t i = 0; i < pending.size(); ++i) {
    if (pending[i].snapInfo->getStatus() == PZSO::SNAP_STATUS_MAPPED) continue;
    waiting[StdDevName(pending[i].targetDevice)].push_back(i);
    ++left;
  }
  for (const auto& dev : hostDevices) {
    if (left == 0) {
      logger->log(LOG_DETAIL, fn, "Found device paths for all mapped devices");
      return;
    }
    std::string vendor, product, symDev;
    std::vector<std::string> ids;
    if (!getDeviceInfoBySCSIInquiry(dev, vendor, product, ids, symDev)) {
      logger->log(LOG_FAILURE, fn, "SCSI Inquiry failed for host device [%s]",
                  dev.c_str());
      continue;
    }
    if (product.find("SYMMETRIX") == std::string::npos) {
      logger->log(LOG_DETAIL, fn, "Host device [%s] does not belong to Symmetrix",
                  dev.c_str());
      continue;
    }
    auto it = waiting.find(StdDevName(symDev));
    if (it == waiting.end()) continue;
    for (size_t i : it->second) {
      const VMAXMappedDevices& p = pending[i];
      if (p.snapInfo->getStatus() == PZSO::SNAP_STATUS_MAPPED) continue;
      if (std::find(ids.begin(), ids.end(), p.arraySerial) == ids.end()) continue;
      if (!compareDevs(p.targetDevice, symDev)) continue;
      logger->log(LOG_PROGRESS, fn, "Physical path found for device [%s -> %s]",
                  p.targetDevice.c_str(), dev.c_str());
      p.snapInfo->setDevicePath(dev.c_str());
      p.snapInfo->setStatus(PZSO::SNAP_STATUS_MAPPED);
      p.snapInfo->setErrorInfo(PZ_ERR_NONE, "");
      --left;
      break;
    }
  }
}

bool getAllDevicePaths(PZSO::SnapInfo* si, const std::string& expectedArrayId,
                       const std::string& expectedDev,
                       const std::list<std::string>& paths,
                       std::list<std::string>& out) {
  out.clear();
  for (const auto& p : paths)
    if (verifyDeviceBySCSIInquiry(si, p, expectedArrayId, expectedDev))
      out.push_back(p);
  return true;
}

std::string convertHbaList(std::list<std::string>& initiators, bool isIscsi) {
  std::list<std::string> names;
  for (const auto& i : initiators) names.push_back(isIscsi ? i : FcName(i));
  return concatStrings(names, ",");
}
