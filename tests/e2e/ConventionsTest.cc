// Command-line conventions of the programs, progress on standard error, the
// job history, and verbs in their own right: post-snap backups, config
// scopes, supported.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "tests/e2e/Steps.h"
#include "tests/support/E2eWorld.h"

namespace e2e {
namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

// Every --json document of pzhost, whatever the outcome.
void ExpectDocument(const Result& r, int exitCode) {
  ASSERT_TRUE(r.json.is_object()) << r.Describe();
  EXPECT_EQ(1, r.json.value("schemaVersion", 0)) << r.Describe();
  EXPECT_EQ(exitCode, r.json.value("exitCode", -1)) << r.Describe();
  ASSERT_TRUE(r.json.contains("elapsedMs") && r.json["elapsedMs"].is_number())
      << r.Describe();
  EXPECT_GT(r.json["elapsedMs"].get<double>(), 0.0) << r.Describe();
  // The process's own CPU time: benchmarks read it beside the tools' times.
  ASSERT_TRUE(r.json.contains("cpuMs") && r.json["cpuMs"].is_number()) << r.Describe();
  EXPECT_TRUE(r.json.contains("verb")) << r.Describe();
}

TEST(Conventions, ExitCodesAndJsonOfEveryOutcome) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  const std::string none = w.dir() + "/no-home";
  struct Case {
    std::string home;
    std::vector<std::string> args;
    int exitCode;
    std::string error;  // in standard error
  } cases[] = {
      {none, {"bogus"}, kUsage, "unknown verb 'bogus'"},
      {none, {"mount"}, kUsage, "snapshot is required"},
      {none, {"mount", "one"}, kUsage, "one"},
      {none, {"--no-such-option", "list"}, kUsage, "--no-such-option"},
      {none, {}, kUsage, "subcommand is required"},
      {none, {"list"}, kFailed, " init --symcli-home"},
      {home, {"mount", "999"}, kFailed, "no snapshot 999"},
      {home, {"backup", "--wwn", "1234"}, kFailed, "32 hexadecimal digits"},
      {home, {"backup", w.Source(0), w.Source(0)}, kFailed, "is named twice"},
      {home, {"array", "add", "--serial", "12", "--num", "1"}, kFailed, "12-digit array serial"},
      {home, {"jobs", "999"}, kFailed, "no job 999"},
      {home, {"jobs"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(no verb)") : c.args[0]);
    Result r = w.Pzhost(c.home, c.args);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.Describe();
    ExpectDocument(r, c.exitCode);
    EXPECT_NE(std::string::npos, r.err.find(c.error)) << r.Describe();
    EXPECT_EQ(c.exitCode != 0,
              !r.json.value("errors", nlohmann::json::array()).empty())
        << "an error document names its error: " << r.Describe();
  }
  // --version needs no home; usage errors of the other programs exit 2.
  const std::pair<std::string, std::string> programs[] = {
      {PzhostPath(), "pzhost"},
      {SymsimPath(), "symsim"},
      {std::string(PZ_BINARY_DIR) + "/pzarray/pzarray", "pzarray"}};
  for (const auto& [path, name] : programs) {
    SCOPED_TRACE(name);
    Result version = RunProgram({path, "--version"});
    EXPECT_EQ(0, version.exitCode) << version.Describe();
    EXPECT_EQ(0u, version.out.find(name + " ")) << version.Describe();
    EXPECT_EQ(kUsage, RunProgram({path, "--no-such-option"}).exitCode);
  }
}

// A mount with its fixed rescan wait made short: the wait is announced on
// standard error with its length and purpose, each step with its time, the
// document stays clean, and the job's commands form its timeline.
TEST(Conventions, MountShowsProgressAndTheJobHistoryItsTimeline) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  std::string id = Backup(w, home, {w.Source(0)});
  Ok(w, home, {"config", "set", "--setting", "Host", "sleepScale", "0.001"});
  Result mount = Ok(w, home, {"mount", id});
  ExpectDocument(mount, 0);
  EXPECT_EQ("mount", mount.json.value("verb", ""));
  EXPECT_TRUE(std::regex_search(
      mount.err, std::regex("waiting [0-9]+ ms before rescanning for the linked devices")))
      << mount.err;
  EXPECT_NE(std::string::npos, mount.err.find("mount step took")) << mount.err;
  EXPECT_EQ(std::string::npos, mount.err.find("error:")) << mount.err;
  EXPECT_TRUE(mount.json["pluginErrors"].empty()) << mount.Describe();
  const auto& device = mount.json["snapshot"]["devices"][0];
  EXPECT_TRUE(std::regex_match(device.value("target", ""), std::regex("[0-9A-F]{5}")))
      << device.dump();
  EXPECT_FALSE(device.value("mountPath", "").empty()) << device.dump();

  Result job = Ok(w, home, {"jobs", std::to_string(mount.json["jobId"].get<long long>())});
  EXPECT_EQ("mount", job.json["job"].value("operation", ""));
  EXPECT_EQ("succeeded", job.json["job"].value("outcome", ""));
  const auto& commands = job.json["job"]["commands"];
  ASSERT_FALSE(commands.empty()) << job.Describe();
  for (const auto& c : commands) {
    EXPECT_GE(c.value("durationMs", -1), 0) << c.dump();
    EXPECT_FALSE(c.value("command", "").empty()) << c.dump();
  }
  std::string log;
  ASSERT_TRUE(ReadFile(home + "/logs/debug.log", &log));
  EXPECT_TRUE(std::regex_search(
      log, std::regex("Command \\[.*\\] exit code \\[0\\] took \\[[0-9]+\\] ms")));

  // An open job row whose lock nobody holds is a job whose process died: the
  // history shows it as interrupted beside the jobs that ended.
  Ok(w, home, {"config", "set", "--setting", "Host", "physicalMachine", "jobhost"});
  ASSERT_NO_FATAL_FAILURE(ExecSql(home + "/host.db",
                                  "INSERT INTO catalog_jobs(job_id, operation, snapshot_id,"
                                  " started, pid, host) VALUES(4711, 'revert', 7, 1000, 1,"
                                  " 'jobhost')"));
  Result jobs = Ok(w, home, {"jobs"});
  ExpectDocument(jobs, 0);
  std::map<long long, nlohmann::json> byId;
  for (const auto& j : jobs.json["jobs"]) byId[j.value("jobId", 0LL)] = j;
  EXPECT_EQ("succeeded", byId[mount.json["jobId"].get<long long>()].value("outcome", ""));
  ASSERT_TRUE(byId.count(4711)) << jobs.Describe();
  EXPECT_EQ("interrupted", byId[4711].value("outcome", ""));
  EXPECT_TRUE(byId[4711].value("interrupted", false));
  EXPECT_EQ("revert", byId[4711].value("operation", ""));
  EXPECT_EQ(7, byId[4711].value("snapshotId", 0));
  Result text = w.Pzhost(home, {"jobs"}, false);
  EXPECT_TRUE(std::regex_search(text.out, std::regex("4711 +revert +snapshot 7 .*interrupted")))
      << text.Describe();
}

// A backup with --post-snap establishes once, in the post-snap call; a
// device the plug-in cannot snap is answered by the exit code of supported.
TEST(Verb, PostSnapBackupEstablishesOnceAndSupportedAnswersByExitCode) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result backup = Ok(w, home, {"backup", "--post-snap", w.Source(0)});
  EXPECT_EQ(5, Devices(backup)[0]["status"].get<int>());
  int establish = 0;
  for (const auto& row : w.Symsim({"audit", "--json"}).json)
    for (const auto& a : row.value("args", nlohmann::json::array()))
      establish += a.is_string() && a.get<std::string>() == "establish";
  EXPECT_EQ(1, establish) << "prepare, then post-snap; never both";

  Ok(w, home, {"supported", w.Source(0)});
  Result no = w.Pzhost(home, {"supported", "symsim:" + w.host() + ":nothing"});
  EXPECT_EQ(1, no.exitCode);
  EXPECT_FALSE(no.json.value("supported", true));
}

TEST(Verb, ConfigScopesAreKeptApartAndNoValueReadsBackAsAnotherSetting) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  std::string before, after;
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &before));
  Result set = w.Pzhost(home, {"config", "set", "--setting", "Host", "k",
                               "1\n[EventManager]\nSYMAPI_HOME_DIR = /elsewhere"});
  EXPECT_EQ(1, set.exitCode) << set.Describe();
  Result init = w.Pzhost(home, {"init", "--symcli-home", w.world(), "--client-name",
                                "c\n[Host]\nsimulatedHost = other"});
  EXPECT_EQ(1, init.exitCode) << init.Describe();
  EXPECT_TRUE(Contains(init.err, "cannot store [Host] clientName")) << init.err;
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &after));
  EXPECT_EQ(before, after);

  const std::vector<std::string> key = {"--setting", "~Fieldunit", "nSymmMountRetryAttempts"};
  auto config = [&](const std::string& verb, std::vector<std::string> args) {
    args.insert(args.begin(), {"config", verb});
    return w.Pzhost(home, args);
  };
  EXPECT_EQ(0, config("set", {key[0], key[1], key[2], "2"}).exitCode);
  EXPECT_EQ("2", config("get", key).json.value(key[2], ""));
  EXPECT_EQ(1, config("get", {"--snap", key[2]}).exitCode);
  EXPECT_EQ(1, config("get", {key[2]}).exitCode) << "a scope is required";
  ASSERT_TRUE(ReadFile(home + "/settings.ini", &after));
  EXPECT_TRUE(Contains(after, "[~Fieldunit]"));
  EXPECT_EQ(0, config("unset", key).exitCode);
  EXPECT_EQ(1, config("unset", key).exitCode);
  EXPECT_EQ(w.demo().value("targetStorageGroup", ""),
            config("list", {"--snap"}).json["config"]["snap"].value(
                "SMCONFIG_LINK_DEVICE_STORAGE_GROUP", ""));
}

TEST(Verb, InitStoresTheSymcliHomeAsAnAbsolutePath) {
  World w;
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  std::string home = w.dir() + "/rel";
  Ok(w, home, {"init", "--symcli-home", "some/world/"});
  Result get = w.Pzhost(home, {"config", "get", "--setting", "EventManager",
                               "SYMAPI_HOME_DIR"});
  EXPECT_EQ(std::string(cwd) + "/some/world", get.json.value("SYMAPI_HOME_DIR", ""))
      << "a job started from another directory must find the same tools";
}

}  // namespace
}  // namespace e2e
