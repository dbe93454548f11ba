// symdev: device listings (VMAX3/PowerMax layout: five-digit devices, no DA
// column) and the properties of one device.
#include <cctype>
#include <map>
#include <set>

#include "simulator/scsi/Inquiry.h"
#include "simulator/state/DevNum.h"
#include "simulator/state/Topology.h"
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {

constexpr int64_t kKbPerCylinder = 15 * 128;  // 15 tracks of 128 KB
constexpr int64_t kKbPerMb = 1024;
const char kNoDevices[] = "No Symmetrix devices were found that match the specified criteria";

struct DevRow {
  int64_t dev;
  int64_t cylinders;
  bool thin;
};

std::string PortColumn(const std::map<int64_t, std::set<std::string>>& ports, int64_t dev) {
  auto it = ports.find(dev);
  if (it == ports.end() || it->second.empty()) return "???:???";
  if (it->second.size() > 1) return "***:***";
  return *it->second.begin();
}

bool SelectDevices(Invocation* inv, const ArrayInfo& array, std::vector<DevRow>* rows, int* code) {
  std::set<int64_t> wanted;
  bool filter = false;
  std::string error;
  if (inv->args.Has("-sg")) {
    std::string sg = inv->args.Get("-sg");
    Stmt s(inv->db->handle(), "SELECT 1 FROM sgs WHERE serial=? AND name=?");
    s.Bind(1, array.serial).Bind(2, sg);
    if (!s.Step()) {
      *code = inv->Fail("The specified Storage Group (" + sg + ") was not found");
      return false;
    }
    wanted = GroupDevices(inv->db, array.serial, sg);
    filter = true;
  }
  for (const char* opt : {"-devs", "-range"}) {
    if (!inv->args.Has(opt)) continue;
    std::vector<int64_t> devs;
    if (!ParseDevList(inv->args.Get(opt), &devs, &error)) {
      *code = inv->Fail(error);
      return false;
    }
    std::set<int64_t> these;
    for (int64_t d : devs) {
      if (std::string(opt) == "-devs" && !DeviceExists(inv->db, array.serial, d)) {
        *code = inv->Fail("Symmetrix device " + FormatDev(d) + " was not found on the Symmetrix");
        return false;
      }
      if (!filter || wanted.count(d)) these.insert(d);
    }
    wanted = these;
    filter = true;
  }
  std::set<int64_t> mapped;
  bool noport = inv->args.Has("-noport");
  if (noport) mapped = MappedDevices(inv->db, array.serial);
  Stmt s(inv->db->handle(), "SELECT dev, cylinders, thin FROM devices WHERE serial=? ORDER BY dev");
  s.Bind(1, array.serial);
  while (s.Step()) {
    DevRow r{s.Int(0), s.Int(1), s.Int(2) != 0};
    if (filter && !wanted.count(r.dev)) continue;
    if (inv->args.Has("-tdev") && !r.thin) continue;
    if (noport && mapped.count(r.dev)) continue;
    rows->push_back(r);
  }
  if (rows->empty()) {
    *code = inv->Fail(kNoDevices);
    return false;
  }
  return true;
}

int List(Invocation* inv, const ArrayInfo& array) {
  std::vector<DevRow> rows;
  int code = kExitOk;
  if (!SelectDevices(inv, array, &rows, &code)) return code;
  bool cyl = inv->args.Has("-cyl");
  std::string& o = inv->out;
  o += "\nSymmetrix ID: " + array.serial + "\n\n";
  o += "        Device Name          Directors                  Device\n";
  o += std::string(28, '-') + " " + std::string(7, '-') + " " + std::string(37, '-') + "\n";
  o += std::string(69, ' ') + "Cap\n";
  o += std::string("Sym   Physical               SA :P   Config        Attribute    Sts  ") +
       (cyl ? "(Cyl)" : "(MB)") + "\n";
  o += std::string(28, '-') + " " + std::string(7, '-') + " " + std::string(37, '-') + "\n\n";
  std::map<int64_t, std::set<std::string>> ports = DevicePorts(inv->db, array.serial);
  std::map<int64_t, std::string> physical;
  std::string seHost = inv->db->Setting(kSetSeHost, "");
  if (!seHost.empty()) {
    Stmt p(inv->db->handle(), "SELECT dev, path FROM host_devices WHERE host=? AND serial=?");
    p.Bind(1, seHost).Bind(2, array.serial);
    while (p.Step()) physical[p.Int(0)] = p.Text(1);
  }
  for (const DevRow& r : rows) {
    int64_t cap = cyl ? r.cylinders : r.cylinders * kKbPerCylinder / kKbPerMb;
    auto seen = physical.find(r.dev);
    o += Pad(FormatDev(r.dev), 6) + Pad(seen == physical.end() ? "Not Visible" : seen->second, 23) + Pad(PortColumn(ports, r.dev), 8) +
         Pad(r.thin ? "TDEV" : "RAID-5", 14) + Pad("N/Grp'd", 13) + "RW " +
         PadLeft(std::to_string(cap), 8) + "\n";
  }
  o += "\n";
  return kExitOk;
}

int Show(Invocation* inv, const ArrayInfo& array, const std::string& name) {
  int64_t dev = ParseDev(name);
  if (dev < 0 || !DeviceExists(inv->db, array.serial, dev)) {
    return inv->Fail("Symmetrix device " + name + " was not found on the Symmetrix");
  }
  Stmt s(inv->db->handle(), "SELECT cylinders, thin FROM devices WHERE serial=? AND dev=?");
  s.Bind(1, array.serial).Bind(2, dev);
  s.Step();
  auto item = [&](const std::string& key, const std::string& value) {
    inv->out += "    " + Pad(key, 30) + ": " + value + "\n";
  };
  inv->out += "\n";
  item("Device Physical Name", "Not Visible");
  item("Device Symmetrix Name", FormatDev(dev));
  item("Device Serial ID", "N/A");
  item("Symmetrix ID", array.serial);
  item("Device Configuration", s.Int(1) ? "TDEV" : "RAID-5");
  item("Device WWN", [&] {
    std::string hex = HexBytes(NaaDesignator(array.serial, dev));
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
  }());
  item("Device Capacity", "");
  item("    Cylinders", std::to_string(s.Int(0)));
  item("    MegaBytes", std::to_string(s.Int(0) * kKbPerCylinder / kKbPerMb));
  inv->out += "\n";
  return kExitOk;
}

}  // namespace

const ArgSpec& DevSpec() {
  static const ArgSpec spec{{"-sid", "-sg", "-devs", "-range", "-output"},
                            {"-tdev", "-noport", "-cyl", "-v", "-noprompt"}};
  return spec;
}

int RunDev(Invocation* inv) {
  ArrayInfo array;
  int code = kExitOk;
  if (!ResolveArray(inv, &array, &code)) return code;
  const std::vector<std::string>& w = inv->args.words();
  if (w.size() == 1 && w[0] == "list") return List(inv, array);
  if (w.size() == 2 && w[0] == "show") return Show(inv, array, w[1]);
  return inv->Fail("Unknown or incomplete action: " + inv->args.Action(), kExitUsage);
}

}  // namespace symsim
