// Revert's all-or-nothing pre-check and reconcile's result rule.
#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

using RevertTest = EngineTest;

TEST_F(RevertTest, OneMappedRequestRefusesTheWholeCall) {
  Add(Uid(kSerialA, "00A1B", "SNAP_1"))->status = PZSO::SNAP_STATUS_CREATED;
  FakeSnapInfo* mapped = Add(Uid(kSerialA, "00A1C", "SNAP_1"));
  mapped->status = PZSO::SNAP_STATUS_MAPPED;
  mapped->sourceDevice = "/dev/sdc";
  Add(Uid(kSerialA, "00A1D", "SNAP_1"))->status = PZSO::SNAP_STATUS_CREATED;
  ArrayAnswers({"restore"});
  EXPECT_EQ(1, pzso_revertSnaps(All(), N(), &os));
  EXPECT_EQ(PZSO::SNAP_STATUS_REVERT_FAILED, R(0)->status);  // checked before
  EXPECT_EQ(PZSO::SNAP_STATUS_MAPPED, mapped->status);
  EXPECT_EQ(60551, mapped->errorCode);
  EXPECT_EQ("Snap device [/dev/sdc] has host mappings, cannot perform revert",
            mapped->errorText);
  EXPECT_EQ(PZSO::SNAP_STATUS_CREATED, R(2)->status);  // never reached
  EXPECT_TRUE(env.runs.empty());
}

// No snapshot is refused with its own error; an earlier error stays.
TEST_F(RevertTest, RefusalsKeepAnEarlierError) {
  struct Case {
    int status, priorCode;
    const char* priorText;
    int code;
    const char* text;
  } cases[] = {{PZSO::SNAP_STATUS_NO_SNAPSHOT, 0, "", 60558, "Failed, could not find snap device"},
               {PZSO::SNAP_STATUS_MAPPED, 11, "earlier", 11, "earlier"}};
  for (const Case& c : cases) {
    owned.clear();
    ptrs.clear();
    FakeSnapInfo* si = Add(Uid(kSerialA, "00A1B", "SNAP_1"));
    si->status = c.status;
    si->errorCode = c.priorCode;
    si->errorText = c.priorText;
    EXPECT_EQ(1, vmax_revertWorker(All(), N(), &os, true));
    EXPECT_EQ(c.code, si->errorCode);
    EXPECT_EQ(c.text, si->errorText);
    if (c.priorCode == 0) { EXPECT_EQ(PZSO::SNAP_STATUS_REVERT_FAILED, si->status); }
  }
}

using ReconcileTest = EngineTest;

// Empty metadata is skipped; array failures still give zero; invalid input
// is one.
TEST_F(ReconcileTest, ArrayFailuresStillGiveZero) {
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
