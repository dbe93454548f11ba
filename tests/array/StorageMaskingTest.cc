#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

std::string Cmd(const char* tool, const std::string& args) {
  return Tool(tool) + " -sid " + kSid + " " + args;
}
const std::string kFileArg = std::string("-file ") + kDeviceFile;
const std::string kAdd = Cmd("symsg", kFileArg + " -sg sg1 addall -noprompt");
const std::string kRm = Cmd("symsg", kFileArg + " -sg sg1 rmall -noprompt");
const std::string kSgList = Cmd("symsg", "list");

// A listing of storage group sg1 holding `devices`.
std::string GroupListing(const std::vector<std::string>& devices) {
  std::string text =
      "\nSymmetrix ID: 000197900123\n\n"
      "        Device Name           Directors                  Device\n"
      "--------------------------- ------------- ------------------------------\n"
      "Sym  Physical               SA :P DA :IT  Config        Attribute    Sts\n"
      "--------------------------- ------------- ------------------------------\n\n";
  for (const std::string& d : devices)
    text += d + " Not Visible            ***:* 07D:D0  TDEV          N/Grp'd      RW\n";
  return text;
}

std::string InitiatorCmd(const char* wwn) {
  return Cmd("symaccess", std::string("-type initiator -wwn ") + wwn + " list -detail -v");
}

// Answers that mean "nothing to change" are success; others fail. An empty
// list still runs, with an empty file, kept only with verbose logging.
TEST_F(ArrayTest, StorageGroupChangeTolerances) {
  struct Case {
    bool add;
    const char* answer;
    std::list<std::string> devs;
    bool ok;
  } cases[] = {
      {true, "!The device is already a member of the storage group", {"000B1"}, true},
      {true, "!Storage group not found", {}, false},
      {false, "!Device 000B1 was not found in the group", {"000B1"}, true},
      {false, "!Individual devices cannot be added to or removed from a parent storage group",
       {"000B1"}, true},
      {false, "!Symmetrix is locked", {"000B1"}, false},
      {false, "", {"000B1"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    env_.scripts.clear();
    env_.runs.clear();
    config_.bSymmVerboseLogging = !*c.answer;
    Reinit();
    Answer(c.add ? kAdd : kRm, c.answer);
    EXPECT_EQ(c.ok, c.add ? api_.SGDevAdd(kSid, c.devs, "sg1")
                          : api_.SGDevRemove(kSid, c.devs, "sg1"));
    EXPECT_EQ(c.devs.empty() ? "" : "000B1\n", FileSeen());
    EXPECT_EQ(config_.bSymmVerboseLogging, FileLeft());
  }
}

// The tool refuses a whole list for one device that needs no change: the
// others are changed after all, found from the group's listing; a listing
// that contradicts the tool is reported, not taken for success.
TEST_F(ArrayTest, StorageGroupChangeOfAListFinishesTheDevicesStillNeedingIt) {
  const std::string list = Cmd("symdev", "list -sg sg1");
  struct Case {
    bool add;
    const char* refusal;
    std::vector<std::string> members;
    bool ok;
    const char* rest;
  } cases[] = {
      {true, "The device is already a member of the storage group", {"000B1"}, true,
       "000B2\n000B3\n"},
      {false, "Device 000B1 was not found in the group", {"000B2", "000B3"}, true,
       "000B2\n000B3\n"},
      {true, "The device is already a member of the storage group", {"000C1"}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    env_.scripts.clear();
    env_.runs.clear();
    Expect(c.add ? kAdd : kRm, "", 1, c.refusal);
    Expect(list, GroupListing(c.members));
    if (c.ok) Expect(c.add ? kAdd : kRm, "");
    const std::list<std::string> devs = {"000B1", "000B2", "000B3"};
    EXPECT_EQ(c.ok, c.add ? api_.SGDevAdd(kSid, devs, "sg1") : api_.SGDevRemove(kSid, devs, "sg1"));
    if (c.ok) { EXPECT_EQ(c.rest, FileSeen(2)); }
  }
}

// Groups of a device leave out the link group; parents need more than a
// lone "P" flag.
TEST_F(ArrayTest, GroupListings) {
  config_.linkDeviceStorageGroup = "tgt_sg";
  Reinit();
  const std::string cmd = Cmd("symaccess", "-type storage list -dev 000A1");
  for (auto [answer, ok, want] : {
           std::tuple<const char*, bool, std::list<std::string>>{
               "Symmetrix ID          : 000197900123\n\nStorage Group Name\n"
               "--------------------\n  sg_a \r\ntgt_sg\nsg_b\n\n",
               true, {"earlier", "sg_a", "sg_b"}},
           {"!No Storage groups could be found for the device", true, {"earlier"}},
           {"!Symmetrix is locked", false, {}}}) {
    env_.scripts.clear();
    Answer(cmd, answer);
    std::list<std::string> sgs{"earlier"};
    EXPECT_EQ(ok, api_.GetSGListByDevice(kSid, "000A1", sgs)) << answer;
    if (ok) { EXPECT_EQ(want, sgs); }
  }
  Expect(kSgList,
         "\n                       S T O R A G E   G R O U P S\n\n"
         "Symmetrix ID: 000197900123\n\nStorage Group Name   Devs  Flags  GKs\n"
         "-------------------- ----- ------ ----\n"
         "parent_sg               0 P..X      0\nlonely_p                2 P         0\n"
         "child_a                 4 C...      0\nplain                   1 ....      0\n\n"
         "Legend:\n  Flags: (P)arent\n");
  std::unordered_set<std::string> parents;
  ASSERT_TRUE(api_.GetParentSGList(kSid, parents));
  EXPECT_EQ((std::unordered_set<std::string>{"parent_sg"}), parents);
  env_.scripts.clear();
  Expect(kSgList, "----\nsg 1 ....\n");
  EXPECT_FALSE(api_.GetParentSGList(kSid, parents));
}

// Before 9.2 the children follow "Storage Group Names"; from 9.2 on they are
// a braced block, and each parser does not understand the other text.
TEST_F(ArrayTest, ChildGroupsVersionSwitch) {
  const char* oldShow =
      "Name: parent_sg\n\n    Symmetrix ID                 : 000197900123\n"
      "    Number of Storage Groups     : 2\n"
      "    Storage Group Names          : child_a           (IsChild)\n"
      "                                   child_b           (IsChild)\n"
      "    Number of Gatekeepers        : 0\n";
  const char* newShow =
      "Name: parent_sg\n\n    Symmetrix ID                 : 000197900123\n"
      "    Number of Gatekeepers        : 0\n\n    Child Storage Groups (2):\n      {\n"
      "        Storage Group Name\n        ----------------------------\n"
      "        child_a\n        child_b\n      }\n";
  using V = std::vector<std::string>;
  struct Case {
    unsigned long version;
    std::string answer;
    bool ok;
    V children;
  } cases[] = {
      {9019999, oldShow, true, {"child_a", "child_b"}},
      {9020000, oldShow, true, {}},
      {9020000, newShow, true, {"child_a", "child_b"}},
      {0, "Storage Group Name : sg1\n(IsChild) but no end marker\n", false, {}},
      {9020106, "Child Storage Groups\nStorage Group Name\n----\nchild_a\n", false, {}},
      {9020106, "!", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    env_.scripts.clear();
    Answer(Cmd("symsg", "show parent_sg"), c.answer);
    api_.seVersion = c.version;
    V children;
    EXPECT_EQ(c.ok, api_.GetChildSGList(kSid, "parent_sg", children));
    EXPECT_EQ(c.children, children);
  }
}

// WWPNs compare without case, colons or blanks; view names exactly.
TEST_F(ArrayTest, AllowLists) {
  config_.allowWWPNs = {"50:00:09:73:F0:0A:B1:04"};
  config_.allowMaskingViews = {"MV_Host1"};
  Reinit();
  EXPECT_TRUE(api_.IsAllowedWWPN("50000973f00ab104"));
  EXPECT_TRUE(api_.IsAllowedWWPN("50 00 09 73 f0 0a b1 04"));
  EXPECT_FALSE(api_.IsAllowedWWPN("500009730f0ab104"));
  EXPECT_TRUE(api_.IsAllowedMaskingView("MV_Host1"));
  EXPECT_FALSE(api_.IsAllowedMaskingView("mv_host1"));
}

// Views of an initiator come from their brace block only ("None", never a
// later block); details take whole keys, the last storage group winning.
TEST_F(ArrayTest, MaskingViewsAndTheirDetails) {
  struct Case {
    std::string answer;
    bool ok;
    std::vector<std::string> views;
  } cases[] = {
      {ReadSample("symaccess_show_init__2.txt"), true, {"MV_LNXDBSRV001"}},
      {ReadSample("symaccess_show_init__1.txt"), true, {}},
      {"Initiator Group Name : ig\nMasking View Names   : mv_a mv_b\n"
       "Parent Initiator Groups\n{\n  pig\n}\n", true, {"mv_a", "mv_b"}},
      {ReadSample("symaccess_list_init_wwn__1.txt"), false, {}},
      {"Masking View Names\n  {\n   mv_a\n", false, {}},
      {"!The specified initiator was not found", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    env_.scripts.clear();
    Answer(InitiatorCmd("10000000C9ABCD01"), c.answer);
    std::vector<std::string> views{"stale"};
    EXPECT_EQ(c.ok, api_.GetMVListByInitiator(kSid, "10000000C9ABCD01", views));
    if (c.ok) { EXPECT_EQ(c.views, views); }
  }
  for (auto [answer, sg] : {std::pair{"Masking View Name : mv1\nPort Group Name : pg1\n"
                                      "Storage Group Name : sg_a\nStorage Group Name : sg_b\n"
                                      "   Parent Storage Group Name: psg\n", "sg_b"},
                            {"!The masking view was not found", ""}, {"nothing useful", ""}}) {
    env_.scripts.clear();
    Answer(Cmd("symaccess", "list view -name mv1 -v"), answer);
    VMAXMaskViewInfo info;
    EXPECT_EQ(*sg != 0, api_.MaskViewInfoByName(kSid, "mv1", info)) << answer;
    if (*sg) {
      EXPECT_EQ("mv1", info.maskingView);
      EXPECT_EQ("pg1", info.portGroup);
      EXPECT_EQ(sg, info.storageGroup);
    }
  }
}

// Only allowed initiators and views count, a parent group stands for its
// children; without an allowed view the operator is told what to add.
TEST_F(ArrayTest, StorageGroupsByInitiatorResolveParents) {
  config_.allowWWPNs = {"10000000C9ABCD01", "10000000C9ABCD02"};
  config_.allowMaskingViews = {"mv_a", "mv_b", "mv_p"};
  Reinit();
  Expect(kSgList, "-----\nparent_sg 0 P...\nempty_parent 0 P...\nLegend:\n");
  Expect(InitiatorCmd("10000000C9ABCD01"),
         "Masking View Names\n{\n mv_a\n mv_b\n mv_p\n mv_x\n mv_gone\n}\n");
  Expect(InitiatorCmd("10000000C9ABCD02"), "Masking View Names\n{\n mv_e\n}\n");
  for (auto [view, sg] : {std::pair{"mv_a", "sg_shared"}, {"mv_b", "sg_shared"},
                          {"mv_p", "parent_sg"}})
    Expect(Cmd("symaccess", std::string("list view -name ") + view + " -v"),
           std::string("Masking View Name : ") + view + "\nStorage Group Name : " + sg + "\n");
  Expect(Cmd("symsg", "show parent_sg"),
         "Storage Group Names : c1 (IsChild)\n   c2 (IsChild)\nNumber of Gatekeepers : 0\n");
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  ASSERT_TRUE(api_.GetSGListByHBA(kSid, {"10000000C9ABCD01", "10000000C9ABCD03"}, out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ((std::unordered_set<std::string>{"sg_shared", "c1", "c2"}), out["10000000C9ABCD01"]);
  EXPECT_TRUE(env_.unexpected.empty());

  EXPECT_FALSE(api_.GetSGListByHBA(kSid, {}, out));
  config_.allowWWPNs = {"10000000C9ABCD09"};
  Reinit();
  env_.scripts.clear();
  Expect(kSgList, "-----\nsg 0 ....\nLegend:\n");
  EXPECT_FALSE(api_.GetSGListByHBA(kSid, {"10000000C9ABCD01", "10000000C9ABCD02"}, out));
  EXPECT_TRUE(si_.hasLog(
      "Failed to find masking view for mapping.Please add one or more of "
      "these HBAs to a Masking View []"));
}

// A view that is gone is skipped; a view whose query failed or was killed
// at its time limit fails the whole lookup, naming the view, so that no
// storage group is chosen without knowing what it presents.
TEST_F(ArrayTest, FailedViewQueryFailsTheLookup) {
  for (auto [exitCode, text, found] : {std::tuple{1, "Masking view mv_b was not found", true},
                                       {1, "Symmetrix is locked", false}, {137, "", false}}) {
    SCOPED_TRACE(text);
    si_ = testing_host::FakeSnapInfo();
    env_.scripts.clear();
    Reinit();
    Expect(kSgList, "-----\nsg 0 ....\nLegend:\n");
    Expect(InitiatorCmd("10000000C9ABCD01"), "Masking View Names\n{\n mv_a\n mv_b\n}\n");
    Expect(Cmd("symaccess", "list view -name mv_a -v"),
           "Masking View Name : mv_a\nStorage Group Name : sg_mount\n");
    Expect(Cmd("symaccess", "list view -name mv_b -v"), "", exitCode, text);
    std::unordered_map<std::string, std::unordered_set<std::string>> out;
    EXPECT_EQ(found, api_.GetSGListByHBA(kSid, {"10000000C9ABCD01"}, out));
    EXPECT_EQ(found, !out.empty());
    EXPECT_EQ(!found, si_.hasLogContaining("Failed to read masking view [mv_b]"));
  }
}

}  // namespace
}  // namespace arraytest
