// pzhost scenarios beyond the plain lifecycle: clone mounts, refused input,
// ESX sources, a remote snap host, failed array steps, catalog upgrades.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "hostruntime/SqliteHostDatabase.h"
#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

constexpr int kCreated = 5, kCreateFailed = 6, kMapped = 12, kUnmapped = 14;
constexpr unsigned long long kDecoupledCloneFlag = 0x200000000000ull;
constexpr unsigned long long kCloneFlag = 0x8000ull;

TEST(Scenario, DecoupledCloneKeepsTargetsInTheGroupAndWritesTheRecord) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Ok(w, home, {"config", "set", "--snap", "SMCONFIG_DECOUPLED_INSTANT_CLONE", "1"});
  std::string id = Backup(w, home, {w.Source(0)});
  nlohmann::json d = Devices(Ok(w, home, {"mount", "--clone", id}))[0];
  EXPECT_EQ(kMapped, d["status"].get<int>());
  unsigned long long flags = d["jobFlags"].get<unsigned long long>();
  EXPECT_TRUE(flags & kDecoupledCloneFlag) << flags;
  EXPECT_TRUE(flags & kCloneFlag) << flags;
  EXPECT_TRUE(d["snapFlags"].get<unsigned>() & kCloneFlag);
  std::string target = d["metadata"].value("150", "");
  ASSERT_FALSE(target.empty());

  d = Devices(Ok(w, home, {"unmount", id}))[0];
  EXPECT_EQ(kUnmapped, d["status"].get<int>());
  // The unmount job saw the decoupled flag again: the target stays in the
  // mount group and the clone record is written to the log directory.
  EXPECT_EQ(1u, DemoGroup(w, "mountStorageGroup").count(target)) << target;
  bool record = false;
  for (const std::string& f : ListDir(home + "/logs"))
    if (f.find("VMAX_DClone_") == 0) record = true;
  EXPECT_TRUE(record) << "no VMAX_DClone_ file in " << home << "/logs";
  // Flags of the finished mount are not handed to the next one.
  EXPECT_EQ(0u, d["jobFlags"].get<unsigned long long>() & kDecoupledCloneFlag);
}

// The host's views also reach a production group that holds the sources and
// sorts before the mount group: the targets go into the mount group and the
// production group keeps exactly its devices; unmount takes them out again.
TEST(Scenario, TargetsGoIntoTheMountGroupNotTheSourcesGroupThatSortsFirst) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  const std::string prod = "SG_A_prod";
  std::string sources;
  for (const nlohmann::json& s : w.demo()["sources"])
    sources += (sources.empty() ? "" : ",") + s["device"].get<std::string>();
  ASSERT_NO_FATAL_FAILURE(SymsimAll(
      w, {{"sg", "--sid", w.serial(), "--name", prod, "--devs", sources},
          {"view", "--sid", w.serial(), "--name", "MV_A_prod", "--ig", "IG_" + w.host(),
           "--pg", "PG_" + w.host(), "--sg", prod}}));
  const std::set<std::string> prodBefore = GroupMembers(w.ArrayState(), prod);
  ASSERT_FALSE(prodBefore.empty());
  std::string home = w.MakeHome("h", w.host());
  std::string id = Backup(w, home, {w.Source(0)});
  std::string target = Devices(Ok(w, home, {"mount", id}))[0]["metadata"].value("150", "");
  ASSERT_FALSE(target.empty());
  EXPECT_EQ(prodBefore, GroupMembers(w.ArrayState(), prod));
  EXPECT_EQ(1u, DemoGroup(w, "mountStorageGroup").count(target)) << target;
  Ok(w, home, {"unmount", id});
  EXPECT_EQ(prodBefore, GroupMembers(w.ArrayState(), prod));
  EXPECT_EQ(0u, DemoGroup(w, "mountStorageGroup").count(target));
}

TEST(Scenario, DevicesOfTwoArraysAreRefusedAtBackup) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  const std::string second = "000197800456";
  std::string wwn = w.demo()["initiators"][0];
  ASSERT_NO_FATAL_FAILURE(SymsimAll(
      w, {{"array", "--serial", second},
          {"device", "--sid", second, "--dev", "00300", "--cyl", "1092"},
          {"sg", "--sid", second, "--name", "SG_other", "--devs", "00300"},
          {"pg", "--sid", second, "--name", "PG_other", "--port", "01D:004"},
          {"ig", "--sid", second, "--name", "IG_other", "--wwn", wwn},
          {"view", "--sid", second, "--name", "MV_other", "--ig", "IG_other", "--pg",
           "PG_other", "--sg", "SG_other"},
          {"rescan", w.host()}}));
  std::string home = w.MakeHome("h", w.host());
  Ok(w, home, {"array", "add", "--serial", second, "--num", "2"});
  Result devices = Ok(w, home, {"devices"});
  std::string other;
  for (const auto& d : devices.json["devices"])
    if (d.value("serial", "") == second) other = d["path"];
  ASSERT_FALSE(other.empty()) << devices.out;

  Result backup = w.Pzhost(home, {"backup", w.Source(0), other});
  EXPECT_EQ(1, backup.exitCode) << backup.Describe();
  EXPECT_TRUE(Contains(backup.err, "multiple VMAX arrays")) << backup.err;
  EXPECT_TRUE(w.Catalog(home).empty());
  // One array at a time works.
  Backup(w, home, {other});
}

// What a failed job leaves never blocks the next one: a backup whose
// establish failed is recorded as such and can be deleted, a mount that
// failed before or after its link is followed by a mount that works, and a
// verb on a snapshot another job holds fails at once naming that job.
TEST(Scenario, FailedJobsAreReportedAndLeaveNothingThatBlocksTheNext) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  ASSERT_NO_FATAL_FAILURE(SymsimAll(w, {{"fault", "add", "--pattern", "establish", "--exit",
                                         "1", "--message", "Simulated establish failure"}}));
  Result failed = w.Pzhost(home, {"backup", w.Source(0)}, false);
  EXPECT_EQ(1, failed.exitCode) << failed.Describe();
  EXPECT_TRUE(Contains(failed.err, "error:") && Contains(failed.err, "backup failed"))
      << failed.err;
  nlohmann::json catalog = w.Catalog(home);
  ASSERT_EQ(1u, catalog.size()) << catalog.dump();
  nlohmann::json d = catalog[0]["devices"][0];
  EXPECT_EQ(kCreateFailed, d["status"].get<int>());
  EXPECT_FALSE(d["created"].get<bool>());
  std::string id = std::to_string(catalog[0]["id"].get<int>());
  // No snapshot to mount; after the fault is gone the host deletes what is
  // left and takes a new one.
  EXPECT_EQ(1, w.Pzhost(home, {"mount", id}).exitCode);
  ASSERT_NO_FATAL_FAILURE(SymsimAll(w, {{"fault", "clear"}}));
  Ok(w, home, {"delete", id});
  EXPECT_TRUE(w.Catalog(home).empty());

  Result again = Ok(w, home, {"backup", w.Source(0)});
  EXPECT_EQ(kCreated, Devices(again)[0]["status"].get<int>());
  std::string snap = std::to_string(World::SnapshotId(again));
  for (const char* pattern : {" link ", " addall "}) {
    SCOPED_TRACE(pattern);
    ASSERT_NO_FATAL_FAILURE(
        SymsimAll(w, {{"fault", "add", "--pattern", pattern, "--always"}}));
    EXPECT_EQ(1, w.Pzhost(home, {"mount", snap}).exitCode);
    ASSERT_NO_FATAL_FAILURE(SymsimAll(w, {{"fault", "clear"}}));
    Ok(w, home, {"mount", snap});
    EXPECT_EQ(1u, w.ArrayState()["links"].size());
    Ok(w, home, {"unmount", snap});
  }
  EXPECT_EQ(0u, HeldReservations(w, home));

  // Another job holds the snapshot.
  int held = HoldLock(home, "snapshot-" + snap + ".lock");
  ASSERT_GE(held, 0);
  const std::string holder = "job 99 (mount, pid 4242)";
  ASSERT_EQ(ssize_t(holder.size()), ::write(held, holder.data(), holder.size()));
  Result busy = w.Pzhost(home, {"mount", snap}, false);
  EXPECT_EQ(1, busy.exitCode);
  EXPECT_TRUE(Contains(busy.err, "in use by " + holder)) << busy.err;
  ::close(held);
  Ok(w, home, {"mount", snap});
}

TEST(Scenario, RemoteSnapHostDoesTheArrayWorkAndRefusesGarbage) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string local = w.MakeHome("local", w.host(), "host1");
  std::string remote = w.MakeHome("remote", w.host(), "host2");
  std::string transport = "\"" + PzhostPath() + "\" --home \"" + remote + "\" exec-remote";
  Ok(w, local, {"config", "set", "--setting", "RemoteClients", "host2", transport});
  Ok(w, local, {"config", "set", "--snap", "SMCONFIG_NAME_REMOTE_SNAP_MA", "host2"});
  std::string id = Backup(w, local, {w.Source(0), w.Source(1)});
  Ok(w, local, {"mount", id});
  // The reservations live where the array work ran.
  EXPECT_EQ(0u, HeldReservations(w, local));
  EXPECT_EQ(2u, HeldReservations(w, remote));
  Ok(w, local, {"unmount", id});
  Ok(w, local, {"delete", id});
  std::string log;
  ASSERT_TRUE(ReadFile(remote + "/logs/request.log", &log));
  EXPECT_TRUE(Contains(log, "pzso_execSnapEngineOp"));
  EXPECT_TRUE(w.Catalog(remote).empty())
      << "the remote side keeps no catalog of the caller's snapshots";
  // A request that is no request gets no answer.
  std::string garbage = "{not json";
  Result r = w.Pzhost(remote, {"exec-remote"}, false, &garbage);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(Scenario, StaleReservationsOfEndedJobsAreReconciled) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  // Jobs: 5 ended, 6 running (this test process), 8 crashed (no process), on
  // this host (a simulated host: its name there).
  // Reservations: one per job, and one of job 7 that this host never ran.
  const std::string jobs = "INSERT INTO catalog_jobs(job_id, operation, started, ended,"
                           " result, pid, host) VALUES";
  std::string sql = jobs + "(5, 'mount', 1, 2, 0, 0, '');" + jobs + "(6, 'mount', 1, 0, -1, " +
                    std::to_string(getpid()) + ", '" + w.host() + "');" + jobs +
                    "(8, 'mount', 1, 0, -1, 2147483000, '" + w.host() + "');";
  const char* targets[] = {"0FFF0", "0FFF1", "0FFF2", "0FFF3"};
  for (int i = 0; i < 4; ++i)
    sql += "INSERT INTO reservations(array, target, source, sm_snap_id, job_id, created)"
           " VALUES('" + w.serial() + "', '" + targets[i] + "', '00100', " +
           std::to_string(900 + i) + ", " + std::to_string(5 + i) + ", 0);";
  ASSERT_NO_FATAL_FAILURE(ExecSql(home + "/host.db", sql));
  // A running job holds its lock for its life.
  ASSERT_GE(HoldLock(home, "job-6.lock"), 0);
  ASSERT_EQ(4u, HeldReservations(w, home));

  Result rec = Ok(w, home, {"reservations", "--reconcile"});
  std::set<std::string> removed, kept;
  for (const auto& r : rec.json["removed"]) removed.insert(r["target"]);
  for (const auto& r : rec.json["kept"]) kept.insert(r["target"]);
  EXPECT_EQ((std::set<std::string>{"0FFF0", "0FFF3"}), removed) << rec.out;
  EXPECT_EQ((std::set<std::string>{"0FFF1", "0FFF2"}), kept) << rec.out;
  EXPECT_EQ(2u, HeldReservations(w, home));

  // An array whose linked listing cannot be read keeps its reservations.
  ASSERT_NO_FATAL_FAILURE(
      SymsimAll(w, {{"fault", "add", "--pattern", "-linked", "--exit", "2", "--always"}}));
  EXPECT_EQ(1, w.Pzhost(home, {"reservations", "--reconcile"}).exitCode);
  EXPECT_EQ(2u, HeldReservations(w, home));
}

TEST(Scenario, InitUpgradesAnOldCatalogAndKeepsItsSnapshots) {
  World w;
  std::string home = w.dir() + "/old";
  ASSERT_EQ(0, ::mkdir(home.c_str(), 0700));
  std::ofstream(home + "/settings.ini") << "[EventManager]\nSYMAPI_HOME_DIR = " << w.world()
                                        << "\n";
  ASSERT_NO_FATAL_FAILURE(ExecSql(
      home + "/host.db",
      "CREATE TABLE catalog_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
      "INSERT INTO catalog_meta VALUES('schema_version', '1');"
      "CREATE TABLE catalog_jobs (job_id INTEGER PRIMARY KEY AUTOINCREMENT,"
      " operation TEXT NOT NULL, snapshot_id INTEGER NOT NULL DEFAULT 0,"
      " started INTEGER NOT NULL, ended INTEGER NOT NULL DEFAULT 0,"
      " result INTEGER NOT NULL DEFAULT -1);"
      "CREATE TABLE catalog_snapshots (snapshot_id INTEGER PRIMARY KEY"
      " AUTOINCREMENT, name TEXT NOT NULL DEFAULT '', array TEXT NOT NULL"
      " DEFAULT '', job_id INTEGER NOT NULL, created INTEGER NOT NULL);"
      "CREATE TABLE catalog_devices (sm_snap_id INTEGER PRIMARY KEY"
      " AUTOINCREMENT, snapshot_id INTEGER NOT NULL, position INTEGER NOT NULL,"
      " source TEXT NOT NULL, snap_flags INTEGER NOT NULL DEFAULT 0,"
      " job_flags INTEGER NOT NULL DEFAULT 0, status INTEGER NOT NULL DEFAULT 0,"
      " error_code INTEGER NOT NULL DEFAULT 0, error_text TEXT NOT NULL DEFAULT"
      " '', device_path TEXT NOT NULL DEFAULT '');"
      "CREATE TABLE catalog_metadata (sm_snap_id INTEGER NOT NULL, type INTEGER"
      " NOT NULL, value TEXT NOT NULL, PRIMARY KEY (sm_snap_id, type));"
      "CREATE TABLE catalog_snap_config (key TEXT PRIMARY KEY, value TEXT NOT"
      " NULL);"
      "INSERT INTO catalog_snapshots VALUES(7, 'PZ_old', '000197800123', 3, 1);"
      "INSERT INTO catalog_devices(sm_snap_id, snapshot_id, position, source,"
      " status) VALUES(41, 7, 0, 'symsim:x:y', 5);"
      "INSERT INTO catalog_metadata VALUES(41, 6, '000197800123|00100|PZ_old|');"));

  Result init = Ok(w, home, {"init", "--symcli-home", w.world()});
  EXPECT_TRUE(init.json["upgraded"].get<bool>());
  EXPECT_EQ(3, init.json["catalogVersion"].get<int>());
  nlohmann::json catalog = w.Catalog(home);
  ASSERT_EQ(1u, catalog.size()) << catalog.dump();
  EXPECT_EQ(7, catalog[0]["id"].get<int>());
  nlohmann::json d = catalog[0]["devices"][0];
  EXPECT_EQ(41, d["smSnapId"].get<int>());
  EXPECT_EQ("000197800123|00100|PZ_old|", d["metadata"].value("6", ""));
  // Running init again changes nothing.
  Ok(w, home, {"init", "--symcli-home", w.world()});
  EXPECT_EQ(1u, w.Catalog(home).size());
}

// Reservations come from a database other hosts write too: a serial that is
// no serial never reaches a command line, and its reservation is kept.
TEST(Scenario, ReconcileRefusesAReservationWhoseSerialIsNoSerial) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  const std::string canary = w.dir() + "/canary";
  {
    std::string error;
    auto db = hostrt::SqliteHostDatabase::Open(home + "/host.db", &error);
    ASSERT_TRUE(db) << error;
    hostrt::Reservation r;
    r.smSnapId = 7;
    r.array = w.serial() + " list;touch " + canary;
    r.source = "00100";
    r.target = "00200";
    r.jobId = 1;
    std::vector<bool> granted;
    ASSERT_TRUE(db->Reserve({r}, &granted, &error)) << error;
  }
  ASSERT_NO_FATAL_FAILURE(SymsimAll(w, {{"audit", "--clear"}}));
  Result rec = w.Pzhost(home, {"reservations", "--reconcile"});
  EXPECT_EQ(1, rec.exitCode) << rec.Describe();
  EXPECT_TRUE(Contains(rec.err, "not an array serial")) << rec.err;
  EXPECT_TRUE(w.Symsim({"audit", "--json"}).json.empty()) << "no tool ran";
  EXPECT_NE(0, access(canary.c_str(), F_OK));
  EXPECT_EQ(1u, HeldReservations(w, home));
}

TEST(Scenario, EsxSourceIsSnappedAndMountedThroughTheEsxHost) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  const std::string esx = "esx1", wwn = "10000000c9a1b301";
  std::string pg = "PG_" + w.host();
  std::string sourceGroup = w.demo().value("sourceStorageGroup", "");
  ASSERT_NO_FATAL_FAILURE(SymsimAll(
      w, {{"host", "--name", esx, "--wwn", wwn, "--esx"},
          {"ig", "--sid", w.serial(), "--name", "IG_esx", "--wwn", wwn},
          {"sg", "--sid", w.serial(), "--name", "SG_esx_mount"},
          {"view", "--sid", w.serial(), "--name", "MV_esx_src", "--ig", "IG_esx", "--pg", pg,
           "--sg", sourceGroup},
          {"view", "--sid", w.serial(), "--name", "MV_esx_mount", "--ig", "IG_esx", "--pg", pg,
           "--sg", "SG_esx_mount"},
          {"rescan", esx}}));
  std::string home = w.MakeHome("esx", esx);
  Result devices = Ok(w, home, {"devices"});
  ASSERT_FALSE(devices.json["devices"].empty()) << devices.out;
  nlohmann::json first = devices.json["devices"][0];
  EXPECT_TRUE(first.value("supported", false)) << first.dump();
  EXPECT_EQ(0u, first.value("entry", "").find("{idatype:vmware")) << first.dump();

  // The ESX device is named by its path; the host hands the plug-in the
  // ESX description of it.
  Result backup = Ok(w, home, {"backup", first.value("path", "")});
  nlohmann::json d = Devices(backup)[0];
  EXPECT_EQ(0u, d["source"].get<std::string>().find("{idatype:vmware"));
  EXPECT_EQ(kCreated, d["status"].get<int>());
  std::string id = std::to_string(World::SnapshotId(backup));
  EXPECT_EQ(kMapped, Devices(Ok(w, home, {"mount", id}))[0]["status"].get<int>());
  Ok(w, home, {"unmount", id});
  Ok(w, home, {"delete", id});
}

}  // namespace
}  // namespace e2e
