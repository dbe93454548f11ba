// Snap, post-snap and delete workers.
#include "engine/WorkerSupport.h"
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

using SnapTest = EngineTest;

TEST_F(SnapTest, TwoArraysMakeTwoCreates) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"));
  Add(Uid(kSerialA, "00A1C", "SNAP_1"));
  ArrayAnswers({"establish"});
  EXPECT_EQ(0, pzso_snapDevices(All(), N(), &os));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialA}));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialB}));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, R(i)->status);
}

TEST_F(SnapTest, FailureOnOneArrayMarksEveryRequest) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"));
  ArrayAnswers({"establish"}, {kSerialB});
  EXPECT_EQ(1, vmax_postSnapWorker(All(), N(), &os, true));
  EXPECT_EQ(PZSO::SNAP_STATUS_CREATE_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_CREATE_FAILED, R(1)->status);
}

TEST_F(SnapTest, MissingMetadataEndsBeforeAnySnapshot) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"))->status = 1;
  Add();
  ArrayAnswers({"establish"});
  EXPECT_EQ(1, pzso_snapDevices(All(), N(), &os));
  EXPECT_EQ(1, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_CREATE_FAILED, R(1)->status);
  EXPECT_EQ(62033, R(1)->errorCode);
  EXPECT_EQ(0, Runs({"establish"}));
}

using DeleteTest = EngineTest;

TEST_F(DeleteTest, PartialDeleteGivesTwo) {
  Add();                                     // nothing to delete: counts as deleted
  Add()->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "";  // empty: deleted too
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));     // array unreachable: 21
  EXPECT_EQ(2, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETED, R(1)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETE_FAILED, R(2)->status);
  EXPECT_EQ(2, R(0)->countLogs("Nothing to delete as unique identifier is empty."));
}

TEST(SnapDeviceNameTest, CloneMountUsesTheMountId) {
  FakeSnapInfo si;
  VMAXMetadata md;
  md.snapName = "SP_7_1612339509";
  EXPECT_EQ("PZ_LD_SP_7_1612339509", snapDeviceName(&si, md));
  si.snapFlags.insert(PZSO::SNAP_FLAG_CLONE_MOUNT);
  si.mountId = 42;
  EXPECT_EQ("PZ_LD_Clone_42", snapDeviceName(&si, md));
}

}  // namespace
}  // namespace engine_test
