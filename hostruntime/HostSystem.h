// Host initiators, devices and rescans: a real Linux host (sysfs, SCSI), or
// another implementation that the program installs (the array simulator's
// hosts).
#pragma once

#include <string>
#include <vector>

namespace hostrt {

enum InitiatorType : char { kInitiatorFC = 0, kInitiatorISCSI = 1 };

struct Initiator {
  std::string name;  // FC: 16 hex digits as the OS gives them; iSCSI: iqn
  InitiatorType type = kInitiatorFC;
};

class HostSystem {
 public:
  virtual ~HostSystem() = default;
  // `host` empty: the local host.
  virtual bool Initiators(const std::string& host,
                          std::vector<Initiator>* out, std::string* error) = 0;
  // Device paths whose SCSI vendor begins with `vendor`.
  virtual bool Devices(const std::string& host, const std::string& vendor,
                       std::vector<std::string>* paths, std::string* error) = 0;
  // Removes `removePaths` (flushing multipath maps first), then rescans.
  virtual bool Rescan(const std::string& host,
                      const std::vector<std::string>& removePaths,
                      std::string* error) = 0;
  // "vmware" for an ESX host, "linux" otherwise.
  virtual std::string HostType(const std::string& host) = 0;
  // The identifier of an ESX host as its requests carry it; empty when the
  // host does not know it.
  virtual std::string VmHostId(const std::string& /*host*/) { return std::string(); }
};

}  // namespace hostrt
