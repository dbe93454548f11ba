// Reservation records over the host's active-snap service and the fake
// host database (which grants a target to one holder and releases only a
// holder's own entries).
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

class ActiveSnapsTest : public OrchestrationTest {};

TEST_F(ActiveSnapsTest, QueryNormalisesTargetsOfThisArrayOnly) {
  auto& a = Request(1);
  Hold(7, "00A01", "B1");
  Hold(8, "00A02", "000B2");
  hostrt::Reservation other;
  other.array = "OTHER";
  other.target = "000C1";
  env.database.reservations.push_back(other);
  std::unordered_set<std::string> active;
  ASSERT_TRUE(GetActiveSnaps(&a, kJobId, kSerial, active));
  EXPECT_EQ(active, (std::unordered_set<std::string>{"000B1", "000B2"}));
  EXPECT_TRUE(a.hasLog("    [7:" + std::string(kSerial) + "-00A01-B1:0-0]"));
}

TEST_F(ActiveSnapsTest, EmptyQueryAndFailedQuery) {
  auto& a = Request(1);
  std::unordered_set<std::string> active;
  EXPECT_TRUE(GetActiveSnaps(&a, kJobId, kSerial, active));
  EXPECT_TRUE(active.empty());
  EXPECT_TRUE(a.hasLogContaining("No snapshots are currently active"));
  env.database.fail = true;
  EXPECT_FALSE(GetActiveSnaps(&a, kJobId, kSerial, active));
  EXPECT_TRUE(a.hasLogContaining("Failed to get active snaps for array"));
}

TEST_F(ActiveSnapsTest, ReserveMarksGrantedAndReportsRefused) {
  auto& a = Request(1);
  auto& b = Request(2);
  Hold(9, "00A09", "000B2");  // another job holds B2
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  l.params.push_back(Param(b, "00A02", "SN_2", "000B2"));
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(l.params.front().reserved);
  EXPECT_FALSE(l.params.back().reserved);
  EXPECT_TRUE(Held("000B1", 1));
  EXPECT_TRUE(Held("000B2", 9));
  const auto& sent = env.database.reserveRequests.at(0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].smSnapId, 2);
  EXPECT_EQ(sent[1].source, "00A02");
  EXPECT_EQ(sent[1].jobId, kJobId);
}

// Devices of one snapshot share a host snap id. A grant for one of them must
// not mark the other, whose own entry was refused.
TEST_F(ActiveSnapsTest, GrantMarksOnlyTheDeviceThatAskedForIt) {
  auto& a = Request(3);
  auto& b = Request(3);
  env.database.refuseTargets["000B2"] = 1;
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  l.params.push_back(Param(b, "00A02", "SN_1", "000B2"));
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(l.params.front().reserved);
  EXPECT_FALSE(l.params.back().reserved);
}

TEST_F(ActiveSnapsTest, AlreadyReservedAndTargetlessParamsAreNotSent) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  l.params.back().reserved = true;
  l.params.push_back(Param(b, "00A02", "SN_2"));
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));  // b has no target
  EXPECT_TRUE(env.database.reserveRequests.at(0).empty());
}

TEST_F(ActiveSnapsTest, TestToolSkipsEveryDatabaseCall) {
  auto& a = Request(1);
  a.jobParams[PZSO::JOB_PARAM_OPERATION_SOURCE] = PZSO::OPERATION_SOURCE_TEST_TOOL;
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  EXPECT_TRUE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(l.params.front().reserved);
  EXPECT_TRUE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_EQ(env.database.reserveCalls + env.database.releaseCalls +
                env.database.queryCalls, 0);
  EXPECT_TRUE(a.hasLog("Skipping device reservation for Trialrig tool"));
}

TEST_F(ActiveSnapsTest, UnreadableOperationSourceFails) {
  auto& a = Request(1);
  a.failingJobParams.insert(PZSO::JOB_PARAM_OPERATION_SOURCE);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_FALSE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(a.hasLog("Could not retrieve snap operation source"));
}

TEST_F(ActiveSnapsTest, ReleaseWithNothingReservedMakesNoCall) {
  auto& a = Request(1);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  EXPECT_TRUE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_EQ(env.database.releaseCalls, 0);
  EXPECT_TRUE(a.hasLog(
      "None of the target devices in current request are reserved in DB"));
}

// Release asks only for the entries this list's devices hold; another job's
// reservation of one of the list's targets is neither requested nor lost.
TEST_F(ActiveSnapsTest, ReleaseCarriesOwnEntriesOnly) {
  auto& a = Request(1);
  auto& b = Request(2);
  Hold(1, "00A01", "000B1");
  Hold(9, "00A09", "000B2");
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  l.params.push_back(Param(b, "00A02", "SN_2", "000B2"));
  EXPECT_TRUE(DeleteActiveSnaps(&a, kJobId, l));
  ASSERT_EQ(env.database.releaseRequests.size(), 1u);
  const auto& sent = env.database.releaseRequests[0];
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].target, "000B1");
  EXPECT_EQ(sent[0].smSnapId, 1);
  EXPECT_FALSE(Held("000B1", 1));
  EXPECT_TRUE(Held("000B2", 9));
  EXPECT_TRUE(l.params.front().reserved);
  EXPECT_FALSE(l.params.back().reserved);
}

TEST_F(ActiveSnapsTest, FailedReleaseIsReported) {
  auto& a = Request(1);
  Hold(1, "00A01", "000B1");
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  env.database.fail = true;
  EXPECT_FALSE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(a.hasLog("Failed to get active snap devices list"));
}

}  // namespace
}  // namespace orch_test
