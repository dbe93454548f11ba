// A failing tool at every step of every operation. Each operation runs once
// cleanly to count its tool invocations K; then, from the same starting
// state, invocation k (1..K) is struck, once before the tool changes the
// array and once after. Whatever strikes, pzhost either does the whole job
// or says it failed, its catalog never hides array work from the host, and
// the reverse (or the same) operation followed by a reservation reconcile
// leaves the array and the reservation table clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/Steps.h"
#include "tests/hardening/OperationFixture.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

using nlohmann::json;

constexpr int kExitSuccess = 0, kExitFailure = 1, kExitPartial = 2;
constexpr int kStatusCreated = 5, kStatusMapped = 12, kStatusUnmapped = 14,
              kStatusReverted = 22;

class FaultAtEveryStep : public OperationFixture {
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
    out["mountGroup"] = json(DemoGroup(w_, "mountStorageGroup"));
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
    std::map<std::string, std::map<std::string, json>> devices;  // name -> device -> row
    for (const json& s : Catalog())
      for (const json& d : s["devices"]) {
        std::string md = d["metadata"].value("6", "");  // serial|device|name|
        size_t bar = md.find('|');
        std::string dev =
            bar == std::string::npos ? "" : md.substr(bar + 1, md.find('|', bar + 1) - bar - 1);
        devices[s["name"].get<std::string>()][dev] = d;
      }
    std::set<std::pair<std::string, std::string>> snapshots;
    for (const json& s : array["snapshots"]) {
      std::string name = s["name"], dev = s["device"];
      snapshots.emplace(name, dev);
      EXPECT_TRUE(devices[name].count(dev)) << label << ": snapshot " << name << " of " << dev
                                           << " is on the array but not in the catalog";
    }
    for (const json& l : array["links"]) {
      auto& byDev = devices[l["snapshot"].get<std::string>()];
      auto d = byDev.find(l["source"].get<std::string>());
      EXPECT_TRUE(d != byDev.end() && d->second.value("mounted", false))
          << label << ": link " << l.dump() << " is not a mount the catalog knows";
    }
    for (auto& [name, byDev] : devices)
      for (auto& [dev, d] : byDev) {
        int status = d["status"].get<int>();
        bool claimsSnapshot = status == kStatusCreated || status == kStatusMapped ||
                              status == kStatusUnmapped || status == kStatusReverted;
        EXPECT_TRUE(!claimsSnapshot || snapshots.count({name, dev}))
            << label << ": catalog says " << name << " of " << dev << " exists (status "
            << status << ") but the array has no such snapshot";
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

  int succeeded = 0, failed = 0;
  for (int k = 1; k <= invocations; ++k)
    for (bool after : {false, true}) {
      const std::string label = op.verb + ", invocation " + std::to_string(k) + " of " +
                                std::to_string(invocations) + " struck " +
                                (after ? "after" : "before");
      SCOPED_TRACE(label);
      Restore();
      std::vector<std::string> fault = {"fault", "add", "--nth", std::to_string(k)};
      if (after) fault.push_back("--after");
      ASSERT_EQ(0, w_.Symsim(fault).exitCode);

      Result r = Run(op.verb);
      ASSERT_TRUE(r.exitCode == kExitSuccess || r.exitCode == kExitFailure ||
                  r.exitCode == kExitPartial)
          << r.Describe();
      if (op.verb == "backup") id_ = std::max(0, World::SnapshotId(r));
      if (r.exitCode == kExitSuccess) {
        ++succeeded;
        // Success means the whole job, the same as a run without faults.
        EXPECT_EQ(done, Outcome()) << "reported success with work undone\n"
                                   << r.Describe();
      } else {
        ++failed;
        EXPECT_TRUE(Struck()) << "failed without the fault striking\n" << r.Describe();
        EXPECT_NE(std::string::npos, r.err.find("failed")) << r.Describe();
      }
      ExpectCatalogMatchesArray(label);

      ASSERT_EQ(0, w_.Symsim({"fault", "clear"}).exitCode);
      RecoverAndExpectClean(label, done["restores"].get<size_t>());
      if (HasFatalFailure()) return;
    }
  std::cout << op.verb << ": " << 2 * invocations << " faulted runs: " << succeeded
            << " succeeded anyway, " << failed << " failed cleanly" << std::endl;
}

// A tool that never answers: with a time limit in milliseconds every link
// attempt is killed at the limit, the mount fails instead of waiting for
// the tool, and the host cleans up as after any failed mount.
TEST(HungTool, MountFailsAtTheCommandTimeLimitAndLeavesNothing) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  constexpr const char* kLimitMs = "300";
  World w;
  std::string home = w.MakeHome("host", w.host());
  std::string id = Backup(w, home, {w.Source(0)});
  Ok(w, home, {"config", "set", "--setting", "~Fieldunit", "nSymCliTimeoutMs", kLimitMs});
  ASSERT_NO_FATAL_FAILURE(
      SymsimAll(w, {{"fault", "add", "--pattern", " link ", "--hang", "600", "--always"}}));

  // The runner of this test would kill pzhost long before the tool's hang
  // ends; an exit code at all shows the limit took effect inside.
  Result mount = w.Pzhost(home, {"mount", id});
  EXPECT_EQ(kExitFailure, mount.exitCode) << mount.Describe();
  int killed = 0;
  for (const json& row : w.Symsim({"audit", "--json"}).json)
    if (!row["fault"].is_null()) {
      EXPECT_TRUE(row["exitCode"].is_null()) << "a hung link answered: " << row.dump();
      ++killed;
    }
  EXPECT_GE(killed, 1);
  // The kill is said as such, with the command, and the job's timeline
  // marks the command.
  EXPECT_TRUE(Contains(mount.err, std::string("timed out after ") + kLimitMs + " ms: "))
      << mount.err;
  Result job = w.Pzhost(home, {"jobs", std::to_string(mount.json.value("jobId", 0LL))});
  int timedOut = 0;
  for (const json& c : job.json["job"]["commands"]) timedOut += c.value("timedOut", false);
  EXPECT_EQ(killed, timedOut) << job.Describe();

  ASSERT_NO_FATAL_FAILURE(SymsimAll(w, {{"fault", "clear"}}));
  bool mounted = false;
  json catalog = w.Catalog(home);
  for (const json& d : catalog[0]["devices"]) mounted |= d.value("mounted", false);
  if (mounted) Ok(w, home, {"unmount", id});
  Ok(w, home, {"reservations", "--reconcile"});
  EXPECT_TRUE(w.ArrayState()["links"].empty());
  EXPECT_EQ(0u, HeldReservations(w, home));
  // With the fault gone and the limit kept, the same mount goes through.
  Ok(w, home, {"mount", id});
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultAtEveryStep, ::testing::ValuesIn(Operations()),
                         VerbName);

}  // namespace
}  // namespace e2e
