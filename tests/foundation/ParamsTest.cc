#include <gtest/gtest.h>

#include <algorithm>

#include "common/VMAXParams.h"

// The records are copied by hand: a copy or an assignment (also onto itself)
// keeps every field, and the copy is independent.
TEST(VMAXSnapParamList, CopyAndAssignmentKeepEveryField) {
  VMAXSnapParamList list;
  list.serial = "000197900123";
  list.isVMware = list.decoupledClone = true;
  list.initiators = {"10000000c9aabbcc"};
  for (const char* src : {"00001", "00002"}) {
    VMAXSnapParam p;
    p.sourceDevice = src;
    p.targetDevice = std::string("T") + src;
    p.targetLinked = p.targetMapped = p.reserved = true;
    p.extraDevices = {std::string("e") + src};
    list.params.push_back(p);
  }
  std::string want, got1, got2, got3;
  list.dump(want, true);
  VMAXSnapParamList copy(list), assigned;
  assigned.params.resize(3);
  assigned = list;
  VMAXSnapParamList& self = list;
  list = self;
  copy.dump(got1, true);
  assigned.dump(got2, true);
  list.dump(got3, true);
  EXPECT_EQ(want, got1);
  EXPECT_EQ(want, got2);
  EXPECT_EQ(want, got3);
  EXPECT_EQ(assigned.params.back().extraDevices, std::list<std::string>{"e00002"});
  copy.params.front().targetDevice = "CHANGED";
  EXPECT_EQ(list.params.front().targetDevice, "T00001");
}

TEST(VMAXSnapParamList, PredicatesAndReset) {
  VMAXSnapParamList list;
  list.decoupledClone = true;
  for (int i = 0; i < 3; ++i) {
    VMAXSnapParam p;
    p.targetLinked = i != 1;
    p.targetMapped = i == 2;
    list.params.push_back(p);
  }
  EXPECT_EQ(1, std::count_if(list.params.begin(), list.params.end(), isVMAXSnapMapped));
  EXPECT_EQ(1, std::count_if(list.params.begin(), list.params.end(), isVMAXSnapNotLinked));
  EXPECT_EQ(2, std::count_if(list.params.begin(), list.params.end(), isVMAXSnapLinked));
  list.reset();
  EXPECT_TRUE(list.params.empty());
  EXPECT_FALSE(list.decoupledClone);
}
