// Host initiators, devices and rescans of a real Linux host, read from sysfs
// under a root directory (the machine's "/" normally, a fake tree in tests).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostruntime/HostSystem.h"

namespace hostrt {

constexpr const char* kMultipathCommand = "multipath";
constexpr long long kMultipathTimeLimitMs = 120000;

class LinuxHostSystem : public HostSystem {
 public:
  // `root` empty: the machine's own "/". `localName` is this host's name:
  // requests for another host are refused.
  LinuxHostSystem(std::string root, std::string localName);

  bool Initiators(const std::string& host, std::vector<Initiator>* out,
                  std::string* error) override;
  bool Devices(const std::string& host, const std::string& vendor,
               std::vector<std::string>* paths, std::string* error) override;
  bool Rescan(const std::string& host,
              const std::vector<std::string>& removePaths,
              std::string* error) override;
  std::string HostType(const std::string& host) override;

 private:
  struct MultipathMap {
    std::string dm;    // "dm-3"
    std::string name;  // "mpatha": /dev/mapper/mpatha
    std::vector<std::string> slaves;  // "sdb", "sdc"
  };
  bool IsLocal(const std::string& host, std::string* error) const;
  std::string Path(const std::string& path) const { return root_ + path; }
  std::string ReadTrimmed(const std::string& path) const;
  std::vector<std::string> List(const std::string& dir) const;
  std::vector<MultipathMap> MultipathMaps() const;
  bool WriteSysfs(const std::string& path, const std::string& value,
                  std::string* error) const;

  std::string root_;
  std::string localName_;
};


}  // namespace hostrt
