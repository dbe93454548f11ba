#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

std::string Cmd(const char* tool, const std::string& args) {
  return Tool(tool) + " -sid " + kSid + " " + args;
}
const std::string kFileArg = std::string("-file ") + kDeviceFile;

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

TEST_F(ArrayTest, StorageGroupAddToleratesMembersAndWritesEmptyFile) {
  const std::string add = Cmd("symsg", kFileArg + " -sg sg1 addall -noprompt");
  Expect(add, "", 1, "The device is already a member of the storage group");
  EXPECT_TRUE(api_.SGDevAdd(kSid, {"000B1"}, "sg1"));
  EXPECT_EQ("000B1\n", FileSeen());
  EXPECT_FALSE(FileLeft());

  env_.scripts.clear();
  Expect(add, "", 1, "Storage group not found");
  EXPECT_FALSE(api_.SGDevAdd(kSid, {}, "sg1"));
  EXPECT_EQ("", FileSeen(1));  // an empty list still runs with an empty file
  EXPECT_TRUE(si_.hasLog("Failed to add devices [] to storage group [sg1]"));
}

// The tool refuses a whole list for one device that needs no change: the
// others are changed after all, found from the group's listing.
TEST_F(ArrayTest, StorageGroupChangeOfAListFinishesTheDevicesStillNeedingIt) {
  const std::string add = Cmd("symsg", kFileArg + " -sg sg1 addall -noprompt");
  const std::string list = Cmd("symdev", "list -sg sg1");
  Expect(add, "", 1, "The device is already a member of the storage group");
  Expect(list, GroupListing({"000B1"}));
  Expect(add, "");
  EXPECT_TRUE(api_.SGDevAdd(kSid, {"000B1", "000B2", "000B3"}, "sg1"));
  EXPECT_EQ("000B2\n000B3\n", FileSeen(2));

  env_.scripts.clear();
  env_.runs.clear();
  const std::string rm = Cmd("symsg", kFileArg + " -sg sg1 rmall -noprompt");
  Expect(rm, "", 1, "Device 000B1 was not found in the group");
  Expect(list, GroupListing({"000B2"}));
  Expect(rm, "");
  EXPECT_TRUE(api_.SGDevRemove(kSid, {"000B1", "000B2"}, "sg1"));
  EXPECT_EQ("000B2\n", FileSeen(2));

  // The listing contradicts the tool: reported, not taken for success.
  env_.scripts.clear();
  Expect(add, "", 1, "The device is already a member of the storage group");
  Expect(list, GroupListing({"000C1"}));
  EXPECT_FALSE(api_.SGDevAdd(kSid, {"000B1", "000B2"}, "sg1"));
}

TEST_F(ArrayTest, StorageGroupRemoveTolerances) {
  const std::string rm = Cmd("symsg", kFileArg + " -sg sg1 rmall -noprompt");
  for (const char* text : {"Device 000B1 was not found in the group",
                           "Individual devices cannot be added to or removed "
                           "from a parent storage group"}) {
    env_.scripts.clear();
    Expect(rm, "", 1, text);
    EXPECT_TRUE(api_.SGDevRemove(kSid, {"000B1"}, "sg1")) << text;
  }
  env_.scripts.clear();
  Expect(rm, "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.SGDevRemove(kSid, {"000B1"}, "sg1"));

  config_.bSymmVerboseLogging = true;
  api_ = ArrayAPI_CLI(&si_);
  Init();
  env_.scripts.clear();
  Expect(rm, "");
  EXPECT_TRUE(api_.SGDevRemove(kSid, {"000B1"}, "sg1"));
  EXPECT_TRUE(FileLeft());
  EXPECT_TRUE(si_.hasLog(
      "Successfully removed devices [000B1] from storage group [sg1]"));
}

TEST_F(ArrayTest, StorageGroupsOfADeviceSkipTheLinkGroup) {
  config_.linkDeviceStorageGroup = "tgt_sg";
  api_ = ArrayAPI_CLI(&si_);
  Init();
  const std::string cmd = Cmd("symaccess", "-type storage list -dev 000A1");
  Expect(cmd,
         "Symmetrix ID          : 000197900123\n\nStorage Group Name\n"
         "--------------------\n  sg_a \r\ntgt_sg\nsg_b\n\n");
  std::list<std::string> sgs{"earlier"};
  ASSERT_TRUE(api_.GetSGListByDevice(kSid, "000A1", sgs));
  EXPECT_EQ((std::list<std::string>{"earlier", "sg_a", "sg_b"}), sgs);

  env_.scripts.clear();
  Expect(cmd, "", 1, "No Storage groups could be found for the device");
  sgs.clear();
  EXPECT_TRUE(api_.GetSGListByDevice(kSid, "000A1", sgs));
  EXPECT_TRUE(sgs.empty());

  env_.scripts.clear();
  Expect(cmd, "", 1, "Symmetrix is locked");
  EXPECT_FALSE(api_.GetSGListByDevice(kSid, "000A1", sgs));
  EXPECT_FALSE(api_.GetSGListByDevice(kSid, "", sgs));
}

const char* kOldShow =
    "Name: parent_sg\n\n    Symmetrix ID                 : 000197900123\n"
    "    Number of Storage Groups     : 2\n"
    "    Storage Group Names          : child_a           (IsChild)\n"
    "                                   child_b           (IsChild)\n"
    "    Number of Gatekeepers        : 0\n";

const char* kNewShow =
    "Name: parent_sg\n\n    Symmetrix ID                 : 000197900123\n"
    "    Number of Gatekeepers        : 0\n\n"
    "    Child Storage Groups (2):\n      {\n"
    "        Storage Group Name\n"
    "        ----------------------------\n"
    "        child_a\n        child_b\n      }\n";

TEST_F(ArrayTest, ChildGroupsVersionSwitch) {
  const std::string show = Cmd("symsg", "show parent_sg");
  Expect(show, kOldShow);
  api_.seVersion = 9019999;
  std::vector<std::string> children;
  ASSERT_TRUE(api_.GetChildSGList(kSid, "parent_sg", children));
  EXPECT_EQ((std::vector<std::string>{"child_a", "child_b"}), children);

  // The newer parser does not understand the older text...
  api_.seVersion = 9020000;
  children.clear();
  ASSERT_TRUE(api_.GetChildSGList(kSid, "parent_sg", children));
  EXPECT_TRUE(children.empty());
  EXPECT_TRUE(si_.hasLog("Storage group [parent_sg] is not a parent storage group"));

  // ... and reads its own.
  env_.scripts.clear();
  Expect(show, kNewShow);
  ASSERT_TRUE(api_.GetChildSGList(kSid, "parent_sg", children));
  EXPECT_EQ((std::vector<std::string>{"child_a", "child_b"}), children);
  EXPECT_TRUE(si_.hasLog(
      "Parent storage group [parent_sg] child storage groups [child_a,child_b]"));
}

TEST_F(ArrayTest, ChildGroupsFormatAndFailures) {
  const std::string show = Cmd("symsg", "show sg1");
  Expect(show, "Storage Group Name : sg1\n(IsChild) but no end marker\n");
  std::vector<std::string> children;
  EXPECT_FALSE(api_.GetChildSGList(kSid, "sg1", children));
  EXPECT_TRUE(si_.hasLog(
      "Failed to parse SYMCLI command output, format seems to have changed."));
  api_.seVersion = 9020106;
  env_.scripts.clear();
  Expect(show, "Child Storage Groups\nStorage Group Name\n----\nchild_a\n");
  EXPECT_FALSE(api_.GetChildSGListv2(kSid, "sg1", children));
  EXPECT_TRUE(children.empty());
  env_.scripts.clear();
  Expect(show, "", 1);
  EXPECT_FALSE(api_.GetChildSGList(kSid, "sg1", children));
  EXPECT_TRUE(si_.hasLog("Failed to find storage group [sg1]"));
}

TEST_F(ArrayTest, ParentGroupsNeedMoreThanALoneP) {
  Expect(Cmd("symsg", "list"),
         "\n                       S T O R A G E   G R O U P S\n\n"
         "Symmetrix ID: 000197900123\n\n"
         "Storage Group Name   Devs  Flags  GKs\n"
         "-------------------- ----- ------ ----\n"
         "parent_sg               0 P..X      0\n"
         "lonely_p                2 P         0\n"
         "child_a                 4 C...      0\n"
         "plain                   1 ....      0\n\n"
         "Legend:\n  Flags: (P)arent\n");
  std::unordered_set<std::string> parents;
  ASSERT_TRUE(api_.GetParentSGList(kSid, parents));
  EXPECT_EQ((std::unordered_set<std::string>{"parent_sg"}), parents);

  env_.scripts.clear();
  Expect(Cmd("symsg", "list"), "----\nsg 1 ....\n");
  EXPECT_FALSE(api_.GetParentSGList(kSid, parents));
}

TEST_F(ArrayTest, AllowLists) {
  config_.allowWWPNs = {"50:00:09:73:F0:0A:B1:04"};
  config_.allowMaskingViews = {"MV_Host1"};
  api_ = ArrayAPI_CLI(&si_);
  Init();
  EXPECT_TRUE(api_.IsAllowedWWPN("50000973f00ab104"));
  EXPECT_TRUE(api_.IsAllowedWWPN("50 00 09 73 f0 0a b1 04"));
  EXPECT_FALSE(api_.IsAllowedWWPN("500009730f0ab104"));
  EXPECT_TRUE(api_.IsAllowedMaskingView("MV_Host1"));
  EXPECT_FALSE(api_.IsAllowedMaskingView("mv_host1"));
  EXPECT_TRUE(si_.hasLog("Masking View [mv_host1] not found in AllowMaskingViews list"));
}

std::string InitiatorCmd(const char* wwn) {
  return Cmd("symaccess", std::string("-type initiator -wwn ") + wwn +
                              " list -detail -v");
}

TEST_F(ArrayTest, MaskingViewsOfAnInitiatorFromTheBraceBlock) {
  Expect(InitiatorCmd("10000000C9ABCD01"), ReadSample("symaccess_show_init__2.txt"));
  std::vector<std::string> views{"stale"};
  ASSERT_TRUE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD01", views));
  EXPECT_EQ(std::vector<std::string>{"MV_LNXDBSRV001"}, views);

  Expect(InitiatorCmd("10000000C9ABCD02"), ReadSample("symaccess_show_init__1.txt"));
  ASSERT_TRUE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD02", views));
  EXPECT_TRUE(views.empty());  // "None", and never later blocks

  Expect(InitiatorCmd("10000000C9ABCD03"),
         "Initiator Group Name : ig\nMasking View Names   : mv_a mv_b\n"
         "Parent Initiator Groups\n{\n  pig\n}\n");
  ASSERT_TRUE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD03", views));
  EXPECT_EQ((std::vector<std::string>{"mv_a", "mv_b"}), views);

  Expect(InitiatorCmd("10000000C9ABCD04"), ReadSample("symaccess_list_init_wwn__1.txt"));
  EXPECT_FALSE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD04", views));

  Expect(InitiatorCmd("10000000C9ABCD05"), "Masking View Names\n  {\n   mv_a\n");
  EXPECT_FALSE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD05", views));

  Expect(InitiatorCmd("10000000C9ABCD06"), "", 1, "The specified initiator was not found");
  EXPECT_FALSE(api_.GetMVListByInitiator(kSid, "10000000C9ABCD06", views));
}

const char* kViewDetail =
    "Symmetrix ID                : 000197900123\n\n"
    "Masking View Name           : mv1\n"
    "Last updated at             : 04:39:39 AM on Fri Jul 19,2013\n"
    "Initiator Group Name        : ig1\n\n   Host Initiators\n     {\n"
    "       WWN  : 10000000c9abcdef\n     }\n\n"
    "Port Group Name             : pg1\n\n"
    "   Director Identification\n     {\n       FA-7E:0\n     }\n\n"
    "Storage Group Name          : sg1\n\n"
    "   Number of Storage Groups : 0\n"
    "   Storage Group Names      : None\n"
    "   Parent Storage Group Name: %s\n";

TEST_F(ArrayTest, MaskingViewDetailsTakeWholeKeysOnly) {
  std::string detail = kViewDetail;
  detail.replace(detail.find("%s"), 2, "psg");
  Expect(Cmd("symaccess", "list view -name mv1 -v"), detail);
  VMAXMaskViewInfo info;
  ASSERT_TRUE(api_.MaskViewInfoByName(kSid, "mv1", info));
  EXPECT_EQ("mv1", info.maskingView);
  EXPECT_EQ("ig1", info.initiatorGroup);
  EXPECT_EQ("pg1", info.portGroup);
  EXPECT_EQ("sg1", info.storageGroup);

  Expect(Cmd("symaccess", "list view -name mv2 -v"),
         "Masking View Name : mv2\nStorage Group Name : sg_a\n"
         "Storage Group Name : sg_b\n");
  ASSERT_TRUE(api_.MaskViewInfoByName(kSid, "mv2", info));
  EXPECT_EQ("sg_b", info.storageGroup);

  Expect(Cmd("symaccess", "list view -name mv3 -v"), "", 1,
         "The masking view was not found");
  EXPECT_FALSE(api_.MaskViewInfoByName(kSid, "mv3", info));
  EXPECT_TRUE(si_.hasLog("masking view [mv3] not found on array "));
  Expect(Cmd("symaccess", "list view -name mv4 -v"), "nothing useful");
  EXPECT_FALSE(api_.MaskViewInfoByName(kSid, "mv4", info));
}

TEST_F(ArrayTest, StorageGroupsByInitiatorResolveParents) {
  config_.allowWWPNs = {"10000000C9ABCD01", "10000000C9ABCD02"};
  config_.allowMaskingViews = {"mv_a", "mv_b", "mv_p"};
  api_ = ArrayAPI_CLI(&si_);
  Init();
  Expect(Cmd("symsg", "list"),
         "-----\nparent_sg 0 P...\nempty_parent 0 P...\nLegend:\n");
  Expect(InitiatorCmd("10000000C9ABCD01"),
         "Masking View Names\n{\n mv_a\n mv_b\n mv_p\n mv_x\n mv_gone\n}\n");
  Expect(InitiatorCmd("10000000C9ABCD02"), "Masking View Names\n{\n mv_e\n}\n");
  auto view = [&](const char* name, const char* sg) {
    Expect(Cmd("symaccess", std::string("list view -name ") + name + " -v"),
           std::string("Masking View Name : ") + name +
               "\nStorage Group Name : " + sg + "\n");
  };
  view("mv_a", "sg_shared");
  view("mv_b", "sg_shared");
  view("mv_p", "parent_sg");
  Expect(Cmd("symsg", "show parent_sg"),
         "Storage Group Names : c1 (IsChild)\n   c2 (IsChild)\n"
         "Number of Gatekeepers : 0\n");
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  ASSERT_TRUE(api_.GetSGListByHBA(kSid, {"10000000C9ABCD01", "10000000C9ABCD03"}, out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ((std::unordered_set<std::string>{"sg_shared", "c1", "c2"}),
            out["10000000C9ABCD01"]);
  EXPECT_TRUE(si_.hasLog("Skipping HBA [10000000C9ABCD03], not found in AllowWWPN list"));
  EXPECT_TRUE(si_.hasLog(
      "Skipping Masking View [mv_x], not found in AllowMaskingViews list"));
  EXPECT_TRUE(env_.unexpected.empty());
}

TEST_F(ArrayTest, StorageGroupsByInitiatorFailures) {
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  EXPECT_FALSE(api_.GetSGListByHBA(kSid, {}, out));
  EXPECT_TRUE(si_.hasLog("Received empty HBA list, mapping cannot proceed"));

  config_.allowWWPNs = {"10000000C9ABCD09"};
  api_ = ArrayAPI_CLI(&si_);
  Init();
  Expect(Cmd("symsg", "list"), "-----\nsg 0 ....\nLegend:\n");
  EXPECT_FALSE(api_.GetSGListByHBA(kSid, {"10000000C9ABCD01", "10000000C9ABCD02"}, out));
  EXPECT_TRUE(si_.hasLog(
      "Failed to find masking view for mapping.Please add one or more of "
      "these HBAs to a Masking View []"));
}

// A view that is gone is skipped; a view whose query failed or was killed
// at its time limit fails the whole lookup, naming the view, so that no
// storage group is chosen without knowing what it presents.
TEST_F(ArrayTest, FailedViewQueryFailsTheLookup) {
  struct Case {
    int exitCode;
    const char* text;
    bool found;
  } cases[] = {{1, "Masking view mv_b was not found", true},
               {1, "Symmetrix is locked", false},
               {137, "", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    si_ = testing_host::FakeSnapInfo();
    env_.scripts.clear();
    api_ = ArrayAPI_CLI(&si_);
    Init();
    Expect(Cmd("symsg", "list"), "-----\nsg 0 ....\nLegend:\n");
    Expect(InitiatorCmd("10000000C9ABCD01"), "Masking View Names\n{\n mv_a\n mv_b\n}\n");
    Expect(Cmd("symaccess", "list view -name mv_a -v"),
           "Masking View Name : mv_a\nStorage Group Name : sg_mount\n");
    Expect(Cmd("symaccess", "list view -name mv_b -v"), "", c.exitCode, c.text);
    std::unordered_map<std::string, std::unordered_set<std::string>> out;
    EXPECT_EQ(c.found, api_.GetSGListByHBA(kSid, {"10000000C9ABCD01"}, out));
    EXPECT_EQ(c.found, !out.empty());
    EXPECT_EQ(!c.found, si_.hasLogContaining("Failed to read masking view [mv_b]"));
  }
}

}  // namespace
}  // namespace arraytest
