#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "host/HostServices.h"
#include "hostruntime/Env.h"
#include "hostruntime/ProcessRunner.h"
#include "hostruntime/Settings.h"
#include "tests/support/FakeEnv.h"

using hostrt::SplitCommandLine;

TEST(SplitCommandLine, QuotesGroupWordsAndMetacharactersStayOrdinary) {
  std::vector<std::string> argv;
  ASSERT_TRUE(SplitCommandLine(
      " \"/opt/emc/SYMCLI/bin/symsnapvx\" -sid  0001 -name a;b|c$(x)`y` >z",
      &argv, nullptr));
  std::vector<std::string> want = {"/opt/emc/SYMCLI/bin/symsnapvx", "-sid",
                                   "0001", "-name", "a;b|c$(x)`y`", ">z"};
  EXPECT_EQ(argv, want);
  ASSERT_TRUE(SplitCommandLine("a \"b c\"d \"\" \"e\\\"f\"", &argv, nullptr));
  want = {"a", "b cd", "", "e\"f"};
  EXPECT_EQ(argv, want);
  std::string error;
  EXPECT_FALSE(SplitCommandLine("a \"open", &argv, &error));
  EXPECT_FALSE(error.empty());
}

// The real runner with settings from a fake environment.
class PzProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { env.realProcesses = env.realFiles = true; }
  testing_host::FakeEnv env;
  hostrt::ScopedEnv scope{&env};
  PzProcess p;
  std::string out, err;
};

TEST_F(PzProcessTest, MetacharactersNeverReachAShell) {
  char dir[] = "/tmp/pzrunnerXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string canary = std::string(dir) + "/canary";
  int rc = p.system("/bin/echo x; touch " + canary + " && touch " + canary +
                        " | touch " + canary + " $(touch " + canary + ") `touch " +
                        canary + "`",
                    &out, &err, 0, false);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(access(canary.c_str(), F_OK), 0);
  EXPECT_EQ(out.substr(0, 4), "x; t");
  rmdir(dir);
}

TEST_F(PzProcessTest, CapturesLargeOutputsTogetherAndFeedsInput) {
  // 8 MiB to each stream: a runner that reads them one after the other
  // deadlocks on full pipes.
  int rc = p.system("/usr/bin/perl -e \"print STDERR 'e' x 8388608; print 'o' x 8388608; exit 3\"",
                    &out, &err, 0, false);
  EXPECT_EQ(rc, 3);
  EXPECT_EQ(out.size(), 8388608u);
  EXPECT_EQ(err.size(), 8388608u);
  std::string input(3 << 20, 'i');
  rc = p.run("/usr/bin/wc -c", &input, &out, &err, 0);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::stoul(out), input.size());
}

TEST_F(PzProcessTest, UnstartableProgramGivesMinusOne) {
  EXPECT_EQ(p.system("/nonexistent/program -x", &out, &err, 0, false), -1);
  EXPECT_NE(err.find("/nonexistent/program"), std::string::npos);
  EXPECT_EQ(p.system("   ", &out, &err, 0, false), -1);
}

TEST_F(PzProcessTest, TimeLimitKillsTheProcessGroupAndSaysSo) {
  env.Set("~Fieldunit", "nSymCliTimeoutMs", "200");
  // The forked child holds the pipes open too: the whole group dies.
  int rc = p.system("/usr/bin/perl -e \"fork; sleep 30\"", &out, &err, 0, false);
  EXPECT_EQ(rc, 128 + 9);
  EXPECT_TRUE(p.killedAtLimit());
  EXPECT_TRUE(env.hasLogContaining("was killed at its time limit of [200] ms"));
  EXPECT_EQ(hostrt::CommandTimeLimitMs(), 200);
}

// With SIGCHLD ignored (as some hosts run) the kernel reaps children at
// once and the exit status is gone: a failing tool must not read as exit 0.
TEST_F(PzProcessTest, LostExitStatusIsAFailureNotSuccess) {
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &previous);
  int failing = p.system("/bin/false", &out, &err, 0, false);
  int passing = p.system("/bin/true", &out, &err, 0, false);
  sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_NE(failing, 0);
  EXPECT_NE(passing, 0) << "an uncollected status cannot count as success";
  EXPECT_NE(err.find("SIGCHLD"), std::string::npos) << err;
}

// A stop signal reaches the running tool's process group; the tool is
// killed after the grace period if it ignores it; no tool starts after. The
// signal goes once the tool has written its start mark.
TEST(ProcessRunner, CancelStopsTheRunningToolAndRefusesNewOnes) {
  char dir[] = "/tmp/pzcancelXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string mark = std::string(dir) + "/started";
  // The second tool ignores the signal, and so does the child it forks.
  for (const std::string ignore : {"", "$SIG{TERM} = 'IGNORE'; fork; "}) {
    SCOPED_TRACE(ignore);
    hostrt::ResetCancel();
    unlink(mark.c_str());
    hostrt::ProcessSpec spec;
    spec.argv = {"/usr/bin/perl", "-e", ignore + "open(F, '>', $ARGV[0]); close F; sleep 30",
                 mark};
    hostrt::ProcessOutcome out;
    std::thread stopper([&] {
      auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (access(mark.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
      hostrt::CancelProcesses(SIGTERM);
    });
    auto start = std::chrono::steady_clock::now();
    hostrt::RunChildProcess(spec, &out);
    auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(access(mark.c_str(), F_OK), 0) << "the tool never started";
    EXPECT_TRUE(out.cancelled);
    EXPECT_NE(out.exitCode, 0);
    // Bounded by the grace period, far below the tool's 30 s.
    EXPECT_LT(took, std::chrono::milliseconds(hostrt::kCancelGraceMs + 5000));
    hostrt::ProcessOutcome next;
    hostrt::RunChildProcess(spec, &next);
    EXPECT_FALSE(next.started);
    EXPECT_TRUE(next.cancelled);
  }
  hostrt::ResetCancel();
  unlink(mark.c_str());
  rmdir(dir);
}
