// The host view: what a simulated host sees after rescans, and the bytes of
// its devices' INQUIRY data, checked with sg3-utils and the plug-in's own
// identification. The host over the real environment is driven end to end.
#include <gtest/gtest.h>

#include <fstream>

#include "hostdev/VMAXUtils.h"
#include "hostruntime/Env.h"
#include "hostruntime/PosixEnv.h"
#include "simulator/hostenv/SimulatedHostEnv.h"
#include "simulator/hostview/HostView.h"
#include "simulator/scsi/Inquiry.h"
#include "tests/runtime/TempDir.h"
#include "tests/simulator/SimWorld.h"
#include "tests/support/FakeEnv.h"

namespace {

using simtest::SimWorld;

class HostViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    std::string error;
    view_ = symsim::HostView::Open(world_.dir(), &error);
    ASSERT_TRUE(view_) << error;
  }
  std::vector<std::string> Devices(const std::string& host) {
    std::vector<std::string> paths;
    std::string error;
    EXPECT_TRUE(view_->Devices(host, &paths, &error)) << error;
    return paths;
  }
  SimWorld world_;
  nlohmann::json demo_;
  std::unique_ptr<symsim::HostView> view_;
};

// Hosts and paths the world does not know are refused. Masking shows in a
// host's listing only after a rescan; children of cascaded groups are
// visible, and INQUIRY checks a device's masking through them: a device of a
// child group answers until it leaves it. Masking and rescans of the demo
// host are driven by every end-to-end mount.
TEST_F(HostViewTest, UnknownNamesRefusedAndMaskingThroughCascadedGroups) {
  std::string sid = demo_["serial"], error;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"device", "--sid", sid, "--dev", "00300", "--count", "2", "--cyl", "50"},
           {"sg", "--sid", sid, "--name", "SG_child", "--devs", "00300:00301"},
           {"sg", "--sid", sid, "--name", "CSG_parent", "--child", "SG_child"},
           {"host", "--name", "other", "--wwn", "21:00:00:1b:32:08:45:24"},
           {"ig", "--sid", sid, "--name", "IG_other", "--wwn", "2100001B32084524"},
           {"view", "--sid", sid, "--name", "MV_other", "--ig", "IG_other", "--pg",
            "PG_demohost", "--sg", "CSG_parent"}})
    world_.MustAdmin(args);
  view_ = symsim::HostView::Open(world_.dir(), &error);
  ASSERT_TRUE(view_) << error;
  EXPECT_TRUE(Devices("other").empty());
  ASSERT_TRUE(view_->Rescan("other", {}, &error)) << error;
  const std::string kept = "symsim:other:" + sid + "_00300";
  const std::string removed = "symsim:other:" + sid + "_00301";
  EXPECT_EQ(Devices("other"), (std::vector<std::string>{kept, removed}));
  // The demo host's view is untouched by the other host's masking.
  EXPECT_EQ(Devices("demohost").size(), demo_["sources"].size());
  std::vector<uint8_t> data;
  std::vector<std::string> paths;
  EXPECT_FALSE(view_->Devices("nohost", &paths, &error));
  EXPECT_FALSE(view_->Rescan("nohost", {}, &error));
  EXPECT_FALSE(view_->Inquiry("symsim:demohost:nosuch", false, 0, &data, &error));
  EXPECT_FALSE(view_->Inquiry("/dev/sda", false, 0, &data, &error));
  ASSERT_TRUE(view_->Inquiry(removed, false, 0, &data, &error)) << error;
  std::string file = world_.WriteFile("child.txt", "00301\n");
  auto r = world_.Tool("symsg", "-sid " + sid + " -file " + file + " -sg SG_child rmall -noprompt");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(view_->Inquiry(kept, false, 0, &data, &error)) << error;
  EXPECT_FALSE(view_->Inquiry(removed, false, 0, &data, &error));
  EXPECT_NE(error.find("no longer visible"), std::string::npos) << error;
}

// Every INQUIRY mode, chosen for the world or for one device: sg_inq
// decodes what `symsim inquiry --hex` prints as a real device's data, and
// the plug-in's identification reads the array and device from the bytes.
TEST_F(HostViewTest, InquiryModesDecodeWithSgInqAndIdentify) {
  const std::string sid = demo_["serial"];
  const std::string path = demo_["sources"][1]["path"];  // device 00101
  auto run = [](std::vector<std::string> argv) {
    simtest::Result r = simtest::Run(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };
  struct Case {
    const char* mode;
    bool perDevice;
    const char* length;        // sg_inq's standard length line
    std::string naa;           // the LU designator as sg_inq prints it
    size_t descriptors;        // designation descriptors sg_inq lists
    std::vector<std::string> ids;
    const char* devSource;
  } cases[] = {
      {"long", false, "length=136", "0x60000970000197800123533030313031", 1, {sid, ""},
       "the standard inquiry vendor area"},
      {"short", false, "length=36", "0x60000970000197800123533030313031", 1, {sid, ""},
       "the device identifier"},
      {"designators", true, "length=136", "0x60000970000197800123533030313031", 5, {sid, ""},
       "the standard inquiry vendor area"},
      {"old", true, "length=136", "0x60060480000197800123533030313031", 0, {"", sid},
       "the standard inquiry vendor area"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    // A world mode, or the world in another mode and the device in this one.
    world_.MustAdmin({"inquiry-mode", c.perDevice ? "short" : c.mode});
    if (c.perDevice)
      world_.MustAdmin({"inquiry-mode", c.mode, "--sid", sid, "--devs", "00101"});
    std::string decoded = run({"sg_inq", "--inhex=" + world_.WriteFile(
        "std.hex", world_.MustAdmin({"inquiry", path, "--hex"}))});
    EXPECT_NE(decoded.find(c.length), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("Vendor identification: EMC"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("Product identification: SYMMETRIX"), std::string::npos);
    EXPECT_NE(decoded.find("Product revision level: 5978"), std::string::npos);
    decoded = run({"sg_inq", "--page=di", "--inhex=" + world_.WriteFile(
        "page.hex", world_.MustAdmin({"inquiry", path, "--page", "83", "--hex"}))});
    EXPECT_NE(decoded.find("[" + c.naa + "]"), std::string::npos) << decoded;
    size_t listed = 0;
    for (size_t at = decoded.find("Designation descriptor number"); at != std::string::npos;
         at = decoded.find("Designation descriptor number", at + 1))
      ++listed;
    EXPECT_EQ(c.descriptors, listed) << decoded;
    if (c.descriptors == 0) {
      EXPECT_NE(decoded.find("Pre-SPC descriptor"), std::string::npos);
    }

    // The plug-in's reading of the same bytes.
    std::vector<uint8_t> standard, page;
    std::string error;
    auto view = symsim::HostView::Open(world_.dir(), &error);
    ASSERT_TRUE(view->Inquiry(path, false, 0, &standard, &error)) << error;
    ASSERT_TRUE(view->Inquiry(path, true, symsim::kPageDeviceId, &page, &error)) << error;
    testing_host::FakeEnv env;
    hostrt::ScopedEnv scoped(&env);
    env.scsi["/dev/sdb"].standard = standard;
    env.scsi["/dev/sdb"].page83 = page;
    std::string vendor, product, dev;
    std::vector<std::string> ids;
    ASSERT_TRUE(getDeviceInfoBySCSIInquiry("/dev/sdb", vendor, product, ids, dev));
    EXPECT_EQ(c.ids, ids);
    EXPECT_EQ("00101", dev);
    EXPECT_TRUE(env.hasLogContaining(std::string("Device number [00101] from ") + c.devSource));
  }
}

// A simulated host over the real environment only where the settings name
// both the host and its world.
TEST(SimulatedHostSettings, OnlySettingsThatNameAHostAndItsWorldGiveOne) {
  runtime_test::TempDir home;
  hostrt::PosixEnv base(home.path());
  for (const char* settings : {"[Host]\nsysRoot = /\n", "[Host]\nsimulatedHost = demohost\n"}) {
    std::ofstream(home.File("settings.ini"), std::ios::trunc) << settings;
    std::string error;
    ASSERT_TRUE(base.ReloadSettings(&error)) << error;
    EXPECT_EQ(nullptr, symsim::SimulatedHostFromSettings(&base, &error));
    bool named = std::string(settings).find("simulatedHost") != std::string::npos;
    if (named) EXPECT_NE(std::string::npos, error.find("SYMAPI_HOME_DIR")) << error;
    else EXPECT_TRUE(error.empty()) << error;
  }
}

}  // namespace
