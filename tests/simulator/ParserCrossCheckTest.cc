// The plug-in's own command layer (through the pzarray diagnostic program)
// against a simulated world: what its parsers read off the simulator's
// outputs is what the world holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/simulator/SimWorld.h"

namespace {

class ParserCrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(Pzarray().c_str(), X_OK) != 0) GTEST_SKIP() << "pzarray not built";
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
  }
  static std::string Pzarray() { return std::string(PZ_BINARY_DIR) + "/pzarray/pzarray"; }
  nlohmann::json Op(std::vector<std::string> args) {
    args.insert(args.begin(), {Pzarray(), "--symcli-home", world_.dir()});
    simtest::Result out = simtest::Run(args);
    nlohmann::json j = nlohmann::json::parse(out.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << args[3] << ": " << out.out << out.err;
    return j;
  }
  simtest::SimWorld world_;
  nlohmann::json demo_;
  std::string sid_;
};

TEST_F(ParserCrossCheck, MountAndUnmountSteps) {
  EXPECT_EQ(Op({"GetSEVersion"})["version"], 9020106);
  EXPECT_TRUE(Op({"CreateSnaps", sid_, "snapX", "00100,00102"})["result"]);
  auto infos = Op({"GetSnapInfoList", sid_, "snapX", "00100,00102,00101"})["infos"];
  ASSERT_EQ(infos.size(), 3u);
  EXPECT_TRUE(infos[0]["exists"]);
  EXPECT_TRUE(infos[1]["exists"]);
  EXPECT_FALSE(infos[2]["exists"]);

  auto free = Op({"GetFreeTDEVListBySG", sid_, "SG_snap_targets"});
  ASSERT_TRUE(free["result"]);
  ASSERT_EQ(free["luns"].size(), 40u);
  EXPECT_EQ(free["luns"][0]["deviceId"], "00200");
  EXPECT_EQ(free["luns"][0]["cylinders"], 1092);
  EXPECT_EQ(free["luns"][20]["cylinders"], 2185);

  EXPECT_TRUE(Op({"LinkTarget", sid_, "snapX", "00100:00200,00102:00214"})["result"]);
  auto linked = Op({"IsSnapLinked", sid_, "snapX", "00100:00200,00102:00215"})["list"]["params"];
  EXPECT_TRUE(linked[0]["targetLinked"]);
  EXPECT_FALSE(linked[1]["targetLinked"]);
  EXPECT_EQ(Op({"GetDevListLinked", sid_})["devs"].size(), 2u);
  EXPECT_EQ(Op({"GetFreeTDEVListBySG", sid_, "SG_snap_targets"})["luns"].size(), 38u);

  auto byHba = Op({"GetSGListByHBA", sid_, demo_["initiators"][0]})["sgByHba"];
  std::string mount = demo_["mountStorageGroup"];
  EXPECT_EQ(byHba[demo_["initiators"][0].get<std::string>()],
            nlohmann::json::array({mount, demo_["sourceStorageGroup"]}));
  EXPECT_TRUE(Op({"SGDevAdd", sid_, "00200,00214,00201", mount})["result"]);
  EXPECT_EQ(Op({"GetDevListBySG", sid_, mount})["devs"].size(), 3u);
  // A mapped target is no longer free either.
  EXPECT_EQ(Op({"GetFreeTDEVListBySG", sid_, "SG_snap_targets"})["luns"].size(), 37u);
  EXPECT_EQ(Op({"GetSGListByDevice", sid_, "00200"})["sgs"],
            nlohmann::json::array({mount, "SG_snap_targets"}));
  // Sizes read from plain lines (a path in the Physical column) too.
  world_.MustAdmin({"set", "se_host", demo_["host"]});
  auto props = Op({"GetDevPropsList", sid_, "100,102,200"})["props"];
  EXPECT_EQ(props["00100"]["cylinders"], 1092);
  EXPECT_EQ(props["00102"]["cylinders"], 2185);
  EXPECT_EQ(props["00200"]["cylinders"], 1092);
  EXPECT_TRUE(Op({"SGDevRemove", sid_, "00200,00214,00201", mount})["result"]);
  EXPECT_TRUE(Op({"UnlinkTarget", sid_, "snapX", "00100:00200,00102:00214"})["result"]);
  EXPECT_TRUE(Op({"DeleteSnaps", sid_, "snapX", "00100,00102"})["result"]);
  EXPECT_FALSE(Op({"GetSnapInfo", sid_, "00100", "snapX"})["info"]["exists"]);
}

TEST_F(ParserCrossCheck, CascadedGroupsAndRestores) {
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c", "--devs", "00220"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c"});
  EXPECT_EQ(Op({"GetParentSGList", sid_})["sgs"], nlohmann::json::array({"CSG_p"}));
  EXPECT_EQ(Op({"GetChildSGList", sid_, "CSG_p"})["children"], nlohmann::json::array({"SG_c"}));
  world_.MustAdmin({"set", "se_version", "9.1.0.5"});
  EXPECT_EQ(Op({"GetChildSGList", sid_, "CSG_p"})["children"], nlohmann::json::array({"SG_c"}));

  world_.MustAdmin({"set", "restore_listings", "2"});
  EXPECT_TRUE(Op({"CreateSnaps", sid_, "snapR", "00100,00101"})["result"]);
  EXPECT_TRUE(Op({"RestoreSnaps", sid_, "snapR", "00100,00101"})["result"]);
  auto sessions = Op({"GetRestoreSessions", sid_, "00100,00101"})["sessions"];
  EXPECT_EQ(sessions["snapR"], nlohmann::json::array({"00100", "00101"}));
  EXPECT_TRUE(Op({"RestoreCleanupAll", sid_, "00100,00101"})["result"]);
  EXPECT_TRUE(Op({"GetRestoreSessions", sid_, "00100,00101"})["sessions"].empty());
}

}  // namespace
