#include "simulator/world/Build.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "simulator/hostview/HostView.h"
#include "simulator/state/DevNum.h"

namespace symsim {

namespace {

constexpr size_t kSerialDigits = 12;
constexpr int kDirMode = 0755;
const char* const kToolNames[] = {"symsnapvx", "symsg", "symaccess", "symdev", "symcli"};

void MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), kDirMode) != 0 && errno != EEXIST) {
    throw UserError("cannot create " + path + ": " + std::strerror(errno));
  }
}

bool Exists(StateDb* db, const char* sql, const std::string& a,
            const std::string& b) {
  Stmt s(db->handle(), sql);
  s.Bind(1, a).Bind(2, b);
  return s.Step();
}

void RequireArray(StateDb* db, const std::string& serial) {
  Stmt s(db->handle(), "SELECT 1 FROM arrays WHERE serial=?");
  s.Bind(1, serial);
  if (!s.Step()) throw UserError("no array " + serial);
}

void RequireName(const std::string& kind, const std::string& name) {
  if (name.empty()) throw UserError(kind + " name is empty");
  for (char c : name) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == ':' || c == ',') {
      throw UserError(kind + " name '" + name + "' holds a blank, ':' or ','");
    }
  }
}

void AddInitiators(StateDb* db, const char* sql, const std::string& a,
                   const std::string& b, const std::vector<std::string>& fc,
                   const std::vector<std::string>& iscsi) {
  Stmt s(db->handle(), sql);
  auto add = [&](const std::string& name, int type) {
    s.Reset();
    s.Bind(1, a);
    if (!b.empty()) s.Bind(2, b);
    s.Bind(b.empty() ? 2 : 3, name).Bind(b.empty() ? 3 : 4, type).Run();
  };
  for (const std::string& w : fc) {
    if (!IsFcName(w)) throw UserError("not an FC port name (16 hex digits): " + w);
    add(NormalizeInitiator(w), kSimInitiatorFc);
  }
  for (const std::string& i : iscsi) {
    if (i.empty() || IsFcName(i)) throw UserError("not an iSCSI name: " + i);
    add(i, kSimInitiatorIscsi);
  }
}

}  // namespace

void InitWorld(const std::string& dir, const std::string& toolPath,
               const std::string& seVersion) {
  MakeDir(dir);
  MakeDir(BinDir(dir));
  for (const char* name : kToolNames) {
    std::string link = BinDir(dir) + "/" + name;
    unlink(link.c_str());
    if (symlink(toolPath.c_str(), link.c_str()) != 0) {
      throw UserError("cannot link " + link + ": " + std::strerror(errno));
    }
  }
  std::string error;
  std::unique_ptr<StateDb> db = StateDb::Open(dir, true, &error);
  if (!db) throw UserError(error);
  Transaction tx(db.get());
  if (!seVersion.empty() || db->Setting(kSetSeVersion, "").empty()) {
    db->SetSetting(kSetSeVersion, seVersion.empty() ? kDefaultSeVersion : seVersion);
  }
  tx.Commit();
}

int SnapLimitForModel(const std::string& model) {
  std::string lower;
  for (char c : model) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("powermax") != std::string::npos ? kSnapLimitPowerMax
                                                      : kSnapLimitVmax3;
}

void AddArray(StateDb* db, const std::string& serial, const std::string& model,
              const std::string& microcode, int snapLimit) {
  if (serial.size() != kSerialDigits) throw UserError("serial must have 12 digits: " + serial);
  for (char c : serial) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      throw UserError("serial must have 12 digits: " + serial);
    }
  }
  Stmt s(db->handle(), "INSERT OR REPLACE INTO arrays(serial, model, microcode, snap_limit) "
                       "VALUES(?,?,?,?)");
  s.Bind(1, serial).Bind(2, model).Bind(3, microcode)
      .Bind(4, snapLimit > 0 ? snapLimit : SnapLimitForModel(model)).Run();
}

void AddDevices(StateDb* db, const std::string& serial, int64_t first,
                int64_t count, int64_t cylinders, bool thin, bool mapped) {
  RequireArray(db, serial);
  if (first < 0 || count < 1 || first + count - 1 > kMaxDevice) {
    throw UserError("device numbers must lie below 0x10000");
  }
  if (cylinders < 1) throw UserError("cylinders must be positive");
  Stmt s(db->handle(), "INSERT INTO devices(serial, dev, cylinders, thin, mapped) "
                       "VALUES(?,?,?,?,?)");
  Stmt check(db->handle(), "SELECT 1 FROM devices WHERE serial=? AND dev=?");
  for (int64_t d = first; d < first + count; ++d) {
    check.Reset();
    check.Bind(1, serial).Bind(2, d);
    if (check.Step()) throw UserError("device " + FormatDev(d) + " exists");
    s.Reset();
    s.Bind(1, serial).Bind(2, d).Bind(3, cylinders).Bind(4, thin ? 1 : 0)
        .Bind(5, mapped ? 1 : 0).Run();
  }
}

void AddGroup(StateDb* db, const std::string& serial, const std::string& name) {
  RequireArray(db, serial);
  RequireName("storage group", name);
  Stmt s(db->handle(), "INSERT OR IGNORE INTO sgs(serial, name, created) VALUES(?,?,?)");
  s.Bind(1, serial).Bind(2, name).Bind(3, static_cast<int64_t>(std::time(nullptr))).Run();
}

void AddGroupDevices(StateDb* db, const std::string& serial,
                     const std::string& name, const std::vector<int64_t>& devs) {
  AddGroup(db, serial, name);
  if (!devs.empty() && Exists(db, "SELECT 1 FROM sg_children WHERE serial=? AND parent=?",
                              serial, name)) {
    throw UserError("storage group " + name + " is a cascaded parent");
  }
  Stmt check(db->handle(), "SELECT 1 FROM devices WHERE serial=? AND dev=?");
  Stmt s(db->handle(), "INSERT OR IGNORE INTO sg_devices(serial, sg, dev) VALUES(?,?,?)");
  for (int64_t d : devs) {
    check.Reset();
    check.Bind(1, serial).Bind(2, d);
    if (!check.Step()) throw UserError("no device " + FormatDev(d));
    s.Reset();
    s.Bind(1, serial).Bind(2, name).Bind(3, d).Run();
  }
}

void AddChildGroup(StateDb* db, const std::string& serial,
                   const std::string& parent, const std::string& child) {
  if (parent == child) throw UserError("a storage group cannot be its own child");
  RequireArray(db, serial);
  // As symsg refuses to cascade a group that does not exist, the child must
  // have been created before; the parent is created when it is new.
  if (!Exists(db, "SELECT 1 FROM sgs WHERE serial=? AND name=?", serial, child)) {
    throw UserError("The specified Storage Group (" + child + ") was not found");
  }
  AddGroup(db, serial, parent);
  if (Exists(db, "SELECT 1 FROM sg_devices WHERE serial=? AND sg=?", serial, parent)) {
    throw UserError("storage group " + parent + " holds devices; it cannot be a parent");
  }
  if (Exists(db, "SELECT 1 FROM sg_children WHERE serial=? AND parent=?", serial, child) ||
      Exists(db, "SELECT 1 FROM sg_children WHERE serial=? AND child=?", serial, parent)) {
    throw UserError("cascading is one level deep");
  }
  Stmt s(db->handle(), "INSERT OR IGNORE INTO sg_children(serial, parent, child) VALUES(?,?,?)");
  s.Bind(1, serial).Bind(2, parent).Bind(3, child).Run();
}

void AddPortGroup(StateDb* db, const std::string& serial, const std::string& name,
                  const std::vector<std::string>& ports) {
  RequireArray(db, serial);
  RequireName("port group", name);
  Stmt g(db->handle(), "INSERT OR IGNORE INTO pgs(serial, name) VALUES(?,?)");
  g.Bind(1, serial).Bind(2, name).Run();
  Stmt s(db->handle(), "INSERT OR IGNORE INTO pg_ports(serial, pg, port) VALUES(?,?,?)");
  for (const std::string& port : ports) {
    if (port.find(':') == std::string::npos) throw UserError("port must read DIR:PORT: " + port);
    s.Reset();
    s.Bind(1, serial).Bind(2, name).Bind(3, port).Run();
  }
}

void AddInitiatorGroup(StateDb* db, const std::string& serial,
                       const std::string& name, const std::vector<std::string>& fc,
                       const std::vector<std::string>& iscsi) {
  RequireArray(db, serial);
  RequireName("initiator group", name);
  Stmt g(db->handle(), "INSERT OR IGNORE INTO igs(serial, name, created) VALUES(?,?,?)");
  g.Bind(1, serial).Bind(2, name).Bind(3, static_cast<int64_t>(std::time(nullptr))).Run();
  AddInitiators(db, "INSERT OR IGNORE INTO ig_initiators(serial, ig, name, type) VALUES(?,?,?,?)",
                serial, name, fc, iscsi);
}

void AddView(StateDb* db, const std::string& serial, const std::string& name,
             const std::string& ig, const std::string& pg, const std::string& sg) {
  RequireArray(db, serial);
  RequireName("masking view", name);
  if (!Exists(db, "SELECT 1 FROM igs WHERE serial=? AND name=?", serial, ig)) {
    throw UserError("no initiator group " + ig);
  }
  if (!Exists(db, "SELECT 1 FROM pgs WHERE serial=? AND name=?", serial, pg)) {
    throw UserError("no port group " + pg);
  }
  if (!Exists(db, "SELECT 1 FROM sgs WHERE serial=? AND name=?", serial, sg)) {
    throw UserError("no storage group " + sg);
  }
  Stmt s(db->handle(), "INSERT OR REPLACE INTO views(serial, name, ig, pg, sg, created) "
                       "VALUES(?,?,?,?,?,?)");
  s.Bind(1, serial).Bind(2, name).Bind(3, ig).Bind(4, pg).Bind(5, sg)
      .Bind(6, static_cast<int64_t>(std::time(nullptr))).Run();
}

void AddHost(StateDb* db, const std::string& name, bool esx,
             const std::vector<std::string>& fc, const std::vector<std::string>& iscsi) {
  RequireName("host", name);
  Stmt s(db->handle(), "INSERT OR REPLACE INTO hosts(name, esx) VALUES(?,?)");
  s.Bind(1, name).Bind(2, esx ? 1 : 0).Run();
  AddInitiators(db, "INSERT OR IGNORE INTO host_initiators(host, name, type) VALUES(?,?,?)",
                name, "", fc, iscsi);
}

}  // namespace symsim
