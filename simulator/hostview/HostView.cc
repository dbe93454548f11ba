#include "simulator/hostview/HostView.h"

#include <sys/stat.h>

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

// Idle connections kept for the process's life, across all worlds.
constexpr size_t kIdleConnections = 8;

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Which state file a connection reads: a world removed and made anew under
// the same directory is another file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId& o) const {
    return device == o.device && inode == o.inode;
  }
};

bool StateFileId(const std::string& stateDir, FileId* id) {
  struct stat st;
  if (stat(StatePath(stateDir).c_str(), &st) != 0) return false;
  id->device = st.st_dev;
  id->inode = st.st_ino;
  return true;
}

// A host opens a view for every device it inquires. Opening a connection
// reads the schema and, when no other connection has the world open, makes
// SQLite rebuild the write-ahead log's shared-memory index from the whole
// log (megabytes in a world of thousands of devices). A view's connection
// is therefore given back when the view ends and handed to the next view of
// the same state file. An idle connection holds no transaction, so the next
// view's statements see what the tools have committed since.
struct IdleConnection {
  std::string stateDir;
  FileId file;
  std::unique_ptr<StateDb> db;
};

std::mutex& PoolMutex() {
  static std::mutex mutex;
  return mutex;
}

std::deque<IdleConnection>& Pool() {
  static std::deque<IdleConnection>* pool = new std::deque<IdleConnection>();
  return *pool;
}

std::unique_ptr<StateDb> TakeIdle(const std::string& stateDir, const FileId& file) {
  std::lock_guard<std::mutex> lock(PoolMutex());
  std::deque<IdleConnection>& pool = Pool();
  for (auto it = pool.begin(); it != pool.end(); ++it) {
    if (it->stateDir != stateDir) continue;
    if (!(it->file == file)) {
      pool.erase(it);  // the world was made anew; this reads the old file
      return nullptr;
    }
    std::unique_ptr<StateDb> db = std::move(it->db);
    pool.erase(it);
    return db;
  }
  return nullptr;
}

void GiveBack(const std::string& stateDir, const FileId& file,
              std::unique_ptr<StateDb> db) {
  std::lock_guard<std::mutex> lock(PoolMutex());
  std::deque<IdleConnection>& pool = Pool();
  if (pool.size() == kIdleConnections) pool.pop_front();
  pool.push_back(IdleConnection{stateDir, file, std::move(db)});
}
}  // namespace

std::string DeviceInquiryModeKey(const std::string& serial, int64_t dev) {
  return std::string(kSetInquiryMode) + ":" + serial + ":" + FormatDev(dev);
}

InquiryMode DeviceInquiryMode(StateDb* db, const std::string& serial, int64_t dev) {
  InquiryMode mode = InquiryMode::kLong;
  std::string text = db->Setting(DeviceInquiryModeKey(serial, dev), "");
  if (text.empty()) text = db->Setting(kSetInquiryMode, "");
  if (!text.empty()) ParseInquiryMode(text, &mode);
  return mode;
}

std::string SimulatedPath(const std::string& host, const std::string& serial,
                          int64_t dev) {
  return kPathPrefix + host + ":" + serial + "_" + FormatDev(dev);
}

HostView::HostView(std::unique_ptr<StateDb> db) : db_(std::move(db)) {}

HostView::~HostView() {
  if (!db_ || stateDir_.empty()) return;
  FileId file;
  file.device = dev_t(file_.device);
  file.inode = ino_t(file_.inode);
  GiveBack(stateDir_, file, std::move(db_));
}

std::unique_ptr<HostView> HostView::Open(const std::string& stateDir,
                                         std::string* error) {
  FileId file;
  bool known = StateFileId(stateDir, &file);
  std::unique_ptr<StateDb> db = known ? TakeIdle(stateDir, file) : nullptr;
  if (!db) db = StateDb::Open(stateDir, false, error);
  if (!db) return nullptr;
  std::unique_ptr<HostView> view(new HostView(std::move(db)));
  if (known) {
    view->stateDir_ = stateDir;
    view->file_.device = uint64_t(file.device);
    view->file_.inode = uint64_t(file.inode);
  }
  return view;
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
      InquiryMode mode = DeviceInquiryMode(db_.get(), serial, dev);
      entries->push_back("{idatype:vmware,standardinqury:" +
                         HexBytes(StandardInquiry(serial, s.Text(3), dev, mode)) +
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
    // The host named in the path leads to the row by its key.
    std::string host = path.substr(sizeof kPathPrefix - 1);
    host = host.substr(0, host.find(':'));
    Stmt s(db_->handle(),
           "SELECT d.serial, d.dev, a.microcode FROM host_devices d "
           "JOIN arrays a ON a.serial=d.serial "
           "JOIN devices v ON v.serial=d.serial AND v.dev=d.dev "
           "WHERE d.host=? AND d.path=?");
    s.Bind(1, host).Bind(2, path);
    if (!s.Step()) return Fail(error, "no such device: " + path);
    std::string serial = s.Text(0);
    int64_t dev = s.Int(1);
    // A device whose masking was removed answers no more (the host still
    // lists it until its next rescan).
    if (!DeviceVisible(db_.get(), host, serial, dev)) {
      return Fail(error, "device no longer visible: " + path);
    }
    InquiryMode mode = DeviceInquiryMode(db_.get(), serial, dev);
    if (!evpd) {
      *data = StandardInquiry(serial, s.Text(2), dev, mode);
      return true;
    }
    if (page != kPageDeviceId) return Fail(error, "unsupported VPD page");
    *data = DeviceIdPage(serial, dev, mode);
    return true;
  } catch (const DbError& e) {
    return Fail(error, e.what());
  }
}

}  // namespace symsim
