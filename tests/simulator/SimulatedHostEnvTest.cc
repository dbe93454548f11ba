// A host of the simulator's demo world played over the real environment:
// initiators, devices, rescans, INQUIRY of simulated paths and the ESX form.
#include <gtest/gtest.h>

#include <fstream>

#include "host/PzDeviceTree.h"
#include "hostruntime/HostRequest.h"
#include "hostruntime/HostSystem.h"
#include "hostruntime/PosixEnv.h"
#include "simulator/hostenv/SimulatedHostEnv.h"
#include "tests/runtime/TempDir.h"
#include "tests/simulator/SimWorld.h"

namespace {

class SimulatedHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = world.InitDemo();
    world.MustAdmin({"host", "--name", "esx1", "--esx", "--wwn", "10000000c9a1b201"});
    Settings("demohost");
  }
  void Settings(const std::string& host) {
    std::ofstream(home.File("settings.ini"), std::ios::trunc)
        << "[Host]\nsimulatedHost = " << host << "\n[EventManager]\nSYMAPI_HOME_DIR = "
        << world.dir() << "\n";
  }

  std::unique_ptr<hostrt::Env> Simulated(hostrt::Env* base) {
    std::string error;
    std::unique_ptr<hostrt::Env> env = symsim::SimulatedHostFromSettings(base, &error);
    EXPECT_TRUE(env) << error;
    return env;
  }

  simtest::SimWorld world;
  runtime_test::TempDir home;
  nlohmann::json demo;
};

TEST_F(SimulatedHostTest, DemoHostSeesItsSourcesAndAnswersInquiry) {
  hostrt::PosixEnv base(home.path());
  std::unique_ptr<hostrt::Env> env = Simulated(&base);
  hostrt::ScopedEnv scope(env.get());
  hostrt::HostSystem* system = env->System();
  ASSERT_NE(nullptr, system);
  std::string error;
  std::vector<hostrt::Initiator> initiators;
  ASSERT_TRUE(system->Initiators("", &initiators, &error)) << error;
  ASSERT_EQ(demo["initiators"].size(), initiators.size());
  EXPECT_EQ(demo["initiators"][0].get<std::string>(), initiators[0].name);
  EXPECT_EQ(hostrt::kInitiatorFC, initiators[0].type);

  ASSERT_TRUE(system->Rescan("", {}, &error)) << error;
  std::vector<std::string> paths;
  ASSERT_TRUE(system->Devices("", "EMC", &paths, &error)) << error;
  std::string first = demo["sources"][0]["path"];
  ASSERT_NE(paths.end(), std::find(paths.begin(), paths.end(), first));

  CWvError cwError;
  std::shared_ptr<PzDevice> device = PzDeviceTree::getDevice(first, &cwError);
  ASSERT_TRUE(device) << cwError.text();
  PzDeviceScsiIface* scsi = device->getInterface("PzDeviceScsiIface");
  ASSERT_NE(nullptr, scsi);
  const unsigned char standard[] = {0x12, 0x00, 0x00, 0x00, 0xFF, 0x00};
  unsigned char data[4096] = {0};
  int n = scsi->sendCDB(standard, 6, data, sizeof data, 0, SCSI_DIR_READ, 0, 0, 10,
                        &cwError);
  ASSERT_GT(n, 36) << cwError.text();
  EXPECT_EQ("EMC", std::string(reinterpret_cast<char*>(data) + 8, 3));
  const unsigned char page83[] = {0x12, 0x01, 0x83, 0x00, 0xFF, 0x00};
  n = scsi->sendCDB(page83, 6, data, sizeof data, 0, SCSI_DIR_READ, 0, 0, 10, &cwError);
  ASSERT_GT(n, 4) << cwError.text();
  EXPECT_EQ(0x83, data[1]);

  // A path the host never saw does not answer.
  device = PzDeviceTree::getDevice("symsim:demohost:000197800123_0FFFF", &cwError);
  if (device) {
    n = device->getInterface("PzDeviceScsiIface")
            ->sendCDB(standard, 6, data, sizeof data, 0, SCSI_DIR_READ, 0, 0, 10, &cwError);
    EXPECT_EQ(-1, n);
    EXPECT_FALSE(cwError.text().empty());
  }

  hostrt::HostSnapInfo request;
  hostrt::FillHostFacts(&request);
  EXPECT_EQ("linux", request.hostTypeInfo);
}

TEST_F(SimulatedHostTest, OnlySettingsThatNameAHostAndItsWorldGiveOne) {
  hostrt::PosixEnv base(home.path());
  std::string error;
  std::ofstream(home.File("settings.ini"), std::ios::trunc) << "[Host]\nsysRoot = /\n";
  ASSERT_TRUE(base.ReloadSettings(&error)) << error;
  EXPECT_EQ(nullptr, symsim::SimulatedHostFromSettings(&base, &error));
  EXPECT_TRUE(error.empty()) << error;
  std::ofstream(home.File("settings.ini"), std::ios::trunc)
      << "[Host]\nsimulatedHost = demohost\n";
  ASSERT_TRUE(base.ReloadSettings(&error)) << error;
  EXPECT_EQ(nullptr, symsim::SimulatedHostFromSettings(&base, &error));
  EXPECT_NE(std::string::npos, error.find("SYMAPI_HOME_DIR")) << error;
}

TEST_F(SimulatedHostTest, EsxHostListsNameValueEntriesAndSaysVmware) {
  Settings("esx1");
  hostrt::PosixEnv base(home.path());
  std::unique_ptr<hostrt::Env> env = Simulated(&base);
  hostrt::ScopedEnv scope(env.get());
  hostrt::HostSnapInfo request;
  hostrt::FillHostFacts(&request);
  EXPECT_EQ("vmware", request.hostTypeInfo);
  EXPECT_EQ("esx1", request.vmHostId);
  hostrt::HostOSUtil util;
  ASSERT_EQ(0, util.rescanBus(nullptr, nullptr, nullptr));
  std::vector<std::string> entries;
  ASSERT_EQ(0, util.getLocalDeviceList(nullptr, "EMC", entries));
  ASSERT_FALSE(entries.empty());  // it shares the demo host's initiator
  EXPECT_EQ(0u, entries[0].find("{idatype:vmware,standardinqury:"));
}

}  // namespace
