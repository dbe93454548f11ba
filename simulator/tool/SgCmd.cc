// symsg: storage groups (list, show, addall, rmall).
// The XML listing follows the published "symsg list -v" XML sample; the
// text listing and detail follow the documented command output and are
// unconfirmed, as are the messages (docs/simulator-outputs.md).
#include <algorithm>
#include <cstdio>
#include <set>

#include "simulator/state/DevNum.h"
#include "simulator/state/Topology.h"
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {

constexpr size_t kNameWidth = 40;
constexpr size_t kNumWidth = 7;
constexpr int64_t kKbPerCylinder = 15 * 128;  // 15 tracks of 128 KB
constexpr int64_t kKbPerMb = 1024;
constexpr int kChildGroupsMajor = 9, kChildGroupsMinor = 2;

struct Group {
  std::string name;
  std::vector<int64_t> devs;  // own devices
  std::vector<std::string> children, parents;
  int64_t views = 0;
  int64_t created = 0;
};

std::vector<std::string> GroupNames(StateDb* db, const std::string& serial) {
  Stmt s(db->handle(), "SELECT name FROM sgs WHERE serial=? ORDER BY name");
  s.Bind(1, serial);
  std::vector<std::string> out;
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

bool LoadGroup(StateDb* db, const std::string& serial, const std::string& name, Group* g) {
  Stmt s(db->handle(), "SELECT created FROM sgs WHERE serial=? AND name=?");
  s.Bind(1, serial).Bind(2, name);
  if (!s.Step()) return false;
  g->name = name;
  g->created = s.Int(0);
  Stmt d(db->handle(), "SELECT dev FROM sg_devices WHERE serial=? AND sg=? ORDER BY dev");
  d.Bind(1, serial).Bind(2, name);
  while (d.Step()) g->devs.push_back(d.Int(0));
  g->children = ChildGroups(db, serial, name);
  g->parents = ParentGroups(db, serial, name);
  Stmt v(db->handle(), "SELECT COUNT(*) FROM views WHERE serial=? AND sg=?");
  v.Bind(1, serial).Bind(2, name);
  g->views = v.Step() ? v.Int(0) : 0;
  return true;
}

int64_t DeviceCount(StateDb* db, const std::string& serial, const Group& g) {
  return static_cast<int64_t>(g.children.empty() ? g.devs.size()
                                                 : GroupDevices(db, serial, g.name).size());
}

// Cascade (P parent, C child, .), FAST, Masking view, SLO, Limits.
std::string Flags(const Group& g) {
  std::string f = ".....";
  f[0] = !g.children.empty() ? 'P' : (!g.parents.empty() ? 'C' : '.');
  f[2] = g.views > 0 ? 'X' : '.';
  return f;
}

bool ChildGroupsForm(StateDb* db) {
  int major = 0, minor = 0;
  std::sscanf(db->Setting(kSetSeVersion, kDefaultSeVersion).c_str(), "%d.%d", &major, &minor);
  return major > kChildGroupsMajor || (major == kChildGroupsMajor && minor >= kChildGroupsMinor);
}

int List(Invocation* inv, const ArrayInfo& array) {
  std::string& o = inv->out;
  o += "\n\n                        S T O R A G E   G R O U P S\n\n";
  o += "Symmetrix ID: " + array.serial + "\n\n";
  o += Pad("", kNameWidth) + Pad("Num of", kNumWidth + 1) + "Flags  Num of  Num of\n";
  o += Pad("Storage Group Name", kNameWidth) + Pad("Devs", kNumWidth + 1) + "CFMSL  GKs     MVs\n";
  o += std::string(kNameWidth - 1, '-') + " " + std::string(kNumWidth, '-') + " ----- ------ ------\n";
  for (const std::string& name : GroupNames(inv->db, array.serial)) {
    Group g;
    LoadGroup(inv->db, array.serial, name, &g);
    o += Pad(name, kNameWidth) + PadLeft(std::to_string(DeviceCount(inv->db, array.serial, g)), kNumWidth) +
         " " + Flags(g) + PadLeft("0", 7) + PadLeft(std::to_string(g.views), 7) + "\n";
  }
  o += "\nLegend:\n"
       "  Flags:\n"
       "   (C)ascade   : P = Parent SG, C = Child SG, . = Not cascaded\n"
       "   (F)AST      : X = FAST managed, . = Not FAST managed\n"
       "   (M)asking   : X = In a masking view, . = Not in a masking view\n"
       "   (S)ervice   : X = Service Level set, . = No Service Level\n"
       "   (L)imits    : X = Host I/O limits, . = No Host I/O limits\n\n";
  return kExitOk;
}

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

std::string Fixed(double value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  return buf;
}
std::string Gigabytes(int64_t mb) { return Fixed(static_cast<double>(mb) / kKbPerMb, 1); }
std::string Terabytes(int64_t mb) {
  return Fixed(static_cast<double>(mb) / kKbPerMb / kKbPerMb, 2);
}

int ListXml(Invocation* inv, const ArrayInfo& array) {
  std::string& o = inv->out;
  o += "<?xml version=\"1.0\" standalone=\"yes\" ?>\n<SymCLI_ML>\n";
  Stmt cyl(inv->db->handle(), "SELECT cylinders FROM devices WHERE serial=? AND dev=?");
  for (const std::string& name : GroupNames(inv->db, array.serial)) {
    Group g;
    LoadGroup(inv->db, array.serial, name, &g);
    o += "  <SG>\n    <SG_Info>\n";
    o += "      <name>" + Xml(name) + "</name>\n";
    o += "      <symid>" + array.serial + "</symid>\n";
    o += "      <update_time>" + Timestamp(g.created) + "</update_time>\n";
    o += "      <emulation>FBA</emulation>\n";
    o += std::string("      <Masking_views>") + (g.views ? "Yes" : "No") + "</Masking_views>\n";
    o += "      <FAST_Policy>N/A</FAST_Policy>\n      <FAST_Managed>No</FAST_Managed>\n"
         "      <SLO_name>none</SLO_name>\n      <Workload>none</Workload>\n"
         "      <SRP_name>none</SRP_name>\n      <Compression>No</Compression>\n"
         "      <vp_saved_percent>N/A</vp_saved_percent>\n"
         "      <compression_ratio>N/A</compression_ratio>\n"
         "      <Num_of_GKS>0</Num_of_GKS>\n"
         "      <HostIOLimit_status>None</HostIOLimit_status>\n"
         "      <HostIOLimit_max_mb_sec>N/A</HostIOLimit_max_mb_sec>\n"
         "      <HostIOLimit_max_io_sec>N/A</HostIOLimit_max_io_sec>\n"
         "      <Dynamic_Distribution>N/A</Dynamic_Distribution>\n";
    const std::vector<std::string>& related = g.children.empty() ? g.parents : g.children;
    o += "      <SG_group_info>\n        <count>" + std::to_string(related.size()) + "</count>\n";
    for (const std::string& r : related) {
      o += "        <SG>\n          <name>" + Xml(r) + "</name>\n          <Cascade_Status>" +
           (g.children.empty() ? "IsParent" : "IsChild") + "</Cascade_Status>\n        </SG>\n";
    }
    o += "      </SG_group_info>\n    </SG_Info>\n";
    o += "    <DG_Info>\n      <count>0</count>\n    </DG_Info>\n"
         "    <CG_Info>\n      <count>0</count>\n    </CG_Info>\n"
         "    <Policy_Info>\n      <policy_count>0</policy_count>\n    </Policy_Info>\n";
    o += "    <DEVS_List>\n";
    for (int64_t d : GroupDevices(inv->db, array.serial, name)) {
      cyl.Reset();
      cyl.Bind(1, array.serial).Bind(2, d);
      int64_t mb = cyl.Step() ? cyl.Int(0) * kKbPerCylinder / kKbPerMb : 0;
      o += "      <Device>\n        <dev_name>" + FormatDev(d) + "</dev_name>\n"
           "        <pd_name>Not Visible</pd_name>\n        <configuration>TDEV</configuration>\n"
           "        <gatekeeper>False</gatekeeper>\n        <status>RW</status>\n"
           "        <megabytes>" + std::to_string(mb) + "</megabytes>\n"
           "        <gigabytes>" + Gigabytes(mb) + "</gigabytes>\n"
           "        <terabytes>" + Terabytes(mb) + "</terabytes>\n      </Device>\n";
    }
    o += "    </DEVS_List>\n  </SG>\n";
  }
  o += "</SymCLI_ML>\n";
  return kExitOk;
}

void ShowGroup(Invocation* inv, const ArrayInfo& array, const Group& g) {
  std::string& o = inv->out;
  bool childForm = ChildGroupsForm(inv->db);
  std::set<int64_t> devs = GroupDevices(inv->db, array.serial, g.name);
  auto item = [&](const std::string& key, const std::string& value) {
    o += "    " + Pad(key, 29) + ": " + value + "\n";
  };
  o += "\n\nName: " + g.name + "\n\n";
  item("Symmetrix ID", array.serial);
  item("Last updated at", Timestamp(g.created));
  item("Masking Views", g.views ? "Yes" : "No");
  item("FAST Managed", "No");
  item("Service Level Name", "Optimized");
  item("Workload", "N/A");
  item("Storage Resource Pool Name", "SRP_1");
  item("Host I/O Limit", "None");
  if (!childForm) {
    const std::vector<std::string>& related = g.children.empty() ? g.parents : g.children;
    const char* mark = g.children.empty() ? "(IsParent)" : "(IsChild)";
    item("Number of Storage Groups", std::to_string(related.size()));
    if (related.empty()) {
      item("Storage Group Names", "N/A");
    } else {
      for (size_t i = 0; i < related.size(); ++i) {
        std::string line = Pad(related[i], 26) + mark;
        if (i == 0) item("Storage Group Names", line);
        else o += std::string(4 + 29 + 2, ' ') + line + "\n";
      }
    }
  }
  item("Number of Composite Groups", "0");
  item("Composite Group Names", "N/A");
  o += "\n";
  item("Number of Gatekeepers", "0");
  item("Number of Devices", std::to_string(devs.size()));
  o += "    Devices (" + std::to_string(devs.size()) + "):\n        {\n";
  // As wide as the columns below: device 6, name 28, config 8, status 4
  // and the capacity 6.
  const std::string ruler = "        " + std::string(52, '-') + "\n";
  o += ruler;
  o += "        Sym                               Device        Cap\n";
  o += "        Dev   Pdev Name                   Config  Sts   (MB)\n";
  o += ruler;
  Stmt cyl(inv->db->handle(), "SELECT cylinders, thin FROM devices WHERE serial=? AND dev=?");
  for (int64_t d : devs) {
    cyl.Reset();
    cyl.Bind(1, array.serial).Bind(2, d);
    int64_t mb = 0;
    bool thin = true;
    if (cyl.Step()) {
      mb = cyl.Int(0) * kKbPerCylinder / kKbPerMb;
      thin = cyl.Int(1) != 0;
    }
    o += "        " + Pad(FormatDev(d), 6) + Pad("N/A", 28) + Pad(thin ? "TDEV" : "RAID-5", 8) +
         Pad("RW", 4) + PadLeft(std::to_string(mb), 6) + "\n";
  }
  o += "        }\n";
  if (childForm && !g.children.empty()) {
    o += "\n    Child Storage Groups (" + std::to_string(g.children.size()) + "):\n        {\n";
    o += "        " + std::string(32, '-') + "\n        Storage Group Name\n";
    o += "        " + std::string(32, '-') + "\n";
    for (const std::string& c : g.children) o += "        " + c + "\n";
    o += "        }\n";
  }
  if (childForm && !g.parents.empty()) {
    o += "\n    Parent Storage Groups (" + std::to_string(g.parents.size()) + "):\n        {\n";
    for (const std::string& p : g.parents) o += "        " + p + "\n";
    o += "        }\n";
  }
  o += "\n";
}

// addall / rmall with the devices of the -file device file.
int ChangeMembers(Invocation* inv, const ArrayInfo& array, bool add) {
  const std::string sg = inv->args.Get("-sg");
  if (sg.empty()) return inv->Fail("A storage group (-sg) must be specified", kExitUsage);
  if (!inv->args.Has("-file")) return inv->Fail("A device file (-file) must be specified", kExitUsage);
  Group g;
  if (!LoadGroup(inv->db, array.serial, sg, &g)) {
    return inv->Fail("The specified Storage Group (" + sg + ") was not found");
  }
  std::vector<std::vector<std::string>> lines;
  int code = kExitOk;
  if (!DeviceFileLines(inv, &lines, &code)) return code;
  if (!g.children.empty()) {
    return inv->Fail("Individual devices cannot be added to or removed from a Storage Group "
                     "that contains child Storage Groups");
  }
  std::vector<int64_t> devs;
  for (const auto& row : lines) {
    int64_t dev = ParseDev(row[0]);
    if (dev < 0) return inv->Fail("Invalid Symmetrix device name in the device file: " + row[0]);
    if (!DeviceExists(inv->db, array.serial, dev)) {
      return inv->Fail("Symmetrix device " + FormatDev(dev) + " was not found on the Symmetrix");
    }
    devs.push_back(dev);
  }
  std::set<int64_t> members(g.devs.begin(), g.devs.end());
  for (int64_t dev : devs) {
    if (add && members.count(dev)) {
      return inv->Fail("The device is already a member of the storage group: " + FormatDev(dev));
    }
    if (!add && !members.count(dev)) {
      return inv->Fail("Device " + FormatDev(dev) + " was not found in Storage Group " + sg);
    }
  }
  Stmt s(inv->db->handle(), add ? "INSERT OR IGNORE INTO sg_devices(serial, sg, dev) VALUES(?,?,?)"
                                : "DELETE FROM sg_devices WHERE serial=? AND sg=? AND dev=?");
  for (int64_t dev : devs) {
    s.Reset();
    s.Bind(1, array.serial).Bind(2, sg).Bind(3, dev).Run();
  }
  std::string verb = add ? "Add all devices in device file" : "Remove all devices in device file";
  inv->out += "\n" + verb + " '" + inv->args.Get("-file") + "' " + (add ? "to" : "from") +
              " Storage Group '" + sg + "'...Done.\n\n";
  return kExitOk;
}

}  // namespace

const ArgSpec& SgSpec() {
  static const ArgSpec spec{{"-sid", "-file", "-sg", "-output", "-type"},
                            {"-noprompt", "-v", "-i", "-symforce", "-force"}};
  return spec;
}

int RunSg(Invocation* inv) {
  ArrayInfo array;
  int code = kExitOk;
  if (!ResolveArray(inv, &array, &code)) return code;
  const std::vector<std::string>& w = inv->args.words();
  if (w.empty()) return inv->Fail("An action (list, show, addall, rmall) must be specified", kExitUsage);
  if (w[0] == "list" && w.size() == 1) {
    if (inv->args.Get("-output") == "xml" || inv->args.Get("-output") == "xml_e") {
      return ListXml(inv, array);
    }
    if (!inv->args.Get("-output").empty()) return inv->Fail("Unsupported output format", kExitUsage);
    if (inv->args.Has("-v")) {
      for (const std::string& name : GroupNames(inv->db, array.serial)) {
        Group g;
        LoadGroup(inv->db, array.serial, name, &g);
        ShowGroup(inv, array, g);
      }
      return kExitOk;
    }
    return List(inv, array);
  }
  if (w[0] == "show" && w.size() == 2) {
    Group g;
    if (!LoadGroup(inv->db, array.serial, w[1], &g)) {
      return inv->Fail("The specified Storage Group (" + w[1] + ") was not found");
    }
    ShowGroup(inv, array, g);
    return kExitOk;
  }
  if (w[0] == "addall" && w.size() == 1) return ChangeMembers(inv, array, true);
  if (w[0] == "rmall" && w.size() == 1) return ChangeMembers(inv, array, false);
  return inv->Fail("Unknown or incomplete action: " + inv->args.Action(), kExitUsage);
}

}  // namespace symsim
