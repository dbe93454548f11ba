// The array's rules: snapshot limits, link and unlink conditions, restores
// that progress and must be terminated, group membership messages, command
// lines the tools refuse, and many tool processes at once. The lines the
// plug-in's command layer writes, and the markers its parsers look for, are
// run against the simulator by every end-to-end verb.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <thread>

#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Result;
using simtest::SimWorld;
using simtest::TableRows;
using simtest::Words;

class ArrayRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo_ = world_.InitDemo();
    sid_ = demo_["serial"];
  }
  Result Snapvx(const std::string& args) {
    return world_.Tool("symsnapvx", "-sid " + sid_ + " " + args);
  }
  std::string File(const std::string& content) {
    return world_.WriteFile("f" + std::to_string(files_++) + ".txt", content);
  }
  int Establish(const std::string& dev, const std::string& name) {
    return Snapvx("-file " + File(dev + "\n") + " -name " + name + " establish -noprompt").exitCode;
  }
  // `op` on the devices or pairs of `file` in snapshot `name`.
  int On(const std::string& file, const std::string& name, const std::string& op) {
    return Snapvx("-file " + File(file) + " -snapshot_name " + name + " " + op + " -noprompt")
        .exitCode;
  }
  SimWorld world_;
  nlohmann::json demo_;
  std::string sid_;
  int files_ = 0;
};

// The model's limit (1024 for a PowerMax) is what `show` reports; a small
// one keeps the test short, the rule is the same.
TEST_F(ArrayRulesTest, SnapshotLimitPerSource) {
  EXPECT_EQ(world_.Show()["arrays"][0]["snapLimit"], 1024);
  world_.MustAdmin({"array", "--serial", sid_, "--model", "PowerMax_8000", "--snap-limit", "3"});
  EXPECT_EQ(Establish("00100", "g"), 0);
  EXPECT_EQ(Establish("00100", "g"), 0);  // a second generation
  EXPECT_EQ(Establish("00100", "h"), 0);
  Result r = Snapvx("-file " + File("00101\n00100\n") + " -name i establish -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("The maximum number of sessions has been exceeded"), std::string::npos);
  // Nothing was created for the other device of the failed command.
  r = Snapvx("-devs 00101 -snapshot_name i list");
  EXPECT_NE(r.exitCode, 0);
  r = Snapvx("-devs 00100 -snapshot_name g list");
  ASSERT_EQ(TableRows(r.out, "Flags:").size(), 1u);
  EXPECT_EQ(Words(TableRows(r.out, "Flags:")[0])[2], "2");  // generations
}

TEST_F(ArrayRulesTest, LinkNeedsAFreeTargetOfTheSameSize) {
  ASSERT_EQ(Establish("00100", "s"), 0);
  EXPECT_NE(On("00100 00214\n", "s", "link"), 0);  // 2185 cylinders against 1092
  EXPECT_NE(On("00100 00200\n", "nosuch", "link"), 0);
  EXPECT_NE(On("00100 00100\n", "s", "link"), 0);
  EXPECT_EQ(On("00100 00200\n", "s", "link"), 0);
  EXPECT_NE(On("00100 00200\n", "s", "link"), 0);  // linked already
  ASSERT_EQ(Establish("00101", "s"), 0);
  EXPECT_NE(On("00101 00200\n", "s", "link"), 0);
  // One bad pair fails the whole command and links nothing.
  EXPECT_NE(On("00101 00201\n00101 00214\n", "s", "link"), 0);
  auto links = world_.Show()["arrays"][0]["links"];
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0]["target"], "00200");
  // A target in a restore session is not taken either.
  ASSERT_EQ(Establish("00203", "t"), 0);
  ASSERT_EQ(On("00203\n", "t", "restore"), 0);
  EXPECT_NE(On("00101 00203\n", "s", "link"), 0);
}

TEST_F(ArrayRulesTest, UnlinkAndTerminateFollowTheLinks) {
  ASSERT_EQ(Establish("00100", "u"), 0);
  EXPECT_NE(On("00100 00200\n", "u", "unlink"), 0);  // not linked
  ASSERT_EQ(On("00100 00200\n", "u", "link"), 0);
  Result r = Snapvx("-file " + File("00100\n") + " -snapshot_name u terminate -noprompt");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("linked"), std::string::npos) << r.err;
  EXPECT_NE(On("00101 00200\n", "u", "unlink"), 0);  // another source
  EXPECT_EQ(On("00100 00200\n", "u", "unlink"), 0);
  EXPECT_NE(On("00100 00200\n", "u", "unlink"), 0);
  EXPECT_EQ(On("00100\n", "u", "terminate"), 0);
}

TEST_F(ArrayRulesTest, LinkIsDefinedAfterConfiguredListings) {
  world_.MustAdmin({"set", "link_define_listings", "2"});
  ASSERT_EQ(Establish("00100", "d"), 0);
  ASSERT_EQ(On("00100 00200\n", "d", "link"), 0);
  EXPECT_NE(On("00100 00200\n", "d", "unlink"), 0);  // still defining
  Result r = Snapvx("-devs 00100 -snapshot_name d list -linked");
  EXPECT_EQ(Words(TableRows(r.out, "Flgs:")[0])[3][3], '.');
  EXPECT_NE(On("00100 00200\n", "d", "unlink"), 0);
  r = Snapvx("list -linked -by_tgt -lndev 00200");
  EXPECT_EQ(Words(TableRows(r.out, "Flgs:")[0])[4][3], 'X');
  EXPECT_EQ(On("00100 00200\n", "d", "unlink"), 0);
  // Forced unlinks do not wait for the definition; a copy link is copying.
  ASSERT_EQ(On("00100 00200\n", "d", "link -copy"), 0);
  r = Snapvx("-devs 00100 -snapshot_name d list -linked");
  EXPECT_EQ(Words(TableRows(r.out, "Flgs:")[0])[3][1], 'I');
  EXPECT_EQ(On("00100 00200\n", "d", "unlink -symforce"), 0);
  // Or after configured seconds.
  world_.MustAdmin({"set", "link_define_listings", "0"});
  world_.MustAdmin({"set", "link_define_seconds", "3600"});
  ASSERT_EQ(On("00100 00200\n", "d", "link"), 0);
  EXPECT_NE(On("00100 00200\n", "d", "unlink"), 0);
  world_.MustAdmin({"set", "link_define_seconds", "0"});
  EXPECT_EQ(On("00100 00200\n", "d", "unlink"), 0);
}

// A restore takes three progress listings unless a setting says otherwise
// (instant restores remain a setting). Until it is terminated, it is not
// terminated early, no other restore of the device starts, and its snapshot
// stays.
TEST_F(ArrayRulesTest, RestoreProgressesAndMustBeTerminated) {
  struct Case {
    std::vector<std::string> set;
    std::vector<std::string> percents;
  } cases[] = {
      {{}, {"33", "66", "100"}},
      {{"restore_listings", "4"}, {"25", "50", "75", "100"}},
      {{"restore_listings", "0"}, {"100"}},
      {{"restore_seconds", "0"}, {"100"}},
  };
  const std::string dev = File("00100\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percents.size());
    if (!c.set.empty()) world_.MustAdmin({"set", c.set[0], c.set[1]});
    ASSERT_EQ(Establish("00100", "d"), 0);
    ASSERT_EQ(On("00100\n", "d", "restore"), 0);
    // The snapshot listing shows the restore in flag 2.
    Result r = Snapvx("-devs 00100 -snapshot_name d list");
    EXPECT_EQ(Words(TableRows(r.out, "Flags:")[0])[3][2], 'X');
    std::vector<std::string> seen;
    for (size_t i = 0; i < c.percents.size(); ++i) {
      r = Snapvx("-file " + dev + " -snapshot_name d list -restored -detail");
      ASSERT_EQ(r.exitCode, 0) << r.err;
      std::string rows = r.out.substr(r.out.rfind("(%)"));
      rows = rows.substr(rows.find("00100"));
      seen.push_back(Words(rows.substr(0, rows.find('\n'))).back());
      if (i == 0 && c.percents.size() > 1) {
        EXPECT_NE(On("00100\n", "d", "terminate -restored"), 0);  // not done yet
      }
    }
    EXPECT_EQ(seen, c.percents);
    ASSERT_EQ(Establish("00100", "d2"), 0);
    EXPECT_NE(On("00100\n", "d2", "restore"), 0);
    EXPECT_NE(On("00100\n", "d", "terminate"), 0);  // the snapshot has a restore session
    ASSERT_EQ(On("00100\n", "d", "terminate -restored"), 0);
    ASSERT_EQ(On("00100\n", "d", "terminate"), 0);
    ASSERT_EQ(On("00100\n", "d2", "terminate"), 0);
  }
  ASSERT_EQ(Establish("00100", "d2"), 0);
  EXPECT_EQ(On("00100\n", "d2", "restore"), 0);
}

// The admin program refuses what the world cannot hold and changes nothing.
TEST_F(ArrayRulesTest, AdminRefusesBadSettingsAndMissingChildren) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"latency", "-5"}, "0 or more"},
      {{"set", "restore_seconds", "abc"}, "whole number"},
      {{"set", "latency_ms", "-1"}, "whole number"},
      {{"set", "se_version", "new"}, "version"},
      {{"set", "inquiry_mode", "sideways"}, "long, short, designators, old"},
      {{"set", "se_host", "nohost"}, "no simulated host"},
      {{"set", "restore_speed", "3"}, "unknown setting restore_speed"},
      {{"inquiry-mode", "short", "--devs", "00100"}, "--sid and --devs"},
      {{"inquiry-mode", "short", "--sid", sid_, "--devs", "0FFF0"}, "no device 0FFF0"},
      {{"sg", "--sid", sid_, "--name", "CSG_new", "--child", "SG_missing"},
       "The specified Storage Group (SG_missing) was not found"},
  };
  nlohmann::json before = world_.Show();
  for (const Case& c : cases) {
    Result r = world_.Admin(c.args);
    EXPECT_NE(r.exitCode, 0) << c.args[0];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[0] << ": " << r.err;
  }
  EXPECT_EQ(world_.Show(), before);

  // Without --state the world is the one SYMAPI_HOME_DIR names.
  setenv("SYMAPI_HOME_DIR", world_.dir().c_str(), 1);
  Result r = simtest::Run({simtest::SymsimPath(), "set", "latency_ms", "7"});
  unsetenv("SYMAPI_HOME_DIR");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(world_.Show()["settings"]["latency_ms"], "7");
}

TEST_F(ArrayRulesTest, GroupMembershipIsAllOrNothing) {
  std::string mount = demo_["mountStorageGroup"];
  auto sg = [&](const std::string& devs, const std::string& op) {
    return world_.Tool("symsg", "-sid " + sid_ + " -file " + File(devs) + " -sg " + mount + " " +
                                    op + " -noprompt");
  };
  ASSERT_EQ(sg("00200\n", "addall").exitCode, 0);
  Result r = sg("00201\n00200\n", "addall");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("The device is already a member of the storage group"), std::string::npos);
  r = sg("00202\n00201\n", "rmall");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("was not found"), std::string::npos);
  auto groups = world_.Show()["arrays"][0]["storageGroups"];
  for (const auto& g : groups) {
    if (g["name"] == mount) { EXPECT_EQ(g["devices"], nlohmann::json::array({"00200"})); }
  }
  EXPECT_NE(sg("0FFF0\n", "addall").exitCode, 0);
  EXPECT_NE(world_.Tool("symsg", "-sid " + sid_ + " -file " + File("00200\n") +
                                     " -sg nosuch addall -noprompt").exitCode, 0);
}

// What the tools refuse, as the real ones do: a failing exit code and the
// text the plug-in's parsers or an operator read.
TEST_F(ArrayRulesTest, RefusedCommandLinesFailWithTheRealTexts) {
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "SG_c1", "--devs", "00220"});
  world_.MustAdmin({"sg", "--sid", sid_, "--name", "CSG_p", "--child", "SG_c1"});
  world_.MustAdmin({"device", "--sid", sid_, "--dev", "00400", "--cyl", "10"});
  std::string s = "-sid " + sid_ + " ";
  struct Case {
    const char* tool;
    std::string args;
    const char* text;
  } cases[] = {
      {"symsnapvx", s + "-bogus list", "-bogus"},
      {"symsnapvx", s + "list -devs", "-devs"},
      {"symsnapvx", "-sid 999999999999 list", ""},
      {"symsnapvx", s + "-file " + File("0FFFE\n") + " -name x establish -noprompt", ""},
      {"symsnapvx", s + "list -linked -by_tgt", ""},
      {"symsnapvx", s + "-devs 00102 -snapshot_name none list", "No snapshot was found"},
      {"symsg", s + "frobnicate", ""},
      {"symsg", s + "-file " + File("00222\n") + " -sg CSG_p addall -noprompt",
       "Individual devices cannot be added to or removed"},
      {"symaccess", s + "-type storage list -dev 00400", "No Storage groups could be found"},
      {"symaccess", s + "-type initiator -wwn 10000000c9ffffff list -detail -v", "was not found"},
      {"symaccess", s + "list view -name nosuch -v", "was not found"},
      {"symdev", s + "list -devs 0FFFF -cyl", ""},
      {"symdev", s + "list -sg nosuch", ""},
  };
  for (const Case& c : cases) {
    simtest::Result r = world_.Tool(c.tool, c.args);
    EXPECT_NE(r.exitCode, 0) << c.tool << " " << c.args;
    EXPECT_FALSE(r.err.empty()) << c.tool << " " << c.args;
    EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << c.tool << " " << c.args << "\n"
                                                               << r.out << r.err;
  }
  // The last digits of the serial name the array too.
  EXPECT_NE(world_.Tool("symdev", "-sid 123 list -devs 100").out.find(sid_), std::string::npos);
}

// Many tool processes at once: every invocation is one transaction, so the
// state stays consistent.
TEST_F(ArrayRulesTest, ParallelLinksNeverShareATarget) {
  ASSERT_EQ(Snapvx("-file " + File("00100\n00101\n") + " -name base establish -noprompt")
                .exitCode, 0);
  // Eight workers race for the same four targets; each target is linked once.
  constexpr int kWorkers = 8;
  std::vector<int> codes(kWorkers);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      std::string target = "0020" + std::to_string(i % 4);
      std::string src = i % 2 ? "00101" : "00100";
      std::string file = world_.WriteFile("l" + std::to_string(i), src + " " + target + "\n");
      codes[i] = Snapvx("-file " + file + " -snapshot_name base link -noprompt").exitCode;
    });
  }
  for (auto& t : threads) t.join();
  int ok = 0;
  for (int c : codes) ok += c == 0;
  EXPECT_EQ(ok, 4);
  auto links = world_.Show()["arrays"][0]["links"];
  std::set<std::string> targets;
  for (const auto& l : links) targets.insert(l["target"].get<std::string>());
  EXPECT_EQ(links.size(), 4u);
  EXPECT_EQ(targets.size(), 4u);
  EXPECT_EQ(world_.Audit().size(), static_cast<size_t>(kWorkers + 1));
}

TEST_F(ArrayRulesTest, ParallelSnapshotsAreAllCounted) {
  constexpr int kWorkers = 6, kEach = 4;
  std::vector<std::thread> threads;
  std::vector<int> failures(kWorkers, 0);
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      std::string file = world_.WriteFile("e" + std::to_string(i) + ".txt", "00100\n00102\n");
      for (int k = 0; k < kEach; ++k) {
        Result r = Snapvx("-file " + file + " -name w" + std::to_string(i) +
                          " establish -noprompt");
        failures[i] += r.exitCode != 0;
        Snapvx("-devs 00100 list");
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  EXPECT_EQ(world_.Show()["arrays"][0]["snapshots"].size(),
            static_cast<size_t>(kWorkers * kEach * 2));
}

}  // namespace
