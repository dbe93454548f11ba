// demo: the whole snapshot lifecycle in a fresh home against a fresh
// simulated world, one readable block per step with the SYMCLI commands the
// plug-in ran in it.
#include <ftw.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "host/HostConstants.h"
#include "host/HostServices.h"
#include "pzhost/Verbs.h"

namespace pzhost {

namespace {

constexpr int kDemoArrayNumber = 1;
constexpr const char* kDemoClient = "demo-backup-host";
constexpr const char* kTargetGroupConfig = "SMCONFIG_LINK_DEVICE_STORAGE_GROUP";
constexpr int kMaxOpenFds = 16;
// The demo's reverts act on its own throw-away world.
const ChangeOptions kConfirmed{false, true};

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

std::string Quote(const std::string& word) { return "\"" + word + "\""; }

class Demo {
 public:
  Demo(const GlobalOptions& global, Output* out, const DemoOptions& o)
      : global_(global), out_(out), options_(o) {}
  int Run();

 private:
  bool Setup(std::string* error);
  // Finds symsim and makes the directory the world and the home live in.
  bool MakeDirectory(std::string* error);
  // Makes the demo home on the world and gives it the array and target group.
  bool MakeHome(const std::string& home, std::string* error);
  bool Symsim(const std::string& args, std::string* output, std::string* error);
  // Runs one verb as a step and shows the commands it made the tools run.
  template <typename Fn>
  bool Step(const std::string& title, int expected, Fn verb);
  void ShowToolCommands();
  bool TerminateBehindTheHostsBack(int snapshotId, std::string* error);

  GlobalOptions global_;
  Output* out_;
  DemoOptions options_;
  std::string dir_, world_, symsim_;
  nlohmann::json demo_;
  std::unique_ptr<hostrt::PosixEnv> bootEnv_;
  hostrt::Env* previousEnv_ = nullptr;
  std::unique_ptr<Session> session_;
  size_t auditSeen_ = 0;
  int stepNumber_ = 0;
  nlohmann::json steps_ = nlohmann::json::array();
  int lastSnapshot_ = 0;
};

bool Demo::Symsim(const std::string& args, std::string* output,
                  std::string* error) {
  std::string stderrText;
  PzProcess process;
  int rc = process.system(Quote(symsim_) + " --state " + Quote(world_) + " " +
                              args,
                          output, &stderrText, 0, false);
  if (rc != 0) {
    if (error)
      *error = "symsim " + args + " failed (" + std::to_string(rc) + "): " +
               stderrText;
    return false;
  }
  return true;
}

bool Demo::MakeDirectory(std::string* error) {
  symsim_ = options_.symsim;
  if (symsim_.empty()) {
    std::string dir = ProgramDirectory();
    for (const std::string& c : {dir + "/../simulator/symsim", dir + "/symsim"})
      if (::access(c.c_str(), X_OK) == 0) {
        symsim_ = c;
        break;
      }
  }
  if (symsim_.empty()) {
    *error = "cannot find symsim (give --symsim PATH)";
    return false;
  }
  if (!options_.keep.empty()) {
    dir_ = ResolveHomeDir(options_.keep);
    if (::mkdir(dir_.c_str(), kHomeMode) != 0) {
      *error = "--keep needs a new directory: " + dir_;
      return false;
    }
  } else {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/pzhost-demo-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
      *error = "cannot make a temporary directory";
      return false;
    }
    dir_ = buf.data();
  }
  return true;
}

bool Demo::Setup(std::string* error) {
  if (!MakeDirectory(error)) return false;
  world_ = dir_ + "/world";
  std::string home = dir_ + "/home";
  out_->Line("demo world " + world_ + ", host home " + home);
  // Until the home exists the demo runs as that host all the same.
  bootEnv_.reset(new hostrt::PosixEnv(home));
  previousEnv_ = hostrt::SetCurrentEnv(bootEnv_.get());

  std::string output;
  if (!Symsim("init-demo --json", &output, error)) return false;
  demo_ = nlohmann::json::parse(output, nullptr, false);
  if (demo_.is_discarded() || !demo_.contains("serial") ||
      !demo_.contains("host") || !demo_.contains("sources") ||
      demo_["sources"].size() < 2) {
    *error = "symsim init-demo gave an unexpected description";
    return false;
  }
  // A device in the mount group from the start, as on a host in use.
  std::string serial = demo_["serial"].get<std::string>();
  std::string mountGroup = demo_.value("mountStorageGroup", "");
  if (!Symsim("device --sid " + serial + " --dev 00F00 --cyl 1092", &output,
              error) ||
      !Symsim("sg --sid " + serial + " --name " + mountGroup + " --devs 00F00",
              &output, error))
    return false;
  if (!MakeHome(home, error)) return false;
  if (!Symsim("audit --json", &output, nullptr)) return true;
  nlohmann::json rows = nlohmann::json::parse(output, nullptr, false);
  if (rows.is_array()) auditSeen_ = rows.size();
  return true;
}

bool Demo::MakeHome(const std::string& home, std::string* error) {
  GlobalOptions g = global_;
  g.home = home;
  InitOptions init;
  init.symcliHome = world_;
  init.simulatedHost = demo_["host"].get<std::string>();
  init.clientName = kDemoClient;
  Output quiet(true, false);
  if (RunInit(g, &quiet, init) != kExitSuccess) {
    *error = "cannot create the demo home";
    return false;
  }
  session_.reset(new Session(g, out_));
  if (!session_->Open(error)) return false;
  session_->settings().Set(kSectionHost, kKeySleepScale, "0");
  if (!SaveSettings(session_->home(), session_->settings(), error) ||
      !session_->env().ReloadSettings(error))
    return false;
  ArrayOptions array;
  array.serial = demo_["serial"].get<std::string>();
  array.number = kDemoArrayNumber;
  if (RunArrayAdd(*session_, array) != kExitSuccess ||
      RunConfigSet(*session_, true, "", kTargetGroupConfig,
                   demo_.value("targetStorageGroup", ""), false) != kExitSuccess) {
    *error = "cannot configure the demo home";
    return false;
  }
  // The array numbers are read when a session opens.
  session_.reset(new Session(g, out_));
  if (!session_->Open(error)) return false;
  return true;
}

void Demo::ShowToolCommands() {
  std::string output;
  if (!Symsim("audit --json", &output, nullptr)) return;
  nlohmann::json rows = nlohmann::json::parse(output, nullptr, false);
  if (!rows.is_array()) return;
  for (size_t i = auditSeen_; i < rows.size(); ++i) {
    const nlohmann::json& row = rows[i];
    std::string line = "    array: " + row.value("tool", std::string("?"));
    if (row.contains("args") && row["args"].is_array())
      for (const auto& a : row["args"])
        if (a.is_string()) line += " " + a.get<std::string>();
    if (row.contains("exitCode") && row["exitCode"].is_number() &&
        row["exitCode"].get<int>() != 0)
      line += "  -> exit " + std::to_string(row["exitCode"].get<int>());
    out_->Line(line);
  }
  auditSeen_ = rows.size();
}

template <typename Fn>
bool Demo::Step(const std::string& title, int expected, Fn verb) {
  ++stepNumber_;
  out_->Line("");
  out_->Line("== " + std::to_string(stepNumber_) + ". " + title);
  Output stepOut(global_.json, global_.verbose);
  session_->set_out(&stepOut);
  int code = verb(*session_);
  session_->set_out(out_);
  ShowToolCommands();
  bool ok = code == expected;
  steps_.push_back({{"step", title}, {"exitCode", code}, {"ok", ok},
                    {"result", stepOut.doc()}});
  if (!ok)
    out_->Error("step " + std::to_string(stepNumber_) + " (" + title +
                ") ended with exit code " + std::to_string(code));
  return ok;
}

// An administrator terminates the snapshot with the array's own tool.
bool Demo::TerminateBehindTheHostsBack(int snapshotId, std::string* error) {
  SnapshotRecord snap;
  bool found = false;
  if (!session_->catalog().GetSnapshot(snapshotId, &snap, &found, error) ||
      !found)
    return false;
  std::string devices;
  for (const DeviceRecord& d : snap.devices) {
    auto it = d.metadata.find(PZSO::SM_MDT_SNAP_UNIQUE_ID);
    if (it == d.metadata.end()) continue;
    size_t a = it->second.find('|');
    size_t b = it->second.find('|', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    devices += it->second.substr(a + 1, b - a - 1) + "\n";
  }
  std::string file = dir_ + "/terminate-devices.txt";
  if (!WriteFileAtomic(file, devices, error)) return false;
  std::string line = Quote(world_ + "/bin/symsnapvx") + " -sid " + snap.array +
                     " -file " + Quote(file) + " -snapshot_name " + snap.name +
                     " terminate -noprompt";
  std::string output, stderrText;
  PzProcess process;
  int rc = process.system(line, &output, &stderrText, 0, false);
  out_->Line("    admin: symsnapvx -sid " + snap.array + " -file " + file +
             " -snapshot_name " + snap.name + " terminate -noprompt");
  if (rc != 0) {
    *error = "terminate failed: " + stderrText + output;
    return false;
  }
  std::string dummy;
  if (Symsim("audit --json", &dummy, nullptr)) {
    nlohmann::json rows = nlohmann::json::parse(dummy, nullptr, false);
    if (rows.is_array()) auditSeen_ = rows.size();
  }
  return true;
}

int Demo::Run() {
  std::string error;
  bool ok = Setup(&error);
  if (!ok) out_->Error(error);
  std::string first, second;
  if (ok) {
    first = demo_["sources"][0].value("path", "");
    // A source of the other size when the world has one.
    size_t other = demo_["sources"].size() > 2 ? 2 : 1;
    second = demo_["sources"][other].value("path", "");
  }
  auto lastId = [this](Session& s) {
    std::vector<SnapshotRecord> all;
    std::string e;
    if (s.catalog().ListSnapshots(&all, &e) && !all.empty())
      lastSnapshot_ = all.back().id;
  };
  int snap1 = 0, snap2 = 0;
  ok = ok && Step("devices of host " + demo_["host"].get<std::string>(),
                  kExitSuccess, [](Session& s) { return RunDevices(s); });
  ok = ok && Step("backup of " + first + " and " + second, kExitSuccess,
                  [&](Session& s) {
                    int c = RunBackup(s, {first, second}, false, false);
                    lastId(s);
                    snap1 = lastSnapshot_;
                    return c;
                  });
  ok = ok && Step("list", kExitSuccess,
                  [](Session& s) { return RunList(s, false); });
  ok = ok && Step("mount snapshot " + std::to_string(snap1), kExitSuccess,
                  [&](Session& s) { return RunMount(s, snap1, false); });
  ok = ok && Step("revert while mounted (refused)", kExitFailure,
                  [&](Session& s) { return RunRevert(s, snap1, kConfirmed); });
  ok = ok && Step("unmount snapshot " + std::to_string(snap1), kExitSuccess,
                  [&](Session& s) { return RunUnmount(s, snap1, {}); });
  ok = ok && Step("revert the sources from snapshot " + std::to_string(snap1),
                  kExitSuccess, [&](Session& s) { return RunRevert(s, snap1, kConfirmed); });
  ok = ok && Step("second backup of the same devices", kExitSuccess,
                  [&](Session& s) {
                    int c = RunBackup(s, {first, second}, false, false);
                    lastId(s);
                    snap2 = lastSnapshot_;
                    return c;
                  });
  if (ok) {
    out_->Line("");
    out_->Line("== the array's administrator terminates snapshot " +
               std::to_string(snap2) + " behind the host's back");
    ok = TerminateBehindTheHostsBack(snap2, &error);
    if (!ok) out_->Error(error);
  }
  ok = ok && Step("reconcile (snapshot " + std::to_string(snap2) +
                      " has vanished: status 24)",
                  kExitSuccess, [](Session& s) { return RunReconcile(s); });
  ok = ok && Step("delete snapshot " + std::to_string(snap2), kExitSuccess,
                  [&](Session& s) { return RunDelete(s, snap2, {}); });
  ok = ok && Step("delete snapshot " + std::to_string(snap1), kExitSuccess,
                  [&](Session& s) { return RunDelete(s, snap1, {}); });
  ok = ok && Step("reservations (none left)", kExitSuccess,
                  [](Session& s) { return RunReservations(s, false); });
  ok = ok && Step("list (empty)", kExitSuccess,
                  [](Session& s) { return RunList(s, false); });
  out_->doc()["steps"] = steps_;
  out_->doc()["world"] = world_;
  session_.reset();
  if (bootEnv_) hostrt::SetCurrentEnv(previousEnv_);
  out_->Line("");
  out_->Line(ok ? "demo finished: every step did what it should"
                : "demo FAILED");
  if (options_.keep.empty() && !dir_.empty())
    nftw(dir_.c_str(), RemoveEntry, kMaxOpenFds, FTW_DEPTH | FTW_PHYS);
  return ok ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunDemo(const GlobalOptions& global, Output* out, const DemoOptions& o) {
  Demo demo(global, out, o);
  return demo.Run();
}

}  // namespace pzhost
