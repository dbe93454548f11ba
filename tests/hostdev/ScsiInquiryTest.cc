// SCSI inquiry identification over scripted devices of the fake host.
#include <gtest/gtest.h>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/hostdev/InquiryData.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using inquiry_data::Page83;
using inquiry_data::Page83ForSerial;
using inquiry_data::Standard;
using testing_host::FakeEnv;
using testing_host::FakeScsiDevice;
using testing_host::FakeSnapInfo;

namespace {

class ScsiInquiryTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  std::string vendor, product, dev;
  std::vector<std::string> ids;

  void AddDevice(const std::string& path, const std::string& devChars,
                 const std::string& serial,
                 const std::string& productName = "SYMMETRIX       ") {
    FakeScsiDevice d;
    d.standard = Standard("EMC     ", productName, devChars);
    d.page83 = Page83ForSerial(serial);
    env.scsi[path] = d;
  }
  bool Inquire(const std::string& spec) {
    return getDeviceInfoBySCSIInquiry(spec, vendor, product, ids, dev);
  }
};

TEST_F(ScsiInquiryTest, ReadsVendorProductDeviceAndBothSerialPositions) {
  FakeScsiDevice d;
  d.standard = Standard("EMC     ", "SYMMETRIX       ", "0A1B");
  d.page83 = Page83({0x60, 0x00, 0x09, 0x70, 0x00, 0x01, 0x97, 0x80, 0x01, 0x23});
  env.scsi["/dev/sdb"] = d;
  ASSERT_TRUE(Inquire("/dev/sdb"));
  EXPECT_EQ("EMC     ", vendor);
  EXPECT_EQ("SYMMETRIX       ", product);
  EXPECT_EQ("00A1B", dev);
  ASSERT_EQ(2u, ids.size());
  EXPECT_EQ("000197800123", ids[0]);  // symm4 first
  EXPECT_EQ("600009700001", ids[1]);
}

TEST_F(ScsiInquiryTest, SendsStandardThenDeviceIdentificationCdb) {
  AddDevice("/dev/sdb", "0001", "000197800123");
  ASSERT_TRUE(Inquire("/dev/sdb"));
  const auto& cdbs = env.scsi["/dev/sdb"].cdbs;
  ASSERT_EQ(2u, cdbs.size());
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}), cdbs[0]);
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}), cdbs[1]);
}

TEST_F(ScsiInquiryTest, ShortAnswersReadZeroesNotStaleData) {
  // The page of the first device must not leak into the short answer of
  // the second.
  AddDevice("/dev/sdb", "0A1B", "000197800123");
  FakeScsiDevice shortDev;
  shortDev.standard = Standard("EMC     ", "SYMMETRIX       ", "");
  shortDev.standard.resize(36);
  shortDev.page83 = {0x00, 0x83, 0x00, 0x00};
  env.scsi["/dev/sdc"] = shortDev;
  ASSERT_TRUE(Inquire("/dev/sdb"));
  ASSERT_TRUE(Inquire("/dev/sdc"));
  EXPECT_EQ("00000", dev);
  EXPECT_EQ((std::vector<std::string>{"000000000000", "000000000000"}), ids);
}

TEST_F(ScsiInquiryTest, HostFailuresEndWithFalseAndOneErrorLine) {
  EXPECT_FALSE(Inquire("/dev/missing"));
  EXPECT_TRUE(env.hasLogContaining("PzDeviceTree::getDevice exception caught :"));

  FakeScsiDevice notScsi;
  notScsi.scsi = false;
  env.scsi["/dev/nvme0"] = notScsi;
  EXPECT_FALSE(Inquire("/dev/nvme0"));
  EXPECT_TRUE(env.hasLogContaining("'/dev/nvme0' is not SCSI device"));

  AddDevice("/dev/sdd", "0001", "000197800123");
  env.scsi["/dev/sdd"].failStandard = true;
  EXPECT_FALSE(Inquire("/dev/sdd"));
  EXPECT_TRUE(env.hasLogContaining(
      "Fail to send scsi inquiry cdb, caught exception:simulated SCSI failure"));

  env.scsi["/dev/sdd"].failStandard = false;
  env.scsi["/dev/sdd"].failPage = true;
  EXPECT_FALSE(Inquire("/dev/sdd"));
  // Values read before the failure stay.
  EXPECT_EQ("EMC     ", vendor);
}

TEST_F(ScsiInquiryTest, CorrectiveArrayIdReplacesFirstMatchingCandidate) {
  AddDevice("/dev/sdb", "0001", "000197800123");
  env.Set("~Fieldunit", "sSymmCorrectiveArrayID", "000197800123:000197800999");
  ASSERT_TRUE(Inquire("/dev/sdb"));
  ASSERT_EQ(2u, ids.size());
  EXPECT_EQ("000197800999", ids[0]);

  env.Set("~Fieldunit", "sSymmCorrectiveArrayID", "000197800123");
  ASSERT_TRUE(Inquire("/dev/sdb"));
  EXPECT_EQ("000197800123", ids[0]);
}

TEST_F(ScsiInquiryTest, VMwareModeReadsHandedOverDataAndLunUuid) {
  std::vector<uint8_t> std = Standard("EMC     ", "SYMMETRIX       ", "0A1B");
  const uint8_t s3[] = {0x00, 0x01, 0x97, 0x80, 0x01, 0x11};
  const uint8_t s4[] = {0x00, 0x01, 0x97, 0x80, 0x01, 0x23};
  for (int i = 0; i < 6; ++i) {
    std[115 + i] = s3[i];
    std[123 + i] = s4[i];
  }
  std::string spec = "{idatype:vmware,standardinqury:" + inquiry_data::Hex(std) +
                     ",lunuuid:020000000060000970000197800555533030}";
  ASSERT_TRUE(Inquire(spec));
  EXPECT_EQ("00A1B", dev);
  EXPECT_EQ((std::vector<std::string>{"000197800123", "000197800111", "000197800555"}),
            ids);
  // The text is not a path: no device lookup was tried.
  EXPECT_FALSE(env.hasLogContaining("PzDeviceTree::getDevice"));
}

TEST_F(ScsiInquiryTest, VMwareModeWithoutDataGivesZeroDigits) {
  ASSERT_TRUE(Inquire("{idatype:vmware}"));
  EXPECT_EQ("00000", dev);
  EXPECT_EQ((std::vector<std::string>{"000000000000", "000000000000"}), ids);
}

TEST_F(ScsiInquiryTest, RealSymmetrixStandardInquiryAndPages) {
  const std::string dir = std::string(PZ_SHARED_DIR) + "/scsi-samples/";
  FakeScsiDevice d;
  d.standard = inquiry_data::ReadHexSample(dir + "sg3utils_inq_emc_symm__1.txt");
  ASSERT_EQ(40u, d.standard.size());
  d.page83 = inquiry_data::ReadHexSample(dir + "sg3utils_vpd83_old_emc_symm__1.txt");
  ASSERT_EQ(20u, d.page83.size());
  env.scsi["/dev/old"] = d;
  ASSERT_TRUE(Inquire("/dev/old"));
  EXPECT_EQ("EMC     ", vendor);
  EXPECT_EQ("SYMMETRIX       ", product);
  EXPECT_EQ("00000", dev);  // the 40 bytes do not reach the device number
  // Older layout: the identifier sits at byte 8 directly.
  EXPECT_EQ((std::vector<std::string>{"789abcdef012", "00123456789a"}), ids);

  d.page83 = inquiry_data::ReadHexSample(dir + "sg3utils_vpd83_old_emc_symm__1.txt", true);
  ASSERT_EQ(24u, d.page83.size());
  env.scsi["/dev/dmx"] = d;
  ASSERT_TRUE(Inquire("/dev/dmx"));
  // SPC layout: the 12-digit serial in bytes 12 to 17.
  EXPECT_EQ((std::vector<std::string>{"000190103189", "600604800001"}), ids);
}

TEST_F(ScsiInquiryTest, GetDeviceInfoAcceptsOnlyEmcSymmetrix) {
  FakeSnapInfo si;
  std::string symDev;
  std::vector<std::string> arrayIds;
  AddDevice("/dev/sdb", "0A1B", "000197800123");
  EXPECT_TRUE(getDeviceInfo(&si, "/dev/sdb", symDev, arrayIds));
  EXPECT_EQ("00A1B", symDev);
  EXPECT_EQ("000197800123", arrayIds.at(0));

  AddDevice("/dev/sdc", "0A1B", "000197800123", "VRAID           ");
  EXPECT_FALSE(getDeviceInfo(&si, "/dev/sdc", symDev, arrayIds));
  EXPECT_TRUE(si.hasLog(
      "Device [/dev/sdc] does not belong to VMAX, found Vendor [EMC     ], "
      "Product [VRAID           ]"));

  EXPECT_FALSE(getDeviceInfo(&si, "/dev/none", symDev, arrayIds));
  EXPECT_TRUE(si.hasLog("Failed to get array information from device path [/dev/none]"));
}

TEST_F(ScsiInquiryTest, VerifyChecksProductArrayAndDevice) {
  FakeSnapInfo si;
  AddDevice("/dev/sdb", "0A1B", "000197800123");
  EXPECT_TRUE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800123", "A1B"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800999", "00A1B"));
  EXPECT_TRUE(si.hasLogContaining("Found SymmId [000197800123]"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800123", "00A1C"));
  EXPECT_TRUE(si.hasLog(
      "SCSI Inquiry revealed different device at path [/dev/sdb] - Expected "
      "[00A1C] Found [EMC     , SYMMETRIX       , 00A1B]"));
  AddDevice("/dev/sdc", "0A1B", "000197800123", "VRAID");
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdc", "000197800123", "00A1B"));
  EXPECT_TRUE(si.hasLogContaining("Found Product Name [VRAID]"));
}

}  // namespace
