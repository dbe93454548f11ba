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
    return world_.Tool("symsnapvx", "-sid " + sid_ + " -file " +
                                        world_.WriteFile("d.txt", "00100\n") + " -name " + name +
                                        " establish -noprompt");
  }
  size_t Snapshots() { return world_.Show()["arrays"][0]["snapshots"].size(); }
  SimWorld world_;
  nlohmann::json demo_;
  std::string sid_;
};

// A fault before the change leaves the world as it was, one after makes the
// change and still fails; each strikes as often as it was told. Faults at
// every invocation, hangs and their audit rows are driven by tests/hardening.
TEST_F(FaultsTest, BeforeAndAfterFaultsStrikeTheirTimes) {
  struct Case {
    std::vector<std::string> fault;
    std::vector<bool> ok;           // each of three establishes
    std::vector<size_t> snapshots;  // made after each
  } cases[] = {
      {{"--exit", "7", "--message", "Device is locked"}, {false, true, true}, {0, 1, 2}},
      {{"--after", "--times", "2"}, {false, false, true}, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault[0]);
    world_.MustAdmin({"fault", "clear"});
    std::vector<std::string> add = {"fault", "add", "--pattern", "establish"};
    add.insert(add.end(), c.fault.begin(), c.fault.end());
    world_.MustAdmin(add);
    const size_t before = Snapshots();
    for (size_t i = 0; i < c.snapshots.size(); ++i) {
      Result r = Establish("s" + std::to_string(i));
      EXPECT_EQ(r.exitCode == 0, c.ok[i]) << i;
      if (i == 0 && c.fault[0] == "--exit") {
        EXPECT_EQ(r.exitCode, 7);
        EXPECT_NE(r.err.find("Device is locked"), std::string::npos);
      }
      EXPECT_EQ(Snapshots() - before, c.snapshots[i]) << i;
    }
  }
}

TEST_F(FaultsTest, NthInvocationClearAndRefusedFaults) {
  world_.MustAdmin({"fault", "add", "--nth", "2", "--exit", "3"});
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 3);
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  world_.MustAdmin({"fault", "add", "--pattern", "symcli", "--always"});
  EXPECT_NE(world_.Tool("symcli", "").exitCode, 0);
  world_.MustAdmin({"fault", "clear"});
  EXPECT_EQ(world_.Tool("symcli", "").exitCode, 0);
  EXPECT_NE(world_.Admin({"fault", "add", "--pattern", "(unclosed"}).exitCode, 0);
  EXPECT_NE(world_.Admin({"fault", "add", "--exit", "3"}).exitCode, 0);
}

TEST_F(FaultsTest, AuditRecordsArgumentsExitCodesAndDeviceFiles) {
  world_.MustAdmin({"latency", "30"});
  ASSERT_EQ(Establish("x").exitCode, 0);
  EXPECT_NE(world_.Tool("symsnapvx", "-sid " + sid_ + " -devs 00101 -snapshot_name x list")
                .exitCode, 0);
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
