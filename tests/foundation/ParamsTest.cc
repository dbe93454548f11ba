#include <gtest/gtest.h>

#include <algorithm>

#include "common/VMAXParams.h"

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
  list.reset();
  EXPECT_TRUE(list.params.empty());
  EXPECT_FALSE(list.decoupledClone);
}
