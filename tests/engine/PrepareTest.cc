// Prepare: source identification, the shared snapshot name, the one-array
// rule and the array step.
#include "tests/engine/EngineFixture.h"
#include "tests/hostdev/InquiryData.h"

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
  for (FakeSnapInfo* si : {a, b}) {
    EXPECT_EQ(Uid(kSerialA, "008F8", "SNAP_1"), si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID]);
    EXPECT_EQ(PZSO::SNAP_STATUS_PREPARED, si->status);
  }
  EXPECT_EQ(1, a->getSnapUniqueIdCalls);
  EXPECT_EQ(0, b->getSnapUniqueIdCalls);
  EXPECT_EQ((std::vector<std::string>{"SNAP_1"}), b->setSnapUniqueIds);
}

TEST_F(PrepareTest, MultipleArraysAreRefusedWithBothSerials) {
  FakeSnapInfo* a = AddSource(kSerialA);
  FakeSnapInfo* b = AddSource(kSerialB);
  ArrayAnswers({});
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  std::string text = std::string("Source devices belong to multiple VMAX arrays [") +
                     kSerialA + " " + kSerialB +
                     " ].Please change subclient content to have devices from a "
                     "single VMAX array.";
  for (FakeSnapInfo* si : {a, b}) {
    EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, si->status);
    EXPECT_EQ(2, si->errorCode);
    EXPECT_EQ(text, si->errorText);
  }
  EXPECT_TRUE(env.runs.empty());  // the array step never ran
}

TEST_F(PrepareTest, IdentificationByScsiInquiry) {
  FakeSnapInfo* si = Add();
  si->sourceDevice = "/dev/sdb";
  si->arrayInfoDb[kSerialB] = "{engineId:1}";
  testing_host::FakeScsiDevice dev;
  dev.standard = inquiry_data::Standard("EMC     ", "SYMMETRIX       ", "0A1B");
  dev.page83 = inquiry_data::Page83ForSerial(kSerialB);
  env.scsi["/dev/sdb"] = dev;
  ArrayAnswers({});
  EXPECT_EQ(0, pzso_prepareDevices(All(), N(), &os));
  EXPECT_EQ(Uid(kSerialB, "00A1B", "SNAP_1"), si->metadata[PZSO::SM_MDT_SNAP_UNIQUE_ID]);
}

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
}

TEST_F(PrepareTest, RefusedMetadataReturnsAtOnce) {
  FakeSnapInfo* a = AddSource(kSerialA);
  a->refuseMetadataTypes.insert(PZSO::SM_MDT_SNAP_UNIQUE_ID);
  EXPECT_EQ(1, pzso_prepareDevices(All(), N(), &os));
  EXPECT_EQ(0, a->errorCode);
  EXPECT_TRUE(env.runs.empty());
}

TEST_F(PrepareTest, WorkerSpreadsArrayFailure) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"));
  Add(Uid(kSerialA, "00A1C", "SNAP_1"));
  // No Solutions Enabler answers: the array parameters cannot be set up.
  EXPECT_EQ(1, vmax_prepareWorker(All(), N(), &os, false));
  EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, R(0)->status);
  EXPECT_EQ(PZSO::SNAP_STATUS_PREPARE_FAILED, R(1)->status);
}

}  // namespace
}  // namespace engine_test
