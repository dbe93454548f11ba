// Creating the objects of a simulated world, one by one (the admin program's
// commands) or all at once (the demo world).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "simulator/state/StateDb.h"

namespace symsim {

// A request the world refuses (bad name, unknown object, duplicate).
class UserError : public std::runtime_error {
 public:
  explicit UserError(const std::string& what) : std::runtime_error(what) {}
};

constexpr int kSnapLimitVmax3 = 256;
constexpr int kSnapLimitPowerMax = 1024;

// Creates the world directory, its state file and bin/ with the five tool
// names pointing at `toolPath`. Keeps an existing world.
void InitWorld(const std::string& dir, const std::string& toolPath,
               const std::string& seVersion);

// The snapshot limit per source device of a model ("PowerMax_8000": 1,024;
// VMAX3 models: 256).
int SnapLimitForModel(const std::string& model);

void AddArray(StateDb* db, const std::string& serial, const std::string& model,
              const std::string& microcode, int snapLimit);
void AddDevices(StateDb* db, const std::string& serial, int64_t first,
                int64_t count, int64_t cylinders, bool thin, bool mapped);
void AddGroup(StateDb* db, const std::string& serial, const std::string& name);
void AddGroupDevices(StateDb* db, const std::string& serial,
                     const std::string& name, const std::vector<int64_t>& devs);
void AddChildGroup(StateDb* db, const std::string& serial,
                   const std::string& parent, const std::string& child);
void AddPortGroup(StateDb* db, const std::string& serial, const std::string& name,
                  const std::vector<std::string>& ports);
void AddInitiatorGroup(StateDb* db, const std::string& serial,
                       const std::string& name, const std::vector<std::string>& fc,
                       const std::vector<std::string>& iscsi);
void AddView(StateDb* db, const std::string& serial, const std::string& name,
             const std::string& ig, const std::string& pg, const std::string& sg);
void AddHost(StateDb* db, const std::string& name, bool esx,
             const std::vector<std::string>& fc, const std::vector<std::string>& iscsi);

struct DemoOptions {
  std::string serial = "000197800123";
  std::string host = "demohost";
  std::string model = "PowerMax_8000";
  std::string microcode = "5978.669.669";
  int targetsPerSize = 20;  // free targets of each source size
};

// Builds the demo world into `dir` (already initialised) and returns its
// description: serial, host, initiators, sources, target and mount groups.
nlohmann::json BuildDemo(const std::string& dir, StateDb* db,
                         const DemoOptions& options);

// The whole state as JSON.
nlohmann::json DumpWorld(StateDb* db);

}  // namespace symsim
