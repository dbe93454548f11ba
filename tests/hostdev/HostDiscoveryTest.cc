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

TEST_F(HostDiscoveryTest, HostIdentifierIsLocalNameOrVMHost) {
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
  EXPECT_TRUE(si.hasLog("Error:Unable to get the host identifier"));
}

TEST_F(HostDiscoveryTest, VMwareSourceIsRecognisedByIdaType) {
  bool vmware = true;
  si.sourceDevice = "/dev/sdb";
  ASSERT_TRUE(IsIDATypeVMWare(&si, vmware));
  EXPECT_FALSE(vmware);
  si.sourceDevice = "{idatype:vmware,lunuuid:01}";
  ASSERT_TRUE(IsIDATypeVMWare(&si, vmware));
  EXPECT_TRUE(vmware);
  si.sourceDevice = "{idatype:vmwarex}";
  ASSERT_TRUE(IsIDATypeVMWare(&si, vmware));
  EXPECT_FALSE(vmware);
  si.sourceDeviceOk = false;
  EXPECT_FALSE(IsIDATypeVMWare(&si, vmware));
}

TEST_F(HostDiscoveryTest, FcInitiatorsLoseColonsAndAreUpperCased) {
  os.initiatorNames = "50:00:09:73:f0:0a:b1:04,50:00:09:73:f0:0a:b1:05";
  os.initiatorTypes = std::string("\0\0", 2);
  std::list<std::string> inits = {"KEPT"};
  bool iscsi = true;
  ASSERT_TRUE(detectHbalist(&si, &os, inits, "", serial, iscsi));
  EXPECT_FALSE(iscsi);
  EXPECT_EQ((std::list<std::string>{"KEPT", "50000973F00AB104", "50000973F00AB105"}),
            inits);
  EXPECT_EQ((std::vector<std::string>{"", ""}), os.queryInitiatorsHosts);  // local host
}

TEST_F(HostDiscoveryTest, MixedTypesKeepOnlyIscsiNamesAsGiven) {
  os.initiatorNames = "iqn.1994-05.com.redhat:ab,,50:00:09:73:f0:0a:b1:04";
  os.initiatorTypes = std::string("\1\0", 2);
  std::list<std::string> inits;
  bool iscsi = false;
  ASSERT_TRUE(detectHbalist(&si, &os, inits, "esx01", serial, iscsi));
  EXPECT_TRUE(iscsi);
  EXPECT_EQ((std::list<std::string>{"iqn.1994-05.com.redhat:ab"}), inits);
  EXPECT_EQ("esx01", os.queryInitiatorsHosts.at(0));
}

TEST_F(HostDiscoveryTest, NoInitiatorsFails) {
  std::list<std::string> inits;
  bool iscsi = false;
  EXPECT_FALSE(detectHbalist(&si, &os, inits, "", serial, iscsi));
  EXPECT_TRUE(si.hasLog("Error: Unable to detect initiator info."));
  os.initiatorNames = "a:b";
  os.queryInitiatorsResult = 1;
  EXPECT_FALSE(detectHbalist(&si, &os, inits, "", serial, iscsi));
  EXPECT_TRUE(inits.empty());
}

TEST_F(HostDiscoveryTest, DetectHbaFollowsTheHostsBufferSize) {
  os.hostInitiator = "21:00:00:24:ff:" + std::string(3000, 'a');
  std::string name;
  bool iscsi = true;
  ASSERT_TRUE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));
  EXPECT_EQ(1, os.hostInitiatorAsks);
  EXPECT_EQ(127u, name.size());
  EXPECT_EQ("21000024FFAAA", name.substr(0, 13));
}

TEST_F(HostDiscoveryTest, DetectHbaStopsWhenTheHostKeepsAskingForMore) {
  os.hostInitiator = "21:00:00:24:ff:00:00:01";
  os.hostInitiatorAlwaysBigger = true;
  std::string name;
  bool iscsi = false;
  EXPECT_FALSE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));
  EXPECT_EQ(9, os.hostInitiatorAsks);
  os.hostInitiator.clear();
  EXPECT_FALSE(detectHBA(&si, name, iscsi, serial, &os, "esx01"));
  EXPECT_TRUE(si.hasLog("Unable to detect initiator info."));
}

TEST_F(HostDiscoveryTest, DeviceListTextIsSplitAtStars) {
  std::list<std::string> devs;
  os.deviceListString = "a*b*c";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ((std::list<std::string>{"a", "b", "c"}), devs);

  os.deviceListString = "{idatype:vmware,lunuuid:1}*{idatype:vmware,lunuuid:2}";
  ASSERT_TRUE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_EQ((std::list<std::string>{"{idatype:vmware,lunuuid:1}",
                                    "{idatype:vmware,lunuuid:2}"}),
            devs);

  os.deviceListString = "";
  EXPECT_FALSE(getDeviceList(&si, devs, &os, "esx01", "EMC"));
  EXPECT_TRUE(si.hasLog("Device list is empty"));
}

TEST_F(HostDiscoveryTest, DeviceListGrowsOnceAndIsBounded) {
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

TEST_F(HostDiscoveryTest, WrapperUsesLocalListOrEsxText) {
  std::list<std::string> devs;
  os.deviceLists = {{"/dev/sdb", "/dev/sdc"}};
  ASSERT_TRUE(getDeviceListWrapper(&si, devs, &os, "host1", "EMC", false));
  EXPECT_EQ((std::list<std::string>{"/dev/sdb", "/dev/sdc"}), devs);
  os.deviceListString = "e1*e2";
  ASSERT_TRUE(getDeviceListWrapper(&si, devs, &os, "esx01", "EMC", true));
  EXPECT_EQ((std::list<std::string>{"e1", "e2"}), devs);
  os.deviceListResult = -1;
  EXPECT_FALSE(getDeviceListWrapper(&si, devs, &os, "host1", "EMC", false));
  EXPECT_TRUE(si.hasLog("Failed to get device list for local host [host1]"));
}

TEST_F(HostDiscoveryTest, RefreshPassesNullHostAndLists) {
  refreshSystemBus(&os, {"I1", "I2"}, {"/dev/sdx"}, "");
  refreshSystemBus(&os, {}, {}, "esx01");
  ASSERT_EQ(2u, os.rescans.size());
  EXPECT_EQ("", os.rescans[0].host);
  EXPECT_EQ((std::vector<std::string>{"I1", "I2"}), os.rescans[0].initiators);
  EXPECT_EQ((std::vector<std::string>{"/dev/sdx"}), os.rescans[0].cleanup);
  EXPECT_EQ("esx01", os.rescans[1].host);
  EXPECT_TRUE(os.rescans[1].initiators.empty());
}

TEST_F(HostDiscoveryTest, DiscoveryMatchesArrayAndDeviceOnce) {
  AddDevice("/dev/sdb", "0A1C", "000197800999");  // right device, other array
  AddDevice("/dev/sdc", "0A1C", serial);
  AddDevice("/dev/sdd", "0A1D", serial, "VRAID           ");
  AddDevice("/dev/sde", "0A1D", serial);
  FakeSnapInfo a, b;
  a.status = b.status = 11;
  std::vector<VMAXMappedDevices> pending(2);
  pending[0].snapInfo = &a;
  pending[0].targetDevice = "00A1C";
  pending[0].arraySerial = serial;
  pending[1].snapInfo = &b;
  pending[1].targetDevice = "0A1D";
  pending[1].arraySerial = serial;
  a.errorCode = 11;
  discoverMappedDevices(&os, {"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/missing", "/dev/sde"},
                        pending, false);
  EXPECT_EQ(12, a.status);
  EXPECT_EQ("/dev/sdc", a.devicePath);
  EXPECT_EQ(0, a.errorCode);
  EXPECT_EQ(12, b.status);
  EXPECT_EQ("/dev/sde", b.devicePath);
  EXPECT_TRUE(a.hasLog("SCSI Inquiry failed for host device [/dev/missing]"));
}

TEST_F(HostDiscoveryTest, DiscoveryStopsOnceAllAreFound) {
  AddDevice("/dev/sdc", "0A1C", serial);
  FakeSnapInfo a;
  a.status = 12;
  std::vector<VMAXMappedDevices> pending(1);
  pending[0].snapInfo = &a;
  pending[0].targetDevice = "00A1C";
  pending[0].arraySerial = serial;
  discoverMappedDevices(&os, {"/dev/sdc"}, pending, false);
  EXPECT_TRUE(env.scsi["/dev/sdc"].cdbs.empty());
  EXPECT_TRUE(a.devicePathHistory.empty());
  EXPECT_TRUE(a.hasLog("Found device paths for all mapped devices"));
  discoverMappedDevices(&os, {"/dev/sdc"}, {}, false);  // nothing to log through
}

TEST_F(HostDiscoveryTest, AllDevicePathsAndHbaListConversion) {
  AddDevice("/dev/sdb", "0A1C", serial);
  AddDevice("/dev/sdc", "0A1D", serial);
  std::list<std::string> out = {"stale"};
  ASSERT_TRUE(getAllDevicePaths(&si, serial, "00A1C", {"/dev/sdb", "/dev/sdc"}, out));
  EXPECT_EQ((std::list<std::string>{"/dev/sdb"}), out);

  std::list<std::string> fc = {"50:00:09:73:f0:0a:b1:04", "ab:cd"};
  EXPECT_EQ("50000973F00AB104,ABCD", convertHbaList(fc, false));
  std::list<std::string> iscsi = {"iqn.a:b", "iqn.c:d"};
  EXPECT_EQ("iqn.a:b,iqn.c:d", convertHbaList(iscsi, true));
}

}  // namespace
