// Injected faults, latency and the audit log of the tools' invocations.
#include <gtest/gtest.h>

#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Result;
using simtest::SimWorld;

class FaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
    world_.MustAdmin({"audit", "--clear"});
  }
  Result Establish(const std::string& name) {
    return world_.Tool("symsnapvx", "-sid " + sid_ + " -file " + world_.WriteFile("d.txt", "00100\n") +
                                        " -name " + name + " establish -noprompt");
  }
  size_t Snapshots() { return world_.Show()["arrays"][0]["snapshots"].size(); }
  SimWorld world_;
  nlohmann::json demo_;
  std::string sid_;
};

TEST_F(FaultsTest, BeforeFaultChangesNothingAndStrikesOnce) {
  world_.MustAdmin({"fault", "add", "--pattern", "establish", "--exit", "7", "--message",
                    "Device is locked"});
  Result r = Establish("a");
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_NE(r.err.find("Device is locked"), std::string::npos);
  EXPECT_EQ(Snapshots(), 0u);
  EXPECT_EQ(Establish("a").exitCode, 0);
  EXPECT_EQ(Snapshots(), 1u);
}

TEST_F(FaultsTest, AfterFaultMakesTheChangeThenFails) {
  world_.MustAdmin({"fault", "add", "--pattern", "establish", "--after", "--times", "2"});
  EXPECT_NE(Establish("a").exitCode, 0);
  EXPECT_EQ(Snapshots(), 1u);
  EXPECT_NE(Establish("b").exitCode, 0);
  EXPECT_EQ(Snapshots(), 2u);
  EXPECT_EQ(Establish("c").exitCode, 0);
  EXPECT_EQ(Snapshots(), 3u);
}

TEST_F(FaultsTest, NthInvocationAndAlways) {
  world_.MustAdmin({"fault", "add", "--nth", "2", "--exit", "3"});
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 3);
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  world_.MustAdmin({"fault", "add", "--pattern", "symdev .*-noport", "--always"});
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(world_.Tool("symdev", "-sid " + sid_ + " list -sg SG_snap_targets -noport -tdev")
                  .exitCode, 0);
  }
  EXPECT_EQ(world_.Tool("symdev", "-sid " + sid_ + " list -sg SG_snap_targets -tdev").exitCode, 0);
  world_.MustAdmin({"fault", "clear"});
  EXPECT_EQ(world_.Tool("symdev", "-sid " + sid_ + " list -sg SG_snap_targets -noport -tdev")
                .exitCode, 0);
  EXPECT_NE(world_.Admin({"fault", "add", "--pattern", "(unclosed"}).exitCode, 0);
  EXPECT_NE(world_.Admin({"fault", "add", "--exit", "3"}).exitCode, 0);
}

// A hanging tool is stopped by the runner's time limit; the state is not
// locked while it hangs.
TEST_F(FaultsTest, HangIsBoundedByTheCallersLimit) {
  world_.MustAdmin({"fault", "add", "--pattern", "establish", "--hang", "30"});
  Result r = world_.Tool("symsnapvx", "-sid " + sid_ + " -file " +
                                          world_.WriteFile("d.txt", "00100\n") +
                                          " -name h establish -noprompt", 1500);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  EXPECT_EQ(Snapshots(), 0u);
  auto audit = world_.Audit();
  ASSERT_GE(audit.size(), 2u);
  EXPECT_TRUE(audit[0]["exitCode"].is_null());  // killed before answering
  EXPECT_FALSE(audit[0]["fault"].is_null());
}

TEST_F(FaultsTest, AuditRecordsArgumentsExitCodesAndDeviceFiles) {
  world_.MustAdmin({"latency", "30"});
  ASSERT_EQ(Establish("x").exitCode, 0);
  EXPECT_NE(world_.Tool("symsnapvx", "-sid " + sid_ + " -devs 00101 -snapshot_name x list").exitCode, 0);
  auto audit = world_.Audit();
  ASSERT_EQ(audit.size(), 2u);
  EXPECT_EQ(audit[0]["tool"], "symsnapvx");
  EXPECT_EQ(audit[0]["args"].back(), "-noprompt");
  EXPECT_EQ(audit[0]["args"][1], sid_);
  EXPECT_EQ(audit[0]["fileContent"], "00100\n");
  EXPECT_EQ(audit[0]["exitCode"], 0);
  EXPECT_GE(audit[0]["durationMs"].get<double>(), 30.0);
  EXPECT_NE(audit[1]["exitCode"], 0);
  EXPECT_NE(audit[1]["error"].get<std::string>().find("No snapshot was found"), std::string::npos);
}

}  // namespace
