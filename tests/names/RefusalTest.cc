// Every operation that takes names refuses a hostile one in any of its name
// slots: false, one level-2 line naming the kind, and no command at all.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "array/ArrayAPI_CLI.h"
#include "array/NameSyntax.h"
#include "common/Vocabulary.h"
#include "hostruntime/Env.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

namespace {

enum class Slot { kSerial, kGroup, kView, kSnap, kDevice, kTarget, kInitiator };

struct Names {
  std::string serial = "000197900123";
  std::string group = "SG_target-01";
  std::string view = "MV_LNXDBSRV001";
  std::string snap = "SP_12_1612339509";
  std::string device = "000A1";
  std::string target = "000B1";
  std::string initiator = "10000090FA123456";
};

// The field of each slot and the kind of name it holds, in the order of Slot.
std::string Names::*const kField[] = {&Names::serial, &Names::group,  &Names::view,
                                      &Names::snap,   &Names::device, &Names::target,
                                      &Names::initiator};
const char* SlotKind(Slot s) {
  using K = namesyntax::NameKind;
  const K kinds[] = {K::kArraySerial,  K::kStorageGroup, K::kMaskingView, K::kSnapshotName,
                     K::kDeviceNumber, K::kDeviceNumber, K::kInitiator};
  return namesyntax::KindText(kinds[int(s)]);
}

VMAXSnapParamList SnapList(const Names& n) {
  VMAXSnapParamList list;
  list.serial = n.serial;
  for (const std::string& d : {std::string("000A0"), n.device}) {
    VMAXSnapParam p;
    p.snapUid = n.snap;
    p.sourceDevice = d;
    p.targetDevice = n.target;
    list.params.push_back(p);
  }
  return list;
}

VMAXSnapInfo Info(const Names& n) { return VMAXSnapInfo(nullptr, n.serial, n.device, n.snap); }

using A = ArrayAPI_CLI;
using N = Names;
using Devs = std::list<std::string>;
using S = Slot;
struct Operation {
  const char* name;
  std::set<Slot> slots;  // the name slots it puts on a command line
  std::function<bool(A&, N)> call;
};

std::vector<Operation> Operations() {
  const std::set<Slot> kSnap = {S::kSerial, S::kSnap, S::kDevice},
                       kDev = {S::kSerial, S::kDevice}, kSg = {S::kSerial, S::kGroup},
                       kLink = {S::kSerial, S::kSnap, S::kDevice, S::kTarget},
                       kSgDev = {S::kSerial, S::kGroup, S::kDevice},
                       kIni = {S::kSerial, S::kInitiator};
  // The calls write their results into these (shared, never read).
  static std::unordered_set<std::string> set;
  static std::vector<std::string> vec;
  static std::unordered_map<std::string, VMAXLun> props;
  static std::unordered_map<std::string, std::unordered_set<std::string>> byHba;
  static std::unordered_map<std::string, std::list<std::string>> sessions;
  static VMAXLun lun;
  static VMAXMaskViewInfo view;
  static std::list<VMAXLun> luns;
  return {
      {"CreateSnaps", kSnap, [](A& a, N n) { auto l = SnapList(n); return a.CreateSnaps(l); }},
      {"DeleteSnaps", kSnap, [](A& a, N n) { auto l = SnapList(n); return a.DeleteSnaps(l); }},
      {"RestoreSnaps", kSnap,
       [](A& a, N n) { auto l = SnapList(n); return a.RestoreSnaps(l); }},
      {"LinkTarget", kLink, [](A& a, N n) { auto l = SnapList(n); return a.LinkTarget(l); }},
      {"UnlinkTarget", kLink,
       [](A& a, N n) { auto l = SnapList(n); return a.UnlinkTarget(l); }},
      {"IsSnapLinked", {S::kSerial, S::kSnap, S::kTarget},
       [](A& a, N n) { auto l = SnapList(n); return a.IsSnapLinked(l); }},
      {"GetSnapInfo", kSnap, [](A& a, N n) { auto i = Info(n); return a.GetSnapInfo(i, true); }},
      {"GetSnapInfo(list)", kSnap,
       [](A& a, N n) { std::list<VMAXSnapInfo> l{Info(n)}; return a.GetSnapInfo(l); }},
      {"GetLinkDevsSnap", kSnap,
       [](A& a, N n) { auto i = Info(n); return a.GetLinkDevsSnap(i); }},
      {"GetDevProps", kDev, [](A& a, N n) { return a.GetDevProps(n.serial, n.device, lun); }},
      {"GetDevProps(list)", kDev,
       [](A& a, N n) { return a.GetDevProps(n.serial, Devs{"000A0", n.device}, props); }},
      {"GetSGListByDevice", kDev,
       [](A& a, N n) { Devs l; return a.GetSGListByDevice(n.serial, n.device, l); }},
      {"GetSGListByHBA", kIni, [](A& a, N n) {
         return a.GetSGListByHBA(n.serial, {"10000090FA000001", n.initiator}, byHba);
       }},
      {"SGDevAdd", kSgDev, [](A& a, N n) { return a.SGDevAdd(n.serial, {n.device}, n.group); }},
      {"SGDevRemove", kSgDev,
       [](A& a, N n) { return a.SGDevRemove(n.serial, {n.device}, n.group); }},
      {"GetDevListBySG", kSg, [](A& a, N n) { return a.GetDevListBySG(n.serial, n.group, set); }},
      {"GetDevListUnmapped", kSg,
       [](A& a, N n) { return a.GetDevListUnmapped(n.serial, n.group, set); }},
      {"GetFreeTDEVListBySG", kSg,
       [](A& a, N n) { return a.GetFreeTDEVListBySG(n.serial, n.group, luns); }},
      {"GetChildSGList", kSg, [](A& a, N n) { return a.GetChildSGList(n.serial, n.group, vec); }},
      {"GetChildSGListv2", kSg,
       [](A& a, N n) { return a.GetChildSGListv2(n.serial, n.group, vec); }},
      {"GetParentSGList", {S::kSerial},
       [](A& a, N n) { return a.GetParentSGList(n.serial, set); }},
      {"GetDevListLinked", {S::kSerial},
       [](A& a, N n) { return a.GetDevListLinked(n.serial, set); }},
      {"GetMVListByInitiator", kIni,
       [](A& a, N n) { return a.GetMVListByInitiator(n.serial, n.initiator, vec); }},
      {"MaskViewInfoByName", {S::kSerial, S::kView},
       [](A& a, N n) { return a.MaskViewInfoByName(n.serial, n.view, view); }},
      {"RestoreCleanupAll", kDev,
       [](A& a, N n) { return a.RestoreCleanupAll(n.serial, {"000A0", n.device}); }},
      {"RestoreCleanup", kSnap,
       [](A& a, N n) { return a.RestoreCleanup(n.serial, n.snap, {n.device}, true); }},
      {"GetRestoreSessions", kDev,
       [](A& a, N n) { return a.GetRestoreSessions(n.serial, {n.device}, sessions); }},
      {"WaitForRestoreCompletion", kSnap,
       [](A& a, N n) { return a.WaitForRestoreCompletion(n.serial, n.snap, {n.device}); }},
      {"DeleteRestoreSessions", kSnap,
       [](A& a, N n) { return a.DeleteRestoreSessions(n.serial, n.snap, {n.device}); }},
  };
}

// What an attacker or a typing slip would put into a name.
const std::vector<std::string> kHostile = {
    "x;touch /tmp/pz_canary",   "x|touch /tmp/pz_canary",
    "$(touch /tmp/pz_canary)",  "`touch /tmp/pz_canary`",
    "x&&touch /tmp/pz_canary",  "x\" -symforce \"",
    "x' -symforce '",           "x -symforce",
    "x\n-symforce",             "x\r",
    "x\t-noprompt",             "-symforce",
    "x,000A9",                  "",
};

struct Harness {
  testing_host::FakeEnv env;
  testing_host::FakeSnapInfo si;
  ArrayAPI_CLI api{&si};
  Harness() {
    si.jobParams[PZSO::JOB_PARAM_JOB_ID] = 12;
    ArrayAPIInitParams params;
    api.init(params);
    api.seVersion = kLastOldSymsgShowVersion + 1;
  }
};

// With valid names every operation runs a command (so an empty run list
// means the check stopped it). A hostile name in any slot runs nothing and
// writes no device file; the operator reads one level-2 line naming the kind,
// with the name escaped.
TEST(Refusal, HostileNameInAnySlotRunsNothing) {
  size_t cases = 0;
  for (const Operation& op : Operations()) {
    {
      Harness r;
      hostrt::ScopedEnv scoped(&r.env);
      op.call(r.api, Names());
      EXPECT_FALSE(r.env.runs.empty()) << op.name;
      EXPECT_FALSE(r.si.hasLogContaining("command not run")) << op.name;
    }
    for (Slot slot : op.slots) {
      for (const std::string& bad : kHostile) {
        Names names;
        names.*kField[int(slot)] = bad;
        Harness r;
        hostrt::ScopedEnv scoped(&r.env);
        const std::string where =
            std::string(op.name) + " slot " + SlotKind(slot) + " value [" + bad + "]";
        bool result = op.call(r.api, names);
        EXPECT_TRUE(r.env.runs.empty()) << where;
        EXPECT_TRUE(r.env.files.empty()) << where;
        // Empty names keep their own messages (no target is nothing to do).
        if (bad.empty()) continue;
        EXPECT_FALSE(result) << where;
        ++cases;
        const std::string line = std::string("Invalid ") + SlotKind(slot) + " [" +
                                 namesyntax::Printable(bad) + "], command not run";
        int level = -1;
        for (const auto& l : r.si.logs) {
          if (l.text == line) level = l.level;
          EXPECT_EQ(std::string::npos, l.text.find('\n')) << where;
        }
        EXPECT_EQ(LOG_FAILURE, level) << where << "\n" << r.si.allLogs();
      }
    }
  }
  EXPECT_GT(cases, 400u);
}

// A masking view listed for an initiator and the storage group behind it
// come from tool output; a hostile one is skipped, never run.
TEST(Refusal, NamesReadBackFromTheArrayAreCheckedToo) {
  Harness r;
  hostrt::ScopedEnv scoped(&r.env);
  const std::string pre = " \"/opt/emc/SYMCLI/bin/", sid = " -sid 000197900123 ";
  for (auto [cmd, out] :
       {std::pair{"symsg\"" + sid + "list", "-----\nsg 0 ....\nLegend:\n"},
        {"symaccess\"" + sid + "-type initiator -wwn 10000090FA123456 list -detail -v",
         "Masking View Names\n{\n mv;rm\n mv_ok\n}\n"},
        {"symaccess\"" + sid + "list view -name mv_ok -v",
         "Masking View Name : mv_ok\nStorage Group Name : sg$(x)\n"}}) {
    testing_host::ScriptedRun run;
    run.output = out;
    r.env.Expect(pre + cmd, run);
  }
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  r.api.seVersion = 0;
  EXPECT_TRUE(r.api.GetSGListByHBA("000197900123", {"10000090FA123456"}, out));
  EXPECT_TRUE(r.env.unexpected.empty());
  EXPECT_EQ(3u, r.env.runs.size());
  EXPECT_TRUE(r.si.hasLog("Invalid masking view name [mv;rm], command not run"));
  // sg$(x) is not a parent here: it is only recorded, and refused by the
  // operation that would put it on a command line.
  EXPECT_EQ((std::unordered_set<std::string>{"sg$(x)"}), out["10000090FA123456"]);
  r.env.runs.clear();
  EXPECT_FALSE(r.api.SGDevAdd("000197900123", {"000A1"}, "sg$(x)"));
  EXPECT_TRUE(r.env.runs.empty());
}

// A device file outside the path syntax is removed again, not handed over;
// a home with a quote fails the initialisation.
TEST(Refusal, DeviceFileAndHomeOutsideTheSyntax) {
  Harness r;
  hostrt::ScopedEnv scoped(&r.env);
  r.env.tempDir = "/fake/my tmp";
  auto list = SnapList(Names());
  EXPECT_FALSE(r.api.CreateSnaps(list));
  EXPECT_TRUE(r.env.runs.empty());
  EXPECT_TRUE(r.env.files.empty());
  EXPECT_EQ(1u, r.env.removed.size());

  ArrayAPI_CLI api(&r.si);
  ArrayAPIInitParams params;
  params.config.symapiHomeDir = "/opt/emc\" -sid 1 \"";
  EXPECT_FALSE(api.init(params));
  EXPECT_TRUE(api.symcliBinPath.empty());
}

}  // namespace
