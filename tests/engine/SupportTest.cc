// Device support check and identification of mapped targets.
#include <cstring>

#include "tests/engine/EngineFixture.h"

namespace engine_test {
namespace {

const std::string kKey = "EMC     |::|SYMMETRIX       ";

class SupportTest : public EngineTest {
 protected:
  FakeSnapInfo* AddTarget(const std::string& serial, const std::string& target) {
    FakeSnapInfo* si = Add(Uid(serial, "00A1B", "SNAP_1"));
    si->metadata[PZSO::SM_MDT_MOUNT_TARGET_DEVICE] = target;
    return si;
  }
  char buffer[256] = {0};
  int context = 0;
};

// The error text is what the user sees for a refused device.
TEST_F(SupportTest, SupportedAndRefusedDevices) {
  AddHostDevice("/dev/sdb", "0A1B", kSerialA);
  AddHostDevice("/dev/sdc", "0A1B", kSerialA, "VRAID           ");
  struct Case {
    const char* dev;
    bool withContext, withBuffer;
    int result;
    const char* text;
  } cases[] = {
      {"/dev/sdb", true, true, 0, ""},
      {"/dev/sdc", true, true, 1,
       "Device [/dev/sdc] does not belong to PowerMax - found Vendor [EMC     ] "
       "Product [VRAID           ]"},
      {"/dev/none", true, true, 1, "Failed to get the array info from device name[/dev/none]"},
      {"/dev/sdc", true, false, 1, nullptr},
      {"/dev/sdc", false, true, 1, nullptr},
      {nullptr, true, true, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dev ? c.dev : "null");
    memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(c.result, pzso_isSupported(c.dev, 1, c.withContext ? &context : nullptr,
                                         c.withBuffer ? buffer : nullptr,
                                         c.withBuffer ? sizeof buffer : 10));
    if (c.text) { EXPECT_STREQ(c.text, buffer); }
  }
}

// Identification (mode 3) keeps the mapped targets in request order, matching
// any of a device's array ids (here the older layout's candidate); other
// keys change nothing.
TEST_F(SupportTest, IdentifyKeepsTheTargetsInRequestOrder) {
  AddHostDevice("/dev/sdb", "0C01", kSerialA);
  AddHostDevice("/dev/sdc", "0C02", kSerialA);
  AddHostDevice("/dev/sdd", "0C03", kSerialA);
  env.scsi["/dev/sde"] = env.scsi["/dev/sdb"];
  env.scsi["/dev/sde"].page83 = {0x00, 0x83, 0x00, 0x10, 0x60, 0x06, 0x04, 0x80, 0x00, 0x01,
                                 0x97, 0x80, 0x05, 0x55, 0x53, 0x30, 0x30, 0x43, 0x30, 0x31};
  AddTarget(kSerialA, "00C02");
  AddTarget(kSerialA, "00C01");
  AddTarget(kSerialB, "00C03");       // another array: not matched
  AddTarget("000197800555", "00C01");  // the older-layout candidate
  DeviceMap devices;
  devices[kKey] = {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/none", "/dev/sde"};
  devices["other"] = {"/dev/x"};
  EXPECT_EQ(0, pzso_identifyDevices(All(), N(), &devices, 3, nullptr, &os));
  EXPECT_EQ((std::list<std::string>{"/dev/sdc", "/dev/sdb", "/dev/sde"}), devices[kKey]);
  EXPECT_EQ((std::list<std::string>{"/dev/x"}), devices["other"]);
}

}  // namespace
}  // namespace engine_test
