// Unmap: array side and host clean-up, including the partial outcome.
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

class UnmapTest : public EngineTest {
 protected:
  void SetUp() override { OneInitiator(); }
  FakeSnapInfo* AddMapped(const std::string& serial, const std::string& target,
                          int arrayNum = 1) {
    FakeSnapInfo* si = Add(Uid(serial, "00A1B", "SNAP_1"), arrayNum);
    si->sourceDevice = "/dev/src";
    if (!target.empty()) si->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE] = target;
    return si;
  }
};

TEST_F(UnmapTest, OneFailingArrayOfTwoGivesPartial) {
  AddMapped(kSerialA, "");           // nothing mapped: unmapped at once
  AddMapped(kSerialB, "00C02", 2);   // its array cannot be reached
  EXPECT_EQ(1, vmax_unmapWorker(All(), N(), &os, true));
  EXPECT_EQ(2, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAPPED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, R(1)->status);
  EXPECT_EQ("00C02", R(1)->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE]);
}

TEST_F(UnmapTest, PartialCleansUpTheHostPathsOfTheUnmappedOnes) {
  FakeSnapInfo* done = AddMapped(kSerialA, "00C01");
  FakeSnapInfo* failed = AddMapped(kSerialA, "00C02");
  AddHostDevice("/dev/sdc", "0C01");
  AddHostDevice("/dev/sdd", "0C02");
  os.deviceLists = {{"/dev/sdc", "/dev/sdd"}};
  ForwardTo("ma2");
  os.onRemote = [&](const std::string&) {
    done->status = PZSO::SNAP_STATUS_UNMAPPED;
    failed->status = PZSO::SNAP_STATUS_UNMAP_FAILED;
    done->requestMetadata[PZSO::SM_MDT_REMOTE_EXEC_MSG] = "1";
    return true;
  };
  EXPECT_EQ(2, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAPPED, done->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, failed->status);
  ASSERT_EQ(1u, os.rescans.size());
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc"}), os.rescans[0].cleanup);
  EXPECT_FALSE(done->metadata.count(PZSO::SM_MDT_MAPPED_TARGET_DEVICE));
  EXPECT_EQ("00C02", failed->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE]);
}

TEST_F(UnmapTest, ForwardThatNeverArrivesLeavesNothingUnmapped) {
  AddMapped(kSerialA, "00C01")->status = PZSO::SNAP_STATUS_UNMAPPED;  // stale
  ForwardTo("ma2");
  os.remoteResult = false;
  EXPECT_EQ(1, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_UNMAP_FAILED, R(0)->status);
  EXPECT_TRUE(os.rescans.empty());
}

TEST_F(UnmapTest, InitiatorAndHostFailuresComeFirst) {
  AddMapped(kSerialA, "00C01");
  os.initiatorNames.clear();
  EXPECT_EQ(1, pzso_unmapSnaps(All(), N(), &os));
  EXPECT_EQ(62003, R(0)->errorCode);
  EXPECT_EQ("pzso_unmapSnapsUnable to detect initiator info.", R(0)->errorText);
  EXPECT_TRUE(os.rescans.empty());
}

}  // namespace
}  // namespace engine_test
