// pzhost killed (SIGKILL) at every tool invocation of backup, mount,
// unmount, revert and delete, with the tool killed as well, once before the
// tool changes the array and once after; and killed during every fixed wait.
// The catalog must then name everything the array holds for the job, `list`
// must show the job as interrupted, and the recovery the documentation names
// (the same or the reverse verb, then a reservation reconcile) must leave
// array, reservations and catalog clean.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/hardening/OperationFixture.h"
#include "tests/support/E2eWorld.h"

extern char** environ;

namespace e2e {
namespace {

using nlohmann::json;

constexpr int kExitSuccess = 0;
constexpr int kHangSeconds = 60;
constexpr int kPollMs = 10;
constexpr int kStrikeTimeoutMs = 30000;
// Fixed waits run for real in the wait runs, scaled down: 10 s is 300 ms.
constexpr const char* kWaitScale = "0.03";
constexpr const char* kWaitLine = "SleepMs: Waiting [";

// Every process of the session `sid` (pzhost and the tools it started in
// their own process groups).
std::vector<pid_t> SessionMembers(pid_t sid) {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (dirent* e = readdir(proc)) {
    pid_t pid = atoi(e->d_name);
    if (pid <= 0) continue;
    // A process may end while it is read: plain reads, no exceptions.
    std::string stat;
    int fd = ::open(("/proc/" + std::string(e->d_name) + "/stat").c_str(),
                    O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0) continue;
    stat.assign(buf, size_t(n));
    // After "pid (comm) " come state, ppid, pgrp, session.
    size_t close = stat.rfind(')');
    int session = 0;
    if (close != std::string::npos &&
        sscanf(stat.c_str() + close + 1, " %*c %*d %*d %d", &session) == 1 && session == sid)
      pids.push_back(pid);
  }
  closedir(proc);
  return pids;
}

// pzhost in a session of its own, so that it and every tool it runs can be
// killed at once, as a crash of the host would.
class Job {
 public:
  explicit Job(const std::vector<std::string>& argv) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  ~Job() { Kill(); }
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The exit code within `timeoutMs`, or -1.
  int Wait(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += kPollMs) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return -1;
  }
  bool Exited() {
    if (pid_ <= 0 || reaped_) return true;
    int status;
    reaped_ = waitpid(pid_, &status, WNOHANG) == pid_;
    return reaped_;
  }
  void Kill() {
    if (pid_ <= 0) return;
    for (pid_t p : SessionMembers(pid_)) kill(p, SIGKILL);
    if (!reaped_) {
      int status;
      waitpid(pid_, &status, 0);
      reaped_ = true;
    }
    // Tools reparented away may still be on their way down.
    for (int i = 0; i < 500 && !SessionMembers(pid_).empty(); ++i) {
      for (pid_t p : SessionMembers(pid_)) kill(p, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

class CrashAtEveryStep : public OperationFixture {
 protected:
  // Fixed waits run for real (scaled), so a kill can land in one.
  void ConfigureHome() override {
    ASSERT_EQ(0, w_.Pzhost(home_, {"config", "set", "--setting", "Host",
                                   "sleepScale", kWaitScale}).exitCode);
  }

  std::unique_ptr<Job> Start(const std::string& verb) {
    std::vector<std::string> argv = {PzhostPath(), "--home", home_, "--json"};
    for (const std::string& a : VerbArgs(verb)) argv.push_back(a);
    return std::make_unique<Job>(argv);
  }

  size_t WaitLines() {
    std::string log;
    ReadFile(home_ + "/logs/debug.log", &log);
    size_t n = 0;
    for (size_t at = log.find(kWaitLine); at != std::string::npos;
         at = log.find(kWaitLine, at + 1))
      ++n;
    return n;
  }

  // After the kill: the catalog knows the job was interrupted and names
  // every snapshot and link the array holds.
  void ExpectCatalogNamesArray(const std::string& label) {
    json array = Array();
    json catalog = Catalog();
    std::set<std::string> names, mountedNames;
    bool interrupted = false;
    for (const json& s : catalog) {
      names.insert(s["name"].get<std::string>());
      interrupted |= s.contains("interrupted");
      for (const json& d : s["devices"])
        if (d.value("mounted", false)) mountedNames.insert(s["name"]);
      if (id_ == 0) id_ = s["id"].get<int>();
    }
    EXPECT_TRUE(catalog.empty() || interrupted)
        << label << ": the killed job is not shown as interrupted\n"
        << catalog.dump();
    for (const json& s : array["snapshots"])
      EXPECT_TRUE(names.count(s["name"])) << label << ": snapshot " << s["name"]
                                          << " is on the array but not in the catalog";
    for (const json& l : array["links"])
      EXPECT_TRUE(mountedNames.count(l["snapshot"]))
          << label << ": link to " << l["target"] << " is not a mount the catalog knows";
  }

  // Runs the operation and kills it, with every tool it started, once
  // `ready` holds (checked every `pollMs`).
  void KillWhen(const std::function<bool()>& ready, int pollMs) {
    std::unique_ptr<Job> job = Start(GetParam().verb);
    ASSERT_TRUE(job->started());
    for (int waited = 0; !ready() && !job->Exited() && waited < kStrikeTimeoutMs;
         waited += pollMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    ASSERT_TRUE(ready()) << "the kill point never came";
    job->Kill();
  }
};

TEST_P(CrashAtEveryStep, EveryKillPointRecoversClean) {
  const Operation& op = GetParam();
  const int startId = id_;
  // The clean run counts the invocations and the fixed waits.
  size_t waitsBefore = WaitLines();
  Result clean = Run(op.verb);
  ASSERT_EQ(kExitSuccess, clean.exitCode) << clean.Describe();
  const size_t waits = WaitLines() - waitsBefore;
  Result audit = w_.Symsim({"audit", "--json"});
  ASSERT_TRUE(audit.json.is_array());
  const int invocations = int(audit.json.size());
  const size_t restores = Array()["restores"].size();

  int tried = 0, clean_ = 0;
  auto failures = [] {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()
        ->total_part_count();
  };
  auto judge = [&](const std::string& label) {
    ++tried;
    int before = failures();
    ExpectCatalogNamesArray(label);
    RecoverAndExpectClean(label, restores);
    if (failures() == before) ++clean_;
  };

  for (int k = 1; k <= invocations; ++k)
    for (bool after : {false, true}) {
      const std::string label = op.verb + ": killed at invocation " +
                                std::to_string(k) + " of " +
                                std::to_string(invocations) +
                                (after ? " after" : " before") + " its change";
      SCOPED_TRACE(label);
      Restore();
      id_ = startId;
      std::vector<std::string> fault = {"fault", "add", "--nth", std::to_string(k),
                                        "--hang", std::to_string(kHangSeconds)};
      if (after) fault.push_back("--after");
      ASSERT_EQ(0, w_.Symsim(fault).exitCode);
      ASSERT_NO_FATAL_FAILURE(KillWhen([&] { return Struck(); }, kPollMs));
      ASSERT_EQ(0, w_.Symsim({"fault", "clear"}).exitCode);
      judge(label);
      if (HasFatalFailure()) return;
    }

  for (size_t n = 1; n <= waits; ++n) {
    const std::string label = op.verb + ": killed in fixed wait " +
                              std::to_string(n) + " of " + std::to_string(waits);
    SCOPED_TRACE(label);
    Restore();
    id_ = startId;
    size_t base = WaitLines();
    ASSERT_NO_FATAL_FAILURE(KillWhen([&] { return WaitLines() >= base + n; }, 1));
    judge(label);
    if (HasFatalFailure()) return;
  }
  std::cout << op.verb << ": " << clean_ << " of " << tried
            << " kill points ended clean (" << invocations << " invocations x 2, "
            << waits << " waits)" << std::endl;
  EXPECT_EQ(tried, clean_);
}

// Ctrl-C (SIGINT to pzhost's process group) while a tool hangs: the tool,
// in a process group of its own, gets the signal too; pzhost waits for it
// with a bound, stores the outcome and exits with 130; no tool is left and
// the catalog names what the array holds, so an unmount cleans up.
using Interrupt = CrashAtEveryStep;

TEST_P(Interrupt, DuringAHungToolStopsEverythingAndKeepsTheRecord) {
  constexpr int kExitInterrupted = 130;
  constexpr int kBoundMs = 20000;
  for (const char* pattern : {" link ", " addall "}) {
    SCOPED_TRACE(pattern);
    Restore();
    id_ = 0;
    id_ = World::SnapshotId(Run("backup"));
    ASSERT_GT(id_, 0);
    ASSERT_EQ(0, w_.Symsim({"fault", "add", "--pattern", pattern, "--hang",
                            std::to_string(kHangSeconds), "--after"}).exitCode);
    Job job({PzhostPath(), "--home", home_, "mount", std::to_string(id_)});
    ASSERT_TRUE(job.started());
    for (int waited = 0; !Struck() && waited < kStrikeTimeoutMs; waited += kPollMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    ASSERT_TRUE(Struck());
    ASSERT_EQ(0, kill(-job.pid(), SIGINT));
    EXPECT_EQ(kExitInterrupted, job.Wait(kBoundMs));
    EXPECT_TRUE(SessionMembers(job.pid()).empty()) << "a tool outlived pzhost";
    ASSERT_EQ(0, w_.Symsim({"fault", "clear"}).exitCode);
    json catalog = Catalog();
    ASSERT_EQ(1u, catalog.size());
    bool mounted = false;
    for (const json& d : catalog[0]["devices"]) mounted |= d.value("mounted", false);
    EXPECT_TRUE(mounted) << "the link is on the array: the catalog must know it";
    EXPECT_FALSE(catalog[0].contains("interrupted"))
        << "a job stopped by a signal records its end";
    Result unmount = Run("unmount");
    EXPECT_EQ(kExitSuccess, unmount.exitCode) << unmount.Describe();
    ExpectClean(pattern, true, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Mount, Interrupt,
                         ::testing::Values(Operation{"mount", {}, "unmount", true}));

INSTANTIATE_TEST_SUITE_P(Operations, CrashAtEveryStep, ::testing::ValuesIn(Operations()),
                         VerbName);

}  // namespace
}  // namespace e2e
