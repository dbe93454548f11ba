// Device support check and identification of mapped targets.
#include <cstring>

#include "tests/engine/EngineFixture.h"
#include "tests/hostdev/InquiryData.h"

namespace engine_test {
namespace {

const std::string kKey = "EMC     |::|SYMMETRIX       ";

class SupportTest : public EngineTest {
 protected:
  void AddHostDevice(const std::string& path, const std::string& dev,
                     const std::string& serial,
                     const std::string& product = "SYMMETRIX       ") {
    testing_host::FakeScsiDevice d;
    d.standard = inquiry_data::Standard("EMC     ", product, dev);
    d.page83 = inquiry_data::Page83ForSerial(serial);
    env.scsi[path] = d;
  }
  FakeSnapInfo* AddTarget(const std::string& serial, const std::string& target) {
    FakeSnapInfo* si = Add(Uid(serial, "00A1B", "SNAP_1"));
    si->metadata[PZSO::SM_MDT_MOUNT_TARGET_DEVICE] = target;
    return si;
  }
  char buffer[256] = {0};
  int context = 0;
};

TEST_F(SupportTest, SymmetrixDeviceIsSupported) {
  AddHostDevice("/dev/sdb", "0A1B", kSerialA);
  EXPECT_EQ(0, pzso_isSupported("/dev/sdb", 1, &context, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
}

TEST_F(SupportTest, OtherProductsAndBadInputAreRefused) {
  AddHostDevice("/dev/sdc", "0A1B", kSerialA, "VRAID           ");
  EXPECT_EQ(1, pzso_isSupported("/dev/sdc", 1, &context, buffer, sizeof buffer));
  EXPECT_STREQ(
      "Device [/dev/sdc] does not belong to PowerMax - found Vendor [EMC     ] "
      "Product [VRAID           ]",
      buffer);
  memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(1, pzso_isSupported("/dev/none", 1, &context, buffer, sizeof buffer));
  EXPECT_STREQ("Failed to get the array info from device name[/dev/none]", buffer);
  EXPECT_EQ(1, pzso_isSupported("/dev/sdc", 1, &context, nullptr, 10));
  EXPECT_EQ(1, pzso_isSupported("/dev/sdc", 1, nullptr, buffer, sizeof buffer));
  EXPECT_EQ(1, pzso_isSupported(nullptr, 1, &context, buffer, sizeof buffer));
}

TEST_F(SupportTest, IdentifyKeepsTheTargetsInRequestOrder) {
  AddHostDevice("/dev/sdb", "0C01", kSerialA);
  AddHostDevice("/dev/sdc", "0C02", kSerialA);
  AddHostDevice("/dev/sdd", "0C03", kSerialA);
  AddTarget(kSerialA, "00C02");
  AddTarget(kSerialA, "00C01");
  AddTarget(kSerialB, "00C03");  // another array: not matched
  DeviceMap devices;
  devices[kKey] = {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/none"};
  devices["other"] = {"/dev/x"};
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  EXPECT_EQ((std::list<std::string>{"/dev/sdc", "/dev/sdb"}), devices[kKey]);
  EXPECT_EQ((std::list<std::string>{"/dev/x"}), devices["other"]);
}

TEST_F(SupportTest, IdentifyMatchesOneOfSeveralArrayIds) {
  testing_host::FakeScsiDevice d;
  d.standard = inquiry_data::Standard("EMC     ", "SYMMETRIX       ", "0C01");
  // The older layout: the identifier right after the page header.
  d.page83 = {0x00, 0x83, 0x00, 0x10, 0x60, 0x06, 0x04, 0x80, 0x00, 0x01,
              0x97, 0x80, 0x05, 0x55, 0x53, 0x30, 0x30, 0x43, 0x30, 0x31};
  env.scsi["/dev/sdb"] = d;
  AddTarget("000197800555", "00C01");  // the older-layout candidate
  DeviceMap devices;
  devices[kKey] = {"/dev/sdb"};
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  EXPECT_EQ((std::list<std::string>{"/dev/sdb"}), devices[kKey]);
}

TEST_F(SupportTest, IdentifyOtherModesAndEmptyListsChangeNothing) {
  AddTarget(kSerialA, "00C01");
  DeviceMap devices;
  devices[kKey] = {"/dev/sdb"};
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 2, nullptr, &os));
  EXPECT_EQ((std::list<std::string>{"/dev/sdb"}), devices[kKey]);
  devices[kKey].clear();
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  EXPECT_TRUE(R(0)->hasLogContaining("None of the mounted devices belongs to vendor"));
  DeviceMap none;
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &none, 3, nullptr, &os));
  EXPECT_TRUE(none.count(kKey));
  EXPECT_TRUE(none[kKey].empty());
  EXPECT_EQ(1, pzso_identifyDevices(All(), 0, &none, 3, nullptr, &os));
}

}  // namespace
}  // namespace engine_test
