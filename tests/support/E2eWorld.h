// End-to-end test world: a temporary directory with a simulated array world
// and pzhost homes, driven through the pzhost and symsim programs (run as
// processes with the project's runner).
#pragma once

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

Result RunProgram(const std::vector<std::string>& argv,
                  const std::string* input = nullptr);
// The program's outcome as the runner gives it (for jobs run side by side,
// which check start failures and kills at the limit themselves).
hostrt::ProcessOutcome RunChild(const std::vector<std::string>& argv,
                                long long timeoutMs,
                                const std::string* input = nullptr);

class World {
 public:
  World();
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
  Result Pzhost(const std::string& home, std::vector<std::string> args,
                bool json = true, const std::string* input = nullptr);
  // A home for `simulatedHost` that knows the demo array and the target
  // group; no waits.
  std::string MakeHome(const std::string& name, const std::string& simulatedHost,
                       const std::string& client = "");
  // The snapshot id a --json backup printed.
  static int SnapshotId(const Result& backup);

 private:
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

std::string PzhostPath();
std::string SymsimPath();
bool ReadFile(const std::string& path, std::string* content);
std::vector<std::string> ListDir(const std::string& path);

}  // namespace e2e
