// Array-side map and unmap: storage group choice, child-only removal,
// detach retries, Hyper-V and decoupled clone unmaps.
#include <atomic>
#include <thread>
#include <utility>

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

// Only targets not yet in the host's group and not mapped are added; no
// initiators or no group fails. A failed restore cleanup is ignored.
TEST_F(MapTest, AddsOnlyMissingUnmappedTargets) {
  struct Case {
    bool initiators, cleanup;
    SGByHBAMap groups;
    StrSet holds;
    StrList added;  // empty: no add
    bool ok;
  } cases[] = {
      {false, false, {}, {}, {}, false},
      {true, true, {{"10000000c9aa0001", {"SG_HOST"}}}, {"000B1", "000B2", "000B3"}, {}, true},
      {true, false, {{"10000000c9aa0001", {"SG_HOST"}}}, {"000B1"}, {"000B3"}, true},
      {true, false, {}, {}, {}, false},
  };
  for (const Case& c : cases) {
    reqs.clear();
    api.snapInfo = nullptr;
    VMAXSnapParamList l = MapList();
    l.params.back().targetMapped = true;
    l.params.push_back(Param(Request(3), "00A03", "SN_1", "000B3"));
    if (!c.initiators) l.initiators.clear();
    api.config.bSkipRestoreCleanup = !c.cleanup;
    if (c.cleanup)
      EXPECT_CALL(*mock, RestoreCleanup(kSerial, "SN_1",
                                        StrList{"00A01", "00A02", "00A03"}, false))
          .WillOnce(Return(false));
    if (c.initiators) Groups(c.groups);
    if (!c.groups.empty()) InGroup("SG_HOST", c.holds);
    if (!c.added.empty())
      EXPECT_CALL(*mock, SGDevAdd(kSerial, c.added, "SG_HOST")).WillOnce(Return(true));
    EXPECT_EQ(c.ok, api.MapSnaps(l));  // StrictMock: no other add
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// With map-to-all, the targets join every group of the host (one or more);
// the last add decides.
TEST_F(MapTest, MapToAllGroupsOfHostAddsToEveryGroupLastDecides) {
  struct Case {
    SGByHBAMap groups;
    int adds;
    std::vector<std::string> added;
    bool ok;
  } cases[] = {
      {{{"I1", {"SG_B", "SG_A"}}, {"I2", {"SG_C"}}}, 4, {"SG_A", "SG_A", "SG_B", "SG_C"}, false},
      {{{"I1", {"SG_A"}}}, 1, {"SG_A"}, true},
  };
  for (const Case& c : cases) {
    reqs.clear();
    api.snapInfo = nullptr;
    VMAXSnapParamList l = MapList();
    api.config.bSkipRestoreCleanup = true;
    env.Set("~Fieldunit", "nSymmMapToAllSgsOfHost", "1");
    l.initiators = {"I1", "I2"};
    Groups(c.groups);
    InGroup("SG_A", {});
    std::vector<std::string> added;
    EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B1", "000B2"}, _))
        .Times(c.adds)
        .WillRepeatedly(Invoke([&](const std::string&, const StrList&,
                                   const std::string& sg) {
          added.push_back(sg);
          return sg != "SG_C";  // the last group refuses
        }));
    EXPECT_EQ(c.ok, api.MapSnaps(l));
    EXPECT_EQ(c.added, added);
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// Targets never join a group that presents the mount's sources (a
// production group) unless the host allows it or the configuration names
// the views; the sources' group sorting first does not matter.
TEST_F(MapTest, MountGroupIsOneWithoutSources) {
  struct Case {
    const char* name;
    StrSet mountGroupHolds;  // SG_Z_mnt's devices
    const char* allowSetting;
    bool namedViews;
    const char* addedTo;  // null: the map fails without an add
  } cases[] = {
      {"prefers the mount group", {"000F1"}, nullptr, false, "SG_Z_mnt"},
      {"every group holds sources", {"00A02"}, nullptr, false, nullptr},
      {"allowed by the host", {"00A02"}, "1", false, "SG_A_prod"},
      {"not allowed by 0", {"00A02"}, "0", false, nullptr},
      {"views named in the configuration", {}, nullptr, true, "SG_A_prod"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reqs.clear();
    api.snapInfo = nullptr;
    env.settings.clear();
    if (c.allowSetting) env.Set("~Fieldunit", "nSymmAllowMapToSourceSG", c.allowSetting);
    api.config.allowMaskingViews.clear();
    if (c.namedViews) api.config.allowMaskingViews = {"MV_prod"};
    VMAXSnapParamList l = MapList();
    api.config.bSkipRestoreCleanup = true;
    Groups({{"10000000c9aa0001", {"SG_Z_mnt", "SG_A_prod"}}});
    EXPECT_CALL(*mock, GetDevListBySG(kSerial, "SG_A_prod", _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&, StrSet& out) {
          out = {"00A01", "000C1"};
          return true;
        }));
    StrSet mountHolds = c.mountGroupHolds;
    EXPECT_CALL(*mock, GetDevListBySG(kSerial, "SG_Z_mnt", _))
        .WillRepeatedly(Invoke([mountHolds](const std::string&, const std::string&,
                                            StrSet& out) {
          out = mountHolds;
          return true;
        }));
    if (c.addedTo)
      EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B1", "000B2"}, c.addedTo))
          .WillOnce(Return(true));
    EXPECT_EQ(c.addedTo != nullptr, api.MapSnaps(l));
    if (!c.addedTo) {
      EXPECT_NE(l.errStr.find("[SG_A_prod,SG_Z_mnt] holds source devices"),
                std::string::npos)
          << l.errStr;
    }
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// ---- UnMapDeviceFromAllHosts

// Devices leave only child groups, in name order; the first failure ends it.
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
      .WillOnce(Return(false));  // the first failure ends it
  EXPECT_FALSE(api.UnMapDeviceFromAllHosts(mp));
  mp.devices.clear();
  EXPECT_FALSE(api.UnMapDeviceFromAllHosts(mp));
}

// The storage-group lookups of unmap run several at a time, never more than
// configured, and give the same removals, in the same order, as one by one;
// the first failing device in device order decides, as it would alone.
TEST_F(MapTest, ParallelLookupsMergeInDeviceOrder) {
  constexpr int kDevices = 20;
  for (const char* width : {"1", "3", "8", "64"}) {
    SCOPED_TRACE(width);
    env.Set("~Fieldunit", "nSymmParallelLookups", width);
    for (int failAt : {-1, 13}) {
      reqs.clear();
      api.snapInfo = nullptr;
      Request(1);
      VMAXMapParams mp;
      mp.serial = kSerial;
      for (int i = 0; i < kDevices; ++i) mp.devices.push_back("000C" + std::to_string(10 + i));
      std::atomic<int> inFlight{0}, most{0};
      // A failed parent listing is no reason to stop (there are none here).
      EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(failAt < 0));
      EXPECT_CALL(*mock, GetSGListByDevice(kSerial, _, _))
          .Times(failAt < 0 ? ::testing::Exactly(kDevices) : ::testing::AtMost(kDevices))
          .WillRepeatedly(Invoke([&](const std::string&, const std::string& dev,
                                     StrList& out) {
            int now = ++inFlight;
            for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
            }
            for (int y = 0; y < 100; ++y) std::this_thread::yield();
            int n = std::stoi(dev.substr(4));
            out = {n % 2 ? "SG_ODD" : "SG_EVEN", n % 3 ? "SG_B" : "SG_A"};
            --inFlight;
            return n - 10 != failAt;
          }));
      StrList even, odd, a, b;
      for (int i = 0; i < kDevices; ++i) {
        const std::string& d = *std::next(mp.devices.begin(), i);
        ((10 + i) % 2 ? odd : even).push_back(d);
        ((10 + i) % 3 ? b : a).push_back(d);
      }
      if (failAt < 0) {
        ::testing::InSequence order;
        for (auto [group, devs] : {std::pair{"SG_A", a}, {"SG_B", b},
                                   {"SG_EVEN", even}, {"SG_ODD", odd}})
          EXPECT_CALL(*mock, SGDevRemove(kSerial, devs, group)).WillOnce(Return(true));
      }
      EXPECT_EQ(failAt < 0, api.UnMapDeviceFromAllHosts(mp));
      EXPECT_LE(most.load(), std::stoi(width));
      ::testing::Mock::VerifyAndClearExpectations(mock.get());
    }
  }
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
    EXPECT_CALL(*mock, GetParentSGList(_, _)).WillRepeatedly(Return(true));
    EXPECT_CALL(*mock, GetSGListByDevice(_, _, _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&,
                                  StrList& out) {
          out = {"SG_HOST"};
          return true;
        }));
    EXPECT_CALL(*mock, SGDevRemove(_, _, "SG_HOST")).WillRepeatedly(Return(true));
  }
  // The unlinked targets are in no storage group.
  void InNoGroup() {
    EXPECT_CALL(*mock, GetParentSGList(_, _)).WillRepeatedly(Return(true));
    EXPECT_CALL(*mock, GetSGListByDevice(_, _, _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&,
                                  StrList& out) {
          out.clear();
          return true;
        }));
  }
};

// Nothing linked: every request is unmapped without a change command, and a
// reservation whose target never got linked (a map that failed half way) is
// given back instead of staying in the database; another job's stays.
TEST_F(UnmapTest, NothingLinkedMarksAllUnmappedAndFreesOwnReservations) {
  VMAXSnapParamList l = MapList();
  api.config.bSkipRestoreCleanup = false;
  Hold(1, "00A01", "000B1");
  Hold(9, "00A09", "000B2");  // another job's, same target by mistake
  EXPECT_CALL(*mock, RestoreCleanup(_, _, _, false)).WillOnce(Return(true));
  LinkedOnArray({});
  InNoGroup();
  EXPECT_TRUE(api.UnmapSnaps(l, kJobId));  // StrictMock: no change command
  EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAPPED);
  EXPECT_FALSE(Held("000B1", 1));
  EXPECT_TRUE(Held("000B2", 9));
}

// A recorded target unlinked outside the host but still presented by a
// storage group leaves that group before the request counts as unmapped;
// when it cannot be removed the request stays unmap-failed and keeps its
// reservation.
class StaleTargetTest : public UnmapTest,
                        public ::testing::WithParamInterface<bool> {};

TEST_P(StaleTargetTest, UnlinkedTargetStillInAGroupLeavesIt) {
  const bool removable = GetParam();
  VMAXSnapParamList l = MapList();
  l.params.pop_back();
  Hold(1, "00A01", "000B1");
  reqs[0]->status = PZSO::SNAP_STATUS_UNMAP_FAILED;
  LinkedOnArray({});
  EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
  EXPECT_CALL(*mock, GetSGListByDevice(_, "000B1", _))
      .WillOnce(Invoke([](const std::string&, const std::string&, StrList& out) {
        out = {"SG_HOST"};
        return true;
      }));
  EXPECT_CALL(*mock, SGDevRemove(_, _, "SG_HOST")).WillOnce(Return(removable));
  EXPECT_EQ(removable, api.UnmapSnaps(l, kJobId));
  EXPECT_EQ(reqs[0]->status, removable ? PZSO::SNAP_STATUS_UNMAPPED
                                       : PZSO::SNAP_STATUS_UNMAP_FAILED);
  EXPECT_EQ(!removable, Held("000B1", 1));
}

INSTANTIATE_TEST_SUITE_P(RemovalRefusedOrNot, StaleTargetTest, ::testing::Bool());

// Linked targets leave the group, are unlinked and released; a Hyper-V
// backup's unmap keeps the link and the reservation.
TEST_F(UnmapTest, UnmapReleasesAndUnlinksLinkedTargets) {
  for (bool hyperV : {false, true}) {
    SCOPED_TRACE(hyperV);
    reqs.clear();
    api.snapInfo = nullptr;
    VMAXSnapParamList l = MapList();
    if (hyperV) reqs[0]->snapFlags.insert(PZSO::SNAP_FLAG_HYPERV_BACKUP);
    Hold(1, "00A01", "000B1");
    Hold(2, "00A02", "000B2");
    LinkedOnArray({"000B1", hyperV ? "000B2" : ""});
    RemovableFromOneGroup();
    if (!hyperV)
      EXPECT_CALL(*mock, UnlinkTarget(_)).WillOnce(Invoke([](VMAXSnapParamList& w) {
        EXPECT_EQ(w.params.size(), 1u);
        return true;
      }));
    EXPECT_TRUE(api.UnmapSnaps(l, kJobId));  // StrictMock: no unlink for Hyper-V
    EXPECT_EQ(hyperV, Held("000B1", 1));
    EXPECT_EQ(reqs[0]->status, PZSO::SNAP_STATUS_UNMAPPED);
    EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAPPED);
    EXPECT_EQ(reqs[0]->metadata[PZSO::SM_MDT_MAPPED_TARGET_DEVICE], "000B1");
    EXPECT_TRUE(env.sleeps.empty());
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
    env.database.reservations.clear();
  }
}

// Detach: five attempts ten seconds apart by default; 0 attempts means one;
// a forced unlink sets no status.
TEST_F(UnmapTest, DetachRetries) {
  struct Case {
    const char* attempts;
    const char* waitSecs;
    bool force;
    std::vector<bool> results;
    std::vector<int64_t> sleeps;
  } cases[] = {
      {nullptr, nullptr, false, {false, false, false, false, false},
       {10000, 10000, 10000, 10000}},
      {"0", nullptr, true, {false}, {}},
      {nullptr, "3", false, {false, true}, {3000}},
  };
  for (const Case& c : cases) {
    reqs.clear();
    api.snapInfo = nullptr;
    env.settings.clear();
    env.sleeps.clear();
    VMAXSnapParamList l = MapList();
    if (c.attempts) env.Set("~Fieldunit", "nSymmDetachRetryAttempts", c.attempts);
    if (c.waitSecs) env.Set("~Fieldunit", "nSymmDetachRetryWaitSecs", c.waitSecs);
    api.config.bSYMCLIForceUnlink = c.force;
    LinkedOnArray({"000B1", "000B2"});
    RemovableFromOneGroup();
    auto& unlink = EXPECT_CALL(*mock, UnlinkTarget(_)).Times(c.results.size());
    for (bool r : c.results) unlink.WillOnce(Return(r));
    const bool ok = c.results.back();
    EXPECT_EQ(ok, api.UnmapSnaps(l, kJobId));
    EXPECT_EQ(c.sleeps, env.sleeps);
    if (c.force)
      EXPECT_TRUE(reqs[0]->statusHistory.empty());
    else
      EXPECT_EQ(reqs[0]->status, ok ? PZSO::SNAP_STATUS_UNMAPPED
                                    : PZSO::SNAP_STATUS_UNMAP_FAILED);
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

TEST_F(UnmapTest, FailedGroupRemovalMarksFailedAndKeepsLink) {
  VMAXSnapParamList l = MapList();
  LinkedOnArray({"000B1", "000B2"});
  EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
  // The lookups run side by side: the second may have started before the
  // first failed, and its outcome must not matter.
  EXPECT_CALL(*mock, GetSGListByDevice(_, "000B1", _)).WillOnce(Return(false));
  EXPECT_CALL(*mock, GetSGListByDevice(_, "000B2", _))
      .Times(::testing::AtMost(1))
      .WillRepeatedly(Return(true));
  EXPECT_FALSE(api.UnmapSnaps(l, kJobId));  // StrictMock: no unlink
  EXPECT_EQ(reqs[1]->status, PZSO::SNAP_STATUS_UNMAP_FAILED);
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
  bool written = false;
  for (const auto& f : env.files)
    if (f.first.rfind("/fake/logs/VMAX_DClone_" + std::string(kSerial) + "_", 0) == 0)
      written = f.second == text;
  EXPECT_TRUE(written);
}

}  // namespace
}  // namespace orch_test
