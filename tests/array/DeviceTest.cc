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
         "---------------------------- ------- "
         "-------------------------------------\n"
         "                                                                "
         "     Cap\n"
         "Sym   Physical               SA :P   Config        Attribute    Sts "
         " (Cyl)\n"
         "---------------------------- ------- "
         "-------------------------------------\n\n" +
         rows;
}

const char* kLinkedList =
    "\nSymmetrix ID              : 000197900123\n\n"
    "-----------------------------------------------------------------\n"
    "Sym   Link  Snapshot                 Flgs\n"
    "Dev   Dev   Name              Gen    FCMD  Snapshot Timestamp\n"
    "----- ----- ----------------- ---- ------ ------------------------\n"
    "A4    000A1 snapA                0 .D.X   Wed Jun  3 10:00:00 2020\n"
    "\nFlgs:\n  (F)ailed : X = Failed\n";

class FreeDevices : public ArrayTest {
 protected:
  void Script(const std::string& linked, int linkedExit,
              const std::string& cyl) {
    Expect(Cmd("symsnapvx", "list -linked -by_tgt"), "", linkedExit, linked);
    Expect(Cmd("symdev", "list -sg tgt_sg -noport -tdev"),
           CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                      "000A5 /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                      "00A6  Not Visible ***:*** TDEV N/Grp'd RW 1093\n"));
    Expect(Cmd("symdev", "list -sg tgt_sg -tdev -cyl"), cyl);
  }
};

TEST_F(FreeDevices, FreeMeansInGroupUnlinkedAndUnmapped) {
  Script(kLinkedList, 0,
         CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                    "A5    /dev/sdc    1D:4    TDEV N/Grp'd RW 2186\n"
                    "000A6 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                    "000A7 /dev/sdd    1D:4    TDEV N/Grp'd RW 4372\n"));
  std::list<VMAXLun> luns;
  ASSERT_TRUE(api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns));
  ASSERT_EQ(2u, luns.size());
  EXPECT_EQ("000A5", luns.front().deviceId);
  EXPECT_EQ(2186u, luns.front().cylinders);
  EXPECT_EQ(kSid, luns.front().sid);
  EXPECT_EQ("000A6", luns.back().deviceId);
  EXPECT_EQ(1093u, luns.back().cylinders);
}

TEST_F(FreeDevices, FreshArrayWithNothingLinked) {
  for (const char* answer : {"do not have any Snapvx information",
                             "No link target was found"}) {
    env_.scripts.clear();
    Script(answer, 1,
           CylListing("000A4 Not Visible ***:*** TDEV N/Grp'd RW 1093\n"));
    std::list<VMAXLun> luns;
    ASSERT_TRUE(api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns)) << answer;
    ASSERT_EQ(1u, luns.size());
    EXPECT_EQ("000A4", luns.front().deviceId);
  }
}

TEST_F(FreeDevices, FailedSubListingFails) {
  Script("Symmetrix is locked", 1, CylListing(""));
  std::list<VMAXLun> luns;
  EXPECT_FALSE(api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns));
  EXPECT_TRUE(si_.hasLog("no linked devs found on array"));
  EXPECT_EQ(1u, env_.runs.size());
  EXPECT_FALSE(api_.GetFreeTDEVListBySG(kSid, "", luns));
  EXPECT_TRUE(si_.hasLog("Invalid parameters. VMAX [000197900123] SG []"));
}

TEST_F(FreeDevices, OlderLayoutFailsInsteadOfGivingWrongSizes) {
  // Older arrays: four-digit numbers, DA:IT column, "2-Way Mir" configs.
  env_.scripts.clear();
  Expect(Cmd("symsnapvx", "list -linked -by_tgt"), "", 1,
         "do not have any Snapvx information");
  Expect(Cmd("symdev", "list -sg tgt_sg -noport -tdev"),
         ReadSample("symdev_list_range__1.txt"));
  Expect(Cmd("symdev", "list -sg tgt_sg -tdev -cyl"),
         ReadSample("symdev_list_range__1.txt"));
  std::list<VMAXLun> luns;
  EXPECT_FALSE(api_.GetFreeTDEVListBySG(kSid, "tgt_sg", luns));
  EXPECT_TRUE(luns.empty());
  EXPECT_TRUE(si_.hasLogContaining("the listing layout is not supported"));
}

TEST_F(ArrayTest, LinkedListing) {
  const std::string cmd = Cmd("symsnapvx", "list -linked -by_tgt");
  Expect(cmd, kLinkedList);
  std::unordered_set<std::string> devs;
  ASSERT_TRUE(api_.GetDevListLinked(kSid, devs));
  EXPECT_EQ((std::unordered_set<std::string>{"000A4"}), devs);
  env_.scripts.clear();
  Expect(cmd, "000A4 000A1 snapA\n");
  EXPECT_FALSE(api_.GetDevListLinked(kSid, devs));
  EXPECT_TRUE(si_.hasLog(
      "Failed to parse SYMCLI command output, format seems to have changed."));
  EXPECT_FALSE(api_.GetDevListLinked("", devs));
}

TEST_F(ArrayTest, DeviceListsOfSamples) {
  Expect(Cmd("symdev", "list -sg sg1 -noport -tdev"),
         ReadSample("symdev_list_noport__1.txt"));
  std::unordered_set<std::string> devs;
  ASSERT_TRUE(api_.GetDevListUnmapped(kSid, "sg1", devs));
  EXPECT_EQ((std::unordered_set<std::string>{"003F6", "00510", "00511",
                                             "00512", "00513", "00514",
                                             "0051A", "0051B"}),
            devs);

  Expect(Cmd("symdev", "list -sg sg2"), ReadSample("symdev_list_range__2.txt"));
  devs.clear();
  ASSERT_TRUE(api_.GetDevListBySG(kSid, "sg2", devs));
  EXPECT_EQ((std::unordered_set<std::string>{"01E37", "01E38", "01E39"}), devs);

  Expect(Cmd("symdev", "list -sg sg3"), ReadSample("symdev_list_r1__1.txt"));
  devs.clear();
  ASSERT_TRUE(api_.GetDevListBySG(kSid, "sg3", devs));
  EXPECT_EQ((std::unordered_set<std::string>{"00DDA", "00DDB", "00DDC"}), devs);

  Expect(Cmd("symdev", "list -sg gone"), "", 1, "not found");
  EXPECT_FALSE(api_.GetDevListBySG(kSid, "gone", devs));
  EXPECT_TRUE(si_.hasLog("Storage group [gone] not found on array"));
}

// The first mount into an empty mount group and a target group without any
// free device: the tool's "no devices" answer is an empty listing.
TEST_F(ArrayTest, EmptyGroupListsNoDevicesInsteadOfFailing) {
  const std::string none =
      "\nNo Symmetrix devices were found that match the specified criteria\n";
  Expect(Cmd("symdev", "list -sg empty_sg"), "", 1, none);
  std::unordered_set<std::string> devs;
  EXPECT_TRUE(api_.GetDevListBySG(kSid, "empty_sg", devs));
  EXPECT_TRUE(devs.empty());

  Expect(Cmd("symsnapvx", "list -linked -by_tgt"), "", 1,
         "\nNo link target was found for the specified device(s)\n");
  Expect(Cmd("symdev", "list -sg tgt_empty -noport -tdev"), "", 1, none);
  Expect(Cmd("symdev", "list -sg tgt_empty -tdev -cyl"), "", 1, none);
  std::list<VMAXLun> luns;
  EXPECT_TRUE(api_.GetFreeTDEVListBySG(kSid, "tgt_empty", luns));
  EXPECT_TRUE(luns.empty());

  // Any other failure still fails.
  Expect(Cmd("symdev", "list -sg tgt_gone -noport -tdev"), "", 1,
         "The specified Storage Group was not found");
  EXPECT_FALSE(api_.GetFreeTDEVListBySG(kSid, "tgt_gone", luns));
}

TEST_F(ArrayTest, DevicePropertiesOfSnapvxListing) {
  Expect(Cmd("symdev", "list -devs 1A,1B -cyl"),
         CylListing("0001A Not Visible ***:*** TDEV N/Grp'd RW 1093\n"
                    "0001B /dev/sdb    1D:4    TDEV N/Grp'd RW 546\n"));
  std::unordered_map<std::string, VMAXLun> props;
  ASSERT_TRUE(api_.GetDevProps(kSid, {"1A", "1B"}, props));
  ASSERT_EQ(2u, props.size());
  EXPECT_EQ(1093u, props["0001A"].cylinders);
  EXPECT_EQ(546u, props["0001B"].cylinders);
  EXPECT_EQ("0001B", props["0001B"].deviceId);
  EXPECT_EQ(1u, env_.runs.size());

  Expect(Cmd("symdev", "list -devs 1B -cyl"),
         CylListing("0001B /dev/sdb    1D:4    TDEV N/Grp'd RW 546\n"));
  VMAXLun lun;
  ASSERT_TRUE(api_.GetDevProps(kSid, "1B", lun));
  EXPECT_EQ("1B", lun.deviceId);
  EXPECT_EQ(546u, lun.cylinders);
  EXPECT_EQ(kSid, lun.sid);

  Expect(Cmd("symdev", "list -devs 1C -cyl"), "", 1);
  EXPECT_FALSE(api_.GetDevProps(kSid, "1C", lun));
}

TEST_F(ArrayTest, DevicePropertiesRefuseOlderLayouts) {
  for (const char* sample :
       {"symdev_list_range__1.txt", "symdev_list_range__2.txt",
        "symdev_list_noport__1.txt", "symdev_list_r1__1.txt"}) {
    env_.scripts.clear();
    Expect(Cmd("symdev", "list -devs 0B59 -cyl"), ReadSample(sample));
    std::unordered_map<std::string, VMAXLun> props;
    EXPECT_FALSE(api_.GetDevProps(kSid, {"0B59"}, props)) << sample;
    EXPECT_TRUE(props.empty()) << sample;
    VMAXLun lun;
    lun.cylinders = 77;
    EXPECT_FALSE(api_.GetDevProps(kSid, "0B59", lun)) << sample;
    EXPECT_EQ(77u, lun.cylinders) << sample;
  }
  // A size that only starts with digits is no size.
  env_.scripts.clear();
  Expect(Cmd("symdev", "list -devs 1A -cyl"),
         CylListing("0001A /dev/sdb 1D:4 TDEV N/Grp'd RW 2-Way\n"));
  std::unordered_map<std::string, VMAXLun> props;
  EXPECT_FALSE(api_.GetDevProps(kSid, {"1A"}, props));
}

}  // namespace
}  // namespace arraytest

namespace arraytest {
namespace {

// The free-device parse answers exactly as the string sets do, also for
// members and devices that are not five-digit canonical numbers.
TEST(FreeDeviceParse, MembershipMatchesTheSetsExactly) {
  const std::string listing =
      "Sym Physical SA:P Config Attribute Sts Cap\n-----\n"
      "000A5 /dev/sda 1D:4 TDEV N/Grp'd RW 100\n"
      "100000 /dev/sdb 1D:4 TDEV N/Grp'd RW 200\n"
      "000A7 /dev/sdc 1D:4 TDEV N/Grp'd RW 300\n"
      "000A8 /dev/sdd 1D:4 TDEV N/Grp'd RW 400\n";
  // "A5" is not canonical, so it does not name 000A5.
  std::unordered_set<std::string> unmapped{"A5", "100000", "000A7", "000A8"};
  std::unordered_set<std::string> linked{"000A8"};
  std::list<VMAXLun> luns;
  std::string badLine, badField;
  ASSERT_TRUE(symcli::ParseFreeDevices(listing, kSid, linked, unmapped, luns,
                                       badLine, badField));
  ASSERT_EQ(2u, luns.size());
  EXPECT_EQ("100000", luns.front().deviceId);
  EXPECT_EQ(200u, luns.front().cylinders);
  EXPECT_EQ("000A7", luns.back().deviceId);
}

TEST(FreeDeviceParse, BadSizeNamesTheLineAndAddsNothing) {
  const std::string listing =
      "-----\n000A5 /dev/sda 1D:4 TDEV N/Grp'd RW 100\n"
      "000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB\n";
  std::unordered_set<std::string> unmapped{"000A5", "000A6"}, linked;
  std::list<VMAXLun> luns;
  std::string badLine, badField;
  EXPECT_FALSE(symcli::ParseFreeDevices(listing, kSid, linked, unmapped, luns,
                                        badLine, badField));
  EXPECT_TRUE(luns.empty());
  EXPECT_EQ("12GB", badField);
  EXPECT_EQ("000A6 /dev/sdb 1D:4 TDEV N/Grp'd RW 12GB", badLine);
}

}  // namespace
}  // namespace arraytest
