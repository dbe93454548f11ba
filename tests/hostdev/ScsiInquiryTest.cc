// SCSI inquiry identification over scripted devices of the fake host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

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

// Standard inquiry, then the Device Identification page; the serial of the
// logical unit's NAA designator, the older layout's candidate stays empty.
TEST_F(ScsiInquiryTest, ReadsVendorProductDeviceAndBothSerialPositions) {
  FakeScsiDevice d;
  d.standard = Standard("EMC     ", "SYMMETRIX       ", "0A1B");
  d.page83 = Page83({0x60, 0x00, 0x09, 0x70, 0x00, 0x01, 0x97, 0x80, 0x01, 0x23});
  env.scsi["/dev/sdb"] = d;
  ASSERT_TRUE(Inquire("/dev/sdb"));
  EXPECT_EQ("EMC     ", vendor);
  EXPECT_EQ("SYMMETRIX       ", product);
  EXPECT_EQ("00A1B", dev);
  EXPECT_EQ((std::vector<std::string>{"000197800123", ""}), ids);
  const auto& cdbs = env.scsi["/dev/sdb"].cdbs;
  ASSERT_EQ(2u, cdbs.size());
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}), cdbs[0]);
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}), cdbs[1]);
}

TEST_F(ScsiInquiryTest, ShortAnswersGiveNoStaleData) {
  // The page of the first device must not leak into the short answer of
  // the second, which names no device.
  AddDevice("/dev/sdb", "0A1B", "000197800123");
  FakeScsiDevice shortDev;
  shortDev.standard = Standard("EMC     ", "SYMMETRIX       ", "");
  shortDev.standard.resize(36);
  shortDev.page83 = {0x00, 0x83, 0x00, 0x00};
  env.scsi["/dev/sdc"] = shortDev;
  ASSERT_TRUE(Inquire("/dev/sdb"));
  ASSERT_TRUE(Inquire("/dev/sdc"));
  EXPECT_EQ("00000", dev);
  EXPECT_EQ((std::vector<std::string>{"", ""}), ids);
}

TEST_F(ScsiInquiryTest, HostFailuresEndWithFalseAndOneErrorLine) {
  EXPECT_FALSE(Inquire("/dev/missing"));

  FakeScsiDevice notScsi;
  notScsi.scsi = false;
  env.scsi["/dev/nvme0"] = notScsi;
  EXPECT_FALSE(Inquire("/dev/nvme0"));

  AddDevice("/dev/sdd", "0001", "000197800123");
  env.scsi["/dev/sdd"].failStandard = true;
  EXPECT_FALSE(Inquire("/dev/sdd"));

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

TEST_F(ScsiInquiryTest, VMwareModeWithoutDataGivesNoIdentifiers) {
  ASSERT_TRUE(Inquire("{idatype:vmware}"));
  EXPECT_EQ("00000", dev);
  EXPECT_EQ((std::vector<std::string>{"", ""}), ids);
  // A short standard answer: the device number from the LUN UUID's device
  // identifier, the serial from the UUID.
  std::vector<uint8_t> std = Standard("EMC     ", "SYMMETRIX       ", "");
  std.resize(36);
  std[4] = 31;
  ASSERT_TRUE(Inquire("{idatype:vmware,standardinqury:" + inquiry_data::Hex(std) +
                      ",lunuuid:02000000006000097000019780055553303041314253594d4d4554}"));
  EXPECT_EQ("00A1B", dev);
  EXPECT_EQ((std::vector<std::string>{"", "", "000197800555"}), ids);
}

// Every published identification sample: the real 36-byte standard answer
// (40 bytes on file, claiming 36), the older and the SPC page, and the
// device WWNs published with the serial and device number they name, each
// as the LU designator of an SPC page behind the short standard answer.
TEST_F(ScsiInquiryTest, PublishedSamples) {
  const std::string dir = std::string(PZ_SHARED_DIR) + "/scsi-samples/";
  std::vector<uint8_t> standard =
      inquiry_data::ReadHexSample(dir + "sg3utils_inq_emc_symm__1.txt");
  ASSERT_EQ(40u, standard.size());
  std::vector<uint8_t> oldPage =
      inquiry_data::ReadHexSample(dir + "sg3utils_vpd83_old_emc_symm__1.txt");
  std::vector<uint8_t> dmxPage =
      inquiry_data::ReadHexSample(dir + "sg3utils_vpd83_old_emc_symm__1.txt", true);
  ASSERT_EQ(20u, oldPage.size());
  ASSERT_EQ(24u, dmxPage.size());
  struct Case {
    const char* name;
    std::vector<uint8_t> page;
    std::vector<std::string> ids;
    std::string dev, devSource;
  };
  std::vector<Case> cases = {
      // The placeholder identifier has no "S" tail: no device number.
      {"older layout", oldPage, {"", "00123456789a"}, "00000", "nowhere"},
      {"SPC layout", dmxPage, {"000190103189", ""}, "00484", "the device identifier"},
  };
  // The WWN samples, with the serial and device their texts name.
  struct Wwn {
    const char* file;
    const char* serial;
    const char* dev;
  } wwns[] = {{"cinder_vmax_multipath_ll__1.txt", "000196700531", "00809"},
              {"devicewwn_naa6_decode__2.txt", "000292605199", "008F8"},
              {"symdev_show_wwn__1.txt", "000292601446", "03377"}};
  for (const Wwn& w : wwns) {
    std::ifstream in(dir + w.file);
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    std::string content = text.str();
    ASSERT_TRUE(std::regex_search(content, m, std::regex("6000097[0-9a-fA-F]{25}"))) << w.file;
    std::vector<uint8_t> naa;
    for (size_t i = 0; i < 32; i += 2) naa.push_back(uint8_t(std::stoi(m.str().substr(i, 2), nullptr, 16)));
    cases.push_back({w.file, Page83(naa), {w.serial, ""}, w.dev, "the device identifier"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeScsiDevice d;
    d.standard = standard;
    d.page83 = c.page;
    env.scsi["/dev/s"] = d;
    env.logs.clear();
    ASSERT_TRUE(Inquire("/dev/s"));
    EXPECT_EQ("EMC     ", vendor);
    EXPECT_EQ("SYMMETRIX       ", product);
    EXPECT_EQ(c.ids, ids);
    EXPECT_EQ(c.dev, dev);
    EXPECT_TRUE(env.hasLogContaining("Device number [" + c.dev + "] from " + c.devSource));
    // The four blanks past the claimed 36 bytes are not read.
    EXPECT_TRUE(env.hasLogContaining("microcode [5876] from the product revision (36 valid"));
  }
}

// The parsers read nothing past the bytes they are given: each answer sits
// in a buffer of exactly its length (the sanitizer pass catches any read
// past it), and a truncated or foreign answer gives no identifiers.
TEST(InquiryParsers, ReadOnlyTheValidBytes) {
  auto exact = [](const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> buf(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), buf.get());
    return buf;
  };
  std::vector<uint8_t> shortStd = Standard("EMC     ", "SYMMETRIX       ", "");
  shortStd.resize(36);
  shortStd[4] = 31;
  memcpy(&shortStd[32], "5978", 4);
  for (size_t n : {size_t(0), size_t(3), size_t(12), size_t(36)}) {
    std::vector<uint8_t> cut(shortStd.begin(), shortStd.begin() + n);
    StandardInquiryInfo info;
    parseStandardInquiry(exact(cut).get(), n, info);
    EXPECT_EQ(n < 5 ? n : std::min<size_t>(n, 36), info.validLength) << n;
    EXPECT_FALSE(info.vendorArea);
    EXPECT_TRUE(info.symDev.empty());
    EXPECT_EQ(n == 36 ? "5978" : "", info.microcode) << n;
    EXPECT_EQ(n >= 12 ? "EMC " : "", info.vendor.substr(0, n >= 12 ? 4 : 0)) << n;
  }
  // A long answer that claims only 36 bytes is read as 36.
  std::vector<uint8_t> claims36 = Standard("EMC     ", "SYMMETRIX       ", "0A1B");
  claims36[4] = 31;
  StandardInquiryInfo info;
  parseStandardInquiry(exact(claims36).get(), claims36.size(), info);
  EXPECT_EQ(36u, info.validLength);
  EXPECT_TRUE(info.symDev.empty());

  const std::vector<uint8_t> good = inquiry_data::Page83ForSerial("000197800123");
  // The good page with byte `at` set to `value`.
  auto changed = [&good](size_t at, uint8_t value) {
    std::vector<uint8_t> p = good;
    p[at] = value;
    return p;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> page;
    size_t returned;
  } bad[] = {
      {"cut designator", good, good.size() - 1},
      {"page length shorter than the designator", changed(3, 10), good.size()},
      {"unit serial number page code", changed(1, 0x80), good.size()},
      {"other OUI", Page83({0x60, 0x0a, 0x09, 0x80, 0x00, 0x01, 0x97, 0x80, 0x01, 0x23}),
       good.size()},
      {"port association", changed(5, 0x13), good.size()},
      {"ASCII code set", changed(4, 0x02), good.size()},
      {"header only", {0x00, 0x83, 0x00, 0x00}, 4},
      {"three bytes", {0x00, 0x83, 0x00}, 3},
  };
  for (const Case& c : bad) {
    std::vector<uint8_t> cut(c.page.begin(), c.page.begin() + c.returned);
    DeviceIdPageInfo page;
    parseDeviceIdPage(exact(cut).get(), cut.size(), page);
    EXPECT_TRUE(page.symm4.empty() && page.symm3.empty() && page.device.empty()) << c.name;
  }
  DeviceIdPageInfo page;
  parseDeviceIdPage(exact(good).get(), good.size(), page);
  EXPECT_EQ("000197800123", page.symm4);
}

// Only EMC SYMMETRIX devices count; verify checks array and device too.
TEST_F(ScsiInquiryTest, GetAndVerifyAcceptOnlyEmcSymmetrix) {
  FakeSnapInfo si;
  std::string symDev;
  std::vector<std::string> arrayIds;
  AddDevice("/dev/sdb", "0A1B", "000197800123");
  AddDevice("/dev/sdc", "0A1B", "000197800123", "VRAID           ");
  EXPECT_TRUE(getDeviceInfo(&si, "/dev/sdb", symDev, arrayIds));
  EXPECT_EQ("00A1B", symDev);
  EXPECT_EQ("000197800123", arrayIds.at(0));
  EXPECT_FALSE(getDeviceInfo(&si, "/dev/sdc", symDev, arrayIds));
  EXPECT_FALSE(getDeviceInfo(&si, "/dev/none", symDev, arrayIds));

  EXPECT_TRUE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800123", "A1B"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800999", "00A1B"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800123", "00A1C"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdc", "000197800123", "00A1B"));
}

}  // namespace
