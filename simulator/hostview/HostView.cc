#include "simulator/hostview/HostView.h"

#include <deque>
#include <mutex>
#include <set>

#include "simulator/scsi/Inquiry.h"
#include "simulator/state/DevNum.h"
#include "simulator/state/StateDb.h"
#include "simulator/state/Topology.h"

namespace symsim {

namespace {
constexpr char kPathPrefix[] = "symsim:";

// Worlds whose write-ahead-log index this process keeps alive.
constexpr size_t kKeptIndexes = 8;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// A host opens a view for every device it inquires. When no other
// connection has the world open, SQLite rebuilds the log's shared-memory
// index from the whole write-ahead log on open (megabytes in a world of
// thousands of devices). One idle connection per world, kept for the
// process's life, keeps that index valid, so an open costs only the schema.
// It runs no statement after its first read, so it shares nothing with the
// views.
void KeepLogIndex(const std::string& stateDir) {
  static std::mutex mutex;
  static std::deque<std::pair<std::string, std::unique_ptr<StateDb>>> kept;
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto& k : kept)
    if (k.first == stateDir) return;
  std::unique_ptr<StateDb> db = StateDb::Open(stateDir, false, nullptr);
  if (!db) return;
  try {
    Stmt first(db->handle(), "SELECT count(*) FROM sqlite_master");
    first.Step();
  } catch (const DbError&) {
    return;
  }
  if (kept.size() == kKeptIndexes) kept.pop_front();
  kept.emplace_back(stateDir, std::move(db));
}
}  // namespace

std::string SimulatedPath(const std::string& host, const std::string& serial,
                          int64_t dev) {
  return kPathPrefix + host + ":" + serial + "_" + FormatDev(dev);
}

HostView::HostView(std::unique_ptr<StateDb> db) : db_(std::move(db)) {}
HostView::~HostView() = default;

std::unique_ptr<HostView> HostView::Open(const std::string& stateDir,
                                         std::string* error) {
  std::unique_ptr<StateDb> db = StateDb::Open(stateDir, false, error);
  if (!db) return nullptr;
  KeepLogIndex(stateDir);
  return std::unique_ptr<HostView>(new HostView(std::move(db)));
}

bool HostView::IsSimulatedPath(const std::string& path) {
  return path.compare(0, sizeof kPathPrefix - 1, kPathPrefix) == 0;
}

bool HostView::HostExists(const std::string& host, std::string* error) {
  Stmt s(db_->handle(), "SELECT 1 FROM hosts WHERE name=?");
  s.Bind(1, host);
  if (s.Step()) return true;
  return Fail(error, "simulated host '" + host + "' does not exist");
}

bool HostView::IsEsx(const std::string& host, bool* esx, std::string* error) {
  try {
    Stmt s(db_->handle(), "SELECT esx FROM hosts WHERE name=?");
    s.Bind(1, host);
    if (!s.Step()) return Fail(error, "simulated host '" + host + "' does not exist");
    *esx = s.Int(0) != 0;
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

bool HostView::Initiators(const std::string& host, std::vector<SimInitiator>* out,
                          std::string* error) {
  try {
    if (!HostExists(host, error)) return false;
    Stmt s(db_->handle(),
           "SELECT name, type FROM host_initiators WHERE host=? ORDER BY rowid");
    s.Bind(1, host);
    out->clear();
    while (s.Step()) {
      int type = static_cast<int>(s.Int(1));
      std::string name = s.Text(0);
      if (type == kSimInitiatorFc) name = NormalizeInitiator(name);
      out->push_back({name, type});
    }
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

bool HostView::Devices(const std::string& host, std::vector<std::string>* paths,
                       std::string* error) {
  try {
    if (!HostExists(host, error)) return false;
    Stmt s(db_->handle(), "SELECT path FROM host_devices WHERE host=? ORDER BY path");
    s.Bind(1, host);
    paths->clear();
    while (s.Step()) paths->push_back(s.Text(0));
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

bool HostView::EsxDeviceEntries(const std::string& host,
                                std::vector<std::string>* entries,
                                std::string* error) {
  try {
    if (!HostExists(host, error)) return false;
    Stmt s(db_->handle(),
           "SELECT d.path, d.serial, d.dev, a.microcode FROM host_devices d "
           "JOIN arrays a ON a.serial=d.serial WHERE d.host=? ORDER BY d.path");
    s.Bind(1, host);
    entries->clear();
    while (s.Step()) {
      std::string serial = s.Text(1);
      int64_t dev = s.Int(2);
      entries->push_back("{idatype:vmware,standardinqury:" +
                         HexBytes(StandardInquiry(serial, s.Text(3), dev)) +
                         ",lunuuid:" + LunUuid(serial, dev) + ",path:" + s.Text(0) + "}");
    }
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

bool HostView::Rescan(const std::string& host,
                      const std::vector<std::string>& removePaths,
                      std::string* error) {
  try {
    Transaction tx(db_.get());
    if (!HostExists(host, error)) return false;
    Stmt del(db_->handle(), "DELETE FROM host_devices WHERE host=? AND path=?");
    for (const std::string& path : removePaths) {
      del.Reset();
      del.Bind(1, host).Bind(2, path).Run();
    }
    std::set<DevKey> visible = VisibleDevices(db_.get(), host);
    Stmt clear(db_->handle(), "DELETE FROM host_devices WHERE host=?");
    clear.Bind(1, host).Run();
    Stmt add(db_->handle(),
             "INSERT INTO host_devices(host, path, serial, dev) VALUES(?,?,?,?)");
    for (const DevKey& key : visible) {
      add.Reset();
      add.Bind(1, host).Bind(2, SimulatedPath(host, key.first, key.second))
          .Bind(3, key.first).Bind(4, key.second).Run();
    }
    tx.Commit();
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

bool HostView::Inquiry(const std::string& path, bool evpd, uint8_t page,
                       std::vector<uint8_t>* data, std::string* error) {
  try {
    if (!IsSimulatedPath(path)) return Fail(error, "not a simulated device path: " + path);
    Stmt s(db_->handle(),
           "SELECT d.serial, d.dev, a.microcode FROM host_devices d "
           "JOIN arrays a ON a.serial=d.serial "
           "JOIN devices v ON v.serial=d.serial AND v.dev=d.dev WHERE d.path=?");
    s.Bind(1, path);
    if (!s.Step()) return Fail(error, "no such device: " + path);
    std::string serial = s.Text(0);
    int64_t dev = s.Int(1);
    // A device whose masking was removed answers no more (the host still
    // lists it until its next rescan).
    std::string host = path.substr(sizeof kPathPrefix - 1);
    host = host.substr(0, host.find(':'));
    if (!DeviceVisible(db_.get(), host, serial, dev)) {
      return Fail(error, "device no longer visible: " + path);
    }
    if (!evpd) {
      *data = StandardInquiry(serial, s.Text(2), dev);
      return true;
    }
    if (page != kPageDeviceId) return Fail(error, "unsupported VPD page");
    *data = DeviceIdPage(serial, dev);
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

}  // namespace symsim
