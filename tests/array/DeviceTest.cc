#include "array/DeviceListing.h"
#include "tests/array/ArrayFixture.h"

namespace arraytest {
namespace {

std::string Cmd(const char* tool, const std::string& args) {
  return Tool(tool) + " -sid " + kSid + " " + args;
}

// "symdev list ... -cyl" as an array that runs SnapVX prints it: five-digit
// device numbers, no DA:IT column, capacity last.
std::string CylListing(const std::string& rows) {
  return "\nSymmetrix ID: 000197900123\n\n"
         "        Device Name          Dir                  Device\n"
         "---------------------------- ------- -------------------------------------\n"
         "                                                                     Cap\n"
         "Sym   Physical               SA :P   Config        Attribute    Sts  (Cyl)\n"
         "---------------------------- ------- -------------------------------------\n\n" +
         rows;
}
const char* kNone =
    "\nNo Symmetrix devices were found that match the specified criteria\n";

// Free = in the group, not linked and not mapped (000A5 is mapped, 000A4
// linked). Answers are output, or "!" and the error text of a failed run.
TEST_F(ArrayTest, FreeDevicesOfTargetGroup) {
  const std::string linked =
      "\nSymmetrix ID              : 000197900123\n\n"
      "-----------------------------------------------------------------\n"
      "Sym   Link  Snapshot                 Flgs\n"
      "Dev   Dev   Name              Gen    FCMD  Snapshot Timestamp\n"
      "----- ----- ----------------- ---- ------ ------------------------\n"
      "A4    000A1 snapA                0 .D.X   Wed Jun  3 10:00:00 2020\n"
      "\nFlgs:\n  (F)ailed : X = Failed\n";
  const std::string unmapped =
      CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                 "000A5 /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                 "00A6  Not Visible ***:*** TDEV N/Grp'd RW 1093\n");
  const std::string range = ReadSample("symdev_list_range__1.txt");
  const std::string none = "!" + ReadSample("msg_no_snapvx_information__1.txt");
  struct Case {
    const char* name;
    std::string linked, noport, cyl;
    bool ok;
    std::vector<std::pair<std::string, unsigned>> free;
  } cases[] = {
      {"linked and mapped left out", linked, unmapped,
       CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                  "A5    /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                  "000A6 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                  "000A7 /dev/sdd    1D:4    TDEV N/Grp'd RW 4372\n"),
       true, {{"000A5", 2186}, {"000A6", 1093}}},
      {"no snapvx information", none, unmapped,
       CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"), true, {{"000A4", 1093}}},
      {"linked list fails", "!Symmetrix is locked", unmapped, "", false, {}},
      {"linked list without ruler", "000A4 000A1 snapA\n", unmapped, "", false, {}},
      // Older arrays: four-digit numbers, DA:IT column, "2-Way Mir" configs.
      {"older layout", none, range, range, false, {}},
      {"empty group", none, std::string("!") + kNone, std::string("!") + kNone, true, {}},
      {"group gone", none, "!The specified Storage Group was not found",
       "!The specified Storage Group was not found", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_.scripts.clear();
    Answer(Cmd("symsnapvx", "list -linked -by_tgt"), c.linked);
    Answer(Cmd("symdev", "list -sg tgt_sg -noport -tdev"), c.noport);
    Answer(Cmd("symdev", "list -sg tgt_sg -tdev -cyl"), c.cyl);
    std::list<VMAXLun> luns;
    EXPECT_EQ(c.ok, api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns));
    std::vector<std::pair<std::string, unsigned>> got;
    for (const auto& l : luns) {
      got.emplace_back(l.deviceId, l.cylinders);
      EXPECT_EQ(kSid, l.sid);
    }
    EXPECT_EQ(c.free, got);
  }
  std::list<VMAXLun> luns;
  EXPECT_FALSE(api_.GetFreeTDEVListBySG(kSid, "", luns));
}

TEST_F(ArrayTest, DeviceListsOfSamples) {
  using Set = std::unordered_set<std::string>;
  struct Case {
    const char* sg;
    bool unmapped;
    std::string answer;
    bool ok;
    Set devs;
  } cases[] = {
      {"sg1", true, ReadSample("symdev_list_noport__1.txt"), true,
       {"003F6", "00510", "00511", "00512", "00513", "00514", "0051A", "0051B"}},
      {"sg2", false, ReadSample("symdev_list_range__2.txt"), true, {"01E37", "01E38", "01E39"}},
      {"sg3", false, ReadSample("symdev_list_r1__1.txt"), true, {"00DDA", "00DDB", "00DDC"}},
      {"gone", false, "!not found", false, {}},
      // The first mount into an empty group: "no devices" is an empty list.
      {"empty_sg", false, std::string("!") + kNone, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sg);
    Answer(Cmd("symdev", std::string("list -sg ") + c.sg + (c.unmapped ? " -noport -tdev" : "")),
           c.answer);
    Set devs;
    EXPECT_EQ(c.ok, c.unmapped ? api_.GetDevListUnmapped(kSid, c.sg, devs)
                               : api_.GetDevListBySG(kSid, c.sg, devs));
    if (c.ok) { EXPECT_EQ(c.devs, devs); }
  }
}

// Older layouts and a size that only starts with digits give no sizes.
TEST_F(ArrayTest, DevicePropertiesRefuseOlderLayouts) {
  for (std::string out :
       {ReadSample("symdev_list_range__1.txt"), ReadSample("symdev_list_range__2.txt"),
        ReadSample("symdev_list_noport__1.txt"), ReadSample("symdev_list_r1__1.txt"),
        CylListing("00B59 /dev/sdb 1D:4 TDEV N/Grp'd RW 2-Way\n")}) {
    env_.scripts.clear();
    Expect(Cmd("symdev", "list -devs 0B59 -cyl"), out);
    VMAXLun lun;
    lun.cylinders = 77;
    EXPECT_FALSE(api_.GetDevProps(kSid, "0B59", lun));
    EXPECT_EQ(77u, lun.cylinders);
  }
}

// Membership is exact: "A5" does not name 000A5; a bad size names its line.
TEST(FreeDeviceParse, MembershipIsExactAndBadSizeAddsNothing) {
  const std::string listing =
      "Sym Physical SA:P Config Attribute Sts Cap\n-----\n"
      "000A5 /dev/sda 1D:4 TDEV N/Grp'd RW 100\n"
      "100000 /dev/sdb 1D:4 TDEV N/Grp'd RW 200\n"
      "000A7 /dev/sdc 1D:4 TDEV N/Grp'd RW 300\n"
      "000A8 /dev/sdd 1D:4 TDEV N/Grp'd RW 400\n";
  std::unordered_set<std::string> unmapped{"A5", "100000", "000A7", "000A8"};
  std::list<VMAXLun> luns;
  std::string badLine, badField;
  ASSERT_TRUE(symcli::ParseFreeDevices(listing, kSid, {"000A8"}, unmapped, luns, badLine,
                                       badField));
  ASSERT_EQ(2u, luns.size());
  EXPECT_EQ("100000", luns.front().deviceId);
  EXPECT_EQ(200u, luns.front().cylinders);
  EXPECT_EQ("000A7", luns.back().deviceId);

  luns.clear();
  EXPECT_FALSE(symcli::ParseFreeDevices("-----\n000A5 /dev/sda 1D:4 TDEV N/Grp'd RW 100\n"
                                        "000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB\n",
                                        kSid, {}, {"000A5", "000A6"}, luns, badLine, badField));
  EXPECT_TRUE(luns.empty());
  EXPECT_EQ("12GB", badField);
  EXPECT_EQ("000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB", badLine);
}

}  // namespace
}  // namespace arraytest
