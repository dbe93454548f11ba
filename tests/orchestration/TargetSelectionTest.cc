// Target selection (first fit, exact size, reservation aware) and the
// reserve-retry-link sequence of ReserveTarget.
#include <map>

#include "tests/orchestration/OrchestrationFixture.h"

namespace orch_test {
namespace {

using ::testing::_;
using ::testing::An;
using ::testing::Invoke;
using ::testing::Return;
using testing_host::StrList;

class TargetTest : public OrchestrationTest {
 protected:
  void FreeTargets(std::list<VMAXLun> luns) {
    EXPECT_CALL(*mock, GetFreeTDEVListBySG(kSerial, kTargetSG, _))
        .WillRepeatedly(Invoke(
            [luns](const std::string&, const std::string&,
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
  std::vector<std::string> Targets(const VMAXSnapParamList& l) {
    std::vector<std::string> out;
    for (const auto& p : l.params) out.push_back(p.targetDevice);
    return out;
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
    EXPECT_EQ(c.targets, Targets(l));
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
    if (!ok)
      EXPECT_NE(l.errStr.find("[SN_2,] were reserved by other jobs"), std::string::npos)
        << l.errStr;
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

}  // namespace
}  // namespace orch_test
