// Snapshot delete through VMAXAPI: the per-device judgement that the
// end-to-end lifecycle cannot stage (devices sharing a host snap id).
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::An;
using ::testing::Invoke;
using ::testing::Return;

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

}  // namespace
}  // namespace orch_test
