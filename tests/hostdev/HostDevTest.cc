// SCSI inquiry identification, initiators, device lists and mapped-device
// discovery over scripted devices of the fake host.
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

class HostDevTest : public ::testing::Test {
 protected:
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  testing_host::FakeSnapInfo si;
  testing_host::FakeOSUtil os;
  std::string serial = "000197800123";
  std::string vendor, product, dev;
  std::vector<std::string> ids;

  bool Inquire(const std::string& device) {
    return getDeviceInfoBySCSIInquiry(device, vendor, product, ids, dev);
  }
  void Add(const char* path, const char* devChars, const char* productName = "SYMMETRIX       ",
           const char* array = "000197800123") {
    env.scsi[path] = FakeScsiDevice{true, Standard("EMC     ", productName, devChars),
                                    inquiry_data::Page83ForSerial(array), false, false, {}};
  }
};

// Every published identification sample: the real 36-byte standard answer
// (40 bytes on file, claiming 36), the older and the SPC page, and the
// device WWNs published with the serial and device number they name, each
// as the LU designator of an SPC page behind the short standard answer.
TEST_F(HostDevTest, PublishedSamples) {
  const std::string dir = std::string(PZ_SHARED_DIR) + "/scsi-samples/";
  std::vector<uint8_t> standard =
      inquiry_data::ReadHexSample(dir + "sg3utils_inq_emc_symm__1.txt");
  ASSERT_EQ(40u, standard.size());
  auto check = [&](const std::string& name, const std::vector<uint8_t>& page,
                   const std::vector<std::string>& wantIds, const char* wantDev) {
    SCOPED_TRACE(name);
    env.scsi["/dev/s"] = FakeScsiDevice{true, standard, page, false, false, {}};
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
// second, which names no device; host failures give false, keeping what was
// read; a configured correction replaces the first matching serial.
TEST_F(HostDevTest, ShortAnswersAndFailuresGiveNoStaleData) {
  Add("/dev/sdb", "0A1B");
  FakeScsiDevice shortDev{true, Standard("EMC     ", "SYMMETRIX       ", ""), {0, 0x83, 0, 0},
                          false, false, {}};
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

  // The correcting setting names a serial and its replacement, or does nothing.
  env.scsi["/dev/sdb"].failPage = false;
  for (auto [setting, want] : {std::pair{"000197800123:000197800999", "000197800999"},
                               {"000197800123", "000197800123"}}) {
    env.Set("~Fieldunit", "sSymmCorrectiveArrayID", setting);
    ASSERT_TRUE(Inquire("/dev/sdb"));
    EXPECT_EQ(want, ids.at(0)) << setting;
  }
}

// ESX hands over the standard data and the LUN UUID as text, no path (the
// ESX runs read the long answer): with a short answer the device number
// comes from the UUID's identifier.
TEST_F(HostDevTest, VMwareModeReadsHandedOverDataAndLunUuid) {
  std::vector<uint8_t> shortStd = Standard("EMC     ", "SYMMETRIX       ", "");
  shortStd.resize(36);
  shortStd[4] = 31;
  ASSERT_TRUE(Inquire("{idatype:vmware,standardinqury:" + inquiry_data::Hex(shortStd) +
                      ",lunuuid:02000000006000097000019780055553303041314253594d4d4554}"));
  EXPECT_EQ("00A1B", dev);
  EXPECT_EQ((std::vector<std::string>{"", "", "000197800555"}), ids);
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
  for (auto [name, bad] : {
           std::pair<const char*, std::vector<uint8_t>>{
               "cut designator", std::vector<uint8_t>(good.begin(), good.end() - 1)},
           {"page length shorter than the designator", changed(3, 10)},
           {"unit serial number page code", changed(1, 0x80)},
           {"other OUI", Page83({0x60, 0x0a, 0x09, 0x80, 0x00, 0x01, 0x97, 0x80, 0x01, 0x23})},
           {"port association", changed(5, 0x13)},
           {"ASCII code set", changed(4, 0x02)},
           {"header only", {0x00, 0x83, 0x00, 0x00}},
           {"three bytes", {0x00, 0x83, 0x00}}}) {
    DeviceIdPageInfo page;
    parseDeviceIdPage(exact(bad).get(), bad.size(), page);
    EXPECT_TRUE(page.symm4.empty() && page.symm3.empty() && page.device.empty()) << name;
  }
  DeviceIdPageInfo page;
  parseDeviceIdPage(exact(good).get(), good.size(), page);
  EXPECT_EQ("000197800123", page.symm4);
}

// With iSCSI names among FC ones only the iSCSI names are kept, as given (the
// FC forms are those of every mount); the list is appended to.
TEST_F(HostDevTest, InitiatorForms) {
  using L = std::list<std::string>;
  // Names, their types, the host's result; iSCSI found, and the list after.
  for (auto [names, types, result, wantIscsi, want] : {
           std::tuple<const char*, std::string, int, bool, L>{
               "iqn.1994-05.com.redhat:ab,,50:00:09:73:f0:0a:b1:04", std::string("\1\0", 2), 0,
               true, {"KEPT", "iqn.1994-05.com.redhat:ab"}},
           {"", "", 0, false, {"KEPT"}},
           {"a:b", "", 1, false, {"KEPT"}}}) {
    SCOPED_TRACE(names);
    os.initiatorNames = names;
    os.initiatorTypes = types;
    os.queryInitiatorsResult = result;
    L inits = {"KEPT"};
    bool iscsi = !wantIscsi;
    EXPECT_EQ(want.size() > 1, detectHbalist(&si, &os, inits, "esx01", serial, iscsi));
    EXPECT_EQ(want, inits);
    if (want.size() > 1) { EXPECT_EQ(wantIscsi, iscsi); }
  }
  std::list<std::string> iqn = {"iqn.a:b", "iqn.c:d"};
  EXPECT_EQ("iqn.a:b,iqn.c:d", convertHbaList(iqn, true));
}

// The host's answer may ask for a bigger buffer: followed once, and given up
// after a bound when the host keeps asking. VMware entries of a device list
// are split only where the next entry starts.
TEST_F(HostDevTest, BuffersGrowOnceAndAreBounded) {
  os.hostInitiator = "21:00:00:24:ff:" + std::string(3000, 'a');
  std::string name;
  bool iscsi = true;
  ASSERT_TRUE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));
  EXPECT_EQ(1, os.hostInitiatorAsks);
  EXPECT_EQ(127u, name.size());
  EXPECT_EQ("21000024FFAAA", name.substr(0, 13));
  os.hostInitiator = "21:00:00:24:ff:00:00:01";
  os.hostInitiatorAlwaysBigger = true;
  os.hostInitiatorAsks = 0;
  EXPECT_FALSE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));
  EXPECT_EQ(9, os.hostInitiatorAsks);

  std::list<std::string> devs;
  os.deviceListString = std::string(5000, 'x') + "*y";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ(2, os.deviceListStringCalls);
  EXPECT_EQ(2u, devs.size());
  os.deviceListString = "{idatype:vmware,lunuuid:1*x}*{idatype:vmware,lunuuid:2}";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ((std::list<std::string>{"{idatype:vmware,lunuuid:1*x}", "{idatype:vmware,lunuuid:2}"}),
            devs);
  os.deviceListStringAlwaysBigger = true;
  os.deviceListStringCalls = 0;
  EXPECT_FALSE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ(9, os.deviceListStringCalls);
}

// Each pending device takes the first path of its array and number (another
// product or array does not count); nothing is asked once all are found.
// Only EMC SYMMETRIX devices are sources either.
TEST_F(HostDevTest, DiscoveryMatchesArrayAndDeviceOnce) {
  Add("/dev/sdb", "0A1C", "SYMMETRIX       ", "000197800999");
  Add("/dev/sdc", "0A1C");
  Add("/dev/sdd", "0A1D", "VRAID           ");
  Add("/dev/sde", "0A1D");
  testing_host::FakeSnapInfo a, b;
  std::vector<VMAXMappedDevices> pending(2);
  pending[0].snapInfo = &a;
  pending[1].snapInfo = &b;
  pending[0].targetDevice = "00A1C";
  pending[1].targetDevice = "0A1D";
  pending[0].arraySerial = pending[1].arraySerial = serial;
  discoverMappedDevices(&os, {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/missing", "/dev/sde"},
                        pending, false);
  EXPECT_EQ("/dev/sdc", a.devicePath);
  EXPECT_EQ("/dev/sde", b.devicePath);

  env.scsi["/dev/sdc"].cdbs.clear();
  pending.resize(1);
  discoverMappedDevices(&os, {"/dev/sdc"}, pending, false);
  EXPECT_TRUE(env.scsi["/dev/sdc"].cdbs.empty());

  std::list<std::string> out = {"stale"};
  ASSERT_TRUE(getAllDevicePaths(&si, serial, "00A1C", {"/dev/sdb", "/dev/sdc", "/dev/sde"}, out));
  EXPECT_EQ((std::list<std::string>{"/dev/sdc"}), out);
  std::string symDev;
  EXPECT_FALSE(getDeviceInfo(&si, "/dev/sdd", symDev, ids));
}

}  // namespace
