// Reservation records over the host's active-snap service and the fake
// host database (which grants a target to one holder and releases only a
// holder's own entries).
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

class ActiveSnapsTest : public OrchestrationTest {};

// A grant marks only the device that asked for it, also when the devices of
// one snapshot share a host snap id; refused and targetless entries stay
// unmarked.
TEST_F(ActiveSnapsTest, GrantMarksOnlyTheDeviceThatAskedForIt) {
  for (bool sharedId : {false, true}) {
    SCOPED_TRACE(sharedId);
    Fresh();
    auto& a = Request(3);
    auto& b = Request(sharedId ? 3 : 4);
    if (sharedId)
      env.database.refuseTargets["000B2"] = 1;
    else
      Hold(9, "00A09", "000B2");  // another job holds B2
    VMAXSnapParamList l = List();
    l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
    l.params.push_back(Param(b, "00A02", "SN_1", "000B2"));
    EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));
    EXPECT_TRUE(l.params.front().reserved);
    EXPECT_FALSE(l.params.back().reserved);
    EXPECT_TRUE(Held("000B1", 3));
  }
  VMAXSnapParamList l = List();
  l.params.push_back(Param(*reqs[1], "00A02", "SN_2"));
  env.database.reserveRequests.clear();
  EXPECT_FALSE(SetActiveSnaps(reqs[0].get(), kJobId, l));  // no target
  EXPECT_TRUE(env.database.reserveRequests.at(0).empty());
}

TEST_F(ActiveSnapsTest, TestToolSkipsTheDatabaseAndUnreadableSourceFails) {
  auto& a = Request(1);
  a.jobParams[PZSO::JOB_PARAM_OPERATION_SOURCE] = PZSO::OPERATION_SOURCE_TEST_TOOL;
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  EXPECT_TRUE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_TRUE(l.params.front().reserved);
  EXPECT_TRUE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_EQ(env.database.reserveCalls + env.database.releaseCalls + env.database.queryCalls, 0);
  a.failingJobParams.insert(PZSO::JOB_PARAM_OPERATION_SOURCE);
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, l));
  EXPECT_FALSE(DeleteActiveSnaps(&a, kJobId, l));
}

// Release asks only for the entries this list's devices hold; another job's
// reservation of one of the list's targets is neither requested nor lost,
// and a query of this array lists it, in canonical form.
TEST_F(ActiveSnapsTest, ReleaseCarriesOwnEntriesOnly) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
  l.params.push_back(Param(b, "00A02", "SN_2", "000B2"));
  Hold(1, "00A01", "000B1");
  Hold(9, "00A09", "000B2");
  Hold(9, "00A09", "B3");
  env.database.reservations.back().array = "OTHER";
  EXPECT_TRUE(DeleteActiveSnaps(&a, kJobId, l));
  ASSERT_EQ(env.database.releaseRequests.size(), 1u);
  ASSERT_EQ(env.database.releaseRequests[0].size(), 1u);
  EXPECT_EQ(env.database.releaseRequests[0][0].target, "000B1");
  EXPECT_FALSE(Held("000B1", 1));
  EXPECT_TRUE(Held("000B2", 9));
  std::unordered_set<std::string> active;
  Hold(8, "00A08", "B4");
  ASSERT_TRUE(GetActiveSnaps(&a, kJobId, kSerial, active));
  EXPECT_EQ(active, (std::unordered_set<std::string>{"000B2", "000B4"}));
  Hold(1, "00A01", "000B1");
  env.database.fail = true;
  EXPECT_FALSE(DeleteActiveSnaps(&a, kJobId, l));
  EXPECT_FALSE(GetActiveSnaps(&a, kJobId, kSerial, active));
}

}  // namespace
}  // namespace orch_test
