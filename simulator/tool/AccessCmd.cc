// symaccess: masking (storage, initiator and port groups, masking views).
// The view and initiator group listings and the initiator and storage group
// details follow published real samples; the storage and port group name
// lists, the port group detail, the view detail's own keys and device table
// and the messages are unconfirmed (docs/simulator-outputs.md).
#include <set>

#include "simulator/state/DevNum.h"
#include "simulator/state/Topology.h"
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {

constexpr int kFc = 0;
constexpr int64_t kKbPerCylinder = 15 * 128;  // 15 tracks of 128 KB
constexpr int64_t kKbPerMb = 1024;

std::string GroupType(const std::string& raw) {
  if (raw == "storage" || raw == "stor") return "storage";
  if (raw == "initiator" || raw == "init") return "initiator";
  if (raw == "port") return "port";
  return "";
}

std::string IdLine(const ArrayInfo& array) {
  return "Symmetrix ID          : " + array.serial + "\n";
}

std::vector<std::string> Names(StateDb* db, const char* sql, const std::string& serial) {
  Stmt s(db->handle(), sql);
  s.Bind(1, serial);
  std::vector<std::string> out;
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

void NameList(std::string* o, const std::string& title, const std::vector<std::string>& names) {
  *o += title + "\n" + std::string(title.size(), '-') + "\n";
  for (const std::string& n : names) *o += n + "\n";
  *o += "\n";
}

void Brace(std::string* o, const std::string& title, const std::vector<std::string>& items,
           const std::string& indent = "   ") {
  *o += indent + title + "\n     {\n";
  if (items.empty()) *o += "       None\n";
  for (const std::string& i : items) *o += "       " + i + "\n";
  *o += "     }\n";
}

struct Member {
  std::string name;
  int type;
};

std::vector<Member> Initiators(StateDb* db, const std::string& serial, const std::string& ig) {
  Stmt s(db->handle(), "SELECT name, type FROM ig_initiators WHERE serial=? AND ig=? ORDER BY name");
  s.Bind(1, serial).Bind(2, ig);
  std::vector<Member> out;
  while (s.Step()) out.push_back({s.Text(0), static_cast<int>(s.Int(1))});
  return out;
}

std::vector<std::string> ViewsOf(StateDb* db, const std::string& serial, const char* column,
                                 const std::string& group) {
  std::string sql = std::string("SELECT name FROM views WHERE serial=? AND ") + column +
                    "=? ORDER BY name";
  Stmt s(db->handle(), sql.c_str());
  s.Bind(1, serial).Bind(2, group);
  std::vector<std::string> out;
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

int64_t Created(StateDb* db, const char* table, const std::string& serial, const std::string& name) {
  std::string sql = std::string("SELECT created FROM ") + table + " WHERE serial=? AND name=?";
  Stmt s(db->handle(), sql.c_str());
  s.Bind(1, serial).Bind(2, name);
  return s.Step() ? s.Int(0) : -1;
}

void HostInitiators(std::string* o, const std::vector<Member>& members) {
  *o += "   Host Initiators\n     {\n";
  for (const Member& m : members) {
    if (m.type == kFc) {
      *o += "       WWN  : " + m.name + "\n              [alias: " + m.name + "/" + m.name + "]\n";
    } else {
      *o += "       iSCSI : " + m.name + "\n";
    }
  }
  if (members.empty()) *o += "       None\n";
  *o += "     }\n";
}

// The detail of an initiator group, as both show and list -detail print it.
void InitiatorGroupDetail(Invocation* inv, const ArrayInfo& array, const std::string& ig) {
  std::string& o = inv->out;
  int64_t created = Created(inv->db, "igs", array.serial, ig);
  o += "Initiator Group Name    : " + ig + "\n";
  o += "Last update time        : " + UpdateTime(created) + "\n";
  o += "Group last update time  : " + UpdateTime(created) + "\n";
  HostInitiators(&o, Initiators(inv->db, array.serial, ig));
  std::vector<std::string> views = ViewsOf(inv->db, array.serial, "ig", ig);
  Brace(&o, "Masking View Names", views);
  Brace(&o, "Parent Initiator Groups", {});
  o += "\n";
}

std::vector<std::string> GroupsHoldingInitiator(StateDb* db, const std::string& serial,
                                                const std::string& name) {
  std::string want = NormalizeInitiator(name);
  Stmt s(db->handle(), "SELECT ig, name FROM ig_initiators WHERE serial=? ORDER BY ig");
  s.Bind(1, serial);
  std::set<std::string> out;
  while (s.Step()) {
    if (NormalizeInitiator(s.Text(1)) == want) out.insert(s.Text(0));
  }
  return std::vector<std::string>(out.begin(), out.end());
}

int ListInitiators(Invocation* inv, const ArrayInfo& array) {
  std::string who = inv->args.Has("-wwn") ? inv->args.Get("-wwn") : inv->args.Get("-iscsi");
  std::vector<std::string> groups;
  if (who.empty()) {
    groups = Names(inv->db, "SELECT name FROM igs WHERE serial=? ORDER BY name", array.serial);
  } else {
    groups = GroupsHoldingInitiator(inv->db, array.serial, who);
    if (groups.empty()) {
      return inv->Fail("The specified initiator (" + who + ") was not found in any initiator group");
    }
  }
  inv->out += IdLine(array) + "\n";
  if (!inv->args.Has("-detail")) {
    NameList(&inv->out, "Initiator Group Name", groups);
    return kExitOk;
  }
  for (const std::string& ig : groups) InitiatorGroupDetail(inv, array, ig);
  return kExitOk;
}

int ListStorage(Invocation* inv, const ArrayInfo& array) {
  std::vector<std::string> groups;
  if (inv->args.Has("-dev")) {
    int64_t dev = ParseDev(inv->args.Get("-dev"));
    if (dev < 0 || !DeviceExists(inv->db, array.serial, dev)) {
      return inv->Fail("Symmetrix device " + inv->args.Get("-dev") + " was not found on the Symmetrix");
    }
    Stmt s(inv->db->handle(), "SELECT sg FROM sg_devices WHERE serial=? AND dev=? ORDER BY sg");
    s.Bind(1, array.serial).Bind(2, dev);
    std::set<std::string> all;
    while (s.Step()) {
      all.insert(s.Text(0));
      for (const std::string& p : ParentGroups(inv->db, array.serial, s.Text(0))) all.insert(p);
    }
    groups.assign(all.begin(), all.end());
    if (groups.empty()) return inv->Fail("No Storage groups could be found for the specified input");
  } else {
    groups = Names(inv->db, "SELECT name FROM sgs WHERE serial=? ORDER BY name", array.serial);
  }
  inv->out += IdLine(array) + "\n";
  NameList(&inv->out, "Storage Group Name", groups);
  return kExitOk;
}

struct View {
  std::string name, ig, pg, sg;
  int64_t created = 0;
};

std::vector<View> Views(StateDb* db, const std::string& serial) {
  Stmt s(db->handle(), "SELECT name, ig, pg, sg, created FROM views WHERE serial=? ORDER BY name");
  s.Bind(1, serial);
  std::vector<View> out;
  while (s.Step()) out.push_back({s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Int(4)});
  return out;
}

void ViewDetail(Invocation* inv, const ArrayInfo& array, const View& v) {
  std::string& o = inv->out;
  o += "Masking View Name           : " + v.name + "\n";
  o += "Last update time            : " + UpdateTime(v.created) + "\n";
  o += "View last update time       : " + UpdateTime(v.created) + "\n\n";
  o += "Initiator Group Name        : " + v.ig + "\n\n";
  HostInitiators(&o, Initiators(inv->db, array.serial, v.ig));
  o += "\nPort Group Name             : " + v.pg + "\n\n";
  o += "   Director Identification\n     {\n";
  Stmt ports(inv->db->handle(), "SELECT port FROM pg_ports WHERE serial=? AND pg=? ORDER BY port");
  ports.Bind(1, array.serial).Bind(2, v.pg);
  while (ports.Step()) o += "       FA-" + ports.Text(0) + "\n";
  o += "     }\n\n";
  o += "Storage Group Name          : " + v.sg + "\n";
  // The cascade lines follow the group's name, as in the published storage
  // group detail ("Number of Storage Groups", "Storage Group Names").
  std::vector<std::string> children = ChildGroups(inv->db, array.serial, v.sg);
  o += "   Number of Storage Groups : " + std::to_string(children.size()) + "\n";
  if (children.empty()) o += "   Storage Group Names      : None\n";
  for (size_t i = 0; i < children.size(); ++i) {
    o += std::string(i == 0 ? "   Storage Group Names      : " : "                              ") +
         Pad(children[i], 26) + "(IsChild)\n";
  }
  // The device table's layout is unconfirmed by a published sample.
  o += "\nSym                                    Host\n";
  o += "Dev     SA Port           Physical     Lun    Cap(MB)\n";
  o += "------  ---------------  -----------  -----  -------\n";
  std::string firstPort = "N/A";
  ports.Reset();
  ports.Bind(1, array.serial).Bind(2, v.pg);
  if (ports.Step()) firstPort = "FA-" + ports.Text(0);
  int64_t lun = 1;
  Stmt cyl(inv->db->handle(), "SELECT cylinders FROM devices WHERE serial=? AND dev=?");
  for (int64_t dev : GroupDevices(inv->db, array.serial, v.sg)) {
    cyl.Reset();
    cyl.Bind(1, array.serial).Bind(2, dev);
    int64_t mb = cyl.Step() ? cyl.Int(0) * kKbPerCylinder / kKbPerMb : 0;
    o += Pad(FormatDev(dev), 8) + Pad(firstPort, 17) + Pad("Not Visible", 13) +
         PadLeft(std::to_string(lun++), 5) + PadLeft(std::to_string(mb), 9) + "\n";
  }
  o += "\n";
}

int ListViews(Invocation* inv, const ArrayInfo& array) {
  std::vector<View> views = Views(inv->db, array.serial);
  if (inv->args.Has("-name")) {
    std::vector<View> one;
    for (const View& v : views) {
      if (v.name == inv->args.Get("-name")) one.push_back(v);
    }
    if (one.empty()) {
      return inv->Fail("The specified masking view (" + inv->args.Get("-name") + ") was not found");
    }
    views = one;
  }
  std::string& o = inv->out;
  o += IdLine(array) + "\n";
  if (inv->args.Has("-v") || inv->args.Has("-detail")) {
    for (const View& v : views) ViewDetail(inv, array, v);
    return kExitOk;
  }
  o += "Masking View Name   Initiator Group     Port Group          Storage Group\n";
  o += std::string(19, '-') + " " + std::string(19, '-') + " " + std::string(19, '-') + " " +
       std::string(19, '-') + "\n";
  for (const View& v : views) o += Pad(v.name, 20) + Pad(v.ig, 20) + Pad(v.pg, 20) + v.sg + "\n";
  o += "\n";
  return kExitOk;
}

int Show(Invocation* inv, const ArrayInfo& array, const std::string& name, const std::string& type) {
  std::string& o = inv->out;
  if (type == "initiator") {
    if (Created(inv->db, "igs", array.serial, name) < 0) {
      return inv->Fail("The specified initiator group (" + name + ") was not found");
    }
    o += IdLine(array);
    InitiatorGroupDetail(inv, array, name);
    return kExitOk;
  }
  if (type == "storage") {
    int64_t created = Created(inv->db, "sgs", array.serial, name);
    if (created < 0) return inv->Fail("The specified storage group (" + name + ") was not found");
    std::vector<std::string> children = ChildGroups(inv->db, array.serial, name);
    std::set<int64_t> devs = GroupDevices(inv->db, array.serial, name);
    o += "Symmetrix ID                : " + array.serial + "\n";
    o += "Storage Group Name          : " + name + "\n";
    o += "Last update time            : " + UpdateTime(created) + "\n";
    o += "Group last update time      : " + UpdateTime(created) + "\n";
    o += "Number of Storage Groups    : " + std::to_string(children.size()) + "\n";
    std::string names;
    for (const std::string& c : children) names += (names.empty() ? "" : " ") + c;
    o += "   Storage Group Names      : " + (names.empty() ? std::string("None") : names) + "\n";
    o += "Devices                     : " +
         (devs.empty() ? std::string("None")
                       : CompressRanges(std::vector<int64_t>(devs.begin(), devs.end()))) + "\n";
    Brace(&o, "Masking View Names", ViewsOf(inv->db, array.serial, "sg", name), "");
    return kExitOk;
  }
  Stmt s(inv->db->handle(), "SELECT 1 FROM pgs WHERE serial=? AND name=?");
  s.Bind(1, array.serial).Bind(2, name);
  if (!s.Step()) return inv->Fail("The specified port group (" + name + ") was not found");
  o += IdLine(array);
  o += "Port Group Name         : " + name + "\n";
  std::vector<std::string> ports;
  Stmt p(inv->db->handle(), "SELECT port FROM pg_ports WHERE serial=? AND pg=? ORDER BY port");
  p.Bind(1, array.serial).Bind(2, name);
  while (p.Step()) ports.push_back("FA-" + p.Text(0));
  Brace(&o, "Director Identification", ports);
  Brace(&o, "Masking View Names", ViewsOf(inv->db, array.serial, "pg", name));
  return kExitOk;
}

}  // namespace

const ArgSpec& AccessSpec() {
  static const ArgSpec spec{{"-sid", "-type", "-wwn", "-iscsi", "-dev", "-name", "-sg", "-ig",
                             "-pg", "-file", "-output"},
                            {"-detail", "-v", "-noprompt"}};
  return spec;
}

int RunAccess(Invocation* inv) {
  ArrayInfo array;
  int code = kExitOk;
  if (!ResolveArray(inv, &array, &code)) return code;
  const std::vector<std::string>& w = inv->args.words();
  std::string type = GroupType(inv->args.Get("-type"));
  if (inv->args.Has("-type") && type.empty()) {
    return inv->Fail("Invalid group type: " + inv->args.Get("-type"), kExitUsage);
  }
  if (w.size() == 2 && w[0] == "list" && w[1] == "view") return ListViews(inv, array);
  if (w.size() == 1 && w[0] == "list") {
    if (type == "storage") return ListStorage(inv, array);
    if (type == "initiator") return ListInitiators(inv, array);
    if (type == "port") {
      inv->out += IdLine(array) + "\n";
      NameList(&inv->out, "Port Group Name",
               Names(inv->db, "SELECT name FROM pgs WHERE serial=? ORDER BY name", array.serial));
      return kExitOk;
    }
    return inv->Fail("A group type (-type storage, initiator or port) must be specified", kExitUsage);
  }
  if (w.size() == 2 && w[0] == "show") {
    if (type.empty()) return inv->Fail("A group type (-type) must be specified", kExitUsage);
    return Show(inv, array, w[1], type);
  }
  return inv->Fail("Unknown or incomplete action: " + inv->args.Action(), kExitUsage);
}

}  // namespace symsim
