// Target selection, the reserve-retry-link sequence of ReserveTarget, and
// the array-side map and unmap: storage group choice, child-only removal in
// parallel lookups, stale targets, detach retries and Hyper-V unmaps.
#include <atomic>
#include <map>
#include <thread>
#include <utility>

#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::An;
using ::testing::Invoke;
using ::testing::Return;
using testing_host::SGByHBAMap;
using testing_host::StrList;
using testing_host::StrSet;

class TargetTest : public OrchestrationTest {
 protected:
  void FreeTargets(std::list<VMAXLun> luns) {
    EXPECT_CALL(*mock, GetFreeTDEVListBySG(kSerial, kTargetSG, _))
        .WillRepeatedly(Invoke([luns](const std::string&, const std::string&,
                                      std::list<VMAXLun>& out) {
          out.insert(out.end(), luns.begin(), luns.end());
          return true;
        }));
  }
  void SourceSizes(std::map<std::string, uint64_t> sizes) {
    EXPECT_CALL(*mock, GetDevProps(kSerial, An<const StrList&>(), _))
        .WillRepeatedly(Invoke([sizes](const std::string&, const StrList&,
                                       testing_host::DevPropMap& props) {
          for (const auto& s : sizes) props[s.first] = Lun(s.first, s.second);
          return true;
        }));
  }
  std::unordered_set<std::string> none;
};

// ---- FindTarget

// Each source in list order takes the first free target of its exact size
// in array order; an earlier target (from metadata) is replaced by a fit or
// kept, but never shared; a reserved device keeps its own target, and a
// target in the active set is never given.
TEST_F(TargetTest, FindTargetCases) {
  struct Source {
    const char* device;
    uint64_t cylinders;
    const char* earlierTarget;
    bool reserved;
  };
  struct Case {
    const char* name;
    std::vector<Source> sources;
    std::list<VMAXLun> free;
    std::unordered_set<std::string> active;
    bool found;
    std::vector<std::string> targets;
    const char* error;  // part of the list's error text
  } cases[] = {
      {"size must match exactly", {{"00A01", 1000, "", false}},
       {Lun("000B1", 1001), Lun("000B2", 999)}, {}, false, {""},
       "No suitable target device found for snaps [SN_1,].Please add or "
       "free target devices in specified storage group [PZ_TARGETS]."},
      {"active target skipped even as the only match", {{"00A01", 1000, "", false}},
       {Lun("000B1", 1000)}, {"000B1"}, false, {""}, "[SN_1,]"},
      {"earlier target replaced or kept",
       {{"00A01", 1000, "000C1", false}, {"00A02", 2000, "000C2", false}},
       {Lun("000B1", 1000)}, {}, true, {"000B1", "000C2"}, ""},
      {"kept target never shared",
       {{"00A01", 3000, "000B1", false}, {"00A02", 1000, "", false}},
       {Lun("000B1", 1000)}, {}, false, {"", "000B1"}, "[SN_1,]"},
      {"reserved device keeps its target exclusively",
       {{"00A01", 1000, "000B1", true}, {"00A02", 1000, "", false}},
       {Lun("000B1", 1000), Lun("000B2", 1000)}, {}, true, {"000B1", "000B2"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    VMAXSnapParamList l = List();
    std::map<std::string, uint64_t> sizes;
    int id = 0;
    for (const Source& src : c.sources) {
      ++id;
      l.params.push_back(Param(Request(id), src.device, "SN_" + std::to_string(id),
                               src.earlierTarget));
      l.params.back().reserved = src.reserved;
      sizes[src.device] = src.cylinders;
    }
    FreeTargets(c.free);
    SourceSizes(sizes);
    std::unordered_set<std::string> active = c.active;
    EXPECT_EQ(c.found, api.FindTarget(l, active));
    std::vector<std::string> targets;
    for (const auto& p : l.params) targets.push_back(p.targetDevice);
    EXPECT_EQ(c.targets, targets);
    EXPECT_NE(l.errStr.find(c.error), std::string::npos) << l.errStr;
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// An empty pool is named to the user. (A failed listing is struck at every
// step by the hardening runs.)
TEST_F(TargetTest, EmptyPoolLeavesUserText) {
  VMAXSnapParamList l = List();
  l.params.push_back(Param(Request(1), "00A01", "SN_1"));
  FreeTargets({});
  EXPECT_FALSE(api.FindTarget(l, none));
  EXPECT_EQ(l.errStr,
            "There are no target devices available in specified storage "
            "group [PZ_TARGETS]");
}

// ---- ReserveTarget

// A refused target is asked for again after a jittered share of the
// configured wait (between half of it and all of it, through the host's
// sleep service) until granted. Refused in every attempt: what was granted
// is released, a target that another job holds stays reserved for it, and
// every device learns why. The attempts end at the configured count or at
// the deadline.
TEST_F(TargetTest, RefusedTargetsAreRetriedThenOwnGrantsReleased) {
  struct Case {
    const char* attempts;
    const char* maxSecs;
    int refusals, minReserves, maxReserves;
  } cases[] = {{"100", "600", 2, 3, 3}, {"3", "600", 1000, 3, 3}, {"1000", "1", 1000, 2, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attempts);
    const bool ok = c.refusals < c.minReserves;
    Fresh();
    auto& a = Request(1);
    auto& b = Request(2);
    Hold(9, "00A09", "000B3");
    VMAXSnapParamList l = List();
    l.params.push_back(Param(a, "00A01", "SN_1"));
    l.params.push_back(Param(b, "00A02", "SN_2"));
    LinkedOnArray({});
    FreeTargets({Lun("000B1", 1000), Lun("000B2", 1000), Lun("000B3", 1000)});
    SourceSizes({{"00A01", 1000}, {"00A02", 1000}});
    env.database.refuseTargets["000B2"] = c.refusals;
    env.Set("~Fieldunit", "nSymmReserveRetryAttempts", c.attempts);
    env.Set("~Fieldunit", "nSymmReserveRetryMaxSecs", c.maxSecs);
    // Waits of 0.5 to 1 s on the fake clock: a deadline of 1 s allows 2 or 3.
    env.Set("~Fieldunit", "nSymmReserveRetryWaitMs", "1000");
    if (ok) EXPECT_CALL(*mock, LinkTarget(_)).WillOnce(Return(true));
    EXPECT_EQ(ok, api.ReserveTarget(l, kJobId));  // StrictMock: no other link
    EXPECT_GE(env.database.reserveCalls, c.minReserves);
    EXPECT_LE(env.database.reserveCalls, c.maxReserves);
    EXPECT_EQ(env.sleeps.size(), size_t(env.database.reserveCalls - 1));
    for (int64_t ms : env.sleeps) {
      EXPECT_GE(ms, 500);
      EXPECT_LE(ms, 1000);
    }
    EXPECT_EQ(ok, Held("000B1", 1));
    EXPECT_EQ(ok, Held("000B2", 2));
    EXPECT_TRUE(Held("000B3", 9));
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
    const bool named = l.errStr.find("[SN_2,] were reserved by other jobs") != std::string::npos;
    EXPECT_EQ(!ok, named) << l.errStr;
  }
}

// Without a record of the target the unmap could never undo the link, so
// nothing is linked and the grant is given back. (A failed link itself is
// struck at every step by the hardening runs.)
TEST_F(TargetTest, UnrecordedTargetIsNeverLinked) {
  auto& a = Request(1);
  a.refuseMetadataTypes.insert(PZSO::SM_MDT_MAPPED_TARGET_DEVICE);
  VMAXSnapParamList l = List();
  l.params.push_back(Param(a, "00A01", "SN_1"));
  LinkedOnArray({});
  FreeTargets({Lun("000B1", 1000)});
  SourceSizes({{"00A01", 1000}});
  EXPECT_FALSE(api.ReserveTarget(l, kJobId));  // StrictMock: no link
  EXPECT_FALSE(Held("000B1", 1));
}

class MapTest : public OrchestrationTest {
 protected:
  VMAXSnapParamList MapList() {
    auto& a = Request(1);
    auto& b = Request(2);
    VMAXSnapParamList l = List();
    api.config.bSkipRestoreCleanup = true;
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
        .WillRepeatedly(Invoke([devs](const std::string&, const std::string&,
                                      StrSet& out) {
          out = devs;
          return true;
        }));
  }
};

// Only targets that are neither mapped nor in the host's group are added (a
// failed restore cleanup is ignored); no initiators, or no group because the
// view query failed, fails.
TEST_F(MapTest, AddsOnlyMissingUnmappedTargets) {
  struct Case {
    bool initiators, viewQueryOk;
    bool ok;
  } cases[] = {{false, true, false}, {true, false, false}, {true, true, true}};
  for (const Case& c : cases) {
    Fresh();
    VMAXSnapParamList l = MapList();
    l.params.back().targetMapped = true;
    l.params.push_back(Param(Request(3), "00A03", "SN_1", "000B3"));
    l.params.push_back(Param(Request(4), "00A04", "SN_1", "000B4"));
    if (!c.initiators) l.initiators.clear();
    api.config.bSkipRestoreCleanup = !c.ok;
    if (c.ok)
      EXPECT_CALL(*mock, RestoreCleanup(kSerial, "SN_1", _, false)).WillOnce(Return(false));
    if (c.initiators && !c.viewQueryOk)
      EXPECT_CALL(*mock, GetSGListByHBA(kSerial, _, _)).WillOnce(Return(false));
    if (c.initiators && c.viewQueryOk) Groups({{"10000000c9aa0001", {"SG_HOST"}}});
    if (c.ok) {
      InGroup("SG_HOST", {"000B1", "000B3"});
      EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B4"}, "SG_HOST")).WillOnce(Return(true));
    }
    EXPECT_EQ(c.ok, api.MapSnaps(l));  // StrictMock: no other add
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// With map-to-all, the targets join every group of the host; the last add
// decides.
TEST_F(MapTest, MapToAllGroupsOfHostAddsToEveryGroupLastDecides) {
  VMAXSnapParamList l = MapList();
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

// Targets never join a group that presents the mount's sources (a
// production group) unless the host allows it; the refusal names the groups.
TEST_F(MapTest, MountGroupIsOneWithoutSources) {
  for (const char* allow : {"0", "1"}) {
    SCOPED_TRACE(allow);
    Fresh();
    env.Set("~Fieldunit", "nSymmAllowMapToSourceSG", allow);
    VMAXSnapParamList l = MapList();
    Groups({{"10000000c9aa0001", {"SG_Z_mnt", "SG_A_prod"}}});
    InGroup("SG_A_prod", {"00A01", "000C1"});
    InGroup("SG_Z_mnt", {"00A02"});
    const bool allowed = allow[0] == '1';
    if (allowed)
      EXPECT_CALL(*mock, SGDevAdd(kSerial, StrList{"000B1", "000B2"}, "SG_A_prod"))
          .WillOnce(Return(true));
    EXPECT_EQ(allowed, api.MapSnaps(l));
    const size_t named = l.errStr.find("[SG_A_prod,SG_Z_mnt] holds source devices");
    EXPECT_EQ(!allowed, named != std::string::npos) << l.errStr;
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// ---- UnMapDeviceFromAllHosts

// The storage-group lookups of unmap run several at a time, never more than
// configured, and give the same removals, in the same order (child groups
// only, by name), as one by one; the first failing device in device order
// decides, as it would alone.
TEST_F(MapTest, ParallelLookupsMergeInDeviceOrder) {
  constexpr int kDevices = 20;
  for (const char* width : {"1", "3", "8", "64"}) {
    SCOPED_TRACE(width);
    for (int failAt : {-1, 13}) {
      Fresh();
      env.Set("~Fieldunit", "nSymmParallelLookups", width);
      Request(1);
      VMAXMapParams mp;
      mp.serial = kSerial;
      for (int i = 0; i < kDevices; ++i) mp.devices.push_back("000C" + std::to_string(10 + i));
      std::atomic<int> inFlight{0}, most{0};
      EXPECT_CALL(*mock, GetParentSGList(_, _))
          .WillOnce(Invoke([](const std::string&, StrSet& out) {
            out = {"SG_PARENT"};
            return true;
          }));
      EXPECT_CALL(*mock, GetSGListByDevice(kSerial, _, _))
          .Times(failAt < 0 ? ::testing::Exactly(kDevices) : ::testing::AtMost(kDevices))
          .WillRepeatedly(Invoke([&](const std::string&, const std::string& dev,
                                     StrList& out) {
            int now = ++inFlight;
            for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
            }
            for (int y = 0; y < 100; ++y) std::this_thread::yield();
            int n = std::stoi(dev.substr(4));
            out = {n % 2 ? "SG_ODD" : "SG_EVEN", "SG_PARENT", n % 3 ? "SG_B" : "SG_A"};
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

// Targets not linked any more but still in a group (unlinked outside the
// host) leave the groups that still present them before their requests
// count as unmapped; then their own reservations are given back
// (another job's stays). When the removal fails they stay unmap-failed and
// keep the reservation.
TEST_F(MapTest, UnlinkedTargetsLeaveTheirGroupsAndFreeOwnReservations) {
  for (bool removable : {true, false}) {
    SCOPED_TRACE(removable);
    Fresh();
    VMAXSnapParamList l = MapList();
    Hold(1, "00A01", "000B1");
    Hold(9, "00A09", "000B2");  // another job's, same target by mistake
    LinkedOnArray({});
    EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
    EXPECT_CALL(*mock, GetSGListByDevice(_, _, _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&, StrList& out) {
          out = {"SG_HOST"};
          return true;
        }));
    EXPECT_CALL(*mock, SGDevRemove(_, StrList{"000B1", "000B2"}, "SG_HOST"))
        .WillOnce(Return(removable));
    EXPECT_EQ(removable, api.UnmapSnaps(l, kJobId));  // StrictMock: no unlink
    for (const auto& r : reqs)
      EXPECT_EQ(r->status, removable ? PZSO::SNAP_STATUS_UNMAPPED
                                     : PZSO::SNAP_STATUS_UNMAP_FAILED);
    EXPECT_EQ(!removable, Held("000B1", 1));
    EXPECT_TRUE(Held("000B2", 9));
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

// Linked targets leave the group, are released and unlinked: five attempts
// ten seconds apart by default; 0 attempts means one; a forced unlink sets
// no status. A Hyper-V backup's unmap keeps the link and the reservation.
TEST_F(MapTest, DetachRetries) {
  struct Case {
    const char* attempts;
    const char* waitSecs;
    bool force, hyperV;
    std::vector<bool> results;  // empty: no unlink
    std::vector<int64_t> sleeps;
  } cases[] = {
      {nullptr, nullptr, false, false, {false, false, false, false, false},
       {10000, 10000, 10000, 10000}},
      {"0", nullptr, true, false, {false}, {}},
      {nullptr, "3", false, false, {false, true}, {3000}},
      {nullptr, nullptr, false, true, {}, {}},
  };
  for (const Case& c : cases) {
    Fresh();
    VMAXSnapParamList l = MapList();
    if (c.hyperV) reqs[0]->snapFlags.insert(PZSO::SNAP_FLAG_HYPERV_BACKUP);
    Hold(1, "00A01", "000B1");
    if (c.attempts) env.Set("~Fieldunit", "nSymmDetachRetryAttempts", c.attempts);
    if (c.waitSecs) env.Set("~Fieldunit", "nSymmDetachRetryWaitSecs", c.waitSecs);
    api.config.bSYMCLIForceUnlink = c.force;
    LinkedOnArray({"000B1", "000B2"});
    EXPECT_CALL(*mock, GetParentSGList(_, _)).WillOnce(Return(true));
    EXPECT_CALL(*mock, GetSGListByDevice(_, _, _))
        .WillRepeatedly(Invoke([](const std::string&, const std::string&, StrList& out) {
          out = {"SG_HOST"};
          return true;
        }));
    EXPECT_CALL(*mock, SGDevRemove(_, _, "SG_HOST")).WillOnce(Return(true));
    if (!c.results.empty()) {
      auto& unlink = EXPECT_CALL(*mock, UnlinkTarget(_)).Times(c.results.size());
      for (bool r : c.results) unlink.WillOnce(Return(r));
    }
    const bool ok = c.results.empty() || c.results.back();
    EXPECT_EQ(ok, api.UnmapSnaps(l, kJobId));
    EXPECT_EQ(c.sleeps, env.sleeps);
    EXPECT_EQ(c.hyperV, Held("000B1", 1));
    if (c.force)
      EXPECT_TRUE(reqs[0]->statusHistory.empty());
    else
      EXPECT_EQ(reqs[0]->status, ok ? PZSO::SNAP_STATUS_UNMAPPED
                                    : PZSO::SNAP_STATUS_UNMAP_FAILED);
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

}  // namespace
}  // namespace orch_test
