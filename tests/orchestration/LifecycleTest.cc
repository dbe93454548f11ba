// Snapshot lifecycle through VMAXAPI: delete, reconcile, revert.
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

// Answers a snapshot query: the records whose snapshot name is listed exist.
auto ExistingSnaps(std::set<std::string> names) {
  return Invoke([names](std::list<VMAXSnapInfo>& q) {
    for (VMAXSnapInfo& i : q) i.exists = names.count(i.snapName) > 0;
    return true;
  });
}

class DeleteSnapsTest : public OrchestrationTest {};

TEST_F(DeleteSnapsTest, AlreadyDeletedSnapshotsCountAsDeleted) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_2"));
  a.errorCode = 7;  // an earlier error is cleared
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(ExistingSnaps({}));
  EXPECT_TRUE(api.DeleteSnaps(l));
  EXPECT_EQ(a.status, PZSO::SNAP_STATUS_DELETED);
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_DELETED);
  EXPECT_EQ(a.errorCode, 0);
}

TEST_F(DeleteSnapsTest, OnlyExistingSnapshotsAreDeletedAndFailed) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_2"));
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(ExistingSnaps({"SN_2"}));
  EXPECT_CALL(*mock, RestoreCleanup(kSerial, "SN_2",
                                    std::list<std::string>{"00A02"}, true))
      .WillOnce(Return(false));  // logged, delete goes on
  EXPECT_CALL(*mock, DeleteSnaps(_))
      .WillOnce(Invoke([&](VMAXSnapParamList& del) {
        EXPECT_EQ(del.params.size(), 1u);
        EXPECT_EQ(del.params.front().sourceDevice, "00A02");
        // The missing one was already marked before the delete ran.
        EXPECT_EQ(a.status, PZSO::SNAP_STATUS_DELETED);
        return false;
      }));
  EXPECT_FALSE(api.DeleteSnaps(l));
  EXPECT_EQ(a.status, PZSO::SNAP_STATUS_DELETED);
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_DELETE_FAILED);
}

// Devices of one snapshot share a host snap id: each is judged by its own
// record, so a missing device is not deleted again and none is doubled.
TEST_F(DeleteSnapsTest, DevicesSharingSnapIdAreJudgedOneByOne) {
  auto& a = Request(5);
  auto& b = Request(5);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_1"));
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(Invoke([](std::list<VMAXSnapInfo>& q) {
        q.front().exists = true;  // only 00A01 still has it
        return true;
      }));
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

TEST_F(DeleteSnapsTest, FailedQueryChangesNothing) {
  auto& a = Request(1);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(Return(false));
  EXPECT_FALSE(api.DeleteSnaps(l));
  EXPECT_TRUE(a.statusHistory.empty());
}

TEST_F(DeleteSnapsTest, SkipRestoreCleanupGoesStraightToDelete) {
  auto& a = Request(1);
  api.config.bSkipRestoreCleanup = true;
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(ExistingSnaps({"SN_1"}));
  EXPECT_CALL(*mock, DeleteSnaps(_)).WillOnce(Return(true));
  EXPECT_TRUE(api.DeleteSnaps(l));  // StrictMock: no RestoreCleanup
  EXPECT_EQ(a.status, PZSO::SNAP_STATUS_DELETED);
}

TEST_F(OrchestrationTest, ReconcileOnlyMarksMissingSnapshots) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_2"));
  EXPECT_CALL(*mock, GetSnapInfo(::testing::An<std::list<VMAXSnapInfo>&>()))
      .WillOnce(ExistingSnaps({"SN_1"}));
  EXPECT_TRUE(api.ReconcileSnaps(l));  // StrictMock: nothing is deleted
  EXPECT_TRUE(a.statusHistory.empty());
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_VANISHED);
}

TEST_F(OrchestrationTest, RevertLeavesStatusesWhenCleanupFails) {
  auto& a = Request(1);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  EXPECT_CALL(*mock, RestoreCleanupAll(kSerial, std::list<std::string>{"00A01"}))
      .WillOnce(Return(false));
  EXPECT_FALSE(api.RevertSnaps(l));
  EXPECT_TRUE(a.statusHistory.empty());
}

TEST_F(OrchestrationTest, RevertMarksEveryRequest) {
  auto& a = Request(1);
  auto& b = Request(2);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  l.params.push_back(Param(b, "00A02", "SN_1"));
  EXPECT_CALL(*mock, RestoreCleanupAll(_, _)).WillRepeatedly(Return(true));
  EXPECT_CALL(*mock, RestoreSnaps(_)).WillOnce(Return(true)).WillOnce(Return(false));
  EXPECT_TRUE(api.RevertSnaps(l));
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_REVERTED);
  EXPECT_FALSE(api.RevertSnaps(l));
  EXPECT_EQ(a.status, PZSO::SNAP_STATUS_REVERT_FAILED);
  EXPECT_EQ(b.status, PZSO::SNAP_STATUS_REVERT_FAILED);
}

}  // namespace
}  // namespace orch_test
