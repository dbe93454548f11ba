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
const char kNotVisible[] = "Not Visible";

// Column widths of the listing (without the blank between columns).
constexpr size_t kDevWidth = 5;
constexpr size_t kPhysicalWidth = 22;
constexpr size_t kPortWidth = 7;        // "01D:004", "???:???"
constexpr size_t kConfigWidth = 14;     // with its trailing blanks
constexpr size_t kAttributeWidth = 13;  // with its trailing blanks
constexpr size_t kStatusCapWidth = 10;  // "RW" and the right-aligned capacity

std::string Rule(size_t width) { return std::string(width, '-'); }

// `text` centred in `width` columns (the extra blank on the right).
std::string Centred(const std::string& text, size_t width) {
  if (text.size() >= width) return text;
  size_t left = (width - text.size()) / 2;
  return std::string(left, ' ') + text + std::string(width - text.size() - left, ' ');
}

// A host device path in the 22-character Physical column: one word, never
// wider than the column. A longer path keeps its end (the device part),
// marked by a leading "..."; how the real tool shortens a long name is
// unconfirmed.
std::string PhysicalName(const std::string& path) {
  static const std::string kCut = "...";
  std::string name = path;
  for (char& c : name) {
    if (c == ' ') c = '_';
  }
  if (name.size() <= kPhysicalWidth) return name;
  return kCut + name.substr(name.size() - (kPhysicalWidth - kCut.size()));
}

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
  // The layout of the published listings (title words centred over their
  // rulers, each column starting where its title starts, the capacity
  // right-aligned to the ruler's end) with the VMAX3/PowerMax columns: five
  // device digits and one director column (no DA), whose 7-wide ruler takes
  // "Dir" as its title where the older arrays' 13-wide one reads "Directors"
  // (the newer arrays' title is unconfirmed by a published sample).
  const std::string name = Rule(kDevWidth + 1 + kPhysicalWidth);
  const std::string dir = Rule(kPortWidth);
  const std::string device = Rule(kConfigWidth + kAttributeWidth + kStatusCapWidth);
  const std::string ruler = name + " " + dir + " " + device + "\n";
  const std::string capTitle = cyl ? "(Cyl)" : "(MB)";
  o += "\nSymmetrix ID: " + array.serial + "\n\n";
  o += Centred("Device Name", name.size()) + " " + Centred("Dir", dir.size()) + " " +
       Centred("Device", device.size());
  while (!o.empty() && o.back() == ' ') o.pop_back();
  o += "\n" + ruler;
  o += std::string(ruler.size() - 1 - capTitle.size(), ' ') + "Cap\n";
  o += Pad("Sym", kDevWidth + 1) + Pad("Physical", kPhysicalWidth + 1) + Pad("SA :P", kPortWidth + 1) +
       Pad("Config", kConfigWidth) + Pad("Attribute", kAttributeWidth) +
       Pad("Sts", kStatusCapWidth - capTitle.size()) + capTitle + "\n";
  o += ruler + "\n";
  std::map<int64_t, std::set<std::string>> ports = DevicePorts(inv->db, array.serial);
  std::map<int64_t, std::string> physical;
  std::string seHost = inv->db->Setting(kSetSeHost, "");
  if (!seHost.empty()) {
    Stmt p(inv->db->handle(), "SELECT dev, path FROM host_devices WHERE host=? AND serial=?");
    p.Bind(1, seHost).Bind(2, array.serial);
    while (p.Step()) physical[p.Int(0)] = PhysicalName(p.Text(1));
  }
  for (const DevRow& r : rows) {
    int64_t cap = cyl ? r.cylinders : r.cylinders * kKbPerCylinder / kKbPerMb;
    auto seen = physical.find(r.dev);
    o += Pad(FormatDev(r.dev), kDevWidth + 1) +
         Pad(seen == physical.end() ? kNotVisible : seen->second, kPhysicalWidth + 1) +
         Pad(PortColumn(ports, r.dev), kPortWidth + 1) + Pad(r.thin ? "TDEV" : "RAID-5", kConfigWidth) +
         Pad("N/Grp'd", kAttributeWidth) + "RW" +
         PadLeft(std::to_string(cap), kStatusCapWidth - 2) + "\n";
  }
  o += "\n";
  return kExitOk;
}

// The detail of one device: only its "Device WWN" line has a published
// counterpart; the other items are unconfirmed.
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
