// symsnapvx: SnapVX snapshots, links and restores.
// No real snapshot, link or restore listing has been published: their
// layouts follow the documented command output and are unconfirmed. The
// "do not have any Snapvx information" text on standard error and the
// "do not form a Copy session" message follow published real texts; the
// other messages are unconfirmed (docs/simulator-outputs.md).
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "simulator/state/DevNum.h"
#include "simulator/tool/Tool.h"

namespace symsim {

namespace {

constexpr size_t kMaxSnapName = 32;
constexpr size_t kDevCol = 6;
constexpr size_t kNameCol = 33;
constexpr int kFullPercent = 100;
constexpr int64_t kTracksPerCylinder = 15;

const char kNoSnapshot[] = "No snapshot was found for the specified device(s) and snapshot name";
const char kNoInfo[] = "The specified device(s) do not have any Snapvx information.";
const char kNoLinkTarget[] = "No link target was found for the specified device(s)";
const char kNoCopySession[] =
    "The Source device and the Target device do not form a Copy session";
const char kMaxSessions[] = "The maximum number of sessions has been exceeded";

struct Snap {
  int64_t id = 0;
  int64_t dev = 0;
  std::string name;
  int64_t created = 0;
  bool failed = false;
  int64_t gen = 0;
};

struct Link {
  int64_t target = 0;
  Snap snap;
  bool copy = false;
  int64_t created = 0;
  int64_t listings = 0;
};

struct Restore {
  int64_t dev = 0;
  Snap snap;
  int64_t started = 0;
  int64_t listings = 0;
};

std::string Rule(size_t width) { return std::string(width, '-'); }

// Snapshots of one device, newest first, with their generation numbers.
std::vector<Snap> SnapsOf(StateDb* db, const std::string& serial, int64_t dev) {
  Stmt s(db->handle(), "SELECT id, name, created, failed FROM snapshots WHERE serial=? AND dev=? "
                       "ORDER BY id DESC");
  s.Bind(1, serial).Bind(2, dev);
  std::vector<Snap> out;
  std::map<std::string, int64_t> gens;
  while (s.Step()) {
    Snap snap;
    snap.id = s.Int(0);
    snap.dev = dev;
    snap.name = s.Text(1);
    snap.created = s.Int(2);
    snap.failed = s.Int(3) != 0;
    snap.gen = gens[snap.name]++;
    out.push_back(snap);
  }
  return out;
}

bool FindSnap(StateDb* db, const std::string& serial, int64_t dev, const std::string& name,
              int64_t gen, Snap* out) {
  for (const Snap& s : SnapsOf(db, serial, dev)) {
    if (s.name == name && s.gen == gen) {
      *out = s;
      return true;
    }
  }
  return false;
}

Snap SnapById(StateDb* db, int64_t id) {
  Stmt s(db->handle(), "SELECT serial, dev FROM snapshots WHERE id=?");
  s.Bind(1, id);
  Snap out;
  if (!s.Step()) return out;
  for (const Snap& snap : SnapsOf(db, s.Text(0), s.Int(1))) {
    if (snap.id == id) return snap;
  }
  return out;
}

std::vector<Link> Links(StateDb* db, const std::string& serial) {
  Stmt s(db->handle(), "SELECT target, snap_id, copy, created, listings FROM links "
                       "WHERE serial=? ORDER BY target");
  s.Bind(1, serial);
  std::vector<Link> out;
  while (s.Step()) {
    Link l;
    l.target = s.Int(0);
    l.snap = SnapById(db, s.Int(1));
    l.copy = s.Int(2) != 0;
    l.created = s.Int(3);
    l.listings = s.Int(4);
    out.push_back(l);
  }
  return out;
}

std::vector<Restore> Restores(StateDb* db, const std::string& serial) {
  Stmt s(db->handle(), "SELECT dev, snap_id, started, listings FROM restores WHERE serial=? "
                       "ORDER BY dev");
  s.Bind(1, serial);
  std::vector<Restore> out;
  while (s.Step()) {
    Restore r;
    r.dev = s.Int(0);
    r.snap = SnapById(db, s.Int(1));
    r.started = s.Int(2);
    r.listings = s.Int(3);
    out.push_back(r);
  }
  return out;
}

// Progress over listings or seconds (both 0: at once). `defaultListings`
// applies when neither setting is given.
int Progress(StateDb* db, const char* listingsKey, const char* secondsKey, int64_t listings,
             int64_t elapsed, int64_t defaultListings = 0) {
  bool given = !db->Setting(listingsKey, "").empty() || !db->Setting(secondsKey, "").empty();
  int64_t perListings = db->IntSetting(listingsKey, given ? 0 : defaultListings);
  int64_t perSeconds = db->IntSetting(secondsKey, 0);
  if (perListings <= 0 && perSeconds <= 0) return kFullPercent;
  int64_t p = 0;
  if (perListings > 0) p = std::max(p, listings * kFullPercent / perListings);
  if (perSeconds > 0) p = std::max(p, elapsed * kFullPercent / perSeconds);
  return static_cast<int>(std::min<int64_t>(p, kFullPercent));
}

bool Defined(Invocation* inv, const Link& l) {
  return Progress(inv->db, kSetDefineListings, kSetDefineSeconds, l.listings,
                  inv->now - l.created) >= kFullPercent;
}

int RestorePercent(Invocation* inv, const Restore& r) {
  // A restore copies for a while on a real array: by default it is done at
  // the third listing of its progress, so those who follow it poll more
  // than once.
  return Progress(inv->db, kSetRestoreListings, kSetRestoreSeconds, r.listings,
                  inv->now - r.started, kDefaultRestoreListings);
}

// Failed, Copy, Modified, Defined, Secured.
std::string LinkFlags(Invocation* inv, const Link& l) {
  bool defined = Defined(inv, l);
  std::string f = ".....";
  if (l.snap.failed) f[0] = 'X';
  if (l.copy) f[1] = defined ? 'C' : 'I';
  if (defined) f[3] = 'X';
  return f;
}

bool SourceDevices(Invocation* inv, const ArrayInfo& array, std::vector<int64_t>* devs,
                   bool required, int* code) {
  if (inv->args.Has("-sg")) {
    Stmt s(inv->db->handle(), "SELECT dev FROM sg_devices WHERE serial=? AND sg=? ORDER BY dev");
    s.Bind(1, array.serial).Bind(2, inv->args.Get("-sg"));
    while (s.Step()) devs->push_back(s.Int(0));
    if (devs->empty()) {
      *code = inv->Fail("The specified Storage Group (" + inv->args.Get("-sg") +
                        ") was not found or holds no devices");
      return false;
    }
    return true;
  }
  if (!required && !inv->args.Has("-devs") && !inv->args.Has("-file")) return true;
  if (!DeviceArgs(inv, devs, code)) return false;
  for (int64_t d : *devs) {
    if (!DeviceExists(inv->db, array.serial, d)) {
      *code = inv->Fail("Symmetrix device " + FormatDev(d) + " was not found on the Symmetrix");
      return false;
    }
  }
  return true;
}

bool ValidSnapName(const std::string& name) {
  if (name.empty() || name.size() > kMaxSnapName) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  }
  return true;
}

int64_t Generation(Invocation* inv) {
  std::string g = inv->args.Get("-generation");
  if (g.empty()) return 0;
  for (char c : g) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
  }
  return std::stoll(g);
}

std::string Done(const std::string& op, Invocation* inv) {
  std::string where = inv->args.Has("-file")
                          ? "in device file '" + inv->args.Get("-file") + "'"
                          : "in the list";
  return "\n" + op + " operation execution is in progress for the device(s) " + where +
         ". Please wait...\n\n" + op + " operation successfully executed for the device(s) " +
         where + ".\n\n";
}

int Establish(Invocation* inv, const ArrayInfo& array) {
  std::string name = inv->args.Get("-name");
  if (!ValidSnapName(name)) {
    return inv->Fail("A valid snapshot name (-name, 1 to 32 letters, digits, '_' or '-') "
                     "must be specified", kExitUsage);
  }
  std::vector<int64_t> devs;
  int code = kExitOk;
  if (!SourceDevices(inv, array, &devs, true, &code)) return code;
  Stmt count(inv->db->handle(), "SELECT COUNT(*) FROM snapshots WHERE serial=? AND dev=?");
  for (int64_t d : devs) {
    count.Reset();
    count.Bind(1, array.serial).Bind(2, d);
    if (count.Step() && count.Int(0) >= array.snapLimit) {
      return inv->Fail(std::string(kMaxSessions) + " for device " + FormatDev(d));
    }
  }
  Stmt add(inv->db->handle(), "INSERT INTO snapshots(serial, dev, name, created) VALUES(?,?,?,?)");
  for (int64_t d : devs) {
    add.Reset();
    add.Bind(1, array.serial).Bind(2, d).Bind(3, name).Bind(4, inv->now).Run();
  }
  inv->out += Done("Establish", inv);
  return kExitOk;
}

int TerminateRestore(Invocation* inv, const ArrayInfo& array, const std::vector<int64_t>& devs,
                     const std::string& name) {
  std::map<int64_t, Restore> byDev;
  for (const Restore& r : Restores(inv->db, array.serial)) byDev[r.dev] = r;
  for (int64_t d : devs) {
    auto it = byDev.find(d);
    if (it == byDev.end() || it->second.snap.name != name) return inv->Fail(kNoCopySession);
    if (RestorePercent(inv, it->second) < kFullPercent) {
      return inv->Fail("The restore of device " + FormatDev(d) +
                       " is still in progress; the session cannot be terminated yet");
    }
  }
  Stmt del(inv->db->handle(), "DELETE FROM restores WHERE serial=? AND dev=?");
  for (int64_t d : devs) {
    del.Reset();
    del.Bind(1, array.serial).Bind(2, d).Run();
  }
  inv->out += Done("Terminate", inv);
  return kExitOk;
}

int Terminate(Invocation* inv, const ArrayInfo& array) {
  std::string name = inv->args.Get("-snapshot_name");
  if (name.empty()) return inv->Fail("A snapshot name (-snapshot_name) must be specified", kExitUsage);
  std::vector<int64_t> devs;
  int code = kExitOk;
  if (!SourceDevices(inv, array, &devs, true, &code)) return code;
  if (inv->args.Has("-restored")) return TerminateRestore(inv, array, devs, name);
  int64_t gen = Generation(inv);
  if (gen < 0) return inv->Fail("Invalid generation number", kExitUsage);
  std::vector<Link> links = Links(inv->db, array.serial);
  std::vector<Restore> restores = Restores(inv->db, array.serial);
  std::vector<int64_t> ids;
  for (int64_t d : devs) {
    Snap snap;
    if (!FindSnap(inv->db, array.serial, d, name, gen, &snap)) {
      return inv->Fail(std::string(kNoSnapshot) + " (device " + FormatDev(d) + ")");
    }
    for (const Link& l : links) {
      if (l.snap.id == snap.id) {
        return inv->Fail("The snapshot of device " + FormatDev(d) +
                         " cannot be terminated while it has linked targets (" +
                         FormatDev(l.target) + ")");
      }
    }
    for (const Restore& r : restores) {
      if (r.snap.id == snap.id) {
        return inv->Fail("The snapshot of device " + FormatDev(d) +
                         " cannot be terminated while it has a restore session");
      }
    }
    ids.push_back(snap.id);
  }
  Stmt del(inv->db->handle(), "DELETE FROM snapshots WHERE id=?");
  for (int64_t id : ids) {
    del.Reset();
    del.Bind(1, id).Run();
  }
  inv->out += Done("Terminate", inv);
  return kExitOk;
}

// Pairs "source target" of the device file.
bool LinkPairs(Invocation* inv, const ArrayInfo& array,
               std::vector<std::pair<int64_t, int64_t>>* pairs, int* code) {
  if (!inv->args.Has("-file")) {
    *code = inv->Fail("A device file (-file) of source and target pairs must be specified",
                      kExitUsage);
    return false;
  }
  std::vector<std::vector<std::string>> lines;
  if (!DeviceFileLines(inv, &lines, code)) return false;
  std::set<int64_t> targets;
  for (const auto& row : lines) {
    int64_t src = ParseDev(row[0]);
    int64_t tgt = row.size() == 2 ? ParseDev(row[1]) : -1;
    if (src < 0 || tgt < 0) {
      *code = inv->Fail("Each line of the device file must name a source and a target device");
      return false;
    }
    for (int64_t d : {src, tgt}) {
      if (!DeviceExists(inv->db, array.serial, d)) {
        *code = inv->Fail("Symmetrix device " + FormatDev(d) + " was not found on the Symmetrix");
        return false;
      }
    }
    if (src == tgt || !targets.insert(tgt).second) {
      *code = inv->Fail("Target device " + FormatDev(tgt) + " is named more than once or is "
                        "its own source");
      return false;
    }
    pairs->push_back({src, tgt});
  }
  if (pairs->empty()) {
    *code = inv->Fail("The device file holds no devices");
    return false;
  }
  return true;
}

int64_t Cylinders(StateDb* db, const std::string& serial, int64_t dev) {
  Stmt s(db->handle(), "SELECT cylinders FROM devices WHERE serial=? AND dev=?");
  s.Bind(1, serial).Bind(2, dev);
  return s.Step() ? s.Int(0) : -1;
}

int LinkCmd(Invocation* inv, const ArrayInfo& array) {
  std::string name = inv->args.Get("-snapshot_name");
  if (name.empty()) return inv->Fail("A snapshot name (-snapshot_name) must be specified", kExitUsage);
  std::vector<std::pair<int64_t, int64_t>> pairs;
  int code = kExitOk;
  if (!LinkPairs(inv, array, &pairs, &code)) return code;
  std::map<int64_t, Link> linked;
  for (const Link& l : Links(inv->db, array.serial)) linked[l.target] = l;
  std::set<int64_t> restoring;
  for (const Restore& r : Restores(inv->db, array.serial)) restoring.insert(r.dev);
  std::vector<std::pair<int64_t, int64_t>> rows;  // target, snapshot id
  for (const auto& p : pairs) {
    Snap snap;
    if (!FindSnap(inv->db, array.serial, p.first, name, 0, &snap)) {
      return inv->Fail(std::string(kNoSnapshot) + " (device " + FormatDev(p.first) + ")");
    }
    if (snap.failed) return inv->Fail("The snapshot of device " + FormatDev(p.first) + " has failed");
    if (Cylinders(inv->db, array.serial, p.first) != Cylinders(inv->db, array.serial, p.second)) {
      return inv->Fail("The target device " + FormatDev(p.second) +
                       " is not the same size as the source device " + FormatDev(p.first));
    }
    if (linked.count(p.second)) {
      return inv->Fail("The target device " + FormatDev(p.second) +
                       " is already linked to a snapshot");
    }
    if (restoring.count(p.second)) {
      return inv->Fail("The target device " + FormatDev(p.second) + " is in a copy session");
    }
    rows.push_back({p.second, snap.id});
  }
  Stmt add(inv->db->handle(), "INSERT INTO links(serial, target, snap_id, copy, created) "
                              "VALUES(?,?,?,?,?)");
  for (const auto& r : rows) {
    add.Reset();
    add.Bind(1, array.serial).Bind(2, r.first).Bind(3, r.second)
        .Bind(4, inv->args.Has("-copy") ? 1 : 0).Bind(5, inv->now).Run();
  }
  inv->out += Done("Link", inv);
  return kExitOk;
}

int Unlink(Invocation* inv, const ArrayInfo& array) {
  std::string name = inv->args.Get("-snapshot_name");
  if (name.empty()) return inv->Fail("A snapshot name (-snapshot_name) must be specified", kExitUsage);
  std::vector<std::pair<int64_t, int64_t>> pairs;
  int code = kExitOk;
  if (!LinkPairs(inv, array, &pairs, &code)) return code;
  std::map<int64_t, Link> linked;
  for (const Link& l : Links(inv->db, array.serial)) linked[l.target] = l;
  for (const auto& p : pairs) {
    auto it = linked.find(p.second);
    if (it == linked.end() || it->second.snap.dev != p.first || it->second.snap.name != name) {
      return inv->Fail("The target device " + FormatDev(p.second) +
                       " is not linked to the specified snapshot of device " + FormatDev(p.first));
    }
    if (!Defined(inv, it->second) && !inv->args.Has("-symforce")) {
      return inv->Fail("The target device " + FormatDev(p.second) +
                       " cannot be unlinked while its link is still being defined");
    }
  }
  Stmt del(inv->db->handle(), "DELETE FROM links WHERE serial=? AND target=?");
  for (const auto& p : pairs) {
    del.Reset();
    del.Bind(1, array.serial).Bind(2, p.second).Run();
  }
  inv->out += Done("Unlink", inv);
  return kExitOk;
}

int RestoreCmd(Invocation* inv, const ArrayInfo& array) {
  std::string name = inv->args.Get("-snapshot_name");
  if (name.empty()) return inv->Fail("A snapshot name (-snapshot_name) must be specified", kExitUsage);
  std::vector<int64_t> devs;
  int code = kExitOk;
  if (!SourceDevices(inv, array, &devs, true, &code)) return code;
  std::set<int64_t> restoring;
  for (const Restore& r : Restores(inv->db, array.serial)) restoring.insert(r.dev);
  std::set<int64_t> linkedTargets;
  for (const Link& l : Links(inv->db, array.serial)) linkedTargets.insert(l.target);
  std::vector<std::pair<int64_t, int64_t>> rows;
  for (int64_t d : devs) {
    Snap snap;
    if (!FindSnap(inv->db, array.serial, d, name, 0, &snap)) {
      return inv->Fail(std::string(kNoSnapshot) + " (device " + FormatDev(d) + ")");
    }
    if (snap.failed) return inv->Fail("The snapshot of device " + FormatDev(d) + " has failed");
    if (restoring.count(d)) {
      return inv->Fail("Device " + FormatDev(d) + " already has a restore session; "
                       "terminate it before another restore");
    }
    rows.push_back({d, snap.id});
  }
  Stmt add(inv->db->handle(), "INSERT INTO restores(serial, dev, snap_id, started) VALUES(?,?,?,?)");
  for (const auto& r : rows) {
    add.Reset();
    add.Bind(1, array.serial).Bind(2, r.first).Bind(3, r.second).Bind(4, inv->now).Run();
  }
  inv->out += Done("Restore", inv);
  return kExitOk;
}

std::string Banner(const ArrayInfo& array) {
  return "\n" + SymmetrixIdLine(array) + "\n\n";
}

const char kListLegend[] =
    "\nFlags:\n"
    "  (F)ailed    : X = General Failure, . = No Failure\n"
    "  (L)ink      : X = Link Exists, . = No Link Exists\n"
    "  (R)estore   : X = Restore Active, . = No Restore Active\n"
    "  (G)CM       : X = GCM, . = Non-GCM\n"
    "  (T)ype      : Z = zDP snapshot, S = Policy snapshot, . = Manual snapshot\n"
    "  (S)ecured   : X = Secured, . = Not Secured\n"
    "  (E)xpanded  : X = Source Device Expanded, . = Source Device Not Expanded\n"
    "  (B)ackground: X = Background define in progress, . = No Background define\n\n";

const char kLinkLegend[] =
    "\nFlgs:\n"
    "  (F)ailed    : X = Failed, . = No Failure\n"
    "  (C)opy      : I = CopyInProg, C = Copied, . = NoCopy Link\n"
    "  (M)odified  : X = Modified Target Data, . = Not Modified\n"
    "  (D)efined   : X = All Tracks Defined, . = Define in progress\n"
    "  (S)ecured   : X = Secured, . = Not Secured\n\n";

int ListSnapshots(Invocation* inv, const ArrayInfo& array, const std::vector<int64_t>& devsIn) {
  std::string name = inv->args.Get("-snapshot_name");
  std::vector<int64_t> devs = devsIn;
  if (devs.empty()) {
    Stmt s(inv->db->handle(), "SELECT DISTINCT dev FROM snapshots WHERE serial=? ORDER BY dev");
    s.Bind(1, array.serial);
    while (s.Step()) devs.push_back(s.Int(0));
  }
  std::set<int64_t> linkedSnaps, restoreSnaps;
  for (const Link& l : Links(inv->db, array.serial)) linkedSnaps.insert(l.snap.id);
  for (const Restore& r : Restores(inv->db, array.serial)) restoreSnaps.insert(r.snap.id);
  std::string rows;
  for (int64_t d : devs) {
    std::vector<Snap> snaps = SnapsOf(inv->db, array.serial, d);
    std::vector<std::string> names;
    for (const Snap& s : snaps) {
      if ((name.empty() || s.name == name) &&
          std::find(names.begin(), names.end(), s.name) == names.end()) {
        names.push_back(s.name);
      }
    }
    for (const std::string& n : names) {
      int64_t gens = 0;
      const Snap* newest = nullptr;
      bool linked = false, restore = false;
      for (const Snap& s : snaps) {
        if (s.name != n) continue;
        if (!newest) newest = &s;
        ++gens;
        linked = linked || linkedSnaps.count(s.id);
        restore = restore || restoreSnaps.count(s.id);
      }
      std::string flags = "....";
      if (newest->failed) flags[0] = 'X';
      if (linked) flags[1] = 'X';
      if (restore) flags[2] = 'X';
      rows += Pad(FormatDev(d), kDevCol) + Pad(n, kNameCol) + PadLeft(std::to_string(gens), 4) +
              " " + flags + " .... " + Timestamp(newest->created) + "\n";
    }
  }
  if (rows.empty()) return inv->Fail(kNoSnapshot);
  std::string& o = inv->out;
  o += Banner(array);
  const std::string ruler =
      Rule(kDevCol - 1) + " " + Rule(kNameCol - 1) + " ---- ---- ---- ------------------------";
  o += Rule(ruler.size()) + "\n";
  o += Pad("Sym", kDevCol) + Pad("", kNameCol) + " Num Flags\n";
  o += Pad("Dev", kDevCol) + Pad("Snapshot Name", kNameCol) + "Gens FLRG TSEB Last Snapshot Timestamp\n";
  o += ruler + "\n";
  o += rows + kListLegend;
  return kExitOk;
}

void CountListing(StateDb* db, const char* table, const char* keyColumn, const std::string& serial,
                  int64_t key) {
  std::string sql = std::string("UPDATE ") + table + " SET listings=listings+1 WHERE serial=? AND " +
                    keyColumn + "=?";
  Stmt s(db->handle(), sql.c_str());
  s.Bind(1, serial).Bind(2, key).Run();
}

int ListLinked(Invocation* inv, const ArrayInfo& array, const std::vector<int64_t>& devs) {
  std::string name = inv->args.Get("-snapshot_name");
  bool byTarget = inv->args.Has("-by_tgt");
  std::set<int64_t> wantTargets, wantSources(devs.begin(), devs.end());
  if (inv->args.Has("-lndev")) {
    std::vector<int64_t> t;
    std::string error;
    if (!ParseDevList(inv->args.Get("-lndev"), &t, &error)) return inv->Fail(error);
    wantTargets.insert(t.begin(), t.end());
  }
  std::vector<Link> shown;
  for (const Link& l : Links(inv->db, array.serial)) {
    if (!name.empty() && l.snap.name != name) continue;
    if (!wantSources.empty() && !wantSources.count(l.snap.dev)) continue;
    if (!wantTargets.empty() && !wantTargets.count(l.target)) continue;
    shown.push_back(l);
  }
  if (shown.empty()) return inv->Fail(byTarget || !wantTargets.empty() ? kNoLinkTarget : kNoInfo);
  for (Link& l : shown) {
    CountListing(inv->db, "links", "target", array.serial, l.target);
    ++l.listings;
  }
  if (!byTarget) {
    std::sort(shown.begin(), shown.end(), [](const Link& a, const Link& b) {
      return a.snap.dev != b.snap.dev ? a.snap.dev < b.snap.dev : a.target < b.target;
    });
  }
  std::string& o = inv->out;
  o += Banner(array);
  const std::string ruler =
      byTarget ? Rule(kDevCol - 1) + " " + Rule(kDevCol - 1) + " " + Rule(kNameCol - 1) +
                     " ---- ----- ------------------------"
               : Rule(kDevCol - 1) + " " + Rule(kNameCol - 1) +
                     " ----- ----- ---- ------------------------";
  // The banner's rule is as wide as the table's rulers.
  o += Rule(ruler.size()) + "\n";
  if (byTarget) {
    o += "Sym   Sym\n";
    o += Pad("Tgt", kDevCol) + Pad("Src", kDevCol) + Pad("Snapshot Name", kNameCol) +
         " Gen Flgs  Snapshot Timestamp\n";
    o += ruler + "\n";
    for (const Link& l : shown) {
      o += Pad(FormatDev(l.target), kDevCol) + Pad(FormatDev(l.snap.dev), kDevCol) +
           Pad(l.snap.name, kNameCol) + PadLeft(std::to_string(l.snap.gen), 4) + " " +
           LinkFlags(inv, l) + " " + Timestamp(l.snap.created) + "\n";
    }
  } else {
    o += Pad("Sym", kDevCol) + Pad("", kNameCol) + "Link  Flgs\n";
    o += Pad("Dev", kDevCol) + Pad("Snapshot Name", kNameCol) + "Dev   FCMDS  Gen Snapshot Timestamp\n";
    o += ruler + "\n";
    for (const Link& l : shown) {
      o += Pad(FormatDev(l.snap.dev), kDevCol) + Pad(l.snap.name, kNameCol) +
           Pad(FormatDev(l.target), kDevCol) + LinkFlags(inv, l) +
           PadLeft(std::to_string(l.snap.gen), 5) + " " + Timestamp(l.snap.created) + "\n";
    }
  }
  o += kLinkLegend;
  return kExitOk;
}

int ListRestored(Invocation* inv, const ArrayInfo& array, const std::vector<int64_t>& devs) {
  std::string name = inv->args.Get("-snapshot_name");
  std::set<int64_t> want(devs.begin(), devs.end());
  std::vector<Restore> shown;
  for (const Restore& r : Restores(inv->db, array.serial)) {
    if (!name.empty() && r.snap.name != name) continue;
    if (!want.empty() && !want.count(r.dev)) continue;
    shown.push_back(r);
  }
  if (shown.empty()) return inv->Fail(kNoInfo);
  for (Restore& r : shown) {
    CountListing(inv->db, "restores", "dev", array.serial, r.dev);
    ++r.listings;
  }
  std::string& o = inv->out;
  o += Banner(array);
  bool detail = inv->args.Has("-detail");
  const std::string ruler = Rule(kDevCol - 1) + " " + Rule(kNameCol - 1) +
                            " ---- ----- ------------------------" +
                            (detail ? " ---------- ----" : "");
  o += Rule(ruler.size()) + "\n";
  o += Pad("Sym", kDevCol) + Pad("", kNameCol) + "     Flgs" +
       (detail ? "                               Remaining  Done" : "") + "\n";
  o += Pad("Dev", kDevCol) + Pad("Snapshot Name", kNameCol) + " Gen FCMDS Snapshot Timestamp" +
       (detail ? "         (Tracks)   (%)" : "") + "\n";
  o += ruler + "\n";
  int64_t total = 0;
  Stmt cyl(inv->db->handle(), "SELECT cylinders FROM devices WHERE serial=? AND dev=?");
  for (const Restore& r : shown) {
    int percent = RestorePercent(inv, r);
    std::string flags = ".....";
    if (r.snap.failed) flags[0] = 'X';
    if (percent >= kFullPercent) flags[3] = 'X';
    o += Pad(FormatDev(r.dev), kDevCol) + Pad(r.snap.name, kNameCol) +
         PadLeft(std::to_string(r.snap.gen), 4) + " " + flags + " " + Timestamp(r.snap.created);
    if (detail) {
      cyl.Reset();
      cyl.Bind(1, array.serial).Bind(2, r.dev);
      int64_t tracks = cyl.Step() ? cyl.Int(0) * kTracksPerCylinder : 0;
      int64_t remaining = tracks * (kFullPercent - percent) / kFullPercent;
      total += remaining;
      o += PadLeft(std::to_string(remaining), 11) + PadLeft(std::to_string(percent), 5);
    }
    o += "\n";
  }
  if (detail) {
    // The total stands under the Remaining column.
    o += std::string(kDevCol + kNameCol + 36, ' ') + Rule(10) + "\n";
    o += std::string(kDevCol + kNameCol + 36, ' ') + PadLeft(std::to_string(total), 10) + "\n";
  }
  o += kLinkLegend;
  return kExitOk;
}

int List(Invocation* inv, const ArrayInfo& array) {
  std::vector<int64_t> devs;
  int code = kExitOk;
  if (!SourceDevices(inv, array, &devs, false, &code)) return code;
  if (inv->args.Has("-restored")) return ListRestored(inv, array, devs);
  if (inv->args.Has("-linked")) return ListLinked(inv, array, devs);
  if (inv->args.Has("-by_tgt") || inv->args.Has("-lndev")) {
    return inv->Fail("-by_tgt and -lndev go with -linked", kExitUsage);
  }
  return ListSnapshots(inv, array, devs);
}

}  // namespace

const ArgSpec& SnapvxSpec() {
  static const ArgSpec spec{
      {"-sid", "-file", "-devs", "-sg", "-name", "-snapshot_name", "-lndev", "-generation",
       "-output"},
      {"-noprompt", "-symforce", "-copy", "-linked", "-by_tgt", "-detail", "-restored", "-v",
       "-nocopy", "-i", "-force"}};
  return spec;
}

int RunSnapvx(Invocation* inv) {
  ArrayInfo array;
  int code = kExitOk;
  if (!ResolveArray(inv, &array, &code)) return code;
  const std::vector<std::string>& w = inv->args.words();
  if (w.size() != 1) {
    return inv->Fail("One action (establish, terminate, list, link, unlink, restore) must be "
                     "specified", kExitUsage);
  }
  if (w[0] == "establish") return Establish(inv, array);
  if (w[0] == "terminate") return Terminate(inv, array);
  if (w[0] == "list") return List(inv, array);
  if (w[0] == "link") return LinkCmd(inv, array);
  if (w[0] == "unlink") return Unlink(inv, array);
  if (w[0] == "restore") return RestoreCmd(inv, array);
  return inv->Fail("Unknown action: " + w[0], kExitUsage);
}

}  // namespace symsim
