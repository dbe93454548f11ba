// Snap and delete workers: one create per array, the partial delete code.
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

using DeleteTest = EngineTest;

TEST_F(DeleteTest, PartialDeleteGivesTwo) {
  Add();                                     // nothing to delete: counts as deleted
  Add()->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "";  // empty: deleted too
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));     // array unreachable: 21
  EXPECT_EQ(2, pzso_deleteSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETED, R(1)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_DELETE_FAILED, R(2)->status);
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
