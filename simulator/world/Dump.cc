// The whole state of a world as JSON (`symsim show`).
#include "simulator/state/DevNum.h"
#include "simulator/world/Build.h"

namespace symsim {

namespace {

// Storage, port and initiator groups and the masking views of one array.
void DumpMasking(StateDb* db, const std::string& serial, nlohmann::json& arr) {
  arr["storageGroups"] = nlohmann::json::array();
  Stmt g(db->handle(), "SELECT name FROM sgs WHERE serial=? ORDER BY name");
  g.Bind(1, serial);
  while (g.Step()) {
    nlohmann::json sg = {{"name", g.Text(0)}};
    sg["devices"] = nlohmann::json::array();
    Stmt m(db->handle(), "SELECT dev FROM sg_devices WHERE serial=? AND sg=? ORDER BY dev");
    m.Bind(1, serial).Bind(2, g.Text(0));
    while (m.Step()) sg["devices"].push_back(FormatDev(m.Int(0)));
    sg["children"] = nlohmann::json::array();
    Stmt c(db->handle(), "SELECT child FROM sg_children WHERE serial=? AND parent=? ORDER BY child");
    c.Bind(1, serial).Bind(2, g.Text(0));
    while (c.Step()) sg["children"].push_back(c.Text(0));
    arr["storageGroups"].push_back(sg);
  }
  arr["portGroups"] = nlohmann::json::array();
  Stmt p(db->handle(), "SELECT name FROM pgs WHERE serial=? ORDER BY name");
  p.Bind(1, serial);
  while (p.Step()) {
    nlohmann::json pg = {{"name", p.Text(0)}, {"ports", nlohmann::json::array()}};
    Stmt q(db->handle(), "SELECT port FROM pg_ports WHERE serial=? AND pg=? ORDER BY port");
    q.Bind(1, serial).Bind(2, p.Text(0));
    while (q.Step()) pg["ports"].push_back(q.Text(0));
    arr["portGroups"].push_back(pg);
  }
  arr["initiatorGroups"] = nlohmann::json::array();
  Stmt i(db->handle(), "SELECT name FROM igs WHERE serial=? ORDER BY name");
  i.Bind(1, serial);
  while (i.Step()) {
    nlohmann::json ig = {{"name", i.Text(0)}, {"initiators", nlohmann::json::array()}};
    Stmt q(db->handle(), "SELECT name FROM ig_initiators WHERE serial=? AND ig=? ORDER BY name");
    q.Bind(1, serial).Bind(2, i.Text(0));
    while (q.Step()) ig["initiators"].push_back(q.Text(0));
    arr["initiatorGroups"].push_back(ig);
  }
  arr["maskingViews"] = nlohmann::json::array();
  Stmt v(db->handle(), "SELECT name, ig, pg, sg FROM views WHERE serial=? ORDER BY name");
  v.Bind(1, serial);
  while (v.Step()) {
    arr["maskingViews"].push_back({{"name", v.Text(0)}, {"initiatorGroup", v.Text(1)},
                                   {"portGroup", v.Text(2)}, {"storageGroup", v.Text(3)}});
  }
}

// Snapshots, links and restore sessions of one array.
void DumpSessions(StateDb* db, const std::string& serial, nlohmann::json& arr) {
  arr["snapshots"] = nlohmann::json::array();
  Stmt n(db->handle(), "SELECT id, dev, name, created, failed FROM snapshots WHERE serial=? "
                       "ORDER BY dev, name, id DESC");
  n.Bind(1, serial);
  while (n.Step()) {
    arr["snapshots"].push_back({{"id", n.Int(0)}, {"device", FormatDev(n.Int(1))},
                                {"name", n.Text(2)}, {"time", n.Int(3)},
                                {"failed", n.Int(4) != 0}});
  }
  arr["links"] = nlohmann::json::array();
  Stmt l(db->handle(), "SELECT l.target, s.dev, s.name, l.copy, l.listings, l.created "
                       "FROM links l JOIN snapshots s ON s.id=l.snap_id WHERE l.serial=? "
                       "ORDER BY l.target");
  l.Bind(1, serial);
  while (l.Step()) {
    arr["links"].push_back({{"target", FormatDev(l.Int(0))}, {"source", FormatDev(l.Int(1))},
                            {"snapshot", l.Text(2)}, {"copy", l.Int(3) != 0},
                            {"listings", l.Int(4)}, {"time", l.Int(5)}});
  }
  arr["restores"] = nlohmann::json::array();
  Stmt r(db->handle(), "SELECT r.dev, s.name, r.listings, r.started FROM restores r "
                       "JOIN snapshots s ON s.id=r.snap_id WHERE r.serial=? ORDER BY r.dev");
  r.Bind(1, serial);
  while (r.Step()) {
    arr["restores"].push_back({{"device", FormatDev(r.Int(0))}, {"snapshot", r.Text(1)},
                               {"listings", r.Int(2)}, {"time", r.Int(3)}});
  }
}

// The simulated hosts and the injected faults.
void DumpHostsAndFaults(StateDb* db, nlohmann::json& out) {
  out["hosts"] = nlohmann::json::array();
  Stmt h(db->handle(), "SELECT name, esx FROM hosts ORDER BY name");
  while (h.Step()) {
    nlohmann::json host = {{"name", h.Text(0)}, {"esx", h.Int(1) != 0},
                           {"initiators", nlohmann::json::array()},
                           {"devices", nlohmann::json::array()}};
    Stmt q(db->handle(), "SELECT name FROM host_initiators WHERE host=? ORDER BY rowid");
    q.Bind(1, h.Text(0));
    while (q.Step()) host["initiators"].push_back(q.Text(0));
    Stmt d(db->handle(), "SELECT path FROM host_devices WHERE host=? ORDER BY path");
    d.Bind(1, h.Text(0));
    while (d.Step()) host["devices"].push_back(d.Text(0));
    out["hosts"].push_back(host);
  }
  out["faults"] = nlohmann::json::array();
  Stmt f(db->handle(), "SELECT id, nth, pattern, exit_code, message, hang_seconds, remaining, "
                       "phase, hits FROM faults ORDER BY id");
  while (f.Step()) {
    out["faults"].push_back({{"id", f.Int(0)}, {"nth", f.Int(1)}, {"pattern", f.Text(2)},
                             {"exitCode", f.Int(3)}, {"message", f.Text(4)},
                             {"hangSeconds", f.Int(5)}, {"remaining", f.Int(6)},
                             {"phase", f.Text(7)}, {"hits", f.Int(8)}});
  }
}

}  // namespace

nlohmann::json DumpWorld(StateDb* db) {
  nlohmann::json out;
  out["settings"] = nlohmann::json::object();
  {
    Stmt s(db->handle(), "SELECT key, value FROM settings ORDER BY key");
    while (s.Step()) out["settings"][s.Text(0)] = s.Text(1);
  }
  out["arrays"] = nlohmann::json::array();
  Stmt a(db->handle(), "SELECT serial, model, microcode, snap_limit FROM arrays ORDER BY serial");
  while (a.Step()) {
    std::string serial = a.Text(0);
    nlohmann::json arr = {{"serial", serial}, {"model", a.Text(1)},
                          {"microcode", a.Text(2)}, {"snapLimit", a.Int(3)}};
    arr["devices"] = nlohmann::json::array();
    Stmt d(db->handle(), "SELECT dev, cylinders, thin, mapped FROM devices WHERE serial=? ORDER BY dev");
    d.Bind(1, serial);
    while (d.Step()) {
      arr["devices"].push_back({{"device", FormatDev(d.Int(0))}, {"cylinders", d.Int(1)},
                                {"thin", d.Int(2) != 0}, {"mapped", d.Int(3) != 0}});
    }
    DumpMasking(db, serial, arr);
    DumpSessions(db, serial, arr);
    out["arrays"].push_back(arr);
  }
  DumpHostsAndFaults(db, out);
  return out;
}

}  // namespace symsim
