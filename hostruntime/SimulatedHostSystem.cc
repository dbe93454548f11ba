// A host of the array simulator's world: initiators, devices, rescans and
// the host type come from the simulator's host view.
#include "hostruntime/LinuxHostSystem.h"

#ifdef PZ_HAVE_SIMULATOR
#include "simulator/hostview/HostView.h"
#endif

namespace hostrt {

#ifdef PZ_HAVE_SIMULATOR
namespace {

constexpr const char* kHostTypeVmware = "vmware";
constexpr const char* kHostTypeLinux = "linux";

class SimulatedHostSystem : public HostSystem {
 public:
  SimulatedHostSystem(std::string world, std::string localName,
                      std::string machineName)
      : world_(std::move(world)),
        localName_(std::move(localName)),
        machineName_(std::move(machineName)) {}

  bool Initiators(const std::string& host, std::vector<Initiator>* out,
                  std::string* error) override {
    std::unique_ptr<symsim::HostView> view = Open(error);
    std::vector<symsim::SimInitiator> found;
    if (!view || !view->Initiators(Name(host), &found, error)) return false;
    out->clear();
    for (const symsim::SimInitiator& i : found)
      out->push_back({i.name, i.type == kInitiatorISCSI ? kInitiatorISCSI : kInitiatorFC});
    return true;
  }

  // An ESX host lists its devices as name-value entries with their inquiry
  // data; other hosts list device paths.
  bool Devices(const std::string& host, const std::string& /*vendor*/,
               std::vector<std::string>* paths, std::string* error) override {
    std::unique_ptr<symsim::HostView> view = Open(error);
    if (!view) return false;
    bool esx = false;
    if (!view->IsEsx(Name(host), &esx, error)) return false;
    return esx ? view->EsxDeviceEntries(Name(host), paths, error)
               : view->Devices(Name(host), paths, error);
  }

  bool Rescan(const std::string& host, const std::vector<std::string>& removePaths,
              std::string* error) override {
    std::unique_ptr<symsim::HostView> view = Open(error);
    return view && view->Rescan(Name(host), removePaths, error);
  }

  std::string HostType(const std::string& host) override {
    std::string error;
    std::unique_ptr<symsim::HostView> view = Open(&error);
    bool esx = false;
    if (view && view->IsEsx(Name(host), &esx, &error) && esx) return kHostTypeVmware;
    return kHostTypeLinux;
  }

 private:
  // This machine under either of its names is the simulated host it plays.
  std::string Name(const std::string& host) const {
    return host.empty() || host == machineName_ ? localName_ : host;
  }
  // Opened per call: the simulator's tools change the state in between.
  std::unique_ptr<symsim::HostView> Open(std::string* error) {
    std::string text;
    std::unique_ptr<symsim::HostView> view = symsim::HostView::Open(world_, &text);
    if (!view && error) *error = "simulated world " + world_ + ": " + text;
    return view;
  }

  std::string world_;
  std::string localName_;
  std::string machineName_;
};

}  // namespace

std::unique_ptr<HostSystem> NewSimulatedHostSystem(const std::string& world,
                                                   const std::string& localName,
                                                   const std::string& machineName) {
  if (world.empty() || localName.empty()) return nullptr;
  return std::unique_ptr<HostSystem>(
      new SimulatedHostSystem(world, localName, machineName));
}

#else

std::unique_ptr<HostSystem> NewSimulatedHostSystem(const std::string&,
                                                   const std::string&,
                                                   const std::string&) {
  return nullptr;
}

#endif

}  // namespace hostrt
