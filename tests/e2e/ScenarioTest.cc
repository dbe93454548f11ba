// pzhost scenarios beyond the plain lifecycle: clone mounts, refused input,
// ESX sources, a remote snap host, failed array steps, catalog upgrades.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "hostruntime/SqliteHostDatabase.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

constexpr int kCreated = 5, kCreateFailed = 6, kMapped = 12, kUnmapped = 14;
constexpr unsigned long long kDecoupledCloneFlag = 0x200000000000ull;
constexpr unsigned long long kCloneFlag = 0x8000ull;

nlohmann::json Devices(const Result& r) {
  return r.json.contains("snapshot") ? r.json["snapshot"]["devices"]
                                     : nlohmann::json::array();
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}


TEST(Scenario, DecoupledCloneKeepsTargetsInTheGroupAndWritesTheRecord) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  ASSERT_EQ(0, w.Pzhost(home, {"config", "set", "--snap",
                               "SMCONFIG_DECOUPLED_INSTANT_CLONE", "1"})
                   .exitCode);
  Result backup = w.Pzhost(home, {"backup", w.Source(0)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  int id = World::SnapshotId(backup);
  Result mount = w.Pzhost(home, {"mount", "--clone", std::to_string(id)});
  ASSERT_EQ(0, mount.exitCode) << mount.Describe();
  nlohmann::json d = Devices(mount)[0];
  EXPECT_EQ(kMapped, d["status"].get<int>());
  unsigned long long flags = d["jobFlags"].get<unsigned long long>();
  EXPECT_TRUE(flags & kDecoupledCloneFlag) << flags;
  EXPECT_TRUE(flags & kCloneFlag) << flags;
  EXPECT_TRUE(d["snapFlags"].get<unsigned>() & kCloneFlag);
  std::string target = d["metadata"].value("150", "");
  ASSERT_FALSE(target.empty());

  Result unmount = w.Pzhost(home, {"unmount", std::to_string(id)});
  ASSERT_EQ(0, unmount.exitCode) << unmount.Describe();
  d = Devices(unmount)[0];
  EXPECT_EQ(kUnmapped, d["status"].get<int>());
  // The unmount job saw the decoupled flag again: the target stays in the
  // mount group and the clone record is written to the log directory.
  std::string mountGroup = w.demo().value("mountStorageGroup", "");
  Result sg = RunProgram({w.world() + "/bin/symsg", "-sid", w.serial(), "show",
                          mountGroup});
  EXPECT_TRUE(Contains(sg.out, target.substr(target.size() - 3)))
      << sg.Describe();
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
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"sg", "--sid", w.serial(), "--name", prod, "--devs", sources},
           {"view", "--sid", w.serial(), "--name", "MV_A_prod", "--ig",
            "IG_" + w.host(), "--pg", "PG_" + w.host(), "--sg", prod}}) {
    Result r = w.Symsim(args);
    ASSERT_EQ(0, r.exitCode) << r.Describe();
  }
  auto members = [&](const std::string& group) {
    std::set<std::string> out;
    Result show = w.Symsim({"show", "--json"});
    for (const nlohmann::json& g : show.json["arrays"][0]["storageGroups"])
      if (g["name"] == group)
        for (const nlohmann::json& d : g["devices"]) out.insert(d.get<std::string>());
    return out;
  };
  const std::string mountGroup = w.demo().value("mountStorageGroup", "");
  const std::set<std::string> prodBefore = members(prod);
  ASSERT_FALSE(prodBefore.empty());
  std::string home = w.MakeHome("h", w.host());
  Result backup = w.Pzhost(home, {"backup", w.Source(0)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  int id = World::SnapshotId(backup);
  Result mount = w.Pzhost(home, {"mount", std::to_string(id)});
  ASSERT_EQ(0, mount.exitCode) << mount.Describe();
  std::string target = Devices(mount)[0]["metadata"].value("150", "");
  ASSERT_FALSE(target.empty());
  EXPECT_EQ(prodBefore, members(prod));
  EXPECT_EQ(1u, members(mountGroup).count(target)) << target;
  Result unmount = w.Pzhost(home, {"unmount", std::to_string(id)});
  ASSERT_EQ(0, unmount.exitCode) << unmount.Describe();
  EXPECT_EQ(prodBefore, members(prod));
  EXPECT_EQ(0u, members(mountGroup).count(target));
}

TEST(Scenario, DevicesOfTwoArraysAreRefusedAtBackup) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  const std::string second = "000197800456";
  std::string wwn = w.demo()["initiators"][0];
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"array", "--serial", second},
           {"device", "--sid", second, "--dev", "00300", "--cyl", "1092"},
           {"sg", "--sid", second, "--name", "SG_other", "--devs", "00300"},
           {"pg", "--sid", second, "--name", "PG_other", "--port", "01D:004"},
           {"ig", "--sid", second, "--name", "IG_other", "--wwn", wwn},
           {"view", "--sid", second, "--name", "MV_other", "--ig", "IG_other",
            "--pg", "PG_other", "--sg", "SG_other"},
           {"rescan", w.host()}}) {
    Result r = w.Symsim(args);
    ASSERT_EQ(0, r.exitCode) << r.Describe();
  }
  std::string home = w.MakeHome("h", w.host());
  ASSERT_EQ(0, w.Pzhost(home, {"array", "add", "--serial", second, "--num",
                               "2"}).exitCode);
  Result devices = w.Pzhost(home, {"devices"});
  ASSERT_EQ(0, devices.exitCode) << devices.Describe();
  std::string other;
  for (const auto& d : devices.json["devices"])
    if (d.value("serial", "") == second) other = d["path"];
  ASSERT_FALSE(other.empty()) << devices.out;

  Result backup = w.Pzhost(home, {"backup", w.Source(0), other});
  EXPECT_EQ(1, backup.exitCode) << backup.Describe();
  EXPECT_TRUE(Contains(backup.err, "multiple VMAX arrays")) << backup.err;
  Result list = w.Pzhost(home, {"list"});
  EXPECT_TRUE(list.json["snapshots"].empty()) << list.out;
  // One array at a time works.
  EXPECT_EQ(0, w.Pzhost(home, {"backup", other}).exitCode);
}

TEST(Scenario, FailedSnapIsReportedAndTheCatalogStaysRight) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result fault = w.Symsim({"fault", "add", "--pattern", "establish", "--exit",
                           "1", "--message", "Simulated establish failure"});
  ASSERT_EQ(0, fault.exitCode) << fault.Describe();
  Result backup = w.Pzhost(home, {"backup", w.Source(0)}, false);
  EXPECT_EQ(1, backup.exitCode) << backup.Describe();
  EXPECT_TRUE(Contains(backup.err, "backup failed")) << backup.err;
  EXPECT_TRUE(Contains(backup.err, "error:")) << backup.err;

  Result list = w.Pzhost(home, {"list"});
  ASSERT_EQ(1u, list.json["snapshots"].size()) << list.out;
  nlohmann::json d = list.json["snapshots"][0]["devices"][0];
  EXPECT_EQ(kCreateFailed, d["status"].get<int>());
  EXPECT_FALSE(d["created"].get<bool>());
  int id = list.json["snapshots"][0]["id"];
  // No snapshot to mount; after the fault is gone the host deletes what is
  // left and takes a new one.
  EXPECT_EQ(1, w.Pzhost(home, {"mount", std::to_string(id)}).exitCode);
  ASSERT_EQ(0, w.Symsim({"fault", "clear"}).exitCode);
  EXPECT_EQ(0, w.Pzhost(home, {"delete", std::to_string(id)}).exitCode);
  Result again = w.Pzhost(home, {"backup", w.Source(0)});
  EXPECT_EQ(0, again.exitCode) << again.Describe();
  EXPECT_EQ(kCreated, Devices(again)[0]["status"].get<int>());
}

TEST(Scenario, RemoteSnapHostDoesTheArrayWork) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string local = w.MakeHome("local", w.host(), "host1");
  std::string remote = w.MakeHome("remote", w.host(), "host2");
  std::string transport = "\"" + PzhostPath() + "\" --home \"" + remote +
                          "\" exec-remote";
  ASSERT_EQ(0, w.Pzhost(local, {"config", "set", "--setting", "RemoteClients",
                                "host2", transport})
                   .exitCode);
  ASSERT_EQ(0, w.Pzhost(local, {"config", "set", "--snap",
                                "SMCONFIG_NAME_REMOTE_SNAP_MA", "host2"})
                   .exitCode);
  Result backup = w.Pzhost(local, {"backup", w.Source(0), w.Source(1)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  int id = World::SnapshotId(backup);
  Result mount = w.Pzhost(local, {"mount", std::to_string(id)});
  ASSERT_EQ(0, mount.exitCode) << mount.Describe();
  // The reservations live where the array work ran.
  EXPECT_TRUE(w.Pzhost(local, {"reservations"}).json["reservations"].empty());
  EXPECT_EQ(2u, w.Pzhost(remote, {"reservations"}).json["reservations"].size());
  ASSERT_EQ(0, w.Pzhost(local, {"unmount", std::to_string(id)}).exitCode);
  ASSERT_EQ(0, w.Pzhost(local, {"delete", std::to_string(id)}).exitCode);
  std::string log;
  ASSERT_TRUE(ReadFile(remote + "/logs/request.log", &log));
  EXPECT_TRUE(Contains(log, "pzso_execSnapEngineOp"));
  EXPECT_TRUE(w.Pzhost(remote, {"list"}).json["snapshots"].empty())
      << "the remote side keeps no catalog of the caller's snapshots";
}

TEST(Scenario, ExecRemoteRefusesGarbageWithoutAnswering) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  std::string garbage = "{not json";
  Result r = w.Pzhost(home, {"exec-remote"}, false, &garbage);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(Scenario, StaleReservationsOfEndedJobsAreReconciled) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  // The name this host goes by (a simulated host: its name there).
  std::string self = w.host();
  // Jobs: 5 ended, 6 running (this test process), 8 crashed (no process).
  // Reservations: one per job, and one of job 7 that this host never ran.
  std::string sql =
      "INSERT INTO catalog_jobs(job_id, operation, started, ended, result,"
      " pid, host) VALUES(5, 'mount', 1, 2, 0, 0, '');"
      "INSERT INTO catalog_jobs(job_id, operation, started, ended, result,"
      " pid, host) VALUES(6, 'mount', 1, 0, -1, " + std::to_string(getpid()) +
      ", '" + self + "');"
      "INSERT INTO catalog_jobs(job_id, operation, started, ended, result,"
      " pid, host) VALUES(8, 'mount', 1, 0, -1, 2147483000, '" + self + "');";
  const char* targets[] = {"0FFF0", "0FFF1", "0FFF2", "0FFF3"};
  const int jobs[] = {5, 6, 7, 8};
  for (int i = 0; i < 4; ++i)
    sql += "INSERT INTO reservations(array, target, source, sm_snap_id,"
           " job_id, created) VALUES('" + w.serial() + "', '" + targets[i] +
           "', '00100', " + std::to_string(900 + i) + ", " +
           std::to_string(jobs[i]) + ", 0);";
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((home + "/host.db").c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr))
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  // A running job holds its lock for its life.
  ::mkdir((home + "/locks").c_str(), 0700);
  int running = ::open((home + "/locks/job-6.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(running, 0);
  ASSERT_EQ(0, ::flock(running, LOCK_EX));
  ASSERT_EQ(4u, w.Pzhost(home, {"reservations"}).json["reservations"].size());

  Result rec = w.Pzhost(home, {"reservations", "--reconcile"});
  ASSERT_EQ(0, rec.exitCode) << rec.Describe();
  std::set<std::string> removed, kept;
  for (const auto& r : rec.json["removed"]) removed.insert(r["target"]);
  for (const auto& r : rec.json["kept"]) kept.insert(r["target"]);
  EXPECT_EQ((std::set<std::string>{"0FFF0", "0FFF3"}), removed) << rec.out;
  EXPECT_EQ((std::set<std::string>{"0FFF1", "0FFF2"}), kept) << rec.out;
  EXPECT_EQ(2u, w.Pzhost(home, {"reservations"}).json["reservations"].size());

  // An array whose linked listing cannot be read keeps its reservations.
  ASSERT_EQ(0, w.Symsim({"fault", "add", "--pattern", "-linked", "--exit", "2",
                         "--always"}).exitCode);
  Result broken = w.Pzhost(home, {"reservations", "--reconcile"});
  EXPECT_EQ(1, broken.exitCode);
  EXPECT_EQ(2u, w.Pzhost(home, {"reservations"}).json["reservations"].size());
}

TEST(Scenario, InitUpgradesAnOldCatalogAndKeepsItsSnapshots) {
  World w;
  std::string home = w.dir() + "/old";
  ASSERT_EQ(0, ::mkdir(home.c_str(), 0700));
  {
    std::ofstream(home + "/settings.ini")
        << "[EventManager]\nSYMAPI_HOME_DIR = " << w.world() << "\n";
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((home + "/host.db").c_str(), &db));
  const char* v1 =
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
      "INSERT INTO catalog_metadata VALUES(41, 6, '000197800123|00100|PZ_old|');";
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, v1, nullptr, nullptr, nullptr));
  sqlite3_close(db);

  Result init = w.Pzhost(home, {"init", "--symcli-home", w.world()});
  ASSERT_EQ(0, init.exitCode) << init.Describe();
  EXPECT_TRUE(init.json["upgraded"].get<bool>());
  EXPECT_EQ(3, init.json["catalogVersion"].get<int>());
  Result list = w.Pzhost(home, {"list"});
  ASSERT_EQ(1u, list.json["snapshots"].size()) << list.out;
  EXPECT_EQ(7, list.json["snapshots"][0]["id"].get<int>());
  nlohmann::json d = list.json["snapshots"][0]["devices"][0];
  EXPECT_EQ(41, d["smSnapId"].get<int>());
  EXPECT_EQ("000197800123|00100|PZ_old|", d["metadata"].value("6", ""));
  // Running init again changes nothing.
  ASSERT_EQ(0, w.Pzhost(home, {"init", "--symcli-home", w.world()}).exitCode);
  EXPECT_EQ(1u, w.Pzhost(home, {"list"}).json["snapshots"].size());
}

TEST(Scenario, PasswordNeverLeavesTheHostDatabase) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  const std::string secret = "Xq7-not-in-any-file";
  std::string pwfile = w.dir() + "/pw";
  { std::ofstream(pwfile) << secret << "\n"; }
  ASSERT_EQ(0, chmod(pwfile.c_str(), 0600));
  Result add = w.Pzhost(home, {"array", "add", "--serial", w.serial(), "--num",
                               "1", "--host", "ctl", "--user", "admin",
                               "--password-file", pwfile});
  ASSERT_EQ(0, add.exitCode) << add.Describe();
  // Whatever the plug-in logs on a job, the password is not in it.
  w.Pzhost(home, {"backup", w.Source(0)});
  Result arrays = w.Pzhost(home, {"array", "list"});
  EXPECT_FALSE(Contains(arrays.out, secret));
  std::string content;
  for (const std::string& f : ListDir(home + "/logs")) {
    ASSERT_TRUE(ReadFile(home + "/logs/" + f, &content));
    EXPECT_FALSE(Contains(content, secret)) << f;
  }
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &content));
  EXPECT_FALSE(Contains(content, secret));
  ASSERT_TRUE(ReadFile(home + "/host.db", &content));
  EXPECT_FALSE(Contains(content, secret)) << "stored encoded";
}

TEST(Scenario, BadInputIsRefusedClearly) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result wwn = w.Pzhost(home, {"backup", "--wwn", "1234"});
  EXPECT_EQ(1, wwn.exitCode);
  EXPECT_TRUE(Contains(wwn.err, "32 hexadecimal digits"));
  EXPECT_EQ(1, w.Pzhost(home, {"backup", w.Source(0), w.Source(0)}).exitCode);
  EXPECT_EQ(1, w.Pzhost(home, {"mount", "999"}).exitCode);
  EXPECT_EQ(1, w.Pzhost(home, {"array", "add", "--serial", "12", "--num", "1"})
                   .exitCode);
  Result noHome = w.Pzhost(w.dir() + "/nowhere", {"list"});
  EXPECT_EQ(1, noHome.exitCode);
  EXPECT_TRUE(Contains(noHome.err, "init"));
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
  ASSERT_EQ(0, w.Symsim({"audit", "--clear"}).exitCode);
  Result rec = w.Pzhost(home, {"reservations", "--reconcile"});
  EXPECT_EQ(1, rec.exitCode) << rec.Describe();
  EXPECT_TRUE(Contains(rec.err, "not an array serial")) << rec.err;
  EXPECT_TRUE(w.Symsim({"audit", "--json"}).json.empty()) << "no tool ran";
  EXPECT_NE(0, access(canary.c_str(), F_OK));
  EXPECT_EQ(1u, w.Pzhost(home, {"reservations"}).json["reservations"].size());
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

TEST(Scenario, EsxSourceIsSnappedAndMountedThroughTheEsxHost) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  const std::string esx = "esx1", wwn = "10000000c9a1b301";
  std::string pg = "PG_" + w.host();
  std::string sourceGroup = w.demo().value("sourceStorageGroup", "");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"host", "--name", esx, "--wwn", wwn, "--esx"},
           {"ig", "--sid", w.serial(), "--name", "IG_esx", "--wwn", wwn},
           {"sg", "--sid", w.serial(), "--name", "SG_esx_mount"},
           {"view", "--sid", w.serial(), "--name", "MV_esx_src", "--ig",
            "IG_esx", "--pg", pg, "--sg", sourceGroup},
           {"view", "--sid", w.serial(), "--name", "MV_esx_mount", "--ig",
            "IG_esx", "--pg", pg, "--sg", "SG_esx_mount"},
           {"rescan", esx}}) {
    Result r = w.Symsim(args);
    ASSERT_EQ(0, r.exitCode) << r.Describe();
  }
  std::string home = w.MakeHome("esx", esx);
  Result devices = w.Pzhost(home, {"devices"});
  ASSERT_EQ(0, devices.exitCode) << devices.Describe();
  ASSERT_FALSE(devices.json["devices"].empty()) << devices.out;
  nlohmann::json first = devices.json["devices"][0];
  EXPECT_TRUE(first.value("supported", false)) << first.dump();
  std::string entry = first.value("entry", "");
  EXPECT_EQ(0u, entry.find("{idatype:vmware")) << entry;

  // The ESX device is named by its path; the host hands the plug-in the
  // ESX description of it.
  Result backup = w.Pzhost(home, {"backup", first.value("path", "")});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  nlohmann::json d = Devices(backup)[0];
  EXPECT_EQ(0u, d["source"].get<std::string>().find("{idatype:vmware"));
  EXPECT_EQ(kCreated, d["status"].get<int>());
  int id = World::SnapshotId(backup);
  Result mount = w.Pzhost(home, {"mount", std::to_string(id)});
  ASSERT_EQ(0, mount.exitCode) << mount.Describe();
  EXPECT_EQ(kMapped, Devices(mount)[0]["status"].get<int>());
  ASSERT_EQ(0, w.Pzhost(home, {"unmount", std::to_string(id)}).exitCode);
  ASSERT_EQ(0, w.Pzhost(home, {"delete", std::to_string(id)}).exitCode);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// What a failed job leaves never blocks the next one: a backup whose
// establish failed can be deleted, a mount that failed before or after its
// link is followed by a mount that works, and a verb on a snapshot another
// job holds fails at once naming that job.
TEST(Scenario, FailedJobsLeaveNothingThatBlocksTheNext) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  ASSERT_EQ(0, w.Symsim({"fault", "add", "--pattern", " establish "}).exitCode);
  Result failed = w.Pzhost(home, {"backup", w.Source(0)});
  EXPECT_EQ(1, failed.exitCode) << failed.Describe();
  int id = World::SnapshotId(failed);
  if (id == 0) id = w.Pzhost(home, {"list"}).json["snapshots"][0].value("id", 0);
  ASSERT_GT(id, 0);
  Result removed = w.Pzhost(home, {"delete", std::to_string(id)});
  EXPECT_EQ(0, removed.exitCode) << removed.Describe();
  EXPECT_TRUE(w.Pzhost(home, {"list"}).json["snapshots"].empty());

  Result backup = w.Pzhost(home, {"backup", w.Source(0)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  std::string snap = std::to_string(World::SnapshotId(backup));
  for (const char* pattern : {" link ", " addall "}) {
    SCOPED_TRACE(pattern);
    ASSERT_EQ(0, w.Symsim({"fault", "add", "--pattern", pattern, "--always"}).exitCode);
    EXPECT_EQ(1, w.Pzhost(home, {"mount", snap}).exitCode);
    ASSERT_EQ(0, w.Symsim({"fault", "clear"}).exitCode);
    Result again = w.Pzhost(home, {"mount", snap});
    EXPECT_EQ(0, again.exitCode) << again.Describe();
    EXPECT_EQ(1u, w.Symsim({"show", "--json"}).json["arrays"][0]["links"].size());
    ASSERT_EQ(0, w.Pzhost(home, {"unmount", snap}).exitCode);
  }
  EXPECT_TRUE(w.Pzhost(home, {"reservations"}).json["reservations"].empty());

  // Another job holds the snapshot.
  ::mkdir((home + "/locks").c_str(), 0700);
  int held = ::open((home + "/locks/snapshot-" + snap + ".lock").c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(0, ::flock(held, LOCK_EX));
  const std::string holder = "job 99 (mount, pid 4242)";
  ASSERT_EQ(ssize_t(holder.size()), ::write(held, holder.data(), holder.size()));
  Result busy = w.Pzhost(home, {"mount", snap}, false);
  EXPECT_EQ(1, busy.exitCode);
  EXPECT_NE(std::string::npos, busy.err.find("in use by " + holder)) << busy.err;
  ::close(held);
  EXPECT_EQ(0, w.Pzhost(home, {"mount", snap}).exitCode);
}

}  // namespace
}  // namespace e2e
