// Many `pzhost mount` processes at once against one simulated array: each
// ends in success or a clean failure, no target is ever linked to two
// snapshots, every reservation stands for a real link, and unmounting them
// all at once gives the target pool back as it was.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"
#include "tests/support/E2eWorld.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kSnapshotCount = 16;
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr long long kChildLimitMs = 60 * 1000;
constexpr const char* kTargetGroupKey = "SMCONFIG_LINK_DEVICE_STORAGE_GROUP";

const std::string kPzhost = std::string(PZ_BINARY_DIR) + "/pzhost/pzhost";
const std::string kSymsim = std::string(PZ_BINARY_DIR) + "/simulator/symsim";

hostrt::ProcessOutcome RunTool(const std::vector<std::string>& argv) {
  return e2e::RunChild(argv, kChildLimitMs);
}

// Why a mount failed, in the plug-in's last words.
std::string LastPluginError(const hostrt::ProcessOutcome& out) {
  json doc = json::parse(out.output, nullptr, false);
  if (doc.is_discarded()) return out.error;
  json errors = doc.value("pluginErrors", json::array());
  return errors.empty() ? doc.value("errors", json::array()).dump()
                        : errors.back().get<std::string>();
}

class ConcurrentMount : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pz-hardening.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    world_ = dir_ + "/world";
    home_ = dir_ + "/home";

    json demo = Json(Symsim({"init-demo", "--json"}));
    ASSERT_TRUE(demo.contains("serial") && demo.contains("host"));
    serial_ = demo["serial"].get<std::string>();
    // Only sources the size of the targets can be linked to them.
    std::set<long long> targetSizes = TargetSizes(demo);
    for (const json& s : demo["sources"])
      if (targetSizes.count(s["cylinders"].get<long long>()))
        sources_.push_back(s["path"].get<std::string>());
    ASSERT_FALSE(sources_.empty());

    Pzhost({"init", "--symcli-home", world_, "--simulated-host",
            demo["host"].get<std::string>()});
    Pzhost({"array", "add", "--serial", serial_, "--num", "1"});
    Pzhost({"config", "set", "--snap", kTargetGroupKey,
            demo["targetStorageGroup"].get<std::string>()});
    Pzhost({"config", "set", "--setting", "Host", "sleepScale", "0"});
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Symsim(std::vector<std::string> args) {
    args.insert(args.begin(), {kSymsim, "--state", world_});
    hostrt::ProcessOutcome out = RunTool(args);
    EXPECT_EQ(kExitSuccess, out.exitCode) << args[3] << ": " << out.error;
    return out.output;
  }

  std::vector<std::string> PzhostArgv(std::vector<std::string> args) {
    args.insert(args.begin(), {kPzhost, "--home", home_, "--json"});
    return args;
  }

  std::string Pzhost(std::vector<std::string> args) {
    hostrt::ProcessOutcome out = RunTool(PzhostArgv(args));
    EXPECT_EQ(kExitSuccess, out.exitCode) << args[0] << ": " << out.error;
    return out.output;
  }

  static json Json(const std::string& text) {
    json doc = json::parse(text, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << text;
    return doc;
  }

  std::set<long long> TargetSizes(const json& demo) {
    std::string group = demo["targetStorageGroup"].get<std::string>();
    json array = Json(Symsim({"show", "--json"}))["arrays"][0];
    std::set<std::string> members;
    for (const json& g : array["storageGroups"])
      if (g["name"] == group)
        for (const json& d : g["devices"]) members.insert(d.get<std::string>());
    std::set<long long> sizes;
    for (const json& d : array["devices"])
      if (members.count(d["device"].get<std::string>()))
        sizes.insert(d["cylinders"].get<long long>());
    return sizes;
  }

  json Links() {
    return Json(Symsim({"show", "--json"}))["arrays"][0]["links"];
  }

  json Reservations() {
    return Json(Pzhost({"reservations"}))["reservations"];
  }

  // One single-device backup per snapshot of the test.
  void BackUpAll(std::vector<int>* ids, std::map<int, std::string>* names) {
    for (int i = 0; i < kSnapshotCount; ++i) {
      json backup =
          Json(Pzhost({"backup", sources_[i % sources_.size()]}))["snapshot"];
      ASSERT_TRUE(backup.contains("id")) << backup.dump();
      ids->push_back(backup["id"].get<int>());
      (*names)[ids->back()] = backup["name"].get<std::string>();
    }
  }

  // Runs one pzhost verb per snapshot, all at once.
  std::vector<hostrt::ProcessOutcome> RunAtOnce(const std::string& verb,
                                                const std::vector<int>& ids) {
    std::vector<hostrt::ProcessOutcome> outcomes(ids.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ids.size(); ++i)
      threads.emplace_back([&, i] {
        outcomes[i] = RunTool(PzhostArgv({verb, std::to_string(ids[i])}));
      });
    for (std::thread& t : threads) t.join();
    return outcomes;
  }

  std::string dir_, world_, home_, serial_;
  std::vector<std::string> sources_;
};

TEST_F(ConcurrentMount, MountsShareNoTargetAndUnmountRestoresThePool) {
  std::vector<int> ids;
  std::map<int, std::string> names;  // catalog id -> array snapshot name
  ASSERT_NO_FATAL_FAILURE(BackUpAll(&ids, &names));
  ASSERT_TRUE(Links().empty());
  ASSERT_TRUE(Reservations().empty());

  std::vector<hostrt::ProcessOutcome> mounts = RunAtOnce("mount", ids);
  std::vector<int> mounted;
  for (size_t i = 0; i < mounts.size(); ++i) {
    const hostrt::ProcessOutcome& m = mounts[i];
    EXPECT_TRUE(m.started) << m.startError;
    EXPECT_FALSE(m.killedAtLimit) << "mount " << ids[i] << " hung";
    EXPECT_TRUE(m.exitCode == kExitSuccess || m.exitCode == kExitFailure)
        << "mount " << ids[i] << " exit " << m.exitCode << ": " << m.error;
    if (m.exitCode == kExitSuccess)
      mounted.push_back(ids[i]);
    else
      std::cout << "mount " << ids[i] << " failed: " << LastPluginError(m)
                << std::endl;
  }
  std::cout << "concurrent mounts: " << mounted.size() << " of " << ids.size()
            << " succeeded" << std::endl;
  RecordProperty("mountsSucceeded", static_cast<int>(mounted.size()));
  EXPECT_FALSE(mounted.empty());

  json links = Links();
  std::map<std::string, std::set<std::string>> snapshotsByTarget;
  for (const json& l : links)
    snapshotsByTarget[l["target"].get<std::string>()].insert(
        l["snapshot"].get<std::string>());
  for (const auto& [target, snaps] : snapshotsByTarget)
    EXPECT_EQ(1u, snaps.size()) << "target " << target << " linked twice";
  std::set<std::string> mountedNames;
  for (int id : mounted) mountedNames.insert(names[id]);
  for (const std::string& name : mountedNames) {
    bool linked = false;
    for (const json& l : links) linked |= l["snapshot"] == name;
    EXPECT_TRUE(linked) << "mounted snapshot " << name << " has no link";
  }

  for (const json& r : Reservations()) {
    const std::string target = r["target"].get<std::string>();
    const std::string name = names[r["snapshot"].get<int>()];
    bool matched = false;
    for (const json& l : links)
      matched |= l["target"] == target && l["snapshot"] == name;
    EXPECT_TRUE(matched) << "reservation of " << target << " for " << name
                         << " has no link";
  }

  for (const hostrt::ProcessOutcome& u : RunAtOnce("unmount", mounted))
    EXPECT_EQ(kExitSuccess, u.exitCode) << u.error;
  EXPECT_TRUE(Links().empty()) << Links().dump();
  EXPECT_TRUE(Reservations().empty()) << Reservations().dump();
}

// One after another, with every earlier snapshot still mounted, each mount
// finds a free target: a reservation or link already held never blocks a
// later job, and the held ones are never taken over.
TEST_F(ConcurrentMount, MountsOneAfterAnotherAllSucceedWhileEarlierStayMounted) {
  std::vector<int> ids;
  std::map<int, std::string> names;
  ASSERT_NO_FATAL_FAILURE(BackUpAll(&ids, &names));
  std::map<std::string, std::string> targetOf;  // snapshot name -> target
  for (size_t i = 0; i < ids.size(); ++i) {
    hostrt::ProcessOutcome m = RunTool(PzhostArgv({"mount", std::to_string(ids[i])}));
    ASSERT_EQ(kExitSuccess, m.exitCode)
        << "mount " << i + 1 << " of " << ids.size() << ": " << LastPluginError(m);
    json links = Links();
    ASSERT_EQ(i + 1, links.size()) << links.dump();
    for (const json& l : links) {
      std::string name = l["snapshot"].get<std::string>();
      std::string target = l["target"].get<std::string>();
      if (targetOf.count(name)) {
        EXPECT_EQ(targetOf[name], target) << "an earlier mount lost its target";
      }
      targetOf[name] = target;
    }
    EXPECT_EQ(i + 1, Reservations().size());
  }
  std::set<std::string> targets;
  for (const auto& entry : targetOf) targets.insert(entry.second);
  EXPECT_EQ(ids.size(), targets.size()) << "a target serves two snapshots";

  for (const hostrt::ProcessOutcome& u : RunAtOnce("unmount", ids))
    EXPECT_EQ(kExitSuccess, u.exitCode) << u.error;
  EXPECT_TRUE(Links().empty()) << Links().dump();
  EXPECT_TRUE(Reservations().empty()) << Reservations().dump();
}

}  // namespace
