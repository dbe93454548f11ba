// Command-line conventions of the programs, progress on standard error and
// the job history.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <regex>

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
      {none, {"list"}, kFailed, "no pzhost home"},
      {home, {"mount", "999"}, kFailed, "no snapshot 999"},
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
  struct Program {
    std::string path;
    std::string name;
  } programs[] = {{PzhostPath(), "pzhost"},
                  {SymsimPath(), "symsim"},
                  {std::string(PZ_BINARY_DIR) + "/pzarray/pzarray", "pzarray"}};
  for (const Program& p : programs) {
    SCOPED_TRACE(p.name);
    Result version = RunProgram({p.path, "--version"});
    EXPECT_EQ(0, version.exitCode) << version.Describe();
    EXPECT_EQ(0u, version.out.find(p.name + " ")) << version.Describe();
    EXPECT_EQ(kUsage, RunProgram({p.path, "--no-such-option"}).exitCode);
  }
}

// A mount with its fixed rescan wait made short: the wait is announced on
// standard error with its length and purpose, each step with its time, the
// document stays clean, and the job's commands form its timeline.
TEST(Conventions, MountShowsProgressAndItsJobTimeline) {
  if (!PluginReady()) GTEST_SKIP() << kPluginNotReady;
  World w;
  std::string home = w.MakeHome("h", w.host());
  Result backup = w.Pzhost(home, {"backup", w.Source(0)});
  ASSERT_EQ(0, backup.exitCode) << backup.Describe();
  ASSERT_EQ(0, w.Pzhost(home, {"config", "set", "--setting", "Host",
                               "sleepScale", "0.001"}).exitCode);
  Result mount = w.Pzhost(home, {"mount", std::to_string(World::SnapshotId(backup))});
  ASSERT_EQ(0, mount.exitCode) << mount.Describe();
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

  Result job = w.Pzhost(home, {"jobs", std::to_string(mount.json["jobId"].get<long long>())});
  ASSERT_EQ(0, job.exitCode) << job.Describe();
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
  EXPECT_TRUE(std::regex_search(log, std::regex("Command \\[.*\\] exit code \\[0\\] took \\[[0-9]+\\] ms")));
}

// An open job row whose lock nobody holds is a job whose process died: the
// history shows it as interrupted beside the jobs that ended.
TEST(Conventions, JobsShowsAnInterruptedJob) {
  World w;
  std::string home = w.MakeHome("h", w.host());
  ASSERT_EQ(0, w.Pzhost(home, {"config", "set", "--setting", "Host",
                               "physicalMachine", "jobhost"}).exitCode);
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((home + "/host.db").c_str(), &db));
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(db,
                         "INSERT INTO catalog_jobs(job_id, operation, snapshot_id,"
                         " started, pid, host) VALUES(4711, 'revert', 7, 1000, 1, 'jobhost')",
                         nullptr, nullptr, nullptr));
  sqlite3_close(db);
  Result jobs = w.Pzhost(home, {"jobs"});
  ASSERT_EQ(0, jobs.exitCode) << jobs.Describe();
  ExpectDocument(jobs, 0);
  bool seen = false;
  for (const auto& j : jobs.json["jobs"]) {
    if (j.value("jobId", 0LL) != 4711) continue;
    seen = true;
    EXPECT_EQ("interrupted", j.value("outcome", ""));
    EXPECT_TRUE(j.value("interrupted", false));
    EXPECT_EQ("revert", j.value("operation", ""));
    EXPECT_EQ(7, j.value("snapshotId", 0));
  }
  EXPECT_TRUE(seen) << jobs.Describe();
  Result text = w.Pzhost(home, {"jobs"}, false);
  EXPECT_TRUE(std::regex_search(text.out, std::regex("4711 +revert +snapshot 7 .*interrupted")))
      << text.Describe();
}

}  // namespace
}  // namespace e2e
