// The workers: prepare (the VPLEX back-end source, the shared snapshot name,
// failures part way), snap (one create per array) and reconcile's result
// rule.
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

// A device WWN of array 000292605199 naming device 008F8.
constexpr const char* kWwn = "60000970000292605199533030384638";

class PrepareTest : public EngineTest {
 protected:
  FakeSnapInfo* AddSource(const std::string& vplexSerial) {
    FakeSnapInfo* si = Add();
    si->sourceDevice = "/dev/mapper/vg-lv";
    si->metadata[PZSO::SM_MDT_VPLEX_BACKEND_DEVICE] = vplexSerial + ":" + kWwn;
    si->arrayInfoDb[vplexSerial] = "{engineId:1,hostName:ctl,hostUserName:u}";
    return si;
  }
};

// The VPLEX back-end serial wins over the WWN's array; only the first request
// asks for the snapshot name, the others are given it.
TEST_F(PrepareTest, VplexBackendSerialAndTheSharedSnapshotName) {
  FakeSnapInfo* a = AddSource(kSerialA);
  FakeSnapInfo* b = AddSource(kSerialA);
  b->snapUniqueId = "OTHER";
  ArrayAnswers({});
  EXPECT_EQ(0, pzso_prepareDevices(All(), N(), &os));
  for (FakeSnapInfo* si : {a, b})
    EXPECT_EQ(Uid(kSerialA, "008F8", "SNAP_1"), si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID]);
  EXPECT_EQ(1, a->getSnapUniqueIdCalls);
  EXPECT_EQ(0, b->getSnapUniqueIdCalls);
  EXPECT_EQ((std::vector<std::string>{"SNAP_1"}), b->setSnapUniqueIds);
}

// A bad back-end identifier fails its request with its own text and the
// later ones without one; refused metadata returns at once.
TEST_F(PrepareTest, FailuresStopAtTheFailingRequest) {
  FakeSnapInfo* a = AddSource(kSerialA);
  FakeSnapInfo* b = Add();
  FakeSnapInfo* c = AddSource(kSerialA);
  b->metadata[PZSO::SM_MDT_VPLEX_BACKEND_DEVICE] = "no-colon";
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  EXPECT_TRUE(a->metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID));
  EXPECT_EQ(62005, b->errorCode);
  EXPECT_EQ("Failed to parse VPLEX backend device identifier [no-colon]", b->errorText);
  EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, c->status);
  EXPECT_EQ(0, c->errorCode);
  EXPECT_FALSE(c->metadata.count(PZSO::SM_MDT_SNAP_UNIQUE_ID));
  a->metadata.erase(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  a->refuseMetadataTypes.insert(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  EXPECT_EQ(0, a->errorCode);
  EXPECT_EQ(0, b->errorCode);  // b was not reached again
  EXPECT_TRUE(env.runs.empty());
}

TEST_F(EngineTest, SnapTwoArraysMakeTwoCreates) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_1"));
  Add(Uid(kSerialA, "00A1C", "SNAP_1"));
  ArrayAnswers({"establish"});
  EXPECT_EQ(0, pzso_snapDevices(All(), N(), &os));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialA}));
  EXPECT_EQ(1, Runs({"establish", std::string("-sid ") + kSerialB}));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, R(i)->status);
}

// Empty metadata is skipped; array failures still give zero; invalid input
// is one.
TEST_F(EngineTest, ReconcileArrayFailuresStillGiveZero) {
  Add()->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID] = "";
  EXPECT_EQ(0, pzso_reconcileSnaps(All(), N(), &os));
  EXPECT_TRUE(R(0)->statusHistory.empty());
  EXPECT_TRUE(env.runs.empty());
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialB, "00B01", "SNAP_2"), 2);
  EXPECT_EQ(0, vmax_reconcileWorker(All(), N(), &os, true));
  EXPECT_EQ(1, vmax_reconcileWorker(nullptr, 1, &os, true));
}

}  // namespace
}  // namespace engine_test
