#include "hostruntime/LinuxHostSystem.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "host/HostServices.h"
#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"

namespace hostrt {

namespace {

constexpr const char* kFcHosts = "/sys/class/fc_host";
constexpr const char* kScsiHosts = "/sys/class/scsi_host";
constexpr const char* kBlock = "/sys/block";
constexpr const char* kIscsiInitiatorFile = "/etc/iscsi/initiatorname.iscsi";
constexpr const char* kIscsiInitiatorKey = "InitiatorName=";
constexpr const char* kMultipathUuidPrefix = "mpath-";
constexpr const char* kMapperDir = "/dev/mapper/";
constexpr const char* kDevDir = "/dev/";
constexpr const char* kScanAll = "- - -";
constexpr const char* kDeleteDevice = "1";
constexpr const char* kHexPrefix = "0x";
constexpr const char* kBlanks = " \t\r\n";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

LinuxHostSystem::LinuxHostSystem(std::string root, std::string localName)
    : root_(std::move(root)), localName_(std::move(localName)) {
  while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

bool LinuxHostSystem::IsLocal(const std::string& host, std::string* error) const {
  if (host.empty() || host == localName_) return true;
  return Fail(error, "host [" + host + "] is not this host [" + localName_ + "]");
}

std::string LinuxHostSystem::ReadTrimmed(const std::string& path) const {
  std::string text;
  if (!CurrentEnv()->ReadFile(Path(path), &text, nullptr)) return std::string();
  return FXString::Trim(text, kBlanks);
}

std::vector<std::string> LinuxHostSystem::List(const std::string& dir) const {
  std::vector<std::string> names;
  if (!CurrentEnv()->ListDir(Path(dir), &names, nullptr)) names.clear();
  std::sort(names.begin(), names.end());
  return names;
}

bool LinuxHostSystem::Initiators(const std::string& host,
                                 std::vector<Initiator>* out,
                                 std::string* error) {
  if (!IsLocal(host, error)) return false;
  out->clear();
  for (const std::string& fc : List(kFcHosts)) {
    std::string port = ReadTrimmed(std::string(kFcHosts) + "/" + fc + "/port_name");
    if (StartsWith(port, kHexPrefix)) port = port.substr(strlen(kHexPrefix));
    if (!port.empty()) out->push_back({port, kInitiatorFC});
  }
  std::string text;
  if (CurrentEnv()->ReadFile(Path(kIscsiInitiatorFile), &text, nullptr)) {
    std::vector<std::string> lines;
    FXString::Split(text, "\n", FXSPLIT_SKIP_EMPTY, lines);
    for (const std::string& raw : lines) {
      std::string line = FXString::Trim(raw, kBlanks);
      if (StartsWith(line, kIscsiInitiatorKey)) {
        std::string name = FXString::Trim(line.substr(strlen(kIscsiInitiatorKey)), kBlanks);
        if (!name.empty()) out->push_back({name, kInitiatorISCSI});
        break;
      }
    }
  }
  return true;
}

std::vector<LinuxHostSystem::MultipathMap> LinuxHostSystem::MultipathMaps() const {
  std::vector<MultipathMap> maps;
  for (const std::string& dev : List(kBlock)) {
    if (!StartsWith(dev, "dm-")) continue;
    std::string base = std::string(kBlock) + "/" + dev;
    if (!StartsWith(ReadTrimmed(base + "/dm/uuid"), kMultipathUuidPrefix)) continue;
    MultipathMap map;
    map.dm = dev;
    map.name = ReadTrimmed(base + "/dm/name");
    map.slaves = List(base + "/slaves");
    if (!map.name.empty()) maps.push_back(map);
  }
  return maps;
}

// SCSI disks whose vendor begins with `vendor`; the paths of a multipath
// map are listed once, as the map.
bool LinuxHostSystem::Devices(const std::string& host, const std::string& vendor,
                              std::vector<std::string>* paths,
                              std::string* error) {
  if (!IsLocal(host, error)) return false;
  auto vendorOf = [&](const std::string& sd) {
    return ReadTrimmed(std::string(kBlock) + "/" + sd + "/device/vendor");
  };
  paths->clear();
  std::set<std::string> inMaps;
  for (const MultipathMap& map : MultipathMaps()) {
    inMaps.insert(map.slaves.begin(), map.slaves.end());
    if (!map.slaves.empty() && StartsWith(vendorOf(map.slaves.front()), vendor))
      paths->push_back(kMapperDir + map.name);
  }
  for (const std::string& dev : List(kBlock)) {
    if (!StartsWith(dev, "sd") || inMaps.count(dev)) continue;
    if (!CurrentEnv()->FileExists(Path(std::string(kBlock) + "/" + dev + "/device/vendor")))
      continue;
    if (StartsWith(vendorOf(dev), vendor)) paths->push_back(kDevDir + dev);
  }
  return true;
}

bool LinuxHostSystem::WriteSysfs(const std::string& path, const std::string& value,
                                 std::string* error) const {
  std::unique_ptr<WritableFile> file;
  std::string text;
  if (!CurrentEnv()->OpenWritable(Path(path), O_WRONLY, 0, &file, &text) ||
      !file->Append(value.data(), value.size(), &text) || !file->Close(&text))
    return Fail(error, "cannot write " + Path(path) + ": " + text);
  return true;
}

// Removes the listed devices, then scans every SCSI host. A multipath map
// with a listed device is flushed before its paths are deleted, so no map
// is left over dead paths; a map that cannot be flushed keeps its paths.
bool LinuxHostSystem::Rescan(const std::string& host,
                             const std::vector<std::string>& removePaths,
                             std::string* error) {
  if (!IsLocal(host, error)) return false;
  std::vector<MultipathMap> maps = MultipathMaps();
  std::vector<const MultipathMap*> flush;
  std::vector<std::string> remove;  // sd names
  std::vector<std::string> problems;
  for (const std::string& path : removePaths) {
    std::string name = path.substr(path.rfind('/') + 1);
    const MultipathMap* owner = nullptr;
    for (const MultipathMap& map : maps) {
      bool isMap = path == kMapperDir + map.name || name == map.dm;
      bool isSlave = std::find(map.slaves.begin(), map.slaves.end(), name) !=
                     map.slaves.end();
      if (isMap || isSlave) owner = &map;
    }
    if (owner) {
      if (std::find(flush.begin(), flush.end(), owner) == flush.end())
        flush.push_back(owner);
    } else if (StartsWith(name, "sd") && StartsWith(path, kDevDir)) {
      remove.push_back(name);
    } else {
      problems.push_back("unknown device " + path);
    }
  }
  for (const MultipathMap* map : flush) {
    ProcessSpec spec;
    spec.commandLine = std::string(kMultipathCommand) + " -f " + map->name;
    spec.argv = {kMultipathCommand, "-f", map->name};
    spec.timeoutMs = kMultipathTimeLimitMs;
    ProcessOutcome outcome;
    CurrentEnv()->RunProcess(spec, &outcome);
    if (!outcome.started || outcome.exitCode != 0) {
      problems.push_back("cannot flush multipath map " + map->name + ": " +
                         (outcome.started ? outcome.error : outcome.startError));
      continue;
    }
    remove.insert(remove.end(), map->slaves.begin(), map->slaves.end());
  }
  std::string text;
  for (const std::string& sd : remove)
    if (!WriteSysfs(std::string(kBlock) + "/" + sd + "/device/delete", kDeleteDevice, &text))
      problems.push_back(text);
  for (const std::string& scsiHost : List(kScsiHosts))
    if (!WriteSysfs(std::string(kScsiHosts) + "/" + scsiHost + "/scan", kScanAll, &text))
      problems.push_back(text);
  if (problems.empty()) return true;
  std::string all;
  for (const std::string& p : problems) all += (all.empty() ? "" : "; ") + p;
  return Fail(error, all);
}

std::string LinuxHostSystem::HostType(const std::string&) { return "linux"; }

}  // namespace hostrt
