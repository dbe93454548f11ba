// One snapshot operation run again and again from a saved starting state:
// the fault-at-every-step and kill-at-every-step tests share it. `Op` names
// the verb and the verbs run first (`verb`, `before`).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/E2eWorld.h"

namespace e2e {

template <class Op>
class OperationFixture : public ::testing::TestWithParam<Op> {
 protected:
  using json = nlohmann::json;
  static constexpr int kExitSuccess = 0;

  // Settings a test needs before the verbs of `before` run.
  virtual void ConfigureHome() {}

  void SetUp() override {
    if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
    home_ = w_.MakeHome("host", w_.host());
    ConfigureHome();
    if (this->HasFatalFailure()) return;
    // Two sources of the targets' size, so a job spans several devices.
    sources_ = {w_.Source(0), w_.Source(1)};
    sourceDevices_ = {w_.SourceDevice(0), w_.SourceDevice(1)};
    for (const std::string& verb : this->GetParam().before) {
      Result r = Run(verb);
      ASSERT_EQ(kExitSuccess, r.exitCode) << verb << ": " << r.Describe();
      if (verb == "backup") id_ = World::SnapshotId(r);
    }
    ASSERT_EQ(0, w_.Symsim({"audit", "--clear"}).exitCode);
    mountGroup_ = w_.GroupMembers("mountStorageGroup");
    targetGroup_ = w_.GroupMembers("targetStorageGroup");
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

  json Array() { return w_.ArrayState(); }
  json Catalog() { return w_.Catalog(home_); }
  json Reservations() {
    Result r = w_.Pzhost(home_, {"reservations"});
    EXPECT_EQ(kExitSuccess, r.exitCode) << r.Describe();
    return r.json.value("reservations", json::array());
  }

  // Whether the host would run `verb` now: it unmounts what its catalog
  // has mounted and deletes or reverts what its catalog holds.
  bool RecoveryApplies(const std::string& verb) {
    json catalog = Catalog();
    if (catalog.empty()) return false;
    if (verb != "unmount") return true;
    for (const json& s : catalog)
      for (const json& d : s["devices"])
        if (d.value("mounted", false)) return true;
    return false;
  }

  // After recovery: no link, no reservation left, the mount and target
  // groups as they started, and the snapshot there or gone as the
  // operation's kind implies. A revert leaves its finished restore sessions
  // for the next revert to end; nothing else leaves any.
  void ExpectClean(const std::string& label, bool snapshotKept, size_t restoresKept) {
    json array = Array();
    EXPECT_TRUE(array["links"].empty()) << label << ": " << array["links"].dump();
    EXPECT_EQ(restoresKept, array["restores"].size())
        << label << ": " << array["restores"].dump();
    json held = Reservations();
    EXPECT_TRUE(held.empty()) << label << ": " << held.dump();
    EXPECT_EQ(mountGroup_, w_.GroupMembers("mountStorageGroup")) << label;
    EXPECT_EQ(targetGroup_, w_.GroupMembers("targetStorageGroup")) << label;
    json catalog = Catalog();
    if (snapshotKept) {
      EXPECT_EQ(sourceDevices_.size(), array["snapshots"].size()) << label;
      EXPECT_EQ(1u, catalog.size()) << label;
    } else {
      EXPECT_TRUE(array["snapshots"].empty()) << label << ": "
                                              << array["snapshots"].dump();
      EXPECT_TRUE(catalog.empty()) << label << ": " << catalog.dump();
    }
  }

  World w_;
  std::string home_, saved_;
  std::vector<std::string> sources_, sourceDevices_;
  std::set<std::string> mountGroup_, targetGroup_;
  int id_ = 0;
};

}  // namespace e2e
