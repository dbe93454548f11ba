#include "pzhost/Locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pzhost {

namespace {

constexpr int kLockFileMode = 0600;
constexpr size_t kMaxLockText = 512;

int OpenLockFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                kLockFileMode);
}

}  // namespace

HeldLock::~HeldLock() { Release(); }

HeldLock::HeldLock(HeldLock&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

HeldLock& HeldLock::operator=(HeldLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool HeldLock::TryTake(const std::string& path, HeldLock* lock, bool* busy,
                       std::string* error) {
  *busy = false;
  ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
  int fd = OpenLockFile(path);
  if (fd < 0) {
    if (error) *error = "cannot open the lock " + path + ": " + strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int saved = errno;
    ::close(fd);
    if (saved == EWOULDBLOCK) {
      *busy = true;
    } else if (error) {
      *error = "cannot take the lock " + path + ": " + strerror(saved);
    }
    return false;
  }
  lock->Release();
  lock->fd_ = fd;
  lock->path_ = path;
  return true;
}

bool HeldLock::SetText(const std::string& text, std::string* error) {
  if (fd_ < 0) return false;
  if (::ftruncate(fd_, 0) != 0 ||
      ::pwrite(fd_, text.data(), text.size(), 0) != ssize_t(text.size())) {
    if (error) *error = "cannot write the lock " + path_ + ": " + strerror(errno);
    return false;
  }
  return true;
}

void HeldLock::Release(bool remove) {
  if (fd_ < 0) return;
  if (remove) ::unlink(path_.c_str());
  ::close(fd_);  // drops the flock
  fd_ = -1;
}

std::string LocksDir(const std::string& homeDir) { return homeDir + "/locks"; }

std::string JobLockPath(const std::string& homeDir, long long jobId) {
  return LocksDir(homeDir) + "/job-" + std::to_string(jobId) + ".lock";
}

std::string SnapshotLockPath(const std::string& homeDir, int snapshotId) {
  return LocksDir(homeDir) + "/snapshot-" + std::to_string(snapshotId) + ".lock";
}

bool IsLockHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

std::string LockText(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::string();
  char buf[kMaxLockText];
  ssize_t n = ::pread(fd, buf, sizeof buf, 0);
  ::close(fd);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

}  // namespace pzhost
