// Array-side map and unmap: storage group choice, child-only removal,
// detach retries, Hyper-V and decoupled clone unmaps.
#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;
using testing_host::SGByHBAMap;
using testing_host::StrList;
using testing_host::StrSet;

class MapTest : public OrchestrationTest {
 protected:
  VMAXSnapParamList MapList() {
    auto& a = Request(1);
    auto& b = Request(2);
    VMAXSnapParamList l = List();
    l.initiators = {"10000000c9aa0001"};
    l.params.push_back(Param(a, "00A01", "SN_1", "000B1"));
    l.params.push_back(Param(b, "00A02", "SN_1", "000B2"));
    return l;
  }
  void Groups(SGByHBAMap groups) {
    EXPECT_CALL(*mock, GetSGListByHBA(kSerial, _, _))
        .WillOnce(Invoke([groups](const std::string&, const StrList&,
                                  SGByHBAMap& out) {
          out = groups;
          return true;
        }));
  }
  void InGroup(const std::string& sg, StrSet devs) {
    EXPECT_CALL(*mock, GetDevListBySG(kSerial, sg, _))
        .WillOnce(Invoke([devs](const std::string&, const std::string&,
                                StrSet& out) {
          out = devs;
          return true;
        }));
  }
};

TEST_F(MapTest, InvalidParametersTouchNothing) {
  VMAXSnapParamList l = MapList();
  l.initiators.clear();
  EXPECT_FALSE(api.MapSnaps(l));
  EXPECT_TRUE(reqs[0]->hasLogContaining("Invalid parameters [Dump of VMAXSnapParamList Object: "));
}

TEST_F(MapTest, AllTargetsAlreadyInGroupRunsNoAdd) {
  VMAXSnapParamList l = MapList();
  EXPECT_CALL(*mock, RestoreCleanup(kSerial, "SN_1",
                                    StrList{"00A01", "00A02"}, false))
      .WillOnce(Return(false));  // ignored
  Groups({{"10000000c9aa0001", {"SG_HOST"}}});
  InGroup("SG_HOST", {"000B1", "000B2"});
  EXPECT_TRUE(api.MapSnaps(l));  // StrictMock: no SGDevAdd
  EXPECT_TRUE(reqs[0]->hasLog(
      "All the target devices are already in storage group [SG_HOST]"));
}

TEST_F(MapTest, AddsOnlyMissingUnmappedTargets) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = true;
  l.params.back().targetMapped = true;
  l.params.push_back(Param(Request(3), "00A03", "SN_1", "000B3"));
  Groups({{"10000000c9aa0001", {"SG_HOST"}}});
  InGroup("SG_HOST", {"000B1"});
  EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B3"}, "SG_HOST"))
      .WillOnce(Return(true));
  EXPECT_TRUE(api.MapSnaps(l));
}

TEST_F(MapTest, MapToAllGroupsOfHostAddsToEveryGroupLastDecides) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = true;
  env.Set("~Fieldunit", "nSymmMapToAllSgsOfHost", "1");
  l.initiators = {"I1", "I2"};
  Groups({{"I1", {"SG_B", "SG_A"}}, {"I2", {"SG_C"}}});
  InGroup("SG_A", {});
  std::vector<std::string> added;
  EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B1", "000B2"}, _))
      .Times(4)
      .WillRepeatedly(Invoke([&](const std::string&, const StrList&,
                                 const std::string& sg) {
        added.push_back(sg);
        return sg != "SG_C";  // the last group refuses
      }));
  EXPECT_FALSE(api.MapSnaps(l));
  EXPECT_EQ(added, (std::vector<std::string>{"SG_A", "SG_A", "SG_B", "SG_C"}));
}

TEST_F(MapTest, MapToAllGroupsWithOneGroupAddsOnce) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = true;
  env.Set("~Fieldunit", "nSymmMapToAllSgsOfHost", "1");
  Groups({{"10000000c9aa0001", {"SG_HOST"}}});
  InGroup("SG_HOST", {});
  EXPECT_CALL(*mock, SGDevAdd(_, _, "SG_HOST")).WillOnce(Return(true));
  EXPECT_TRUE(api.MapSnaps(l));
  EXPECT_TRUE(reqs[0]->hasLog("Device mapping success"));
}

TEST_F(MapTest, NoStorageGroupFails) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = true;
  Groups({});
  EXPECT_FALSE(api.MapSnaps(l));
  EXPECT_TRUE(reqs[0]->hasLog("No storage group found"));
}

// ---- UnMapDeviceFromAllHosts

TEST_F(MapTest, RemovalOnlyFromChildGroupsInNameOrder) {
  Request(1);
  VMAXMapParams mp;
  mp.serial = kSerial;
  mp.devices = {"000B1", "000B2"};
  EXPECT_CALL(*mock, GetParentSGList(kSerial, _))
      .WillOnce(Invoke([](const std::string&, StrSet& out) {
        out = {"SG_PARENT"};
        return true;
      }));
  EXPECT_CALL(*mock, GetSGListByDevice(kSerial, "000B1", _))
      .WillOnce(Invoke([](const std::string&, const std::string&, StrList& out) {
        out = {"SG_PARENT", "SG_Z"};
        return true;
      }));
  EXPECT_CALL(*mock, GetSGListByDevice(kSerial, "000B2", _))
      .WillOnce(Invoke([](const std::string&, const std::string&, StrList& out) {
        out = {"SG_Z", "SG_A"};
        return true;
      }));
  ::testing::InSequence order;
  EXPECT_CALL(*mock, SGDevRemove(kSerial, StrList{"000B2"}, "SG_A"))
      .WillOnce(Return(true));
  EXPECT_CALL(*mock, SGDevRemove(kSerial, StrList{"000B1", "000B2"}, "SG_Z"))
      .WillOnce(Return(true));
  EXPECT_TRUE(api.UnMapDeviceFromAllHosts(mp));
}

TEST_F(MapTest, RemovalStopsAtFirstFailure) {
  Request(1);
  VMAXMapParams mp;
  mp.serial = kSerial;
  mp.devices = {"000B1"};
  EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(false));
  EXPECT_CALL(*mock, GetSGListByDevice(_, "000B1", _))
      .WillOnce(Invoke([](const std::string&, const std::string&, StrList& out) {
        out = {"SG_A", "SG_B"};
        return true;
      }));
  EXPECT_CALL(*mock, SGDevRemove(_, _, "SG_A")).WillOnce(Return(false));
  EXPECT_FALSE(api.UnMapDeviceFromAllHosts(mp));
  EXPECT_TRUE(reqs[0]->hasLog(
      "Failed to remove devices [000B1] from storage group [SG_A]"));
  mp.devices.clear();
  EXPECT_FALSE(api.UnMapDeviceFromAllHosts(mp));
}

// ---- UnmapSnaps

class UnmapTest : public MapTest {
 protected:
  void SetUp() override { api.config.bSkipRestoreCleanup = true; }
  void LinkedOnArray(std::set<std::string> linked) {
    EXPECT_CALL(*mock, IsSnapLinked(_))
        .WillOnce(Invoke([linked](VMAXSnapParamList& l) {
          for (auto& p : l.params) {
            p.targetLinked = linked.count(p.targetDevice) > 0;
            if (!p.targetLinked) p.targetDevice.clear();
          }
          return true;
        }));
  }
  void RemovableFromOneGroup() {
    EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
    EXPECT_CALL(*mock, GetSGListByDevice(_, _, _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&,
                                  StrList& out) {
          out = {"SG_HOST"};
          return true;
        }));
    EXPECT_CALL(*mock, SGDevRemove(_, _, "SG_HOST")).WillOnce(Return(true));
  }
};

TEST_F(UnmapTest, NothingLinkedMarksAllUnmapped) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = false;
  EXPECT_CALL(*mock, RestoreCleanup(_, _, _, false)).WillOnce(Return(true));
  LinkedOnArray({});
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));  // StrictMock: no change command
  EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_TRUE(reqs[0]->hasLog("All snaps are unmapped"));
  EXPECT_TRUE(reqs[0]->hasLog(
      "Target device [000B1] is not linked to snap [SN_1] source [00A01], "
      "considering unmapped."));
}

// A reservation whose target never got linked (a map that failed half way)
// is given back by the unmap instead of staying in the database.
TEST_F(UnmapTest, UnlinkedTargetsLoseTheirOwnReservation) {
  VMAXSnapParamList l = MapList();
  Hold(1, "00A01", "000B1");
  Hold(9, "00A09", "000B2");  // another job's, same target by mistake
  LinkedOnArray({});
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));
  EXPECT_FALSE(Held("000B1", 1));
  EXPECT_TRUE(Held("000B2", 9));
}

TEST_F(UnmapTest, UnmapReleasesAndUnlinksLinkedTargets) {
  VMAXSnapParamList l = MapList();
  Hold(1, "00A01", "000B1");
  Hold(2, "00A02", "000B2");
  LinkedOnArray({"000B1"});
  RemovableFromOneGroup();
  EXPECT_CALL(*mock, UnlinkTarget(_))
      .WillOnce(Invoke([](VMAXSnapParamList& w) {
        EXPECT_EQ(w.params.size(), 1u);
        return true;
      }));
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));
  EXPECT_TRUE(env.database.reservations.empty());
  EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_EQ(reqs[0]->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE], "000B1");
  EXPECT_TRUE(env.sleeps.empty());
}

TEST_F(UnmapTest, DetachDefaultsToFiveAttemptsTenSecondsApart) {
  VMAXSnapParamList l = MapList();
  LinkedOnArray({"000B1", "000B2"});
  RemovableFromOneGroup();
  EXPECT_CALL(*mock, UnlinkTarget(_)).Times(5).WillRepeatedly(Return(false));
  EXPECT_FALSE(api.UnmapSnaps(l, kJobId));
  EXPECT_EQ(env.sleeps, (std::vector<int64_t>{10000, 10000, 10000, 10000}));
  EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAP_FAILED);
  EXPECT_TRUE(reqs[0]->hasLog("Link Device detach attempt [5 of 5]"));
}

TEST_F(UnmapTest, DetachAttemptsZeroMeansOne) {
  VMAXSnapParamList l = MapList();
  env.Set("~Fieldunit", "nSymmDetachRetryAttempts", "0");
  api.config.bSYMCLIForceUnlink = true;
  LinkedOnArray({"000B1", "000B2"});
  RemovableFromOneGroup();
  EXPECT_CALL(*mock, UnlinkTarget(_)).WillOnce(Return(false));
  EXPECT_FALSE(api.UnmapSnaps(l, kJobId));
  EXPECT_TRUE(env.sleeps.empty());
  EXPECT_TRUE(reqs[0]->statusHistory.empty());  // forced: no status
}

TEST_F(UnmapTest, ConfiguredWaitAndSuccessOnRetry) {
  VMAXSnapParamList l = MapList();
  env.Set("~Fieldunit", "nSymmDetachRetryWaitSecs", "3");
  LinkedOnArray({"000B1", "000B2"});
  RemovableFromOneGroup();
  EXPECT_CALL(*mock, UnlinkTarget(_))
      .WillOnce(Return(false))
      .WillOnce(Return(true));
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));
  EXPECT_EQ(env.sleeps, (std::vector<int64_t>{3000}));
}

TEST_F(UnmapTest, FailedGroupRemovalMarksFailedAndKeepsLink) {
  VMAXSnapParamList l = MapList();
  LinkedOnArray({"000B1", "000B2"});
  EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
  EXPECT_CALL(*mock, GetSGListByDevice(_, _, _)).WillOnce(Return(false));
  EXPECT_FALSE(api.UnmapSnaps(l, kJobId));  // StrictMock: no unlink
  EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAP_FAILED);
}

TEST_F(UnmapTest, HyperVUnmapKeepsLinkAndReservation) {
  VMAXSnapParamList l = MapList();
  reqs[0]->snapFlags.insert(PZSO::SNAP_FLAG_HYPERV_BACKUP);
  Hold(1, "00A01", "000B1");
  LinkedOnArray({"000B1", "000B2"});
  RemovableFromOneGroup();
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));  // StrictMock: no unlink
  EXPECT_TRUE(Held("000B1", 1));
  EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAPPED);
}

TEST_F(UnmapTest, DecoupledCloneLeavesGroupsAndWritesRecord) {
  VMAXSnapParamList l = MapList();
  l.decoupledClone = true;
  l.params.front().snapDevFName = "PZ_LD_Clone_7";
  l.params.back().snapDevFName = "PZ_LD_Clone_8";
  env.Set("EventManager", "dEVLOGDIR", "/fake/logs");
  LinkedOnArray({"000B1", "000B2"});
  EXPECT_CALL(*mock, UnlinkTarget(_)).WillOnce(Return(true));
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));  // StrictMock: no group change
  const std::string text =
      "00A01 SN_1 000B1 PZ_LD_Clone_7\n00A02 SN_1 000B2 PZ_LD_Clone_8\n";
  EXPECT_TRUE(reqs[0]->hasLog("Decoupled instant clones [" + text + "]"));
  bool written = false;
  for (const auto& f : env.files)
    if (f.first.rfind("/fake/logs/VMAX_DClone_" + std::string(kSerial) + "_", 0) == 0)
      written = f.second == text;
  EXPECT_TRUE(written);
  EXPECT_TRUE(reqs[0]->hasLogContaining("Decoupled clone details are saved to file"));
}

}  // namespace
}  // namespace orch_test
