// Many tool processes at once: every invocation is one transaction, so the
// state stays consistent.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tests/simulator/SimWorld.h"

namespace {

using simtest::Result;
using simtest::SimWorld;

class Concurrency : public ::testing::Test {
 protected:
  SimWorld world;
  std::string sid = world.InitDemo()["serial"];
};

TEST_F(Concurrency, ParallelLinksNeverShareATarget) {
  ASSERT_EQ(world.Tool("symsnapvx", "-sid " + sid + " -file " +
                                        world.WriteFile("s.txt", "00100\n00101\n") +
                                        " -name base establish -noprompt").exitCode, 0);
  // Eight workers race for the same four targets; each target is linked once.
  constexpr int kWorkers = 8;
  std::vector<int> codes(kWorkers);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      std::string target = "0020" + std::to_string(i % 4);
      std::string src = i % 2 ? "00101" : "00100";
      std::string file = world.WriteFile("l" + std::to_string(i) + ".txt", src + " " + target + "\n");
      codes[i] = world.Tool("symsnapvx", "-sid " + sid + " -file " + file +
                                             " -snapshot_name base link -noprompt").exitCode;
    });
  }
  for (auto& t : threads) t.join();
  int ok = 0;
  for (int c : codes) ok += c == 0;
  EXPECT_EQ(ok, 4);
  auto links = world.Show()["arrays"][0]["links"];
  std::set<std::string> targets;
  for (const auto& l : links) targets.insert(l["target"].get<std::string>());
  EXPECT_EQ(links.size(), 4u);
  EXPECT_EQ(targets.size(), 4u);
  EXPECT_EQ(world.Audit().size(), static_cast<size_t>(kWorkers + 1));
}

TEST_F(Concurrency, ParallelSnapshotsAreAllCounted) {
  constexpr int kWorkers = 6, kEach = 4;
  std::vector<std::thread> threads;
  std::vector<int> failures(kWorkers, 0);
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      std::string file = world.WriteFile("e" + std::to_string(i) + ".txt", "00100\n00102\n");
      for (int k = 0; k < kEach; ++k) {
        Result r = world.Tool("symsnapvx", "-sid " + sid + " -file " + file + " -name w" +
                                               std::to_string(i) + " establish -noprompt");
        failures[i] += r.exitCode != 0;
        world.Tool("symsnapvx", "-sid " + sid + " -devs 00100 list");
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  EXPECT_EQ(world.Show()["arrays"][0]["snapshots"].size(),
            static_cast<size_t>(kWorkers * kEach * 2));
}

}  // namespace
