// SCSI inquiry identification over scripted devices of the fake host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/hostdev/InquiryData.h"
#include "tests/runtime/TempDir.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using inquiry_data::Page83;
using inquiry_data::Standard;
using testing_host::FakeScsiDevice;

namespace {

class ScsiInquiryTest : public ::testing::Test {
 protected:
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  std::string vendor, product, dev;
  std::vector<std::string> ids;

  bool Inquire(const std::string& spec) {
    return getDeviceInfoBySCSIInquiry(spec, vendor, product, ids, dev);
  }
  void Add(const char* path, const char* devChars, const char* productName = "SYMMETRIX       ") {
    env.scsi[path] = FakeScsiDevice{true, Standard("EMC     ", productName, devChars),
                                    inquiry_data::Page83ForSerial("000197800123")};
  }
};

// Every published identification sample: the real 36-byte standard answer
// (40 bytes on file, claiming 36), the older and the SPC page, and the
// device WWNs published with the serial and device number they name, each
// as the LU designator of an SPC page behind the short standard answer.
TEST_F(ScsiInquiryTest, PublishedSamples) {
  const std::string dir = std::string(PZ_SHARED_DIR) + "/scsi-samples/";
  std::vector<uint8_t> standard =
      inquiry_data::ReadHexSample(dir + "sg3utils_inq_emc_symm__1.txt");
  ASSERT_EQ(40u, standard.size());
  auto check = [&](const std::string& name, const std::vector<uint8_t>& page,
                   const std::vector<std::string>& wantIds, const char* wantDev) {
    SCOPED_TRACE(name);
    env.scsi["/dev/s"] = FakeScsiDevice{true, standard, page};
    ASSERT_TRUE(Inquire("/dev/s"));
    EXPECT_EQ("EMC     ", vendor);
    EXPECT_EQ("SYMMETRIX       ", product);
    EXPECT_EQ(wantIds, ids);
    EXPECT_EQ(wantDev, dev);
  };
  const std::string old = dir + "sg3utils_vpd83_old_emc_symm__1.txt";
  // The placeholder identifier has no "S" tail: no device number.
  check("older layout", inquiry_data::ReadHexSample(old), {"", "00123456789a"}, "00000");
  check("SPC layout", inquiry_data::ReadHexSample(old, true), {"000190103189", ""}, "00484");
  for (auto [file, serial, devNo] : {std::tuple{"cinder_vmax_multipath_ll__1.txt",
                                                "000196700531", "00809"},
                                     {"devicewwn_naa6_decode__2.txt", "000292605199", "008F8"},
                                     {"symdev_show_wwn__1.txt", "000292601446", "03377"}}) {
    const std::string text = runtime_test::ReadFile(dir + file);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("6000097[0-9a-fA-F]{25}"))) << file;
    std::vector<uint8_t> naa;
    for (size_t i = 0; i < 32; i += 2)
      naa.push_back(uint8_t(std::stoi(m.str().substr(i, 2), nullptr, 16)));
    check(file, Page83(naa), {serial, ""}, devNo);
  }
}

// The page of the first device must not leak into the short answer of the
// second, which names no device; host failures give false, keeping what was read.
TEST_F(ScsiInquiryTest, ShortAnswersAndFailuresGiveNoStaleData) {
  Add("/dev/sdb", "0A1B");
  FakeScsiDevice shortDev{true, Standard("EMC     ", "SYMMETRIX       ", ""), {0, 0x83, 0, 0}};
  shortDev.standard.resize(36);
  env.scsi["/dev/sdc"] = shortDev;
  ASSERT_TRUE(Inquire("/dev/sdb"));
  EXPECT_EQ((std::vector<std::string>{"000197800123", ""}), ids);
  ASSERT_TRUE(Inquire("/dev/sdc"));
  EXPECT_EQ("00000", dev);
  EXPECT_EQ((std::vector<std::string>{"", ""}), ids);

  EXPECT_FALSE(Inquire("/dev/missing"));
  env.scsi["/dev/nvme0"].scsi = false;
  EXPECT_FALSE(Inquire("/dev/nvme0"));
  env.scsi["/dev/sdb"].failStandard = true;
  vendor.clear();
  EXPECT_FALSE(Inquire("/dev/sdb"));
  env.scsi["/dev/sdb"].failStandard = false;
  env.scsi["/dev/sdb"].failPage = true;
  EXPECT_FALSE(Inquire("/dev/sdb"));
  EXPECT_EQ("EMC     ", vendor);
}

// The setting names a serial and its replacement; without one it does nothing.
TEST_F(ScsiInquiryTest, CorrectiveArrayIdReplacesFirstMatchingCandidate) {
  Add("/dev/sdb", "0001");
  for (auto [setting, want] : {std::pair{"000197800123:000197800999", "000197800999"},
                               {"000197800123", "000197800123"}}) {
    env.Set("~Fieldunit", "sSymmCorrectiveArrayID", setting);
    ASSERT_TRUE(Inquire("/dev/sdb"));
    EXPECT_EQ(want, ids.at(0)) << setting;
  }
}

// ESX hands over the standard data and the LUN UUID as text, no path
// (the ESX runs read the long answer): without data nothing is named, and
// with a short answer the device number comes from the UUID's identifier.
TEST_F(ScsiInquiryTest, VMwareModeReadsHandedOverDataAndLunUuid) {
  std::vector<uint8_t> shortStd = Standard("EMC     ", "SYMMETRIX       ", "");
  shortStd.resize(36);
  shortStd[4] = 31;
  const std::string uuid = "020000000060000970000197800555533030";
  struct Case {
    std::string spec, dev;
    std::vector<std::string> ids;
  } cases[] = {
      {"{idatype:vmware}", "00000", {"", ""}},
      {"{idatype:vmware,standardinqury:" + inquiry_data::Hex(shortStd) + ",lunuuid:" + uuid +
           "41314253594d4d4554}", "00A1B", {"", "", "000197800555"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    ASSERT_TRUE(Inquire(c.spec));
    EXPECT_EQ(c.dev, dev);
    EXPECT_EQ(c.ids, ids);
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
    EXPECT_EQ(n, info.validLength) << n;
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
  testing_host::FakeSnapInfo si;
  std::string symDev;
  std::vector<std::string> arrayIds;
  Add("/dev/sdb", "0A1B");
  Add("/dev/sdc", "0A1B", "VRAID           ");
  EXPECT_FALSE(getDeviceInfo(&si, "/dev/sdc", symDev, arrayIds));
  EXPECT_TRUE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800123", "A1B"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdb", "000197800999", "00A1B"));
  EXPECT_FALSE(verifyDeviceBySCSIInquiry(&si, "/dev/sdc", "000197800123", "00A1B"));
}

}  // namespace
