// End-to-end test world: a temporary directory with a simulated array world
// and pzhost homes, driven through the pzhost and symsim programs (run as
// processes with the project's runner).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostruntime/ProcessRunner.h"

namespace e2e {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
  nlohmann::json json;  // standard output parsed (discarded when not JSON)
  std::string Describe() const;
};

Result RunProgram(const std::vector<std::string>& argv, const std::string* input = nullptr);
// The program's outcome as the runner gives it (for jobs run side by side,
// which check start failures and kills at the limit themselves).
hostrt::ProcessOutcome RunChild(const std::vector<std::string>& argv, long long timeoutMs,
                                const std::string* input = nullptr);

class World {
 public:
  // A new demo world; `demoArgs` go to symsim init-demo.
  explicit World(const std::vector<std::string>& demoArgs = {});
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& world() const { return world_; }
  const nlohmann::json& demo() const { return demo_; }
  std::string serial() const { return demo_.value("serial", ""); }
  std::string host() const { return demo_.value("host", ""); }
  std::string Source(size_t i) const;
  std::string SourceDevice(size_t i) const;

  // symsim --state WORLD args...
  Result Symsim(std::vector<std::string> args);
  // pzhost --home HOME args... (with --json when `json`)
  Result Pzhost(const std::string& home, std::vector<std::string> args, bool json = true,
                const std::string* input = nullptr);
  // A home for `simulatedHost` that knows the demo array and the target
  // group; no waits.
  std::string MakeHome(const std::string& name, const std::string& simulatedHost,
                       const std::string& client = "");
  // The first array of the simulated world as `symsim show --json` gives it.
  nlohmann::json ArrayState();
  // The devices of the storage group the demo world names under `which`
  // ("mountStorageGroup", "targetStorageGroup").
  std::set<std::string> GroupMembers(const std::string& which);
  // The demo sources of the sizes of the target group's devices (only they
  // can be linked to the targets).
  std::vector<nlohmann::json> LinkableSources();
  // The snapshots of `home`'s catalog (`pzhost list`).
  nlohmann::json Catalog(const std::string& home);
  // The snapshot id a --json backup printed.
  static int SnapshotId(const Result& backup);

 private:
  std::string SourceItem(size_t i, const char* key) const;
  std::string dir_;
  std::string world_;
  nlohmann::json demo_;
};

// The password of the array record of every home MakeHome makes; .ci/run
// hands the same text to the secrets check (PZ_ARRAY_PASSWORD).
constexpr const char* kTestArrayPassword = "Pz-e2e-array-secret-4711";

// True when the built plug-in has every export (pzhost loads it).
bool PluginReady();
constexpr const char* kPluginNotReady =
    "the plug-in in the build tree does not export every pzso_* function";

// An environment variable as a number; `fallback` when unset or empty.
int EnvInt(const char* name, int fallback);
// Runs every command line at once, each from its own thread.
std::vector<hostrt::ProcessOutcome> RunAtOnce(const std::vector<std::vector<std::string>>& argvs,
                                              long long timeoutMs);
// No target is linked to two snapshots, and every reservation stands for a
// link of the snapshot `holder` names for it ("" for an unknown holder).
void ExpectLinksMatchReservations(const nlohmann::json& links, const nlohmann::json& reservations,
                                  const std::function<std::string(const nlohmann::json&)>& holder);

std::string PzhostPath();
std::string SymsimPath();
bool ReadFile(const std::string& path, std::string* content);
std::vector<std::string> ListDir(const std::string& path);

}  // namespace e2e
