// A simulated host's side of the simulated world: its initiators, the array
// devices it saw at its last rescan, and the SCSI data those devices return.
// Reads the world's state file directly; never runs the tools.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace symsim {

class StateDb;

struct SimInitiator {
  std::string name;  // FC: 16 hex digits, no colons; iSCSI: the iqn
  int type;          // 0 FC, 1 iSCSI
};

constexpr int kSimInitiatorFc = 0;
constexpr int kSimInitiatorIscsi = 1;

class HostView {
 public:
  // stateDir: the simulated world's directory (what SYMAPI_HOME_DIR names;
  // tools in stateDir/bin).
  static std::unique_ptr<HostView> Open(const std::string& stateDir,
                                        std::string* error);
  ~HostView();

  static bool IsSimulatedPath(const std::string& path);  // "symsim:..."
  bool IsEsx(const std::string& host, bool* esx, std::string* error);
  bool Initiators(const std::string& host, std::vector<SimInitiator>* out,
                  std::string* error);
  // Paths the host saw at its last rescan ("symsim:<host>:<name>", stable
  // per host and device).
  bool Devices(const std::string& host, std::vector<std::string>* paths,
               std::string* error);
  // ESX hosts: one entry per visible device,
  // "{idatype:vmware,standardinqury:<hex>,lunuuid:<uuid>,path:<path>}".
  bool EsxDeviceEntries(const std::string& host,
                        std::vector<std::string>* entries, std::string* error);
  // Removes `removePaths` from the host's view, then recomputes what it sees
  // through the masking views of its initiators.
  bool Rescan(const std::string& host,
              const std::vector<std::string>& removePaths, std::string* error);
  // INQUIRY of a simulated path (standard data, or page 0x83 with evpd).
  // False for an unknown path or a device no longer visible.
  bool Inquiry(const std::string& path, bool evpd, uint8_t page,
               std::vector<uint8_t>* data, std::string* error);

 private:
  explicit HostView(std::unique_ptr<StateDb> db);
  bool HostExists(const std::string& host, std::string* error);
  std::unique_ptr<StateDb> db_;
  // The state file the connection reads, to give it back to the pool of
  // idle connections (empty: not given back).
  std::string stateDir_;
  struct {
    uint64_t device = 0, inode = 0;
  } file_;
};

enum class InquiryMode;

// The setting key of one device's INQUIRY mode, and the mode a device
// answers with: its own, else the world's, else the long layout.
std::string DeviceInquiryModeKey(const std::string& serial, int64_t dev);
InquiryMode DeviceInquiryMode(StateDb* db, const std::string& serial, int64_t dev);

// The stable path of an array device on a simulated host.
std::string SimulatedPath(const std::string& host, const std::string& serial,
                          int64_t dev);

}  // namespace symsim
