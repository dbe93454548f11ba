// A failing tool at every step of every operation. Each operation runs once
// cleanly to count its tool invocations K; then, from the same starting
// state, invocation k (1..K) is struck, once before the tool changes the
// array and once after. Whatever strikes, pzhost either does the whole job
// or says it failed, its catalog never hides array work from the host, and
// the reverse (or the same) operation followed by a reservation reconcile
// leaves the array and the reservation table clean.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/hardening/OperationFixture.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

using nlohmann::json;

constexpr int kExitSuccess = 0, kExitFailure = 1, kExitPartial = 2;
constexpr int kStatusCreated = 5, kStatusMapped = 12, kStatusUnmapped = 14,
              kStatusReverted = 22;

enum class Strike { kBefore, kAfter };

const char* StrikeName(Strike s) {
  return s == Strike::kBefore ? "before" : "after";
}

// What an operation needs done first, what it runs, and what undoes or
// completes it after a failure.
struct Operation {
  std::string verb;
  std::vector<std::string> before;  // verbs run first on the snapshot
  std::string recovery;             // verb that cleans up after a failure
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"backup", {}, "delete"},
      {"mount", {"backup"}, "unmount"},
      {"unmount", {"backup", "mount"}, "unmount"},
      {"revert", {"backup"}, "revert"},
      {"delete", {"backup"}, "delete"},
  };
  return ops;
}

void PrintTo(const Operation& op, std::ostream* os) { *os << op.verb; }

class FaultAtEveryStep : public OperationFixture<Operation> {
 protected:
  // The state an operation is judged by, without names and targets that
  // legitimately differ from run to run: per source device whether the
  // array has a snapshot and a link; restores; the mount group; per catalog
  // device its status and mount; how many reservations are held.
  json Outcome() {
    json array = Array();
    json out;
    for (const std::string& dev : sourceDevices_) {
      int snaps = 0, links = 0;
      for (const json& s : array["snapshots"]) snaps += s["device"] == dev;
      for (const json& l : array["links"]) links += l["source"] == dev;
      out["array"][dev] = {{"snapshots", snaps}, {"links", links}};
    }
    out["restores"] = array["restores"].size();
    out["mountGroup"] = json(w_.GroupMembers("mountStorageGroup"));
    for (const json& s : Catalog())
      for (const json& d : s["devices"])
        out["catalog"].push_back({{"status", d["status"]}, {"mounted", d["mounted"]}});
    out["reservations"] = Reservations().size();
    return out;
  }

  // The catalog never hides array work from the host: every snapshot and
  // link on the array belongs to a catalog device that knows of it, and
  // every catalog device that says its snapshot exists has it on the array.
  void ExpectCatalogMatchesArray(const std::string& label) {
    json array = Array();
    json catalog = Catalog();
    std::map<std::string, std::map<std::string, json>> devices;  // name -> dev
    for (const json& s : catalog)
      for (const json& d : s["devices"]) {
        std::string md = d["metadata"].value("6", "");
        size_t bar = md.find('|');
        std::string dev = bar == std::string::npos
                              ? ""
                              : md.substr(bar + 1, md.find('|', bar + 1) - bar - 1);
        devices[s["name"].get<std::string>()][dev] = d;
      }
    for (const json& s : array["snapshots"]) {
      std::string name = s["name"], dev = s["device"];
      EXPECT_TRUE(devices.count(name) && devices[name].count(dev))
          << label << ": snapshot " << name << " of " << dev
          << " is on the array but not in the catalog";
    }
    for (const json& l : array["links"]) {
      std::string name = l["snapshot"], dev = l["source"];
      bool known = devices.count(name) && devices[name].count(dev) &&
                   devices[name][dev].value("mounted", false);
      EXPECT_TRUE(known) << label << ": link of " << name << " from " << dev
                         << " to " << l["target"]
                         << " is not a mount the catalog knows";
    }
    for (auto& [name, byDev] : devices)
      for (auto& [dev, d] : byDev) {
        int status = d["status"].get<int>();
        bool claimsSnapshot = status == kStatusCreated || status == kStatusMapped ||
                              status == kStatusUnmapped || status == kStatusReverted;
        if (!claimsSnapshot) continue;
        bool onArray = false;
        for (const json& s : array["snapshots"])
          onArray |= s["name"] == name && s["device"] == dev;
        EXPECT_TRUE(onArray) << label << ": catalog says " << name << " of "
                             << dev << " exists (status " << status
                             << ") but the array has no such snapshot";
      }
  }
};

TEST_P(FaultAtEveryStep, SucceedsFullyOrFailsAndRecoversClean) {
  const Operation& op = GetParam();
  Result clean = Run(op.verb);
  ASSERT_EQ(kExitSuccess, clean.exitCode) << clean.Describe();
  if (op.verb == "backup") id_ = World::SnapshotId(clean);
  const json done = Outcome();
  Result audit = w_.Symsim({"audit", "--json"});
  ASSERT_TRUE(audit.json.is_array()) << audit.Describe();
  const int invocations = static_cast<int>(audit.json.size());
  ASSERT_GT(invocations, 0);
  // Snapshots stay on the array after every operation but backup's
  // recovery (delete) and delete itself.
  const bool snapshotKept = op.verb != "backup" && op.verb != "delete";

  int succeeded = 0, failed = 0;
  for (int k = 1; k <= invocations; ++k)
    for (Strike strike : {Strike::kBefore, Strike::kAfter}) {
      const std::string label = op.verb + ", invocation " + std::to_string(k) +
                                " of " + std::to_string(invocations) +
                                " struck " + StrikeName(strike);
      SCOPED_TRACE(label);
      Restore();
      std::vector<std::string> fault = {"fault", "add", "--nth", std::to_string(k)};
      if (strike == Strike::kAfter) fault.push_back("--after");
      ASSERT_EQ(0, w_.Symsim(fault).exitCode);

      Result r = Run(op.verb);
      ASSERT_TRUE(r.exitCode == kExitSuccess || r.exitCode == kExitFailure ||
                  r.exitCode == kExitPartial)
          << r.Describe();
      if (op.verb == "backup") {
        int made = World::SnapshotId(r);
        id_ = made > 0 ? made : 0;
      }
      Result struck = w_.Symsim({"audit", "--json"});
      bool hit = false;
      for (const json& row : struck.json) hit |= !row["fault"].is_null();
      if (r.exitCode == kExitSuccess) {
        ++succeeded;
        // Success means the whole job, the same as a run without faults.
        EXPECT_EQ(done, Outcome()) << "reported success with work undone\n"
                                   << r.Describe();
      } else {
        ++failed;
        EXPECT_TRUE(hit) << "failed without the fault striking\n" << r.Describe();
        EXPECT_NE(std::string::npos, r.err.find("failed")) << r.Describe();
      }
      ExpectCatalogMatchesArray(label);

      ASSERT_EQ(0, w_.Symsim({"fault", "clear"}).exitCode);
      if (id_ > 0 && RecoveryApplies(op.recovery)) {
        Result again = Run(op.recovery);
        EXPECT_EQ(kExitSuccess, again.exitCode) << op.recovery << "\n"
                                                << again.Describe();
      }
      Result reconcile = w_.Pzhost(home_, {"reservations", "--reconcile"});
      EXPECT_EQ(kExitSuccess, reconcile.exitCode) << reconcile.Describe();
      ExpectClean(label, snapshotKept, done["restores"].get<size_t>());
      if (HasFatalFailure()) return;
    }
  std::cout << op.verb << ": " << invocations << " tool invocations, "
            << 2 * invocations << " faulted runs: " << succeeded
            << " succeeded anyway, " << failed << " failed cleanly" << std::endl;
  RecordProperty("invocations", invocations);
}

// A tool that never answers: with a time limit in milliseconds every link
// attempt is killed at the limit, the mount fails instead of waiting for
// the tool, and the host cleans up as after any failed mount.
TEST(HungTool, MountFailsAtTheCommandTimeLimitAndLeavesNothing) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  constexpr const char* kLimitMs = "300";
  constexpr const char* kHangSeconds = "600";
  World w;
  std::string home = w.MakeHome("host", w.host());
  Result backup = w.Pzhost(home, {"backup", w.Source(0)});
  ASSERT_EQ(kExitSuccess, backup.exitCode) << backup.Describe();
  std::string id = std::to_string(World::SnapshotId(backup));
  ASSERT_EQ(kExitSuccess, w.Pzhost(home, {"config", "set", "--setting", "~Fieldunit",
                                          "nSymCliTimeoutMs", kLimitMs}).exitCode);
  ASSERT_EQ(0, w.Symsim({"fault", "add", "--pattern", " link ", "--hang",
                         kHangSeconds, "--always"}).exitCode);

  // The runner of this test would kill pzhost long before the tool's hang
  // ends; an exit code at all shows the limit took effect inside.
  Result mount = w.Pzhost(home, {"mount", id});
  EXPECT_EQ(kExitFailure, mount.exitCode) << mount.Describe();
  Result audit = w.Symsim({"audit", "--json"});
  int killed = 0;
  for (const json& row : audit.json)
    if (!row["fault"].is_null()) {
      EXPECT_TRUE(row["exitCode"].is_null()) << "a hung link answered: " << row.dump();
      ++killed;
    }
  EXPECT_GE(killed, 1);
  // The kill is said as such, with the command, and the job's timeline
  // marks the command.
  EXPECT_NE(std::string::npos,
            mount.err.find(std::string("timed out after ") + kLimitMs + " ms: "))
      << mount.err;
  Result job = w.Pzhost(home, {"jobs", std::to_string(mount.json.value("jobId", 0LL))});
  int timedOut = 0;
  for (const json& c : job.json["job"]["commands"])
    timedOut += c.value("timedOut", false) ? 1 : 0;
  EXPECT_EQ(killed, timedOut) << job.Describe();

  ASSERT_EQ(0, w.Symsim({"fault", "clear"}).exitCode);
  Result list = w.Pzhost(home, {"list"});
  bool mounted = false;
  for (const json& d : list.json["snapshots"][0]["devices"])
    mounted |= d.value("mounted", false);
  if (mounted) {
    EXPECT_EQ(kExitSuccess, w.Pzhost(home, {"unmount", id}).exitCode);
  }
  EXPECT_EQ(kExitSuccess, w.Pzhost(home, {"reservations", "--reconcile"}).exitCode);
  Result show = w.Symsim({"show", "--json"});
  EXPECT_TRUE(show.json["arrays"][0]["links"].empty()) << show.out;
  EXPECT_TRUE(w.Pzhost(home, {"reservations"}).json["reservations"].empty());
  // With the fault gone and the limit kept, the same mount goes through.
  EXPECT_EQ(kExitSuccess, w.Pzhost(home, {"mount", id}).exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultAtEveryStep, ::testing::ValuesIn(Operations()),
    [](const ::testing::TestParamInfo<Operation>& info) { return info.param.verb; });

}  // namespace
}  // namespace e2e
