#include "hostruntime/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace

void RunChildProcess(const ProcessSpec& spec, ProcessOutcome* out) {
  *out = ProcessOutcome();
  if (spec.argv.empty()) {
    out->startError = "empty command line";
    return;
  }
  int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0) {
    out->startError = std::string("pipe: ") + strerror(errno);
    for (int* p : {inPipe, outPipe, errPipe}) {
      CloseFd(p[0]);
      CloseFd(p[1]);
    }
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
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
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  CloseFd(inPipe[0]);
  CloseFd(outPipe[1]);
  CloseFd(errPipe[1]);
  if (rc != 0) {
    out->startError = std::string(spec.argv[0]) + ": " + strerror(rc);
    CloseFd(inPipe[1]);
    CloseFd(outPipe[0]);
    CloseFd(errPipe[0]);
    return;
  }
  out->started = true;

  const std::string* input = spec.input;
  size_t inputOffset = 0;
  if (!input || input->empty()) CloseFd(inPipe[1]);
  else fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  const int64_t deadline =
      spec.timeoutMs > 0 ? MonotonicMs() + spec.timeoutMs : 0;
  char buf[65536];
  while (outPipe[0] >= 0 || errPipe[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outPipe[0] >= 0) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
    if (errPipe[0] >= 0) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
    if (inPipe[1] >= 0) { fds[n] = {inPipe[1], POLLOUT, 0}; inIdx = n++; }
    int waitMs = -1;
    if (deadline) {
      int64_t left = deadline - MonotonicMs();
      if (left <= 0) {
        out->killedAtLimit = true;
        kill(-pid, SIGKILL);
        break;
      }
      waitMs = int(left);
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
    drain(outIdx, outPipe[0], out->output);
    drain(errIdx, errPipe[0], out->error);
    if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(inPipe[1], input->data() + inputOffset,
                          input->size() - inputOffset);
      if (put > 0) inputOffset += size_t(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) ||
          inputOffset >= input->size())
        CloseFd(inPipe[1]);
    }
  }
  CloseFd(inPipe[1]);
  CloseFd(outPipe[0]);
  CloseFd(errPipe[0]);

  int status = 0;
  while (true) {
    pid_t w = waitpid(pid, &status, out->killedAtLimit ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) { status = 0; break; }
    if (w == 0) {
      // Outputs closed but the child lives on: wait within the limit.
      if (deadline && MonotonicMs() >= deadline) {
        out->killedAtLimit = true;
        kill(-pid, SIGKILL);
        continue;
      }
      struct timespec nap = {0, 2 * 1000 * 1000};
      nanosleep(&nap, nullptr);
    }
  }
  if (out->killedAtLimit) kill(-pid, SIGKILL);  // descendants of the group
  if (WIFEXITED(status)) out->exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) out->exitCode = 128 + WTERMSIG(status);
}

}  // namespace hostrt
