// Every operation that takes names refuses a hostile one in any of its name
// slots: false, one level-2 line naming the kind, and no command at all.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "array/ArrayAPI_CLI.h"
#include "array/NameSyntax.h"
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

// The field of a slot and the kind of name it holds, in the order of Slot.
struct SlotInfo {
  std::string Names::*field;
  namesyntax::NameKind kind;
};
const SlotInfo& Of(Slot s) {
  using K = namesyntax::NameKind;
  static const SlotInfo table[] = {
      {&Names::serial, K::kArraySerial},  {&Names::group, K::kStorageGroup},
      {&Names::view, K::kMaskingView},    {&Names::snap, K::kSnapshotName},
      {&Names::device, K::kDeviceNumber}, {&Names::target, K::kDeviceNumber},
      {&Names::initiator, K::kInitiator}};
  return table[int(s)];
}
const char* SlotKind(Slot s) { return namesyntax::KindText(Of(s).kind); }

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

VMAXSnapInfo Info(const Names& n) {
  return VMAXSnapInfo(nullptr, n.serial, n.device, n.snap);
}

struct Operation {
  const char* name;
  std::set<Slot> slots;
  std::function<bool(ArrayAPI_CLI&, const Names&)> call;
};

using S = Slot;
const std::set<Slot> kSnapSlots = {S::kSerial, S::kSnap, S::kDevice};

// One operation per entry: the name slots it puts on a command line, and
// the call (l: the snapshot list of the names, i: their snapshot info).
#define OP(NAME, SLOTS, ...)                                       \
  Operation {                                                      \
    NAME, SLOTS, [](ArrayAPI_CLI& a, const Names& n) {             \
      auto l = SnapList(n);                                        \
      auto i = Info(n);                                            \
      std::unordered_set<std::string> set;                         \
      std::vector<std::string> vec;                                \
      (void)l, (void)i, (void)set, (void)vec;                      \
      return __VA_ARGS__;                                          \
    }                                                              \
  }

std::vector<Operation> Operations() {
  using Devs = std::list<std::string>;
  const std::set<Slot> kDev = {S::kSerial, S::kDevice}, kSg = {S::kSerial, S::kGroup},
                       kSer = {S::kSerial}, kLink = {S::kSerial, S::kSnap, S::kDevice, S::kTarget},
                       kSgDev = {S::kSerial, S::kGroup, S::kDevice},
                       kIni = {S::kSerial, S::kInitiator};
  return {
      OP("CreateSnaps", kSnapSlots, a.CreateSnaps(l)),
      OP("DeleteSnaps", kSnapSlots, a.DeleteSnaps(l)),
      OP("RestoreSnaps", kSnapSlots, a.RestoreSnaps(l)),
      OP("LinkTarget", kLink, a.LinkTarget(l)),
      OP("UnlinkTarget", kLink, a.UnlinkTarget(l)),
      OP("IsSnapLinked", (std::set<Slot>{S::kSerial, S::kSnap, S::kTarget}), a.IsSnapLinked(l)),
      OP("GetSnapInfo", kSnapSlots, a.GetSnapInfo(i, true)),
      OP("GetSnapInfo(list)", kSnapSlots, [&] {
        std::list<VMAXSnapInfo> infos{i};
        return a.GetSnapInfo(infos);
      }()),
      OP("GetLinkDevsSnap", kSnapSlots, a.GetLinkDevsSnap(i)),
      OP("GetDevProps", kDev, [&] {
        VMAXLun lun;
        return a.GetDevProps(n.serial, n.device, lun);
      }()),
      OP("GetDevProps(list)", kDev, [&] {
        std::unordered_map<std::string, VMAXLun> props;
        return a.GetDevProps(n.serial, Devs{"000A0", n.device}, props);
      }()),
      OP("GetSGListByDevice", kDev, [&] {
        std::list<std::string> sgs;
        return a.GetSGListByDevice(n.serial, n.device, sgs);
      }()),
      OP("GetSGListByHBA", kIni, [&] {
        std::unordered_map<std::string, std::unordered_set<std::string>> m;
        return a.GetSGListByHBA(n.serial, {"10000090FA000001", n.initiator}, m);
      }()),
      OP("SGDevAdd", kSgDev, a.SGDevAdd(n.serial, Devs{n.device}, n.group)),
      OP("SGDevRemove", kSgDev, a.SGDevRemove(n.serial, Devs{n.device}, n.group)),
      OP("GetDevListBySG", kSg, a.GetDevListBySG(n.serial, n.group, set)),
      OP("GetDevListUnmapped", kSg, a.GetDevListUnmapped(n.serial, n.group, set)),
      OP("GetFreeTDEVListBySG", kSg, [&] {
        std::list<VMAXLun> luns;
        return a.GetFreeTDEVListBySG(n.serial, n.group, luns);
      }()),
      OP("GetChildSGList", kSg, a.GetChildSGList(n.serial, n.group, vec)),
      OP("GetChildSGListv2", kSg, a.GetChildSGListv2(n.serial, n.group, vec)),
      OP("GetParentSGList", kSer, a.GetParentSGList(n.serial, set)),
      OP("GetDevListLinked", kSer, a.GetDevListLinked(n.serial, set)),
      OP("GetMVListByInitiator", kIni, a.GetMVListByInitiator(n.serial, n.initiator, vec)),
      OP("MaskViewInfoByName", (std::set<Slot>{S::kSerial, S::kView}), [&] {
        VMAXMaskViewInfo info;
        return a.MaskViewInfoByName(n.serial, n.view, info);
      }()),
      OP("RestoreCleanupAll", kDev, a.RestoreCleanupAll(n.serial, Devs{"000A0", n.device})),
      OP("RestoreCleanup", kSnapSlots, a.RestoreCleanup(n.serial, n.snap, Devs{n.device}, true)),
      OP("GetRestoreSessions", kDev, [&] {
        std::unordered_map<std::string, std::list<std::string>> sessions;
        return a.GetRestoreSessions(n.serial, Devs{n.device}, sessions);
      }()),
      OP("WaitForRestoreCompletion", kSnapSlots,
         a.WaitForRestoreCompletion(n.serial, n.snap, Devs{n.device})),
      OP("DeleteRestoreSessions", kSnapSlots,
         a.DeleteRestoreSessions(n.serial, n.snap, Devs{n.device})),
  };
}
#undef OP

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

TEST(Refusal, WithValidNamesEveryOperationRunsACommand) {
  // The control case: the harness sees commands when they run, so an empty
  // run list below means the check stopped them.
  for (const Operation& op : Operations()) {
    Harness r;
    hostrt::ScopedEnv scoped(&r.env);
    op.call(r.api, Names());
    EXPECT_FALSE(r.env.runs.empty()) << op.name;
    EXPECT_FALSE(r.si.hasLogContaining("command not run")) << op.name;
  }
}

TEST(Refusal, HostileNameInAnySlotRunsNothing) {
  size_t cases = 0;
  for (const Operation& op : Operations()) {
    for (Slot slot : op.slots) {
      for (const std::string& bad : kHostile) {
        Names names;
        names.*Of(slot).field = bad;
        Harness r;
        hostrt::ScopedEnv scoped(&r.env);
        const std::string where = std::string(op.name) + " slot " +
                                  SlotKind(slot) + " value [" + bad + "]";
        bool result = op.call(r.api, names);
        EXPECT_TRUE(r.env.runs.empty()) << where;
        EXPECT_TRUE(r.env.files.empty()) << where;  // no device file either
        // Empty names keep their own messages (no target is nothing to do).
        if (bad.empty()) continue;
        EXPECT_FALSE(result) << where;
        ++cases;
        const std::string line = std::string("Invalid ") + SlotKind(slot) +
                                 " [" + namesyntax::Printable(bad) +
                                 "], command not run";
        EXPECT_TRUE(r.si.hasLog(line)) << where << "\n" << r.si.allLogs();
        bool level2 = false;
        for (const auto& l : r.si.logs)
          if (l.text == line) level2 = l.level == 2;
        EXPECT_TRUE(level2) << where;
        // No log line carries the raw line break or quote.
        for (const auto& l : r.si.logs)
          EXPECT_EQ(std::string::npos, l.text.find('\n')) << where;
      }
    }
  }
  EXPECT_GT(cases, 400u);
}

TEST(Refusal, HostileValuesAreInvalidForEverySlot) {
  for (Slot s : {S::kSerial, S::kGroup, S::kView, S::kSnap, S::kDevice,
                 S::kInitiator})
    for (const std::string& bad : kHostile)
      EXPECT_FALSE(namesyntax::IsValid(Of(s).kind, bad)) << SlotKind(s) << " [" << bad << "]";
}

TEST(Refusal, NamesReadBackFromTheArrayAreCheckedToo) {
  // A masking view listed for an initiator and the storage group behind it
  // come from tool output; a hostile one is skipped, never run.
  Harness r;
  hostrt::ScopedEnv scoped(&r.env);
  const std::string bin = " \"/opt/emc/SYMCLI/bin/";
  const std::string sid = " -sid 000197900123 ";
  testing_host::ScriptedRun parents;
  parents.output = "-----\nsg 0 ....\nLegend:\n";
  r.env.Expect(bin + "symsg\"" + sid + "list", parents);
  testing_host::ScriptedRun views;
  views.output = "Masking View Names\n{\n mv;rm\n mv_ok\n}\n";
  r.env.Expect(bin + "symaccess\"" + sid +
                   "-type initiator -wwn 10000090FA123456 list -detail -v",
               views);
  testing_host::ScriptedRun detail;
  detail.output = "Masking View Name : mv_ok\nStorage Group Name : sg$(x)\n";
  r.env.Expect(bin + "symaccess\"" + sid + "list view -name mv_ok -v", detail);
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  r.api.seVersion = 0;
  EXPECT_TRUE(r.api.GetSGListByHBA("000197900123", {"10000090FA123456"}, out));
  EXPECT_TRUE(r.env.unexpected.empty());
  EXPECT_EQ(3u, r.env.runs.size());
  EXPECT_TRUE(r.si.hasLog("Invalid masking view name [mv;rm], command not run"));
  // sg$(x) is not a parent here: it is only recorded, and refused by the
  // operation that would put it on a command line.
  EXPECT_EQ((std::unordered_set<std::string>{"sg$(x)"}),
            out["10000090FA123456"]);
  r.env.runs.clear();
  EXPECT_FALSE(r.api.SGDevAdd("000197900123", {"000A1"}, "sg$(x)"));
  EXPECT_TRUE(r.env.runs.empty());
}

TEST(Refusal, DeviceFileOutsideTheSyntaxIsRemovedAndNotRun) {
  Harness r;
  hostrt::ScopedEnv scoped(&r.env);
  r.env.tempDir = "/fake/my tmp";
  Names n;
  auto list = SnapList(n);
  EXPECT_FALSE(r.api.CreateSnaps(list));
  EXPECT_TRUE(r.env.runs.empty());
  EXPECT_TRUE(r.env.files.empty());  // written, then removed again
  EXPECT_EQ(1u, r.env.removed.size());
  // An empty device list for properties runs nothing either.
  std::unordered_map<std::string, VMAXLun> props;
  EXPECT_FALSE(r.api.GetDevProps("000197900123", std::list<std::string>{}, props));
  EXPECT_TRUE(r.env.runs.empty());
}

TEST(Refusal, SymcliHomeWithAQuoteFailsInit) {
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scoped(&env);
  testing_host::FakeSnapInfo si;
  ArrayAPI_CLI api(&si);
  ArrayAPIInitParams params;
  params.config.symapiHomeDir = "/opt/emc\" -sid 1 \"";
  EXPECT_FALSE(api.init(params));
  EXPECT_TRUE(api.symcliBinPath.empty());
  params.config.symapiHomeDir = "/opt/EMC Solutions";
  EXPECT_TRUE(api.init(params));
  EXPECT_EQ("/opt/EMC Solutions/bin/", api.symcliBinPath);
}

}  // namespace
