// Host identity, initiators, device lists and mapped-device discovery.
#include <gtest/gtest.h>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "tests/hostdev/InquiryData.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/FakeHost.h"

using testing_host::FakeEnv;
using testing_host::FakeOSUtil;
using testing_host::FakeScsiDevice;
using testing_host::FakeSnapInfo;

namespace {

class HostDiscoveryTest : public ::testing::Test {
 protected:
  FakeEnv env;
  hostrt::ScopedEnv scoped{&env};
  FakeSnapInfo si;
  FakeOSUtil os;
  std::string serial = "000197800123";

  void AddDevice(const std::string& path, const std::string& dev,
                 const std::string& arraySerial,
                 const std::string& product = "SYMMETRIX       ") {
    FakeScsiDevice d;
    d.standard = inquiry_data::Standard("EMC     ", product, dev);
    d.page83 = inquiry_data::Page83ForSerial(arraySerial);
    env.scsi[path] = d;
  }
};

TEST_F(HostDiscoveryTest, HostIdentityAndVMwareSource) {
  env.hostName = "mediaagent7";
  std::string id;
  ASSERT_TRUE(getHostIdentifier(&si, id));
  EXPECT_EQ("mediaagent7", id);
  si.hostTypeInfo = "vmware-esx";
  si.vmHostIdentifier = "esx01.lab";
  ASSERT_TRUE(getHostIdentifier(&si, id));
  EXPECT_EQ("esx01.lab", id);
  si.vmHostIdentifierResult = 1;
  EXPECT_FALSE(getHostIdentifier(&si, id));

  for (auto [source, want] : {std::pair{"/dev/sdb", false},
                              {"{idatype:vmware,lunuuid:01}", true}, {"{idatype:vmwarex}", false}}) {
    si.sourceDevice = source;
    bool vmware = !want;
    ASSERT_TRUE(IsIDATypeVMWare(&si, vmware));
    EXPECT_EQ(want, vmware) << source;
  }
  si.sourceDeviceOk = false;
  bool vmware;
  EXPECT_FALSE(IsIDATypeVMWare(&si, vmware));
}

// FC names lose their colons and are upper-cased; with iSCSI among them only
// the iSCSI names are kept, as given; the list is appended to.
TEST_F(HostDiscoveryTest, InitiatorForms) {
  using L = std::list<std::string>;
  struct Case {
    const char* names;
    std::string types;
    const char* host;
    bool ok, iscsi;
    L inits;
  } cases[] = {
      {"50:00:09:73:f0:0a:b1:04,50:00:09:73:f0:0a:b1:05", std::string("\0\0", 2), "", true,
       false, {"KEPT", "50000973F00AB104", "50000973F00AB105"}},
      {"iqn.1994-05.com.redhat:ab,,50:00:09:73:f0:0a:b1:04", std::string("\1\0", 2), "esx01",
       true, true, {"KEPT", "iqn.1994-05.com.redhat:ab"}},
      {"", "", "", false, false, {"KEPT"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names);
    os.initiatorNames = c.names;
    os.initiatorTypes = c.types;
    os.queryInitiatorsHosts.clear();
    L inits = {"KEPT"};
    bool iscsi = !c.iscsi;
    EXPECT_EQ(c.ok, detectHbalist(&si, &os, inits, c.host, serial, iscsi));
    EXPECT_EQ(c.inits, inits);
    if (!c.ok) continue;
    EXPECT_EQ(c.iscsi, iscsi);
    EXPECT_EQ(c.host, os.queryInitiatorsHosts.at(0));
  }
  os.initiatorNames = "a:b";
  os.queryInitiatorsResult = 1;
  std::list<std::string> inits;
  bool iscsi = false;
  EXPECT_FALSE(detectHbalist(&si, &os, inits, "", serial, iscsi));
  EXPECT_TRUE(inits.empty());
  std::list<std::string> fc = {"50:00:09:73:f0:0a:b1:04", "ab:cd"}, iqn = {"iqn.a:b", "iqn.c:d"};
  EXPECT_EQ("50000973F00AB104,ABCD", convertHbaList(fc, false));
  EXPECT_EQ("iqn.a:b,iqn.c:d", convertHbaList(iqn, true));
}

// The host's answer may ask for a bigger buffer: followed once, and given up
// after a bound when the host keeps asking.
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
  os.hostInitiator.clear();
  EXPECT_FALSE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));

  std::list<std::string> devs;
  os.deviceListString = std::string(5000, 'x') + "*y";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ(2, os.deviceListStringCalls);
  EXPECT_EQ(2u, devs.size());
  os.deviceListStringAlwaysBigger = true;
  os.deviceListStringCalls = 0;
  EXPECT_FALSE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ(9, os.deviceListStringCalls);
}

// ESX device lists are text split at stars; local ones come as a list.
TEST_F(HostDiscoveryTest, DeviceLists) {
  using L = std::list<std::string>;
  std::list<std::string> devs;
  os.deviceListString = "e1*e2";
  ASSERT_TRUE(getDeviceListWrapper(&si, devs, &os, "esx01", "EMC", true));
  EXPECT_EQ((L{"e1", "e2"}), devs);
  // VMware entries are split only where the next entry starts.
  os.deviceListString = "{idatype:vmware,lunuuid:1*x}*{idatype:vmware,lunuuid:2}";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ((L{"{idatype:vmware,lunuuid:1*x}", "{idatype:vmware,lunuuid:2}"}), devs);
  os.deviceListString = "";
  EXPECT_FALSE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  os.deviceLists = {{"/dev/sdb", "/dev/sdc"}};
  ASSERT_TRUE(getDeviceListWrapper(&si, devs, &os, "host1", "EMC", false));
  EXPECT_EQ((L{"/dev/sdb", "/dev/sdc"}), devs);
  os.deviceListResult = -1;
  EXPECT_FALSE(getDeviceListWrapper(&si, devs, &os, "host1", "EMC", false));

  refreshSystemBus(&os, {"I1", "I2"}, {"/dev/sdx"}, "");
  refreshSystemBus(&os, {}, {}, "esx01");
  ASSERT_EQ(2u, os.rescans.size());
  EXPECT_EQ("", os.rescans[0].host);
  EXPECT_EQ((std::vector<std::string>{"I1", "I2"}), os.rescans[0].initiators);
  EXPECT_EQ((std::vector<std::string>{"/dev/sdx"}), os.rescans[0].cleanup);
  EXPECT_EQ("esx01", os.rescans[1].host);
}

// Each pending device takes the first path of its array and number (another
// product or array does not count); nothing is asked once all are found.
TEST_F(HostDiscoveryTest, DiscoveryMatchesArrayAndDeviceOnce) {
  AddDevice("/dev/sdb", "0A1C", "000197800999");  // right device, other array
  AddDevice("/dev/sdc", "0A1C", serial);
  AddDevice("/dev/sdd", "0A1D", serial, "VRAID           ");
  AddDevice("/dev/sde", "0A1D", serial);
  FakeSnapInfo a, b;
  a.status = b.status = 11;
  a.errorCode = 11;
  std::vector<VMAXMappedDevices> pending(2);
  pending[0].snapInfo = &a;
  pending[0].targetDevice = "00A1C";
  pending[1].snapInfo = &b;
  pending[1].targetDevice = "0A1D";
  pending[0].arraySerial = pending[1].arraySerial = serial;
  discoverMappedDevices(&os, {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/missing", "/dev/sde"},
                        pending, false);
  EXPECT_EQ(12, a.status);
  EXPECT_EQ("/dev/sdc", a.devicePath);
  EXPECT_EQ(0, a.errorCode);
  EXPECT_EQ(12, b.status);
  EXPECT_EQ("/dev/sde", b.devicePath);

  env.scsi["/dev/sdc"].cdbs.clear();
  a.devicePathHistory.clear();
  pending.resize(1);
  discoverMappedDevices(&os, {"/dev/sdc"}, pending, false);
  EXPECT_TRUE(env.scsi["/dev/sdc"].cdbs.empty());
  EXPECT_TRUE(a.devicePathHistory.empty());
  discoverMappedDevices(&os, {"/dev/sdc"}, {}, false);  // nothing to log through

  std::list<std::string> out = {"stale"};
  ASSERT_TRUE(getAllDevicePaths(&si, serial, "00A1C", {"/dev/sdb", "/dev/sdc", "/dev/sde"}, out));
  EXPECT_EQ((std::list<std::string>{"/dev/sdc"}), out);
}

}  // namespace
