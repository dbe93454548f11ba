// Two backup hosts (two simulated hosts, one pzhost home each) on one
// PostgreSQL host database, drawing link targets from one target storage
// group of one simulated array: concurrent mounts of both hosts never share a
// target, every reservation stands for a link, and each host sees the other's
// reservations but releases only stale ones of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostruntime/PgHostDatabase.h"
#include "hostruntime/ProcessRunner.h"
#include "tests/e2e/Steps.h"
#include "tests/pgdb/PgTestServer.h"
#include "tests/support/E2eWorld.h"

namespace {

using e2e::Result;
using nlohmann::json;

// Snapshots (and concurrent mounts) of each host: half of
// PZ_CONCURRENT_MOUNTS (default 16, for runs by hand); the target pool holds
// enough for all.
const int kSnapshotsPerHost = e2e::EnvInt("PZ_CONCURRENT_MOUNTS", 16) / 2;
constexpr int kExitSuccess = 0;
constexpr long long kChildLimitMs = 120 * 1000;
constexpr const char* kTargetGroupKey = "SMCONFIG_LINK_DEVICE_STORAGE_GROUP";
// The second simulated host and its own initiator.
constexpr const char* kHostB = "hostb";
constexpr const char* kHostBWwn = "10000000c9b2c301";
// A device the second host's mount group holds from the start.
constexpr const char* kHostBInUseDevice = "00F01";

bool InCi() {
  const char* ci = getenv("CI");
  return ci && std::string(ci) == "true";
}

// One host: its home and the snapshots it backed up.
struct Host {
  std::string name;
  std::string home;
  std::string mountGroup;
  std::vector<std::string> sources;  // paths of sources the targets can take
  std::vector<int> snapshots;        // catalog ids
};

class SharedDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pgdb_test::ServerParams(&server)) {
      if (InCi()) FAIL() << "CI has no PostgreSQL server: " << pgdb_test::kNoServer;
      GTEST_SKIP() << pgdb_test::kNoServer;
    }
    static std::atomic<int> counter{0};
    schema = "pzshared_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    raw.reset(new pgdb_test::RawConnection(server));
    ASSERT_TRUE(raw->ok()) << raw->error();
    ASSERT_TRUE(raw->Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE"));
    ASSERT_TRUE(raw->Exec("CREATE SCHEMA " + schema)) << raw->lastError();
    conninfo = server.conninfo + " options='-c search_path=" + schema + "'";

    ASSERT_TRUE(e2e::PluginReady()) << e2e::kPluginNotReady;
    a = {w.host(), "", w.demo().value("mountStorageGroup", ""), {}, {}};
    b = {kHostB, "", std::string("SG_") + kHostB + "_mount", {}, {}};
    AddHostB();
    MakeHome(&a, "a");
    MakeHome(&b, "b");
    // The array was added on the first host only: the second one knows it
    // through the shared database.
    e2e::Ok(w, a.home, {"array", "add", "--serial", w.serial(), "--num", "1"});
    Result arrays = e2e::Ok(w, b.home, {"array", "list"});
    ASSERT_EQ(1u, arrays.json["arrays"].size()) << arrays.out;
    ASSERT_EQ(w.serial(), arrays.json["arrays"][0].value("serial", ""));
    FindSources(&a);
    FindSources(&b);
    // PZ_SYMSIM_LATENCY: a delay in ms of every tool, for runs by hand.
    int latency = e2e::EnvInt("PZ_SYMSIM_LATENCY", 0);
    if (latency > 0) {
      ASSERT_NO_FATAL_FAILURE(e2e::SymsimAll(w, {{"latency", std::to_string(latency)}}));
    }
  }

  void TearDown() override {
    if (raw) raw->Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
  }

  // The second host sees the demo's sources through a source group and a
  // masking view of its own, and has its own mount group presented by another
  // view. (The plug-in maps into the lowest-named group behind the host's
  // views: the mount group, as on the demo host.)
  void AddHostB() {
    std::string pg = "PG_" + w.host();
    std::string ig = std::string("IG_") + kHostB;
    const std::string& mountGroup = b.mountGroup;
    std::string sourceGroup = std::string("SG_") + kHostB + "_src";
    std::string sources;
    for (const json& s : w.demo()["sources"])
      sources += (sources.empty() ? "" : ",") + s["device"].get<std::string>();
    ASSERT_NO_FATAL_FAILURE(e2e::SymsimAll(w, {
             {"host", "--name", kHostB, "--wwn", kHostBWwn},
             {"ig", "--sid", w.serial(), "--name", ig, "--wwn", kHostBWwn},
             {"device", "--sid", w.serial(), "--dev", kHostBInUseDevice, "--cyl", "1092"},
             {"sg", "--sid", w.serial(), "--name", mountGroup, "--devs", kHostBInUseDevice},
             {"sg", "--sid", w.serial(), "--name", sourceGroup, "--devs", sources},
             {"view", "--sid", w.serial(), "--name", std::string("MV_") + kHostB + "_src",
              "--ig", ig, "--pg", pg, "--sg", sourceGroup},
             {"view", "--sid", w.serial(), "--name", std::string("MV_") + kHostB + "_mount",
              "--ig", ig, "--pg", pg, "--sg", mountGroup},
             {"rescan", kHostB}}));
  }

  void MakeHome(Host* h, const std::string& dir) {
    h->home = w.dir() + "/" + dir;
    Result init = e2e::Ok(w, h->home, {"init", "--symcli-home", w.world(), "--simulated-host",
                                       h->name, "--db-backend", "postgresql", "--db-conninfo",
                                       conninfo, "--db-passfile", server.passfile});
    EXPECT_EQ("postgresql", init.json.value("databaseBackend", ""));
    EXPECT_EQ(hostrt::PgHostDatabase::kSchemaVersion, init.json.value("databaseVersion", 0));
    e2e::Ok(w, h->home, {"config", "set", "--setting", "Host", "sleepScale", "0"});
    e2e::Ok(w, h->home, {"config", "set", "--snap", kTargetGroupKey,
                         w.demo().value("targetStorageGroup", "")});
  }

  // The host's devices of the sizes the target group has.
  void FindSources(Host* h) {
    std::set<std::string> devices;
    for (const json& s : w.LinkableSources()) devices.insert(s["device"].get<std::string>());
    Result list = e2e::Ok(w, h->home, {"devices"});
    // Simulated paths end in SERIAL_DEVICE.
    for (const json& d : list.json["devices"]) {
      std::string path = d.value("path", "");
      size_t cut = path.rfind('_');
      if (d.value("serial", "") == w.serial() && cut != std::string::npos &&
          devices.count(path.substr(cut + 1)))
        h->sources.push_back(path);
    }
    ASSERT_EQ(devices.size(), h->sources.size()) << h->name << ": " << list.out;
  }

  // Backs up `count` snapshots on `h`, spreading them over its sources.
  void Backup(Host* h, int count) {
    for (int i = 0; i < count; ++i) {
      Result r = e2e::Ok(w, h->home, {"backup", h->sources[size_t(i) % h->sources.size()]});
      ASSERT_EQ(0, r.exitCode);
      const json& snap = r.json["snapshot"];
      h->snapshots.push_back(snap["id"].get<int>());
      names[snap["name"].get<std::string>()] = h->name;
      for (const json& d : snap["devices"]) {
        int id = d["smSnapId"].get<int>();
        EXPECT_TRUE(holders.emplace(id, snap["name"].get<std::string>()).second)
            << "SMSnapId " << id << " given to two snapshots";
      }
      jobs[snap["jobId"].get<long long>()] = h->name;
    }
  }

  json Reservations(const Host& h) {
    return e2e::Ok(w, h.home, {"reservations"}).json["reservations"];
  }

  // Every reservation matches a link of its holder's snapshot, and no target
  // is linked to two snapshots.
  void CheckLinksAndReservations(const json& links, const json& reservations) {
    e2e::ExpectLinksMatchReservations(links, reservations, [&](const json& r) {
      auto holder = holders.find(r["smSnapId"].get<int>());
      return holder == holders.end() ? std::string() : holder->second;
    });
  }

  // Runs one pzhost verb per (host, snapshot), all at once.
  std::vector<hostrt::ProcessOutcome> RunAtOnce(
      const std::string& verb, const std::vector<std::pair<const Host*, int>>& jobsToRun) {
    std::vector<std::vector<std::string>> argvs;
    for (const auto& [host, id] : jobsToRun)
      argvs.push_back(
          {e2e::PzhostPath(), "--home", host->home, "--json", verb, std::to_string(id)});
    return e2e::RunAtOnce(argvs, kChildLimitMs);
  }

  e2e::World w{{"--targets-per-size", std::to_string(kSnapshotsPerHost + 4)}};
  hostrt::PgConnectParams server;
  std::string schema, conninfo;
  std::unique_ptr<pgdb_test::RawConnection> raw;
  Host a, b;
  std::map<int, std::string> holders;      // SMSnapId -> snapshot name
  std::map<std::string, std::string> names;  // snapshot name -> host
  std::map<long long, std::string> jobs;   // backup job id -> host
};

TEST_F(SharedDatabase, ConcurrentMountsOfTwoHostsShareNoTargetAndUnmountEmptiesThePool) {
  Backup(&a, kSnapshotsPerHost);
  Backup(&b, kSnapshotsPerHost);
  if (HasFatalFailure()) return;
  EXPECT_EQ(size_t(2 * kSnapshotsPerHost), jobs.size()) << "job ids shared by two hosts";
  ASSERT_TRUE(w.ArrayState()["links"].empty());
  ASSERT_TRUE(Reservations(a).empty());

  std::vector<std::pair<const Host*, int>> all;
  for (int i = 0; i < kSnapshotsPerHost; ++i) {
    all.emplace_back(&a, a.snapshots[size_t(i)]);
    all.emplace_back(&b, b.snapshots[size_t(i)]);
  }
  // The pool holds enough targets for all: every mount succeeds.
  std::vector<hostrt::ProcessOutcome> mounts = RunAtOnce("mount", all);
  std::vector<std::pair<const Host*, int>> mounted;
  for (size_t i = 0; i < mounts.size(); ++i) {
    const hostrt::ProcessOutcome& m = mounts[i];
    EXPECT_EQ(kExitSuccess, m.exitCode)
        << all[i].first->name << " mount " << all[i].second
        << (m.killedAtLimit ? " hung: " : " failed: ") << (m.started ? m.error : m.startError);
    if (m.exitCode == kExitSuccess) mounted.push_back(all[i]);
  }

  json array = w.ArrayState();
  json links = array["links"];
  json reservations = Reservations(b);
  CheckLinksAndReservations(links, reservations);
  EXPECT_EQ(links.size(), reservations.size()) << reservations.dump();
  // Each host's linked targets went into its own mount group.
  std::set<std::string> groupA = e2e::GroupMembers(array, a.mountGroup);
  std::set<std::string> groupB = e2e::GroupMembers(array, b.mountGroup);
  for (const json& l : links) {
    std::string target = l["target"].get<std::string>();
    const std::string& owner = names[l["snapshot"].get<std::string>()];
    EXPECT_EQ(owner == a.name, groupA.count(target) == 1) << target << " of " << owner;
    EXPECT_EQ(owner == b.name, groupB.count(target) == 1) << target << " of " << owner;
  }

  for (const hostrt::ProcessOutcome& u : RunAtOnce("unmount", mounted))
    EXPECT_EQ(kExitSuccess, u.exitCode) << (u.killedAtLimit ? "hung: " : "") << u.error;
  EXPECT_TRUE(w.ArrayState()["links"].empty()) << w.ArrayState()["links"].dump();
  EXPECT_TRUE(Reservations(a).empty()) << Reservations(a).dump();
}

TEST_F(SharedDatabase, EachHostSeesBothAndReconcilesOnlyUnlinkedOnesOfItsOwn) {
  Backup(&a, 1);
  Backup(&b, 1);
  if (HasFatalFailure()) return;
  for (Host* h : {&a, &b}) e2e::Ok(w, h->home, {"mount", std::to_string(h->snapshots[0])});
  json links = w.ArrayState()["links"];
  ASSERT_EQ(2u, links.size()) << links.dump();
  // The same rows; only the holder's own host knows its catalog snapshot.
  auto rows = [](json list) {
    for (json& r : list) r.erase("snapshot");
    return list;
  };
  json seenByA = Reservations(a);
  EXPECT_EQ(rows(seenByA), rows(Reservations(b)));
  ASSERT_EQ(2u, seenByA.size()) << seenByA.dump();
  CheckLinksAndReservations(links, seenByA);

  // A stale reservation of each host: a free target, held by the host's
  // device under one of its ended jobs (as a crashed mount leaves it).
  std::set<std::string> linked;
  for (const json& l : links) linked.insert(l["target"].get<std::string>());
  std::vector<std::string> free;
  for (const std::string& t : e2e::DemoGroup(w, "targetStorageGroup"))
    if (!linked.count(t)) free.push_back(t);
  ASSERT_GE(free.size(), 2u);
  std::map<std::string, std::string> staleOf;  // host -> target
  for (Host* h : {&a, &b}) {
    int holder = 0;
    long long job = 0;  // its backup, which has ended
    for (const auto& [id, name] : holders)
      if (names[name] == h->name) holder = id;
    for (const auto& [id, host] : jobs)
      if (host == h->name) job = id;
    std::string target = free[h == &a ? 0 : 1];
    staleOf[h->name] = target;
    ASSERT_TRUE(raw->Exec("INSERT INTO " + schema + ".reservations(\"array\", target, source, "
                          "sm_snap_id, job_id, created) VALUES('" + w.serial() + "', '" +
                          target + "', '00100', " + std::to_string(holder) + ", " +
                          std::to_string(job) + ", 0)"))
        << raw->lastError();
  }
  ASSERT_EQ(4u, Reservations(a).size());

  auto reconcile = [&](const Host& h) {
    Result r = e2e::Ok(w, h.home, {"reservations", "--reconcile"});
    std::set<std::string> removed;
    for (const json& e : r.json["removed"]) removed.insert(e["target"].get<std::string>());
    return removed;
  };
  EXPECT_EQ(std::set<std::string>{staleOf[a.name]}, reconcile(a));
  EXPECT_EQ(3u, Reservations(b).size());
  EXPECT_EQ(std::set<std::string>{staleOf[b.name]}, reconcile(b));
  json left = Reservations(a);
  EXPECT_EQ(2u, left.size()) << left.dump();
  CheckLinksAndReservations(w.ArrayState()["links"], left);
  EXPECT_TRUE(reconcile(a).empty());
  EXPECT_TRUE(reconcile(b).empty());

  for (Host* h : {&a, &b})
    e2e::Ok(w, h->home, {"unmount", std::to_string(h->snapshots[0])});
  EXPECT_TRUE(Reservations(a).empty());
  EXPECT_TRUE(w.ArrayState()["links"].empty());
}

}  // namespace
