// Linux host system over a fake sysfs tree: initiators, device lists with
// multipath maps listed once, and rescans that flush a map before deleting
// its paths.
#include "hostruntime/LinuxHostSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/runtime/TempDir.h"
#include "tests/support/FakeEnv.h"

namespace {

using hostrt::LinuxHostSystem;

class LinuxHostSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.realFiles = true;
    Put("sys/class/fc_host/host1/port_name", "0x10000000c9a1b2c3\n");
    Put("sys/class/fc_host/host2/port_name", "0x10000000c9a1b2c4\n");
    Put("etc/iscsi/initiatorname.iscsi",
        "## generated\nInitiatorName=iqn.1994-05.com.redhat:h1\n");
    for (const char* sd : {"sda", "sdb", "sdc", "sdd"}) {
      Put(std::string("sys/block/") + sd + "/device/vendor",
          std::string(sd) == "sda" ? "ATA     \n" : "EMC     \n");
      Put(std::string("sys/block/") + sd + "/device/delete", "");
    }
    Put("sys/block/dm-0/dm/uuid", "mpath-360000970000197900123533030304146\n");
    Put("sys/block/dm-0/dm/name", "mpatha\n");
    Put("sys/block/dm-0/slaves/sdb", "");
    Put("sys/block/dm-0/slaves/sdc", "");
    Put("sys/block/dm-1/dm/uuid", "LVM-abc\n");
    Put("sys/block/dm-1/dm/name", "vg-root\n");
    Put("sys/class/scsi_host/host0/scan", "");
    Put("sys/class/scsi_host/host1/scan", "");
  }
  void Put(const std::string& relative, const std::string& text) {
    std::string path = root.File(relative);
    for (size_t at = root.path().size() + 1; (at = path.find('/', at)) != std::string::npos; ++at)
      mkdir(path.substr(0, at).c_str(), 0700);
    std::ofstream(path) << text;
  }
  std::string Get(const std::string& relative) {
    return runtime_test::ReadFile(root.File(relative));
  }

  runtime_test::TempDir root;
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  LinuxHostSystem system{root.path() + "/", "h1"};
  std::string error;
};

TEST_F(LinuxHostSystemTest, InitiatorsFromFcHostsAndIscsiName) {
  std::vector<hostrt::Initiator> found;
  ASSERT_TRUE(system.Initiators("", &found, &error)) << error;
  ASSERT_EQ(3u, found.size());
  EXPECT_EQ("10000000c9a1b2c3", found[0].name);
  EXPECT_EQ(hostrt::kInitiatorFC, found[1].type);
  EXPECT_EQ("iqn.1994-05.com.redhat:h1", found[2].name);
  EXPECT_EQ(hostrt::kInitiatorISCSI, found[2].type);
  EXPECT_TRUE(system.Initiators("h1", &found, &error));
  EXPECT_FALSE(system.Initiators("esx9", &found, &error));
  EXPECT_NE(std::string::npos, error.find("esx9"));
}

TEST_F(LinuxHostSystemTest, MultipathMapIsListedOnceInsteadOfItsPaths) {
  std::vector<std::string> paths;
  ASSERT_TRUE(system.Devices("", "EMC", &paths, &error)) << error;
  EXPECT_EQ((std::vector<std::string>{"/dev/mapper/mpatha", "/dev/sdd"}), paths);
  ASSERT_TRUE(system.Devices("", "", &paths, &error));
  EXPECT_EQ((std::vector<std::string>{"/dev/mapper/mpatha", "/dev/sda", "/dev/sdd"}),
            paths);
  EXPECT_EQ("linux", system.HostType(""));
}

TEST_F(LinuxHostSystemTest, RescanFlushesTheMapBeforeDeletingItsPaths) {
  bool deletedBeforeFlush = true;
  testing_host::ScriptedRun flush;
  flush.effect = [&](const hostrt::ProcessSpec&) {
    deletedBeforeFlush = !Get("sys/block/sdb/device/delete").empty() ||
                         !Get("sys/block/sdc/device/delete").empty();
  };
  env.Expect("multipath -f mpatha", flush);
  ASSERT_TRUE(system.Rescan("", {"/dev/sdb", "/dev/sdd"}, &error)) << error;
  ASSERT_EQ(1u, env.runs.size());
  EXPECT_EQ((std::vector<std::string>{"multipath", "-f", "mpatha"}), env.runs[0].argv);
  EXPECT_GT(env.runs[0].timeoutMs, 0);
  EXPECT_FALSE(deletedBeforeFlush);
  // The listed path's whole map goes, and the plain disk.
  EXPECT_EQ("1", Get("sys/block/sdb/device/delete"));
  EXPECT_EQ("1", Get("sys/block/sdc/device/delete"));
  EXPECT_EQ("1", Get("sys/block/sdd/device/delete"));
  EXPECT_EQ("", Get("sys/block/sda/device/delete"));
  EXPECT_EQ("- - -", Get("sys/class/scsi_host/host0/scan"));
  EXPECT_EQ("- - -", Get("sys/class/scsi_host/host1/scan"));
}

TEST_F(LinuxHostSystemTest, MapThatCannotBeFlushedKeepsItsPaths) {
  testing_host::ScriptedRun busy;
  busy.exitCode = 1;
  busy.error = "map in use";
  env.Expect("multipath -f mpatha", busy);
  EXPECT_FALSE(system.Rescan("", {"/dev/mapper/mpatha", "/dev/sdd"}, &error));
  EXPECT_NE(std::string::npos, error.find("map in use")) << error;
  EXPECT_EQ("", Get("sys/block/sdb/device/delete"));
  EXPECT_EQ("", Get("sys/block/sdc/device/delete"));
  EXPECT_EQ("1", Get("sys/block/sdd/device/delete"));
  EXPECT_EQ("- - -", Get("sys/class/scsi_host/host0/scan"));  // still scanned
  EXPECT_FALSE(system.Rescan("", {"/dev/nvme0n1"}, &error));
  EXPECT_NE(std::string::npos, error.find("unknown device /dev/nvme0n1"));
}

}  // namespace
