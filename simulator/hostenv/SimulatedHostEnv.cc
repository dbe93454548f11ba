#include "simulator/hostenv/SimulatedHostEnv.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "hostruntime/ScsiPassThrough.h"
#include "simulator/hostview/HostView.h"

namespace symsim {

namespace {

constexpr const char* kHostTypeVmware = "vmware";
constexpr const char* kHostTypeLinux = "linux";
constexpr const char* kHostSection = "Host";
constexpr const char* kSimulatedHostKey = "simulatedHost";
constexpr const char* kWorldSection = "EventManager";
constexpr const char* kWorldKey = "SYMAPI_HOME_DIR";

// Opened per call: the simulator's tools change the state in between.
std::unique_ptr<HostView> OpenView(const std::string& world, std::string* error) {
  std::string text;
  std::unique_ptr<HostView> view = HostView::Open(world, &text);
  if (!view && error) *error = "simulated world " + world + ": " + text;
  return view;
}

class SimulatedHostSystem : public hostrt::HostSystem {
 public:
  SimulatedHostSystem(std::string world, std::string localName,
                      std::string machineName)
      : world_(std::move(world)),
        localName_(std::move(localName)),
        machineName_(std::move(machineName)) {}

  bool Initiators(const std::string& host, std::vector<hostrt::Initiator>* out,
                  std::string* error) override {
    std::unique_ptr<HostView> view = OpenView(world_, error);
    std::vector<SimInitiator> found;
    if (!view || !view->Initiators(Name(host), &found, error)) return false;
    out->clear();
    for (const SimInitiator& i : found)
      out->push_back({i.name, i.type == kSimInitiatorIscsi ? hostrt::kInitiatorISCSI
                                                           : hostrt::kInitiatorFC});
    return true;
  }

  // An ESX host lists its devices as name-value entries with their inquiry
  // data; other hosts list device paths.
  bool Devices(const std::string& host, const std::string& /*vendor*/,
               std::vector<std::string>* paths, std::string* error) override {
    std::unique_ptr<HostView> view = OpenView(world_, error);
    if (!view) return false;
    bool esx = false;
    if (!view->IsEsx(Name(host), &esx, error)) return false;
    return esx ? view->EsxDeviceEntries(Name(host), paths, error)
               : view->Devices(Name(host), paths, error);
  }

  bool Rescan(const std::string& host, const std::vector<std::string>& removePaths,
              std::string* error) override {
    std::unique_ptr<HostView> view = OpenView(world_, error);
    return view && view->Rescan(Name(host), removePaths, error);
  }

  std::string HostType(const std::string& host) override {
    std::string error;
    std::unique_ptr<HostView> view = OpenView(world_, &error);
    bool esx = false;
    if (view && view->IsEsx(Name(host), &esx, &error) && esx) return kHostTypeVmware;
    return kHostTypeLinux;
  }

  // A simulated ESX host is known by its name in the world.
  std::string VmHostId(const std::string& host) override { return Name(host); }

 private:
  // This machine under either of its names is the simulated host it plays.
  std::string Name(const std::string& host) const {
    return host.empty() || host == machineName_ ? localName_ : host;
  }

  std::string world_;
  std::string localName_;
  std::string machineName_;
};

// INQUIRY of a simulated device, answered from the simulator's state.
class SimulatedScsiDevice : public hostrt::ScsiDevice {
 public:
  SimulatedScsiDevice(std::string path, std::unique_ptr<HostView> view)
      : path_(std::move(path)), view_(std::move(view)) {}

  int SendCdb(const uint8_t* cdb, size_t cdbLength, uint8_t* buffer,
              size_t bufferSize, int /*direction*/, int /*timeoutSecs*/,
              std::string* error) override {
    using namespace hostrt;
    if (!cdb || cdbLength < kInquiryCdbLength || cdb[kCdbOpcode] != kScsiOpInquiry ||
        (!buffer && bufferSize)) {
      if (error) *error = path_ + ": only INQUIRY is answered for simulated devices";
      return -1;
    }
    bool evpd = (cdb[kCdbInquiryFlags] & kInquiryEvpd) != 0;
    size_t allocation = size_t(cdb[kCdbInquiryLengthHigh]) << 8 | cdb[kCdbInquiryLengthLow];
    std::vector<uint8_t> data;
    std::string text;
    if (!view_->Inquiry(path_, evpd, cdb[kCdbInquiryPage], &data, &text)) {
      if (error) *error = path_ + ": " + (text.empty() ? "no such device" : text);
      return -1;
    }
    size_t n = std::min({data.size(), bufferSize, allocation});
    if (n) memcpy(buffer, data.data(), n);
    return int(n);
  }

 private:
  std::string path_;
  std::unique_ptr<HostView> view_;
};

}  // namespace

SimulatedHostEnv::SimulatedHostEnv(hostrt::Env* target, std::string world,
                                   std::string localName)
    : hostrt::EnvWrapper(target),
      world_(std::move(world)),
      localName_(std::move(localName)) {}

SimulatedHostEnv::~SimulatedHostEnv() = default;

hostrt::HostSystem* SimulatedHostEnv::System() {
  std::lock_guard<std::mutex> lock(mu_);
  // The name this machine answers to (the physical-machine setting, else
  // gethostname) is also the simulated host it plays.
  if (!system_) system_.reset(new SimulatedHostSystem(world_, localName_, HostName()));
  return system_.get();
}

bool SimulatedHostEnv::OpenScsiDevice(const std::string& path,
                                      std::unique_ptr<hostrt::ScsiDevice>* device,
                                      std::string* error) {
  if (!HostView::IsSimulatedPath(path))
    return EnvWrapper::OpenScsiDevice(path, device, error);
  std::unique_ptr<HostView> view = OpenView(world_, error);
  if (!view) return false;
  device->reset(new SimulatedScsiDevice(path, std::move(view)));
  return true;
}

std::unique_ptr<hostrt::Env> SimulatedHostFromSettings(hostrt::Env* base,
                                                       std::string* error) {
  std::string host, world;
  if (!base->GetSetting(kHostSection, kSimulatedHostKey, &host) || host.empty())
    return nullptr;
  if (!base->GetSetting(kWorldSection, kWorldKey, &world) || world.empty()) {
    if (error)
      *error = "Simulated host [" + host + "] needs " + kWorldSection + "/" + kWorldKey +
               " naming the simulator's world";
    return nullptr;
  }
  return std::unique_ptr<hostrt::Env>(new SimulatedHostEnv(base, world, host));
}

}  // namespace symsim
