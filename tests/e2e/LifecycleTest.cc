// The snapshot lifecycle through pzhost against the simulated array.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

constexpr int kCreated = 5, kMapped = 12, kUnmapped = 14, kReverted = 22,
              kVanished = 24;
constexpr int kErrRevertMapped = 60551;

nlohmann::json Reservations(World& w, const std::string& home) {
  return Ok(w, home, {"reservations"}).json.value("reservations", nlohmann::json::array());
}

TEST(Lifecycle, DemoRunsEveryStep) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  Result r = RunProgram({PzhostPath(), "--json", "demo"});
  ASSERT_EQ(0, r.exitCode) << r.Describe();
  ASSERT_TRUE(r.json.contains("steps")) << r.out;
  EXPECT_GE(r.json["steps"].size(), 10u);
  for (const auto& step : r.json["steps"])
    EXPECT_TRUE(step.value("ok", false)) << step.dump(2);
}

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
    ASSERT_FALSE(w.serial().empty());
    home = w.MakeHome("host1", w.host());
  }
  World w;
  std::string home;
};

TEST_F(LifecycleTest, BackupMountRevertUnmountDelete) {
  Result backup = Ok(w, home, {"backup", w.Source(0), w.Source(2)});
  int id = World::SnapshotId(backup);
  ASSERT_GT(id, 0);
  const std::string snap = std::to_string(id);
  std::string name = backup.json["snapshot"]["name"];
  EXPECT_TRUE(std::regex_match(name, std::regex("[A-Za-z0-9_-]{1,32}"))) << name;
  nlohmann::json devs = Devices(backup);
  ASSERT_EQ(2u, devs.size());
  std::set<int> ids;
  for (const auto& d : devs) {
    EXPECT_EQ(kCreated, d["status"].get<int>());
    ids.insert(d["smSnapId"].get<int>());
    // Item 6: serial|device|name|, the name as issued.
    std::string md = d["metadata"].value("6", "");
    EXPECT_EQ(0u, md.find(w.serial() + "|")) << md;
    EXPECT_TRUE(Contains(md, "|" + name + "|")) << md;
  }
  EXPECT_EQ(2u, ids.size()) << "every device has its own SMSnapId";

  Result mount = Ok(w, home, {"mount", snap});
  ASSERT_EQ(2u, mount.json["paths"].size());
  // What mount shows without inquiring again is what INQUIRY reads there.
  Result devices = w.Pzhost(home, {"devices"});
  std::map<std::string, nlohmann::json> inquired;
  for (const auto& d : devices.json["devices"]) inquired[d.value("path", "")] = d;
  for (const auto& p : mount.json["paths"]) {
    EXPECT_TRUE(p.value("verified", false));
    auto found = inquired.find(p.value("path", ""));
    ASSERT_NE(found, inquired.end()) << p.dump() << "\n" << devices.Describe();
    const nlohmann::json& d = found->second;
    EXPECT_EQ("EMC", d.value("vendor", ""));
    EXPECT_EQ(d.value("serial", "?"), p.value("serial", ""));
    EXPECT_EQ(d.value("device", "?"), p.value("device", ""));
  }
  for (const auto& d : Devices(mount)) {
    EXPECT_EQ(kMapped, d["status"].get<int>());
    EXPECT_FALSE(d["devicePath"].get<std::string>().empty());
    EXPECT_TRUE(ids.count(d["smSnapId"].get<int>())) << "same SMSnapId";
  }
  // The holders of the reservations are the devices of the snapshot.
  nlohmann::json held = Reservations(w, home);
  ASSERT_EQ(2u, held.size());
  for (const auto& r : held) {
    EXPECT_TRUE(ids.count(r["smSnapId"].get<int>()));
    EXPECT_EQ(id, r["snapshot"].get<int>());
  }

  // Revert is refused while mounted, and stays refused: the failed call
  // must not make the catalog forget the mount.
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result revert = w.Pzhost(home, {"revert", "--yes", snap});
    EXPECT_EQ(1, revert.exitCode) << revert.Describe();
    bool refused = false;
    for (const auto& d : Devices(revert))
      if (d["errorCode"].get<int>() == kErrRevertMapped) refused = true;
    EXPECT_TRUE(refused) << revert.out;
    EXPECT_TRUE(Contains(revert.err, "60551")) << revert.err;
  }

  for (const auto& d : Devices(Ok(w, home, {"unmount", snap}))) {
    EXPECT_EQ(kUnmapped, d["status"].get<int>());
    EXPECT_EQ("", d["devicePath"].get<std::string>());
  }
  EXPECT_TRUE(Reservations(w, home).empty());

  for (const auto& d : Devices(Ok(w, home, {"revert", "--yes", snap})))
    EXPECT_EQ(kReverted, d["status"].get<int>());

  // A second mount of the same snapshot presents the same SMSnapIds again.
  Ok(w, home, {"mount", snap});
  for (const auto& r : Reservations(w, home))
    EXPECT_TRUE(ids.count(r["smSnapId"].get<int>()));
  EXPECT_EQ(1, w.Pzhost(home, {"delete", snap}).exitCode) << "delete of a mounted snapshot";
  Ok(w, home, {"unmount", snap});
  Ok(w, home, {"delete", snap});
  EXPECT_TRUE(w.Catalog(home).empty());
  EXPECT_EQ(1, w.Pzhost(home, {"mount", snap}).exitCode);
}

TEST_F(LifecycleTest, ReconcileFindsSnapshotTerminatedBehindTheHostsBack) {
  std::string keep = Backup(w, home, {w.Source(0)});
  Result lost = Ok(w, home, {"backup", w.Source(1)});
  int lostId = World::SnapshotId(lost);
  std::string name = lost.json["snapshot"]["name"];
  std::string file = w.dir() + "/devs.txt";
  std::ofstream(file) << w.SourceDevice(1) << "\n";
  Result term = RunProgram({w.world() + "/bin/symsnapvx", "-sid", w.serial(),
                            "-file", file, "-snapshot_name", name,
                            "terminate", "-noprompt"});
  ASSERT_EQ(0, term.exitCode) << term.Describe();

  Result rec = Ok(w, home, {"reconcile"});
  ASSERT_EQ(1u, rec.json["vanished"].size()) << rec.out;
  EXPECT_EQ(lostId, rec.json["vanished"][0]["snapshot"].get<int>());
  for (const auto& s : w.Catalog(home)) {
    int status = s["devices"][0]["status"].get<int>();
    EXPECT_EQ(s["id"].get<int>() == lostId ? kVanished : kCreated, status);
  }
  // The vanished snapshot cannot be reverted from, and deletes without
  // array work; the other one deletes on the array.
  EXPECT_EQ(1, w.Pzhost(home, {"revert", "--yes", std::to_string(lostId)}).exitCode);
  Ok(w, home, {"delete", std::to_string(lostId)});
  Ok(w, home, {"delete", keep});
  EXPECT_TRUE(w.Catalog(home).empty());
}

}  // namespace
}  // namespace e2e
