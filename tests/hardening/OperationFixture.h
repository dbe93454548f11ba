// One snapshot operation run again and again from a saved starting state:
// the fault-at-every-step and kill-at-every-step tests share it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {

// What an operation needs done first, what it runs, what undoes or
// completes it after a failure, and whether the snapshot outlives it.
struct Operation {
  std::string verb;
  std::vector<std::string> before;  // verbs run first on the snapshot
  std::string recovery;
  bool snapshotKept;
};

inline const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"backup", {}, "delete", false},
      {"mount", {"backup"}, "unmount", true},
      {"unmount", {"backup", "mount"}, "unmount", true},
      {"revert", {"backup"}, "revert", true},
      {"delete", {"backup"}, "delete", false},
  };
  return ops;
}

inline void PrintTo(const Operation& op, std::ostream* os) { *os << op.verb; }
inline std::string VerbName(const ::testing::TestParamInfo<Operation>& info) {
  return info.param.verb;
}

class OperationFixture : public ::testing::TestWithParam<Operation> {
 protected:
  using json = nlohmann::json;
  static constexpr int kExitSuccess = 0;

  // Settings a test needs before the verbs of `before` run.
  virtual void ConfigureHome() {}

  void SetUp() override {
    if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
    home_ = w_.MakeHome("host", w_.host());
    ConfigureHome();
    if (HasFatalFailure()) return;
    // Two sources of the targets' size, so a job spans several devices.
    sources_ = {w_.Source(0), w_.Source(1)};
    sourceDevices_ = {w_.SourceDevice(0), w_.SourceDevice(1)};
    // The groups as no mount has changed them.
    mountGroup_ = DemoGroup(w_, "mountStorageGroup");
    targetGroup_ = DemoGroup(w_, "targetStorageGroup");
    for (const std::string& verb : GetParam().before) {
      Result r = Run(verb);
      ASSERT_EQ(kExitSuccess, r.exitCode) << verb << ": " << r.Describe();
      if (verb == "backup") id_ = World::SnapshotId(r);
    }
    ASSERT_EQ(0, w_.Symsim({"audit", "--clear"}).exitCode);
    // Every attempt starts from a copy of this state.
    saved_ = w_.dir() + ".saved";
    std::filesystem::copy(w_.dir(), saved_, std::filesystem::copy_options::recursive);
  }

  void TearDown() override {
    std::error_code ignored;
    if (!saved_.empty()) std::filesystem::remove_all(saved_, ignored);
  }

  void Restore() {
    std::filesystem::remove_all(w_.dir());
    std::filesystem::copy(saved_, w_.dir(), std::filesystem::copy_options::recursive);
  }

  std::vector<std::string> VerbArgs(const std::string& verb) const {
    if (verb == "backup") return {"backup", sources_[0], sources_[1]};
    if (verb == "revert") return {verb, "--yes", std::to_string(id_)};
    return {verb, std::to_string(id_)};
  }
  Result Run(const std::string& verb) { return w_.Pzhost(home_, VerbArgs(verb)); }

  // Whether an injected fault has struck a tool invocation.
  bool Struck() {
    Result audit = w_.Symsim({"audit", "--json"});
    bool hit = false;
    for (const json& row : audit.json.is_array() ? audit.json : json::array())
      hit |= !row["fault"].is_null();
    return hit;
  }

  json Array() { return w_.ArrayState(); }
  json Catalog() { return w_.Catalog(home_); }
  json Reservations() {
    Result r = w_.Pzhost(home_, {"reservations"});
    EXPECT_EQ(kExitSuccess, r.exitCode) << r.Describe();
    return r.json.value("reservations", json::array());
  }

  // The recovery the documentation names leaves all clean: the same or the
  // reverse verb, when the host would run it (it unmounts what its catalog
  // has mounted, deletes or reverts what its catalog holds), then a
  // reservation reconcile.
  void RecoverAndExpectClean(const std::string& label, size_t restoresKept) {
    const Operation& op = GetParam();
    json catalog = Catalog();
    if (id_ == 0 && !catalog.empty()) id_ = catalog[0]["id"].get<int>();
    bool applies = !catalog.empty() && op.recovery != "unmount";
    for (const json& s : catalog)
      for (const json& d : s["devices"]) applies |= d.value("mounted", false);
    if (applies) {
      Result r = Run(op.recovery);
      EXPECT_EQ(kExitSuccess, r.exitCode) << label << ": " << op.recovery << "\n"
                                          << r.Describe();
    }
    Result reconcile = w_.Pzhost(home_, {"reservations", "--reconcile"});
    EXPECT_EQ(kExitSuccess, reconcile.exitCode) << reconcile.Describe();
    ExpectClean(label, op.snapshotKept, restoresKept);
  }

  // After recovery: no link, no reservation left, the mount and target
  // groups as before any mount, and the snapshot there or gone as the
  // operation's kind implies. A revert leaves its finished restore sessions
  // for the next revert to end; nothing else leaves any.
  void ExpectClean(const std::string& label, bool snapshotKept, size_t restoresKept) {
    json array = Array();
    EXPECT_TRUE(array["links"].empty()) << label << ": " << array["links"].dump();
    EXPECT_EQ(restoresKept, array["restores"].size())
        << label << ": " << array["restores"].dump();
    json held = Reservations();
    EXPECT_TRUE(held.empty()) << label << ": " << held.dump();
    EXPECT_EQ(mountGroup_, DemoGroup(w_, "mountStorageGroup")) << label;
    EXPECT_EQ(targetGroup_, DemoGroup(w_, "targetStorageGroup")) << label;
    json catalog = Catalog();
    const size_t kept = snapshotKept ? 1 : 0;
    EXPECT_EQ(kept * sourceDevices_.size(), array["snapshots"].size())
        << label << ": " << array["snapshots"].dump();
    EXPECT_EQ(kept, catalog.size()) << label << ": " << catalog.dump();
  }

  World w_;
  std::string home_, saved_;
  std::vector<std::string> sources_, sourceDevices_;
  std::set<std::string> mountGroup_, targetGroup_;
  int id_ = 0;
};

}  // namespace e2e
