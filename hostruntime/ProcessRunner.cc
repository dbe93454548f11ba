#include "hostruntime/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace hostrt {

bool SplitCommandLine(const std::string& line, std::vector<std::string>* argv,
                      std::string* error) {
  argv->clear();
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size() &&
          (line[i + 1] == '"' || line[i + 1] == '\\')) {
        word += line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = true;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) argv->push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) {
    if (error) *error = "unterminated quote in command line";
    argv->clear();
    return false;
  }
  if (inWord) argv->push_back(word);
  return true;
}

namespace {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Process groups of the tools running now, for the signal handler; a slot
// holds 0 when free. Lock-free atomics keep the handler async-signal-safe.
constexpr int kGroupSlots = 64;
std::atomic<pid_t> g_groups[kGroupSlots];
std::atomic<int> g_cancelSignal{0};
// Longest nap while waiting, so a cancel is seen soon even when the signal
// was delivered to another thread.
constexpr int kPollSliceMs = 100;

int TakeSlot(pid_t group) {
  for (int i = 0; i < kGroupSlots; ++i) {
    pid_t expected = 0;
    if (g_groups[i].compare_exchange_strong(expected, group)) return i;
  }
  return -1;  // more tools than slots: the grace kill still stops it
}

void ReleaseSlot(int slot) {
  if (slot >= 0) g_groups[slot].store(0);
}

// Tracks the cancel of one running tool: the signal reached its group when
// the cancel came; SIGKILL follows after the grace period.
struct CancelWatch {
  pid_t pid;
  int64_t since = 0;
  bool Check(ProcessOutcome* out) {
    if (CancelSignal() == 0) return false;
    int64_t now = MonotonicMs();
    if (!out->cancelled) {
      out->cancelled = true;
      since = now;
      kill(-pid, CancelSignal());  // in case it started after the handler ran
    } else if (now - since >= kCancelGraceMs) {
      kill(-pid, SIGKILL);
    }
    return true;
  }
};

}  // namespace

void CancelProcesses(int signal) {
  int none = 0;
  g_cancelSignal.compare_exchange_strong(none, signal);
  for (int i = 0; i < kGroupSlots; ++i) {
    pid_t group = g_groups[i].load();
    if (group > 0) kill(-group, signal);
  }
}

int CancelSignal() { return g_cancelSignal.load(); }

void ResetCancel() { g_cancelSignal.store(0); }

void SleepCancellable(int64_t ms) {
  const int64_t end = MonotonicMs() + ms;
  while (CancelSignal() == 0) {
    int64_t left = end - MonotonicMs();
    if (left <= 0) return;
    int64_t nap = left < kPollSliceMs ? left : kPollSliceMs;
    timespec ts = {time_t(nap / 1000), long(nap % 1000) * 1000000};
    nanosleep(&ts, nullptr);
  }
}

namespace {

// The child's standard input, output and error.
struct ChildPipes {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
};

// Starts `spec` in a process group of its own with the pipes as its
// standard streams; the child's ends are closed here. False (with
// out->startError, every pipe closed) when it could not be started.
bool SpawnChild(const ProcessSpec& spec, ChildPipes& p, pid_t* pid, ProcessOutcome* out) {
  if (pipe2(p.in, O_CLOEXEC) != 0 || pipe2(p.out, O_CLOEXEC) != 0 ||
      pipe2(p.err, O_CLOEXEC) != 0) {
    out->startError = std::string("pipe: ") + strerror(errno);
    for (int* fds : {p.in, p.out, p.err}) {
      CloseFd(fds[0]);
      CloseFd(fds[1]);
    }
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, p.in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, p.out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, p.err[1], STDERR_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& a : spec.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int rc = posix_spawnp(pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  CloseFd(p.in[0]);
  CloseFd(p.out[1]);
  CloseFd(p.err[1]);
  if (rc != 0) {
    out->startError = std::string(spec.argv[0]) + ": " + strerror(rc);
    CloseFd(p.in[1]);
    CloseFd(p.out[0]);
    CloseFd(p.err[0]);
    return false;
  }
  return true;
}

// Feeds the input and collects both outputs until the child closes them,
// the time limit passes (the group is killed) or the job is cancelled (the
// watch signals the group). Every pipe is closed on return.
void ExchangeWithChild(const ProcessSpec& spec, ChildPipes& p, pid_t pid,
                       int64_t deadline, CancelWatch& watch, ProcessOutcome* out) {
  const std::string* input = spec.input;
  size_t inputOffset = 0;
  if (!input || input->empty()) CloseFd(p.in[1]);
  else fcntl(p.in[1], F_SETFL, O_NONBLOCK);
  char buf[65536];
  while (p.out[0] >= 0 || p.err[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (p.out[0] >= 0) { fds[n] = {p.out[0], POLLIN, 0}; outIdx = n++; }
    if (p.err[0] >= 0) { fds[n] = {p.err[0], POLLIN, 0}; errIdx = n++; }
    if (p.in[1] >= 0) { fds[n] = {p.in[1], POLLOUT, 0}; inIdx = n++; }
    int waitMs = kPollSliceMs;
    watch.Check(out);
    if (deadline) {
      int64_t left = deadline - MonotonicMs();
      if (left <= 0) {
        out->killedAtLimit = true;
        kill(-pid, SIGKILL);
        break;
      }
      if (left < waitMs) waitMs = int(left);
    }
    int ready = poll(fds, n, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [&](int idx, int& fd, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) sink.append(buf, size_t(got));
      else if (got == 0 || (errno != EINTR && errno != EAGAIN)) CloseFd(fd);
    };
    drain(outIdx, p.out[0], out->output);
    drain(errIdx, p.err[0], out->error);
    if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(p.in[1], input->data() + inputOffset,
                          input->size() - inputOffset);
      if (put > 0) inputOffset += size_t(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) ||
          inputOffset >= input->size())
        CloseFd(p.in[1]);
    }
  }
  CloseFd(p.in[1]);
  CloseFd(p.out[0]);
  CloseFd(p.err[0]);
}

// Waits for the child's exit status within the limit. False when it is lost.
bool ReapChild(const ProcessSpec& spec, pid_t pid, int64_t deadline, CancelWatch& watch,
               ProcessOutcome* out, int* status) {
  while (true) {
    pid_t w = waitpid(pid, status, out->killedAtLimit ? 0 : WNOHANG);
    if (w == pid) return true;
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      // The status is lost (the child was reaped elsewhere, or SIGCHLD is
      // ignored): the command cannot count as a success.
      out->startError = std::string("cannot collect the exit status of ") +
                        spec.argv[0] + ": " + strerror(errno) +
                        (errno == ECHILD ? " (is SIGCHLD ignored?)" : "");
      return false;
    }
    // Outputs closed but the child lives on: wait within the limit.
    if (deadline && MonotonicMs() >= deadline) {
      out->killedAtLimit = true;
      kill(-pid, SIGKILL);
      continue;
    }
    watch.Check(out);
    struct timespec nap = {0, 2 * 1000 * 1000};
    nanosleep(&nap, nullptr);
  }
}

}  // namespace

void RunChildProcess(const ProcessSpec& spec, ProcessOutcome* out) {
  *out = ProcessOutcome();
  if (spec.argv.empty()) {
    out->startError = "empty command line";
    return;
  }
  if (int sig = CancelSignal()) {
    out->cancelled = true;
    out->startError = std::string("not started: the job was stopped by ") +
                      strsignal(sig);
    return;
  }
  ChildPipes pipes;
  pid_t pid = -1;
  if (!SpawnChild(spec, pipes, &pid, out)) return;
  out->started = true;
  int slot = TakeSlot(pid);
  CancelWatch watch{pid};
  const int64_t deadline =
      spec.timeoutMs > 0 ? MonotonicMs() + spec.timeoutMs : 0;
  ExchangeWithChild(spec, pipes, pid, deadline, watch, out);
  int status = 0;
  bool reaped = ReapChild(spec, pid, deadline, watch, out, &status);
  // A job stopping while the tool ran: whatever the tool answered, the
  // caller must know it was cut short.
  if (CancelSignal() != 0) out->cancelled = true;
  // Descendants of the group go with it.
  if (out->killedAtLimit || out->cancelled) kill(-pid, SIGKILL);
  ReleaseSlot(slot);
  if (!reaped) out->exitCode = -1;
  else if (WIFEXITED(status)) out->exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) out->exitCode = 128 + WTERMSIG(status);
}

}  // namespace hostrt
