// Device, storage group and masking listings, and storage group changes.
#include "array/DeviceListing.h"
#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

// "symdev list ... -cyl" as an array that runs SnapVX prints it: five-digit
// device numbers, no DA:IT column, capacity last.
std::string CylListing(const std::string& rows) {
  return "Sym   Physical     SA :P   Config   Attribute    Sts  (Cyl)\n--------\n\n" + rows;
}

// Free = in the group, not linked and not mapped (000A5 is mapped, 000A4
// linked). Answers are output, or "!" and the error text of a failed run.
TEST_F(ArrayTest, FreeDevicesOfTargetGroup) {
  const std::string linked = "Dev Dev Name Gen FCMD\n-----\nA4 000A1 snapA 0 .D.X W\n\nFlgs:\n";
  const std::string unmapped =
      CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                 "000A5 /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                 "00A6  Not Visible ***:*** TDEV N/Grp'd RW 1093\n");
  const std::string range = ReadSample("symdev_list_range__1.txt");
  const std::string none = "!" + ReadSample("msg_no_snapvx_information__1.txt");
  using Free = std::vector<std::pair<std::string, unsigned>>;
  for (auto [name, linkedOut, noport, cyl, want] : {
           std::tuple<const char*, std::string, std::string, std::string, Free>{
               "linked and mapped left out", linked, unmapped,
               CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                          "A5    /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                          "000A6 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                          "000A7 /dev/sdd    1D:4    TDEV N/Grp'd RW 4372\n"),
               Free{{"000A5", 2186}, {"000A6", 1093}}},
           {"linked list without ruler", "000A4 000A1 snapA\n", unmapped, "", {}},
           // Older arrays: four-digit numbers, DA:IT column, "2-Way Mir" configs.
           {"older layout", none, range, range, {}}}) {
    SCOPED_TRACE(name);
    Reset();
    Answer(Cmd("symsnapvx", "list -linked -by_tgt"), linkedOut);
    Answer(Cmd("symdev", "list -sg tgt_sg -noport -tdev"), noport);
    Answer(Cmd("symdev", "list -sg tgt_sg -tdev -cyl"), cyl);
    std::list<VMAXLun> luns;
    EXPECT_EQ(!want.empty(), api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns));
    Free got;
    for (const auto& l : luns) {
      got.emplace_back(l.deviceId, l.cylinders);
      EXPECT_EQ(kSid, l.sid);
    }
    EXPECT_EQ(want, got);
  }
  // A size that is not a number names its line and adds nothing.
  std::list<VMAXLun> luns;
  std::string badLine, badField;
  EXPECT_FALSE(symcli::ParseFreeDevices("-----\n000A5 /dev/sda 1D:4 TDEV N/Grp'd RW 100\n"
                                        "000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB\n",
                                        kSid, {}, {"000A5", "000A6"}, luns, badLine, badField));
  EXPECT_TRUE(luns.empty());
  EXPECT_EQ("12GB", badField);
  EXPECT_EQ("000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB", badLine);
}

// The published listings give their devices; being older layouts (four-digit
// numbers, DA:IT column, "2-Way Mir" configs) they give no sizes, as no size
// that only starts with digits does. "No devices" is an empty group.
TEST_F(ArrayTest, DeviceListsOfSamples) {
  using Set = std::unordered_set<std::string>;
  for (auto [file, unmapped, want] : {
           std::tuple<const char*, bool, Set>{
               "symdev_list_noport__1.txt", true,
               {"003F6", "00510", "00511", "00512", "00513", "00514", "0051A", "0051B"}},
           {"symdev_list_range__2.txt", false, {"01E37", "01E38", "01E39"}},
           {"symdev_list_r1__1.txt", false, {"00DDA", "00DDB", "00DDC"}},
           {"", false, {}}}) {
    SCOPED_TRACE(file);
    const std::string out = *file ? ReadSample(file) : "!No Symmetrix devices were found";
    Reset();
    Answer(Cmd("symdev", std::string("list -sg sg") + (unmapped ? " -noport -tdev" : "")), out);
    Set devs;
    EXPECT_TRUE(unmapped ? api_.GetDevListUnmapped(kSid, "sg", devs)
                         : api_.GetDevListBySG(kSid, "sg", devs));
    EXPECT_EQ(want, devs);
  }
  for (std::string out :
       {ReadSample("symdev_list_range__1.txt"), ReadSample("symdev_list_range__2.txt"),
        ReadSample("symdev_list_noport__1.txt"), ReadSample("symdev_list_r1__1.txt"),
        CylListing("00B59 /dev/sdb 1D:4 TDEV N/Grp'd RW 2-Way\n")}) {
    Reset();
    Expect(Cmd("symdev", "list -devs 0B59 -cyl"), out);
    VMAXLun lun;
    lun.cylinders = 77;
    EXPECT_FALSE(api_.GetDevProps(kSid, "0B59", lun));
    EXPECT_EQ(77u, lun.cylinders);
  }
}

const std::string kAdd = Cmd("symsg", kFile + "-sg sg1 addall -noprompt");
const std::string kRm = Cmd("symsg", kFile + "-sg sg1 rmall -noprompt");
const std::string kSgList = Cmd("symsg", "list");

// A listing of storage group sg1 holding `devices`.
std::string GroupListing(const std::vector<std::string>& devices) {
  std::string text = "Sym  Physical    SA :P DA :IT  Config   Attribute    Sts\n------\n";
  for (const std::string& d : devices)
    text += d + " Not Visible            ***:* 07D:D0  TDEV          N/Grp'd      RW\n";
  return text;
}

const std::string kInitiator =
    Cmd("symaccess", "-type initiator -wwn 10000000C9ABCD01 list -detail -v");

// Answers that mean "nothing to change" are success; others fail. An empty
// list still runs, with an empty file, kept only with verbose logging.
TEST_F(ArrayTest, StorageGroupChangeTolerances) {
  for (auto [add, answer, devs, ok] : {
           std::tuple<bool, const char*, std::list<std::string>, bool>{
               true, "!The device is already a member of the storage group", {"000B1"}, true},
           {true, "!Storage group not found", {}, false},
           {false, "!Device 000B1 was not found in the group", {"000B1"}, true},
           {false, "!Individual devices cannot be added to or removed from a parent storage group",
            {"000B1"}, true},
           {false, "", {"000B1"}, true}}) {
    SCOPED_TRACE(answer);
    Reset();
    config_.bSymmVerboseLogging = !*answer;
    Reinit();
    Answer(add ? kAdd : kRm, answer);
    EXPECT_EQ(ok, add ? api_.SGDevAdd(kSid, devs, "sg1") : api_.SGDevRemove(kSid, devs, "sg1"));
    EXPECT_EQ(devs.empty() ? "" : "000B1\n", FileSeen());
    EXPECT_EQ(config_.bSymmVerboseLogging, FileLeft());
  }
}

// The tool refuses a whole list for one device that needs no change: the
// others are changed after all, found from the group's listing; a listing
// that contradicts the tool is reported, not taken for success.
TEST_F(ArrayTest, StorageGroupChangeOfAListFinishesTheDevicesStillNeedingIt) {
  const std::string list = Cmd("symdev", "list -sg sg1");
  const char* member = "The device is already a member of the storage group";
  for (auto [add, refusal, members, ok] : {
           std::tuple<bool, const char*, std::vector<std::string>, bool>{
               true, member, {"000B1"}, true},
           {false, "Device 000B1 was not found in the group", {"000B2", "000B3"}, true},
           {true, member, {"000C1"}, false}}) {
    SCOPED_TRACE(refusal);
    Reset();
    Expect(add ? kAdd : kRm, "", 1, refusal);
    Expect(list, GroupListing(members));
    if (ok) Expect(add ? kAdd : kRm, "");
    const std::list<std::string> devs = {"000B1", "000B2", "000B3"};
    EXPECT_EQ(ok, add ? api_.SGDevAdd(kSid, devs, "sg1") : api_.SGDevRemove(kSid, devs, "sg1"));
    if (ok) { EXPECT_EQ("000B2\n000B3\n", FileSeen(2)); }
  }
}

// Before 9.2 the children follow "Storage Group Names"; from 9.2 on they are
// a braced block, and each parser does not understand the other text.
TEST_F(ArrayTest, ChildGroupsVersionSwitch) {
  const char* oldShow = "Number of Storage Groups : 2\nStorage Group Names : child_a (IsChild)\n"
                        "        child_b    (IsChild)\nNumber of Gatekeepers : 0\n";
  const char* newShow = "Number of Gatekeepers : 0\n\n  Child Storage Groups (2):\n    {\n"
                        "  Storage Group Name\n  ------\n    child_a\n    child_b\n    }\n";
  using V = std::vector<std::string>;
  for (auto [version, answer, ok, want] : {
           std::tuple<unsigned long, const char*, bool, V>{
               9019999, oldShow, true, {"child_a", "child_b"}},
           {9020000, oldShow, true, {}},
           {9020000, newShow, true, {"child_a", "child_b"}},
           {9020106, "Child Storage Groups\nStorage Group Name\n----\nchild_a\n", false, {}}}) {
    SCOPED_TRACE(answer);
    Reset();
    Answer(Cmd("symsg", "show parent_sg"), answer);
    api_.seVersion = version;
    V children;
    EXPECT_EQ(ok, api_.GetChildSGList(kSid, "parent_sg", children));
    EXPECT_EQ(want, children);
  }
}

// Views of an initiator come from their brace block only ("None", never a
// later block); details take whole keys, the last storage group winning.
TEST_F(ArrayTest, MaskingViewsAndTheirDetails) {
  for (auto [answer, ok, want] : {
           std::tuple<std::string, bool, std::vector<std::string>>{
               ReadSample("symaccess_show_init__2.txt"), true, {"MV_LNXDBSRV001"}},
           {ReadSample("symaccess_show_init__1.txt"), true, {}},
           {"Initiator Group Name : ig\nMasking View Names   : mv_a mv_b\n"
            "Parent Initiator Groups\n{\n  pig\n}\n", true, {"mv_a", "mv_b"}},
           {ReadSample("symaccess_list_init_wwn__1.txt"), false, {}},
           {"Masking View Names\n  {\n   mv_a\n", false, {}}}) {
    SCOPED_TRACE(answer);
    Reset();
    Answer(kInitiator, answer);
    std::vector<std::string> views{"stale"};
    EXPECT_EQ(ok, api_.GetMVListByInitiator(kSid, "10000000C9ABCD01", views));
    if (ok) { EXPECT_EQ(want, views); }
  }
  for (auto [answer, sg] : {std::pair{"Masking View Name : mv1\nPort Group Name : pg1\n"
                                      "Storage Group Name : sg_a\nStorage Group Name : sg_b\n"
                                      "   Parent Storage Group Name: psg\n", "sg_b"},
                            {"nothing useful", ""}}) {
    Reset();
    Answer(Cmd("symaccess", "list view -name mv1 -v"), answer);
    VMAXMaskViewInfo info;
    EXPECT_EQ(*sg != 0, api_.MaskViewInfoByName(kSid, "mv1", info)) << answer;
    if (*sg) {
      EXPECT_EQ("pg1", info.portGroup);
      EXPECT_EQ(sg, info.storageGroup);
    }
  }
}

// WWPNs compare without case, colons or blanks; view names exactly. Without
// an allowed initiator there is no view: the operator is told what to add.
TEST_F(ArrayTest, AllowLists) {
  config_.allowWWPNs = {"50:00:09:73:F0:0A:B1:04"};
  config_.allowMaskingViews = {"MV_Host1"};
  Reinit();
  EXPECT_TRUE(api_.IsAllowedWWPN("50000973f00ab104"));
  EXPECT_TRUE(api_.IsAllowedWWPN("50 00 09 73 f0 0a b1 04"));
  EXPECT_FALSE(api_.IsAllowedWWPN("500009730f0ab104"));
  EXPECT_TRUE(api_.IsAllowedMaskingView("MV_Host1"));
  EXPECT_FALSE(api_.IsAllowedMaskingView("mv_host1"));
  std::unordered_map<std::string, std::unordered_set<std::string>> out;
  EXPECT_FALSE(api_.GetSGListByHBA(kSid, {}, out));
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
    Reset();
    Reinit();
    Expect(kSgList, "-----\nsg 0 ....\nLegend:\n");
    Expect(kInitiator, "Masking View Names\n{\n mv_a\n mv_b\n}\n");
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
