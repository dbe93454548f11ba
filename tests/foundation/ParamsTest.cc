#include <gtest/gtest.h>

#include <algorithm>

#include "orchestration/VMAXParams.h"
#include "tests/support/FakeHost.h"

namespace {

VMAXSnapParam MakeParam(const std::string& src, const std::string& tgt,
                        bool linked) {
  VMAXSnapParam p;
  p.sourceDevice = src;
  p.targetDevice = tgt;
  p.snapUid = "SNAP_" + src;
  p.targetLinked = linked;
  return p;
}

}  // namespace

TEST(VMAXSnapParam, ResetClearsOnlyPointerAndFlags) {
  testing_host::FakeSnapInfo si;
  VMAXSnapParam p(&si);
  EXPECT_EQ(p.snapInfo, &si);
  EXPECT_FALSE(p.targetLinked || p.targetMapped || p.reserved);
  p.snapUid = "uid";
  p.sourceDevice = "000A4";
  p.targetDevice = "000B1";
  p.extraDevices = {"x"};
  p.targetLinked = p.targetMapped = p.reserved = true;
  p.reset();
  EXPECT_EQ(p.snapInfo, nullptr);
  EXPECT_FALSE(p.targetLinked || p.targetMapped || p.reserved);
  EXPECT_EQ(p.snapUid, "uid");
  EXPECT_EQ(p.sourceDevice, "000A4");
  EXPECT_EQ(p.targetDevice, "000B1");
  EXPECT_EQ(p.extraDevices.size(), 1u);
}

TEST(VMAXSnapParam, CopyTakesEveryFieldAndDumpsExactly) {
  testing_host::FakeSnapInfo si;
  VMAXSnapParam p(&si);
  p.sourceDevice = "000A4";
  p.targetDevice = "000B1";
  p.snapUid = "S1";
  p.snapDevFName = "PZ_LD_S1";
  p.targetMapped = true;
  p.reserved = true;
  p.extraDevices = {"e1", "e2"};
  VMAXSnapParam c(p);
  VMAXSnapParam a;
  a.targetLinked = true;
  a = p;
  for (const VMAXSnapParam* q : {&c, &a}) {
    EXPECT_EQ(q->snapInfo, &si);
    EXPECT_EQ(q->extraDevices, p.extraDevices);
    EXPECT_FALSE(q->targetLinked);
    std::string out = "old";
    q->dump(out);
    EXPECT_EQ(out,
              "SourceDevice [000A4] TargetDevice [000B1] SnapUid [S1] "
              "SnapDevFName [PZ_LD_S1] TargetDeviceLinked [false] "
              "TargetDeviceMapped [true] Reserved [true]");
  }
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
    ASSERT_EQ(c->params.size(), 3u);
    EXPECT_EQ(c->serial, list.serial);
    EXPECT_EQ(c->initiators, list.initiators);
    EXPECT_EQ(c->errCode, 7);
    EXPECT_EQ(c->errStr, "bad");
    EXPECT_TRUE(c->decoupledClone);
    auto it = c->params.begin();
    EXPECT_EQ((it++)->sourceDevice, "00001");
    EXPECT_EQ((it++)->sourceDevice, "00002");
    EXPECT_EQ((it++)->sourceDevice, "00003");
    c->params.front().targetDevice = "CHANGED";
  }
  EXPECT_EQ(list.params.front().targetDevice, "00011");

  // Self-assignment must not lose the devices.
  VMAXSnapParamList& self = list;
  list = self;
  EXPECT_EQ(list.params.size(), 3u);
}

TEST(VMAXSnapParamList, ResetClearsEverything) {
  VMAXSnapParamList list;
  list.snapOperation = 3;
  list.replType = 1;
  list.serial = "s";
  list.isVMware = list.decoupledClone = true;
  list.params.push_back(MakeParam("1", "2", true));
  list.initiators = {"i"};
  list.errCode = 1;
  list.errStr = "e";
  list.reset();
  std::string out;
  list.dump(out, false);
  EXPECT_EQ(out,
            "VMAX serial [] SnapOperation [0] ReplType [0] Count [0] VmWare "
            "[false] InitiatorList [] ErrCode [0] ErrStr []\n");
  EXPECT_FALSE(list.decoupledClone);
}

TEST(VMAXSnapParamList, DumpWithHeaderAndParams) {
  VMAXSnapParamList list;
  list.serial = "000197900123";
  list.snapOperation = 2;
  list.replType = -1;
  list.isVMware = true;
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
}

TEST(VMAXSnapParamList, PredicatesSelectLinkedAndMapped) {
  std::list<VMAXSnapParam> params = {MakeParam("1", "", true), MakeParam("2", "", false),
                                     MakeParam("3", "", true), MakeParam("4", "", false)};
  params.back().targetMapped = true;
  EXPECT_EQ(std::count_if(params.begin(), params.end(), isVMAXSnapMapped), 1);
  std::list<VMAXSnapParam> linked = params;
  linked.remove_if(isVMAXSnapNotLinked);
  ASSERT_EQ(linked.size(), 2u);
  EXPECT_EQ(linked.front().sourceDevice, "1");
  EXPECT_EQ(linked.back().sourceDevice, "3");
  params.remove_if(isVMAXSnapLinked);
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(params.front().sourceDevice, "2");
}

TEST(VMAXMapParams, DumpJoinsListsWithoutTrailingSeparator) {
  VMAXMapParams m;
  m.serial = "000197900123";
  m.initiators = {"i1", "i2"};
  m.devices = {"000A4"};
  std::string out = "stale";
  m.dump(out);
  EXPECT_EQ(out, "VMAX serial [000197900123] Initiator(s) [i1,i2] Device List [000A4]");
  m = VMAXMapParams();
  m.dump(out);
  EXPECT_EQ(out, "VMAX serial [] Initiator(s) [] Device List []");
}
