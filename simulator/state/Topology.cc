#include "simulator/state/Topology.h"

#include "simulator/state/DevNum.h"

namespace symsim {

std::vector<std::string> ChildGroups(StateDb* db, const std::string& serial,
                                     const std::string& sg) {
  Stmt s(db->handle(),
         "SELECT child FROM sg_children WHERE serial=? AND parent=? ORDER BY child");
  s.Bind(1, serial).Bind(2, sg);
  std::vector<std::string> out;
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

std::vector<std::string> ParentGroups(StateDb* db, const std::string& serial,
                                      const std::string& sg) {
  Stmt s(db->handle(),
         "SELECT parent FROM sg_children WHERE serial=? AND child=? ORDER BY parent");
  s.Bind(1, serial).Bind(2, sg);
  std::vector<std::string> out;
  while (s.Step()) out.push_back(s.Text(0));
  return out;
}

std::set<int64_t> GroupDevices(StateDb* db, const std::string& serial,
                               const std::string& sg) {
  std::set<int64_t> out;
  std::vector<std::string> groups = {sg};
  std::set<std::string> seen;
  Stmt s(db->handle(), "SELECT dev FROM sg_devices WHERE serial=? AND sg=?");
  while (!groups.empty()) {
    std::string g = groups.back();
    groups.pop_back();
    if (!seen.insert(g).second) continue;
    s.Reset();
    s.Bind(1, serial).Bind(2, g);
    while (s.Step()) out.insert(s.Int(0));
    for (const std::string& child : ChildGroups(db, serial, g)) groups.push_back(child);
  }
  return out;
}

namespace {

// The groups (serial, name) of the masking views that some initiator of
// `host` is in.
std::set<std::pair<std::string, std::string>> HostViewGroups(StateDb* db,
                                                             const std::string& host) {
  std::set<std::string> mine;
  {
    Stmt s(db->handle(), "SELECT name FROM host_initiators WHERE host=?");
    s.Bind(1, host);
    while (s.Step()) mine.insert(NormalizeInitiator(s.Text(0)));
  }
  std::set<std::pair<std::string, std::string>> groups;
  Stmt v(db->handle(),
         "SELECT v.serial, v.sg, i.name FROM views v JOIN ig_initiators i "
         "ON i.serial=v.serial AND i.ig=v.ig");
  while (v.Step()) {
    if (mine.count(NormalizeInitiator(v.Text(2)))) groups.insert({v.Text(0), v.Text(1)});
  }
  return groups;
}

}  // namespace

bool DeviceVisible(StateDb* db, const std::string& host, const std::string& serial,
                   int64_t dev) {
  Stmt member(db->handle(), "SELECT 1 FROM sg_devices WHERE serial=? AND sg=? AND dev=?");
  std::vector<std::string> pending;
  for (const auto& g : HostViewGroups(db, host))
    if (g.first == serial) pending.push_back(g.second);
  std::set<std::string> seen;
  while (!pending.empty()) {
    std::string g = pending.back();
    pending.pop_back();
    if (!seen.insert(g).second) continue;
    member.Reset();
    member.Bind(1, serial).Bind(2, g).Bind(3, dev);
    if (member.Step()) return true;
    for (const std::string& child : ChildGroups(db, serial, g)) pending.push_back(child);
  }
  return false;
}

std::set<DevKey> VisibleDevices(StateDb* db, const std::string& host) {
  std::set<DevKey> out;
  for (const auto& g : HostViewGroups(db, host)) {
    for (int64_t dev : GroupDevices(db, g.first, g.second)) out.insert({g.first, dev});
  }
  return out;
}

std::set<int64_t> MappedDevices(StateDb* db, const std::string& serial) {
  std::set<int64_t> out;
  {
    Stmt s(db->handle(), "SELECT dev FROM devices WHERE serial=? AND mapped=1");
    s.Bind(1, serial);
    while (s.Step()) out.insert(s.Int(0));
  }
  Stmt v(db->handle(), "SELECT DISTINCT sg FROM views WHERE serial=?");
  v.Bind(1, serial);
  while (v.Step()) {
    for (int64_t dev : GroupDevices(db, serial, v.Text(0))) out.insert(dev);
  }
  return out;
}

std::map<int64_t, std::set<std::string>> DevicePorts(StateDb* db,
                                                     const std::string& serial) {
  std::map<int64_t, std::set<std::string>> out;
  Stmt v(db->handle(), "SELECT sg, pg FROM views WHERE serial=?");
  v.Bind(1, serial);
  Stmt p(db->handle(), "SELECT port FROM pg_ports WHERE serial=? AND pg=?");
  while (v.Step()) {
    std::set<std::string> ports;
    p.Reset();
    p.Bind(1, serial).Bind(2, v.Text(1));
    while (p.Step()) ports.insert(p.Text(0));
    for (int64_t dev : GroupDevices(db, serial, v.Text(0))) {
      out[dev].insert(ports.begin(), ports.end());
    }
  }
  return out;
}

}  // namespace symsim
