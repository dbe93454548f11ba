// The name checks: real-world names pass, every form that could split a
// command line or read as an option fails; and every operation that takes
// names refuses a hostile one in any of its name slots: false, one level-2
// line naming the kind, and no command at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <set>

#include "array/ArrayAPI_CLI.h"
#include "array/NameSyntax.h"
#include "common/Vocabulary.h"
#include "hostruntime/Env.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

namespace {

using namespace namesyntax;

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Characters that split a line, end a quote or mean something to a shell.
const std::vector<std::string> kHostileChars = {
    " ", "\t", "\n", "\r", "\"", "'", "\\", ";", "|", "&&", "$(x)", "`x`",
    "<", ">", "*", "?", "/", ",", "=", "#", std::string(1, '\0')};

// Per kind: names that pass, names that fail, the longest one that passes
// (one more character fails), and where hostile characters are put in.
TEST(NameSyntax, KindsAcceptTheirNamesAndRefuseTheRest) {
  struct Case {
    const char* kind;
    bool (*check)(const std::string&);
    std::vector<std::string> good, bad;
    std::string longest;
    std::vector<std::pair<std::string, std::string>> around;  // hostile in between
  } cases[] = {
      {"serial", IsArraySerial, {"000197900123", "000xxxxxx815"},  // anonymised, letters kept
       {"", "-sid", "0001_97"}, Repeat('9', 32), {{"000197", "900123"}}},
      {"group", IsGroupName,
       {"sg1", "SG_prod-01.db:a", "elcsesx_devs", "CSG_XXX1", "MV_LNXDBSRV001", "a", "sg-"},
       {"", "-noprompt", "sg\xC3\xA9"},  // an option; non-ASCII letters
       Repeat('g', 64), {{"sg", "1"}, {"", "sg"}, {"sg", ""}}},
      // Group names may hold dots and colons, snapshot names may not.
      {"snapshot", IsSnapshotName, {"SP_12_1612339509", "daily-snap_01"},
       {"", "-symforce", "snap.1", "snap:1"}, Repeat('s', 32), {{"snap", "A"}}},
      {"initiator", IsInitiatorName,
       {"2100001b32084524", "500009730F0AB104", "50:00:09:73:f0:0a:b1:04",
        "iqn.1994-05.com.redhat:5a1b2c3d4e5f", "iqn.1998-01.com.vmware:esx01-6d4f3c21",
        "iqn.1991-05.com.microsoft:Host1.Corp.Example", "iqn.2001-04", "eui.02004567A425678D",
        "naa.52004567BA64678D", "naa.62004567BA64678D0123456789ABCDEF"},
       {"50000973F0AB104", "500009730F0AB1044", "500009730F0AB10G", "50:00:09:73:f0:0a:b1:0",
        "500:0:09:73:f0:0a:b1:04", "50:00:09:73:f0:0a:b1:04:", "0x500009730f0ab104", "",
        "iqn.", "iqn.94-05.com.x", "iqn.1994_05.com.x", "iqn.1994-05com.x", "iqn.1994-05.",
        "IQN.1994-05.com.x", "eui.02004567A425678", "naa.52004567BA64678D01",
        "iqn.1994-05.com." + Repeat('a', 223)},
       "", {{"50000973", "0F0AB104"}, {"iqn.1994-05.com.redhat:", ""}}},
      {"device", IsDeviceNumber, {"1", "0B59", "00027", "0019E", "fffff"},
       {"", "000A10", "0G59", "0B59:0B5A", "0B59,0B5A"},  // six digits; a range is no device
       "", {{"0", "1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    for (const auto& v : c.good) EXPECT_TRUE(c.check(v)) << v;
    for (const auto& v : c.bad) EXPECT_FALSE(c.check(v)) << v;
    if (!c.longest.empty()) {
      EXPECT_TRUE(c.check(c.longest));
      EXPECT_FALSE(c.check(c.longest + c.longest.back()));
    }
    for (const auto& [before, after] : c.around)
      for (const std::string& h : kHostileChars) EXPECT_FALSE(c.check(before + h + after)) << h;
  }
}

// Device files stay in the temporary directory, named plainly; the tool
// directory may hold blanks but nothing that ends a quote.
TEST(NameSyntax, DeviceFilesAndToolDirectory) {
  const std::string tmp = "/var/pz/tmp";
  for (auto [path, dir, ok] :
       {std::tuple{tmp + "/FLVMAX_12_2021.02.03-08.05.09.txt", tmp, true},
        {"/var/pz/tmp//FLVMAX_1.txt", "/var/pz/tmp/", true},
        {"/var/pz/tmpother/FLVMAX_1.txt", tmp, false}, {"/etc/passwd", tmp, false},
        {tmp + "/../../etc/FLVMAX_1.txt", tmp, false}, {tmp + "/", tmp, false}, {tmp, tmp, false},
        {"/x/FLVMAX_1.txt", "", false}, {"-x/FLVMAX_1.txt", "-x", false},
        {"/my tmp/FLVMAX_1.txt", "/my tmp", false}})
    EXPECT_EQ(ok, IsDeviceFilePath(path, dir)) << path << " in " << dir;
  for (const char* h : {" ", "\"", "'", "\\", "\n", "\t"})
    EXPECT_FALSE(IsDeviceFilePath(tmp + "/FL" + h + "VMAX.txt", tmp)) << h;
  EXPECT_TRUE(IsToolDirectory("/opt/EMC Solutions/SYMCLI"));
  for (const char* bad : {"/opt/emc\" -sid 1 \"x", "/opt/emc\\", "/opt/emc\n", ""})
    EXPECT_FALSE(IsToolDirectory(bad)) << bad;
}

// Names in log lines: every byte that could break a line or a quote is
// escaped, and a long name is cut.
TEST(NameSyntax, PrintableEscapesAndBounds) {
  EXPECT_EQ("a\\x0Ab\\x22c\\x5C\\x27", Printable("a\nb\"c\\'"));
  EXPECT_EQ("\\x00\\xC3", Printable(std::string("\0\xC3", 2)));
  std::string longText = Printable(Repeat('x', 500));
  EXPECT_LT(longText.size(), 110u);
  EXPECT_EQ("...", longText.substr(longText.size() - 3));
}

// Every name of the real tool outputs that the plug-in could hand back to a
// tool passes its check (and each kind was found, not skipped).
TEST(NameSyntax, EveryNameOfTheRealSamplesPasses) {
  struct Kind {
    bool (*check)(const std::string&);
    std::vector<const char*> patterns;
    size_t least, found;
  } kinds[] = {
      {IsArraySerial, {R"(Symmetrix ID\s*:\s*(\S+))", R"(<symid>([^<]*)</symid>)"}, 10, 0},
      {IsGroupName,
       {R"((?:Storage Group|Masking View|Initiator Group|Port Group) Name\s*:\s*(\S+))",
        R"(<name>([^<]*)</name>)", R"(\n\s*(MV_\S+)\n)",
        R"(\n(elcsesx\S*)\s+(\S+)\s+(\S+)\s+(\S+))"},  // the view listing's row
       12, 0},
      {IsInitiatorName, {R"(WWN\s*:\s*(\S+))"}, 3, 0},
      {IsDeviceNumber, {R"(\n([0-9A-F]{4,5}) )", R"(<dev_name>([^<]*)</dev_name>)"}, 19, 0},
  };
  const std::string dir = std::string(PZ_SHARED_DIR) + "/symcli-samples";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".txt") continue;
    const std::string text = runtime_test::ReadFile(entry.path().string());
    for (Kind& k : kinds)
      for (const char* p : k.patterns) {
        std::regex re(p);
        for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
          for (size_t g = 1; g < it->size(); ++g, ++k.found)
            EXPECT_TRUE(k.check((*it)[g].str())) << entry.path() << ": " << (*it)[g];
      }
  }
  for (const Kind& k : kinds) EXPECT_GE(k.found, k.least) << k.patterns[0];
}

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
    "x;touch /tmp/pz_canary", "$(touch /tmp/pz_canary)", "x\" -symforce \"", "x' -symforce '",
    "x\n-symforce",           "x\t-noprompt",             "-symforce",         "x,000A9",
    "",
};

struct Harness {
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
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
          op.call(r.api, Names());
      EXPECT_FALSE(r.env.runs.empty()) << op.name;
      EXPECT_FALSE(r.si.hasLogContaining("command not run")) << op.name;
    }
    for (Slot slot : op.slots) {
      for (const std::string& bad : kHostile) {
        Names names;
        names.*kField[int(slot)] = bad;
        Harness r;
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
  const std::string pre = " \"/opt/emc/SYMCLI/bin/", sid = " -sid 000197900123 ";
  for (auto [cmd, out] :
       {std::pair{"symsg\"" + sid + "list", "-----\nsg 0 ....\nLegend:\n"},
        {"symaccess\"" + sid + "-type initiator -wwn 10000090FA123456 list -detail -v",
         "Masking View Names\n{\n mv;rm\n mv_ok\n}\n"},
        {"symaccess\"" + sid + "list view -name mv_ok -v",
         "Masking View Name : mv_ok\nStorage Group Name : sg$(x)\n"}})
    r.env.Expect(pre + cmd, testing_host::ScriptedRun{out, "", 0, true, {}});
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  r.api.seVersion = 0;
  EXPECT_TRUE(r.api.GetSGListByHBA("000197900123", {"10000090FA123456"}, out));
  EXPECT_TRUE(r.env.unexpected.empty());
  EXPECT_EQ(3u, r.env.runs.size());
  EXPECT_TRUE(r.si.hasLog("Invalid masking view name [mv;rm], command not run"));
  // sg$(x) is not a parent here: it is only recorded, and refused by the
  // operation that would put it on a command line (as above).
  EXPECT_EQ((std::unordered_set<std::string>{"sg$(x)"}), out["10000090FA123456"]);
}

// A device file outside the path syntax is removed again, not handed over.
TEST(Refusal, DeviceFileOutsideTheSyntax) {
  Harness r;
  r.env.tempDir = "/fake/my tmp";
  auto list = SnapList(Names());
  EXPECT_FALSE(r.api.CreateSnaps(list));
  EXPECT_TRUE(r.env.runs.empty());
  EXPECT_TRUE(r.env.files.empty());
  EXPECT_EQ(1u, r.env.removed.size());
}

}  // namespace
