// Reservations (the fake host database grants a target to one holder and
// releases only a holder's own entries), the per-device delete judgement,
// snapshot identifier metadata, array details and the version gate.
#include "orchestration/ArraySession.h"
#include "config/VMAXConfig.h"
#include "engine/PZSOVMAX.h"
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::An;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgReferee;

class ActiveSnapsTest : public OrchestrationTest {};

// A grant marks only the device that asked for it, also when the devices of
// one snapshot share a host snap id; refused and targetless entries stay
// unmarked.
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
  EXPECT_TRUE(Held("000B1", 3));
  VMAXSnapParamList targetless = List();
  targetless.params.push_back(Param(b, "00A02", "SN_2"));
  env.database.reserveRequests.clear();
  EXPECT_FALSE(SetActiveSnaps(&a, kJobId, targetless));
  EXPECT_TRUE(env.database.reserveRequests.at(0).empty());
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

// Devices of one snapshot share a host snap id: each is judged by its own
// record, so a missing device is not deleted again and none is doubled. A
// failed query changes no status.
TEST_F(OrchestrationTest, DeleteJudgesDevicesSharingSnapIdOneByOne) {
  auto& a = Request(5);
  auto& b = Request(5);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_1"));
  EXPECT_CALL(*mock, GetSnapInfo(An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(Return(false))
      .WillOnce(Invoke([](std::list<VMAXSnapInfo>& q) {
        q.front().exists = true;  // only 00A01 still has it
        return true;
      }));
  EXPECT_FALSE(api.DeleteSnaps(l));
  EXPECT_TRUE(a.statusHistory.empty());
  EXPECT_TRUE(b.statusHistory.empty());
  EXPECT_CALL(*mock, RestoreCleanup(_, _, _, _)).WillOnce(Return(true));
  std::vector<std::string> deleted;
  EXPECT_CALL(*mock, DeleteSnaps(_)).WillOnce(Invoke([&](VMAXSnapParamList& del) {
    for (auto& p : del.params) deleted.push_back(p.sourceDevice);
    return true;
  }));
  EXPECT_TRUE(api.DeleteSnaps(l));
  EXPECT_EQ(deleted, std::vector<std::string>{"00A01"});
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_DELETED);
}

// Three fields; a too-short value leaves the record alone; none fails the
// request with its own error text.
TEST(SnapUidMetadata, ParseAndFailures) {
  struct Case {
    const char* value;  // null: no metadata
    bool ok;
    const char* serial;
    const char* error;
  } cases[] = {
      {nullptr, false, "", "Failed to get unique identifier metadata"},
      {"", false, "", "Failed to parse device identifier to get snap info"},
      {"SER1|00A1F|SN_1|", true, "SER1", ""},
      {"A|B", true, "", ""},  // too short: unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "none");
    FakeSnapInfo si;
    if (c.value) si.metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = c.value;
    VMAXMetadata md;
    EXPECT_EQ(c.ok, getSnapMetadata(&si, PZSO::SNAP_STATUS_MAP_FAILED,
                                    PZSO::SM_MDT_SNAP_UNIQUE_ID, md));
    EXPECT_EQ(c.serial, md.arraySerial);
    EXPECT_EQ(c.error, si.errorText);
    EXPECT_EQ(c.ok ? 0 : PZ_ERR_SNAP_METADATA, si.errorCode);
    if (c.ok && *c.serial) { EXPECT_EQ("SN_1", md.snapName); }
  }
}

TEST(ArrayDetailsTest, DecodesPasswordAndNeverLogsIt) {
  FakeSnapInfo si;
  si.arrayDetails.name = "000197900123";
  si.arrayDetails.encodedPassword = "terces-pot";  // fake host reverses
  ArrayDetails d;
  ASSERT_TRUE(GetArrayDetails(&si, d));
  EXPECT_EQ(d.password, "top-secret");
  EXPECT_EQ(si.releasedArrayDetails, 1);
  EXPECT_FALSE(si.hasLogContaining("top-secret"));
  EXPECT_FALSE(si.hasLogContaining("terces-pot"));
}

class VersionGateTest : public OrchestrationTest {
 protected:
  void Version(unsigned long v, bool ok = true) {
    EXPECT_CALL(*mock, GetSEVersion(::testing::_))
        .WillOnce(DoAll(SetArgReferee<0>(v), Return(ok)));
  }
};

// 9.0 is the lowest accepted; the error text is the user's; a failed probe
// with failure status 0 sets no error.
TEST_F(VersionGateTest, NineZeroIsTheLowestAccepted) {
  auto& si = Request(1);
  Version(8999999);
  EXPECT_FALSE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
  EXPECT_EQ(si.errorText,
            "Installed Solution Enabler version is lower than 9.0, Please "
            "install Solutions Enabler version 9.0 and above");
  Version(9000000);
  EXPECT_TRUE(verifySEVersion(api, &si, PZSO::SNAP_STATUS_MAP_FAILED));
  auto& other = Request(2);
  Version(0, false);
  EXPECT_FALSE(verifySEVersion(api, &other, PZSO::SNAP_STATUS_NO_SNAPSHOT));
  EXPECT_TRUE(other.errorHistory.empty());
}

}  // namespace
}  // namespace orch_test
