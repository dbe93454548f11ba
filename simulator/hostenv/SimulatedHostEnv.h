// A host of the simulator's world, played by this machine: the host
// runtime's environment with the host's initiators, devices, rescans and
// INQUIRY answers taken from the simulator's host view. Everything else
// (processes, files, settings, database, logs) is the wrapped environment's.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "hostruntime/EnvWrapper.h"
#include "hostruntime/HostSystem.h"

namespace symsim {

class SimulatedHostEnv : public hostrt::EnvWrapper {
 public:
  // `world` is the simulator's state folder; `localName` the simulated host
  // this machine plays (under its own name or empty, too).
  SimulatedHostEnv(hostrt::Env* target, std::string world, std::string localName);
  ~SimulatedHostEnv() override;

  hostrt::HostSystem* System() override;
  // "symsim:" paths are answered by the world; other paths go to the target.
  bool OpenScsiDevice(const std::string& path,
                      std::unique_ptr<hostrt::ScsiDevice>* device,
                      std::string* error) override;

 private:
  std::string world_;
  std::string localName_;
  std::mutex mu_;
  std::unique_ptr<hostrt::HostSystem> system_;
};

// The simulated host that `base`'s settings name ([Host] simulatedHost, with
// the world in [EventManager] SYMAPI_HOME_DIR), wrapping `base`; null when
// they name none. A named host without a world is an error.
std::unique_ptr<hostrt::Env> SimulatedHostFromSettings(hostrt::Env* base,
                                                       std::string* error);

}  // namespace symsim
