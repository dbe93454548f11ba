// Many `pzhost mount` processes at once against one simulated array whose
// target pool holds enough devices for all of them: every one succeeds, no
// target is ever linked to two snapshots, every reservation stands for a
// real link, and unmounting them all at once gives the target pool back as
// it was. PZ_CONCURRENT_MOUNTS (default 16) sets how many, PZ_SYMSIM_LATENCY
// a delay in ms of every tool, and PZ_REAL_SLEEPS=1 keeps the host's waits
// real (the engine's default settings, for runs by hand).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostruntime/ProcessRunner.h"
#include "tests/support/E2eWorld.h"

namespace {

using nlohmann::json;

constexpr int kExitSuccess = 0;
constexpr long long kChildLimitMs = 60 * 1000;

// Snapshots of the test: as many as mounts at once.
const int kSnapshotCount = e2e::EnvInt("PZ_CONCURRENT_MOUNTS", 16);

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
    ASSERT_TRUE(e2e::PluginReady()) << e2e::kPluginNotReady;
    home_ = w_.MakeHome("home", w_.host());
    if (e2e::EnvInt("PZ_REAL_SLEEPS", 0) == 1)
      Pzhost({"config", "set", "--setting", "Host", "sleepScale", "1"});
    int latency = e2e::EnvInt("PZ_SYMSIM_LATENCY", 0);
    if (latency > 0) w_.Symsim({"latency", std::to_string(latency)});
    for (const json& s : w_.LinkableSources()) sources_.push_back(s["path"].get<std::string>());
    ASSERT_FALSE(sources_.empty());
  }

  json Pzhost(std::vector<std::string> args) {
    e2e::Result r = w_.Pzhost(home_, args);
    EXPECT_EQ(kExitSuccess, r.exitCode) << args[0] << ": " << r.Describe();
    return r.json;
  }
  json Links() { return w_.ArrayState()["links"]; }
  json Reservations() { return Pzhost({"reservations"})["reservations"]; }

  // One single-device backup per snapshot of the test.
  void BackUpAll() {
    for (int i = 0; i < kSnapshotCount; ++i) {
      json backup = Pzhost({"backup", sources_[size_t(i) % sources_.size()]})["snapshot"];
      ASSERT_TRUE(backup.contains("id")) << backup.dump();
      ids_.push_back(backup["id"].get<int>());
      names_[ids_.back()] = backup["name"].get<std::string>();
    }
  }

  // Runs one pzhost verb per snapshot, all at once.
  std::vector<hostrt::ProcessOutcome> RunAtOnce(const std::string& verb,
                                                const std::vector<int>& ids) {
    std::vector<std::vector<std::string>> argvs;
    for (int id : ids)
      argvs.push_back({e2e::PzhostPath(), "--home", home_, "--json", verb, std::to_string(id)});
    return e2e::RunAtOnce(argvs, kChildLimitMs);
  }

  void ExpectAllUnmountedAndPoolBack(const std::vector<int>& mounted) {
    for (const hostrt::ProcessOutcome& u : RunAtOnce("unmount", mounted))
      EXPECT_EQ(kExitSuccess, u.exitCode) << u.error;
    EXPECT_TRUE(Links().empty()) << Links().dump();
    EXPECT_TRUE(Reservations().empty()) << Reservations().dump();
  }

  // Free targets of each size for every snapshot, and a few more.
  e2e::World w_{{"--targets-per-size", std::to_string(kSnapshotCount / 2 + 4)}};
  std::string home_;
  std::vector<std::string> sources_;
  std::vector<int> ids_;
  std::map<int, std::string> names_;  // catalog id -> array snapshot name
};

TEST_F(ConcurrentMount, MountsAtOnceOrOneAfterAnotherShareNoTargetAndGiveThePoolBack) {
  ASSERT_NO_FATAL_FAILURE(BackUpAll());
  ASSERT_TRUE(Links().empty());
  ASSERT_TRUE(Reservations().empty());

  // The pool holds enough targets for all: every mount succeeds.
  std::vector<hostrt::ProcessOutcome> mounts = RunAtOnce("mount", ids_);
  std::vector<int> mounted;
  for (size_t i = 0; i < mounts.size(); ++i) {
    const hostrt::ProcessOutcome& m = mounts[i];
    EXPECT_EQ(kExitSuccess, m.exitCode)
        << "mount " << ids_[i] << (m.killedAtLimit ? " hung" : " failed") << ": "
        << (m.started ? LastPluginError(m) : m.startError);
    if (m.exitCode == kExitSuccess) mounted.push_back(ids_[i]);
  }

  json links = Links();
  std::set<std::string> linked;
  for (const json& l : links) linked.insert(l["snapshot"].get<std::string>());
  for (int id : mounted)
    EXPECT_TRUE(linked.count(names_[id])) << "mounted snapshot " << names_[id] << " has no link";
  e2e::ExpectLinksMatchReservations(links, Reservations(), [&](const json& r) {
    auto it = names_.find(r["snapshot"].get<int>());
    return it == names_.end() ? std::string() : it->second;
  });
  ExpectAllUnmountedAndPoolBack(mounted);

  // One after another, with every earlier snapshot still mounted, each mount
  // finds a free target: a reservation or link already held never blocks a
  // later job, and the held ones are never taken over.
  std::map<std::string, std::string> targetOf;  // snapshot name -> target
  for (size_t i = 0; i < ids_.size(); ++i) {
    e2e::Result m = w_.Pzhost(home_, {"mount", std::to_string(ids_[i])});
    ASSERT_EQ(kExitSuccess, m.exitCode) << "mount " << i + 1 << " of " << ids_.size() << ": "
                                        << m.Describe();
    json links = Links();
    ASSERT_EQ(i + 1, links.size()) << links.dump();
    for (const json& l : links) {
      std::string& target = targetOf[l["snapshot"].get<std::string>()];
      EXPECT_TRUE(target.empty() || target == l["target"]) << "an earlier mount lost its target";
      target = l["target"].get<std::string>();
    }
    EXPECT_EQ(i + 1, Reservations().size());
  }
  std::set<std::string> targets;
  for (const auto& entry : targetOf) targets.insert(entry.second);
  EXPECT_EQ(ids_.size(), targets.size()) << "a target serves two snapshots";
  ExpectAllUnmountedAndPoolBack(ids_);
}

}  // namespace
