// Host identity, initiators, device lists and mapped-device discovery.
#include <gtest/gtest.h>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/hostdev/InquiryData.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeSnapInfo;

namespace {

class HostDiscoveryTest : public ::testing::Test {
 protected:
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  FakeSnapInfo si;
  testing_host::FakeOSUtil os;
  std::string serial = "000197800123";
};

// FC names lose their colons and are upper-cased; with iSCSI among them only
// the iSCSI names are kept, as given; the list is appended to.
TEST_F(HostDiscoveryTest, InitiatorForms) {
  using L = std::list<std::string>;
  // Names, their types, the host's result; iSCSI found, and the list after.
  for (auto [names, types, result, wantIscsi, want] : {
           std::tuple<const char*, std::string, int, bool, L>{
               "50:00:09:73:f0:0a:b1:04,ab:cd", std::string("\0\0", 2), 0, false,
               {"KEPT", "50000973F00AB104", "ABCD"}},
           {"iqn.1994-05.com.redhat:ab,,50:00:09:73:f0:0a:b1:04", std::string("\1\0", 2), 0,
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
TEST_F(HostDiscoveryTest, BuffersGrowOnceAndAreBounded) {
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
TEST_F(HostDiscoveryTest, DiscoveryMatchesArrayAndDeviceOnce) {
  for (auto [path, dev, array, product] :
       {std::tuple{"/dev/sdb", "0A1C", "000197800999", "SYMMETRIX       "},
        {"/dev/sdc", "0A1C", "000197800123", "SYMMETRIX       "},
        {"/dev/sdd", "0A1D", "000197800123", "VRAID           "},
        {"/dev/sde", "0A1D", "000197800123", "SYMMETRIX       "}})
    env.scsi[path] = testing_host::FakeScsiDevice{
        true, inquiry_data::Standard("EMC     ", product, dev),
        inquiry_data::Page83ForSerial(array)};
  FakeSnapInfo a, b;
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
}

}  // namespace
