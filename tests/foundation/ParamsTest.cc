#include <gtest/gtest.h>

#include <algorithm>

#include "orchestration/VMAXParams.h"
#include "tests/support/FakeHost.h"

namespace {

VMAXSnapParam MakeParam(const std::string& src, const std::string& tgt, bool linked) {
  VMAXSnapParam p;
  p.sourceDevice = src;
  p.targetDevice = tgt;
  p.snapUid = "SNAP_" + src;
  p.targetLinked = linked;
  return p;
}

const char kParamDump[] =
    "SourceDevice [000A4] TargetDevice [000B1] SnapUid [S1] SnapDevFName "
    "[PZ_LD_S1] TargetDeviceLinked [false] TargetDeviceMapped [true] Reserved [true]";

}  // namespace

TEST(VMAXSnapParam, ResetKeepsStringsAndCopyTakesEverything) {
  testing_host::FakeSnapInfo si;
  VMAXSnapParam p(&si);
  EXPECT_FALSE(p.targetLinked || p.targetMapped || p.reserved);
  p.sourceDevice = "000A4";
  p.targetDevice = "000B1";
  p.snapUid = "S1";
  p.snapDevFName = "PZ_LD_S1";
  p.targetMapped = p.reserved = true;
  p.extraDevices = {"e1", "e2"};
  VMAXSnapParam c(p);
  VMAXSnapParam a = MakeParam("1", "2", true);
  a = p;
  for (const VMAXSnapParam* q : {&c, &a}) {
    EXPECT_EQ(q->snapInfo, &si);
    EXPECT_EQ(q->extraDevices, p.extraDevices);
    std::string out = "old";
    q->dump(out);
    EXPECT_EQ(out, kParamDump);
  }
  p.reset();
  EXPECT_EQ(p.snapInfo, nullptr);
  EXPECT_FALSE(p.targetLinked || p.targetMapped || p.reserved);
  EXPECT_EQ(p.snapUid + p.sourceDevice + p.targetDevice, "S1000A4000B1");
  EXPECT_EQ(p.extraDevices.size(), 2u);
}

TEST(VMAXSnapParamList, CopyIsDeepAndKeepsOrder) {
  VMAXSnapParamList list;
  list.serial = "000197900123";
  list.initiators = {"10000000c9aabbcc"};
  list.errCode = 7;
  list.errStr = "bad";
  list.decoupledClone = true;
  list.params = {MakeParam("00001", "00011", true), MakeParam("00002", "00012", false),
                 MakeParam("00003", "00013", true)};
  VMAXSnapParamList copy(list);
  VMAXSnapParamList assigned;
  assigned.params.push_back(MakeParam("FFFFF", "", false));
  assigned = list;
  for (VMAXSnapParamList* c : {&copy, &assigned}) {
    std::string got, want;
    c->dump(got, false);
    list.dump(want, false);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(c->decoupledClone);
    ASSERT_EQ(c->params.size(), 3u);
    EXPECT_EQ(c->params.back().sourceDevice, "00003");
    c->params.front().targetDevice = "CHANGED";
  }
  EXPECT_EQ(list.params.front().targetDevice, "00011");
  VMAXSnapParamList& self = list;
  list = self;  // must not lose the devices
  EXPECT_EQ(list.params.size(), 3u);
}

TEST(VMAXSnapParamList, DumpTextsAndReset) {
  VMAXSnapParamList list;
  list.serial = "000197900123";
  list.snapOperation = 2;
  list.replType = -1;
  list.isVMware = list.decoupledClone = true;
  list.initiators = {"a", "b", "c"};
  list.errCode = 62003;
  list.errStr = "no initiators";
  list.params = {MakeParam("00001", "00011", true), MakeParam("00002", "", false)};
  std::string out;
  list.dump(out, true);
  EXPECT_EQ(out,
            "Dump of VMAXSnapParamList Object: VMAX serial [000197900123] "
            "SnapOperation [2] ReplType [-1] Count [2] VmWare [true] "
            "InitiatorList [a,b,c] ErrCode [62003] ErrStr [no initiators]\n"
            "\tSourceDevice [00001] TargetDevice [00011] SnapUid [SNAP_00001] "
            "SnapDevFName [] TargetDeviceLinked [true] TargetDeviceMapped "
            "[false] Reserved [false]\n"
            "\tSourceDevice [00002] TargetDevice [] SnapUid [SNAP_00002] "
            "SnapDevFName [] TargetDeviceLinked [false] TargetDeviceMapped "
            "[false] Reserved [false]\n");
  list.reset();
  list.dump(out, false);
  EXPECT_EQ(out,
            "VMAX serial [] SnapOperation [0] ReplType [0] Count [0] VmWare "
            "[false] InitiatorList [] ErrCode [0] ErrStr []\n");
  EXPECT_FALSE(list.decoupledClone);

  VMAXMapParams m;
  m.serial = "000197900123";
  m.initiators = {"i1", "i2"};
  m.devices = {"000A4"};
  m.dump(out);
  EXPECT_EQ(out, "VMAX serial [000197900123] Initiator(s) [i1,i2] Device List [000A4]");
}

TEST(VMAXSnapParamList, PredicatesSelectLinkedAndMapped) {
  std::list<VMAXSnapParam> params = {MakeParam("1", "", true), MakeParam("2", "", false),
                                     MakeParam("3", "", true), MakeParam("4", "", false)};
  params.back().targetMapped = true;
  EXPECT_EQ(std::count_if(params.begin(), params.end(), isVMAXSnapMapped), 1);
  std::list<VMAXSnapParam> linked = params;
  linked.remove_if(isVMAXSnapNotLinked);
  ASSERT_EQ(linked.size(), 2u);
  EXPECT_EQ(linked.front().sourceDevice + linked.back().sourceDevice, "13");
  params.remove_if(isVMAXSnapLinked);
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params.front().sourceDevice, "2");
}
