#include <gtest/gtest.h>

#include <algorithm>

#include "common/VMAXParams.h"

namespace {

VMAXSnapParam MakeParam(const std::string& src, bool linked, bool mapped = false) {
  VMAXSnapParam p;
  p.sourceDevice = src;
  p.targetDevice = "T" + src;
  p.snapUid = "SNAP_" + src;
  p.snapDevFName = "PZ_LD_" + src;
  p.targetLinked = linked;
  p.targetMapped = p.reserved = mapped;
  p.extraDevices = {"e" + src};
  return p;
}

}  // namespace

// The records are copied by hand: a copy or an assignment (also onto
// itself) keeps every field, in order.
TEST(VMAXSnapParamList, CopyAndAssignmentKeepEveryField) {
  VMAXSnapParamList list;
  list.serial = "000197900123";
  list.snapOperation = 2;
  list.replType = -1;
  list.isVMware = list.decoupledClone = true;
  list.initiators = {"10000000c9aabbcc"};
  list.errCode = 7;
  list.errStr = "bad";
  list.params = {MakeParam("00001", true, true), MakeParam("00002", false),
                 MakeParam("00003", true)};
  std::string want;
  list.dump(want, true);
  VMAXSnapParamList copy(list);
  VMAXSnapParamList assigned;
  assigned.params.push_back(MakeParam("FFFFF", false));
  assigned = list;
  VMAXSnapParamList& self = list;
  list = self;
  for (VMAXSnapParamList* c : {&copy, &assigned, &list}) {
    std::string got;
    c->dump(got, true);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(c->decoupledClone);
    ASSERT_EQ(c->params.size(), 3u);
    EXPECT_EQ(c->params.back().extraDevices, std::list<std::string>{"e00003"});
  }
  copy.params.front().targetDevice = "CHANGED";
  EXPECT_EQ(list.params.front().targetDevice, "T00001");
  list.reset();
  EXPECT_TRUE(list.params.empty());
  EXPECT_FALSE(list.decoupledClone);
}

TEST(VMAXSnapParamList, PredicatesSelectLinkedAndMapped) {
  std::list<VMAXSnapParam> params = {MakeParam("1", true), MakeParam("2", false),
                                     MakeParam("3", true), MakeParam("4", false, true)};
  EXPECT_EQ(std::count_if(params.begin(), params.end(), isVMAXSnapMapped), 1);
  std::list<VMAXSnapParam> linked = params;
  linked.remove_if(isVMAXSnapNotLinked);
  ASSERT_EQ(linked.size(), 2u);
  EXPECT_EQ(linked.front().sourceDevice + linked.back().sourceDevice, "13");
  params.remove_if(isVMAXSnapLinked);
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params.front().sourceDevice, "2");
}
